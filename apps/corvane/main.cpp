// Corvane, the FTP client.
#include "config/cregister.h"
#include "platform/programdir.h"
#include "platform/registrystore.h"
#include "platform/singleinstance.h"
#include "platform/ui/qtprompts.h"
#include "platform/ui/skin.h"
#include "platform/ui/skinform.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <QVBoxLayout>

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
    const QString language =
        reg.REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection, QStringLiteral("Language"),
                          QStringLiteral("English.ini"));

    Skin skin(programDir.file(QStringLiteral("QFTP.skn")));
    skin.load();

    // The site panes, transfers and console are still being built; this
    // window shows that the program came up.
    QMainWindow window;
    window.setWindowTitle(title);
    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->addWidget(new QLabel(QStringLiteral("<h2>%1</h2>").arg(title)));
    layout->addWidget(new QLabel(QStringLiteral("Program directory: %1").arg(programDir.path())));
    layout->addWidget(new QLabel(QStringLiteral("Language: %1").arg(language)));
    window.setCentralWidget(central);
    window.resize(520, 200);
    SkinForm(&window, MainWindowSkinName, SkinFlavour::CorvaneMain);
    window.show();

    if (options.isSet(exitAfter))
        QTimer::singleShot(options.value(exitAfter).toInt(), &app, &QApplication::quit);
    return app.exec();
}
