#include "shell/tessel/frmmain.h"

#include "config/cregister.h"
#include "controls/ui/tray.h"
#include "download/ui/downloadwindows.h"
#include "download/ui/frmdownload.h"
#include "queue/downloadmanager.h"
#include "platform/programdir.h"
#include "platform/prompts.h"
#include "platform/ui/shell.h"
#include "platform/ui/toolbarmovie.h"
#include "queue/historystore.h"
#include "platform/ui/skinform.h"

#include <QApplication>
#include <QPointer>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QWindow>

frmMain::frmMain(Services services, QWidget *parent) : QMainWindow(parent), m_services(std::move(services))
{
    setWindowTitle(m_services.appTitle);
    setObjectName(QStringLiteral("frmMain"));

    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 0, 6, 6);
    layout->setSpacing(6);
    m_toolbar = new ToolbarMovie;
    m_toolbar->load(joinPath(m_services.programDir, QStringLiteral("varnodm.swf")));
    m_toolbar->setVariable(QStringLiteral("_root.Program"), QStringLiteral("DM"));
    connect(m_toolbar, &ToolbarMovie::commandTriggered, this, &frmMain::runCommand);
    layout->addWidget(m_toolbar);
    if (m_services.downloadList)
        layout->addWidget(m_services.downloadList, 3);
    if (m_services.completedList)
        layout->addWidget(m_services.completedList, 2);
    setCentralWidget(central);
    statusBar();

    buildMenus();
    buildTray();
    resize(760, 600);
    restoreGeometryFromStore();
    SkinForm(this, MainWindowSkinName);
}

namespace {
const QString WindowSection = QStringLiteral("\\Software\\Tessel\\Window\\");
}

void frmMain::restoreGeometryFromStore()
{
    if (!m_services.reg)
        return;
    const QString saved =
        m_services.reg->REGGetSetting(CRegister::HKEY_CURRENT_USER, WindowSection, QStringLiteral("Geometry"), {});
    if (!saved.isEmpty())
        restoreGeometry(QByteArray::fromBase64(saved.toLatin1()));
}

void frmMain::saveGeometryToStore()
{
    if (m_services.reg)
        m_services.reg->REGSaveSetting(CRegister::HKEY_CURRENT_USER, WindowSection, QStringLiteral("Geometry"),
                                       QString::fromLatin1(saveGeometry().toBase64()));
}

frmMain::~frmMain() = default;

QAction *frmMain::hookAction(QMenu *menu, const QString &text, const std::function<void()> &hook)
{
    QAction *action = menu->addAction(text);
    action->setEnabled(bool(hook));
    if (hook)
        connect(action, &QAction::triggered, this, [hook] { hook(); });
    return action;
}

void frmMain::buildMenus()
{
    const Hooks &h = m_services.hooks;
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction *add = file->addAction(QStringLiteral("Add URL"), this, [this] { runCommand(QStringLiteral("IDC_FS_AddURL")); });
    add->setShortcut(QKeySequence(QStringLiteral("Ctrl+A")));
    add->setEnabled(bool(h.addUrl));
    file->addSeparator();
    QAction *exit = file->addAction(QStringLiteral("Exit"), this, &frmMain::CloseNELV);
    exit->setShortcut(QKeySequence(QStringLiteral("Ctrl+X")));

    QMenu *downloads = menuBar()->addMenu(QStringLiteral("&Downloads"));
    hookAction(downloads, QStringLiteral("Re-Download"), h.reDownload);
    downloads->addSeparator();
    hookAction(downloads, QStringLiteral("Pause All"), h.pauseAll);
    hookAction(downloads, QStringLiteral("Resume All"), h.resumeAll);
    hookAction(downloads, QStringLiteral("Stop All"), h.stopAll);

    QMenu *options = menuBar()->addMenu(QStringLiteral("&Options"));
    hookAction(options, QStringLiteral("Schedule"), h.schedule);
    hookAction(options, QStringLiteral("Settings"), h.settings);

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("About"), this, [this] { runCommand(QStringLiteral("IDC_FS_openAbout")); });
    help->addAction(QStringLiteral("User's Guide"), this, &frmMain::openHelp);
}

void frmMain::buildTray()
{
    const Hooks &h = m_services.hooks;
    m_trayMenu = new QMenu(this);
    m_trayMenu->addAction(QStringLiteral("Show Download Status"), this, &frmMain::ShowStatus);
    m_trayMenu->addSeparator();
    QMenu *tools = m_trayMenu->addMenu(QStringLiteral("Tools"));
    tools->addAction(QStringLiteral("Enter URL"), this, &frmMain::EnterURL)->setEnabled(bool(h.addUrl));
    tools->addAction(QStringLiteral("Settings..."), this, &frmMain::Settings)->setEnabled(bool(h.settings));
    tools->addSeparator();
    hookAction(tools, QStringLiteral("Pause All"), h.pauseAll);
    hookAction(tools, QStringLiteral("Resume All"), h.resumeAll);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(QStringLiteral("Close"), this, &frmMain::CloseNELV);

    if (Tray *tray = m_services.tray) {
        tray->setTrayImage(windowIcon().isNull() ? QApplication::windowIcon() : windowIcon());
        tray->setTrayToolTip(m_services.appTitle);
        connect(tray, &Tray::LeftClick, this, &frmMain::ShowStatus);
        connect(tray, &Tray::RightClick, this, [this] { m_trayMenu->popup(QCursor::pos()); });
        tray->Show(true);
    }
}

