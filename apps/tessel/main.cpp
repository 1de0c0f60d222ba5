// Tessel, the download manager.
#include "config/cregister.h"
#include "config/settingsmodel.h"
#include "config/settingsrecord.h"
#include "platform/autostart.h"
#include "platform/programdir.h"
#include "platform/registrystore.h"
#include "platform/singleinstance.h"
#include "platform/ui/qtprompts.h"
#include "platform/ui/skin.h"
#include "shell/captions.h"
#include "shell/errorlog.h"
#include "shell/ui/skinform.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString title = QStringLiteral("Tessel");
    QApplication::setApplicationName(QStringLiteral("tessel"));
    QApplication::setApplicationDisplayName(title);

    QCommandLineParser options;
    options.addHelpOption();
    const QCommandLineOption exitAfter(QStringLiteral("exit-after-ms"),
                                       QStringLiteral("Quit after the given time (for smoke tests)."),
                                       QStringLiteral("ms"));
    options.addOption(exitAfter);
    options.process(app);

    QtPrompts prompts;
    SingleInstance instance(QStringLiteral("tessel"));
    if (!instance.tryAcquire()) {
        prompts.inform(QStringLiteral("There is running instance"), title, PromptIcon::Error);
        return 1;
    }

    const ProgramDir programDir = ProgramDir::locate(QCoreApplication::applicationDirPath());
    ErrorLog errorLog(programDir.file(QStringLiteral("errorlog.txt")));
    Registry registry(Registry::defaultDirectory(), [&](const QString &message) { errorLog.write(message); });
    CRegister reg(registry);
    Captions captions(programDir.path(), &errorLog);
    Autostart autostart;

    SettingsRecord record;
    LoadSettings(record, reg);
    SettingsModel::Environment env;
    env.record = &record;
    env.reg = &reg;
    env.autostart = &autostart;
    env.programDir = programDir.path();
    env.appTitle = title;
    env.programPath = QCoreApplication::applicationFilePath();
    SettingsModel settingsModel(env);
    settingsModel.Populate();

    Skin skin(programDir.file(QStringLiteral("QFTP.skn")));
    skin.load();

    // The main window with its lists and toolbar is still being built; this
    // window shows that the program and its settings came up.
    QMainWindow window;
    window.setWindowTitle(title);
    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->addWidget(new QLabel(QStringLiteral("<h2>%1</h2>").arg(title)));
    layout->addWidget(new QLabel(QStringLiteral("Program directory: %1").arg(programDir.path())));
    layout->addWidget(new QLabel(QStringLiteral("Completed downloads: %1").arg(record.Downloads)));
    window.setCentralWidget(central);
    window.statusBar()->showMessage(captions.SetCaptionfromINI(QStringLiteral("11031"), QStringLiteral("Ready")));
    window.resize(520, 240);
    SkinForm(&window, MainWindowSkinName);
    window.show();

    if (options.isSet(exitAfter))
        QTimer::singleShot(options.value(exitAfter).toInt(), &app, &QApplication::quit);
    return app.exec();
}
