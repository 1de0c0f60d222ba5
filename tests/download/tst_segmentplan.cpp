#include "config/settingsrecord.h"
#include "download/segmentplan.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr qint64 MiB = 1048576;

// The plan's ranges in file order.
QList<SegmentRange> ordered(const SegmentPlan &plan)
{
    QList<SegmentRange> out;
    for (int id = 0; id < plan.count(); ++id)
        out.append(plan.range(id));
    std::sort(out.begin(), out.end(), [](const SegmentRange &a, const SegmentRange &b) { return a.start < b.start; });
    return out;
}

bool tiles(const SegmentPlan &plan)
{
    qint64 at = 0;
    for (const SegmentRange &r : ordered(plan)) {
        if (r.start != at || r.end <= r.start || r.pos < r.start || r.pos > r.end)
            return false;
        at = r.end;
    }
    return at == plan.size();
}

} // namespace

Q_DECLARE_METATYPE(FileValidators)

class TestSegmentPlan : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void segmentTable_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("segments");
        QTest::newRow("below the table") << 2 * MiB - 1 << 0;
        QTest::newRow("2 MiB") << 2 * MiB << 2;
        QTest::newRow("5 MiB") << 5 * MiB << 2;
        QTest::newRow("5 MiB + 1") << 5 * MiB + 1 << 3;
        QTest::newRow("10 MiB + 1") << 10 * MiB + 1 << 4;
        QTest::newRow("15 MiB + 1") << 15 * MiB + 1 << 5;
        QTest::newRow("20 MiB") << 20 * MiB << 5;
        QTest::newRow("20 MiB + 1") << 20 * MiB + 1 << 6;
        QTest::newRow("5 GiB") << 5120 * MiB << 6;
    }

    void segmentTable()
    {
        QFETCH(qint64, size);
        QFETCH(int, segments);
        QCOMPARE(SegmentPlan::segmentsForSize(size, SettingsRecord{}.SegmentSize, 0), segments);
    }

    void gapInTheTableKeepsTheCurrentCount()
    {
        const std::array<double, 9> t{100, 200, 300, 400, 500, 600, 700, 800, 900};
        QCOMPARE(SegmentPlan::segmentsForSize(250, t, 0), 0);
        QCOMPARE(SegmentPlan::segmentsForSize(250, t, 4), 4);
        QCOMPARE(SegmentPlan::segmentsForSize(350, t, 0), 3);
    }

    void questionIsOffered_data()
    {
        QTest::addColumn<bool>("segmentOn");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("resuming");
        QTest::addColumn<bool>("offered");
        QTest::newRow("on, large") << true << 3 * MiB << false << true;
        QTest::newRow("off") << false << 3 * MiB << false << false;
        QTest::newRow("below the table") << true << 2 * MiB - 1 << false << false;
        QTest::newRow("resuming") << true << 3 * MiB << true << false;
    }

    void questionIsOffered()
    {
        QFETCH(bool, segmentOn);
        QFETCH(qint64, size);
        QFETCH(bool, resuming);
        QFETCH(bool, offered);
        QCOMPARE(SegmentPlan::offersSegments(segmentOn, SettingsRecord{}.SegmentSize, size, resuming), offered);
    }

    void firstPlan_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<qint64>>("starts");
        QTest::newRow("5 MiB in two") << 5 * MiB << 2 << QList<qint64>{0, 2621440};
        QTest::newRow("5 MiB + 1 in three") << 5 * MiB + 1 << 3 << QList<qint64>{0, 1747627, 3495254};
        QTest::newRow("30 MiB in six") << 30 * MiB << 6
                                       << QList<qint64>{0, 5242880, 10485760, 15728640, 20971520, 26214400};
    }

    void firstPlan()
    {
        QFETCH(qint64, size);
        QFETCH(int, count);
        QFETCH(QList<qint64>, starts);
        const SegmentPlan plan = SegmentPlan::split(size, count);
        QCOMPARE(plan.connections(), count);
        QVERIFY(plan.isSegmented());
        QCOMPARE(plan.count(), count);
        for (int k = 0; k < count; ++k) {
            QCOMPARE(plan.range(k).start, starts.at(k));
            QCOMPARE(plan.range(k).pos, starts.at(k));
            QCOMPARE(plan.range(k).end, k + 1 < count ? starts.at(k + 1) : size);
        }
        QCOMPARE(plan.received(), qint64(0));
        QVERIFY(!plan.isComplete());
    }

    void writesStopAtTheRangeEnd()
    {
        SegmentPlan plan = SegmentPlan::split(100, 2);
        QCOMPARE(plan.room(0, 80), qint64(50));
        plan.advance(0, 30);
        QCOMPARE(plan.room(0, 80), qint64(20));
        plan.advance(0, 80); // never past the end
        QCOMPARE(plan.range(0).pos, qint64(50));
        QVERIFY(plan.range(0).isDone());
        QCOMPARE(plan.incomplete(), QList<int>{1});
        plan.advance(1, 50);
        QVERIFY(plan.isComplete());
        QCOMPARE(plan.received(), qint64(100));

        SegmentPlan single = SegmentPlan::single(1000, 400);
        QVERIFY(!single.isSegmented());
        QCOMPARE(single.received(), qint64(400));
        single.rollBack(0, 4096); // never before the range's start
        QCOMPARE(single.range(0).pos, qint64(0));
    }

    void idleConnectionTakesTheUpperHalfOfTheLargestRange()
    {
        SegmentPlan plan = SegmentPlan::split(12 * MiB, 3); // 4 MiB each
        plan.advance(0, 4 * MiB);                           // the first is done
        plan.advance(1, 1 * MiB);                           // 3 MiB left
        plan.advance(2, 3 * MiB + MiB / 2);                 // 0.5 MiB left
        const std::optional<int> upper = plan.splitLargest();
        QVERIFY(upper);
        QCOMPARE(*upper, 3);
        // The second range is cut in the middle of what it has left.
        QCOMPARE(plan.range(1), (SegmentRange{4 * MiB, 6 * MiB + MiB / 2, 5 * MiB}));
        QCOMPARE(plan.range(3), (SegmentRange{6 * MiB + MiB / 2, 8 * MiB, 6 * MiB + MiB / 2}));
        QVERIFY(tiles(plan));
        QCOMPARE(plan.received(), qint64(4 * MiB + MiB + 3 * MiB + MiB / 2));
    }

    void nothingIsSplitAtOneMebibyteOrLess()
    {
        SegmentPlan plan = SegmentPlan::split(4 * MiB, 2);
        plan.advance(0, 2 * MiB);
        plan.advance(1, MiB); // exactly 1 MiB left
        QVERIFY(!plan.splitLargest());
        plan.rollBack(1, 1); // one byte more
        QVERIFY(plan.splitLargest());
    }

    void theRangeThatWouldTakeLongestIsSplit_data()
    {
        QTest::addColumn<double>("rate0");
        QTest::addColumn<double>("rate1");
        QTest::addColumn<int>("chosen");
        // Range 0 has 6 MiB left, range 1 has 3 MiB left.
        QTest::newRow("no rates: the largest") << 0.0 << 0.0 << 0;
        QTest::newRow("equal rates: the largest") << 2.0 << 2.0 << 0;
        QTest::newRow("the smaller one crawls") << 20.0 << 2.0 << 1;
        QTest::newRow("a range without a rate counts at the mean") << 0.0 << 1.0 << 0;
    }

    void theRangeThatWouldTakeLongestIsSplit()
    {
        QFETCH(double, rate0);
        QFETCH(double, rate1);
        QFETCH(int, chosen);
        SegmentPlan plan = SegmentPlan::split(16 * MiB, 2);
        plan.advance(0, 2 * MiB);
        plan.advance(1, 5 * MiB);
        QHash<int, double> rates;
        if (rate0 > 0)
            rates.insert(0, rate0 * MiB);
        if (rate1 > 0)
            rates.insert(1, rate1 * MiB);
        QCOMPARE(plan.slowestRange(rates), std::optional<int>(chosen));
    }

    void aSlowWriterKeepsLittle_data()
    {
        QTest::addColumn<double>("keep");
        QTest::addColumn<qint64>("kept");
        QTest::newRow("half") << 0.5 << 2 * MiB;
        QTest::newRow("a quarter") << 0.25 << MiB;
        QTest::newRow("never less than a tenth") << 0.01 << qint64(4 * MiB / 10);
        QTest::newRow("never more than half") << 0.9 << 2 * MiB;
    }

    void aSlowWriterKeepsLittle()
    {
        QFETCH(double, keep);
        QFETCH(qint64, kept);
        SegmentPlan plan = SegmentPlan::single(8 * MiB, 4 * MiB);
        const std::optional<int> upper = plan.splitRange(0, keep);
        QVERIFY(upper);
        QCOMPARE(plan.range(0).left(), kept);
        QCOMPARE(plan.range(*upper).start, plan.range(0).end);
        QCOMPARE(plan.range(*upper).end, 8 * MiB);
        QVERIFY(tiles(plan));
        QVERIFY(!SegmentPlan::single(8 * MiB, 7 * MiB).splitRange(0)); // 1 MiB left: not split
    }

    void sidecarRecordsTheCurrentRanges()
    {
        SegmentPlan plan = SegmentPlan::split(12 * MiB, 3);
        plan.advance(0, 4 * MiB);
        plan.advance(1, MiB);
        plan.advance(2, 2 * MiB);
        QVERIFY(plan.splitLargest()); // 4..6.5 and 6.5..8 MiB
        plan.advance(3, MiB / 2);
        // The written first range joins the range after it.
        const QByteArray expected = "size 12582912\n"
                                    "segment 0 6815744 5242880\n"
                                    "segment 6815744 8388608 7340032\n"
                                    "segment 8388608 12582912 10485760\n";
        QCOMPARE(plan.serialize(), expected);

        const std::optional<SegmentPlan> back = SegmentPlan::parse(expected, 12 * MiB, 4096);
        QVERIFY(back);
        QVERIFY(tiles(*back));
        QCOMPARE(back->count(), 3);
        QCOMPARE(back->connections(), 3);
        QCOMPARE(back->range(0), (SegmentRange{0, 6815744, 5242880 - 4096}));
        QCOMPARE(back->range(1), (SegmentRange{6815744, 8388608, 7340032 - 4096}));
        // Nothing written outside the ranges is counted after the rollback.
        QCOMPARE(back->received(), plan.received() - 3 * 4096);
    }

    void sidecarRollbackStaysInItsRange()
    {
        const std::optional<SegmentPlan> plan =
            SegmentPlan::parse("size 100\nsegment 0 50 10\nsegment 50 100 100\n", 100, 4096);
        QVERIFY(plan);
        QCOMPARE(plan->range(0).pos, qint64(0));
        QCOMPARE(plan->range(1).pos, qint64(100)); // a written range stays written
    }

    void badSidecarsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<qint64>("size");
        QTest::newRow("other size") << QByteArray("size 99\nsegment 0 100 0\n") << qint64(100);
        QTest::newRow("gap") << QByteArray("size 100\nsegment 0 40 0\nsegment 50 100 50\n") << qint64(100);
        QTest::newRow("overlap") << QByteArray("size 100\nsegment 0 60 0\nsegment 50 100 50\n") << qint64(100);
        QTest::newRow("short") << QByteArray("size 100\nsegment 0 60 0\n") << qint64(100);
        QTest::newRow("position outside") << QByteArray("size 100\nsegment 0 50 51\nsegment 50 100 50\n")
                                          << qint64(100);
        QTest::newRow("garbage") << QByteArray("size 100\nsegment 0 x 0\nsegment 50 100 50\n") << qint64(100);
        QTest::newRow("no ranges") << QByteArray("size 100\n") << qint64(100);
        QTest::newRow("too many") << QByteArray("size 8\nsegment 0 1 0\nsegment 1 2 1\nsegment 2 3 2\n"
                                                "segment 3 4 3\nsegment 4 5 4\nsegment 5 6 5\nsegment 6 7 6\n"
                                                "segment 7 8 7\n")
                                  << qint64(8);
    }

    void badSidecarsAreRefused()
    {
        QFETCH(QByteArray, text);
        QFETCH(qint64, size);
        QVERIFY(!SegmentPlan::parse(text, size, 0));
    }

    void sidecarFileBesideTheSaveFile()
    {
        QTemporaryDir dir;
        const QString saveTo = dir.filePath(QStringLiteral("a.bin"));
        SegmentPlan plan = SegmentPlan::split(10 * MiB, 2);
        plan.advance(1, 1234);
        QVERIFY(plan.save(saveTo));
        QCOMPARE(SegmentPlan::sidecarPath(saveTo), saveTo + QStringLiteral(".segments"));
        QVERIFY(!SegmentPlan::load(saveTo, 10 * MiB, 0)); // no save file: no plan
        {
            QFile f(saveTo);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        const std::optional<SegmentPlan> back = SegmentPlan::load(saveTo, 10 * MiB, 0);
        QVERIFY(back);
        QCOMPARE(back->range(1).pos, 5 * MiB + 1234);
        SegmentPlan::remove(saveTo);
        QVERIFY(!QFile::exists(SegmentPlan::sidecarPath(saveTo)));
    }

    void validatorsTellAChangedFile_data()
    {
        QTest::addColumn<FileValidators>("stored");
        QTest::addColumn<FileValidators>("now");
        QTest::addColumn<bool>("differs");
        const QByteArray d1 = "Sun, 06 Dec 2026 10:00:00 GMT";
        const QByteArray d2 = "Mon, 07 Dec 2026 10:00:00 GMT";
        QTest::newRow("same") << FileValidators{100, "\"a\"", d1, false} << FileValidators{100, "\"a\"", d1, false}
                              << false;
        QTest::newRow("other size") << FileValidators{100, "\"a\"", {}, false}
                                    << FileValidators{101, "\"a\"", {}, false} << true;
        QTest::newRow("other etag") << FileValidators{100, "\"a\"", d1, false}
                                    << FileValidators{100, "\"b\"", d1, false} << true;
        QTest::newRow("same etag, date moved") << FileValidators{100, "\"a\"", d1, false}
                                               << FileValidators{100, "\"a\"", d2, false} << false;
        QTest::newRow("other date, no etag") << FileValidators{100, {}, d1, false} << FileValidators{100, {}, d2, false}
                                             << true;
        QTest::newRow("etag gone, date kept") << FileValidators{100, "\"a\"", d1, false}
                                              << FileValidators{100, {}, d1, false} << false;
        QTest::newRow("nothing stored") << FileValidators{} << FileValidators{100, "\"a\"", d1, false} << false;
        QTest::newRow("size unknown now") << FileValidators{100, {}, {}, false} << FileValidators{-1, {}, {}, false}
                                          << false;
    }

    void validatorsTellAChangedFile()
    {
        QFETCH(FileValidators, stored);
        QFETCH(FileValidators, now);
        QFETCH(bool, differs);
        QCOMPARE(stored.differsFrom(now), differs);
        QCOMPARE(FileValidators::parse(stored.serialize()), stored);
    }

    void validatorsSidecarAndIfRange()
    {
        QTemporaryDir dir;
        const QString saveTo = dir.filePath(QStringLiteral("a.bin"));
        const FileValidators v{5 * MiB, "W/\"weak\"", "Sun, 06 Dec 2026 10:00:00 GMT", true};
        // A weak ETag cannot go in If-Range: the date does.
        QCOMPARE(v.ifRange(), QByteArray("Sun, 06 Dec 2026 10:00:00 GMT"));
        QCOMPARE((FileValidators{1, "\"s\"", "date", false}.ifRange()), QByteArray("\"s\""));
        QVERIFY(v.save(saveTo));
        QCOMPARE(FileValidators::sidecarPath(saveTo), saveTo + QStringLiteral(".validators"));
        QCOMPARE(FileValidators::load(saveTo), v);
        // Lines a later version adds are skipped.
        QCOMPARE(FileValidators::parse("size 7\nchecksum abc\netag \"x\"\n"), (FileValidators{7, "\"x\"", {}, false}));
        FileValidators::remove(saveTo);
        QVERIFY(!FileValidators::load(saveTo));
    }
};

QTEST_GUILESS_MAIN(TestSegmentPlan)
#include "tst_segmentplan.moc"
