#pragma once

#include "httpfileserver.h"

#include "config/settingsrecord.h"
#include "download/transferjob.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

// A transfer job in a temporary directory with short timers, its settings
// as the settings record's defaults, its questions answered from a script
// (an unexpected question is recorded and answered No), and everything it
// reports recorded.
struct TransferRig {
    struct Expected {
        TransferQuestion::Kind kind;
        bool yes;
    };

    QTemporaryDir dir;
    TransferSettings settings = TransferSettings::fromRecord(SettingsRecord{});
    LoginTable logins;
    TransferTiming timing{20ms, 50ms, 20ms, 20ms};
    std::shared_ptr<const SocketFactory> sockets; // the job's default when empty
    std::shared_ptr<TrustStore> trust;            // none: a bad certificate fails at once
    std::unique_ptr<TransferJob> job;
    FileWriter writer; // the real one when empty

    QList<Expected> script;            // answers, in order
    QList<TransferQuestion> asked;     // every question
    int unexpectedQuestions = 0;
    QList<TransferState> states;
    QList<TransferOutcome> outcomes;   // one per finished()
    QList<TransferProgress> progressSeen;
    QList<TransferNotice> notices;

    TransferRig() { settings.stopResume = false; }

    QString savePath() const { return dir.filePath(QStringLiteral("file.bin")); }
    QString sidecarPath() const { return savePath() + QStringLiteral(".segments"); }

    TransferServices services()
    {
        TransferServices s;
        s.settings = [this] { return settings; };
        s.logins = &logins;
        s.timing = timing;
        s.sockets = sockets;
        s.trust = trust;
        s.writer = writer;
        return s;
    }

    // A new job, watched; not started.
    TransferJob &make()
    {
        job = std::make_unique<TransferJob>(services());
        states.clear();
        outcomes.clear();
        progressSeen.clear();
        TransferJob *j = job.get();
        QObject::connect(j, &TransferJob::stateChanged, j, [this](TransferState s) { states.append(s); });
        QObject::connect(j, &TransferJob::finished, j, [this](const TransferOutcome &o) { outcomes.append(o); });
        QObject::connect(j, &TransferJob::progressChanged, j, [this, j] { progressSeen.append(j->progress()); });
        QObject::connect(j, &TransferJob::noticeRaised, j, [this](const TransferNotice &n) { notices.append(n); });
        QObject::connect(j, &TransferJob::questionAsked, j, [this, j](const TransferQuestion &q) {
            asked.append(q);
            if (script.isEmpty() || script.first().kind != q.kind) {
                ++unexpectedQuestions;
                j->answer(q.id, false);
                return;
            }
            j->answer(q.id, script.takeFirst().yes);
        });
        return *j;
    }

    TransferJob &start(const QString &url, ExistingFile existing = ExistingFile::Overwrite)
    {
        TransferJob &j = make();
        j.start(TransferRequest{url, savePath(), existing});
        return j;
    }

    bool waitFinished(int ms = 20000)
    {
        QDeadlineTimer deadline(ms);
        while (!job->isFinished() && !deadline.hasExpired())
            QTest::qWait(5);
        return job->isFinished();
    }

    bool questionsDone() const { return script.isEmpty() && unexpectedQuestions == 0; }

    QByteArray saved() const
    {
        QFile f(savePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};
