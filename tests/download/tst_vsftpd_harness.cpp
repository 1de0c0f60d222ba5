#include "download/ftpprotocol.h"

#include "ftpservers.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

namespace {

const QString BlobName = QStringLiteral("pub/blob.bin");
constexpr qsizetype BlobSize = 300 * 1024 + 17;

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

// A control connection driven step by step: each call sends one command and
// waits (bounded) for its reply.
class PlainControl {
public:
    bool connectTo(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return m_socket.waitForConnected(5000);
    }
    std::optional<FtpReply> reply(int timeoutMs = 5000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (m_pending.isEmpty() && !deadline.hasExpired()) {
            if (!m_socket.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1))))
                break;
            m_pending += m_reader.feed(m_socket.readAll());
        }
        if (m_pending.isEmpty())
            return std::nullopt;
        return m_pending.takeFirst();
    }
    std::optional<FtpReply> send(const QByteArray &line)
    {
        m_socket.write(line);
        return reply();
    }
    QHostAddress localAddress() const { return m_socket.localAddress(); }

private:
    QTcpSocket m_socket;
    FtpReplyReader m_reader;
    QList<FtpReply> m_pending;
};

QByteArray readUntilClosed(QTcpSocket &socket, int timeoutMs = 10000)
{
    QByteArray data;
    const QDeadlineTimer deadline(timeoutMs);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)));
        data += socket.readAll();
    }
    data += socket.readAll();
    return data;
}

// Plays the download job's part over real sockets: replies go through the
// reply reader into StartLoginFTP, its commands go out, its data side is
// opened as it says and the data are written into `file` at the write
// position, until ftpTransferEnd says the transfer has ended.
class LoginRig : public QObject {
public:
    LoginRig(FtpLoginState start, FtpLoginContext context, QByteArray existing)
        : state(start)
        , file(std::move(existing))
        , m_context(std::move(context))
    {
        connect(&m_control, &QTcpSocket::readyRead, this, &LoginRig::onControl);
        connect(&m_listener, &QTcpServer::newConnection, this, [this] {
            adoptData(m_listener.nextPendingConnection());
            m_listener.close();
        });
    }

    void start(quint16 port) { m_control.connectToHost(QHostAddress::LocalHost, port); }

    FtpLoginState state;
    QByteArray file;
    QList<int> codes;
    QStringList errors;
    qint64 size = -1;
    bool done = false;

private:
    void fail(const QString &why)
    {
        errors << why;
        done = true;
    }

    void onControl()
    {
        for (const FtpReply &reply : m_reader.feed(m_control.readAll())) {
            if (done)
                return;
            codes << reply.code;
            const FtpLoginStep step = StartLoginFTP(reply, state, m_context);
            state = step.next;
            if (step.outcome != FtpLoginStep::Outcome::Continue || step.closeControl) {
                fail(QStringLiteral("reply %1: %2")
                         .arg(reply.code)
                         .arg(transferStatusText(step.status.value_or(step.messageBox.value_or(TransferStatus{})),
                                            defaultCaptions())));
                return;
            }
            if (step.dataSide == FtpLoginStep::DataSide::Listen)
                listen(step);
            else if (step.dataSide == FtpLoginStep::DataSide::ConnectPassive)
                connectPassive(step.passive.port);
            for (const QByteArray &command : step.commands)
                m_control.write(command);
            if (step.beginTransfer) {
                m_began = true;
                size = step.transferSize;
                const QByteArray early = std::exchange(m_early, {});
                write(early);
            }
            if (step.transferConfirmed) {
                m_confirmed = true;
                checkEnd();
            }
        }
        if (m_reader.failed())
            fail(QStringLiteral("reply too long"));
    }

    void listen(const FtpLoginStep &step)
    {
        const QList<quint16> ports =
            step.listenPort ? QList<quint16>{step.listenPort} : activePortCandidates(FindPort().sngDataPort);
        for (const quint16 port : ports) {
            if (m_listener.listen(QHostAddress::LocalHost, port))
                break;
        }
        if (!m_listener.isListening())
            return fail(QStringLiteral("no port to listen on"));
        state.sngDataPort = m_listener.serverPort();
        if (step.sendPortCommand) {
            for (const QByteArray &command : activeModeCommands(m_control.localAddress(), state.sngDataPort))
                m_control.write(command);
        }
    }

