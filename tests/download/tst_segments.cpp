#include "jobrig.h"

#include <QFileInfo>

#include <algorithm>
#include <QTest>

namespace {

const QString Question1 = QStringLiteral("If you use segemnted downloading,you will not be able to resume after stopping");
const QString Question2 = QStringLiteral("If you use segemnted downloading, you will not be able to resume after stopping(");
const QString StopQuestion = QStringLiteral("you will not be able to resume this file later(Segmented mode only), Stop?");
constexpr qint64 MiB = 1048576;

QByteArrayList dataRanges(const HttpFileServer &http)
{
    QByteArrayList out;
    for (FakeConnection *c : http.server.connections()) {
        for (const QByteArray &r : c->requests()) {
            if (r.contains("NELV"))
                out.append(FakeServer::headerValue(r, "Range").value_or(QByteArray()));
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

class TestSegments : public QObject {
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
        SettingsRecord defaults;
        QCOMPARE(DownloadJob::segmentsForSize(size, defaults.SegmentSize, 0), segments);
    }

    void gapInTheTableKeepsTheCurrentCount()
    {
        std::array<double, 9> t{100, 200, 300, 400, 500, 600, 700, 800, 900};
        QCOMPARE(DownloadJob::segmentsForSize(250, t, 0), 0);
        QCOMPARE(DownloadJob::segmentsForSize(250, t, 4), 4);
        QCOMPARE(DownloadJob::segmentsForSize(350, t, 0), 3);
    }

    void fiveMebibytesInTwoSegmentsByteIdentical()
    {
        HttpFileServer http(5 * MiB);
        JobRig rig;
        rig.record.Segment = 1;
        rig.prompts.expectMessage(Question2, PromptAnswer::Yes);
        DownloadJob &job = rig.start(http.url());
        QVERIFY(rig.waitFinished(60000));
        VERIFY_PROMPTS_DONE(rig.prompts);
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(job.bytSegments(), 2);
        QCOMPARE(job.lngSegStart(1), qint64(2621440));
        QCOMPARE(dataRanges(http), (QByteArrayList{"bytes=0-2621439", "bytes=2621440-5242879"}));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 5 * MiB));
        QVERIFY(job.display().mainBarVisible);
        QCOMPARE(job.display().segmentBars, (QList<int>{100, 100}));
        QVERIFY(!QFile::exists(rig.savePath() + QStringLiteral(".segments")));
    }

    void planOfLargerFiles_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QByteArrayList>("ranges");
        QTest::newRow("5 MiB + 1") << 5 * MiB + 1
                                   << QByteArrayList{"bytes=0-1747626", "bytes=1747627-3495253", "bytes=3495254-5242880"};
        QTest::newRow("30 MiB") << 30 * MiB
                                << QByteArrayList{"bytes=0-5242879", "bytes=10485760-15728639", "bytes=15728640-20971519",
                                                  "bytes=20971520-26214399", "bytes=26214400-31457279",
                                                  "bytes=5242880-10485759"};
    }

    void planOfLargerFiles()
    {
        QFETCH(qint64, size);
        QFETCH(QByteArrayList, ranges);
        HttpFileServer http(size);
        http.override = [](const QByteArray &request, FakePlan &plan) {
            if (!request.contains("NELV"))
                return false;
            plan.stall(); // only the plan matters here
            return true;
        };
        JobRig rig;
        rig.record.Segment = 1;
        rig.prompts.expectMessage(Question2, PromptAnswer::Yes);
        DownloadJob &job = rig.start(http.url());
        QTRY_COMPARE_WITH_TIMEOUT(dataRanges(http).size(), ranges.size(), 10000);
        QCOMPARE(dataRanges(http), ranges);
        QCOMPARE(job.display().segmentBars.size(), ranges.size());
        job.close();
    }

