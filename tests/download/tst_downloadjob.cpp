#include "jobrig.h"

#include "config/cregister.h"
#include "config/settingsrecord.h"
#include "download/downloadjob.h"
#include "platform/registrystore.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using Column = DownloadListModel::Column;

class TestDownloadJob : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void downloadsAcrossServerStyles_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QByteArrayList>("expectedRanges");
        QTest::newRow("416 then 206") << int(HttpFileServer::RangeStyle::Strict)
                                      << QByteArrayList{"bytes=-", "bytes=0-", "bytes=0-99999"};
        QTest::newRow("200 probe, 206 data") << int(HttpFileServer::RangeStyle::Lenient)
                                             << QByteArrayList{"bytes=-", "bytes=0-99999"};
        QTest::newRow("ranges ignored") << int(HttpFileServer::RangeStyle::IgnoreRanges)
                                        << QByteArrayList{"bytes=-", "bytes=0-99999"};
    }

    void downloadsAcrossServerStyles()
    {
        QFETCH(int, style);
        QFETCH(QByteArrayList, expectedRanges);
        HttpFileServer http(100000);
        http.style = HttpFileServer::RangeStyle(style);
        JobRig rig;
        DownloadJob &job = rig.start(http.url());
        const DownloadListModel::RowId row = job.lstItem;
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 100000));
        QCOMPARE(http.ranges, expectedRanges);

        // The row moved to the completed list with the completed icon.
        QVERIFY(!rig.mainList.contains(row));
        QCOMPARE(rig.completeList.count(), 1);
        const auto done = rig.completeList.idAt(0);
        QCOMPARE(rig.completeList.icon(done), 4);
        QCOMPARE(rig.completeList.value(done, Column::Progress), QStringLiteral("100%"));
        QCOMPARE(rig.completeList.value(done, Column::Status), QStringLiteral("Download Success"));
        QCOMPARE(rig.completeList.value(done, Column::Url), http.url());
        QCOMPARE(job.display().status, QStringLiteral("Transfer Completed..."));
        QCOMPARE(job.display().stopText, QStringLiteral("&Close"));
        QVERIFY(job.display().openVisible);
        QVERIFY(!job.display().pauseEnabled);

        // Statistics in the record and in the store.
        QCOMPARE(rig.record.Downloads, 1);
        QCOMPARE(rig.record.AllBytes, qint64(100000));
        QCOMPARE(rig.reg.REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QStringLiteral("Downloads"), {}),
                 QStringLiteral("1"));
        QCOMPARE(rig.reg.REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QStringLiteral("AllBytes"), {}),
                 QStringLiteral("100000"));
    }

    void requestsCarryTheirHeaders()
    {
        HttpFileServer http(5000);
        JobRig rig;
        rig.start(http.url(QStringLiteral("/dir/a file.bin")));
        QVERIFY(rig.waitFinished());
        const QByteArrayList requests = [&] {
            QByteArrayList all;
            for (FakeConnection *c : http.server.connections())
                all += c->requests();
            return all;
        }();
        QCOMPARE(requests.size(), 3);
        QVERIFY(requests[0].startsWith("GET /dir/a%20file.bin HTTP/1.1\r\n"));
        QVERIFY(requests[0].contains("\r\nHost: 127.0.0.1:" + QByteArray::number(http.server.port()) + "\r\n"));
        QVERIFY(requests[0].contains("\r\nUser-Agent: DM\r\n"));
        QVERIFY(requests[2].contains("\r\nUser-Agent: NELV Segment 0\r\n"));
        QVERIFY(requests[2].contains("\r\nRange: bytes=0-4999\r\n"));
        QVERIFY(!requests[2].contains("Proxy-Authorization"));
    }

    void headerSplitAnywhereAndBodyWithHeaderWords()
    {
        HttpFileServer http(1000);
        http.lowerCaseHeaders = true;
        // The body itself looks like header lines; it must be written unchanged.
        const QByteArray body = QByteArray("location: /elsewhere\r\ncontent-type: text/html\r\n\r\n").repeated(30).left(1000);
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
        JobRig rig;
        rig.record.StopResume = false; // the answer above ignores the range of a resume
        rig.start(http.url());
        QCOMPARE(body.size(), 1000);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->display().status, QStringLiteral("Transfer Completed..."));
        QCOMPARE(rig.saved(), body);
        QVERIFY(rig.job->strLog().contains("content-range: bytes 0-999/1000"));
    }

    void errorStatusWaitsWithItsMessage()
    {
        HttpFileServer http(100);
        http.override = [](const QByteArray &, FakePlan &plan) {
            plan.send(FakeServer::httpHead("HTTP/1.1 404 Not Found", {"Content-Length: 0"}));
            return true;
        };
        JobRig rig;
        DownloadJob &job = rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Failed);
        QCOMPARE(job.display().status, QStringLiteral("HTTP 404-Object Not Found"));
        QCOMPARE(rig.mainList.value(job.lstItem, Column::Status), QStringLiteral("HTTP 404-Object Not Found"));
        QCOMPARE(rig.mainList.value(job.lstItem, Column::Progress), QStringLiteral("0 %"));
        QVERIFY(!job.display().pauseEnabled);
        QVERIFY(!job.display().stopEnabled);
        QVERIFY(!QFile::exists(rig.savePath()));
        QCOMPARE(rig.completeList.count(), 0);
    }

    void dataReplyThatDoesNotAnswerTheRangeIsNotWritten_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("503") << FakeServer::httpHead("HTTP/1.1 503 Service Unavailable", {"Content-Length: 5"}) + "busy!";
        QTest::newRow("wrong start") << FakeServer::httpHead("HTTP/1.1 206 Partial Content",
                                                             {"Content-Range: bytes 10-99/100", "Content-Length: 90"})
                                            + QByteArray(90, 'x');
    }

    void dataReplyThatDoesNotAnswerTheRangeIsNotWritten()
    {
        QFETCH(QByteArray, reply);
        HttpFileServer http(100);
        http.style = HttpFileServer::RangeStyle::Lenient;
        http.override = [&](const QByteArray &request, FakePlan &plan) {
            if (request.contains("User-Agent: DM\r\n"))
                return false;
            plan.send(reply);
            return true;
        };
        JobRig rig;
        DownloadJob &job = rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Failed);
        QVERIFY(!job.display().status.isEmpty());
        QCOMPARE(rig.mainList.value(job.lstItem, Column::Progress), QStringLiteral("0 %"));
        QCOMPARE(QFileInfo(rig.savePath()).size(), qint64(0));
    }

    void droppedConnectionContinuesWhereItStopped()
    {
        HttpFileServer http(50000);
        http.dropFirstDataAfter = 12345;
        JobRig rig;
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 50000));
        QCOMPARE(http.ranges.last(), QByteArray("bytes=12345-49999"));
    }

    void resumeStartsRollbackBeforeTheEnd()
    {
        HttpFileServer http(20000);
        JobRig rig;
        {
            QFile partial(rig.savePath());
            QVERIFY(partial.open(QIODevice::WriteOnly));
            partial.write(HttpFileServer::bytes(0, 10000));
        }
        rig.start(http.url(), -1);
        QVERIFY(rig.waitFinished());
        QCOMPARE(http.ranges.last(), QByteArray("bytes=5903-19999"));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 20000));
    }

    void resumeBeyondFourGibibytes()
    {
        const qint64 size = Q_INT64_C(5) * 1024 * 1024 * 1024 + 17;
        HttpFileServer http(size);
        JobRig rig;
        {
            QFile partial(rig.savePath());
            QVERIFY(partial.open(QIODevice::WriteOnly));
            QVERIFY(partial.resize(size - 1000)); // sparse: costs no disk
        }
        rig.start(http.url(), -1);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(http.ranges.last(), "bytes=" + QByteArray::number(size - 1000 - 4096 - 1) + "-" + QByteArray::number(size - 1));
        QFile f(rig.savePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.size(), size);
        QVERIFY(f.seek(size - 5097));
        QCOMPARE(f.readAll(), HttpFileServer::bytes(size - 5097, 5097));
        QCOMPARE(rig.record.AllBytes, size);
    }

    void overwriteReplacesAnExistingFile()
    {
        HttpFileServer http(1000);
        JobRig rig;
        {
            QFile old(rig.savePath());
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(5000, 'z'));
        }
        rig.start(http.url(), 0);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 1000));
    }

    void cancelledStartClosesTheWindow()
    {
        HttpFileServer http(1000);
        JobRig rig;
        DownloadJob &job = rig.start(http.url(), -2);
        QCOMPARE(job.state(), DownloadJob::State::Closed);
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Cancelled);
        QTest::qWait(50);
        QCOMPARE(http.server.connectionCount(), 0);
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
        JobRig rig;
        rig.start(http.url(QStringLiteral("/old/file.bin")));
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(rig.job->url.strFilePath, QStringLiteral("/new/file.bin"));
        QCOMPARE(rig.job->intRedirects(), 1);
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
        JobRig rig;
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome(), DownloadJob::Outcome::Failed);
        QCOMPARE(rig.job->intRedirects(), 20);
        QVERIFY(rig.job->display().status.contains(QStringLiteral("redirect"), Qt::CaseInsensitive));
    }

    void timeoutRetriesThenGivesUp()
    {
        HttpFileServer http(10);
        http.override = [](const QByteArray &, FakePlan &plan) {
            plan.stall();
            return true;
        };
        JobRig rig;
        rig.record.Timeout = 3;
        rig.record.Retry = true;
        rig.record.Retries = 0;
        DownloadJob &job = rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Failed);
        QCOMPARE(job.intRetries(), 1);
        QCOMPARE(http.server.connectionCount(), 2); // the first try and one retry
        QCOMPARE(job.display().status, QStringLiteral("Connection has timed out."));
        QCOMPARE(job.intTimeLeft(), 3);
    }

    void timeoutWithoutRetryGivesUpAtOnce()
    {
        HttpFileServer http(10);
        http.override = [](const QByteArray &, FakePlan &plan) {
            plan.stall();
            return true;
        };
        JobRig rig;
        rig.timing.timeout = 300ms;
        rig.record.Timeout = 2;
        rig.record.Retry = false;
        DownloadJob &job = rig.start(http.url());
        QVERIFY(!job.display().countdownVisible);
        QTRY_COMPARE_WITH_TIMEOUT(job.display().countdown, QStringLiteral("Timeout: 1 sec."), 5000);
        QVERIFY(job.display().countdownVisible);
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.display().countdown, QStringLiteral("Timeout: 0 sec."));
        QCOMPARE(http.server.connectionCount(), 1);
        QCOMPARE(job.intRetries(), 0);
    }

    void pauseAndResumeFetchRollbackAgain()
    {
        HttpFileServer http(300000);
        http.pieceSize = 10000;
        http.pieceDelayMs = 15;
        JobRig rig;
        DownloadJob &job = rig.start(http.url());
        QTRY_VERIFY_WITH_TIMEOUT(job.TotalReceived() >= 100000, 20000);
        job.Pause_Resume();
        QCOMPARE(job.state(), DownloadJob::State::Paused);
        QCOMPARE(job.display().pauseText, QStringLiteral("&Resume"));
        QVERIFY(!job.display().stopEnabled);
        QCOMPARE(rig.mainList.value(job.lstItem, Column::Status), QStringLiteral("Paused/Stopped"));
        const qint64 at = job.TotalReceived();
        QTest::qWait(60);
        QCOMPARE(job.TotalReceived(), at); // nothing is written while paused

        job.Pause_Resume();
        QCOMPARE(job.display().pauseText, QStringLiteral("&Pause"));
        QVERIFY(rig.waitFinished());
        QCOMPARE(http.ranges.last(), "bytes=" + QByteArray::number(at - 4096) + "-299999");
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 300000));

        // Pause after completion does nothing.
        job.Pause_Resume();
        QCOMPARE(job.state(), DownloadJob::State::Complete);
    }

    void stallIsPausedAndResumed()
    {
        HttpFileServer http(80000);
        http.stallFirstDataAfter = 30000;
        JobRig rig;
        rig.record.StopResume = true;
        rig.record.TimeResume = 5; // five stall-detector seconds of 20 ms
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 80000));
        QCOMPARE(http.ranges.last(), QByteArray("bytes=25904-79999"));
    }

    void stopKeepsTheFileAndCloseEnds()
    {
        HttpFileServer http(400000);
        http.pieceSize = 10000;
        http.pieceDelayMs = 15;
        JobRig rig;
        DownloadJob &job = rig.start(http.url());
        QTRY_VERIFY_WITH_TIMEOUT(job.TotalReceived() >= 50000, 20000);
        job.StopMe(); // one connection: no question
        QCOMPARE(job.state(), DownloadJob::State::Stopped);
        QCOMPARE(job.display().status, QStringLiteral("Transfer Stopped"));
        QCOMPARE(job.display().stopText, QStringLiteral("&Close"));
        QVERIFY(QFileInfo(rig.savePath()).size() >= 50000);
        QSignalSpy closing(&job, &DownloadJob::closeRequested);
        job.StopMe();
        QCOMPARE(closing.count(), 1);
        QCOMPARE(job.state(), DownloadJob::State::Closed);
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Cancelled);
    }

    void completionPromptAndClose()
    {
        HttpFileServer http(2000);
        JobRig rig;
        rig.reg.REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QStringLiteral("PromptDone"), QStringLiteral("1"));
        rig.reg.REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QStringLiteral("CloseDownloadWindowWhenDone"),
                               QStringLiteral("1"));
        rig.prompts.expectMessage(QStringLiteral("Download Successful."));
        DownloadJob &job = rig.start(http.url());
        QSignalSpy closing(&job, &DownloadJob::closeRequested);
        QVERIFY(rig.waitFinished());
        QTRY_COMPARE(closing.count(), 1);
        VERIFY_PROMPTS_DONE(rig.prompts);
        QCOMPARE(rig.prompts.last().icon, PromptIcon::Information);
        QCOMPARE(rig.prompts.last().title, QStringLiteral("Tessel"));
    }

    void twoCompletionsAddTwo()
    {
        HttpFileServer http(100);
        JobRig rig;
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.record.Downloads, 2);
        QCOMPARE(rig.completeList.count(), 2);
        QCOMPARE(rig.mainList.count(), 0);
    }

    void emptyFileCompletesAtOnce()
    {
        HttpFileServer http(0);
        http.style = HttpFileServer::RangeStyle::Lenient;
        JobRig rig;
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome(), DownloadJob::Outcome::Completed);
        QVERIFY(QFile::exists(rig.savePath()));
        QCOMPARE(QFileInfo(rig.savePath()).size(), qint64(0));
    }

    void userPauseAndStopAreLeftAloneByTheStallDetector()
    {
        HttpFileServer http(400000);
        http.pieceSize = 5000;
        http.pieceDelayMs = 20;
        JobRig rig;
        rig.record.StopResume = true;
        rig.record.TimeResume = 2; // 40 ms per detector tick
        DownloadJob &job = rig.start(http.url());
        QTRY_VERIFY_WITH_TIMEOUT(job.TotalReceived() >= 20000, 20000);
        job.Pause_Resume();
        const int connections = http.server.connectionCount();
        QTest::qWait(300); // several detector ticks
        QCOMPARE(job.state(), DownloadJob::State::Paused);
        QCOMPARE(http.server.connectionCount(), connections);

        job.Pause_Resume();
        QTRY_VERIFY_WITH_TIMEOUT(job.TotalReceived() >= 60000, 20000);
        job.StopMe();
        const qint64 kept = QFileInfo(rig.savePath()).size();
        QTest::qWait(300);
        QCOMPARE(job.state(), DownloadJob::State::Stopped);
        QCOMPARE(http.server.connectionCount(), connections + 1);
        QCOMPARE(QFileInfo(rig.savePath()).size(), kept);
    }

    void emptyClosesBackOffAndGiveUpWithinTheBudget()
    {
        HttpFileServer http(1000);
        http.style = HttpFileServer::RangeStyle::Lenient;
        QList<qint64> times;
        QElapsedTimer clock;
        clock.start();
        http.override = [&](const QByteArray &request, FakePlan &plan) {
            if (request.contains("User-Agent: DM\r\n"))
                return false;
            times.append(clock.elapsed());
            plan.close();
            return true;
        };
        JobRig rig;
        rig.record.Retry = true;
        rig.record.Retries = 3;
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome(), DownloadJob::Outcome::Failed);
        QCOMPARE(times.size(), 4); // the first try and three retries
        QVERIFY(times[3] - times[2] > times[1] - times[0]); // waiting longer each time
        QVERIFY(rig.job->display().status.contains(QStringLiteral("closing the connection")));
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
        JobRig rig;
        rig.start(http.url(QStringLiteral("/page/file.bin")));
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(rig.job->url.strFilePath, QStringLiteral("/files/FILE.bin"));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 2048));
    }

    void pageWithoutTheFileFails()
    {
        HttpFileServer http(10);
        http.override = [](const QByteArray &, FakePlan &plan) {
            plan.send(FakeServer::httpHead("HTTP/1.1 200 OK", {"Content-Type: text/html"}) + "<html>nothing</html>").close();
            return true;
        };
        JobRig rig;
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome(), DownloadJob::Outcome::Failed);
    }

    void errorStatusesShowTheirCaptions_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("400") << 400 << "HTTP 400-Bad Request";
        QTest::newRow("401") << 401 << "HTTP 401.x-You are not authorized to view this page";
        QTest::newRow("403") << 403 << "HTTP 403.x - Forbidden: Acess Denied";
        QTest::newRow("407") << 407 << "HTTP 407 - Proxy Authentication Required";
        QTest::newRow("410") << 410 << "HTTP Error 410 - Permanently not available";
        QTest::newRow("500") << 500 << "HTTP Error 500-Server Error - The server failed to fulfill an apparently valid request";
        QTest::newRow("502") << 502 << "HTTP 502 - Bad Gateway";
        QTest::newRow("503 has no caption") << 503 << "HTTP 503 Service Unavailable";
    }

    void errorStatusesShowTheirCaptions()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        HttpFileServer http(10);
        http.override = [&](const QByteArray &, FakePlan &plan) {
            const QByteArray reason = code == 503 ? "Service Unavailable" : "Whatever";
            plan.send(FakeServer::httpHead("HTTP/1.1 " + QByteArray::number(code) + " " + reason, {"Content-Length: 0"}));
            return true;
        };
        JobRig rig;
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->display().status, text);
        QCOMPARE(rig.mainList.value(rig.job->lstItem, Column::Status), text);
    }

    void redirectToAnotherHost()
    {
        HttpFileServer target(3000);
        FakeServer origin(QHostAddress(QStringLiteral("127.0.0.2")));
        origin.setReply(FakePlan().send(FakeServer::httpHead(
            "HTTP/1.1 301 Moved Permanently",
            {"Location: " + target.url(QStringLiteral("/moved.bin")).toUtf8(), "Content-Length: 0"})));
        JobRig rig;
        rig.start(QStringLiteral("http://127.0.0.2:%1/file.bin").arg(origin.port()));
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(rig.job->url.strServer, QStringLiteral("127.0.0.1"));
        QCOMPARE(origin.connectionCount(), 1);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 3000));
    }

    void proxyGetsAbsoluteTargetsAndTheCredentials()
    {
        // The "proxy" is a file server that records what reaches it.
        HttpFileServer proxy(4000);
        JobRig rig;
        rig.record.UseProxy = true;
        rig.record.ProxyServer = QStringLiteral("127.0.0.1");
        rig.record.ProxyPort = proxy.server.port();
        rig.record.LoginProxy = true;
        rig.record.UsePass = true;
        rig.record.UserID = QStringLiteral("user");
        rig.record.UserPass = QStringLiteral("secret");
        rig.start(QStringLiteral("http://files.example:8080/pub/file.bin"));
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 4000));
        const QByteArray auth = "Proxy-Authorization: Basic " + QByteArray("user:secret").toBase64();
        for (FakeConnection *c : proxy.server.connections()) {
            for (const QByteArray &request : c->requests()) {
                QVERIFY(request.startsWith("GET http://files.example:8080/pub/file.bin HTTP/1.1\r\n"));
                QVERIFY(request.contains("\r\nHost: files.example:8080\r\n"));
                if (request.contains("NELV"))
                    QVERIFY(request.contains(auth));
            }
        }
    }

    void credentialsNeverGoToTheOriginServer()
    {
        HttpFileServer http(100);
        JobRig rig;
        rig.record.UseProxy = false;
        rig.record.LoginProxy = true;
        rig.record.UserID = QStringLiteral("user");
        rig.record.UserPass = QStringLiteral("secret");
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        for (FakeConnection *c : http.server.connections())
            QVERIFY(!c->received().contains("Proxy-Authorization"));
        QVERIFY(http.server.connection(0)->requests().value(0).startsWith("GET /file.bin HTTP/1.1\r\n"));
    }

    void completionAfterTheRowWasRemovedTouchesNoOtherRow()
    {
        HttpFileServer http(200000);
        http.pieceSize = 20000;
        http.pieceDelayMs = 10;
        JobRig rig;
        const auto other = rig.mainList.addRow({QStringLiteral("/other"), QStringLiteral("0%"), QStringLiteral("N/A"),
                                                QStringLiteral("N/A"), QStringLiteral("N/A"), QStringLiteral("http://x/y")});
        DownloadJob &job = rig.start(http.url());
        rig.mainList.removeRowById(job.lstItem);
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(rig.mainList.count(), 1);
        QCOMPARE(rig.mainList.values(other).mid(0, 6),
                 (QStringList{"/other", "0%", "N/A", "N/A", "N/A", "http://x/y"}));
        QCOMPARE(rig.completeList.count(), 0);
    }

    void ratesAndTimeLeftAreInSeconds()
    {
        HttpFileServer http(2000000);
        http.pieceSize = 20000;
        http.pieceDelayMs = 10; // about 2 MB/s
        JobRig rig;
        rig.timing.rate = 200ms;
        DownloadJob &job = rig.start(http.url());
        QTRY_VERIFY_WITH_TIMEOUT(job.intTransferRate > 0, 10000);
        // Well below the 2 MB/s a tick-counting rate would inflate past, and not zero.
        QVERIFY2(job.intTransferRate < 4.0e6 && job.intTransferRate > 2.0e5,
                 qPrintable(QString::number(job.intTransferRate)));
        QVERIFY(job.display().rate.endsWith(QStringLiteral(" /Second")));
        QVERIFY(rig.waitFinished());
    }

    void aSaveFileThatCannotBeCreatedIsReported()
    {
        HttpFileServer http(1000);
        JobRig rig;
        // A folder stands where the file should go: the file system refuses the name.
        QVERIFY(QDir().mkpath(rig.savePath()));
        DownloadJob &job = rig.start(http.url(), -1);
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Failed);
        QVERIFY2(job.display().status.contains(rig.savePath()), qPrintable(job.display().status));
        QCOMPARE(rig.mainList.value(job.lstItem, DownloadListModel::Status), job.display().status);
    }

    void serverThatClosesAtOnceIsGivenUp()
    {
        HttpFileServer http(1000);
        http.style = HttpFileServer::RangeStyle::Lenient;
        http.override = [](const QByteArray &request, FakePlan &plan) {
            if (request.contains("User-Agent: DM\r\n"))
                return false;
            plan.close();
            return true;
        };
        JobRig rig;
        rig.record.Retries = 2;
        rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome(), DownloadJob::Outcome::Failed);
        QCOMPARE(http.server.connectionCount(), 1 + 3); // the probe, the first try and two retries
    }
};

QTEST_GUILESS_MAIN(TestDownloadJob)
#include "tst_downloadjob.moc"
