// Corvane, the FTP client.
#include "shell/corvane/corvaneapp.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("corvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
    // The window may hide in the tray; the program ends by its shutdown.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser options;
    options.addHelpOption();
    const QCommandLineOption exitAfter(QStringLiteral("exit-after-ms"),
                                       QStringLiteral("Quit after the given time (for smoke tests)."),
                                       QStringLiteral("ms"));
    options.addOption(exitAfter);
    options.process(app);

    CorvaneApp corvane({});
    QObject::connect(&corvane, &CorvaneApp::quitRequested, &app, &QApplication::quit, Qt::QueuedConnection);
    if (!corvane.start())
        return 1;
    if (options.isSet(exitAfter))
        QTimer::singleShot(options.value(exitAfter).toInt(), &app, &QApplication::quit);
    return app.exec();
}
