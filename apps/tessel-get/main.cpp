// tessel-get: Tessel's download engine from the command line.
#include "config/cregister.h"
#include "config/settingsrecord.h"
#include "download/getcommand.h"
#include "platform/programdir.h"
#include "platform/registrystore.h"
#include "platform/tlssocketfactory.h"
#include "queue/downloadmanager.h"
#include "shell/captions.h"
#include "shell/errorlog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
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

    // Certificates are checked against the system's CAs and the --cacert
    // files; a certificate that does not verify ends the run (nobody is
    // asked to trust it).
    auto sockets = std::make_shared<TlsSocketFactory>();
    for (const QString &file : options.caCertificates) {
        QString why;
        if (!sockets->addCaFile(file, &why)) {
            std::fprintf(stderr, "tessel-get: --cacert %s: %s\n", qPrintable(file), qPrintable(why));
            return 2;
        }
    }

    // The run answers its own questions from the options (no person, no
    // message texts) and keeps out of the user's download statistics: the
    // manager gets neither lists nor the settings store.
    FixedAnswerer answers(/*useSegments=*/true, /*stopSegmented=*/false);
    DownloadManager::Services services;
    services.transfer.settings = [&record] {
        // Nobody can press Resume here: a transfer that stalls is made again
        // after the time-out and fails once the retry budget is spent.
        TransferSettings settings = TransferSettings::fromRecord(record);
        settings.dataDeadline = std::max(1, record.Timeout);
        return settings;
    };
    services.transfer.sockets = sockets;
    services.captions = captions.lookup();
    services.answerer = &answers;
    DownloadManager manager(services);

    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    QElapsedTimer clock;
    clock.start();
    int segments = 0;
    DownloadId id = 0;
    const auto current = [&]() -> const TransferProgress * {
        const TransferJob *job = manager.job(id);
        return job ? &job->progress() : nullptr;
    };
    QTimer progress;
    progress.setInterval(250);
    QObject::connect(&progress, &QTimer::timeout, [&] {
        const TransferProgress *p = current();
        if (!p)
            return;
        segments = std::max(segments, p->connections);
        if (terminal) {
            const double seconds = std::max(0.001, clock.elapsed() / 1000.0);
            std::fprintf(stderr, "\r%s",
                         qPrintable(progressLine(p->received, p->size, double(p->received) / seconds)));
        }
    });
    progress.start();

    QObject::connect(&manager, &DownloadManager::started, &app,
                     [&](DownloadId startedId, TransferJob *) { id = startedId; });
    int exitCode = 1;
    QObject::connect(&manager, &DownloadManager::finished, &app,
                     [&](DownloadId finishedId, const TransferOutcome &outcome) {
        if (finishedId != id)
            return;
        progress.stop();
        const TransferProgress *p = current();
        const qint64 bytes = p ? p->received : 0;
        if (p)
            segments = std::max(segments, p->connections);
        if (terminal)
            std::fputs("\n", stderr);
        if (outcome.kind == TransferOutcome::Kind::Success) {
            exitCode = 0;
        } else {
            const TransferStatus &s = outcome.status;
            QString reason = s.captionId.isEmpty() && s.defaultText.isEmpty()
                                 ? s.text
                                 : s.prefix + captions.lookup()(s.captionId, s.defaultText) + s.suffix;
            std::fprintf(stderr, "tessel-get: %s\n",
                         qPrintable(reason.isEmpty() ? QStringLiteral("cancelled") : reason));
        }
        std::printf("%s\n", qPrintable(summaryLine(bytes, clock.elapsed() / 1000.0, segments)));
        std::fflush(stdout);
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    });

    const ExistingFile existing =
        QFileInfo::exists(savePath) && !options.overwrite ? ExistingFile::Resume : ExistingFile::Overwrite;
    QTimer::singleShot(0, &manager, [&] { manager.start({options.url, savePath, existing}); });
    app.exec();
    return exitCode;
}
