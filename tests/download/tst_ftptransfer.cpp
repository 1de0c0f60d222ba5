#include "ftpcases.h"
#include "ftpfileserver.h"

#include "download/transferprotocol.h"
#include "download/urlmodel.h"
#include "platform/socketchannel.h"

#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <vector>

Q_DECLARE_METATYPE(ExistingFile)
Q_DECLARE_METATYPE(FailureKind)
Q_DECLARE_METATYPE(TransferStatus)

namespace {

TransferStatus plain(const char *text)
{
    return TransferStatus::plain(QString::fromLatin1(text));
}

QByteArrayList rests(const QByteArrayList &commands)
{
    QByteArrayList out;
    for (const QByteArray &c : commands) {
        if (c.startsWith("REST"))
            out.append(c);
    }
    return out;
}

// The job's side, as a protocol sees it: records every report, counts the
// retries against a budget, and closes the protocol when it ends, as the job
// does. Questions, redirects and restarts are not for FTP.
class RecordingHost : public TransferHost {
public:
    struct Failure {
        FailureKind kind = FailureKind::None;
        int code = 0;
        QByteArray serverText;
        TransferStatus status;
    };

    TransferSettings config;
    TransferRequest req;
    LoginTable loginTable;
    std::shared_ptr<ChannelGroup> group = ChannelGroup::create();
    TransferTiming times;
    TransferProtocol *protocol = nullptr;
    int retriesLeft = 30;

    QList<TransferState> states;
    QList<TransferStatus> statuses;
    QByteArray log;
    QList<std::pair<qint64, bool>> sizes;
    QList<bool> dataPhases; // the noResume of each start of the data phase
    QList<TransferNotice> notices;
    QStringList unexpected;
    int armed = 0;
    int replies = 0;
    int retriesTaken = 0;
    int endings = 0;
    bool completed = false;
    std::optional<Failure> failure;
    QByteArray logAtEnd;
    qint64 receivedAtEnd = -1;

    const TransferSettings &settings() const override { return config; }
    const TransferRequest &request() const override { return req; }
    const LoginTable &logins() const override { return loginTable; }
    std::shared_ptr<ChannelGroup> channels() const override { return group; }
    const TransferTiming &timing() const override { return times; }

    void replyArrived() override { ++replies; }
    void armTimeout() override { ++armed; }
    void setState(TransferState state) override { states << state; }
    void setStatus(const TransferStatus &status) override { statuses << status; }
    void appendLog(const QByteArray &text) override { log += text; }
    void sizeKnown(qint64 size, bool resumable) override { sizes << std::pair{size, resumable}; }
    void dataPhaseStarted(bool noResume) override { dataPhases << noResume; }
    void progressed() override {}
    void ask(TransferQuestion::Kind, bool, int, std::function<void(bool)>) override { unexpected << "ask"; }
    void notice(const TransferNotice &n) override { notices << n; }
    void urlChanged(const QString &, const UrlFields &) override { unexpected << "urlChanged"; }
    void restartWith(const QString &) override { unexpected << "restartWith"; }
    bool takeRetry() override
    {
        if (retriesLeft <= 0)
            return false;
        --retriesLeft;
        ++retriesTaken;
        return true;
    }
    void complete() override
    {
        completed = true;
        end();
    }
    void fail(FailureKind kind, int code, const QByteArray &serverText, const TransferStatus &status) override
    {
        failure = Failure{kind, code, serverText, status};
        end();
    }

private:
    void end()
    {
        ++endings;
        logAtEnd = log;
        receivedAtEnd = protocol->received();
        protocol->shutdown();
    }
};

struct Rig {
    QTemporaryDir dir;
    RecordingHost host;
    std::unique_ptr<TransferProtocol> ftp;

    QString savePath() const { return dir.filePath(QStringLiteral("file.bin")); }

    TransferProtocol &start(const QString &url, ExistingFile existing = ExistingFile::Overwrite)
    {
        host.req = TransferRequest{url, savePath(), existing};
        ftp = createFtpTransfer(host, ParseURL(url, host.loginTable));
        host.protocol = ftp.get();
        ftp->start();
        return *ftp;
    }

