#pragma once

#include <QString>

class QWidget;

// The skin: a Qt style sheet loaded from a file in the program directory.
// Windows and controls are registered under element names (kept as the
// widget properties "skinWindow" and "skinElement"), so a sheet selects on
// them, for example  QPushButton[skinElement="Button"] { ... }.
class Skin {
public:
    static constexpr const char *WindowProperty = "skinWindow";
    static constexpr const char *ElementProperty = "skinElement";

    explicit Skin(QString skinFile);

    // Reads the skin file and applies it to the whole application. A missing
    // or unreadable file means no skin; nothing is reported.
    bool load();
    bool isLoaded() const { return m_loaded; }
    QString styleSheet() const { return m_styleSheet; }

    static void registerWindow(QWidget *window, const QString &name);
    static void registerControl(QWidget *control, const QString &element);
    // Re-applies the style to a window and its children after registration.
    static void repolish(QWidget *window);

private:
    QString m_file;
    QString m_styleSheet;
    bool m_loaded = false;
};
