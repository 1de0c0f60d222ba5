#include "shell/corvane/corvaneapp.h"

#include "config/cregister.h"
#include "shell/corvane/corvanefeatures.h"
#include "ftpclient/ftpcomponent.h"
#include "platform/programdir.h"
#include "platform/registrystore.h"
#include "platform/singleinstance.h"
#include "platform/tlssocketfactory.h"
#include "platform/truststore.h"
#include "platform/ui/qtprompts.h"
#include "platform/ui/shell.h"
#include "platform/ui/skin.h"

#include <QApplication>
#include <QFileInfo>
#include <QPixmap>
#include <QSplashScreen>

namespace {
const QString Title = QStringLiteral("Corvane");
const QString InstanceName = QStringLiteral("corvane");
} // namespace

struct CorvaneApp::Parts {
    Options options;
    std::unique_ptr<QtPrompts> ownPrompts;
    Prompts *prompts = nullptr;
    std::unique_ptr<QtDesktopShell> ownShell;
    DesktopShell *shell = nullptr;
    std::unique_ptr<SingleInstance> instance;
    ProgramDir programDir;
    std::unique_ptr<Registry> registry;
    std::unique_ptr<CRegister> reg;
    std::unique_ptr<Skin> skin;
    std::shared_ptr<TrustStore> trust;
    std::unique_ptr<FtpComponent> ftp;
    std::unique_ptr<Tray> tray;
    std::unique_ptr<CorvaneFeatures> features; // options, synchronisation, console, transfer log
    std::unique_ptr<frmMain> main;
};

CorvaneApp::CorvaneApp(Options options, QObject *parent) : QObject(parent), m(std::make_unique<Parts>())
{
    m->options = std::move(options);
}

CorvaneApp::~CorvaneApp()
{
    // The window goes before the component and the tray it uses.
    m->main.reset();
    m->features.reset();
}

bool CorvaneApp::start()
{
    Parts &p = *m;
    if (p.options.prompts) {
        p.prompts = p.options.prompts;
    } else {
        p.ownPrompts = std::make_unique<QtPrompts>();
        p.prompts = p.ownPrompts.get();
    }
    // 1. One instance per user.
    const QString instanceDir =
        p.options.instanceDir.isEmpty() ? SingleInstance::defaultDirectory() : p.options.instanceDir;
    p.instance = std::make_unique<SingleInstance>(InstanceName, instanceDir);
    if (!p.instance->tryAcquire()) {
        p.prompts->inform(QStringLiteral("There is running instance"), Title, PromptIcon::Error);
        return false;
    }

    // 2. The splash, when there is a picture.
    p.programDir = p.options.programDir.isEmpty() ? ProgramDir::locate(QCoreApplication::applicationDirPath())
                                                  : ProgramDir(p.options.programDir);
    std::unique_ptr<QSplashScreen> splash;
    const QPixmap picture(p.programDir.file(QStringLiteral("FTPSplash.spl")));
    if (p.options.showSplash && !picture.isNull()) {
        splash = std::make_unique<QSplashScreen>(picture);
        splash->show();
    }

    // 4. The skin (the local file-system object of step 3 is the local
    // pane's, created with the window).
    p.skin = std::make_unique<Skin>(p.programDir.file(QStringLiteral("QFTP.skn")));
    p.skin->load();

    p.registry = std::make_unique<Registry>(p.options.configDir.isEmpty() ? Registry::defaultDirectory()
                                                                          : p.options.configDir);
    p.reg = std::make_unique<CRegister>(*p.registry);
    if (p.options.shell) {
        p.shell = p.options.shell;
    } else {
        p.ownShell = std::make_unique<QtDesktopShell>();
        p.shell = p.ownShell.get();
    }
    // One FTP component for the whole run. Its sockets check certificates
    // against the trust store, which remembers the ones the user accepted.
    p.trust = std::make_shared<TrustStore>(p.registry->root(RegistryRoot::LocalMachine),
                                           CorvaneSection + QStringLiteral("TrustedCertificates"));
    std::shared_ptr<const SocketFactory> sockets = p.options.sockets;
    if (!sockets)
        sockets = std::make_shared<const TlsSocketFactory>(p.trust);
    p.ftp = std::make_unique<FtpComponent>(std::move(sockets), p.trust);
    p.tray = p.options.trayHost ? std::make_unique<Tray>(std::move(p.options.trayHost)) : std::make_unique<Tray>();

    // 5-15. The window: toolbar, title, panels, "_root.Program", log
    // maintenance, language, ASCII list, the disconnected state, the local
    // folder, the overlay hidden, the tray icon.
    QApplication::setApplicationDisplayName(Title);
    frmMain::Services s;
    s.programDir = p.programDir.path();
    s.appTitle = Title;
    s.prompts = p.prompts;
    s.xFtp = p.ftp.get();
    s.reg = p.reg.get();
    s.localPath = p.options.localPath;
    s.shell = p.shell;
    s.tray = p.tray.get();
    s.tesselProgram = p.programDir.file(QStringLiteral("tessel"));
    if (!QFileInfo::exists(s.tesselProgram))
        s.tesselProgram = QCoreApplication::applicationDirPath() + QStringLiteral("/tessel");
    p.features = std::make_unique<CorvaneFeatures>(CorvaneFeatures::Services{
        p.programDir.path(), Title, p.prompts, p.reg.get(), p.ftp.get(), QString(),
        QCoreApplication::applicationFilePath()});
    s.hooks = p.features->hooks(p.options.hooks);
    p.main = std::make_unique<frmMain>(std::move(s));
    p.features->attach(*p.main);
    connect(p.main.get(), &frmMain::quitRequested, this, &CorvaneApp::quitRequested);
    p.main->show();
    if (splash)
        splash->finish(p.main.get());
    return true;
}

frmMain &CorvaneApp::mainWindow() { return *m->main; }
FtpComponent &CorvaneApp::ftp() { return *m->ftp; }
Tray &CorvaneApp::tray() { return *m->tray; }
CRegister &CorvaneApp::settings() { return *m->reg; }
Prompts &CorvaneApp::prompts() { return *m->prompts; }
QString CorvaneApp::programDir() const { return m->programDir.path(); }
