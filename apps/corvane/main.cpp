// Corvane, the FTP client.
#include "config/cregister.h"
#include "ftpclient/ftpcomponent.h"
#include "platform/programdir.h"
#include "platform/registrystore.h"
#include "platform/singleinstance.h"
#include "platform/tlssocketfactory.h"
#include "platform/truststore.h"
#include "platform/ui/qtprompts.h"
#include "platform/ui/skin.h"
#include "shell/corvane/frmmain.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString title = QStringLiteral("Corvane");
    QApplication::setApplicationName(QStringLiteral("corvane"));
    QApplication::setApplicationDisplayName(title);

    QCommandLineParser options;
    options.addHelpOption();
    const QCommandLineOption exitAfter(QStringLiteral("exit-after-ms"),
                                       QStringLiteral("Quit after the given time (for smoke tests)."),
                                       QStringLiteral("ms"));
    options.addOption(exitAfter);
    options.process(app);

    QtPrompts prompts;
    SingleInstance instance(QStringLiteral("corvane"));
    if (!instance.tryAcquire()) {
        prompts.inform(QStringLiteral("There is running instance"), title, PromptIcon::Error);
        return 1;
    }

    const ProgramDir programDir = ProgramDir::locate(QCoreApplication::applicationDirPath());
    Registry registry(Registry::defaultDirectory());
    CRegister reg(registry);

    Skin skin(programDir.file(QStringLiteral("QFTP.skn")));
    skin.load();

    // One FTP component for the whole run. Its sockets check certificates
    // against the trust store, which remembers the ones the user accepted.
    auto trust = std::make_shared<TrustStore>(registry.root(RegistryRoot::LocalMachine),
                                              CorvaneSection + QStringLiteral("TrustedCertificates"));
    FtpComponent xFtp(std::make_shared<const TlsSocketFactory>(trust), trust);

    frmMain::Services services;
    services.programDir = programDir.path();
    services.appTitle = title;
    services.prompts = &prompts;
    services.xFtp = &xFtp;
    services.reg = &reg;
    frmMain window(services);
    window.show();

    if (options.isSet(exitAfter))
        QTimer::singleShot(options.value(exitAfter).toInt(), &app, &QApplication::quit);
    return app.exec();
}
