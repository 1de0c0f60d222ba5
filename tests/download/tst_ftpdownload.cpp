#include "ftpfileserver.h"
#include "jobrig.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

using Column = DownloadListModel::Column;

namespace {
QByteArrayList verbs(const QByteArrayList &commands)
{
    QByteArrayList out;
    for (const QByteArray &c : commands)
        out.append(c.split(' ').value(0));
    return out;
}
} // namespace

class TestFtpDownload : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void anonymousActiveDownload()
    {
        FtpFileServer ftp(200000);
        JobRig rig;
        rig.record.UsePASV = false;
        DownloadJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(verbs(ftp.commands), (QByteArrayList{"USER", "PASS", "PORT", "TYPE", "REST", "RETR"}));
        QCOMPARE(ftp.commands[0], QByteArray("USER anonymous"));
        QCOMPARE(ftp.commands[4], QByteArray("REST 0"));
        QCOMPARE(ftp.commands[5], QByteArray("RETR pub/file.bin"));
        // The PORT names this machine and the port that was really bound.
        const auto port = FakeServer::parseFtpHostPort(ftp.commands[2].mid(5));
        QVERIFY(port.has_value());
        QCOMPARE(port->first, QHostAddress(QHostAddress::LocalHost));
        QVERIFY(port->second > 0);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 200000));
        QCOMPARE(rig.completeList.count(), 1);
        QCOMPARE(rig.record.Downloads, 1);
        QCOMPARE(job.display().fileSize, QStringLiteral("195.31 KB"));
    }

    void passiveGoesToTheControlServer()
    {
        FtpFileServer ftp(50000);
        ftp.passiveHost = "10,9,8,7"; // a server pointing elsewhere is not followed
        JobRig rig;
        rig.record.UsePASV = true;
        DownloadJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(verbs(ftp.commands), (QByteArrayList{"USER", "PASS", "PASV", "TYPE", "REST", "RETR"}));
        QCOMPARE(ftp.passiveData.connectionCount(), 1);
        QVERIFY(job.strLog().contains("10.9.8.7"));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 50000));
    }

    void repliesSplitOrJoinedAndMultiLineBanner_data()
    {
        QTest::addColumn<QByteArray>("banner");
        QTest::newRow("multi-line banner") << QByteArray("220-Welcome\r\n220-to the test\r\n220 server\r\n");
        QTest::newRow("banner with inner code lines") << QByteArray("220-Hello\r\n331 not a reply\r\n220 ready\r\n");
        QTest::newRow("bare LF") << QByteArray("220-Hello\n220 ready\n");
    }

    void repliesSplitOrJoinedAndMultiLineBanner()
    {
        QFETCH(QByteArray, banner);
        FtpFileServer ftp(10000);
        ftp.control.setGreeting(FakePlan().sendInPieces(banner, 1, 1));
        JobRig rig;
        rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(ftp.commands.count("USER anonymous"), 1);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 10000));
    }

    void severalRepliesInOneChunk()
    {
        FtpFileServer ftp(10000);
        // The login replies come ahead of their commands, all in one piece.
        ftp.control.setGreeting(FakePlan().send("220 ready\r\n"));
        ftp.override = [](const QByteArray &command, FakePlan &plan) {
            if (command.startsWith("USER")) {
                plan.send("331 Password required\r\n230 Logged in\r\n");
                return true;
            }
            return command.startsWith("PASS"); // already answered
        };
        JobRig rig;
        rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 10000));
    }

    void fileNotFound()
    {
        FtpFileServer ftp(10);
        ftp.override = [](const QByteArray &command, FakePlan &plan) {
            if (!command.startsWith("RETR"))
                return false;
            plan.send("550 No such file\r\n");
            return true;
        };
        JobRig rig;
        DownloadJob &job = rig.start(ftp.url());
        QSignalSpy mode(&job, &DownloadJob::modeEntryChanged);
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Failed);
        QCOMPARE(job.display().status, QStringLiteral("File Not Found"));
        QCOMPARE(rig.mainList.value(job.lstItem, Column::Status), QStringLiteral("File Not Found"));
        QCOMPARE(job.display().stopText, QStringLiteral("&Close"));
        QVERIFY(job.display().stopEnabled);
        QCOMPARE(mode.count(), 1);
        QCOMPARE(mode.first().at(1).toString(), QStringLiteral("Error"));
        QSignalSpy closing(&job, &DownloadJob::closeRequested);
        job.StopMe();
        QCOMPARE(closing.count(), 1);
    }

    void loginRefusedGivesUpAfterTheRetries()
    {
        FtpFileServer ftp(10);
        ftp.override = [](const QByteArray &command, FakePlan &plan) {
            if (!command.startsWith("PASS"))
                return false;
            plan.send("530 Login incorrect\r\n");
            return true;
        };
        JobRig rig;
        rig.record.Timeout = 3;
        rig.record.Retries = 0;
        DownloadJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Failed);
        QCOMPARE(ftp.control.connectionCount(), 2); // the first login and one retry
        QCOMPARE(rig.mainList.value(job.lstItem, Column::Status), QStringLiteral(" can not log in."));
    }

    void resumeSendsRestWithDoubleRollback()
    {
        FtpFileServer ftp(20000);
        JobRig rig;
        {
            QFile partial(rig.savePath());
            QVERIFY(partial.open(QIODevice::WriteOnly));
            partial.write(HttpFileServer::bytes(0, 10000));
        }
        rig.start(ftp.url(), -1);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome(), DownloadJob::Outcome::Completed);
        QVERIFY(ftp.commands.contains("REST 1809"));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 20000));
    }

    void sizeFromTheReply()
    {
        FtpFileServer ftp(1048576);
        JobRig rig;
        DownloadJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.display().fileSize, QStringLiteral("1024.00 KB"));
        QCOMPARE(job.lngContentSize(), qint64(1048576));
    }

    void unknownSizeCompletesAfterCloseAndConfirmation()
    {
        FtpFileServer ftp(70000);
        ftp.sizeInReply = false;
        JobRig rig;
        DownloadJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(job.lngContentSize(), qint64(70000));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 70000));
    }

    void interruptedTransferResumes_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("426") << QByteArray("426 Connection closed; transfer aborted\r\n");
        QTest::newRow("226 too early") << QByteArray("226 Transfer complete\r\n");
    }

    void interruptedTransferResumes()
    {
        QFETCH(QByteArray, reply);
        FtpFileServer ftp(100000);
        ftp.stopDataAfter = 30000;
        ftp.replyAfterShortData = reply;
        JobRig rig;
        DownloadJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(ftp.transfers, 2);
        QCOMPARE(ftp.commands.count("USER anonymous"), 2);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 100000));
    }

    void restRefusedArmsTheStallDetector()
    {
        FtpFileServer ftp(10);
        ftp.override = [](const QByteArray &command, FakePlan &plan) {
            if (!command.startsWith("REST"))
                return false;
            plan.send("504 REST not supported\r\n");
            return true;
        };
        JobRig rig;
        rig.record.StopResume = true;
        rig.record.TimeNoResume = 7;
        rig.record.Timeout = 1000;
        DownloadJob &job = rig.start(ftp.url());
        QTRY_COMPARE_WITH_TIMEOUT(job.display().resume, QStringLiteral("**RESUME NOT SUPPORTED**"), 5000);
        QCOMPARE(job.intFTPState(), 504);
        QVERIFY(!ftp.commands.contains("RETR pub/file.bin"));
        job.close();
    }

    void stalledDataIsPausedAndResumed()
    {
        FtpFileServer ftp(60000);
        ftp.pieceSize = 10000;
        ftp.pieceDelayMs = 400; // long quiet spells on the data connection
        JobRig rig;
        rig.record.StopResume = true;
        rig.record.TimeResume = 3; // 60 ms of quiet count as a stall here
        rig.record.Rollback = 0;
        DownloadJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished(30000));
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Completed);
        QVERIFY(ftp.transfers >= 2); // the detector paused and resumed at least once
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 60000));
    }
};

QTEST_GUILESS_MAIN(TestFtpDownload)
#include "tst_ftpdownload.moc"
