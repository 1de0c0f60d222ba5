#include "historyfixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;

namespace {

QStringList queued(const QString &name)
{
    return {QStringLiteral("/d/") + name, QStringLiteral("0%"), QStringLiteral("N/A"), QStringLiteral("N/A"),
            QStringLiteral("Not Downloaded"), QStringLiteral("http://h/") + name};
}

// The rows the file on disk holds, without their dates.
Rows savedRows(const HistoryFixture &fx, bool completed)
{
    const history::Content content = history::parseFile(fx.fileBytes());
    Rows rows = completed ? content.completed : content.downloads;
    for (QStringList &r : rows)
        r.removeLast();
    return rows;
}

Rows listRows(const DownloadListModel &model)
{
    Rows rows = HistoryFixture::rowsOf(model);
    for (QStringList &r : rows)
        r.removeLast();
    return rows;
}

} // namespace

class TestHistoryAutosaver : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void writesSoonAfterEachKindOfChange_data()
    {
        QTest::addColumn<bool>("onCompleted");
        QTest::addColumn<QString>("change");
        for (bool completed : {false, true}) {
            const char *list = completed ? "completed " : "download ";
            for (const char *change : {"insert", "remove", "value", "clear"})
                QTest::newRow((QByteArray(list) + change).constData()) << completed << QString::fromLatin1(change);
        }
    }

    void writesSoonAfterEachKindOfChange()
    {
        QFETCH(bool, onCompleted);
        QFETCH(QString, change);

        HistoryFixture fx;
        HistoryFixture::fill(fx.mainList, {queued(QStringLiteral("a")), queued(QStringLiteral("b"))}, 1);
        HistoryFixture::fill(fx.completeList, {queued(QStringLiteral("c")), queued(QStringLiteral("d"))}, 4);
        QVERIFY(fx.store->writeFile());
        const QByteArray before = fx.fileBytes();

        HistoryAutosaver saver(*fx.store, 50ms);
        QSignalSpy saved(&saver, &HistoryAutosaver::saved);
        DownloadListModel &model = onCompleted ? fx.completeList : fx.mainList;
        if (change == QLatin1String("insert"))
            model.addRow(queued(QStringLiteral("new")));
        else if (change == QLatin1String("remove"))
            model.removeRowById(model.idAt(0));
        else if (change == QLatin1String("value"))
            model.setValue(model.idAt(1), DownloadListModel::Progress, QStringLiteral("55%"));
        else
            model.clear();

        // Not written at once, but within the delay.
        QVERIFY(saver.pending());
        QCOMPARE(fx.fileBytes(), before);
        QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, 2000);
        QVERIFY(!saver.pending());
        QCOMPARE(savedRows(fx, false), listRows(fx.mainList));
        QCOMPARE(savedRows(fx, true), listRows(fx.completeList));
        QVERIFY(fx.fileBytes() != before);
    }

    // Changes within one delay are written together, once.
    void changesWithinTheDelayAreWrittenOnce()
    {
        HistoryFixture fx;
        HistoryAutosaver saver(*fx.store, 200ms);
        QSignalSpy saved(&saver, &HistoryAutosaver::saved);
        const auto id = fx.mainList.addRow(queued(QStringLiteral("a")));
        fx.mainList.setValue(id, DownloadListModel::Status, QStringLiteral("Connected"));
        fx.completeList.addRow(queued(QStringLiteral("c")), 4);
        fx.mainList.addRow(queued(QStringLiteral("b")));
        QVERIFY(!QFile::exists(fx.historyPath()));

        QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, 3000);
        QCOMPARE(savedRows(fx, false), listRows(fx.mainList));
        QCOMPARE(savedRows(fx, true), listRows(fx.completeList));
        QTest::qWait(400);
        QCOMPARE(saved.count(), 1);
    }

    // A row that changes all the time (a running download) does not keep
    // postponing the write.
    void continuousChangesStillSave()
    {
        HistoryFixture fx;
        const auto id = fx.mainList.addRow(queued(QStringLiteral("a")));
        HistoryAutosaver saver(*fx.store, 100ms);
        QSignalSpy saved(&saver, &HistoryAutosaver::saved);

        int percent = 0;
        QTimer progress;
        progress.setInterval(10);
        connect(&progress, &QTimer::timeout, &fx.mainList, [&] {
            fx.mainList.setValue(id, DownloadListModel::Progress, QString::number(++percent) + QLatin1Char('%'));
        });
        progress.start();
        QTRY_VERIFY_WITH_TIMEOUT(saved.count() >= 2, 3000);
        progress.stop();
        QVERIFY(percent > 0);
        QVERIFY(savedRows(fx, false).value(0).value(1) != QStringLiteral("0%"));
    }

    void flushWritesAPendingChangeAtOnce()
    {
        HistoryFixture fx;
        HistoryAutosaver saver(*fx.store, 60s);
        QSignalSpy saved(&saver, &HistoryAutosaver::saved);

        QVERIFY(saver.flush()); // nothing pending: nothing written
        QCOMPARE(saved.count(), 0);
        QVERIFY(!QFile::exists(fx.historyPath()));

        fx.mainList.addRow(queued(QStringLiteral("a")));
        QVERIFY(saver.pending());
        QVERIFY(saver.flush());
        QVERIFY(!saver.pending());
        QCOMPARE(saved.count(), 1);
        QCOMPARE(savedRows(fx, false), listRows(fx.mainList));
    }

    void emptyingBothListsRemovesTheFile()
    {
        HistoryFixture fx;
        fx.mainList.addRow(queued(QStringLiteral("a")));
        fx.completeList.addRow(queued(QStringLiteral("c")), 4);
        QVERIFY(fx.store->writeFile());
        HistoryAutosaver saver(*fx.store, 30ms);
        QSignalSpy saved(&saver, &HistoryAutosaver::saved);

        fx.mainList.clear();
        QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, 2000);
        QVERIFY(QFile::exists(fx.historyPath()));
        fx.completeList.removeRowById(fx.completeList.idAt(0));
        QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 2, 2000);
        QVERIFY(!QFile::exists(fx.historyPath()));
    }

    // A failed write is reported and kept pending, and the next write after
    // the cause is gone succeeds.
    void failedWriteStaysPending()
    {
        HistoryFixture fx;
        HistoryStore::Services s;
        s.mainList = &fx.mainList;
        s.completeList = &fx.completeList;
        const QString dir = fx.dir.filePath(QStringLiteral("later"));
        s.programDir = dir;
        HistoryStore store(s);
        HistoryAutosaver saver(store, 20ms);
        QSignalSpy failed(&saver, &HistoryAutosaver::saveFailed);
        QSignalSpy saved(&saver, &HistoryAutosaver::saved);

        fx.mainList.addRow(queued(QStringLiteral("a")));
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 2000);
        QVERIFY(!failed.first().first().toString().isEmpty());
        QVERIFY(saver.pending());

        QVERIFY(QDir().mkpath(dir));
        QVERIFY(saver.flush());
        QCOMPARE(saved.count(), 1);
        QVERIFY(QFile::exists(store.filePath()));
    }

    // While the autosaver rewrites a large history again and again, a reader
    // only ever finds the complete old or the complete new file.
    void readersNeverSeeAPartialFile()
    {
        HistoryFixture fx;
        auto bigList = [](const QString &tag) {
            Rows rows;
            for (int i = 0; i < 2000; ++i) {
                QStringList r = queued(tag + QString::number(i));
                r[0] += QString(200, QLatin1Char('x'));
                rows.append(r);
            }
            return rows;
        };
        const Rows first = bigList(QStringLiteral("first"));
        const Rows second = bigList(QStringLiteral("second"));
        HistoryFixture::fill(fx.mainList, first, 1);
        QVERIFY(fx.store->writeFile());
        const QByteArray contentA = fx.fileBytes();
        HistoryFixture::fill(fx.mainList, second, 1);
        QVERIFY(fx.store->writeFile());
        const QByteArray contentB = fx.fileBytes();
        QVERIFY(contentA.size() > 400000);

        std::atomic<bool> stop{false};
        std::atomic<int> reads{0};
        std::atomic<int> bad{0};
        const QString path = fx.historyPath();
        std::thread reader([&] {
            for (int i = 0; i < 1000000 && !stop.load(); ++i) {
                QFile f(path);
                if (!f.open(QIODevice::ReadOnly)) {
                    ++bad;
                    continue;
                }
                const QByteArray got = f.readAll();
                if (got != contentA && got != contentB)
                    ++bad;
                ++reads;
            }
        });

        HistoryAutosaver saver(*fx.store, 0ms);
        QSignalSpy saved(&saver, &HistoryAutosaver::saved);
        for (int round = 0; round < 20; ++round) {
            HistoryFixture::fill(fx.mainList, round % 2 ? second : first, 1);
            QTRY_COMPARE_WITH_TIMEOUT(saved.count(), round + 1, 5000);
        }
        QElapsedTimer waited;
        waited.start();
        while (reads.load() < 20 && waited.elapsed() < 5000)
            QTest::qWait(10);
        stop = true;
        reader.join();

        QCOMPARE(bad.load(), 0);
        QVERIFY(reads.load() >= 20);
        QCOMPARE(fx.fileBytes(), contentB);
    }
};

QTEST_GUILESS_MAIN(TestHistoryAutosaver)
#include "tst_historyautosaver.moc"
