#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

class QAction;
class QLabel;
class QProgressBar;
class QStackedWidget;
class QToolBar;
class QToolButton;

// The main window's toolbar: a widget built from a toolbar description file
// in the program directory. Each press of one of its buttons is reported as
// a command string with an argument; the program sets named variables that
// update the text and progress slots bound to them.
//
// TOOLBAR DESCRIPTION FILES
//
// A description file is a UTF-8 JSON document (whatever its file name):
//
//   {
//     "format": "tessel-toolbar",          required, exactly this
//     "version": 1,                        required, 1
//     "dragCommand": "IDC_FS_drag",        optional: sent when the empty
//                                          toolbar background is pressed
//     "pages": [ page, ... ]               required, at least one; the
//   }                                      first is shown at start
//
//   page:  { "name": "main",               required, unique
//            "layout": "row",              "row" (default): items side by
//                                          side in tool bars; "column":
//                                          items centred one below the
//                                          other, the page takes the room
//                                          it is given (an about page)
//            "items": [ item, ... ] }      required
//
//   item, by "type":
//     "button"     { "icon", "text", "tooltip", "command", "argument",
//                    "shortcut", "page", "showText" }
//                  command: the command string sent (required unless page
//                  is given); argument: sent with it (default "");
//                  icon: a built-in icon name (see resources/icons) or a
//                  path of an .svg or .png file relative to the description
//                  file; text: the caption under the icon; tooltip: the
//                  tooltip (default text), the shortcut is appended to it;
//                  shortcut: a key sequence such as "Ctrl+N", active in the
//                  window while the page is shown; page: the page shown
//                  after the press; showText: false shows the icon only.
//     "menu"       { "icon", "text", "tooltip", "items": [ entry, ... ] }
//                  a button that opens a menu; each entry is a "button"
//                  item (shown as a menu entry) or a "separator".
//     "text"       { "text", "variable", "values", "style", "width" }
//                  a text slot: shows "text" until the bound variable is
//                  set, then the value; "values" maps a value to the text
//                  shown for it ({"0": "Not connected"}); style: "body"
//                  (default), "title" or "caption"; width: a minimum width
//                  in pixels.
//     "progress"   { "variable", "minimum", "maximum", "width" }
//                  a progress slot (default 0..100): a variable value is
//                  read as a number, rounded and clamped to the range;
//                  a value that is not a number is ignored.
//     "image"      { "icon", "size" } a picture (a program mark), size in
//                  pixels (default 48).
//     "separator", "stretch"   a divider; a flexible gap.
//     "break"      (row pages) starts a new tool bar row below.
//   A menu entry without "type" is a button. Keys not listed (such as a
//   "comment") are ignored.
//
// Buttons take the keyboard focus with Tab (the arrow keys move it on) and
// are pressed with Space. Icons are drawn in the palette's button text
// colour: the SVG's "currentColor" is replaced when the icon is drawn, and
// again whenever the palette changes, so one file reads well on light and
// dark palettes. When a row is too narrow for the captions, its buttons show
// icons only; what still does not fit opens from a "»" button.
//
// A missing, unreadable or malformed file gives a built-in toolbar and no
// message: the built-in copy of the shipped file of the same name
// ("varnodm.swf" or "QFTP.swf"), otherwise a small generic toolbar.
// loadError() tells why the file was not used.
class ToolbarMovie : public QWidget {
    Q_OBJECT

public:
    static constexpr const char *FormatName = "tessel-toolbar";
    static constexpr int FormatVersion = 1;

    explicit ToolbarMovie(QWidget *parent = nullptr);
    ~ToolbarMovie() override;

    // Builds the toolbar from the description file at path. Returns true
    // when the file itself was used; false when a built-in toolbar stands in.
    bool load(const QString &path);
    // Builds the toolbar from a description in memory; baseDir resolves
    // icon paths. On failure the toolbar is left as it was and error (when
    // given) says why.
    bool loadDescription(const QByteArray &json, const QString &baseDir = {},
                         QString *error = nullptr);

    // Whether a built-in toolbar stands in for the file, and why.
    bool isDefault() const { return m_isDefault; }
    QString loadError() const { return m_loadError; }

    // Every command string the toolbar can send, in the order of the file
    // (buttons, menu entries and the drag command), each once.
    QStringList commands() const;
    // Every variable some slot is bound to.
    QStringList variables() const;
    QStringList pages() const;

    QString currentPage() const;
    // Shows the named page; an unknown name changes nothing.
    bool showPage(const QString &name);

    // Updates every slot bound to name. A name no slot is bound to is
    // ignored (returns false).
    bool setVariable(const QString &name, const QString &value);
    // The last value set for a bound variable; empty when never set or
    // unbound.
    QString variable(const QString &name) const;

    // The action of the first button or menu entry that sends command, and
    // the tool button that shows it (nullptr for a menu entry).
    QAction *actionFor(const QString &command) const;
    QToolButton *buttonFor(const QString &command) const;

    QSize sizeHint() const override;

    // Whether the buttons show their captions (false: icons only, because
    // the toolbar is too narrow for them).
    bool captionsShown() const { return m_captionsShown; }

Q_SIGNALS:
    void commandTriggered(const QString &command, const QString &argument);
    void pageChanged(const QString &name);

protected:
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Slot {
        enum Kind { Text, Progress } kind = Text;
        QLabel *label = nullptr;
        QProgressBar *bar = nullptr;
        QHash<QString, QString> values;
    };
    struct IconUse {
        QString source; // built-in name or file path
        int size = 24;
        QAction *action = nullptr;
        QLabel *label = nullptr;
    };
    struct Built;

    void applyBuilt(Built &built);
    void retint();
    void updatePageSizing();
    void fitCaptions();

    QStackedWidget *m_stack = nullptr;
    QStringList m_pageNames;
    QString m_dragCommand;
    QStringList m_commands;
    QHash<QString, QList<Slot>> m_slots;
    QHash<QString, QString> m_values;
    QList<IconUse> m_icons;
    QHash<QString, QAction *> m_actions;
    QHash<QString, QToolButton *> m_buttons;
    QList<QToolBar *> m_toolBars;
    QHash<QToolBar *, QList<QToolButton *>> m_labelledButtons;
    bool m_captionsShown = true;
    bool m_fitting = false;
    QList<bool> m_pageIsColumn;
    bool m_isDefault = false;
    QString m_loadError;
};

// An icon drawn from an SVG with "currentColor" replaced by the given
// colour, for the normal and disabled looks. source is a built-in icon name
// or a file path; an empty icon when it cannot be read.
QIcon tintedToolbarIcon(const QString &source, int size, const QColor &normal,
                        const QColor &disabled);
