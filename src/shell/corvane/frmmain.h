#pragma once

#include "ftp/ftpsession.h"
#include "ftpclient/localpaths.h"
#include "ftpclient/transfers.h"

#include <QHash>
#include <QList>
#include <QMainWindow>

#include <chrono>
#include <functional>
#include <memory>
#include <utility>

class CRegister;
class DesktopShell;
class FileListView;
class FtpComponent;
class LocalPane;
class Prompts;
class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMimeData;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSplitter;
class QStackedWidget;
class QTimer;
class QToolButton;
class RemoteOps;
class ToolbarMovie;
class Tray;

// Corvane's main window: the toolbar on top, then four panels in one layout
// (the quick-connect bar, the local and remote file lists side by side, the
// connection log, the place of the custom command panel) and the status bar.
// It turns toolbar command strings, menu entries, tray clicks and drops into
// the operations of the panes, drives the one FTP component of the run with
// blocking calls and answers the component's events and questions.
class frmMain : public QMainWindow {
    Q_OBJECT

public:
    struct Services {
        QString programDir;
        QString appTitle = QStringLiteral("Corvane");
        Prompts *prompts = nullptr;
        FtpComponent *xFtp = nullptr;
        CRegister *reg = nullptr; // connection options, auto types, window places
        std::chrono::milliseconds refreshDelay{500}; // tmrRefresh after an abort
        QString localPath;                           // empty: the user's home folder
        DesktopShell *shell = nullptr; // opens files and the user's guide, starts Tessel
        Tray *tray = nullptr;          // null: no tray icon
        QString tesselProgram;         // the download manager's executable
        // The existing-file prompt; empty: the window's own dialog.
        ExistPrompt existPrompt;
        // The permission dialog (the chosen number, nothing on Cancel);
        // empty: the window's own dialog.
        std::function<std::optional<int>(int mode)> chmodPrompt;
        // Milliseconds of a monotonic clock for the rate; empty: steady clock.
        std::function<qint64()> clock;
        // The operations later parts provide. Each is wired in one place
        // (buildMenus); an empty one leaves its menu entry and toolbar
        // command disabled.
        struct Hooks {
            std::function<void()> logMaintenance; // at start-up, before the language
            // Appends a message line to the transfer log; empty: the stand-in
            // file transferLogPath().
            std::function<void(const QString &)> transferLog;
            std::function<void()> options;        // the Options dialog
            std::function<void()> syncRemoteFromLocal;
            std::function<void()> syncLocalFromRemote;
            std::function<void()> customCommand; // shows the custom command panel
            std::function<void()> manualReceive;
            std::function<void()> manualSend;
            // The "FTP Commands" entries, by their text ("HELP", "CWD", ...).
            std::function<void(const QString &)> ftpCommand;
        } hooks;
    };

    // Kinds of remote rows, as the row's icon and fourth column carry them.
    enum RemoteKind { KindNone = 0, KindFile = 1, KindFolder = 2, KindLink = 3 };

    explicit frmMain(Services services, QWidget *parent = nullptr);
    ~frmMain() override;

    // Session fields.
    QString strHost;
    QString strPort;
    QString strUser;
    QString strPassword;
    bool blnAnonymous = false;
    bool blnPassive = false;
    FtpSecurity security = FtpSecurity::Plain;
    QString strLocalPath; // always ends in "/"

    // Reporting.
    void StatusBarInfo(const QString &sMessage);
    void UpdateAction(const QString &sMessage);
    void DisplayMessage(const QString &sMessage);
    int AddMessageLine(QListWidget *list, const QString &text);
    void ClearLog();

    // Session.
    void ConnectFromProfile();
    void QuickConnect();
    void ConnectToServer();
    void DisconnectFromServer();
    void Abort();
    void ApplyConnectionOptions();
    void SetConnectedState(bool connected);
    void SetAbortEnabled(bool enabled);
    void UpdateRemoteCommands();
    void UpdateLocalCommands();
    void ClearRemoteList();
    int CountSelectedItems(FileListView *list) const;

    // Remote folder and pane.
    QString GetRemoteFolder();
    bool ChangeCurrentRemoteFolder(const QString &sNewRemotePath, bool bInteractive);
    void AddPathToComboBox(const QString &sPathToAdd, QComboBox *combo);
    bool FindPathInCombo(const QString &path, QComboBox *combo) const;
    void RefreshRemoteList();
    void ListFilesOnServer();
    void RemotePathEntered(const QString &text);
    void GoUpOneLevel();
    void RemoteDoubleClick(int row);
    void DeleteSelectedRemoteItems();
    void RenameRemoteItem();
    void CreateRemoteFolder();
    void MoveSelectedRemoteItems();
    void GoToRemoteDirectory();
    void ChmodSelectedRemoteItems();
    void ShowAllRemoteFiles();
    void DefineRemoteTypes();

