#pragma once

#include "httpfileserver.h"
#include "scriptedprompts.h"

#include "config/cregister.h"
#include "config/settingsrecord.h"
#include "download/downloadjob.h"
#include "platform/registrystore.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

// Everything a download needs, in a temporary directory, with short timers.
struct JobRig {
    QTemporaryDir dir;
    Registry registry{dir.filePath(QStringLiteral("config"))};
    CRegister reg{registry};
    SettingsRecord record;
    DownloadListModel mainList;
    DownloadListModel completeList;
    LoginTable logins;
    ScriptedPrompts prompts;
    std::unique_ptr<DownloadJob> job;
    DownloadJob::Timing timing{20ms, 50ms, 20ms, 20ms};

    JobRig()
    {
        LoadSettings(record, reg);
        record.intExistChoice = 0;
    }

    QString savePath() const { return dir.filePath(QStringLiteral("file.bin")); }

    DownloadJob &start(const QString &url, qint16 existChoice = 0)
    {
        DownloadJob::Services s;
        s.record = &record;
        s.reg = &reg;
        s.prompts = &prompts;
        s.mainList = &mainList;
        s.completeList = &completeList;
        s.logins = &logins;
        s.timing = timing;
        job = std::make_unique<DownloadJob>(s);
        record.intExistChoice = existChoice;
        job->strSaveTo = savePath();
        job->strURL = url;
        job->ParseURL(url);
        job->lstItem = mainList.addRow({savePath(), QStringLiteral("0%"), QStringLiteral("N/A"), QStringLiteral("N/A"),
                                        QStringLiteral("N/A"), url});
        job->StartDownload();
        return *job;
    }

    bool waitFinished(int ms = 20000)
    {
        QDeadlineTimer deadline(ms);
        while (!job->isFinished() && !deadline.hasExpired())
            QTest::qWait(5);
        return job->isFinished();
    }

    QByteArray saved() const
    {
        QFile f(savePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