    void connectPassive(quint16 port)
    {
        auto *socket = new QTcpSocket(this);
        socket->connectToHost(m_control.peerAddress(), port);
        adoptData(socket);
    }

    void adoptData(QTcpSocket *socket)
    {
        m_data.reset(socket);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onData(socket->readAll()); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            onData(socket->readAll());
            m_dataClosed = true;
            checkEnd();
        });
    }

    void onData(const QByteArray &chunk)
    {
        // Data can overtake the "150" reply; it waits until the file is open.
        if (!m_began) {
            m_early += chunk;
            return;
        }
        write(chunk);
    }

    void write(const QByteArray &chunk)
    {
        if (chunk.isEmpty())
            return;
        const qint64 offset = state.lngSegPos - 1;
        if (file.size() < offset + chunk.size())
            file.resize(offset + chunk.size());
        file.replace(offset, chunk.size(), chunk);
        state.lngSegPos += chunk.size();
        checkEnd();
    }

    void checkEnd()
    {
        if (done || !m_began)
            return;
        const FtpTransferEnd end = ftpTransferEnd({size, state.lngSegPos - 1, m_dataClosed, m_confirmed});
        if (end == FtpTransferEnd::Complete)
            done = true;
        else if (end == FtpTransferEnd::Resume)
            fail(QStringLiteral("transfer ended short"));
    }

    FtpLoginContext m_context;
    QTcpSocket m_control;
    QTcpServer m_listener;
    std::unique_ptr<QTcpSocket> m_data;
    FtpReplyReader m_reader;
    QByteArray m_early;
    bool m_began = false;
    bool m_dataClosed = false;
    bool m_confirmed = false;
};

} // namespace

class TestVsftpdHarness : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void plainPassiveTransfer();
    void plainActiveTransfer();
    void loginAgainstServer_data();
    void loginAgainstServer();
    void stopsTheServer();

private:
    std::unique_ptr<VsftpdServer> m_server;
    QByteArray m_blob;
};

void TestVsftpdHarness::initTestCase()
{
    m_server = std::make_unique<VsftpdServer>();
    m_server->setBannerLines({QStringLiteral("Welcome to the test server"), QStringLiteral("Anonymous logins only")});
    m_blob = randomBytes(BlobSize, 99);
    QVERIFY(m_server->addFile(BlobName, m_blob));
    SUITE_START_SERVER(*m_server);
}

void TestVsftpdHarness::cleanupTestCase()
{
    m_server.reset();
}

void TestVsftpdHarness::plainPassiveTransfer()
{
    PlainControl control;
    QVERIFY(control.connectTo(m_server->port()));
    const std::optional<FtpReply> banner = control.reply();
    QVERIFY(banner);
    QCOMPARE(banner->code, 220);
    QVERIFY2(banner->text.contains("220-Welcome to the test server\r\n220-Anonymous logins only\r\n"),
             banner->text.constData());

    QCOMPARE(control.send("USER anonymous\r\n")->code, 331);
    QCOMPARE(control.send("PASS tessel@localhost\r\n")->code, 230);
    QCOMPARE(control.send("TYPE I\r\n")->code, 200);

    const std::optional<FtpReply> pasv = control.send("PASV\r\n");
    QVERIFY(pasv);
    QCOMPARE(pasv->code, 227);
    const std::optional<FtpPassiveTarget> target = parse227(pasv->text);
    QVERIFY2(target, pasv->text.constData());
    QCOMPARE(target->host, QStringLiteral("127.0.0.1"));
    QVERIFY(target->port >= m_server->pasvMinPort() && target->port <= m_server->pasvMaxPort());

    QTcpSocket data;
    data.connectToHost(QHostAddress::LocalHost, target->port);
    QVERIFY(data.waitForConnected(5000));
    const std::optional<FtpReply> opening = control.send(ftpCommand("RETR", BlobName));
    QVERIFY(opening);
    QCOMPARE(opening->code, 150);
    QCOMPARE(parse150Size(opening->text), std::optional<qint64>(BlobSize));
    const QByteArray received = readUntilClosed(data);
    QCOMPARE(control.reply()->code, 226);
    QCOMPARE(received.size(), m_blob.size());
    QVERIFY(received == m_blob);
    QCOMPARE(control.send("QUIT\r\n")->code, 221);
}

