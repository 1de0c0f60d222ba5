#include "shell/tessel/tesselapp.h"

#include "config/conversions.h"
#include "config/cregister.h"
#include "config/settingsmodel.h"
#include "config/settingsrecord.h"
#include "config/ui/frmsettings.h"
#include "controls/ui/tray.h"
#include "download/downloadlist.h"
#include "download/ui/downloadwindows.h"
#include "download/ui/frmdownload.h"
#include "intake/captureinstall.h"
#include "intake/capturereceiver.h"
#include "intake/ui/frmfile.h"
#include "intake/ui/frmurl.h"
#include "intake/ui/intake.h"
#include "platform/autostart.h"
#include "platform/programdir.h"
#include "platform/registrystore.h"
#include "platform/singleinstance.h"
#include "platform/tlssocketfactory.h"
#include "platform/truststore.h"
#include "platform/ui/qtprompts.h"
#include "platform/ui/shell.h"
#include "platform/ui/skin.h"
#include "queue/downloadmanager.h"
#include "queue/historystore.h"
#include "queue/scheduler.h"
#include "queue/ui/downloadlistview.h"
#include "queue/ui/frmschedule.h"
#include "queue/ui/queuecommands.h"
#include "shell/captions.h"
#include "shell/errorlog.h"
#include "shell/tessel/frmmain.h"

#include <QApplication>
#include <QFileInfo>
#include <QPixmap>
#include <QSplashScreen>

namespace {
const QString Title = QStringLiteral("Tessel");
// The lines a later start sends through the instance channel.
const QString ShowRequest = QStringLiteral("show");
const QString UrlRequest = QStringLiteral("url ");
const QString CaptureRequest = QStringLiteral("capture ");
}

struct TesselApp::Parts {
    Options options;
    ProgramDir programDir;
    std::unique_ptr<ErrorLog> errorLog;
    std::unique_ptr<Registry> registry;
    std::unique_ptr<CRegister> reg;
    std::unique_ptr<Captions> captions;
    std::unique_ptr<QtPrompts> ownPrompts;
    std::unique_ptr<QtDesktopShell> ownShell;
    Prompts *prompts = nullptr;
    DesktopShell *shell = nullptr;
    std::unique_ptr<Autostart> autostart;
    SettingsRecord record;
    std::unique_ptr<SettingsModel> settings;
    std::unique_ptr<SingleInstance> instance;
    std::unique_ptr<InstanceChannel> channel;
    std::unique_ptr<Skin> skin;
    DownloadListModel downloads;
    DownloadListModel completed;
    std::shared_ptr<TrustStore> trust;
    std::unique_ptr<PromptAnswerer> answerer;
    std::unique_ptr<UnattendedAnswerer> unattended;
    std::unique_ptr<DownloadManager> manager;
    std::unique_ptr<DownloadWindowTable> windows;
    std::unique_ptr<HistoryStore> history;
    std::unique_ptr<HistoryAutosaver> autosaver;
    IntakeRunValues run;
    std::unique_ptr<Intake> intake;
    std::unique_ptr<CaptureReceiver> capture;
    bool handedOver = false;
    std::unique_ptr<QueueCommands> queue;
    std::unique_ptr<Scheduler> scheduler;
    std::unique_ptr<Tray> tray;
    std::unique_ptr<frmMain> main;
};

TesselApp::TesselApp(Options options, QObject *parent) : QObject(parent), m(std::make_unique<Parts>())
{
    m->options = std::move(options);
}

TesselApp::~TesselApp()
{
    // Windows before the downloads they show, downloads before the services
    // they use.
    m->main.reset();
    m->windows.reset();
    m->scheduler.reset();
    m->queue.reset();
    m->capture.reset();
    m->intake.reset();
    m->manager.reset();
}

