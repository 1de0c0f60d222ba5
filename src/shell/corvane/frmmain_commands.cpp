// The window's frame: toolbar command strings, menus, the panels the toolbar
// shows and hides, the tray icon, the busy state, the launch of Tessel and
// the shutdown.
#include "shell/corvane/frmmain.h"

#include "config/cregister.h"
#include "controls/ui/tray.h"
#include "ftpclient/ftpcomponent.h"
#include "platform/programdir.h"
#include "platform/ui/shell.h"
#include "platform/ui/toolbarmovie.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QWindow>

namespace {

const QString GeometryValue = QStringLiteral("MAIN WINDOW GEOMETRY");
const QString SplitterValue = QStringLiteral("MAIN WINDOW PANES");
const QString ListsSplitterValue = QStringLiteral("MAIN WINDOW LISTS");

} // namespace

// ---- commands ----

void frmMain::buildCommands()
{
    const auto plain = [this](const QString &text, std::function<void()> run) {
        auto *action = new QAction(text, this);
        connect(action, &QAction::triggered, this, std::move(run));
        return action;
    };
    const auto add = [this](const char *name, QAction *action) {
        m_commands.append({QLatin1String(name), action});
    };
    add("IDC_FS_Tray", plain(QStringLiteral("Hide to Tray"), [this] {
            // Only an icon in a notification area can bring a hidden window
            // back; without one the window is minimised instead.
            if (m_services.tray && m_services.tray->IsVisible() && m_services.tray->isAvailable())
                hide();
            else
                showMinimized();
        }));
    add("IDC_FS_minimize", plain(QStringLiteral("Minimize"), [this] { showMinimized(); }));
    add("IDC_FS_close", miExit);
    add("IDC_FS_drag", plain(QStringLiteral("Move"), [this] {
            if (QWindow *w = windowHandle())
                w->startSystemMove();
        }));
    add("IDC_FS_launchDM", plain(QStringLiteral("Tessel"), [this] { LaunchTessel(); }));
    add("IDC_FS_LocalUpLevel", miLocalUp);
    add("IDC_FS_LocalRefresh", miLocalRefresh);
    add("IDC_FS_Upload", miUpload);
    add("IDC_FS_RemoteUpLevel", miRemoteUp);
    add("IDC_FS_RemoteRefresh", miRemoteRefresh);
    add("IDC_FS_Download", miDownload);
    add("IDC_FS_LocalLargeIcons", miLocalViews.at(0));
    add("IDC_FS_LocalSmallIcons", miLocalViews.at(1));
    add("IDC_FS_LocalListIcons", miLocalViews.at(2));
    add("IDC_FS_LocalDetailsIcons", miLocalViews.at(3));
    add("IDC_FS_RemoteLargeIcons", miRemoteViews.at(0));
    add("IDC_FS_RemoteSmallIcons", miRemoteViews.at(1));
    add("IDC_FS_RemoteListIcons", miRemoteViews.at(2));
    add("IDC_FS_RemoteDetailsIcons", miRemoteViews.at(3));
    add("IDC_FS_ShowA", plain(QStringLiteral("Show Quick Connect"), [this] { frameQuickConnect->show(); }));
    add("IDC_FS_ShowB", plain(QStringLiteral("Show File Lists and Log"), [this] {
            FrameMainLists->show();
            frameLog->show();
        }));
    add("IDC_FS_ShowC", plain(QStringLiteral("Show Log and Custom Command"), [this] {
            frameLog->show();
            frameCustomCommand->show();
        }));
    add("IDC_FS_HideA", plain(QStringLiteral("Hide Quick Connect"), [this] { frameQuickConnect->hide(); }));
    add("IDC_FS_HideB", plain(QStringLiteral("Hide File Lists and Log"), [this] {
            FrameMainLists->hide();
            frameLog->hide();
        }));
    add("IDC_FS_HideC", plain(QStringLiteral("Hide Log and Custom Command"), [this] {
            frameLog->hide();
            frameCustomCommand->hide();
        }));
    add("IDC_FS_Connect", miConnect);
    add("IDC_FS_Disconnect", miDisconnect);
    add("IDC_FS_Reconnect", nullptr);
    add("IDC_FS_OpenFile", miLocalOpen);
    add("IDC_FS_LDirSynchronize", miSyncRemoteFromLocal);
    add("IDC_FS_Erase", miLocalErase);
    add("IDC_FS_LDelete", miLocalTrash);
    add("IDC_FS_LRename", miLocalRename);
    add("IDC_FS_LCreateFolder", miLocalCreateFolder);
    add("IDC_FS_FindFile", miLocalFind);
    add("IDC_FS_Properties", miLocalProperties);
    add("IDC_FS_LDirFilters", miLocalDefineTypes);
    add("IDC_FS_RDirSynchronize", miSyncLocalFromRemote);
    add("IDC_FS_FileReceive", miManualReceive);
    add("IDC_FS_ManualSend", miManualSend);
    add("IDC_FS_RDelete", miRemoteDelete);
    add("IDC_FS_RRename", miRemoteRename);
    add("IDC_FS_RCreateFolder", miRemoteCreateFolder);
    add("IDC_FS_MoveFileFolder", miRemoteMove);
    add("IDC_FS_GoToRemoteDir", miRemoteGoTo);
    // The permission dialog, which the table leaves without a command.
    add("IDC_FS_Chmod", miRemoteChmod);
    add("IDC_FS_RDirFilters", miRemoteDefineTypes);
    add("IDC_FS_CustomCommand", miCustomCommand);
    add("IDC_FS_FTPCommands", nullptr);
    add("IDC_FS_ClearLog", miClearLog);
    add("IDC_FS_Recycle", miEmptyTrash);
    add("IDC_FS_Options", miOptions);
    add("IDC_FS_UserGuide", miUserGuide);
    add("IDC_FS_openAbout", plain(QStringLiteral("About"), [this] {
            setPanels(false, false, false, false);
            m_toolbar->showPage(QStringLiteral("about"));
        }));
    add("IDC_FS_closeAbout", plain(QStringLiteral("Close About"), [this] {
            frameQuickConnect->show();
            FrameMainLists->show();
            frameLog->show();
            m_toolbar->showPage(QStringLiteral("main"));
        }));
}

