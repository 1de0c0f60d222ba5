// Tessel, the download manager.
#include "shell/tessel/tesselapp.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tessel"));
    QApplication::setQuitOnLastWindowClosed(false); // the main window's shutdown ends the program

    QCommandLineParser options;
    options.addHelpOption();
    const QCommandLineOption exitAfter(QStringLiteral("exit-after-ms"),
                                       QStringLiteral("Quit after the given time (for smoke tests)."),
                                       QStringLiteral("ms"));
    options.addOption(exitAfter);
    const QCommandLineOption capture(QStringLiteral("capture"),
                                     QStringLiteral("A URL handed over by the browser (the capture host uses it)."),
                                     QStringLiteral("url"));
    options.addOption(capture);
    options.addPositionalArgument(QStringLiteral("urls"), QStringLiteral("URLs to download."),
                                  QStringLiteral("[url...]"));
    options.process(app);

    TesselApp::Options settings;
    settings.urls = options.positionalArguments();
    settings.capturedUrls = options.values(capture);
    TesselApp tessel(std::move(settings));
    QObject::connect(&tessel, &TesselApp::quitRequested, &app, &QApplication::quit, Qt::QueuedConnection);
    if (!tessel.start())
        return tessel.handedOver() ? 0 : 1; // "tessel URL" gave its URLs to the running Tessel
    if (options.isSet(exitAfter))
        QTimer::singleShot(options.value(exitAfter).toInt(), &app, &QApplication::quit);
    return app.exec();
}