    // True once the protocol ended, exactly once.
    bool waitEnded(int ms = 10000)
    {
        return QTest::qWaitFor([this] { return host.endings > 0; }, ms) && host.endings == 1;
    }

    QByteArray saved() const
    {
        QFile f(savePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    void write(const QByteArray &bytes) const
    {
        QFile f(savePath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
};

} // namespace

class TestFtpTransfer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void download_data();
    void download();
    void restOffsets_data();
    void restOffsets();
    void unknownSizeWaitsForCloseAnd226_data();
    void unknownSizeWaitsForCloseAnd226();
    void interruptedTransfer_data();
    void interruptedTransfer();
    void refused_data();
    void refused();
    void activePortTakenFallsBack();
    void dataConnectionErrorIsNoticed();
    void suspendAndResumeGoBackByRollback();
    void restRefusedHandsTheStallDetectorItsLongerPeriod_data();
    void restRefusedHandsTheStallDetectorItsLongerPeriod();
};

void TestFtpTransfer::download_data()
{
    QTest::addColumn<bool>("passive");
    QTest::addColumn<QByteArray>("banner");
    QTest::addColumn<int>("replyPiece");
    QTest::addColumn<bool>("sizeInReply");
    QTest::addColumn<qint64>("size");

    const QByteArray one = "220 Test server ready\r\n";
    const QByteArray multi = "220-Welcome\r\n220-to the test\r\n331 not a reply\r\n220 server\r\n";
    QTest::newRow("active") << false << one << 0 << true << qint64(200000);
    QTest::newRow("passive") << true << one << 0 << true << qint64(50000);
    QTest::newRow("active, multi-line banner, replies per byte") << false << multi << 1 << true << qint64(10000);
    QTest::newRow("passive, multi-line banner, replies per byte") << true << multi << 1 << true << qint64(10000);
    QTest::newRow("bare LF banner") << false << QByteArray("220-Hello\n220 ready\n") << 0 << true << qint64(100);
    QTest::newRow("150 without a size") << true << one << 0 << false << qint64(70000);
    QTest::newRow("empty file") << false << one << 0 << true << qint64(0);
}

void TestFtpTransfer::download()
{
    QFETCH(bool, passive);
    QFETCH(QByteArray, banner);
    QFETCH(int, replyPiece);
    QFETCH(bool, sizeInReply);
    QFETCH(qint64, size);

    FtpFileServer server(size);
    server.control.setGreeting(replyPiece ? FakePlan().sendInPieces(banner, replyPiece, 1) : FakePlan().send(banner));
    server.replyPieceSize = replyPiece;
    server.sizeInReply = sizeInReply;
    server.passiveHost = "10,9,8,7"; // a passive reply pointing elsewhere is not followed
    Rig rig;
    rig.host.config.passive = passive;
    TransferProtocol &ftp = rig.start(server.url());
    QVERIFY(rig.waitEnded());

    QVERIFY(rig.host.completed);
    QVERIFY(!rig.host.failure);
    QCOMPARE(rig.host.unexpected, QStringList());
    QCOMPARE(rig.saved(), HttpFileServer::bytes(0, size));
    QCOMPARE(verbs(server.commands), (QByteArrayList{"USER", "PASS", passive ? "PASV" : "PORT", "TYPE", "REST", "RETR"}));
    QCOMPARE(server.commands.first(), QByteArray("USER anonymous"));
    QVERIFY(server.commands.contains("REST 0"));
    QVERIFY(server.commands.contains("RETR pub/file.bin"));
    if (passive) {
        QCOMPARE(server.passiveData.connectionCount(), 1);
        QVERIFY(rig.host.log.contains("10.9.8.7"));
    } else {
        // The PORT names this machine and the port really bound: the
        // server's data connection reached it.
        const auto port = FakeServer::parseFtpHostPort(server.commands[2].mid(5));
        QVERIFY(port.has_value());
        QCOMPARE(port->first, QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(server.passiveData.connectionCount(), 0);
    }
    QVERIFY(rig.host.log.startsWith(banner.left(9)));
    // Resumable at the REST's turn; the size from the 150, or the count at
    // the end when the 150 names none.
    const QList<std::pair<qint64, bool>> sizes = sizeInReply
        ? QList<std::pair<qint64, bool>>{{-1, true}, {size, true}}
        : QList<std::pair<qint64, bool>>{{-1, true}, {-1, true}, {size, true}};
    QCOMPARE(rig.host.sizes, sizes);
    QCOMPARE(rig.host.dataPhases, QList<bool>{false});
    QCOMPARE(rig.host.states,
             (QList<TransferState>{TransferState::Connecting, TransferState::LoggingIn, TransferState::Downloading}));
    QCOMPARE(rig.host.receivedAtEnd, size);
    QVERIFY(ftp.planned());
    QCOMPARE(ftp.segments(), (QList<SegmentProgress>{{0, size, size}}));
    // The login armed the countdown (connect, greeting, login) and the 150 stopped it.
    QCOMPARE(rig.host.armed, 3);
    QCOMPARE(rig.host.replies, 1);
}

void TestFtpTransfer::restOffsets_data()
{
    QTest::addColumn<qint64>("existing"); // bytes of the file present, -1: none
    QTest::addColumn<ExistingFile>("choice");
    QTest::addColumn<qint64>("rollback");
    QTest::addColumn<QByteArray>("rest");

    QTest::newRow("resume 10000, Rollback 4096: back twice") << qint64(10000) << ExistingFile::Resume << qint64(4096)
                                                             << QByteArray("REST 1809");
    QTest::newRow("resume 3000, Rollback 4096: never before 0")
        << qint64(3000) << ExistingFile::Resume << qint64(4096) << QByteArray("REST 0");
    QTest::newRow("resume 10000, Rollback 0: one byte back") << qint64(10000) << ExistingFile::Resume << qint64(0)
                                                             << QByteArray("REST 10000");
    QTest::newRow("resume without a file") << qint64(-1) << ExistingFile::Resume << qint64(4096)
                                           << QByteArray("REST 0");
    QTest::newRow("overwrite a longer file") << qint64(30000) << ExistingFile::Overwrite << qint64(4096)
                                             << QByteArray("REST 0");
}

void TestFtpTransfer::restOffsets()
{
    QFETCH(qint64, existing);
    QFETCH(ExistingFile, choice);
    QFETCH(qint64, rollback);
    QFETCH(QByteArray, rest);

    FtpFileServer server(20000);
    Rig rig;
    rig.host.config.rollback = rollback;
    if (existing >= 0) {
        // A file to overwrite holds other bytes, one to resume the file's start.
        rig.write(choice == ExistingFile::Resume ? HttpFileServer::bytes(0, existing) : QByteArray(existing, 'x'));
    }
    rig.start(server.url(), choice);
    QVERIFY(rig.waitEnded());
    QVERIFY(rig.host.completed);
    QCOMPARE(rests(server.commands), QByteArrayList{rest});
    QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 20000));
}

void TestFtpTransfer::unknownSizeWaitsForCloseAnd226_data()
{
    QTest::addColumn<bool>("replyFirst"); // the 226 arrives before the data connection closes
    QTest::newRow("226, then the close") << true;
    QTest::newRow("the close, then 226") << false;
}

void TestFtpTransfer::unknownSizeWaitsForCloseAnd226()
{
    QFETCH(bool, replyFirst);
    const qint64 size = 30000;
    FtpFileServer server(size);
    // The 150 names no size; the data connection stays open until the test
    // closes it, and the 226 comes when the test sends it.
    server.override = [&](const QByteArray &command, FakePlan &plan) {
        if (!command.startsWith("RETR"))
            return false;
        plan.send("150 Here comes the file\r\n");
        plan.call([&] { server.passiveData.connection(0)->run(FakePlan().send(HttpFileServer::bytes(0, size))); });
        return true;
    };
    Rig rig;
    rig.host.config.passive = true;
    TransferProtocol &ftp = rig.start(server.url());
    QTRY_COMPARE_WITH_TIMEOUT(ftp.received(), size, 10000);

    const auto send226 = [&] {
        server.control.connection(0)->run(FakePlan().send("226 Transfer complete\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.host.log.contains("226 Transfer complete"), 10000);
    };
    const auto closeData = [&] {
        server.passiveData.connection(0)->run(FakePlan().close());
        QTRY_VERIFY_WITH_TIMEOUT(!server.passiveData.connection(0)->isOpen(), 10000);
    };
    // Every byte is there, but neither signal of the end yet.
    QVERIFY(!rig.host.completed);
    if (replyFirst)
        send226();
    else
        closeData();
    QVERIFY(!rig.host.completed);
    if (replyFirst)
        closeData();
    else
        send226();
    QVERIFY(rig.waitEnded());
    QVERIFY(rig.host.completed);
    QCOMPARE(rig.host.sizes.last(), (std::pair<qint64, bool>{size, true}));
    QCOMPARE(rig.saved(), HttpFileServer::bytes(0, size));
}

void TestFtpTransfer::interruptedTransfer_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("budget");
    QTest::addColumn<bool>("completes");
    QTest::addColumn<FailureKind>("kind");
    QTest::addColumn<int>("code");

    const QByteArray broken = "426 Connection closed; transfer aborted\r\n";
    const QByteArray early = "226 Transfer complete\r\n";
    QTest::newRow("426 resumes") << broken << 1 << true << FailureKind::None << 0;
    QTest::newRow("226 too early resumes") << early << 1 << true << FailureKind::None << 0;
    QTest::newRow("426, no retry left") << broken << 0 << false << FailureKind::FtpReply << 426;
    QTest::newRow("226 too early, no retry left") << early << 0 << false << FailureKind::ServerKeepsClosing << 0;
}

void TestFtpTransfer::interruptedTransfer()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, budget);
    QFETCH(bool, completes);

