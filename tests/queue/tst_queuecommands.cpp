// The commands of the download list and the completed list, against real
// download windows fetching from a scripted HTTP server on loopback.
#include "config/cregister.h"
#include "config/settingsrecord.h"
#include "download/downloadlist.h"
#include "download/ui/downloadwindows.h"
#include "download/ui/frmdownload.h"
#include "platform/registrystore.h"
#include "platform/ui/shell.h"
#include "queue/ui/queuecommands.h"

#include "httpfileserver.h"
#include "managerrig.h"
#include "scriptedprompts.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QClipboard>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <QTest>

#include <map>

namespace {

using Column = DownloadListModel::Column;
using RowId = DownloadListModel::RowId;
using State = TransferState;

class NullShell final : public DesktopShell {
public:
    bool openFile(const QString &) override { return true; }
    bool showFolder(const QString &) override { return true; }
    bool startProgram(const QString &, const QStringList &) override { return true; }
};

struct Harness {
    ManagerRig rig;
    SettingsRecord &record = rig.record;
    DownloadListModel &mainList = rig.downloads;
    DownloadListModel &completeList = rig.completed;
    ScriptedPrompts &prompts = rig.prompts;
    NullShell shell;
    // One file server per file name. Files under "stall/" send a quarter of
    // their data and then go silent (later replies trickle in); files under
    // "slow/" come in small pieces; others at once.
    qint64 fileSize = 40000;
    std::map<QString, std::unique_ptr<HttpFileServer>> servers;
    DownloadWindowTable table;

    QList<QueueCommands::RestartRequest> restarts;
    QList<QPair<QString, QString>> begun;
    QStringList dropped;
    QStringList opened;  // files the commands opened
    QStringList folders; // folders the commands showed
    std::unique_ptr<QueueCommands> commands;

    explicit Harness(std::chrono::milliseconds ratePeriod = std::chrono::hours(1))
    {
        record.StopResume = false; // no stall detector: pauses stay as the test leaves them
        record.Retry = false;
        rig.timing = {std::chrono::milliseconds(20), std::chrono::milliseconds(40), std::chrono::milliseconds(30),
                      std::chrono::milliseconds(20)};
        rig.build();

        QueueCommands::Callbacks callbacks;
        callbacks.restartRow = [this](const QueueCommands::RestartRequest &r) { restarts.append(r); };
        callbacks.beginDownload = [this](const QString &url, const QString &path) { begun.append({url, path}); };
        callbacks.downloadUrl = [this](const QString &text) { dropped.append(text); };
        callbacks.openFile = [this](const QString &path) { opened.append(path); return true; };
        callbacks.showFolder = [this](const QString &path) { folders.append(path); return true; };
        QueueCommands::Options options;
        options.ratePeriod = ratePeriod;
        options.locale = QLocale::c();
        commands = std::make_unique<QueueCommands>(mainList, completeList, table, *rig.manager, defaultCaptions(),
                                                   std::move(callbacks), options);
    }
    ~Harness()
    {
        commands.reset();
        // Windows first: they show the manager's downloads.
        for (int slot = 0; slot < DownloadWindowTable::SlotCount; ++slot)
            delete table.take(slot);
    }

    DownloadManager &manager() { return *rig.manager; }

    frmDownload::Services services()
    {
        frmDownload::Services s;
        s.manager = rig.manager.get();
        s.shell = &shell;
        s.prompts = &prompts;
        return s;
    }

    HttpFileServer &serverFor(const QString &name)
    {
        std::unique_ptr<HttpFileServer> &server = servers[name];
        if (!server) {
            server = std::make_unique<HttpFileServer>(fileSize);
            if (name.startsWith(QLatin1String("stall/"))) {
                server->stallFirstBodyAfter = fileSize / 4;
                server->pace = [](int connection) {
                    return connection == 0 ? HttpFileServer::Pace{} : HttpFileServer::Pace{1000, 50};
                };
            } else if (name.startsWith(QLatin1String("slow/"))) {
                server->pieceSize = 4000;
                server->pieceDelayMs = 30;
            }
        }
        return *server;
    }
    QString url(const QString &name) { return serverFor(name).url(QLatin1Char('/') + name); }
    int connectionCount() const
    {
        int n = 0;
        for (const auto &entry : servers)
            n += entry.second->server.connectionCount();
        return n;
    }
    QByteArray file() const { return HttpFileServer::bytes(0, fileSize); }

