#include "transferrig.h"

#include "config/settingsrecord.h"
#include "download/segmentplan.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QSet>
#include <QSignalSpy>
#include <QTcpServer>

#include <algorithm>

namespace {

constexpr qint64 MiB = 1048576;

TransferStatus caption(const char *id, const char *text)
{
    return TransferStatus::caption(QLatin1String(id), QString::fromUtf8(text));
}

TransferStatus plain(const QString &text)
{
    TransferStatus s;
    s.text = text;
    return s;
}

// The data requests ("NELV") the server received.
QList<HttpFileServer::Request> dataRequests(const HttpFileServer &http)
{
    QList<HttpFileServer::Request> out;
    for (const HttpFileServer::Request &r : http.requests) {
        if (r.text.contains("User-Agent: NELV"))
            out.append(r);
    }
    return out;
}

// A probe reply that names the size but carries no body, and closes: the
// download must go on over a data connection.
FakePlan headOnlyProbe(qint64 size)
{
    FakePlan plan;
    plan.send(FakeServer::httpHead("HTTP/1.1 200 OK", {"Content-Length: " + QByteArray::number(size)})).close();
    return plan;
}

// The progress when the data phase was first planned.
TransferProgress firstPlanned(const TransferRig &rig)
{
    for (const TransferProgress &p : rig.progressSeen) {
        if (!p.segments.isEmpty())
            return p;
    }
    return {};
}

} // namespace

