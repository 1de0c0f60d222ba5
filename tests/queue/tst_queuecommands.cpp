// The commands of the download list and the completed list, against real
// download windows fetching from a scripted HTTP server on loopback.
#include "config/cregister.h"
#include "config/settingsrecord.h"
#include "download/downloadjob.h"
#include "download/downloadlist.h"
#include "download/ui/downloadwindows.h"
#include "download/ui/frmdownload.h"
#include "platform/registrystore.h"
#include "platform/ui/shell.h"
#include "queue/ui/queuecommands.h"

#include "fakeserver.h"
#include "scriptedprompts.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Column = DownloadListModel::Column;
using RowId = DownloadListModel::RowId;
using State = DownloadJob::State;

class NullShell final : public DesktopShell {
public:
    bool openFile(const QString &) override { return true; }
    bool showFolder(const QString &) override { return true; }
    bool startProgram(const QString &, const QStringList &) override { return true; }
};

QByteArray fileContent(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char('a' + (i * 7 + i / 251) % 26);
    return bytes;
}

// Answers a ranged GET with 206. Files under "/stall/" send a quarter of
// their data and then go silent; files under "/slow/" come in small pieces;
// others at once.
FakePlan rangeReply(const QByteArray &file, const QByteArray &request)
{
    const QByteArray line = request.left(request.indexOf("\r\n"));
    qint64 first = 0;
    qint64 last = file.size() - 1;
    bool probe = true;
    if (const std::optional<QByteArray> range = FakeServer::headerValue(request, "Range")) {
        const QByteArray bounds = range->mid(range->indexOf('=') + 1);
        const QByteArray from = bounds.left(bounds.indexOf('-'));
        const QByteArray to = bounds.mid(bounds.indexOf('-') + 1);
        if (!from.isEmpty())
            first = from.toLongLong();
        if (!to.isEmpty()) {
            last = to.toLongLong();
            probe = false;
        }
    }
    const QByteArray body = file.mid(first, last - first + 1);
    FakePlan plan;
    plan.send(FakeServer::httpHead("HTTP/1.1 206 Partial Content",
                                   {"Content-Range: bytes " + QByteArray::number(first) + '-'
                                        + QByteArray::number(last) + '/' + QByteArray::number(file.size()),
                                    "Content-Length: " + QByteArray::number(body.size())}));
    if (probe) {
        plan.send(body).close();
    } else if (line.contains("/stall/")) {
        plan.send(body.left(body.size() / 4)).stall();
    } else if (line.contains("/slow/")) {
        plan.sendInPieces(body, 4000, 30).close();
    } else {
        plan.send(body).close();
    }
    return plan;
}

struct Harness {
    QTemporaryDir dir;
    Registry registry{dir.filePath(QStringLiteral("config"))};
    CRegister reg{registry};
    SettingsRecord record;
    DownloadListModel mainList;
    DownloadListModel completeList;
    ScriptedPrompts prompts;
    NullShell shell;
    FakeServer server;
    QByteArray file = fileContent(40000);
    DownloadWindowTable table;

    QList<QueueCommands::RestartRequest> restarts;
    QList<QPair<QString, QString>> begun;
    QStringList dropped;
    std::unique_ptr<QueueCommands> commands;

    explicit Harness(std::chrono::milliseconds ratePeriod = std::chrono::hours(1))
    {
        LoadSettings(record, reg);
        record.StopResume = false; // no stall detector: pauses stay as the test leaves them
        record.Retry = false;
        server.setResponder([this](FakeConnection &, const QByteArray &request) { return rangeReply(file, request); });

        QueueCommands::Callbacks callbacks;
        callbacks.restartRow = [this](const QueueCommands::RestartRequest &r) { restarts.append(r); };
        callbacks.beginDownload = [this](const QString &url, const QString &path) { begun.append({url, path}); };
        callbacks.downloadUrl = [this](const QString &text) { dropped.append(text); };
        QueueCommands::Options options;
        options.ratePeriod = ratePeriod;
        options.locale = QLocale::c();
        commands = std::make_unique<QueueCommands>(mainList, completeList, table, defaultCaptions(),
                                                   std::move(callbacks), options);
    }
    ~Harness()
    {
        commands.reset();
        // Windows first: they hold the rows and the record.
        for (int slot = 0; slot < DownloadWindowTable::SlotCount; ++slot)
            delete table.take(slot);
    }