bool TesselApp::start()
{
    Parts &p = *m;
    // 1. One instance per user.
    if (p.options.prompts) {
        p.prompts = p.options.prompts;
    } else {
        p.ownPrompts = std::make_unique<QtPrompts>();
        p.prompts = p.ownPrompts.get();
    }
    const QString instanceDir =
        p.options.instanceDir.isEmpty() ? SingleInstance::defaultDirectory() : p.options.instanceDir;
    p.instance = std::make_unique<SingleInstance>(QStringLiteral("tessel"), instanceDir);
    if (!p.instance->tryAcquire()) {
        // The running instance comes to the front (and takes the URLs), so
        // a window hidden or buried is never lost.
        QStringList request{ShowRequest};
        for (const QString &url : std::as_const(p.options.urls))
            request.append(UrlRequest + url);
        for (const QString &url : std::as_const(p.options.capturedUrls))
            request.append(CaptureRequest + url);
        const bool sent = InstanceChannel::send(QStringLiteral("tessel"), instanceDir, request);
        // "tessel URL" only hands its URLs over; a plain second start, or
        // one the running instance did not hear, is told.
        p.handedOver = sent && request.size() > 1;
        if (!p.handedOver)
            p.prompts->inform(QStringLiteral("There is running instance"), Title, PromptIcon::Error);
        return false;
    }
    p.channel = std::make_unique<InstanceChannel>(QStringLiteral("tessel"), instanceDir);
    p.channel->listen(); // without it a later start only hears the message

    p.programDir = p.options.programDir.isEmpty() ? ProgramDir::locate(QCoreApplication::applicationDirPath())
                                                  : ProgramDir(p.options.programDir);
    // 2. The splash, when there is a picture.
    std::unique_ptr<QSplashScreen> splash;
    const QPixmap picture(p.programDir.file(QStringLiteral("DMSplash.spl")));
    if (p.options.showSplash && !picture.isNull()) {
        splash = std::make_unique<QSplashScreen>(picture);
        splash->show();
    }

    // 3. The title, the services and the skin.
    QApplication::setApplicationDisplayName(Title);
    p.errorLog = std::make_unique<ErrorLog>(p.programDir.file(QStringLiteral("errorlog.txt")));
    p.registry = std::make_unique<Registry>(
        p.options.configDir.isEmpty() ? Registry::defaultDirectory() : p.options.configDir,
        [log = p.errorLog.get()](const QString &message) { log->write(message); });
    p.reg = std::make_unique<CRegister>(*p.registry);
    p.captions = std::make_unique<Captions>(p.programDir.path(), p.errorLog.get());
    if (p.options.shell) {
        p.shell = p.options.shell;
    } else {
        p.ownShell = std::make_unique<QtDesktopShell>();
        p.shell = p.ownShell.get();
    }
    p.skin = std::make_unique<Skin>(p.programDir.file(QStringLiteral("QFTP.skn")));
    p.skin->load();

    // 7-8. The run values and the settings.
    p.run.blnSaveAsked = false;
    LoadSettings(p.record, *p.reg);
    p.autostart = std::make_unique<Autostart>();
    SettingsModel::Environment env;
    env.record = &p.record;
    env.reg = p.reg.get();
    env.autostart = p.autostart.get();
    env.programDir = p.programDir.path();
    env.appTitle = Title;
    env.programPath = QCoreApplication::applicationFilePath();
    // The settings dialog's capture box (and its populate step) switches
    // browser capture through this hook.
    if (p.options.browserCapture)
        env.applyBrowserCapture = [capture = p.options.browserCapture](bool on) { capture(on); };
    else
        env.applyBrowserCapture = [](bool on) { IECapClicks(on, CaptureInstallPaths::current()); };
    p.settings = std::make_unique<SettingsModel>(env);
    p.settings->Populate();

    // The one owner of every download, then the windows, the intake and the
    // commands.
    p.answerer = std::make_unique<PromptAnswerer>(*p.prompts, p.captions->lookup(), Title);
    // Downloads a scheduled run started answer their questions themselves.
    p.unattended = std::make_unique<UnattendedAnswerer>(p.answerer.get());
    DownloadManager::Services dm;
    SettingsRecord *record = &p.record;
    dm.transfer.settings = [record] { return TransferSettings::fromRecord(*record); };
    dm.transfer.logins = &p.settings->logins;
    // Certificates the user chose to trust, per host and fingerprint; the
    // jobs' TLS sockets accept those and ask about any other that fails.
    p.trust = std::make_shared<TrustStore>(p.registry->root(RegistryRoot::LocalMachine),
                                           TesselSection + QStringLiteral("TrustedCertificates"));
    dm.transfer.trust = p.trust;
    dm.transfer.sockets = std::make_shared<const TlsSocketFactory>(p.trust);
    dm.captions = p.captions->lookup();
    dm.downloads = &p.downloads;
    dm.completed = &p.completed;
    dm.record = &p.record;
    dm.reg = p.reg.get();
    dm.answerer = p.unattended.get();
    p.manager = std::make_unique<DownloadManager>(dm);
    p.windows = std::make_unique<DownloadWindowTable>();
    Intake::Services is;
    is.record = &p.record;
    is.settings = p.settings.get();
    is.downloads = &p.downloads;
    is.completed = &p.completed;
    is.windows = p.windows.get();
    is.prompts = p.prompts;
    is.shell = p.shell;
    is.captions = p.captions->lookup();
    is.run = &p.run;
    is.manager = p.manager.get();
    is.window.captions = p.captions->lookup();
    is.window.appTitle = Title;
    is.window.storedOption = [reg = p.reg.get()](const QString &key) {
        return conv::toNumber(reg->REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, key, QString()))
                   .value_or(0)
               == 1;
    };
    // The windows of a scheduled run's downloads show no boxes.
    is.window.unattended = [unattended = p.unattended.get()](DownloadId id) { return unattended->contains(id); };
    is.appTitle = Title;
    p.intake = std::make_unique<Intake>(is);

    QueueCommands::Callbacks callbacks;
    callbacks.restartRow = [this](const QueueCommands::RestartRequest &r) {
        const int index = m->downloads.indexOf(r.row);
        m->intake->BeginDownload(r.url, r.savePath, index >= 0 ? index + 1 : -1);
    };
    callbacks.beginDownload = [this](const QString &url, const QString &path) {
        m->intake->BeginDownload(url, path, -1);
    };
    callbacks.downloadUrl = [this](const QString &text) { m->intake->DownLoadURL(text); };
    callbacks.openFile = [shell = p.shell](const QString &path) { return shell && shell->openFile(path); };
    callbacks.showFolder = [shell = p.shell](const QString &path) { return shell && shell->showFolder(path); };
    p.queue = std::make_unique<QueueCommands>(p.downloads, p.completed, *p.windows, *p.manager, p.captions->lookup(),
                                              callbacks);
    connect(p.windows.get(), &DownloadWindowTable::windowCreated, this,
            [this](int, frmDownload *window) { m->queue->lstMode.watch(*window); });

    // 10. The history, kept on disk from now on.
    HistoryStore::Services hs;
    hs.mainList = &p.downloads;
    hs.completeList = &p.completed;
    hs.programDir = p.programDir.path();
    hs.reg = p.reg.get();
    hs.appTitle = Title;
    hs.languageFile = [this] { return m->captions->languageFile(); };
    hs.captions = p.captions->lookup();
    hs.running = [manager = p.manager.get()](DownloadListModel::RowId row) {
        const DownloadId id = manager->idOfRow(row);
        return id && manager->state(id) == DownloadState::Running;
    };
    p.history = std::make_unique<HistoryStore>(hs);
    p.history->LoadHistory();
    // Rows that were cut short are stopped downloads: Re-Download resumes them.
    for (int i = 0; i < p.downloads.count(); ++i) {
        const DownloadListModel::RowId row = p.downloads.idAt(i);
        if (p.downloads.value(row, DownloadListModel::Status) == p.history->interruptedStatus())
            p.manager->adopt(row, DownloadState::Stopped);
    }
    p.autosaver = std::make_unique<HistoryAutosaver>(*p.history, p.options.historyDelay);

    // 11. The language.
    if (p.captions->languageFile().isEmpty())
        p.captions->setLanguageFile(QStringLiteral("English.ini"));

    // 13. The main window and the tray icon.
    p.tray = p.options.trayHost ? std::make_unique<Tray>(std::move(p.options.trayHost)) : std::make_unique<Tray>();
    frmMain::Services ms;
    ms.programDir = p.programDir.path();
    ms.appTitle = Title;
    ms.prompts = p.prompts;
    ms.shell = p.shell;
    ms.windows = p.windows.get();
    ms.manager = p.manager.get();
    ms.history = p.history.get();
    ms.autosaver = p.autosaver.get();
    ms.tray = p.tray.get();
    ms.downloadList = p.queue->lstMain;
    ms.completedList = p.queue->lstComplete;
    ms.reg = p.reg.get();
    ms.corvaneProgram = p.programDir.file(QStringLiteral("corvane"));
    if (!QFileInfo::exists(ms.corvaneProgram))
        ms.corvaneProgram = QCoreApplication::applicationDirPath() + QStringLiteral("/corvane");
    QueueCommands *queue = p.queue.get();
    Intake *intake = p.intake.get();
    ms.hooks.addUrl = [intake](QWidget *, bool modal) {
        if (modal)
            intake->ShowURLDialog();
        else
            intake->ShowURLDialog();
    };
    ms.hooks.reDownload = [queue] { queue->ReDownload(); };
    ms.hooks.pauseAll = [queue] { queue->PauseAll(); };
    ms.hooks.resumeAll = [queue] { queue->ResumeAll(); };
    ms.hooks.stopAll = [queue] { queue->StopAll(); };
    // 9, 12. The scheduler, armed from the stored schedule; "Schedule" opens
    // its dialog over the main window.
    Scheduler::Services ss;
    ss.reg = p.reg.get();
    ss.manager = p.manager.get();
    ss.downloads = &p.downloads;
    ss.answerer = p.unattended.get();
    // A scheduled run restarts each row as Re-Download does, in a window.
    ss.restartRow = [queue](const QString &url, const QString &savePath, int rowIndex, DownloadListModel::RowId row) {
        queue->RedownloadRow(url, savePath, rowIndex, row);
    };
    ss.clock = p.options.clock;
    ss.second = p.options.schedulerSecond;
    ss.blnUnattended = &p.run.blnUnattended;
    ss.intScheduleExistChoice = &p.run.intScheduleExistChoice;
    p.scheduler = std::make_unique<Scheduler>(ss);
    connect(p.scheduler.get(), &Scheduler::scheduleRan, queue, &QueueCommands::RefreshControls);
    p.scheduler->InitTimer(true);
    ms.hooks.schedule = [this] {
        frmSchedule::Services fs;
        fs.scheduler = m->scheduler.get();
        fs.reg = m->reg.get();
        fs.prompts = m->prompts;
        fs.captions = m->captions->lookup();
        fs.appTitle = Title;
        frmSchedule dialog(fs, m->main.get());
        m->scheduler->RunMode = false;
        dialog.exec();
    };
    ms.hooks.settings = [this] {
        Parts &p = *m;
        frmSettings::Services ss;
        ss.model = p.settings.get();
        ss.loadSettings = [record = &p.record, reg = p.reg.get()] { LoadSettings(*record, *reg); };
        ss.prompts = p.prompts;
        ss.shell = p.shell;
        ss.captions = p.captions->lookup();
        ss.appTitle = Title;
        ss.programDir = p.programDir.path();
        ss.version = QStringLiteral(TESSEL_VERSION);
        ss.helpFile = p.programDir.file(QStringLiteral("help/settings.html"));
        frmSettings dialog(ss, p.main.get());
        dialog.exec();
    };
    p.main = std::make_unique<frmMain>(ms);
    queue->addDropArea(p.main.get());
    connect(queue, &QueueCommands::totalRateChanged, p.main.get(),
            [main = p.main.get()](double, const QString &text) { main->setStatusText(text); });
    connect(p.main.get(), &frmMain::quitRequested, this, &TesselApp::quitRequested);
    p.main->show();
    // A finished download is announced on the desktop: the tray's balloon
    // where the tray icon is shown.
    connect(p.manager.get(), &DownloadManager::finished, this,
            [this](DownloadId id, const TransferOutcome &outcome) {
                if (outcome.kind == TransferOutcome::Kind::Cancelled)
                    return;
                const QString name = m->manager->savePath(id).section(QLatin1Char('/'), -1);
                const QString text = outcome.kind == TransferOutcome::Kind::Success
                                         ? QStringLiteral("Download complete: %1").arg(name)
                                         : QStringLiteral("Download failed: %1 - %2")
                                               .arg(name, transferStatusText(outcome.status, m->captions->lookup()));
                m->tray->setTrayBalloonToolTip(text);
                m->tray->showBalloonoolTip(true);
            });
    connect(p.channel.get(), &InstanceChannel::requestReceived, this, [this](const QStringList &lines) {
        for (const QString &line : lines) {
            if (line == ShowRequest)
                m->main->ShowStatus();
            else if (line.startsWith(UrlRequest))
                m->intake->DownLoadURL(line.mid(UrlRequest.size()));
            else if (line.startsWith(CaptureRequest))
                m->intake->CaptureURL(line.mid(CaptureRequest.size()));
        }
    });
    // The receiver of browser capture, from here to shutdown: every URL an
    // add-in delivers takes the captured path of the intake.
    CaptureReceiver::Options co;
    co.directory = p.options.captureDir;
    co.errorLog = [log = p.errorLog.get()](const QString &line) { log->write(line); };
    p.capture = std::make_unique<CaptureReceiver>(co);
    connect(p.capture.get(), &CaptureReceiver::urlReceived, p.intake.get(), &Intake::CaptureURL);
    p.capture->listen();

    // 14. The splash closes.
    if (splash)
        splash->finish(p.main.get());
    for (const QString &url : std::as_const(p.options.urls))
        p.intake->DownLoadURL(url);
    for (const QString &url : std::as_const(p.options.capturedUrls))
        p.intake->CaptureURL(url);
    return true;
}

bool TesselApp::handedOver() const { return m->handedOver; }
CaptureReceiver &TesselApp::captureReceiver() { return *m->capture; }

frmMain &TesselApp::mainWindow() { return *m->main; }
Intake &TesselApp::intake() { return *m->intake; }
QueueCommands &TesselApp::queue() { return *m->queue; }
DownloadListModel &TesselApp::downloads() { return m->downloads; }
DownloadListModel &TesselApp::completed() { return m->completed; }
DownloadWindowTable &TesselApp::windows() { return *m->windows; }
DownloadManager &TesselApp::manager() { return *m->manager; }
HistoryStore &TesselApp::history() { return *m->history; }
Scheduler &TesselApp::scheduler() { return *m->scheduler; }
QString TesselApp::programDir() const { return m->programDir.path(); }