class TestTransferJob : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void downloadsAcrossServerStyles_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QByteArrayList>("expectedRanges");
        // The probe's own reply carries the file: no other request is needed.
        QTest::newRow("416 then 206") << int(HttpFileServer::RangeStyle::Strict)
                                      << QByteArrayList{"bytes=-", "bytes=0-"};
        QTest::newRow("200 probe") << int(HttpFileServer::RangeStyle::Lenient) << QByteArrayList{"bytes=-"};
        QTest::newRow("ranges ignored") << int(HttpFileServer::RangeStyle::IgnoreRanges) << QByteArrayList{"bytes=-"};
    }

    void downloadsAcrossServerStyles()
    {
        QFETCH(int, style);
        QFETCH(QByteArrayList, expectedRanges);
        HttpFileServer http(100000);
        http.style = HttpFileServer::RangeStyle(style);
        TransferRig rig;
        TransferJob &job = rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.outcomes.size(), 1);
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(job.state(), TransferState::Complete);
        QCOMPARE(job.status(), caption("11046", "Transfer Completed..."));
        QCOMPARE(job.outcome().status, job.status());
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 100000));
        QCOMPARE(http.ranges, expectedRanges);
        QCOMPARE(job.progress().received, qint64(100000));
        QCOMPARE(job.progress().size, qint64(100000));
        QCOMPARE(job.progress().connections, 0);
        QCOMPARE(rig.states.first(), TransferState::Connecting);
        QVERIFY(rig.states.contains(TransferState::Downloading));
        QCOMPARE(rig.states.last(), TransferState::Complete);
        QVERIFY(rig.questionsDone());
    }

    void requestsCarryTheirHeaders()
    {
        HttpFileServer http(5000);
        http.dropFirstBodyAfter = 1000; // the probe's connection drops: a data request follows
        TransferRig rig;
        rig.start(http.url(QStringLiteral("/dir/a file.bin")));
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(http.requests.size(), 3);
        const QByteArray probe = http.requests[0].text;
        QVERIFY(probe.startsWith("GET /dir/a%20file.bin HTTP/1.1\r\n"));
        QVERIFY(probe.contains("\r\nHost: 127.0.0.1:" + QByteArray::number(http.server.port()) + "\r\n"));
        QVERIFY(probe.contains("\r\nUser-Agent: DM\r\n"));
        const QByteArray data = http.requests[2].text;
        QVERIFY(data.contains("\r\nUser-Agent: NELV Segment 0\r\n"));
        // The probe's 1000 bytes were kept: the data request asks for the rest.
        QVERIFY(data.contains("\r\nRange: bytes=1000-4999\r\n"));
        QVERIFY(!data.contains("Proxy-Authorization"));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 5000));
    }

    void headerSplitAnywhereAndBodyWithHeaderWords()
    {
        HttpFileServer http(1000);
        // The body itself looks like header lines; it must be written unchanged.
        const QByteArray body =
            QByteArray("location: /elsewhere\r\ncontent-type: text/html\r\n\r\n").repeated(30).left(1000);
        http.override = [&](const QByteArray &request, FakePlan &plan) {
            const QByteArray range = FakeServer::headerValue(request, "Range").value_or(QByteArray());
            if (range == "bytes=-")
                return false;
            plan.sendInPieces(FakeServer::httpHead("HTTP/1.1 206 Partial Content",
                                                   {"content-range: bytes 0-999/1000", "content-length: 1000"})
                                  + body,
                              5, 1);
            return true;
        };
        TransferRig rig;
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->state(), TransferState::Complete);
        QCOMPARE(rig.saved(), body);
        QVERIFY(rig.job->serverLog().contains("content-range: bytes 0-999/1000"));
    }

    void errorStatusesFailWithTheirCaptions_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("captionId");
        QTest::addColumn<QString>("text");
        QTest::newRow("400") << 400 << "13033" << "HTTP 400-Bad Request";
        QTest::newRow("401") << 401 << "13034" << "HTTP 401.x-You are not authorized to view this page";
        QTest::newRow("403") << 403 << "13035" << "HTTP 403.x - Forbidden: Acess Denied";
        QTest::newRow("404") << 404 << "13032" << "HTTP 404-Object Not Found";
        QTest::newRow("407") << 407 << "13038" << "HTTP 407 - Proxy Authentication Required";
        QTest::newRow("410") << 410 << "13039" << "HTTP Error 410 - Permanently not available";
        QTest::newRow("500") << 500 << "13044"
                             << "HTTP Error 500-Server Error - The server failed to fulfill an apparently valid request";
        QTest::newRow("502") << 502 << "13043" << "HTTP 502 - Bad Gateway";
        QTest::newRow("503 has no caption") << 503 << "" << "HTTP 503 Service Unavailable";
    }

    void errorStatusesFailWithTheirCaptions()
    {
        QFETCH(int, code);
        QFETCH(QString, captionId);
        QFETCH(QString, text);
        HttpFileServer http(10);
        const QByteArray reason = code == 503 ? "Service Unavailable" : "Whatever";
        http.override = [&](const QByteArray &, FakePlan &plan) {
            plan.send(FakeServer::httpHead("HTTP/1.1 " + QByteArray::number(code) + " " + reason, {"Content-Length: 0"}));
            return true;
        };
        TransferRig rig;
        TransferJob &job = rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.state(), TransferState::Failed);
        QCOMPARE(rig.outcomes.size(), 1);
        const TransferOutcome &o = job.outcome();
        QCOMPARE(o.kind, TransferOutcome::Kind::Failure);
        QCOMPARE(o.failure, FailureKind::HttpStatus);
        QCOMPARE(o.code, code);
        QCOMPARE(o.serverText, reason);
        QCOMPARE(o.status, (captionId.isEmpty() ? plain(text) : TransferStatus::caption(captionId, text)));
        QCOMPARE(job.status(), o.status);
        QVERIFY(!QFile::exists(rig.savePath()));
    }

    void dataReplyThatDoesNotAnswerTheRangeIsNotWritten_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("failure");
        QTest::newRow("503") << FakeServer::httpHead("HTTP/1.1 503 Service Unavailable", {"Content-Length: 5"}) + "busy!"
                             << int(FailureKind::HttpStatus);
        QTest::newRow("wrong start") << FakeServer::httpHead("HTTP/1.1 206 Partial Content",
                                                             {"Content-Range: bytes 10-99/100", "Content-Length: 90"})
                                            + QByteArray(90, 'x')
                                     << int(FailureKind::Protocol);
    }

    void dataReplyThatDoesNotAnswerTheRangeIsNotWritten()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, failure);
        HttpFileServer http(100);
        http.override = [&](const QByteArray &request, FakePlan &plan) {
            plan = request.contains("User-Agent: DM\r\n") ? headOnlyProbe(100) : FakePlan().send(reply);
            return true;
        };
        TransferRig rig;
        TransferJob &job = rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Failure);
        QCOMPARE(int(job.outcome().failure), failure);
        QVERIFY(!job.status().text.isEmpty() || !job.status().captionId.isEmpty());
        QCOMPARE(QFileInfo(rig.savePath()).size(), qint64(0));
        QCOMPARE(job.progress().received, qint64(0));
    }

    void droppedConnectionContinuesWhereItStopped()
    {
        HttpFileServer http(50000);
        http.dropFirstBodyAfter = 12345;
        TransferRig rig;
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 50000));
        QCOMPARE(http.ranges.last(), QByteArray("bytes=12345-49999"));
    }

    void resumeStartsRollbackBeforeTheEnd_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("present");
        QTest::newRow("small") << qint64(20000) << qint64(10000);
        QTest::newRow("beyond four gibibytes") << Q_INT64_C(5) * 1024 * 1024 * 1024 + 17
                                               << Q_INT64_C(5) * 1024 * 1024 * 1024 + 17 - 1000;
    }

    void resumeStartsRollbackBeforeTheEnd()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, present);
        HttpFileServer http(size);
        TransferRig rig;
        {
            QFile partial(rig.savePath());
            QVERIFY(partial.open(QIODevice::WriteOnly));
            if (present <= 10000)
                partial.write(HttpFileServer::bytes(0, present));
            else
                QVERIFY(partial.resize(present)); // sparse: costs no disk
        }
        TransferJob &job = rig.start(http.url(), ExistingFile::Resume);
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        const qint64 from = present - 4096 - 1;
        QCOMPARE(http.ranges.last(), "bytes=" + QByteArray::number(from) + "-" + QByteArray::number(size - 1));
        QFile f(rig.savePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.size(), size);
        QVERIFY(f.seek(from));
        QCOMPARE(f.readAll(), HttpFileServer::bytes(from, size - from));
        QCOMPARE(job.progress().received, size);
    }

    void overwriteReplacesAnExistingFileAndItsPlan()
    {
        HttpFileServer http(1000);
        TransferRig rig;
        {
            QFile old(rig.savePath());
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(5000, 'z'));
            QFile plan(rig.sidecarPath());
            QVERIFY(plan.open(QIODevice::WriteOnly));
            plan.write("size 1000\nsegment 0 500 500\nsegment 500 1000 500\n");
        }
        rig.start(http.url(), ExistingFile::Overwrite);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 1000));
        QVERIFY(!QFile::exists(rig.sidecarPath()));
    }

    void cancelledStartEndsAtOnce()
    {
        HttpFileServer http(1000);
        TransferRig rig;
        TransferJob &job = rig.start(http.url(), ExistingFile::Cancel);
        // Finished inside start(), before anything was connected.
        QVERIFY(job.isFinished());
        QCOMPARE(job.state(), TransferState::Cancelled);
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Cancelled);
        QCOMPARE(rig.outcomes.size(), 1);
        QCOMPARE(rig.states, QList<TransferState>{TransferState::Cancelled});
        job.start(TransferRequest{http.url(), rig.savePath(), ExistingFile::Overwrite}); // a job runs once
        QCOMPARE(rig.states, QList<TransferState>{TransferState::Cancelled});
    }

    void redirects()
    {
        HttpFileServer http(4000);
        http.override = [&](const QByteArray &request, FakePlan &plan) {
            if (request.startsWith("GET /old/file.bin ")) {
                plan.send(FakeServer::httpHead("HTTP/1.1 302 Found", {"Location: ../new/file.bin", "Content-Length: 0"}));
                return true;
            }
            return false;
        };
        TransferRig rig;
        TransferJob &job = rig.start(http.url(QStringLiteral("/old/file.bin")));
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(job.url().strFilePath, QStringLiteral("/new/file.bin"));
        QCOMPARE(job.currentUrl(), http.url(QStringLiteral("/new/file.bin")));
        QCOMPARE(job.progress().redirects, 1);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 4000));
    }

    void endlessRedirectsStopWithAMessage()
    {
        HttpFileServer http(10);
        int n = 0;
        http.override = [&](const QByteArray &, FakePlan &plan) {
            plan.send(FakeServer::httpHead("HTTP/1.1 301 Moved",
                                           {"Location: /loop" + QByteArray::number(++n) + ".bin", "Content-Length: 0"}));
            return true;
        };
        TransferRig rig;
        TransferJob &job = rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().failure, FailureKind::TooManyRedirects);
        QCOMPARE(job.progress().redirects, 20);
        QVERIFY(job.status().text.contains(QStringLiteral("redirect"), Qt::CaseInsensitive));
        QCOMPARE(rig.outcomes.size(), 1);
    }

    void timeouts_data()
    {
        QTest::addColumn<bool>("retry");
        QTest::addColumn<int>("connections");
        QTest::addColumn<int>("retries");
        QTest::newRow("one retry, then give up") << true << 2 << 1;
        QTest::newRow("no retry") << false << 1 << 0;
    }

    void timeouts()
    {
        QFETCH(bool, retry);
        QFETCH(int, connections);
        QFETCH(int, retries);
        HttpFileServer http(10);
        http.override = [](const QByteArray &, FakePlan &plan) {
            plan.stall();
            return true;
        };
        TransferRig rig;
        rig.settings.timeout = 3;
        rig.settings.retry = retry;
        rig.settings.retries = 0;
        TransferJob &job = rig.start(http.url());
        QCOMPARE(job.progress().timeoutLeft, 3);
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().failure, FailureKind::Timeout);
        QCOMPARE(job.status(), plain(QStringLiteral("Connection has timed out.")));
        QCOMPARE(job.progress().retries, retries);
        QCOMPARE(http.server.connectionCount(), connections);
        // The countdown was shown down to its last tick.
        QList<int> countdown;
        for (const TransferProgress &p : rig.progressSeen) {
            if (countdown.isEmpty() || countdown.last() != p.timeoutLeft)
                countdown.append(p.timeoutLeft);
        }
        QVERIFY2(countdown.contains(1), qPrintable(QString::number(countdown.size())));
        QCOMPARE(job.progress().timeoutLeft, -1);
    }

    void pauseAndResumeFetchRollbackAgain()
    {
        HttpFileServer http(300000);
        http.pieceSize = 10000;
        http.pieceDelayMs = 15;
        TransferRig rig;
        TransferJob &job = rig.start(http.url());
        QTRY_VERIFY_WITH_TIMEOUT(job.progress().received >= 100000, 20000);
        job.pause();
        QCOMPARE(job.state(), TransferState::Paused);
        QCOMPARE(job.status(), caption("11055", "Paused/Stopped"));
        const qint64 at = job.progress().received;
        // Every connection is closed: nothing more can arrive.
        QTRY_VERIFY_WITH_TIMEOUT(!http.server.connection(http.server.connectionCount() - 1)->isOpen(), 5000);
        QCOMPARE(job.progress().received, at);

        job.resume();
        QCOMPARE(job.state(), TransferState::Downloading);
        QVERIFY(rig.waitFinished());
        QCOMPARE(http.ranges.last(), "bytes=" + QByteArray::number(at - 4096) + "-299999");
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 300000));

        // Pause after completion does nothing.
        job.pause();
        QCOMPARE(job.state(), TransferState::Complete);
        QCOMPARE(rig.outcomes.size(), 1);
    }

    void pauseBeforeTheServerAnsweredStartsOverOnResume()
    {
        HttpFileServer http(5000);
        bool first = true;
        http.override = [&](const QByteArray &, FakePlan &plan) {
            if (!first)
                return false;
            first = false;
            plan.stall(); // the first probe is never answered
            return true;
        };
        TransferRig rig;
        TransferJob &job = rig.start(http.url());
        QTRY_COMPARE_WITH_TIMEOUT(http.requests.size(), 1, 5000);
        job.pause();
        QCOMPARE(job.state(), TransferState::Paused);
        QCOMPARE(job.progress().timeoutLeft, -1); // no countdown while paused
        job.resume();
        QCOMPARE(job.state(), TransferState::Connecting);
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 5000));
        QCOMPARE(http.server.connectionCount(), 3); // the unanswered probe, then 416 and "0-"
    }

    void stallIsPausedAndResumed()
    {
        HttpFileServer http(80000);
        http.stallFirstBodyAfter = 30000;
        TransferRig rig;
        rig.settings.stopResume = true;
        rig.settings.timeResume = 5; // five stall-detector seconds of 20 ms
        TransferJob &job = rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 80000));
        QCOMPARE(http.ranges.last(), QByteArray("bytes=25904-79999"));
        QVERIFY(rig.states.contains(TransferState::Paused));
    }

    void stopKeepsTheFileAndCancelEnds()
    {
        HttpFileServer http(400000);
        http.pieceSize = 10000;
        http.pieceDelayMs = 15;
        TransferRig rig;
        TransferJob &job = rig.start(http.url());
        QTRY_VERIFY_WITH_TIMEOUT(job.progress().received >= 50000, 20000);
        job.stop(); // one connection: no question
        QCOMPARE(job.state(), TransferState::Stopped);
        QCOMPARE(job.status(), caption("11056", "Transfer Stopped"));
        QVERIFY(!job.isFinished());
        QVERIFY(QFileInfo(rig.savePath()).size() >= 50000);
        job.cancel();
        QCOMPARE(job.state(), TransferState::Cancelled);
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Cancelled);
        QCOMPARE(rig.outcomes.size(), 1);
        job.cancel();
        job.resume();
        QCOMPARE(rig.outcomes.size(), 1);
        QVERIFY(rig.questionsDone());
    }

    void emptyFileCompletesAtOnce()
    {
        HttpFileServer http(0);
        http.style = HttpFileServer::RangeStyle::Lenient;
        TransferRig rig;
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome().kind, TransferOutcome::Kind::Success);
        QVERIFY(QFile::exists(rig.savePath()));
        QCOMPARE(QFileInfo(rig.savePath()).size(), qint64(0));
    }

    void userPauseAndStopAreLeftAloneByTheStallDetector()
    {
        HttpFileServer http(400000);
        http.pieceSize = 5000;
        http.pieceDelayMs = 20;
        TransferRig rig;
        rig.settings.stopResume = true;
        rig.settings.timeResume = 2; // 40 ms per detector tick
        TransferJob &job = rig.start(http.url());
        QTRY_VERIFY_WITH_TIMEOUT(job.progress().received >= 20000, 20000);
        job.pause();
        QCOMPARE(job.state(), TransferState::Paused);
        const int connections = http.server.connectionCount();

        // A second job on a server that stalls shows the detector at work:
        // once it has paused and resumed that one, it has ticked on the
        // first one several times too.
        HttpFileServer stalling(80000);
        stalling.stallFirstBodyAfter = 10000;
        TransferRig control;
        control.settings = rig.settings;
        control.start(stalling.url());
        QTRY_VERIFY_WITH_TIMEOUT(control.states.contains(TransferState::Paused)
                                     && control.states.lastIndexOf(TransferState::Downloading)
                                            > control.states.indexOf(TransferState::Paused),
                                 20000);
        QCOMPARE(job.state(), TransferState::Paused);
        QCOMPARE(http.server.connectionCount(), connections);

        job.resume();
        QTRY_VERIFY_WITH_TIMEOUT(job.progress().received >= 60000, 20000);
        job.stop();
        const qint64 kept = QFileInfo(rig.savePath()).size();
        // The resume connected again (more than once only when a loaded
        // machine let the running download stall); after the stop nothing
        // connects any more while the detector goes on ticking.
        const int afterStop = http.server.connectionCount();
        QVERIFY(afterStop >= connections + 1);
        QVERIFY(control.waitFinished());
        QCOMPARE(job.state(), TransferState::Stopped);
        QCOMPARE(http.server.connectionCount(), afterStop);
        QCOMPARE(QFileInfo(rig.savePath()).size(), kept);
    }

    void aPauseWhileTheDetectorHoldsTheJobBecomesTheUsers()
    {
        HttpFileServer http(80000);
        http.stallFirstBodyAfter = 30000;
        TransferRig rig;
        rig.settings.stopResume = true;
        rig.settings.timeResume = 5;
        TransferJob &job = rig.start(http.url());
        QTRY_VERIFY_WITH_TIMEOUT(job.state() == TransferState::Paused, 20000); // the detector's pause
        job.pause();
        // The detector would have resumed it at its next tick; a control job
        // shows that ticks passed.
        HttpFileServer stalling(80000);
        stalling.stallFirstBodyAfter = 10000;
        TransferRig control;
        control.settings = rig.settings;
        control.start(stalling.url());
        QVERIFY(control.waitFinished());
        QCOMPARE(job.state(), TransferState::Paused);
        job.resume();
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 80000));
    }

    void emptyClosesBackOffAndGiveUpWithinTheBudget()
    {
        HttpFileServer http(1000);
        QList<qint64> times;
        QElapsedTimer clock;
        clock.start();
        http.override = [&](const QByteArray &request, FakePlan &plan) {
            times.append(clock.elapsed());
            // The probe names the size and closes; every data request is closed at once.
            plan = request.contains("User-Agent: DM\r\n") ? headOnlyProbe(1000) : FakePlan().close();
            return true;
        };
        TransferRig rig;
        rig.settings.retry = true;
        rig.settings.retries = 3;
        TransferJob &job = rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().failure, FailureKind::ServerKeepsClosing);
        QCOMPARE(times.size(), 4); // the probe's try and three retries
        QVERIFY(times[3] - times[2] > times[1] - times[0]); // waiting longer each time
        QVERIFY(job.status().text.contains(QStringLiteral("closing the connection")));
    }

    void emptyClosesWithoutRetryGiveUpAtOnce()
    {
        HttpFileServer http(1000);
        http.override = [&](const QByteArray &request, FakePlan &plan) {
            plan = request.contains("User-Agent: DM\r\n") ? headOnlyProbe(1000) : FakePlan().close();
            return true;
        };
        TransferRig rig;
        rig.settings.retry = false;
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome().failure, FailureKind::ServerKeepsClosing);
        QCOMPARE(http.requests.size(), 1);
    }

    void pageThatLinksToTheFile()
    {
        HttpFileServer http(2048);
        http.override = [&](const QByteArray &request, FakePlan &plan) {
            if (!request.startsWith("GET /page/file.bin "))
                return false;
            plan.send(FakeServer::httpHead("HTTP/1.1 200 OK", {"Content-Type: text/html"})
                      + "<html><body><img src='/files/FILE.bin'></body></html>")
                .close();
            return true;
        };
        TransferRig rig;
        TransferJob &job = rig.start(http.url(QStringLiteral("/page/file.bin")));
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(job.url().strFilePath, QStringLiteral("/files/FILE.bin"));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 2048));
    }

    void pageWithoutTheFileFails()
    {
        HttpFileServer http(10);
        http.override = [](const QByteArray &, FakePlan &plan) {
            plan.send(FakeServer::httpHead("HTTP/1.1 200 OK", {"Content-Type: text/html"}) + "<html>nothing</html>").close();
            return true;
        };
        TransferRig rig;
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome().failure, FailureKind::PageWithoutLink);
    }

    void redirectToAnotherHost()
    {
        HttpFileServer target(3000);
        FakeServer origin(QHostAddress(QStringLiteral("127.0.0.2")));
        origin.setReply(FakePlan().send(FakeServer::httpHead(
            "HTTP/1.1 301 Moved Permanently",
            {"Location: " + target.url(QStringLiteral("/moved.bin")).toUtf8(), "Content-Length: 0"})));
        TransferRig rig;
        TransferJob &job = rig.start(QStringLiteral("http://127.0.0.2:%1/file.bin").arg(origin.port()));
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(job.url().strServer, QStringLiteral("127.0.0.1"));
        QCOMPARE(origin.connectionCount(), 1);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 3000));
    }

    void proxyGetsAbsoluteTargetsAndTheCredentials()
    {
        // The "proxy" is a file server that records what reaches it.
        HttpFileServer proxy(4000);
        proxy.dropFirstBodyAfter = 100; // so that a data request follows the probe
        TransferRig rig;
        rig.settings.proxy.UseProxy = true;
        rig.settings.proxy.ProxyServer = QStringLiteral("127.0.0.1");
        rig.settings.proxy.ProxyPort = proxy.server.port();
        rig.settings.proxy.LoginProxy = true;
        rig.settings.proxy.UsePass = true;
        rig.settings.proxy.UserID = QStringLiteral("user");
        rig.settings.proxy.UserPass = QStringLiteral("secret");
        rig.start(QStringLiteral("http://files.example:8080/pub/file.bin"));
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 4000));
        const QByteArray auth = "Proxy-Authorization: Basic " + QByteArray("user:secret").toBase64();
        QVERIFY(!dataRequests(proxy).isEmpty());
        for (const HttpFileServer::Request &r : proxy.requests) {
            QVERIFY(r.text.startsWith("GET http://files.example:8080/pub/file.bin HTTP/1.1\r\n"));
            QVERIFY(r.text.contains("\r\nHost: files.example:8080\r\n"));
            if (r.text.contains("NELV"))
                QVERIFY(r.text.contains(auth));
        }
        QVERIFY(!rig.job->serverLog().contains("secret"));
    }

    void credentialsNeverGoToTheOriginServer()
    {
        HttpFileServer http(100);
        TransferRig rig;
        rig.settings.proxy.UseProxy = false;
        rig.settings.proxy.LoginProxy = true;
        rig.settings.proxy.UserID = QStringLiteral("user");
        rig.settings.proxy.UserPass = QStringLiteral("secret");
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        for (FakeConnection *c : http.server.connections())
            QVERIFY(!c->received().contains("Proxy-Authorization"));
        QVERIFY(http.requests.value(0).text.startsWith("GET /file.bin HTTP/1.1\r\n"));
    }

    void ratesAndTimeLeftAreInSeconds()
    {
        HttpFileServer http(2000000);
        http.pieceSize = 20000;
        http.pieceDelayMs = 10; // about 2 MB/s
        TransferRig rig;
        rig.timing.rate = 200ms;
        TransferJob &job = rig.start(http.url());
        QTRY_VERIFY_WITH_TIMEOUT(job.progress().rate > 0, 10000);
        // Well below what a tick-counting rate would inflate to, and not zero.
        const TransferProgress p = job.progress();
        QVERIFY2(p.rate < 4.0e6 && p.rate > 2.0e5, qPrintable(QString::number(p.rate)));
        QVERIFY(p.secondsLeft > 0);
        QVERIFY(p.secondsLeft < double(p.size) / p.rate + 1);
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.progress().rate, 0.0);
    }

    void aSaveFileThatCannotBeCreatedIsReported()
    {
        HttpFileServer http(1000);
        TransferRig rig;
        // A folder stands where the file should go: the file system refuses the name.
        QVERIFY(QDir().mkpath(rig.savePath()));
        TransferJob &job = rig.start(http.url(), ExistingFile::Resume);
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().failure, FailureKind::FileError);
        QCOMPARE(job.status().captionId, QStringLiteral("11002"));
        QCOMPARE(job.status().defaultText, QStringLiteral("Error opening File"));
        QVERIFY2(job.status().suffix.contains(rig.savePath()), qPrintable(job.status().suffix));
    }

    void serverThatClosesAtOnceIsGivenUp()
    {
        HttpFileServer http(1000);
        http.override = [](const QByteArray &request, FakePlan &plan) {
            plan = request.contains("User-Agent: DM\r\n") ? headOnlyProbe(1000) : FakePlan().close();
            return true;
        };
        TransferRig rig;
        rig.settings.retries = 2;
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome().kind, TransferOutcome::Kind::Failure);
        QCOMPARE(http.server.connectionCount(), 1 + 2); // the probe's try and two retries
    }

    void ftpUrlsRunTheFtpProtocol()
    {
        // The control connection of an FTP login reaches the server; the job
        // then waits for the greeting.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        TransferRig rig;
        rig.settings.timeout = 1000;
        TransferJob &job = rig.start(QStringLiteral("ftp://127.0.0.1:%1/file.bin").arg(server.serverPort()));
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(job.state(), TransferState::LoggingIn, 5000);
        QVERIFY(!job.isFinished());
        job.cancel();
        QCOMPARE(rig.outcomes.size(), 1);
    }

    // ---------------------------------------------------------------- once and last

    void finishedIsTheLastThingTheJobDoes_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("success") << "success";
        QTest::newRow("failure") << "failure";
        QTest::newRow("cancel while running") << "cancel";
        QTest::newRow("cancel at start") << "refused";
        QTest::newRow("time-out") << "timeout";
    }

    void finishedIsTheLastThingTheJobDoes()
    {
        QFETCH(QString, ending);
        HttpFileServer http(200000);
        http.pieceSize = 20000;
        http.pieceDelayMs = 5;
        if (ending == QLatin1String("failure")) {
            http.override = [](const QByteArray &, FakePlan &plan) {
                plan.send(FakeServer::httpHead("HTTP/1.1 404 Not Found", {"Content-Length: 0"}));
                return true;
            };
        } else if (ending == QLatin1String("timeout")) {
            http.override = [](const QByteArray &, FakePlan &plan) {
                plan.stall();
                return true;
            };
        }
        TransferRig rig;
        rig.settings.timeout = 2;
        rig.settings.retry = false;
        auto *job = new TransferJob(rig.services());
        QPointer<TransferJob> guard(job);
        int finishedCount = 0;
        int afterFinished = 0;
        // The owner deletes the job in its slot: nothing of the job may run
        // after that (a use after free shows under the address sanitizer).
        connect(job, &TransferJob::finished, this, [&](const TransferOutcome &) {
            ++finishedCount;
            delete job;
        });
        connect(job, &TransferJob::progressChanged, this, [&] {
            if (finishedCount > 0)
                ++afterFinished;
        });
        const ExistingFile existing = ending == QLatin1String("refused") ? ExistingFile::Cancel : ExistingFile::Overwrite;
        job->start(TransferRequest{http.url(), rig.savePath(), existing});
        if (ending == QLatin1String("cancel")) {
            QTRY_VERIFY_WITH_TIMEOUT(!guard || guard->progress().received > 0, 10000);
            if (guard)
                guard->cancel();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!guard, 20000);
        QCOMPARE(finishedCount, 1);
        QCOMPARE(afterFinished, 0);
        // Whatever the job had scheduled dies with it; the server sees its
        // connections closed.
        const auto allClosed = [&http] {
            const QList<FakeConnection *> all = http.server.connections();
            return std::none_of(all.begin(), all.end(), [](FakeConnection *c) { return c->isOpen(); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(allClosed(), 10000);
    }

    void staleAndUnknownAnswersAreIgnored()
    {
        HttpFileServer http(3 * 1048576);
        TransferRig rig;
        rig.settings.segment = true;
        TransferJob &job = rig.make();
        QList<TransferQuestion> held;
        // This owner answers later, not in its slot.
        QObject::disconnect(&job, &TransferJob::questionAsked, nullptr, nullptr);
        connect(&job, &TransferJob::questionAsked, this, [&](const TransferQuestion &q) { held.append(q); });
        job.start(TransferRequest{http.url(), rig.savePath(), ExistingFile::Overwrite});
        QTRY_COMPARE_WITH_TIMEOUT(held.size(), 1, 10000);
        const TransferQuestion q = held.first();
        QCOMPARE(q.kind, TransferQuestion::Kind::UseSegments);
        QVERIFY(q.afterPartialReply); // the probe was answered with 206
        QCOMPARE(q.segments, 2);
        QCOMPARE(job.state(), TransferState::Asking);
        job.answer(q.id + 1, true); // unknown
        job.answer(0, true);
        QCOMPARE(job.state(), TransferState::Asking);
        job.answer(q.id, false);
        job.answer(q.id, true); // stale: the first answer counts
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        // No: one connection, no plan of segments.
        QCOMPARE(job.progress().connections, 0);
        for (const HttpFileServer::Request &r : dataRequests(http))
            QVERIFY(r.text.contains("User-Agent: NELV Segment 0\r\n"));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 3 * 1048576));
    }

    void aQuestionPendingWhenTheJobEndsIsDropped()
    {
        HttpFileServer http(3 * 1048576);
        TransferRig rig;
        rig.settings.segment = true;
        TransferJob &job = rig.make();
        QList<TransferQuestion> held;
        QObject::disconnect(&job, &TransferJob::questionAsked, nullptr, nullptr);
        connect(&job, &TransferJob::questionAsked, this, [&](const TransferQuestion &q) { held.append(q); });
        job.start(TransferRequest{http.url(), rig.savePath(), ExistingFile::Overwrite});
        QTRY_COMPARE_WITH_TIMEOUT(held.size(), 1, 10000);
        job.cancel();
        QCOMPARE(job.state(), TransferState::Cancelled);
        job.answer(held.first().id, true);
        QCOMPARE(job.state(), TransferState::Cancelled);
        QCOMPARE(rig.outcomes.size(), 1);
        QVERIFY(dataRequests(http).isEmpty());
    }

    // ---------------------------------------------------------------- segments

    void fiveMebibytesStartAsTwoSegmentsByteIdentical()
    {
        const qint64 size = 5 * MiB;
        HttpFileServer http(size);
        TransferRig rig;
        rig.settings.segment = true;
        rig.script = {{TransferQuestion::Kind::UseSegments, true}};
        TransferJob &job = rig.start(http.url());
        QVERIFY(rig.waitFinished(60000));
        QVERIFY(rig.questionsDone());
        QCOMPARE(rig.asked.first().segments, 2);
        QVERIFY(rig.asked.first().afterPartialReply);
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        // The first plan: two segments of 2621440 bytes, the first carried
        // on by the probe's connection.
        const TransferProgress first = firstPlanned(rig);
        QCOMPARE(first.connections, 2);
        QCOMPARE(first.segments.size(), 2);
        QCOMPARE(first.segments[0].start, qint64(0));
        QCOMPARE(first.segments[0].end, qint64(2621440));
        QCOMPARE(first.segments[1].start, qint64(2621440));
        QCOMPARE(first.segments[1].end, size);
        const QList<HttpFileServer::Request> data = dataRequests(http);
        QVERIFY(!data.isEmpty());
        QCOMPARE(data.first().range, QByteArray("bytes=2621440-5242879"));
        QVERIFY(data.first().text.contains("User-Agent: NELV Segment 1\r\n"));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, size));
        QVERIFY(!QFile::exists(rig.sidecarPath()));
        for (const SegmentProgress &s : job.progress().segments)
            QCOMPARE(s.done, s.end - s.start);
    }

    void firstPlanOfLargerFiles_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QByteArrayList>("ranges");
        QTest::newRow("5 MiB + 1") << 5 * MiB + 1 << QByteArrayList{"bytes=1747627-3495253", "bytes=3495254-5242880"};
        QTest::newRow("30 MiB") << 30 * MiB
                                << QByteArrayList{"bytes=10485760-15728639", "bytes=15728640-20971519",
                                                  "bytes=20971520-26214399", "bytes=26214400-31457279",
                                                  "bytes=5242880-10485759"};
    }

    void firstPlanOfLargerFiles()
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
        http.pace = [](int) { return HttpFileServer::Pace{4096, 50}; }; // the first range stays busy
        TransferRig rig;
        rig.settings.segment = true;
        rig.script = {{TransferQuestion::Kind::UseSegments, true}};
        TransferJob &job = rig.start(http.url());
        QTRY_COMPARE_WITH_TIMEOUT(dataRequests(http).size(), ranges.size(), 10000);
        QByteArrayList asked;
        for (const HttpFileServer::Request &r : dataRequests(http))
            asked.append(r.range);
        std::sort(asked.begin(), asked.end());
        QCOMPARE(asked, ranges);
        QCOMPARE(job.progress().segments.size(), ranges.size() + 1);
        QCOMPARE(job.progress().connections, int(ranges.size()) + 1);
        job.cancel();
        QCOMPARE(job.state(), TransferState::Cancelled);
    }

    void segmentOffOrNoUsesOneConnection()
    {
        for (const bool ask : {false, true}) {
            HttpFileServer http(3 * MiB);
            http.style = HttpFileServer::RangeStyle::Lenient; // a 200 probe: the other question
            TransferRig rig;
            rig.settings.segment = ask;
            if (ask)
                rig.script = {{TransferQuestion::Kind::UseSegments, false}};
            TransferJob &job = rig.start(http.url());
            QVERIFY(rig.waitFinished(60000));
            QVERIFY(rig.questionsDone());
            if (ask)
                QVERIFY(!rig.asked.first().afterPartialReply);
            QCOMPARE(job.progress().connections, 0);
            QCOMPARE(job.progress().segments.size(), 1);
            QVERIFY(dataRequests(http).isEmpty());
            QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 3 * MiB));
        }
    }

    void resumedFileWithoutPlanIsNotSegmented()
    {
        HttpFileServer http(3 * MiB);
        TransferRig rig;
        rig.settings.segment = true;
        {
            QFile partial(rig.savePath());
            QVERIFY(partial.open(QIODevice::WriteOnly));
            partial.write(HttpFileServer::bytes(0, MiB));
        }
        TransferJob &job = rig.start(http.url(), ExistingFile::Resume); // no question is expected
        QVERIFY(rig.waitFinished(60000));
        QVERIFY(rig.questionsDone());
        QVERIFY(rig.asked.isEmpty());
        QCOMPARE(job.progress().connections, 0);
        QCOMPARE(dataRequests(http).size(), 1);
        QCOMPARE(dataRequests(http).first().range, "bytes=" + QByteArray::number(MiB - 4096 - 1) + "-3145727");
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 3 * MiB));
    }

    void serverIgnoringRangesEndsThePlan()
    {
        HttpFileServer http(3 * MiB);
        http.style = HttpFileServer::RangeStyle::IgnoreRanges;
        http.pace = [](int) { return HttpFileServer::Pace{64 * 1024, 10}; };
        TransferRig rig;
        rig.settings.segment = true;
        rig.script = {{TransferQuestion::Kind::UseSegments, true}};
        TransferJob &job = rig.start(http.url());
        QVERIFY(rig.waitFinished(60000));
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(job.progress().connections, 0);
        QCOMPARE(job.progress().segments.size(), 1);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 3 * MiB));
        QVERIFY(!QFile::exists(rig.sidecarPath()));
        // The probe's reply, the whole file from byte 0, went on alone: the
        // second segment's request was the only other one.
        QCOMPARE(http.requests.size(), 2);
        QVERIFY(http.server.connection(0)->bytesSent() > 3 * MiB);
        QVERIFY(http.server.connection(1)->bytesSent() < 3 * MiB);
    }

    void stopQuestionAndResumeInANewJob()
    {
        const qint64 size = 3 * MiB;
        HttpFileServer http(size);
        http.pieceSize = 64 * 1024;
        http.pieceDelayMs = 20;
        TransferRig rig;
        rig.settings.segment = true;
        rig.script = {{TransferQuestion::Kind::UseSegments, true}};
        TransferJob &job = rig.start(http.url());
        QTRY_VERIFY_WITH_TIMEOUT(job.progress().received > 600 * 1024, 30000);

        // No keeps it running.
        rig.script = {{TransferQuestion::Kind::StopSegmented, false}};
        job.stop();
        QTRY_VERIFY_WITH_TIMEOUT(rig.script.isEmpty() && job.state() == TransferState::Downloading, 5000);
        // Yes stops it and leaves the plan beside the file.
        rig.script = {{TransferQuestion::Kind::StopSegmented, true}};
        job.stop();
        QTRY_COMPARE_WITH_TIMEOUT(job.state(), TransferState::Stopped, 5000);
        QVERIFY(rig.questionsDone());
        QVERIFY(QFile::exists(rig.sidecarPath()));
        const QList<SegmentProgress> stoppedAt = job.progress().segments;
        job.cancel();
        QCOMPARE(rig.outcomes.size(), 1);

        // A new job resumes every range where it stopped.
        http.pieceDelayMs = 0;
        const qsizetype before = dataRequests(http).size();
        TransferJob &again = rig.start(http.url(), ExistingFile::Resume); // no question: the plan is kept
        QVERIFY(rig.waitFinished(60000));
        QVERIFY(rig.questionsDone());
        QCOMPARE(again.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, size));
        QVERIFY(!QFile::exists(rig.sidecarPath()));
        const QList<HttpFileServer::Request> all = dataRequests(http);
        QVERIFY(all.size() > before);
        for (const SegmentProgress &s : stoppedAt) {
            if (s.done == s.end - s.start)
                continue;
            const QByteArray wanted = "bytes=" + QByteArray::number(std::max(s.start, s.start + s.done - 4096)) + "-"
                                      + QByteArray::number(s.end - 1);
            QVERIFY2(std::any_of(all.begin() + before, all.end(),
                                 [&](const HttpFileServer::Request &r) { return r.range == wanted; }),
                     wanted.constData());
        }
    }

    void pauseKeepsConnectionsInsideTheirRanges()
    {
        const qint64 size = 4 * MiB;
        HttpFileServer http(size);
        http.pieceSize = 64 * 1024;
        http.pieceDelayMs = 15;
        TransferRig rig;
        rig.settings.segment = true;
        rig.settings.rollback = 1024 * 1024; // larger than what a range got so far
        rig.script = {{TransferQuestion::Kind::UseSegments, true}};
        TransferJob &job = rig.start(http.url());
        QTRY_VERIFY_WITH_TIMEOUT(job.progress().segments.size() == 2 && job.progress().segments[1].done > 100 * 1024,
                                 30000);
        const QList<SegmentProgress> before = job.progress().segments;
        job.pause();
        job.resume();
        const qsizetype asked = dataRequests(http).size();
        QVERIFY(rig.waitFinished(60000));
        // Both ranges were asked again, each from no earlier than its start.
        const QList<HttpFileServer::Request> data = dataRequests(http);
        QVERIFY(data.size() >= asked + 1);
        QVERIFY(std::any_of(data.begin(), data.end(), [&](const HttpFileServer::Request &r) {
            return r.range == "bytes=" + QByteArray::number(before[1].start) + "-" + QByteArray::number(size - 1);
        }));
        for (const HttpFileServer::Request &r : data) {
            const qint64 first = r.range.mid(6, r.range.indexOf('-') - 6).toLongLong();
            QVERIFY2(first == 0 || first >= before[1].start || first < before[0].end, r.range.constData());
        }
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, size));
        QCOMPARE(job.progress().received, size);
    }

    // ---------------------------------------------------------------- dynamic split

    void idleConnectionsTakeOverTheSlowOnes_data()
    {
        QTest::addColumn<bool>("keepAlive");
        QTest::newRow("keep-alive") << true;
        QTest::newRow("connection: close") << false;
    }

    void idleConnectionsTakeOverTheSlowOnes()
    {
        QFETCH(bool, keepAlive);
        const qint64 size = 21 * MiB; // six segments
        HttpFileServer http(size);
        http.maxReplyBody = size;
        http.closeAfterReply = !keepAlive;
        // Connections 3 and 4 (the probe is 0 and 1) crawl; the others run.
        http.pace = [](int connection) {
            return connection == 3 || connection == 4 ? HttpFileServer::Pace{16 * 1024, 20}
                                                      : HttpFileServer::Pace{256 * 1024, 2};
        };
        TransferRig rig;
        rig.settings.segment = true;
        rig.script = {{TransferQuestion::Kind::UseSegments, true}};
        TransferJob &job = rig.start(http.url());
        int most = 0;
        connect(&job, &TransferJob::progressChanged, this, [&] {
            most = std::max(most, int(job.progress().segments.size()));
        });
        QVERIFY(rig.waitFinished(60000));
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, size));
        QVERIFY(!QFile::exists(rig.sidecarPath()));
        QVERIFY(most <= 6); // never more than the plan's connections

        // Beyond the first plan's five data requests, idle connections asked
        // for upper halves of what the slow ones had left.
        const QList<HttpFileServer::Request> data = dataRequests(http);
        QVERIFY2(data.size() > 5, qPrintable(QString::number(data.size())));
        const qint64 part = size / 6;
        int splits = 0;
        for (const HttpFileServer::Request &r : data) {
            const qint64 first = r.range.mid(6, r.range.indexOf('-') - 6).toLongLong();
            if (first % part != 0)
                ++splits;
        }
        QVERIFY(splits > 0);
        // Every range asked for runs to a boundary of the first plan or to
        // the first byte of a range split off later: an upper half always
        // takes what its range had left up to that range's end.
        QSet<qint64> boundaries;
        for (int k = 1; k <= 6; ++k)
            boundaries.insert(k < 6 ? part * k : size);
        for (const HttpFileServer::Request &r : data)
            boundaries.insert(r.range.mid(6, r.range.indexOf('-') - 6).toLongLong());
        for (const HttpFileServer::Request &r : data)
            QVERIFY2(boundaries.contains(r.range.mid(r.range.indexOf('-') + 1).toLongLong() + 1), r.range.constData());
        if (keepAlive) {
            // A connection whose reply ended went on with its next range.
            QSet<int> seen;
            bool reused = false;
            for (const HttpFileServer::Request &r : data) {
                reused = reused || seen.contains(r.connection);
                seen.insert(r.connection);
            }
            QVERIFY(reused);
        }
        // The segment bars showed the connections' new ranges.
        bool shrunk = false;
        for (const TransferProgress &p : rig.progressSeen) {
            for (const SegmentProgress &s : p.segments)
                shrunk = shrunk || (s.end - s.start != part && s.end != size);
        }
        QVERIFY(shrunk);
    }

    void stopAfterSplitsAndResumeFillEveryGap_data()
    {
        QTest::addColumn<bool>("kill");
        QTest::newRow("stopped") << false;
        QTest::newRow("killed") << true;
    }

    void stopAfterSplitsAndResumeFillEveryGap()
    {
        QFETCH(bool, kill);
        const qint64 size = 21 * MiB;
        HttpFileServer http(size);
        http.maxReplyBody = size;
        http.pace = [](int connection) {
            return connection == 3 || connection == 4 ? HttpFileServer::Pace{16 * 1024, 20}
                                                      : HttpFileServer::Pace{128 * 1024, 5};
        };
        TransferRig rig;
        rig.settings.segment = true;
        rig.script = {{TransferQuestion::Kind::UseSegments, true}};
        TransferJob &job = rig.start(http.url());
        // Wait until ranges were split, then stop.
        QTRY_VERIFY_WITH_TIMEOUT(dataRequests(http).size() > 6, 60000);
        if (kill) {
            // Gone without a word: what the last split or checkpoint wrote is
            // all a later start has.
            rig.job.reset();
        } else {
            rig.script = {{TransferQuestion::Kind::StopSegmented, true}};
            job.stop();
            QTRY_COMPARE_WITH_TIMEOUT(job.state(), TransferState::Stopped, 5000);
            job.cancel();
        }
        QFile sidecar(rig.sidecarPath());
        QVERIFY(sidecar.open(QIODevice::ReadOnly));
        const std::optional<SegmentPlan> plan = SegmentPlan::parse(sidecar.readAll(), size, 0);
        QVERIFY(plan);
        QVERIFY(!plan->isComplete());

        // A kill leaves the same plan; the next start fills every gap.
        http.pace = {};
        TransferJob &again = rig.start(http.url(), ExistingFile::Resume);
        QVERIFY(rig.waitFinished(60000));
        QCOMPARE(again.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, size));
        QVERIFY(!QFile::exists(rig.sidecarPath()));
    }

    // ---------------------------------------------------------------- settings

    void existingFileChoicesMapBothWays_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<int>("existing");
        QTest::newRow("overwrite") << 0 << int(ExistingFile::Overwrite);
        QTest::newRow("resume") << -1 << int(ExistingFile::Resume);
        QTest::newRow("cancel") << -2 << int(ExistingFile::Cancel);
    }

    void existingFileChoicesMapBothWays()
    {
        QFETCH(int, choice);
        QFETCH(int, existing);
        QCOMPARE(int(existingFileFromChoice(choice)), existing);
        QCOMPARE(existingFileChoice(ExistingFile(existing)), choice);
    }

    void settingsComeFromTheRecord()
    {
        SettingsRecord record;
        record.Timeout = 7;
        record.Retry = false;
        record.Retries = 4;
        record.Rollback = 100;
        record.StopResume = true;
        record.TimeResume = 11;
        record.TimeNoResume = 22;
        record.Segment = 1;
        record.SegmentSize[0] = 123;
        record.UsePASV = true;
        record.UseProxy = true;
        record.ProxyServer = QStringLiteral("proxy.example");
        const TransferSettings s = TransferSettings::fromRecord(record);
        QCOMPARE(s.timeout, 7);
        QCOMPARE(s.retry, false);
        QCOMPARE(s.retries, 4);
        QCOMPARE(s.rollback, qint64(100));
        QCOMPARE(s.stopResume, true);
        QCOMPARE(s.timeResume, 11);
        QCOMPARE(s.timeNoResume, 22);
        QCOMPARE(s.segment, true);
        QCOMPARE(s.segmentSize[0], 123.0);
        QCOMPARE(s.passive, true);
        QVERIFY(s.proxy.active());
        record.Segment = 2; // only 1 turns segmenting on
        QVERIFY(!TransferSettings::fromRecord(record).segment);
    }

    void settingsAreReadAgainAtEveryRestart()
    {
        HttpFileServer http(1000);
        int stalls = 1;
        http.override = [&](const QByteArray &, FakePlan &plan) {
            if (stalls-- <= 0)
                return false;
            plan.stall(); // the first try times out
            return true;
        };
        TransferRig rig;
        rig.settings.timeout = 2;
        int reads = 0;
        TransferServices services = rig.services();
        services.settings = [&] {
            ++reads;
            return rig.settings;
        };
        TransferJob job(services);
        job.start(TransferRequest{http.url(), rig.savePath(), ExistingFile::Overwrite});
        QTRY_VERIFY_WITH_TIMEOUT(job.isFinished(), 20000);
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(job.progress().retries, 1);
        QCOMPARE(reads, 2);
    }
};

QTEST_GUILESS_MAIN(TestTransferJob)
#include "tst_transferjob.moc"