    RowId addRow(const QString &url, const QString &path = QStringLiteral("/tmp/x.bin"))
    {
        return mainList.addRow({path, "0%", "N/A", "N/A", "N/A", url});
    }

    // A download in a slot with its own row, started the way the intake
    // does: the window exists before the job starts.
    frmDownload *begin(int slot, const QString &name)
    {
        const QString link = url(name);
        const QString path = rig.dir.filePath(name.section(QLatin1Char('/'), -1) + QString::number(slot));
        QPointer<frmDownload> window;
        const auto hook = QObject::connect(rig.manager.get(), &DownloadManager::started, &table,
                                           [&](DownloadId id, TransferJob *) {
                                               window = table.create(slot, services(), id);
                                           });
        rig.manager->start({link, path, ExistingFile::Overwrite});
        QObject::disconnect(hook);
        return window;
    }

    RowId rowOf(const frmDownload *window) { return manager().row(window->downloadId()); }
    static TransferState stateOf(const frmDownload *window)
    {
        return window->job() ? window->job()->state() : TransferState::Idle;
    }
};

} // namespace

class TestQueueCommands : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pauseAllThenResumeAll()
    {
        Harness h;
        QPointer<frmDownload> running = h.begin(2, QStringLiteral("stall/a.bin"));
        QPointer<frmDownload> paused = h.begin(5, QStringLiteral("stall/b.bin"));
        QVERIFY(running && paused);
        QTRY_COMPARE(Harness::stateOf(running), State::Downloading);
        QTRY_COMPARE(Harness::stateOf(paused), State::Downloading);
        paused->Pause_Resume();
        QCOMPARE(Harness::stateOf(paused), State::Paused);
        // A window that never started has nothing to pause or resume.
        frmDownload *idle = h.table.create(9, h.services(), 0);
        QVERIFY(idle);

        // Pending events run during the walk.
        bool yielded = false;
        QTimer::singleShot(0, [&] { yielded = true; });
        h.commands->PauseAll();
        QVERIFY(yielded);
        QCOMPARE(Harness::stateOf(running), State::Paused);
        QCOMPARE(Harness::stateOf(paused), State::Paused); // not toggled back to running
        QCOMPARE(Harness::stateOf(idle), State::Idle);
        QCOMPARE(h.mainList.value(h.rowOf(running), Column::Status), QStringLiteral("Paused/Stopped"));
        QCOMPARE(h.table.count(), 3); // no window made for an empty slot

        const int connections = h.connectionCount();
        h.commands->ResumeAll();
        QTRY_COMPARE(Harness::stateOf(running), State::Downloading);
        QTRY_COMPARE(Harness::stateOf(paused), State::Downloading);
        QCOMPARE(Harness::stateOf(idle), State::Idle);
        QTRY_COMPARE(h.connectionCount(), connections + 2);
        QCOMPARE(h.table.count(), 3);
        VERIFY_PROMPTS_DONE(h.prompts);
    }

    void stopAllStopsTheRunningOnes()
    {
        Harness h;
        QPointer<frmDownload> a = h.begin(0, QStringLiteral("stall/a.bin"));
        QPointer<frmDownload> b = h.begin(1, QStringLiteral("stall/b.bin"));
        QPointer<frmDownload> c = h.begin(40, QStringLiteral("stall/c.bin"));
        QVERIFY(a && b && c);
        for (frmDownload *w : {a.data(), b.data(), c.data()})
            QTRY_COMPARE(Harness::stateOf(w), State::Downloading);
        c->Pause_Resume();

        h.commands->StopAll();
        QCOMPARE(Harness::stateOf(a), State::Stopped);
        QCOMPARE(Harness::stateOf(b), State::Stopped);
        QCOMPARE(Harness::stateOf(c), State::Paused);
        QTRY_COMPARE(a->lblStatus->text(), QStringLiteral("Transfer Stopped"));
        QCOMPARE(h.mainList.value(h.rowOf(b), Column::Status), QStringLiteral("Paused/Stopped"));
        // Stopped windows stay open with their rows.
        QCOMPARE(h.table.count(), 3);
        QCOMPARE(h.mainList.count(), 3);
        VERIFY_PROMPTS_DONE(h.prompts);
    }

    void toolbarCommandsReachTheWalks()
    {
        Harness h;
        QPointer<frmDownload> w = h.begin(0, QStringLiteral("stall/a.bin"));
        QVERIFY(w);
        QTRY_COMPARE(Harness::stateOf(w), State::Downloading);
        QVERIFY(h.commands->runToolbarCommand(QStringLiteral("IDC_FS_PauseAll")));
        QCOMPARE(Harness::stateOf(w), State::Paused);
        QVERIFY(h.commands->runToolbarCommand(QStringLiteral("IDC_FS_ResumeAll")));
        QTRY_COMPARE(Harness::stateOf(w), State::Downloading);
        QVERIFY(h.commands->runToolbarCommand(QStringLiteral("IDC_FS_StopAll")));
        QCOMPARE(Harness::stateOf(w), State::Stopped);
        QVERIFY(!h.commands->runToolbarCommand(QStringLiteral("IDC_FS_pauseall")));
        QVERIFY(!h.commands->runToolbarCommand(QStringLiteral("IDC_FS_Unknown")));
    }

    void urlFromScheme_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("url");
        QTest::newRow("plain") << "http://h/a.zip" << "http://h/a.zip";
        QTest::newRow("text before http") << "see: http://h/a.zip" << "http://h/a.zip";
        QTest::newRow("upper-case scheme") << "x HTTP://h/a.zip" << "HTTP://h/a.zip";
        QTest::newRow("text before ftp") << "-> ftp://h/a.zip" << "ftp://h/a.zip";
        QTest::newRow("ftp inside an http URL") << "http://h/ftp://a.zip" << "http://h/ftp://a.zip";
        QTest::newRow("http inside an ftp URL") << "junk ftp://h/http://a" << "ftp://h/http://a";
        QTest::newRow("text before https") << "see: https://h/a.zip" << "https://h/a.zip";
        QTest::newRow("https before http") << "x https://h/a?u=http://o" << "https://h/a?u=http://o";
        QTest::newRow("no scheme") << "h/a.zip" << "h/a.zip";
        QTest::newRow("empty") << "" << "";
    }

    void urlFromScheme()
    {
        QFETCH(QString, text);
        QFETCH(QString, url);
        QCOMPARE(QueueCommands::urlFromScheme(text), url);
    }

    void reDownloadStopsAtAnEmptyUrl()
    {
        Harness h;
        const RowId first = h.addRow(QStringLiteral("prefix http://127.0.0.1:1/a.zip"), QStringLiteral("/d/a.zip"));
        const RowId empty = h.addRow(QString(), QStringLiteral("/d/b.zip"));
        const RowId third = h.addRow(QStringLiteral("ftp://127.0.0.1:1/c.zip"), QStringLiteral("/d/c.zip"));
        for (RowId id : {first, empty, third})
            h.commands->lstMain->setRowSelected(id, true);

        h.commands->ReDownload();
        QCOMPARE(h.restarts.size(), 1);
        QCOMPARE(h.restarts.at(0).row, first);
        QCOMPARE(h.restarts.at(0).url, QStringLiteral("http://127.0.0.1:1/a.zip"));
        QCOMPARE(h.restarts.at(0).savePath, QStringLiteral("/d/a.zip"));
        QCOMPARE(h.restarts.at(0).slot, 0); // the row's index
        QCOMPARE(h.mainList.count(), 3);
    }

    // A row refused by a filter carries the refusal where the save path
    // goes: Re-Download hands its URL to the intake again (save rules or
    // save prompt) and never restarts it under the refusal's name.
    void reDownloadOfARefusedRowGoesThroughTheIntake()
    {
        Harness h;
        const QString refusal = QStringLiteral("You block this Extenison");
        const RowId normal = h.addRow(QStringLiteral("http://127.0.0.1:1/a.zip"), QStringLiteral("/d/a.zip"));
        const DownloadId refusedId = h.manager().queue(QStringLiteral("http://127.0.0.1:1/b.pdf"), refusal,
                                                       QStringLiteral("Not Downloaded"), true);
        QCOMPARE(h.manager().state(refusedId), DownloadState::Refused);
        const RowId refused = h.manager().row(refusedId);
        h.commands->lstMain->setRowSelected(normal, true);
        h.commands->lstMain->setRowSelected(refused, true);

        h.commands->ReDownload();
        QCOMPARE(h.restarts.size(), 1);
        QCOMPARE(h.restarts.at(0).row, normal);
        QCOMPARE(h.dropped, QStringList{QStringLiteral("http://127.0.0.1:1/b.pdf")});
        QVERIFY(!h.mainList.contains(refused)); // the intake's new row replaces it
        QCOMPARE(h.mainList.count(), 1);
        for (const auto &restart : std::as_const(h.restarts))
            QVERIFY(!restart.savePath.contains(refusal));
    }

    void reDownloadRestartsEachSelectedRowInItsSlot()
    {
        Harness h;
        h.addRow(QStringLiteral("http://127.0.0.1:1/a.zip"));
        const RowId second = h.addRow(QStringLiteral("http://127.0.0.1:1/b.zip"), QStringLiteral("/d/b"));
        const RowId third = h.addRow(QStringLiteral("http://127.0.0.1:1/c.zip"), QStringLiteral("/d/c"));
        // Slot 2 is held by another download; the third row gets the lowest free slot.
        QVERIFY(h.table.create(2, h.services(), 0));
        h.commands->lstMain->setRowSelected(third, true);
        h.commands->lstMain->setRowSelected(second, true);
        QVERIFY(h.commands->runToolbarCommand(QStringLiteral("IDC_FS_ReDownload")));
        QCOMPARE(h.restarts.size(), 2);
        QCOMPARE(h.restarts.at(0).row, second);
        QCOMPARE(h.restarts.at(0).slot, 1);
        QCOMPARE(h.restarts.at(1).row, third);
        QCOMPARE(h.restarts.at(1).slot, 0);

        // Nothing selected: nothing happens.
        h.restarts.clear();
        h.commands->DeSelectAll();
        h.commands->ReDownload();
        QVERIFY(h.restarts.isEmpty());
    }

    void reDownloadOfAnEndedRowReusesItsWindowSlot()
    {
        Harness h;
        h.addRow(QStringLiteral("http://127.0.0.1:1/other.zip"));
        QPointer<frmDownload> w = h.begin(7, QStringLiteral("stall/a.bin"));
        QVERIFY(w);
        QTRY_COMPARE(Harness::stateOf(w), State::Downloading);
        const RowId row = h.rowOf(w);
        const QString path = h.manager().savePath(w->downloadId());

        // While it runs, a re-download leaves it alone.
        h.commands->lstMain->setRowSelected(row, true);
        h.commands->ReDownload();
        QVERIFY(h.restarts.isEmpty());
        QCOMPARE(Harness::stateOf(w), State::Downloading);

        h.commands->StopAll();
        QCOMPARE(Harness::stateOf(w), State::Stopped);
        h.commands->ReDownload();
        QCOMPARE(h.restarts.size(), 1);
        QCOMPARE(h.restarts.at(0).row, row);
        QCOMPARE(h.restarts.at(0).slot, 7);
        QCOMPARE(h.restarts.at(0).url, h.url(QStringLiteral("stall/a.bin")));
        QCOMPARE(h.restarts.at(0).savePath, path);
        // The ended window gave up its slot for the new start.
        QCOMPARE(h.table.at(7), nullptr);
        QTRY_VERIFY(w.isNull());
        QVERIFY(h.mainList.contains(row));
    }

    void reDownloadOfCompletedRowsStartsNewDownloads()
    {
        Harness h;
        const RowId a = h.completeList.addRow({"/d/a", "100%", "1.00 KB", "1.00 KB", "Transfer Completed...",
                                               "http://127.0.0.1:1/a"}, 4);
        h.completeList.addRow({"/d/b", "100%", "1.00 KB", "1.00 KB", "Transfer Completed...", "x ftp://h/b"}, 4);
        const RowId c = h.completeList.addRow({"/d/c", "100%", "1.00 KB", "1.00 KB", "Transfer Completed...",
                                               "ftp://h/c"}, 4);
        h.commands->lstComplete->setRowSelected(a, true);
        h.commands->lstComplete->setRowSelected(c, true);
        QMenu *menu = h.commands->buildCompleteMenu();
        std::unique_ptr<QMenu> owner(menu);
        menu->actions().at(3)->trigger();
        const QList<QPair<QString, QString>> expected{{"http://127.0.0.1:1/a", "/d/a"}, {"ftp://h/c", "/d/c"}};
        QCOMPARE(h.begun, expected);
        QCOMPARE(h.completeList.count(), 3);
        QVERIFY(h.restarts.isEmpty());
    }

    void removingARunningRowLeavesItsDownloadRunning()
    {
        Harness h;
        const RowId queued = h.addRow(QStringLiteral("http://127.0.0.1:1/q.zip"), QStringLiteral("/d/q.zip"));
        QPointer<frmDownload> w = h.begin(1, QStringLiteral("slow/a.bin"));
        QVERIFY(w);
        QTRY_COMPARE(Harness::stateOf(w), State::Downloading);
        const RowId row = h.rowOf(w);
        const QStringList queuedValues = h.mainList.values(queued);

        h.commands->lstMain->setRowSelected(row, true);
        h.commands->RemoveSelection();
        QVERIFY(!h.mainList.contains(row));
        QCOMPARE(h.mainList.count(), 1);
        QCOMPARE(h.table.at(1), w.data());
        QCOMPARE(Harness::stateOf(w), State::Downloading);

        // It completes without touching either list.
        QTRY_COMPARE_WITH_TIMEOUT(Harness::stateOf(w), State::Complete, 15000);
        QCOMPARE(h.completeList.count(), 0);
        QCOMPARE(h.mainList.count(), 1);
        QCOMPARE(h.mainList.values(queued), queuedValues);
        QFile saved(h.manager().savePath(w->downloadId()));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), h.file());
    }

    void clearQueueRemovesRowsNotWindows()
    {
        Harness h;
        QPointer<frmDownload> w = h.begin(0, QStringLiteral("stall/a.bin"));
        QVERIFY(w);
        h.addRow(QStringLiteral("http://127.0.0.1:1/b"));
        QTRY_COMPARE(Harness::stateOf(w), State::Downloading);
        const RowId done = h.completeList.addRow({"/d/c", "100%", "1 Bytes", "1 Bytes", "Transfer Completed...", "u"}, 4);

        QMenu *menu = h.commands->buildQueueMenu();
        std::unique_ptr<QMenu> owner(menu);
        QAction *clear = menu->actions().at(1);
        QCOMPARE(clear->text(), QStringLiteral("Clear Queue"));
        clear->trigger();
        QCOMPARE(h.mainList.count(), 0);
        QCOMPARE(h.table.count(), 1);
        QCOMPARE(Harness::stateOf(w), State::Downloading);
        QVERIFY(h.completeList.contains(done));
    }

    void completedListRemoval()
    {
        Harness h;
        QList<RowId> rows;
        for (const char *name : {"/d/a", "/d/b", "/d/c", "/d/d"})
            rows.append(h.completeList.addRow({name, "100%", "1 Bytes", "1 Bytes", "Transfer Completed...", "u"}, 4));
        h.addRow(QStringLiteral("http://127.0.0.1:1/q"));
        h.commands->lstComplete->setRowSelected(rows.at(1), true);
        h.commands->lstComplete->setRowSelected(rows.at(3), true);
        h.commands->RemoveCompletedSelection();
        QCOMPARE(h.completeList.count(), 2);
        QVERIFY(h.completeList.contains(rows.at(0)) && h.completeList.contains(rows.at(2)));
        QVERIFY(h.commands->lstComplete->selectedRowIds().isEmpty());

        h.commands->RemoveAllCompleted();
        QCOMPARE(h.completeList.count(), 0);
        QCOMPARE(h.mainList.count(), 1);
    }

    void selectAllAndDeselectAll()
    {
        Harness h;
        QList<RowId> rows;
        for (int i = 0; i < 4; ++i)
            rows.append(h.addRow(QStringLiteral("http://127.0.0.1:1/%1").arg(i)));
        h.completeList.addRow({"/d/c", "100%", "1 Bytes", "1 Bytes", "Transfer Completed...", "u"}, 4);
        h.commands->SelectAll();
        QCOMPARE(h.commands->lstMain->selectedRowIds(), rows);
        QVERIFY(h.commands->lstComplete->selectedRowIds().isEmpty());
        h.commands->DeSelectAll();
        QVERIFY(h.commands->lstMain->selectedRowIds().isEmpty());
    }

    void menusCarryTheirEntries_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("queue menu") << 0
                                    << QStringList{"Refresh", "Clear Queue", "Select All", "De-Select All", "-",
                                                   "Re-Download URL...", "Remove Selection", "-", "Pause",
                                                   "Resume", "Open", "Open Folder", "Copy URL"};
        QTest::newRow("completed-list menu")
            << 1 << QStringList{"Remove selection", "Remove All", "-", "Re-Download URL...", "-", "Open",
                                "Open Folder", "Copy URL"};
        QTest::newRow("downloads menu") << 2
                                        << QStringList{"Re-Download", "-", "Pause All", "Resume All", "Stop All"};
    }

    void menusCarryTheirEntries()
    {
        QFETCH(int, which);
        QFETCH(QStringList, entries);
        Harness h;
        std::unique_ptr<QMenu> menu(which == 0   ? h.commands->buildQueueMenu()
                                    : which == 1 ? h.commands->buildCompleteMenu()
                                                 : h.commands->buildDownloadsMenu());
        QStringList shown;
        for (QAction *action : menu->actions())
            shown.append(action->isSeparator() ? QStringLiteral("-") : action->text());
        QCOMPARE(shown, entries);
    }

    // The menu entries act on the selected rows: Pause and Resume steer
    // their downloads, Open and Open Folder go to the desktop, Copy URL
    // puts the URLs on the clipboard, one a line.
    void menuEntriesActOnTheSelection()
    {
        Harness h;
        QPointer<frmDownload> w = h.begin(0, QStringLiteral("slow/a.bin"));
        QVERIFY(w);
        QTRY_COMPARE(Harness::stateOf(w), State::Downloading);
        const RowId running = h.rowOf(w);
        const RowId queued = h.addRow(QStringLiteral("see http://127.0.0.1:1/q.zip"), QStringLiteral("/d/q.zip"));
        h.commands->lstMain->setRowSelected(running, true);
        h.commands->lstMain->setRowSelected(queued, true);
        std::unique_ptr<QMenu> menu(h.commands->buildQueueMenu());
        const auto entry = [&](const QString &text) -> QAction * {
            for (QAction *a : menu->actions()) {
                if (a->text() == text)
                    return a;
            }
            return nullptr;
        };
        entry(QStringLiteral("Pause"))->trigger();
        QTRY_COMPARE(Harness::stateOf(w), State::Paused);
        QCOMPARE(h.manager().state(w->downloadId()), DownloadState::Paused);
        entry(QStringLiteral("Resume"))->trigger();
        QTRY_COMPARE(Harness::stateOf(w), State::Downloading);
        entry(QStringLiteral("Open"))->trigger();
        entry(QStringLiteral("Open Folder"))->trigger();
        const QStringList paths{h.manager().savePath(w->downloadId()), QStringLiteral("/d/q.zip")};
        QCOMPARE(h.opened, paths);
        QCOMPARE(h.folders, paths);
        entry(QStringLiteral("Copy URL"))->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 h.url(QStringLiteral("slow/a.bin")) + QStringLiteral("\nhttp://127.0.0.1:1/q.zip"));
        QVERIFY(h.restarts.isEmpty()); // a queued row is not started by Resume
    }

    // A double click brings a download's window back; on a completed row
    // it opens the file.
    void doubleClickOpensTheWindowOrTheFile()
    {
        Harness h;
        QWidget main;
        auto *layout = new QVBoxLayout(&main);
        layout->addWidget(h.commands->lstMain);
        layout->addWidget(h.commands->lstComplete);
        main.resize(600, 400);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QPointer<frmDownload> w = h.begin(0, QStringLiteral("stall/a.bin"));
        QVERIFY(w);
        QTRY_COMPARE(Harness::stateOf(w), State::Downloading);
        w->showMinimized();
        QTRY_VERIFY(w->isMinimized());
        const RowId done = h.completeList.addRow({"/d/done.pdf", "100%", "1 KB", "1 KB", "Transfer Completed...",
                                                  "http://h/done.pdf"}, 4);
        Q_UNUSED(done);

        DownloadListView *list = h.commands->lstMain;
        const QModelIndex cell = list->model()->index(0, DownloadListModel::Size);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(cell).center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(cell).center());
        QTRY_VERIFY(!w->isMinimized());
        QVERIFY(w->isVisible());
        QVERIFY(h.opened.isEmpty());

        DownloadListView *complete = h.commands->lstComplete;
        const QModelIndex doneCell = complete->model()->index(0, DownloadListModel::Size);
        QTest::mouseClick(complete->viewport(), Qt::LeftButton, {}, complete->visualRect(doneCell).center());
        QTest::mouseDClick(complete->viewport(), Qt::LeftButton, {}, complete->visualRect(doneCell).center());
        QCOMPARE(h.opened, QStringList{QStringLiteral("/d/done.pdf")});
        layout->removeWidget(h.commands->lstMain);
        layout->removeWidget(h.commands->lstComplete);
        h.commands->lstMain->setParent(nullptr);
        h.commands->lstComplete->setParent(nullptr);
    }

    // A running row shows its rate and time left in its status cell (the
    // status in the tooltip); others show their status.
    void runningRowsShowRateAndTimeLeft()
    {
        Harness h(std::chrono::milliseconds(50));
        QPointer<frmDownload> w = h.begin(0, QStringLiteral("slow/a.bin"));
        QVERIFY(w);
        h.addRow(QStringLiteral("http://127.0.0.1:1/q.zip"));
        const QAbstractItemModel *shown = h.commands->lstMain->model();
        const QRegularExpression live(QStringLiteral("^[0-9.,]+ [A-Za-z]+/s, \\d\\d:\\d\\d:\\d\\d left$"));
        QTRY_VERIFY_WITH_TIMEOUT(live.match(shown->index(0, DownloadListModel::Status).data().toString()).hasMatch(),
                                 10000);
        QCOMPARE(shown->index(0, DownloadListModel::Status).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("Downloading..."));
        QCOMPARE(shown->index(1, DownloadListModel::Status).data().toString(), QStringLiteral("N/A"));
        h.manager().pause(w->downloadId());
        QTRY_COMPARE(Harness::stateOf(w), State::Paused);
        QVERIFY(!shown->index(0, DownloadListModel::Status).data().toString().contains(QLatin1String("/s")));
    }

    void queueMenuReDownloadRestartsRows()
    {
        Harness h;
        const RowId row = h.addRow(QStringLiteral("http://127.0.0.1:1/a"));
        h.commands->lstMain->setRowSelected(row, true);
        std::unique_ptr<QMenu> menu(h.commands->buildQueueMenu());
        menu->actions().at(5)->trigger();
        QCOMPARE(h.restarts.size(), 1);
        QCOMPARE(h.restarts.at(0).row, row);
        menu->actions().at(6)->trigger(); // Remove Selection
        QCOMPARE(h.mainList.count(), 0);
    }

    void rightPressOpensTheMenus()
    {
        Harness h;
        QWidget window;
        auto *area = new QLabel(QStringLiteral("drop here"), &window);
        h.commands->addDropArea(area);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QTest::mousePress(area, Qt::RightButton);
        QMenu *menu = area->findChild<QMenu *>();
        QVERIFY(menu);
        QTRY_VERIFY(menu->isVisible());
        QCOMPARE(menu->actions().constFirst()->text(), QStringLiteral("Refresh"));
        menu->close();
        QTRY_VERIFY(!area->findChild<QMenu *>());

        Q_EMIT h.commands->lstComplete->customContextMenuRequested(QPoint(5, 5));
        QMenu *complete = h.commands->lstComplete->findChild<QMenu *>();
        QVERIFY(complete);
        QCOMPARE(complete->actions().constFirst()->text(), QStringLiteral("Remove selection"));
        complete->close();
    }

    void droppedTextGoesToTheIntake_data()
    {
        QTest::addColumn<int>("target");
        QTest::newRow("download list") << 0;
        QTest::newRow("completed list") << 1;
        QTest::newRow("another area") << 2;
    }

    void droppedTextGoesToTheIntake()
    {
        QFETCH(int, target);
        Harness h;
        QLabel area;
        h.commands->addDropArea(&area);
        QWidget *receiver = target == 0   ? h.commands->lstMain->viewport()
                            : target == 1 ? h.commands->lstComplete->viewport()
                                          : static_cast<QWidget *>(&area);
        QMimeData text;
        text.setText(QStringLiteral("http://127.0.0.1:1/dropped.zip"));
        QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &text, Qt::LeftButton, {});
        QCoreApplication::sendEvent(receiver, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &text, Qt::LeftButton, {});
        QCoreApplication::sendEvent(receiver, &drop);
        QCOMPARE(h.dropped, QStringList{QStringLiteral("http://127.0.0.1:1/dropped.zip")});

        // A link dragged without text hands over its URL; a drop with neither is refused.
        QMimeData link;
        link.setUrls({QUrl(QStringLiteral("ftp://127.0.0.1:1/link.bin"))});
        QDragEnterEvent linkEnter(QPoint(2, 2), Qt::CopyAction, &link, Qt::LeftButton, {});
        QCoreApplication::sendEvent(receiver, &linkEnter);
        QVERIFY(linkEnter.isAccepted());
        QDropEvent linkDrop(QPointF(2, 2), Qt::CopyAction, &link, Qt::LeftButton, {});
        QCoreApplication::sendEvent(receiver, &linkDrop);
        QMimeData image;
        image.setImageData(QImage(2, 2, QImage::Format_RGB32));
        QDragEnterEvent imageEnter(QPoint(2, 2), Qt::CopyAction, &image, Qt::LeftButton, {});
        QCoreApplication::sendEvent(receiver, &imageEnter);
        QVERIFY(!imageEnter.isAccepted());
        QCOMPARE(h.dropped, QStringList({"http://127.0.0.1:1/dropped.zip", "ftp://127.0.0.1:1/link.bin"}));
        // Several links: one URL a line, for the intake to take each.
        QMimeData links;
        links.setUrls({QUrl(QStringLiteral("http://127.0.0.1:1/1.zip")), QUrl(QStringLiteral("ftp://127.0.0.1:1/2.iso"))});
        QDragEnterEvent linksEnter(QPoint(2, 2), Qt::CopyAction, &links, Qt::LeftButton, {});
        QCoreApplication::sendEvent(receiver, &linksEnter);
        QVERIFY(linksEnter.isAccepted());
        QDropEvent linksDrop(QPointF(2, 2), Qt::CopyAction, &links, Qt::LeftButton, {});
        QCoreApplication::sendEvent(receiver, &linksDrop);
        QCOMPARE(h.dropped.last().trimmed(), QStringLiteral("http://127.0.0.1:1/1.zip\nftp://127.0.0.1:1/2.iso"));
        QCOMPARE(h.mainList.count(), 0); // the intake adds rows, not the drop
    }

    void totalRateSumsEveryWindow()
    {
        Harness h(std::chrono::milliseconds(10));
        QSignalSpy rate(h.commands.get(), &QueueCommands::totalRateChanged);
        QVERIFY(rate.wait(2000));
        QCOMPARE(rate.constLast().at(0).toDouble(), 0.0);
        QCOMPARE(rate.constLast().at(1).toString(), QStringLiteral("Total Transfer Rate: 0.00 KB/s"));

        // Two downloads that trickle in, each with its window; the rate of
        // every running download counts, even with its row removed.
        h.fileSize = 400000;
        QPointer<frmDownload> a = h.begin(0, QStringLiteral("slow/a.bin"));
        QPointer<frmDownload> b = h.begin(57, QStringLiteral("slow/b.bin"));
        QVERIFY(a && b);
        h.mainList.removeRowById(h.rowOf(b));
        const auto rateOf = [](const frmDownload *w) { return w->job() ? w->job()->progress().rate : 0.0; };
        QTRY_VERIFY(rateOf(a) > 0 && rateOf(b) > 0);
        h.commands->updateTotalRate();
        const double total = h.commands->totalRate();
        QCOMPARE(total, rateOf(a) + rateOf(b));
        QCOMPARE(total, h.manager().totalRate());
        const QString text = QStringLiteral("Total Transfer Rate: %1 KB/s").arg(total / 1000.0, 0, 'f', 2);
        QCOMPARE(rate.constLast().at(1).toString(), text);
        QCOMPARE(h.commands->totalRateText(), text);

        // Once the downloads end their rates go, and so does the total.
        h.manager().stop(a->downloadId());
        h.commands->updateTotalRate();
        QCOMPARE(h.commands->totalRate(), rateOf(b));
        h.manager().cancel(b->downloadId());
        QTRY_COMPARE(rate.constLast().at(1).toString(), QStringLiteral("Total Transfer Rate: 0.00 KB/s"));
    }

    void totalRateCaptionIsLookedUp()
    {
        DownloadListModel mainList, completeList;
        DownloadWindowTable table;
        DownloadManager manager({});
        QueueCommands::Options options;
        options.locale = QLocale::c();
        QueueCommands commands(
            mainList, completeList, table, manager,
            [](const QString &id, const QString &text) {
                return id == QLatin1String("01008") ? QStringLiteral("Gesamtrate: ") : text;
            },
            {}, options);
        commands.updateTotalRate();
        QCOMPARE(commands.totalRateText(), QStringLiteral("Gesamtrate: 0.00 KB/s"));
    }

    void modeListKeepsOneEntryPerSlot()
    {
        Harness h;
        ModeList &mode = h.commands->lstMode;
        QCOMPARE(mode.rowCount(), 101);
        frmDownload *w = h.table.create(42, h.services(), 0);
        QVERIFY(w);
        mode.watch(*w);
        mode.watch(*w); // watching twice writes once
        QSignalSpy changed(&mode, &QAbstractItemModel::dataChanged);
        Q_EMIT w->modeEntryChanged(42, QStringLiteral("Error"));
        QCOMPARE(mode.entry(42), QStringLiteral("Error"));
        QCOMPARE(changed.count(), 1);
        mode.setEntry(101, QStringLiteral("x"));
        mode.setEntry(-1, QStringLiteral("x"));
        QCOMPARE(mode.rowCount(), 101);
        QCOMPARE(mode.entry(0), QString());
    }
};

QTEST_MAIN(TestQueueCommands)
#include "tst_queuecommands.moc"