    FtpFileServer server(100000);
    server.stopDataAfter = 30000;
    server.replyAfterShortData = reply;
    Rig rig;
    rig.host.retriesLeft = budget;
    rig.start(server.url());
    QVERIFY(rig.waitEnded());
    QCOMPARE(rig.host.completed, completes);
    QCOMPARE(rig.host.retriesTaken, budget);
    QVERIFY(rig.host.statuses.contains(plain("Transfer interrupted.")));
    if (completes) {
        QCOMPARE(server.transfers, 2);
        QCOMPARE(server.commands.count("USER anonymous"), 2);
        // Interrupted after 30000 bytes: back by Rollback at the resume (from
        // the 1-based write position), once more at REST.
        QCOMPARE(rests(server.commands), (QByteArrayList{"REST 0", "REST 21810"}));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 100000));
    } else {
        QVERIFY(rig.host.failure);
        QTEST(rig.host.failure->kind, "kind");
        QTEST(rig.host.failure->code, "code");
        QCOMPARE(rig.host.failure->status, plain("Transfer interrupted."));
        QCOMPARE(server.transfers, 1);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 30000)); // kept for a later resume
    }
}

void TestFtpTransfer::refused_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<TransferStatus>("status");
    QTest::addColumn<QByteArray>("lastCommand");

    QTest::newRow("530 login refused") << QByteArray("PASS") << QByteArray("530 Login incorrect.\r\n")
                                       << refusedLogin(QStringLiteral("anonymous"))
                                       << QByteArray("PASS");
    QTest::newRow("550 no such file") << QByteArray("RETR") << QByteArray("550 Failed to open file.\r\n")
                                      << caption("11042", "File Not Found") << QByteArray("RETR");
    // Replies with no place in the conversation end it at once with the
    // server's words, instead of leaving the download to its countdown.
    const auto shown = [](const char *reply) {
        return TransferStatus::plain(QString::fromLatin1(reply).trimmed());
    };
    const struct {
        const char *name, *command, *reply;
    } unknown[] = {
        {"421 closing", "USER", "421 Too many users, closing control connection.\r\n"},
        {"500 to PORT", "PORT", "500 Illegal PORT command.\r\n"},
        {"501 to TYPE", "TYPE", "501 Unrecognised TYPE command.\r\n"},
        {"502 to RETR", "RETR", "502 Command not implemented.\r\n"},
        {"332 without an account", "PASS", "332 Need account for login.\r\n"},
        {"421 at RETR", "RETR", "421 Service not available, closing control connection.\r\n"},
    };
    for (const auto &row : unknown)
        QTest::newRow(row.name) << QByteArray(row.command) << QByteArray(row.reply) << shown(row.reply)
                                << QByteArray(row.command);
}

