#pragma once

#include "ftpclient/localpaths.h"

#include <QIcon>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

class DesktopShell;
class FileListView;
class Prompts;
class QAction;
class QActionGroup;
class QComboBox;
class QMenu;
class QMimeData;
class QStandardItemModel;
class QToolButton;
class frmFindFiles;

// The left pane of Corvane's window: the path box cboLocalPath with the
// up-level button, and the list lstLocalFileList of one local folder. It owns
// the Local menu (also its right-click menu) and the actions of the Tools
// menu's local entries; the window puts them into its menus and dispatches
// its toolbar commands to the public functions below.
//
// Every path the pane builds ends in "/". Folder rows and combo entries show
// their text in upper case, as the program always has, but keep the real name
// or path in a data role (RealNameRole / RealPathRole); every operation uses
// the real one, and the tooltips show it.
//
// The pane never talks to the FTP component. It tells the window what to do
// by signals: sendItemsRequested for "Upload File(s)" and the confirmed
// double click on a file, statusText / messageLine for StatusBarInfo and
// DisplayMessage.
class LocalPane : public QWidget {
    Q_OBJECT

public:
    struct Services {
        Prompts *prompts = nullptr;
        DesktopShell *shell = nullptr; // opens files with the desktop's program
        QString appTitle = QStringLiteral("Corvane"); // title of untitled message boxes
    };

    // Columns of the list, and the data roles of its rows (column 0).
    enum Column { ColName = 0, ColSize = 1, ColDate = 2, ColKind = 3 };
    enum Role {
        RealNameRole = Qt::UserRole + 1, // QString: the name on disk
        KindRole,                        // int: LocalKind
        LinkRole,                        // bool: the entry is a symbolic link
        RealPathRole = Qt::UserRole + 10 // QString, on cboLocalPath's entries: the real folder
    };

    // The MIME type of a drag of local rows (the window accepts it on the
    // remote pane). Such a drag also offers text/uri-list with file URLs.
    static const QString DragMimeType;

    explicit LocalPane(Services services, QWidget *parent = nullptr);
    ~LocalPane() override;

    // Start-up: lists the drives into the path box, goes to folder (the home
    // folder when empty), lists it and updates the commands.
    void start(const QString &folder = {});

    // The folder shown; always ends in "/".
    QString currentPath() const { return m_strLocalPath; }
    // The selected rows in list order.
    QList<LocalItem> selectedItems() const;
    // Local items carried by data: this pane's drag, or files and folders
    // dragged from the desktop's file manager (text/uri-list of local
    // files). Empty when the data holds neither.
    static QList<LocalItem> itemsFromMimeData(const QMimeData *data);
    // The data a drag of rows carries (DragMimeType and text/uri-list); the
    // caller owns it. Null when rows name no row.
    QMimeData *mimeDataForRows(const QList<int> &rows) const;

    // The commands that would start a component call (Upload) need a
    // connection; while the window is busy with a call, every command that
    // changes the local folder or its contents is disabled too, so a running
    // transfer's folder stays put. Views, Open File and Properties stay live.
    void setConnected(bool connected);
    void setBusy(bool busy);
    bool isConnected() const { return m_connected; }
    bool isBusy() const { return m_busy; }

    // The Local menu (miLocal, "Local"): Refresh, Open File, Upload File(s),
    // Synchronize Directory, Erase, Delete To Recycle Bin, Rename File,
    // Create Folder, Find File(s), Properties, Go up a Directory Level,
    // Directory Filters. "Synchronize Directory" is left disabled and
    // unconnected: the window connects actSynchronize when it has the command.
    QMenu *localMenu() const { return miLocal; }
    // The Tools menu's "Local" sub-menu: the four views, checkable.
    QMenu *viewMenu() const { return miLocalViews; }

    // Session operations of the pane (the window's toolbar commands call these).
    bool ChangeCurrentLocalFolder(const QString &sNewLocalPath);
    void ClearLocalList();
    void RefreshLocalList();
    void refresh() { RefreshLocalList(); }
    void UpdateLocalCommands();
    void GoToTypedPath(const QString &text); // the path box's Enter key
    void UpLevel();                          // cmdUpLocal, "Go up a Directory Level"
    void OpenFile();
    void Erase();
    void DeleteToRecycleBin();
    void RenameFile();
    void CreateFolder();
    void FindFiles();
    void Properties();
    void ShowAllFiles();     // "All Files (*.*)"
    void DefineTypeFilter(); // "DefineTypes (*.?)"
    void EmptyRecycleBin();  // Tools "Empty Local Recycle Bin"
    void setViewMode(int mode);
    int viewMode() const;
    // A double click (or Enter) on row: enter a folder, offer to send a file.
    void activateRow(int row);
    // Shows folder and selects the row of name in it (the find dialog's
    // "show this result's folder").
    bool showInFolder(const QString &folder, const QString &name = {});

    // The controls, as the window's public fields.
    QComboBox *cboLocalPath = nullptr;
    QToolButton *cmdUpLocal = nullptr;
    FileListView *lstLocalFileList = nullptr;
    QStandardItemModel *localModel = nullptr;
    clsLocalPaths *m_xLocalPaths = nullptr;

    QMenu *miLocal = nullptr;
    QMenu *miLocalFilters = nullptr;
    QMenu *miLocalViews = nullptr;
    QAction *actRefresh = nullptr;
    QAction *actOpenFile = nullptr;
    QAction *actUpload = nullptr;      // "Upload File(s)": enabled as the send button cmdSend is
    QAction *actSynchronize = nullptr; // "Synchronize Directory"
    QAction *actErase = nullptr;
    QAction *actRecycle = nullptr;
    QAction *actRename = nullptr;
    QAction *actCreateFolder = nullptr;
    QAction *actFindFiles = nullptr;
    QAction *actProperties = nullptr;
    QAction *actUpLevel = nullptr;
    QAction *actAllFiles = nullptr;
    QAction *actDefineTypes = nullptr;
    QAction *actEmptyRecycleBin = nullptr; // for the Tools menu
    QList<QAction *> actViews;             // "Show Big Icons", "Show Small Icons", "Show List", "Show Report"

signals:
    // Send these local items to the server (Upload File(s), a confirmed
    // double click on a file row).
    void sendItemsRequested(const QList<LocalItem> &items);
    void statusText(const QString &text);  // for StatusBarInfo
    void messageLine(const QString &text); // for DisplayMessage
    void currentPathChanged(const QString &path);
    void viewModeChanged(int mode);

private:
    void buildMenus();
    void addEntry(const LocalEntry &entry);
    QIcon rowIcon(bool folder, bool link);
    void addPathToComboBox(const QString &path, const QString &display);
    int findPathInCombo(const QString &path) const;
    int appendComboEntry(const QString &path, const QString &display);
    bool changeFolder(const QString &sNewLocalPath, const QString &display);
    bool goTo(const QString &path, const QString &display);
    void pathPicked(int index);
    QString rowPath(int row) const;
    QString ShowInputDialog(const QString &prompt, const QString &title, const QString &defaultText);

    Services m_services;
    QString m_strLocalPath;
    bool m_connected = false;
    bool m_busy = false;
    QPointer<frmFindFiles> m_findDialog;
    QIcon m_icons[4]; // file, file link, folder, folder link
};