void frmMain::setStatusText(const QString &text)
{
    statusBar()->showMessage(text);
}

void frmMain::setListsVisible(bool downloads, bool completed)
{
    if (m_services.downloadList)
        m_services.downloadList->setVisible(downloads);
    if (m_services.completedList)
        m_services.completedList->setVisible(completed);
}

void frmMain::runCommand(const QString &command, const QString &)
{
    const Hooks &h = m_services.hooks;
    const auto call = [](const std::function<void()> &hook) {
        if (hook)
            hook();
    };
    switch (mainCommandFor(command)) {
    case MainCommand::Unknown:
        return;
    case MainCommand::HideToTray:
        // Only an icon that is shown in a notification area that is there
        // now can bring a hidden window back; otherwise it is minimised.
        if (m_services.tray && m_services.tray->IsVisible() && m_services.tray->isAvailable())
            hide();
        else
            showMinimized();
        return;
    case MainCommand::Minimize:
        showMinimized();
        return;
    case MainCommand::Close:
        CloseNELV();
        return;
    case MainCommand::Drag:
        if (QWindow *w = windowHandle())
            w->startSystemMove();
        return;
    case MainCommand::LaunchFtp:
        switchToFtp();
        return;
    case MainCommand::ShowDownloads:
        if (m_services.downloadList)
            m_services.downloadList->show();
        return;
    case MainCommand::ShowCompleted:
        if (m_services.completedList)
            m_services.completedList->show();
        return;
    case MainCommand::HideDownloads:
        if (m_services.downloadList)
            m_services.downloadList->hide();
        return;
    case MainCommand::HideCompleted:
        if (m_services.completedList)
            m_services.completedList->hide();
        return;
    case MainCommand::AddUrl:
        if (h.addUrl)
            h.addUrl(this, true);
        return;
    case MainCommand::ReDownload: call(h.reDownload); return;
    case MainCommand::PauseAll: call(h.pauseAll); return;
    case MainCommand::ResumeAll: call(h.resumeAll); return;
    case MainCommand::StopAll: call(h.stopAll); return;
    case MainCommand::Schedule: call(h.schedule); return;
    case MainCommand::Settings: call(h.settings); return;
    case MainCommand::UserGuide:
        openHelp();
        return;
    case MainCommand::OpenAbout:
        setListsVisible(false, false);
        m_toolbar->showPage(QStringLiteral("about"));
        return;
    case MainCommand::CloseAbout:
        setListsVisible(true, true);
        m_toolbar->showPage(QStringLiteral("main"));
        return;
    }
}

void frmMain::openHelp()
{
    if (m_services.shell)
        m_services.shell->openFile(joinPath(m_services.programDir, QStringLiteral("help/index.html")));
}

void frmMain::EnterURL()
{
    if (m_services.hooks.addUrl)
        m_services.hooks.addUrl(this, false);
}

void frmMain::PauseAll()
{
    if (m_services.hooks.pauseAll)
        m_services.hooks.pauseAll();
}

void frmMain::ResumeAll()
{
    if (m_services.hooks.resumeAll)
        m_services.hooks.resumeAll();
}

void frmMain::Settings()
{
    if (m_services.hooks.settings)
        m_services.hooks.settings();
}

void frmMain::ShowStatus()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void frmMain::SaveHistory()
{
    if (m_services.history)
        m_services.history->SaveHistory();
}

void frmMain::CloseAllDownloadWindows()
{
    // Every download stops through its owner, its file kept; then the
    // windows close, lowest slot first.
    if (m_services.manager)
        m_services.manager->cancelAll();
    DownloadWindowTable *table = m_services.windows;
    if (!table)
        return;
    QList<QPointer<frmDownload>> windows;
    for (frmDownload *window : table->windows())
        windows.append(window);
    for (const QPointer<frmDownload> &window : std::as_const(windows)) {
        if (window)
            window->close();
    }
}

void frmMain::shutdown()
{
    if (m_shuttingDown)
        return;
    m_shuttingDown = true;
    saveGeometryToStore();
    SaveHistory();
    if (m_services.tray)
        m_services.tray->Show(false);
    CloseAllDownloadWindows();
    // Closing the windows changed the lists; keep what the history says.
    if (m_services.autosaver)
        m_services.autosaver->flush();
}

void frmMain::CloseNELV()
{
    shutdown();
    Q_EMIT quitRequested();
}

void frmMain::switchToFtp()
{
    shutdown();
    if (m_services.shell && !m_services.corvaneProgram.isEmpty())
        m_services.shell->startProgram(m_services.corvaneProgram, {});
    Q_EMIT quitRequested();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    shutdown();
    event->accept();
    Q_EMIT quitRequested();
}
