#pragma once

#include "shell/maincommands.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>

class CRegister;
class DesktopShell;
class DownloadManager;
class DownloadWindowTable;
class HistoryStore;
class HistoryAutosaver;
class Prompts;
class QAction;
class QMenu;
class ToolbarMovie;
class Tray;

// Tessel's main window: the toolbar on top, the download list above the
// completed list, a status bar, the tray icon; it turns toolbar command
// strings, menu entries and tray clicks into the operations of the lists,
// the intake and the shell, and runs the shutdown.
class frmMain : public QMainWindow {
    Q_OBJECT

public:
    // The operations other parts provide; an empty one leaves its entry
    // disabled.
    struct Hooks {
        std::function<void(QWidget *owner, bool modal)> addUrl; // the new-URL dialog
        std::function<void()> reDownload;
        std::function<void()> pauseAll;
        std::function<void()> resumeAll;
        std::function<void()> stopAll;
        std::function<void()> schedule; // the scheduler dialog
        std::function<void()> settings; // the settings dialog
    };

    struct Services {
        QString programDir;
        QString appTitle = QStringLiteral("Tessel");
        Prompts *prompts = nullptr;
        DesktopShell *shell = nullptr;
        DownloadWindowTable *windows = nullptr;
        DownloadManager *manager = nullptr; // stops every download at shutdown
        HistoryStore *history = nullptr;
        HistoryAutosaver *autosaver = nullptr;
        Tray *tray = nullptr;          // null: no tray
        QWidget *downloadList = nullptr;  // lstMain's view, owned by the window from now on
        QWidget *completedList = nullptr; // lstComplete's view
        QString corvaneProgram;        // the FTP client's executable
        CRegister *reg = nullptr;      // where the window keeps its size and position
        Hooks hooks;
    };

    explicit frmMain(Services services, QWidget *parent = nullptr);
    ~frmMain() override;

    // Runs a toolbar command string; the argument is ignored.
    void runCommand(const QString &command, const QString &argument = {});

    // Public operations, each the same as a menu or tray entry.
    void CloseNELV();
    void EnterURL();
    void PauseAll();
    void ResumeAll();
    void Settings();
    void ShowStatus();
    void SaveHistory();
    void CloseAllDownloadWindows();

    // Shows the status text of the bar at the bottom (the total rate).
    void setStatusText(const QString &text);

    ToolbarMovie *toolbar() const { return m_toolbar; }
    QWidget *downloadList() const { return m_services.downloadList; }
    QWidget *completedList() const { return m_services.completedList; }
    QMenu *trayMenu() const { return m_trayMenu; }
    bool isShuttingDown() const { return m_shuttingDown; }

Q_SIGNALS:
    // The program should end (after the shutdown or the switch to the FTP client).
    void quitRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenus();
    void buildTray();
    void shutdown();
    void switchToFtp();
    void openHelp();
    void setListsVisible(bool downloads, bool completed);
    void restoreGeometryFromStore();
    void saveGeometryToStore();
    QAction *hookAction(QMenu *menu, const QString &text, const std::function<void()> &hook);

    Services m_services;
    ToolbarMovie *m_toolbar = nullptr;
    QMenu *m_trayMenu = nullptr;
    bool m_shuttingDown = false;
};