    void segmentOffOrNoUsesOneConnection()
    {
        for (const bool ask : {false, true}) {
            HttpFileServer http(3 * MiB);
            http.style = HttpFileServer::RangeStyle::Lenient; // a 200 probe: the other question
            JobRig rig;
            rig.record.Segment = ask ? 1 : 0;
            if (ask)
                rig.prompts.expectMessage(Question1, PromptAnswer::No);
            DownloadJob &job = rig.start(http.url());
            QVERIFY(rig.waitFinished(60000));
            VERIFY_PROMPTS_DONE(rig.prompts);
            QCOMPARE(job.bytSegments(), 0);
            QCOMPARE(dataRanges(http), QByteArrayList{"bytes=0-3145727"});
            QCOMPARE(job.display().segmentBars.size(), 1);
            QVERIFY(!job.display().mainBarVisible);
            QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 3 * MiB));
        }
    }

    void resumedFileWithoutPlanIsNotSegmented()
    {
        HttpFileServer http(3 * MiB);
        JobRig rig;
        rig.record.Segment = 1;
        {
            QFile partial(rig.savePath());
            QVERIFY(partial.open(QIODevice::WriteOnly));
            partial.write(HttpFileServer::bytes(0, MiB));
        }
        DownloadJob &job = rig.start(http.url(), -1); // no question is expected
        QVERIFY(rig.waitFinished(60000));
        QCOMPARE(job.bytSegments(), 0);
        QCOMPARE(dataRanges(http), QByteArrayList{"bytes=" + QByteArray::number(MiB - 4096 - 1) + "-3145727"});
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 3 * MiB));
    }

    void serverIgnoringRangesEndsThePlan()
    {
        HttpFileServer http(3 * MiB);
        http.style = HttpFileServer::RangeStyle::IgnoreRanges;
        JobRig rig;
        rig.record.Segment = 1;
        rig.prompts.expectMessage(Question1, PromptAnswer::Yes);
        DownloadJob &job = rig.start(http.url());
        QVERIFY(rig.waitFinished(60000));
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(job.bytSegments(), 0);
        QCOMPARE(job.display().segmentBars.size(), 1);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 3 * MiB));
    }

    void stopQuestionAndResumeInANewWindow()
    {
        const qint64 size = 3 * MiB;
        HttpFileServer http(size);
        http.pieceSize = 64 * 1024;
        http.pieceDelayMs = 20;
        JobRig rig;
        rig.record.Segment = 1;
        rig.prompts.expectMessage(Question2, PromptAnswer::Yes);
        DownloadJob &job = rig.start(http.url());
        QTRY_VERIFY_WITH_TIMEOUT(job.TotalReceived() > 600 * 1024, 30000);

        // No keeps it running.
        rig.prompts.expectMessage(StopQuestion, PromptAnswer::No);
        job.StopMe();
        QCOMPARE(job.state(), DownloadJob::State::Downloading);
        // Yes stops it and leaves the plan beside the file.
        rig.prompts.expectMessage(StopQuestion, PromptAnswer::Yes);
        job.StopMe();
        VERIFY_PROMPTS_DONE(rig.prompts);
        QCOMPARE(job.state(), DownloadJob::State::Stopped);
        const QString sidecar = rig.savePath() + QStringLiteral(".segments");
        QVERIFY(QFile::exists(sidecar));
        const qint64 second = job.lngSegStart(1);
        const qint64 secondDone = job.lngSegPos(1) - 1;
        QVERIFY(secondDone > second);
        job.close();

        // A new window resumes every segment where it stopped.
        http.pieceDelayMs = 0;
        const int before = int(dataRanges(http).size());
        DownloadJob &again = rig.start(http.url(), -1); // no segment question: the plan is kept
        QVERIFY(rig.waitFinished(60000));
        QCOMPARE(again.outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(again.bytSegments(), 2);
        const QByteArrayList all = dataRanges(http);
        QCOMPARE(int(all.size()), before + 2);
        QVERIFY(all.contains("bytes=" + QByteArray::number(std::max(second, secondDone - 4096)) + "-"
                             + QByteArray::number(size - 1)));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, size));
        QVERIFY(!QFile::exists(sidecar));
    }

    void pauseKeepsSegmentsInsideTheirRanges()
    {
        const qint64 size = 4 * MiB;
        HttpFileServer http(size);
        http.pieceSize = 64 * 1024;
        http.pieceDelayMs = 15;
        JobRig rig;
        rig.record.Segment = 1;
        rig.record.Rollback = 1024 * 1024; // larger than what a segment got so far
        rig.prompts.expectMessage(Question2, PromptAnswer::Yes);
        DownloadJob &job = rig.start(http.url());
        QTRY_VERIFY_WITH_TIMEOUT(job.lngSegPos(1) - 1 - job.lngSegStart(1) > 100 * 1024, 30000);
        job.Pause_Resume();
        job.Pause_Resume();
        QVERIFY(rig.waitFinished(60000));
        // Every request stays inside one segment: it ends where its segment
        // ends and starts no earlier than that segment's start.
        QCOMPARE(job.bytSegments(), 2);
        for (const QByteArray &r : dataRanges(http)) {
            const qint64 first = r.mid(6, r.indexOf('-') - 6).toLongLong();
            const qint64 last = r.mid(r.indexOf('-') + 1).toLongLong();
            const int k = last == job.lngSegStart(1) - 1 ? 0 : 1;
            QCOMPARE(last, job.lngSegStart(k + 1) - 1);
            QVERIFY2(first >= job.lngSegStart(k), r.constData());
        }
        QVERIFY(dataRanges(http).size() >= 4); // both segments asked again after the pause
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, size));
        QCOMPARE(job.TotalReceived(), size);
    }
};

QTEST_GUILESS_MAIN(TestSegments)
#include "tst_segments.moc"
