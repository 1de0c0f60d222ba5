#pragma once

#include <QFrame>

class FtpConsole;
class QLineEdit;
class QPushButton;

// The custom command panel (frameCustomCommand): a command box whose Enter
// key sends the typed line through the console and empties the box, and a
// "Close" button. The main window shows it in place of its usual frames and
// hides it again on closeRequested.
class CustomCommandPanel : public QFrame {
    Q_OBJECT

public:
    explicit CustomCommandPanel(FtpConsole *console, QWidget *parent = nullptr);

    // Puts the focus into the command box.
    void focusCommand();

    QLineEdit *txtCommand = nullptr;
    QPushButton *cmdCloseCommand = nullptr;

Q_SIGNALS:
    void closeRequested();

private:
    void commandEntered();

    FtpConsole *m_console;
};
