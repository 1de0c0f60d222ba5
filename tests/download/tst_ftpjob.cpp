// FTP downloads through a transfer job, against the scripted FTP server.
#include "ftpcases.h"
#include "ftpfileserver.h"
#include "transferrig.h"

#include <QFile>
#include <cerrno>
#include <memory>
#include <QTest>

Q_DECLARE_METATYPE(TransferStatus)

class TestFtpJob : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A full disk pauses the download with its reason and goes on once
    // there is room; another write error fails with its reason.
    void fullDiskPausesAndGoesOn()
    {
        FtpFileServer ftp(300000);
        TransferRig rig;
        rig.settings.passive = true;
        auto calls = std::make_shared<int>(0);
        rig.writer = [calls](QFile &f, qint64 offset, QByteArrayView bytes) {
            ++*calls;
            return *calls >= 2 && *calls <= 3 ? ENOSPC : writeFileAt(f, offset, bytes);
        };
        TransferJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QVERIFY(rig.states.contains(TransferState::Paused));
        QVERIFY(*calls > 3);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 300000));
        // The resume logged in again and asked from before the failed write.
        QVERIFY(verbs(ftp.commands).count("RETR") >= 2);
    }

    void otherWriteErrorFailsWithItsReason()
    {
        FtpFileServer ftp(50000);
        TransferRig rig;
        rig.writer = [](QFile &, qint64, QByteArrayView) { return EACCES; };
        TransferJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Failure);
        QCOMPARE(job.outcome().failure, FailureKind::FileError);
        QVERIFY(transferStatusText(job.outcome().status, defaultCaptions()).endsWith(QStringLiteral("Permission denied")));
    }

    void anonymousActiveDownload()
    {
        FtpFileServer ftp(200000);
        TransferRig rig;
        rig.settings.passive = false;
        TransferJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(rig.outcomes.size(), 1);
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
        QCOMPARE(job.progress().size, qint64(200000));
        QCOMPARE(job.progress().received, qint64(200000));
        QVERIFY(job.progress().resumable);
        QCOMPARE(job.progress().segments, (QList<SegmentProgress>{{0, 200000, 200000}}));
        QVERIFY(rig.states.contains(TransferState::LoggingIn));
        QCOMPARE(rig.states.last(), TransferState::Complete);
    }

    void passiveGoesToTheControlServer()
    {
        FtpFileServer ftp(50000);
        ftp.passiveHost = "10,9,8,7"; // a server pointing elsewhere is not followed
        TransferRig rig;
        rig.settings.passive = true;
        TransferJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(verbs(ftp.commands), (QByteArrayList{"USER", "PASS", "PASV", "TYPE", "REST", "RETR"}));
        QCOMPARE(ftp.passiveData.connectionCount(), 1);
        QVERIFY(job.serverLog().contains("10.9.8.7"));
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
        TransferRig rig;
        TransferJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
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
        TransferRig rig;
        TransferJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 10000));
    }

    // A missing file and a refused login end the job with the server's reply;
    // the owner derives the "Error" entry and the row texts from it.
    void refused_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<TransferStatus>("status");
        QTest::newRow("file not found") << QByteArray("RETR") << QByteArray("550 No such file\r\n")
                                        << caption("11042", "File Not Found");
        QTest::newRow("login refused") << QByteArray("PASS") << QByteArray("530 Login incorrect\r\n")
                                       << refusedLogin(QStringLiteral("anonymous"));
    }

    void refused()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        FtpFileServer ftp(10);
        ftp.override = [&](const QByteArray &line, FakePlan &plan) {
            if (!line.startsWith(command))
                return false;
            plan.send(reply);
            return true;
        };
        TransferRig rig;
        rig.settings.timeout = 3;
        rig.settings.retries = 0;
        TransferJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.outcomes.size(), 1);
        const TransferOutcome &outcome = job.outcome();
        QCOMPARE(outcome.kind, TransferOutcome::Kind::Failure);
        QCOMPARE(outcome.failure, FailureKind::FtpReply);
        QCOMPARE(outcome.code, reply.left(3).toInt());
        QCOMPARE(outcome.serverText, reply);
        QTEST(outcome.status, "status");
        QTEST(job.status(), "status");
        QCOMPARE(job.state(), TransferState::Failed);
        QCOMPARE(ftp.control.connectionCount(), 1); // no retry of a refusal
    }

    void silentServerTimesOutAfterTheRetries()
    {
        FtpFileServer ftp(10);
        ftp.control.setGreeting(FakePlan()); // connects, never greets
        TransferRig rig;
        rig.settings.timeout = 3;
        rig.settings.retries = 0;
        TransferJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Failure);
        QCOMPARE(job.outcome().failure, FailureKind::Timeout);
        QCOMPARE(ftp.control.connectionCount(), 2); // the first login and one retry
        QVERIFY(ftp.commands.isEmpty());
    }

    void resumeSendsRestWithDoubleRollback()
    {
        FtpFileServer ftp(20000);
        TransferRig rig;
        {
            QFile partial(rig.savePath());
            QVERIFY(partial.open(QIODevice::WriteOnly));
            partial.write(HttpFileServer::bytes(0, 10000));
        }
        TransferJob &job = rig.start(ftp.url(), ExistingFile::Resume);
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QVERIFY(ftp.commands.contains("REST 1809"));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 20000));
    }

    void sizeFromTheReplyOrTheCount_data()
    {
        QTest::addColumn<bool>("sizeInReply");
        QTest::addColumn<qint64>("size");
        QTest::newRow("from the 150") << true << qint64(1048576);
        QTest::newRow("unknown: completes after the close and the 226") << false << qint64(70000);
    }

    void sizeFromTheReplyOrTheCount()
    {
        QFETCH(bool, sizeInReply);
        QFETCH(qint64, size);
        FtpFileServer ftp(size);
        ftp.sizeInReply = sizeInReply;
        TransferRig rig;
        TransferJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(job.progress().size, size);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, size));
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
        TransferRig rig;
        TransferJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(ftp.transfers, 2);
        QCOMPARE(ftp.commands.count("USER anonymous"), 2);
        QCOMPARE(job.progress().retries, 1);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 100000));
    }

    void restAnswerSaysWhetherTheServerResumes_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::addColumn<qint64>("existing"); // bytes of the file to resume, -1: a fresh download
        QTest::newRow("REST accepted") << false << qint64(-1);
        QTest::newRow("REST refused on a resume") << true << qint64(8);
        QTest::newRow("REST 0 refused: the whole file comes") << true << qint64(-1);
    }

    void restAnswerSaysWhetherTheServerResumes()
    {
        QFETCH(bool, refused);
        QFETCH(qint64, existing);
        FtpFileServer ftp(10);
        if (refused) {
            ftp.override = [](const QByteArray &command, FakePlan &plan) {
                if (!command.startsWith("REST"))
                    return false;
                plan.send("504 REST not supported\r\n");
                return true;
            };
        }
        TransferRig rig;
        rig.settings.stopResume = true;
        rig.settings.timeNoResume = 7;
        rig.settings.timeout = 1000;
        rig.settings.rollback = 2;
        if (existing >= 0) {
            QFile partial(rig.savePath());
            QVERIFY(partial.open(QIODevice::WriteOnly));
            partial.write(HttpFileServer::bytes(0, existing));
        }
        TransferJob &job = rig.start(ftp.url(), existing >= 0 ? ExistingFile::Resume : ExistingFile::Overwrite);
        if (refused && existing >= 0) {
            QTRY_VERIFY_WITH_TIMEOUT(job.serverLog().contains("504 REST not supported"), 5000);
            QVERIFY(ftp.commands.contains("REST 5"));
            QVERIFY(!job.progress().resumable);
            QVERIFY(!ftp.commands.contains("RETR pub/file.bin"));
            QVERIFY(job.isRunning());
            job.cancel();
            QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Cancelled);
        } else {
            QVERIFY(rig.waitFinished());
            QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
            QCOMPARE(job.progress().resumable, !refused);
            QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 10));
        }
    }

    void stalledDataIsPausedAndResumed()
    {
        FtpFileServer ftp(60000);
        ftp.pieceSize = 10000;
        ftp.pieceDelayMs = 400; // long quiet spells on the data connection
        TransferRig rig;
        rig.settings.stopResume = true;
        rig.settings.timeResume = 3; // 60 ms of quiet count as a stall here
        rig.settings.rollback = 0;
        TransferJob &job = rig.start(ftp.url());
        QVERIFY(rig.waitFinished(30000));
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QVERIFY(ftp.transfers >= 2); // the detector paused and resumed at least once
        QVERIFY(rig.states.contains(TransferState::Paused));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 60000));
    }

    void pauseAndResumeByTheOwner()
    {
        FtpFileServer ftp(150000);
        ftp.pieceSize = 5000;
        ftp.pieceDelayMs = 10;
        TransferRig rig;
        rig.settings.rollback = 1000;
        TransferJob &job = rig.start(ftp.url());
        QTRY_VERIFY_WITH_TIMEOUT(job.progress().received >= 20000, 10000);
        job.pause();
        QCOMPARE(job.state(), TransferState::Paused);
        const qint64 at = job.progress().received;
        job.resume();
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(ftp.commands.count("USER anonymous"), 2);
        // Back by Rollback from the 1-based write position, once more at REST.
        QVERIFY(ftp.commands.contains("REST " + QByteArray::number(at - 2000 + 2)));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 150000));
    }
};

QTEST_GUILESS_MAIN(TestFtpJob)
#include "tst_ftpjob.moc"