void TestVsftpdHarness::plainActiveTransfer()
{
    PlainControl control;
    QVERIFY(control.connectTo(m_server->port()));
    QCOMPARE(control.reply()->code, 220);
    QCOMPARE(control.send("USER anonymous\r\n")->code, 331);
    QCOMPARE(control.send("PASS tessel@localhost\r\n")->code, 230);
    QCOMPARE(control.send("TYPE I\r\n")->code, 200);

    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    const std::optional<QByteArray> port = portCommand(control.localAddress(), listener.serverPort());
    QVERIFY(port);
    QCOMPARE(control.send(*port)->code, 200);

    const std::optional<FtpReply> opening = control.send(ftpCommand("RETR", BlobName));
    QVERIFY(opening);
    QCOMPARE(opening->code, 150);
    QVERIFY(listener.waitForNewConnection(5000));
    std::unique_ptr<QTcpSocket> data(listener.nextPendingConnection());
    QVERIFY(data);
    const QByteArray received = readUntilClosed(*data);
    QCOMPARE(control.reply()->code, 226);
    QVERIFY(received == m_blob);

    // A file that is not there.
    QTcpServer again;
    QVERIFY(again.listen(QHostAddress::LocalHost, 0));
    QCOMPARE(control.send(*portCommand(control.localAddress(), again.serverPort()))->code, 200);
    QCOMPARE(control.send("RETR pub/missing.bin\r\n")->code, 550);
}

void TestVsftpdHarness::loginAgainstServer_data()
{
    QTest::addColumn<bool>("pasv");
    QTest::addColumn<bool>("askSize");
    QTest::addColumn<qint64>("existing"); // bytes of the file already saved; -1 for none

    QTest::newRow("passive, fresh") << true << false << qint64(-1);
    QTest::newRow("active, fresh") << false << false << qint64(-1);
    QTest::newRow("passive, resumed") << true << false << qint64(150000);
    QTest::newRow("active, resumed") << false << false << qint64(150000);
    QTest::newRow("resumed from a file shorter than Rollback") << true << false << qint64(3000);
    QTest::newRow("passive, fresh, with SIZE") << true << true << qint64(-1);
}

void TestVsftpdHarness::loginAgainstServer()
{
    QFETCH(bool, pasv);
    QFETCH(bool, askSize);
    QFETCH(qint64, existing);
    constexpr qint64 rollback = 4096;

    FtpLoginContext context;
    context.strUserName = QStringLiteral("anonymous");
    context.strPassword = QStringLiteral("tessel@localhost");
    context.strFilePath = BlobName;
    context.UsePASV = pasv;
    context.askSize = askSize;
    context.Rollback = rollback;

    // The saved part is right up to where it stops, except for its last
    // Rollback bytes, which are spoiled: the resume must fetch them again.
    QByteArray saved;
    if (existing >= 0) {
        saved = m_blob.left(existing);
        for (qint64 i = std::max<qint64>(0, existing - rollback); i < existing; ++i)
            saved[i] = char(~saved[i]);
    }
    const FtpLoginState start = ftpStartState(existing, existing >= 0, rollback);
    const qint64 expectedRest = std::max<qint64>(0, std::max<qint64>(0, existing - rollback) + 1 - rollback);

    LoginRig rig(start, context, saved);
    rig.start(m_server->port());
    QTRY_VERIFY_WITH_TIMEOUT(rig.done, 15000);
    QVERIFY2(rig.errors.isEmpty(), qPrintable(rig.errors.join(QLatin1Char('\n'))));
    QCOMPARE(rig.size, qint64(BlobSize));
    QCOMPARE(rig.file.size(), m_blob.size());
    QVERIFY(rig.file == m_blob);
    QCOMPARE(rig.codes.first(), 220);
    QCOMPARE(rig.codes.count(331), 1); // the multi-line banner sent USER once
    if (existing >= 0) {
        QCOMPARE(rig.state.lngSegStart, expectedRest);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->log().contains("\"REST " + QByteArray::number(expectedRest) + "\""), 5000);
    }
    if (askSize)
        QCOMPARE(rig.state.announcedSize, qint64(BlobSize));
}

void TestVsftpdHarness::stopsTheServer()
{
    const quint16 port = m_server->port();
    QVERIFY(m_server->isRunning());
    m_server->stop();
    QVERIFY(!m_server->isRunning());
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!socket.waitForConnected(1000));
}

QTEST_GUILESS_MAIN(TestVsftpdHarness)
#include "tst_vsftpd_harness.moc"