void TestFtpTransfer::refused()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, lastCommand);

    FtpFileServer server(10);
    server.override = [&](const QByteArray &line, FakePlan &plan) {
        if (!line.startsWith(command))
            return false;
        plan.send(reply);
        return true;
    };
    Rig rig;
    rig.start(server.url());
    QVERIFY(rig.waitEnded());
    QVERIFY(!rig.host.completed);
    QVERIFY(rig.host.failure);
    QCOMPARE(rig.host.failure->kind, FailureKind::FtpReply);
    QCOMPARE(rig.host.failure->code, reply.left(3).toInt());
    QCOMPARE(rig.host.failure->serverText, reply);
    QTEST(rig.host.failure->status, "status");
    QCOMPARE(verbs(server.commands).last(), lastCommand);
    QCOMPARE(server.control.connectionCount(), 1);
    QVERIFY(!QFile::exists(rig.savePath()));
}

void TestFtpTransfer::activePortTakenFallsBack()
{
    // Every port of the range older servers expect for active mode is taken
    // (by this test or another program): the data side binds some other
    // free port and the PORT names it.
    std::vector<std::unique_ptr<QTcpServer>> taken;
    QList<quint16> held;
    for (quint16 port = 3078; port <= 3211; ++port) {
        auto server = std::make_unique<QTcpServer>();
        if (server->listen(QHostAddress::LocalHost, port)) {
            held << port;
            taken.push_back(std::move(server));
        }
    }
    QVERIFY(!held.isEmpty());

    FtpFileServer server(5000);
    Rig rig;
    rig.start(server.url());
    QVERIFY(rig.waitEnded());
    QVERIFY(rig.host.completed);
    QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 5000));
    const QByteArrayList ports = [&] {
        QByteArrayList out;
        for (const QByteArray &c : server.commands) {
            if (c.startsWith("PORT"))
                out << c;
        }
        return out;
    }();
    QCOMPARE(ports.size(), 1);
    const auto port = FakeServer::parseFtpHostPort(ports.first().mid(5));
    QVERIFY(port.has_value());
    QVERIFY(port->second != 0);
    QVERIFY2(!held.contains(port->second), ports.first().constData());
}

