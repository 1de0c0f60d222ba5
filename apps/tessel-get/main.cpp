// tessel-get: Tessel's download engine from the command line.
#include "config/cregister.h"
#include "config/settingsrecord.h"
#include "download/downloadjob.h"
#include "download/downloadlist.h"
#include "download/getcommand.h"
#include "platform/programdir.h"
#include "platform/registrystore.h"
#include "shell/captions.h"
#include "shell/errorlog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessel-get"));

    const GetParse parsed = parseGetArguments(app.arguments().mid(1));
    if (!parsed.options) {
        std::fprintf(stderr, "tessel-get: %s\n%s", qPrintable(parsed.error), qPrintable(getUsage()));
        return 2;
    }
    const GetOptions &options = *parsed.options;
    if (options.help) {
        std::fputs(qPrintable(getUsage()), stdout);
        return 0;
    }

    const ProgramDir programDir = ProgramDir::locate(QCoreApplication::applicationDirPath());
    ErrorLog errorLog(programDir.file(QStringLiteral("errorlog.txt")));
    Registry registry(Registry::defaultDirectory(), [&](const QString &m) { errorLog.write(m); });
    CRegister reg(registry);
    Captions captions(programDir.path(), &errorLog);
    SettingsRecord record;
    LoadSettings(record, reg);
    options.applyTo(record);
    const QString savePath = QFileInfo(options.path).absoluteFilePath();
    record.intExistChoice = QFileInfo::exists(savePath) && !options.overwrite ? -1 : 0;

    DownloadListModel mainList;
    DownloadListModel completeList;
    ConsolePrompts prompts;
    DownloadJob::Services services;
    services.record = &record;
    services.reg = &reg;
    services.captions = captions.lookup();
    services.prompts = &prompts;
    services.mainList = &mainList;
    services.completeList = &completeList;
    DownloadJob job(services);
    job.strSaveTo = savePath;
    job.strURL = options.url;
    job.ParseURL(options.url);
    job.lstItem = mainList.addRow({savePath, QStringLiteral("0%"), QStringLiteral("N/A"), QStringLiteral("N/A"),
                                   QStringLiteral("N/A"), options.url});

    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    QElapsedTimer clock;
    clock.start();
    int segments = 0;
    QTimer progress;
    progress.setInterval(250);
    QObject::connect(&progress, &QTimer::timeout, [&] {
        segments = std::max(segments, job.bytSegments());
        if (terminal) {
            const double seconds = std::max(0.001, clock.elapsed() / 1000.0);
            std::fprintf(stderr, "\r%s", qPrintable(progressLine(job.TotalReceived(), job.lngContentSize(),
                                                                  double(job.TotalReceived()) / seconds)));
        }
    });
    progress.start();

    int exitCode = 1;
    QObject::connect(&job, &DownloadJob::finished, &app, [&](DownloadJob::Outcome outcome) {
        progress.stop();
        segments = std::max(segments, job.bytSegments());
        if (terminal)
            std::fputs("\n", stderr);
        if (outcome == DownloadJob::Outcome::Completed) {
            exitCode = 0;
        } else {
            QString reason = job.display().status;
            if (reason.isEmpty())
                reason = mainList.value(job.lstItem, DownloadListModel::Status);
            std::fprintf(stderr, "tessel-get: %s\n", qPrintable(reason.isEmpty() ? QStringLiteral("cancelled") : reason));
        }
        std::printf("%s\n", qPrintable(summaryLine(job.TotalReceived(), clock.elapsed() / 1000.0, segments)));
        std::fflush(stdout);
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    });

    QTimer::singleShot(0, &job, &DownloadJob::StartDownload);
    app.exec();
    return exitCode;
}