    DownloadJob::Services services()
    {
        DownloadJob::Services s;
        s.record = &record;
        s.reg = &reg;
        s.prompts = &prompts;
        s.mainList = &mainList;
        s.completeList = &completeList;
        s.timing.update = std::chrono::milliseconds(20);
        s.timing.rate = std::chrono::milliseconds(40);
        s.timing.timeout = std::chrono::milliseconds(30);
        return s;
    }

    QString url(const QString &name) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(server.port()).arg(name);
    }

    RowId addRow(const QString &url, const QString &path = QStringLiteral("/tmp/x.bin"))
    {
        return mainList.addRow({path, "0%", "N/A", "N/A", "N/A", url});
    }

    // A download in a slot with its own row, started the way the intake does.
    frmDownload *begin(int slot, const QString &name)
    {
        frmDownload *window = table.create(slot, services(), &shell, &prompts);
        if (!window)
            return nullptr;
        DownloadJob &job = window->job();
        record.intExistChoice = 0;
        const QString link = url(name);
        const QString path = dir.filePath(name.section(QLatin1Char('/'), -1) + QString::number(slot));
        job.ParseURL(link);
        job.lstItem = addRow(link, path);
        job.strSaveTo = path;
        job.strURL = link;
        job.StartDownload();
        return window;
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
        QTRY_COMPARE(running->job().state(), State::Downloading);
        QTRY_COMPARE(paused->job().state(), State::Downloading);
        paused->job().Pause_Resume();
        QCOMPARE(paused->job().state(), State::Paused);
        // A window that never started has nothing to pause or resume.
        frmDownload *idle = h.table.create(9, h.services(), &h.shell, &h.prompts);
        QVERIFY(idle);

        // Pending events run during the walk.
        bool yielded = false;
        QTimer::singleShot(0, [&] { yielded = true; });
        h.commands->PauseAll();
        QVERIFY(yielded);
        QCOMPARE(running->job().state(), State::Paused);
        QCOMPARE(paused->job().state(), State::Paused); // not toggled back to running
        QCOMPARE(idle->job().state(), State::Idle);
        QCOMPARE(h.mainList.value(running->job().lstItem, Column::Status), QStringLiteral("Paused/Stopped"));
        QCOMPARE(h.table.count(), 3); // no window made for an empty slot

        const int connections = h.server.connectionCount();
        h.commands->ResumeAll();
        QCOMPARE(running->job().state(), State::Downloading);
        QCOMPARE(paused->job().state(), State::Downloading);
        QCOMPARE(idle->job().state(), State::Idle);
        QTRY_COMPARE(h.server.connectionCount(), connections + 2);
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
            QTRY_COMPARE(w->job().state(), State::Downloading);
        c->job().Pause_Resume();

        h.commands->StopAll();
        QCOMPARE(a->job().state(), State::Stopped);
        QCOMPARE(b->job().state(), State::Stopped);
        QCOMPARE(c->job().state(), State::Paused);
        QCOMPARE(a->job().display().status, QStringLiteral("Transfer Stopped"));
        QCOMPARE(h.mainList.value(b->job().lstItem, Column::Status), QStringLiteral("Paused/Stopped"));
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
        QTRY_COMPARE(w->job().state(), State::Downloading);
        QVERIFY(h.commands->runToolbarCommand(QStringLiteral("IDC_FS_PauseAll")));
        QCOMPARE(w->job().state(), State::Paused);
        QVERIFY(h.commands->runToolbarCommand(QStringLiteral("IDC_FS_ResumeAll")));
        QCOMPARE(w->job().state(), State::Downloading);
        QVERIFY(h.commands->runToolbarCommand(QStringLiteral("IDC_FS_StopAll")));
        QCOMPARE(w->job().state(), State::Stopped);
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

    void reDownloadRestartsEachSelectedRowInItsSlot()
    {
        Harness h;
        h.addRow(QStringLiteral("http://127.0.0.1:1/a.zip"));
        const RowId second = h.addRow(QStringLiteral("http://127.0.0.1:1/b.zip"), QStringLiteral("/d/b"));
        const RowId third = h.addRow(QStringLiteral("http://127.0.0.1:1/c.zip"), QStringLiteral("/d/c"));
        // Slot 2 is held by another download; the third row gets the lowest free slot.
        QVERIFY(h.table.create(2, h.services(), &h.shell, &h.prompts));
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
        QTRY_COMPARE(w->job().state(), State::Downloading);
        const RowId row = w->job().lstItem;
        const QString path = w->job().strSaveTo;

        // While it runs, a re-download leaves it alone.
        h.commands->lstMain->setRowSelected(row, true);
        h.commands->ReDownload();
        QVERIFY(h.restarts.isEmpty());
        QCOMPARE(w->job().state(), State::Downloading);

        h.commands->StopAll();
        QCOMPARE(w->job().state(), State::Stopped);
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
        QTRY_COMPARE(w->job().state(), State::Downloading);
        const RowId row = w->job().lstItem;
        const QStringList queuedValues = h.mainList.values(queued);

        h.commands->lstMain->setRowSelected(row, true);
        h.commands->RemoveSelection();
        QVERIFY(!h.mainList.contains(row));
        QCOMPARE(h.mainList.count(), 1);
        QCOMPARE(h.table.at(1), w.data());
        QCOMPARE(w->job().state(), State::Downloading);

        // It completes without touching either list.
        QTRY_COMPARE_WITH_TIMEOUT(w->job().state(), State::Complete, 15000);
        QCOMPARE(h.completeList.count(), 0);
        QCOMPARE(h.mainList.count(), 1);
        QCOMPARE(h.mainList.values(queued), queuedValues);
        QFile saved(w->job().strSaveTo);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), h.file);
    }

    void clearQueueRemovesRowsNotWindows()
    {
        Harness h;
        QPointer<frmDownload> w = h.begin(0, QStringLiteral("stall/a.bin"));
        QVERIFY(w);
        h.addRow(QStringLiteral("http://127.0.0.1:1/b"));
        QTRY_COMPARE(w->job().state(), State::Downloading);
        const RowId done = h.completeList.addRow({"/d/c", "100%", "1 Bytes", "1 Bytes", "Transfer Completed...", "u"}, 4);

        QMenu *menu = h.commands->buildQueueMenu();
        std::unique_ptr<QMenu> owner(menu);
        QAction *clear = menu->actions().at(1);
        QCOMPARE(clear->text(), QStringLiteral("Clear Queue"));
        clear->trigger();
        QCOMPARE(h.mainList.count(), 0);
        QCOMPARE(h.table.count(), 1);
        QCOMPARE(w->job().state(), State::Downloading);
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
                                                   "Re-Download URL...", "Remove Selection"};
        QTest::newRow("completed-list menu")
            << 1 << QStringList{"Remove selection", "Remove All", "-", "Re-Download URL..."};
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
        QCOMPARE(h.mainList.count(), 0); // the intake adds rows, not the drop
    }

    void totalRateSumsEveryWindow()
    {
        Harness h(std::chrono::milliseconds(10));
        QSignalSpy rate(h.commands.get(), &QueueCommands::totalRateChanged);
        QVERIFY(rate.wait(2000));
        QCOMPARE(rate.constLast().at(0).toDouble(), 0.0);
        QCOMPARE(rate.constLast().at(1).toString(), QStringLiteral("Total Transfer Rate: 0.00 KB/s"));

        frmDownload *a = h.table.create(0, h.services(), &h.shell, &h.prompts);
        frmDownload *b = h.table.create(57, h.services(), &h.shell, &h.prompts);
        frmDownload *c = h.table.create(100, h.services(), &h.shell, &h.prompts);
        QVERIFY(a && b && c);
        a->job().intTransferRate = 1500;
        b->job().intTransferRate = 2250.5;
        c->job().intTransferRate = 250;
        // Counted even with an empty list: a window whose row was removed still transfers.
        QTRY_COMPARE(h.commands->totalRate(), 4000.5);
        QTRY_COMPARE(rate.constLast().at(1).toString(), QStringLiteral("Total Transfer Rate: 4.00 KB/s"));
        QCOMPARE(h.commands->totalRateText(), QStringLiteral("Total Transfer Rate: 4.00 KB/s"));

        // Once the downloads end their rates go, and so does the total.
        h.table.release(57);
        a->job().intTransferRate = 0;
        QTRY_COMPARE(h.commands->totalRate(), 250.0);
        c->job().intTransferRate = 0;
        QTRY_COMPARE(rate.constLast().at(1).toString(), QStringLiteral("Total Transfer Rate: 0.00 KB/s"));
    }

    void totalRateCaptionIsLookedUp()
    {
        DownloadListModel mainList, completeList;
        DownloadWindowTable table;
        QueueCommands::Options options;
        options.locale = QLocale::c();
        QueueCommands commands(
            mainList, completeList, table,
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
        frmDownload *w = h.table.create(42, h.services(), &h.shell, &h.prompts);
        QVERIFY(w);
        mode.watch(w->job());
        mode.watch(w->job()); // watching twice writes once
        QSignalSpy changed(&mode, &QAbstractItemModel::dataChanged);
        Q_EMIT w->job().modeEntryChanged(42, QStringLiteral("Error"));
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