    // Transfers.
    void SendSelectedFiles();
    void ReceiveSelectedFiles();
    // Sends local items (the local pane's selection, or files and folders
    // dropped from the desktop's file manager), folder by folder.
    void SendItems(const QList<LocalItem> &items);

    // Gives the operations of later parts (all but logMaintenance, which
    // runs in the constructor); their entries are enabled from now on.
    void setHooks(const Services::Hooks &hooks);

    // ---- toolbar, panels, tray, shutdown ----

    // Runs a toolbar command string; the argument is ignored. The string is
    // compared exactly, in the order of commandNames(); any other string
    // does nothing. A command whose entry is disabled now (not connected, a
    // call running) does nothing either.
    void runCommand(const QString &command, const QString &argument = {});
    QStringList commandNames() const;
    // The action a command string runs (the menu entry it shares), or null
    // for the commands without an action.
    QAction *commandAction(const QString &command) const;

    // Restores the window from the tray or the task bar.
    void ShowFromTray();
    // Disconnects, removes the tray icon, starts Tessel and ends at once.
    void LaunchTessel();

    // The toolbar's variables ("_root.Connected", "_root.status_txt.text",
    // "_root.Progress_mc._xscale", "_root.Program"), also shown by the toolbar.
    QString movieVariable(const QString &name) const { return m_movie.value(name); }
    void setMovieVariable(const QString &name, const QString &value);

    // The kind of a row of the remote pane.
    RemoteKind rowKind(int row) const;
    // The names of the remote pane's rows, in order.
    QStringList remoteNames() const;
    // Where the message lines are appended.
    QString transferLogPath() const;

    ToolbarMovie *toolbar() const { return m_toolbar; }
    QMenu *trayMenu() const { return m_trayMenu; }
    RemoteOps *remoteOps() const { return m_remote.get(); }
    Transfers *transfers() const { return m_transfers.get(); }
    LocalPane *localPane() const { return m_local; }
    // The interface language file read at start-up ("Language").
    QString languageFile() const { return m_languageFile; }
    bool isShuttingDown() const { return m_shuttingDown; }
    // True while a component call started by the window runs.
    bool isBusy() const { return m_busy > 0; }
    // The MIME type of rows dragged out of the remote pane.
    static QString remoteRowsMimeType();

    // Controls, as the window's public fields.
    QGroupBox *frameQuickConnect = nullptr;
    QLineEdit *txtQaddress = nullptr;
    QLineEdit *txtQport = nullptr;
    QLineEdit *txtQuser = nullptr;
    QLineEdit *txtQpassword = nullptr;
    QPushButton *cmdQConnect = nullptr;
    QPushButton *cmdConnect = nullptr;
    QPushButton *cmdDisconnect = nullptr;
    QPushButton *cmdAbort = nullptr;
    QComboBox *cboRemotePath = nullptr;
    QToolButton *cmdUpFtp = nullptr;
    QPushButton *cmdSend = nullptr;
    QPushButton *cmdReceive = nullptr;
    QRadioButton *optAscii = nullptr;
    QRadioButton *optBinary = nullptr;
    QRadioButton *optAuto = nullptr;
    FileListView *lstRemoteFileList = nullptr;
    FileListView *lstDel = nullptr;
    QComboBox *cmbDel = nullptr;
    QGroupBox *FrameMainLists = nullptr;
    QGroupBox *frameLog = nullptr;
    QGroupBox *frameCustomCommand = nullptr; // the custom command panel's place
    QListWidget *lstConnectionInfo = nullptr;
    QLabel *lblStatus = nullptr;
    QLabel *lblRate = nullptr; // rate and time left of the running transfer
    QProgressBar *prgStatus = nullptr;
    QTimer *tmrRefresh = nullptr;
    QTimer *tmrDisconnect = nullptr; // a disconnect waiting for an aborted call

