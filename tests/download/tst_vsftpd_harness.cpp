#include "ftp/ftpreply.h"

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

// "PORT h1,h2,h3,h4,p1,p2" CR LF for a local IPv4 address and port.
std::optional<QByteArray> portCommand(const QHostAddress &local, quint16 port)
{
    bool v4 = false;
    const quint32 ip = local.toIPv4Address(&v4);
    if (!v4)
        return std::nullopt;
    QByteArrayList parts;
    for (int shift = 24; shift >= 0; shift -= 8)
        parts << QByteArray::number((ip >> shift) & 0xff);
    parts << QByteArray::number(port >> 8) << QByteArray::number(port & 0xff);
    return "PORT " + parts.join(',') + "\r\n";
}

} // namespace

class TestVsftpdHarness : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void plainPassiveTransfer();
    void plainActiveTransfer();
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