void TestFtpTransfer::dataConnectionErrorIsNoticed()
{
    // The passive reply names a port where nothing listens.
    QTcpServer gone;
    QVERIFY(gone.listen(QHostAddress::LocalHost));
    const quint16 closedPort = gone.serverPort();
    gone.close();

    FtpFileServer server(10);
    server.override = [&](const QByteArray &line, FakePlan &plan) {
        if (line.startsWith("PASV")) {
            plan.send("227 Entering Passive Mode (127,0,0,1," + QByteArray::number(closedPort / 256) + ","
                      + QByteArray::number(closedPort % 256) + ")\r\n");
            return true;
        }
        if (line.startsWith("RETR")) {
            plan.send("425 Failed to establish connection.\r\n");
            return true;
        }
        return false;
    };
    Rig rig;
    rig.host.config.passive = true;
    rig.start(server.url());
    QTRY_COMPARE_WITH_TIMEOUT(rig.host.notices.size(), 1, 10000);
    QCOMPARE(rig.host.notices.first().kind, TransferNotice::Kind::FtpDataError);
    QCOMPARE(rig.host.notices.first().number, int(QAbstractSocket::ConnectionRefusedError));
    QVERIFY(!rig.host.notices.first().description.isEmpty());
    // The 425 that follows waits for the login's countdown to try again.
    QTRY_VERIFY_WITH_TIMEOUT(rig.host.statuses.contains(caption("11043", "Could Not Establish Data Connection")),
                             10000);
    QCOMPARE(rig.host.endings, 0);
    QCOMPARE(rig.host.notices.size(), 1);
}

