#pragma once

#include "scriptedprompts.h"

#include "config/cregister.h"
#include "config/settingsrecord.h"
#include "platform/registrystore.h"
#include "queue/downloadmanager.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

struct ManagerRigOptions {
    bool lists = true;      // the manager writes the two lists
    bool statistics = true; // and adds to the statistics
};

// Everything downloads need, in a temporary directory, with short timers:
// the settings record and store, both lists, scripted prompts that answer
// the jobs' questions, and one download manager over them.
struct ManagerRig {
    QTemporaryDir dir;
    Registry registry{dir.filePath(QStringLiteral("config"))};
    CRegister reg{registry};
    SettingsRecord record;
    DownloadListModel downloads;
    DownloadListModel completed;
    LoginTable logins;
    ScriptedPrompts prompts;
    TransferTiming timing{20ms, 50ms, 20ms, 20ms};
    CaptionLookup captions = defaultCaptions();
    std::unique_ptr<DownloadAnswerer> answerer;
    std::shared_ptr<TrustStore> trust;               // none: a bad certificate fails at once
    std::shared_ptr<const SocketFactory> sockets;    // the jobs' default when empty
    std::unique_ptr<DownloadManager> manager;

    using Options = ManagerRigOptions;

    ManagerRig() : ManagerRig(Options{}) {}
    explicit ManagerRig(Options options)
    {
        LoadSettings(record, reg);
        record.StopResume = false; // the stall detector stays out of the tests' way
        answerer = std::make_unique<PromptAnswerer>(prompts, captions);
        build(options);
    }

    // Builds the manager again (after the test changed captions, timing or
    // the answerer).
    DownloadManager &build(Options options = {})
    {
        manager.reset();
        DownloadManager::Services s;
        s.transfer.settings = [this] { return TransferSettings::fromRecord(record); };
        s.transfer.logins = &logins;
        s.transfer.timing = timing;
        s.transfer.trust = trust;
        s.transfer.sockets = sockets;
        s.captions = captions;
        if (options.lists) {
            s.downloads = &downloads;
            s.completed = &completed;
        }
        if (options.statistics) {
            s.record = &record;
            s.reg = &reg;
        }
        s.answerer = answerer.get();
        manager = std::make_unique<DownloadManager>(s);
        return *manager;
    }

    QString savePath(const QString &name = QStringLiteral("file.bin")) const { return dir.filePath(name); }

    DownloadId start(const QString &url, ExistingFile existing = ExistingFile::Overwrite,
                     const QString &name = QStringLiteral("file.bin"))
    {
        return manager->start({url, savePath(name), existing});
    }

    bool waitState(DownloadId id, DownloadState state, int ms = 20000)
    {
        QDeadlineTimer deadline(ms);
        while (manager && manager->state(id) != state && !deadline.hasExpired())
            QTest::qWait(5);
        return manager && manager->state(id) == state;
    }

    // Waits until the download's job has more than `bytes` of its file.
    bool waitReceived(DownloadId id, qint64 bytes, int ms = 20000)
    {
        QDeadlineTimer deadline(ms);
        const auto received = [&] {
            const TransferJob *job = manager->job(id);
            return job ? job->progress().received : 0;
        };
        while (received() <= bytes && !deadline.hasExpired())
            QTest::qWait(5);
        return received() > bytes;
    }

    QByteArray saved(const QString &name = QStringLiteral("file.bin")) const
    {
        QFile f(savePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QString stored(const QString &key) const
    {
        return reg.REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, key, QString());
    }
};