void frmMain::runCommand(const QString &command, const QString &)
{
    for (const auto &[name, action] : std::as_const(m_commands)) {
        if (name != command)
            continue;
        // The first match runs; a command without an action, or whose
        // entry is disabled now, does nothing.
        if (action && action->isEnabled())
            action->trigger();
        return;
    }
}

QStringList frmMain::commandNames() const
{
    QStringList names;
    for (const auto &command : m_commands)
        names.append(command.first);
    return names;
}

QAction *frmMain::commandAction(const QString &command) const
{
    for (const auto &[name, action] : m_commands) {
        if (name == command)
            return action;
    }
    return nullptr;
}

void frmMain::setPanels(bool quick, bool lists, bool log, bool custom)
{
    frameQuickConnect->setVisible(quick);
    FrameMainLists->setVisible(lists);
    frameLog->setVisible(log);
    frameCustomCommand->setVisible(custom);
}

// The user's guide is an HTML page shipped in the program directory's
// "help" folder, opened in the desktop's browser.
void frmMain::openHelp()
{
    if (m_services.shell)
        m_services.shell->openFile(joinPath(m_services.programDir, QStringLiteral("help/corvane.html")));
}

// ---- busy state ----

frmMain::BusyScope::BusyScope(frmMain *window) : m_window(window)
{
    if (++m_window->m_busy == 1)
        m_window->updateBusyState();
}

frmMain::BusyScope::~BusyScope()
{
    if (--m_window->m_busy == 0)
        m_window->updateBusyState();
}

void frmMain::updateBusyState()
{
    // Entries that start a call are off while one runs; Abort, Disconnect,
    // the views and the prompts stay live.
    updateHookActions();
    SetConnectedState(m_connected);
    UpdateRemoteCommands();
    UpdateLocalCommands();
}

// ---- tray ----

void frmMain::buildTray()
{
    m_trayMenu = new QMenu(QStringLiteral("Popup Menu"), this);
    m_trayMenu->setObjectName(QStringLiteral("Popup Menu"));
    m_trayMenu->addAction(QStringLiteral("Exit"), this, &QWidget::close);
    Tray *tray = m_services.tray;
    if (!tray)
        return;
    tray->setTrayImage(windowIcon().isNull() ? QApplication::windowIcon() : windowIcon());
    tray->setTrayToolTip(m_services.appTitle);
    connect(tray, &Tray::LeftClick, this, &frmMain::ShowFromTray);
    connect(tray, &Tray::RightClick, this, [this] { m_trayMenu->popup(QCursor::pos()); });
    tray->Show(true);
}

void frmMain::ShowFromTray()
{
    showNormal();
    raise();
    activateWindow();
}

// ---- size and position ----

void frmMain::restoreGeometryFromStore()
{
    if (!m_services.reg)
        return;
    const auto get = [this](const QString &key) {
        return QByteArray::fromBase64(
            m_services.reg->REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection, key, QString()).toLatin1());
    };
    const QByteArray geometry = get(GeometryValue);
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    const QByteArray panes = get(SplitterValue);
    if (!panes.isEmpty())
        m_panesSplitter->restoreState(panes);
    const QByteArray lists = get(ListsSplitterValue);
    if (!lists.isEmpty())
        m_listsSplitter->restoreState(lists);
}

void frmMain::saveGeometryToStore()
{
    if (!m_services.reg)
        return;
    const auto put = [this](const QString &key, const QByteArray &value) {
        m_services.reg->REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection, key,
                                       QString::fromLatin1(value.toBase64()));
    };
    put(GeometryValue, saveGeometry());
    put(SplitterValue, m_panesSplitter->saveState());
    put(ListsSplitterValue, m_listsSplitter->saveState());
}

// ---- launch and shutdown ----

void frmMain::LaunchTessel()
{
    m_launchWhenDisconnected = true;
    DisconnectFromServer();
    if (!isSettled())
        return; // disconnectCheck comes back once the aborted call returned
    m_launchWhenDisconnected = false;
    m_shuttingDown = true;
    if (m_services.tray)
        m_services.tray->Show(false);
    if (m_services.shell && !m_services.tesselProgram.isEmpty())
        m_services.shell->startProgram(m_services.tesselProgram, {});
    hide();
    Q_EMIT quitRequested();
}

bool frmMain::startShutdown()
{
    // The dialogs of the window go first.
    for (QDialog *dialog : findChildren<QDialog *>()) {
        if (dialog->isVisible())
            dialog->reject();
    }
    DisconnectFromServer();
    if (!isSettled()) {
        // Closes once the aborted call has returned and the session is closed.
        m_closeWhenDisconnected = true;
        return false;
    }
    m_shuttingDown = true;
    saveGeometryToStore();
    if (m_services.tray)
        m_services.tray->Show(false);
    Q_EMIT quitRequested();
    return true;
}

void frmMain::closeEvent(QCloseEvent *event)
{
    if (m_shuttingDown || startShutdown())
        event->accept();
    else
        event->ignore();
}