void TestFtpTransfer::suspendAndResumeGoBackByRollback()
{
    const qint64 size = 200000;
    FtpFileServer server(size);
    server.pieceSize = 5000;
    server.pieceDelayMs = 10;
    Rig rig;
    rig.host.config.rollback = 1000;
    rig.write(QByteArray(size + 5000, 'x')); // overwritten: none of it may count as downloaded
    TransferProtocol &ftp = rig.start(server.url());
    QTRY_VERIFY_WITH_TIMEOUT(ftp.received() >= 30000, 10000);
    ftp.suspend(true);
    const qint64 at = ftp.received();
    QVERIFY(at < size);
    // The file holds exactly what arrived, so a later start resumes from there.
    QCOMPARE(QFileInfo(rig.savePath()).size(), at);
    QCOMPARE(rig.saved(), HttpFileServer::bytes(0, at));
    QCOMPARE(rig.host.endings, 0);
    ftp.resume();
    // Back by Rollback from the 1-based write position, once more at REST.
    QCOMPARE(ftp.received(), at - 1000 + 1);
    QVERIFY(rig.waitEnded());
    QVERIFY(rig.host.completed);
    QCOMPARE(rests(server.commands),
             (QByteArrayList{"REST 0", "REST " + QByteArray::number(at - 2000 + 2)}));
    QCOMPARE(rig.saved(), HttpFileServer::bytes(0, size));
    QCOMPARE(rig.host.retriesTaken, 0);
}

void TestFtpTransfer::restRefusedHandsTheStallDetectorItsLongerPeriod_data()
{
    QTest::addColumn<qint64>("existing"); // bytes of the file to resume, -1: a fresh download
    QTest::newRow("resume at 1809: no RETR follows") << qint64(10000);
    QTest::newRow("from the first byte: the whole file comes anyway") << qint64(-1);
}

void TestFtpTransfer::restRefusedHandsTheStallDetectorItsLongerPeriod()
{
    QFETCH(qint64, existing);
    const qint64 size = 20000;
    FtpFileServer server(size);
    server.override = [](const QByteArray &line, FakePlan &plan) {
        if (!line.startsWith("REST"))
            return false;
        plan.send("504 REST not supported\r\n");
        return true;
    };
    Rig rig;
    rig.host.config.stopResume = true;
    rig.host.config.rollback = 4096;
    if (existing >= 0)
        rig.write(HttpFileServer::bytes(0, existing));
    rig.start(server.url(), existing >= 0 ? ExistingFile::Resume : ExistingFile::Overwrite);
    QTRY_COMPARE_WITH_TIMEOUT(rig.host.dataPhases, QList<bool>{true}, 10000);
    if (existing >= 0) {
        QCOMPARE(rests(server.commands), QByteArrayList{"REST 1809"});
        QCOMPARE(rig.host.sizes.last(), (std::pair<qint64, bool>{-1, false}));
        QVERIFY(!server.commands.contains("RETR pub/file.bin"));
        QCOMPARE(rig.host.endings, 0);
        return;
    }
    QVERIFY(rig.waitEnded());
    QVERIFY(rig.host.completed);
    QCOMPARE(verbs(server.commands), (QByteArrayList{"USER", "PASS", "PORT", "TYPE", "REST", "RETR"}));
    QCOMPARE(rig.host.sizes.last(), (std::pair<qint64, bool>{size, false}));
    QCOMPARE(rig.saved(), HttpFileServer::bytes(0, size));
}

QTEST_GUILESS_MAIN(TestFtpTransfer)
#include "tst_ftptransfer.moc"