    // Menus and their entries.
    QMenu *miFile = nullptr;
    QMenu *miLocal = nullptr;
    QMenu *miRemote = nullptr;
    QMenu *miFtpCommands = nullptr;
    QMenu *miTools = nullptr;
    QAction *miConnect = nullptr;
    QAction *miDisconnect = nullptr;
    QAction *miExit = nullptr;
    QAction *miRemoteRefresh = nullptr;
    QAction *miRemoteUp = nullptr;
    QAction *miDownload = nullptr;
    QAction *miSyncLocalFromRemote = nullptr;
    QAction *miManualReceive = nullptr;
    QAction *miManualSend = nullptr;
    QAction *miCustomCommand = nullptr;
    QAction *miRemoteDelete = nullptr;
    QAction *miRemoteRename = nullptr;
    QAction *miRemoteCreateFolder = nullptr;
    QAction *miRemoteMove = nullptr;
    QAction *miRemoteGoTo = nullptr;
    QAction *miRemoteAllFiles = nullptr;
    QAction *miRemoteDefineTypes = nullptr;
    QAction *miRemoteChmod = nullptr;
    QAction *miUpload = nullptr;
    QAction *miSyncRemoteFromLocal = nullptr;
    QAction *miLocalUp = nullptr;
    QAction *miLocalRefresh = nullptr;
    QAction *miLocalOpen = nullptr;
    QAction *miLocalErase = nullptr;
    QAction *miLocalTrash = nullptr;
    QAction *miLocalRename = nullptr;
    QAction *miLocalCreateFolder = nullptr;
    QAction *miLocalFind = nullptr;
    QAction *miLocalProperties = nullptr;
    QAction *miLocalDefineTypes = nullptr;
    QAction *miEmptyTrash = nullptr;
    QAction *miClearLog = nullptr;
    QAction *miOptions = nullptr;
    QAction *miUserGuide = nullptr;
    QList<QAction *> miLocalViews;  // big icons, small icons, list, report
    QList<QAction *> miRemoteViews; // the same for the remote pane

Q_SIGNALS:
    // The program should end (after the shutdown or the switch to Tessel).
    void quitRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Marks the window busy for the life of a component call it starts.
    class BusyScope {
    public:
        explicit BusyScope(frmMain *window);
        ~BusyScope();
        BusyScope(const BusyScope &) = delete;
        BusyScope &operator=(const BusyScope &) = delete;

    private:
        frmMain *m_window;
    };

    void buildControls();
    QWidget *buildRemotePane();
    void buildMenus();
    void buildCommands();
    void buildTray();
    void connectComponent();
    void connectEngines();
    void restoreGeometryFromStore();
    void saveGeometryToStore();
    void setPanels(bool quick, bool lists, bool log, bool custom);
    void openHelp();
    // Runs fn as one call of the window, unless a call runs already: then
    // it is refused (the component would refuse it too, and a loop of
    // calls must not interleave with another).
    template<class F>
    bool asCall(F &&fn)
    {
        if (isBusy())
            return false;
        BusyScope busy(this);
        fn();
        return true;
    }
    void setWaitCursor(bool busy);
    // A menu entry for a later part's hook: disabled while the hook is empty.
    QAction *hookAction(QMenu *menu, const QString &text, std::function<void()> Services::Hooks::*hook);
    void updateHookActions();
    void updateBusyState();
    bool startShutdown();
    void setProgress(int value);
    void showRate(qint64 bytesPerSecond, qint64 secondsLeft);
    void showOverlay(bool visible);
    QMimeData *encodeRemoteRows(const QList<int> &rows) const;
    void remoteDrop(const QMimeData *data);
    bool checkPort(const QString &port, quint16 *value);
    void connectWithFields();
    bool askDisconnectFirst();
    QString host() const;
    bool isSettled() const; // no call of the window runs, the component is idle or not connected
    void disconnectCheck();
    QString errorDescription() const;
    QString currentLocalPath() const;

    Services m_services;
    std::unique_ptr<RemoteOps> m_remote;
    std::unique_ptr<Transfers> m_transfers;
    LocalPane *m_local = nullptr;
    ToolbarMovie *m_toolbar = nullptr;
    QStackedWidget *m_remoteStack = nullptr; // the remote pane, or the overlay over it
    QSplitter *m_panesSplitter = nullptr;    // local | remote
    QSplitter *m_listsSplitter = nullptr;    // lists | log | custom command
    QMenu *m_trayMenu = nullptr;
    QString m_languageFile;
    // Toolbar command strings in the order they are compared, with the
    // action each runs (null: no action).
    QList<std::pair<QString, QAction *>> m_commands;
    QList<QAction *> m_remoteActions; // off while not connected
    // Entries of later parts, with whether their hook is given.
    QList<std::pair<QAction *, std::function<bool()>>> m_hookActions;
    QHash<QString, QString> m_movie;
    int m_busy = 0;
    int m_disconnectChecks = 0;
    bool m_connected = false;
    bool m_abortEnabled = false;
    bool m_closeWhenDisconnected = false;
    bool m_launchWhenDisconnected = false;
    bool m_shuttingDown = false;
};
