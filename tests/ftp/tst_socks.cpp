// The SOCKS client against a scripted proxy: byte-exact handshakes, every
// reply code, replies split at any byte. The FTP session tests go through a
// real dante proxy.
#include "ftp/proxy.h"
#include "fakeserver.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Exchange {
    QByteArray expected; // what the client must send at this step
    QByteArray reply;    // what the proxy answers (empty: nothing, or close)
};
using Exchanges = QList<Exchange>;

enum class Outcome { Ready, Failed };

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

ProxySettings socks(ProxySettings::Type type, const QString &user = {}, const QString &password = {})
{
    ProxySettings proxy;
    proxy.type = type;
    proxy.host = QStringLiteral("127.0.0.1");
    proxy.user = user;
    proxy.password = password;
    return proxy;
}

constexpr auto S4 = ProxySettings::Type::Socks4;
constexpr auto S5 = ProxySettings::Type::Socks5;

// What the target says first; it must reach the owner, not the connector.
const QByteArray TargetGreeting = "220 target ready\r\n";

// A connector on a socket connected to a proxy; records its signals.
struct Rig {
    QTcpSocket socket;
    std::unique_ptr<SocksConnector> connector;
    std::unique_ptr<QSignalSpy> readySpy, failedSpy, boundSpy;

    bool open(quint16 proxyPort, const ProxySettings &proxy)
    {
        socket.connectToHost(QHostAddress::LocalHost, proxyPort);
        if (!socket.waitForConnected(5000))
            return false;
        connector = std::make_unique<SocksConnector>(&socket, proxy);
        readySpy = std::make_unique<QSignalSpy>(connector.get(), &SocksConnector::ready);
        failedSpy = std::make_unique<QSignalSpy>(connector.get(), &SocksConnector::failed);
        boundSpy = std::make_unique<QSignalSpy>(connector.get(), &SocksConnector::bound);
        return true;
    }
    int outcomes() const { return int(readySpy->size() + failedSpy->size()); }
    QString reason() const { return failedSpy->isEmpty() ? QString() : failedSpy->first().first().toString(); }
};

// Runs the event loop in short turns until done() holds; false when the
// deadline passed first.
bool waitFor(const std::function<bool()> &done, int timeoutMs = 5000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(1);
    }
    return true;
}

} // namespace

Q_DECLARE_METATYPE(Exchanges)
Q_DECLARE_METATYPE(Outcome)
Q_DECLARE_METATYPE(ProxySettings)

class TestSocks : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void scriptedProxy_data()
    {
        QTest::addColumn<ProxySettings>("proxy");
        QTest::addColumn<bool>("bind");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<Exchanges>("exchanges");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("reasonPart");
        QTest::addColumn<QString>("boundAt"); // "address:port" of bound(), empty when none

        const QByteArray s4ok = hex("005a000000000000");
        QTest::newRow("socks4 connect ipv4") << socks(S4) << false << u"127.0.0.1"_s << 21
            << Exchanges{{hex("040100157f00000100"), s4ok + TargetGreeting}}
            << Outcome::Ready << QString() << QString();
        QTest::newRow("socks4 user id") << socks(S4, "alice") << false << u"10.1.2.3"_s << 2121
            << Exchanges{{hex("040108490a010203") + "alice" + '\0', s4ok + TargetGreeting}}
            << Outcome::Ready << QString() << QString();
        QTest::newRow("socks4a host name") << socks(S4) << false << u"ftp.example.org"_s << 21
            << Exchanges{{hex("040100150000000100") + "ftp.example.org" + '\0', s4ok + TargetGreeting}}
            << Outcome::Ready << QString() << QString();
        for (int code : {91, 92, 93, 17}) {
            QByteArray reply = hex("0000000000000000");
            reply[1] = char(code);
            QTest::addRow("socks4 refused %d", code) << socks(S4, "alice", "never-sent") << false << u"127.0.0.1"_s << 21
                << Exchanges{{hex("040100157f000001") + "alice" + '\0', reply}}
                << Outcome::Failed << QStringLiteral("code %1").arg(code) << QString();
        }
        QTest::newRow("socks4 wrong reply version") << socks(S4) << false << u"127.0.0.1"_s << 21
            << Exchanges{{hex("040100157f00000100"), hex("045a000000000000")}}
            << Outcome::Failed << u"did not answer as a SOCKS 4 proxy"_s << QString();
        QTest::newRow("socks4 ipv6 target") << socks(S4) << false << u"::1"_s << 21 << Exchanges{}
            << Outcome::Failed << u"cannot reach the IPv6 address"_s << QString();
        QTest::newRow("socks4 bind") << socks(S4) << true << u"127.0.0.1"_s << 0
            << Exchanges{{hex("040200007f00000100"), hex("005a30390a000005")},
                         {QByteArray(), hex("005a000000000000") + TargetGreeting}}
            << Outcome::Ready << QString() << u"10.0.0.5:12345"_s;

        const QByteArray s5request = hex("050100017f0000010015");
        const QByteArray s5ok = hex("05000001000000000000");
        QTest::newRow("socks5 connect ipv4") << socks(S5) << false << u"127.0.0.1"_s << 21
            << Exchanges{{hex("050100"), hex("0500")}, {s5request, s5ok + TargetGreeting}}
            << Outcome::Ready << QString() << QString();
        QTest::newRow("socks5 connect name") << socks(S5) << false << u"ftp.example.org"_s << 990
            << Exchanges{{hex("050100"), hex("0500")},
                         {hex("050100030f") + "ftp.example.org" + hex("03de"), s5ok + TargetGreeting}}
            << Outcome::Ready << QString() << QString();
        QTest::newRow("socks5 connect ipv6, reply ipv6") << socks(S5) << false << u"::1"_s << 21
            << Exchanges{{hex("050100"), hex("0500")},
                         {hex("05010004") + QByteArray(15, '\0') + hex("01") + hex("0015"),
                          hex("05000004") + QByteArray(16, '\0') + hex("0400") + TargetGreeting}}
            << Outcome::Ready << QString() << QString();
        QTest::newRow("socks5 connect [::1]") << socks(S5) << false << u"[::1]"_s << 21
            << Exchanges{{hex("050100"), hex("0500")},
                         {hex("05010004") + QByteArray(15, '\0') + hex("01") + hex("0015"), s5ok + TargetGreeting}}
            << Outcome::Ready << QString() << QString();
        QTest::newRow("socks5 reply names a host") << socks(S5) << false << u"127.0.0.1"_s << 21
            << Exchanges{{hex("050100"), hex("0500")},
                         {s5request, hex("0500000309") + "localhost" + hex("0400") + TargetGreeting}}
            << Outcome::Ready << QString() << QString();
        QTest::newRow("socks5 login accepted") << socks(S5, "alice", "s3cret!") << false << u"127.0.0.1"_s << 21
            << Exchanges{{hex("05020002"), hex("0502")},
                         {hex("0105") + "alice" + hex("07") + "s3cret!", hex("0100")},
                         {s5request, s5ok + TargetGreeting}}
            << Outcome::Ready << QString() << QString();
        QTest::newRow("socks5 login offered, not wanted") << socks(S5, "alice", "s3cret!") << false << u"127.0.0.1"_s << 21
            << Exchanges{{hex("05020002"), hex("0500")}, {s5request, s5ok + TargetGreeting}}
            << Outcome::Ready << QString() << QString();
        QTest::newRow("socks5 login refused") << socks(S5, "alice", "s3cret!") << false << u"127.0.0.1"_s << 21
            << Exchanges{{hex("05020002"), hex("0502")}, {hex("0105") + "alice" + hex("07") + "s3cret!", hex("0101")}}
            << Outcome::Failed << u"refused the proxy user name or password"_s << QString();
        QTest::newRow("socks5 login answer garbled") << socks(S5, "alice", "s3cret!") << false << u"127.0.0.1"_s << 21
            << Exchanges{{hex("05020002"), hex("0502")}, {hex("0105") + "alice" + hex("07") + "s3cret!", hex("0900")}}
            << Outcome::Failed << u"unknown form"_s << QString();
        QTest::newRow("socks5 needs a login") << socks(S5) << false << u"127.0.0.1"_s << 21
            << Exchanges{{hex("050100"), hex("05ff")}}
            << Outcome::Failed << u"requires a login"_s << QString();
        QTest::newRow("socks5 login not supported") << socks(S5, "alice", "s3cret!") << false << u"127.0.0.1"_s << 21
            << Exchanges{{hex("05020002"), hex("05ff")}}
            << Outcome::Failed << u"does not accept user name and password"_s << QString();
        QTest::newRow("socks5 method not offered") << socks(S5) << false << u"127.0.0.1"_s << 21
            << Exchanges{{hex("050100"), hex("0502")}}
            << Outcome::Failed << u"not offered"_s << QString();
        QTest::newRow("socks5 unknown method chosen") << socks(S5, "alice", "s3cret!") << false << u"127.0.0.1"_s << 21
            << Exchanges{{hex("05020002"), hex("0501")}}
            << Outcome::Failed << u"not offered (1)"_s << QString();
        QTest::newRow("socks5 wrong version") << socks(S5) << false << u"127.0.0.1"_s << 21
            << Exchanges{{hex("050100"), hex("0400")}}
            << Outcome::Failed << u"did not answer as a SOCKS 5 proxy"_s << QString();
        const char *reasons[] = {"general failure", "not allowed by the proxy's rules", "network unreachable", "host unreachable",
                                 "connection refused", "TTL expired", "command not supported",
                                 "address type not supported", "unknown reply"};
        for (int code = 1; code <= 9; ++code) {
            QByteArray reply = s5ok;
            reply[1] = char(code);
            QTest::addRow("socks5 reply code %d", code) << socks(S5, "alice", "s3cret!") << false << u"127.0.0.1"_s << 21
                << Exchanges{{hex("05020002"), hex("0502")},
                             {hex("0105") + "alice" + hex("07") + "s3cret!", hex("0100")},
                             {s5request, reply}}
                << Outcome::Failed << QStringLiteral("%1 (code %2)").arg(reasons[code - 1]).arg(code) << QString();
        }
        QTest::newRow("socks5 unknown address type") << socks(S5) << false << u"127.0.0.1"_s << 21
            << Exchanges{{hex("050100"), hex("0500")}, {s5request, hex("0500000700000000000000")}}
            << Outcome::Failed << u"unknown address type"_s << QString();
        QTest::newRow("socks5 proxy hangs up") << socks(S5) << false << u"127.0.0.1"_s << 21
            << Exchanges{{hex("050100"), hex("0500")}, {s5request, QByteArray()}}
            << Outcome::Failed << u"closed the connection"_s << QString();
        QTest::newRow("socks5 bind") << socks(S5) << true << u"127.0.0.1"_s << 0
            << Exchanges{{hex("050100"), hex("0500")},
                         {hex("050200017f0000010000"), hex("050000010a0000053039")},
                         {QByteArray(), hex("050000017f000001c350") + TargetGreeting}}
            << Outcome::Ready << QString() << u"10.0.0.5:12345"_s;
        QTest::newRow("socks5 bind on any address") << socks(S5) << true << u"127.0.0.1"_s << 0
            << Exchanges{{hex("050100"), hex("0500")},
                         {hex("050200017f0000010000"), hex("05000001000000003039")},
                         {QByteArray(), hex("050000017f000001c350") + TargetGreeting}}
            << Outcome::Ready << QString() << u"127.0.0.1:12345"_s;
        QTest::newRow("socks5 bind, a stranger connects") << socks(S5) << true << u"127.0.0.1"_s << 0
            << Exchanges{{hex("050100"), hex("0500")},
                         {hex("050200017f0000010000"), hex("050000017f0000013039")},
                         {QByteArray(), hex("05000001c0a80007c350")}}
            << Outcome::Failed << u"came from 192.168.0.7"_s << u"127.0.0.1:12345"_s;
        QTest::newRow("socks5 bind refused") << socks(S5) << true << u"127.0.0.1"_s << 0
            << Exchanges{{hex("050100"), hex("0500")}, {hex("050200017f0000010000"), hex("05070001000000000000")}}
            << Outcome::Failed << u"command not supported (code 7)"_s << QString();
    }

    // Each row runs with every reply whole, then cut into single bytes, then
    // with all replies sent at once before the client asked (a pipelining
    // proxy: the client must take each reply's bytes and no more).
    void scriptedProxy()
    {
        QFETCH(ProxySettings, proxy);
        QFETCH(bool, bind);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(Exchanges, exchanges);
        QFETCH(Outcome, outcome);
        QFETCH(QString, reasonPart);
        QFETCH(QString, boundAt);

        const bool hangsUp = !exchanges.isEmpty() && exchanges.back().reply.isEmpty();
        for (const qint64 pieceSize : {qint64(0), qint64(1), qint64(-1)}) {
            // A proxy that closes at once may lose the client's request.
            if (pieceSize < 0 && hangsUp)
                continue;
            FakeServer server;
            server.setTerminator({});
            Rig rig;
            QVERIFY(rig.open(server.port(), proxy));
            QTRY_COMPARE(server.connectionCount(), 1);
            FakeConnection *proxySide = server.connection(0);

            if (bind)
                rig.connector->bindFor(QHostAddress(host), quint16(port));
            else
                rig.connector->connectTo(host, quint16(port));

            QByteArray expectedSoFar;
            if (pieceSize < 0) {
                FakePlan all;
                for (const Exchange &step : exchanges) {
                    expectedSoFar += step.expected;
                    if (step.reply.isEmpty())
                        break;
                    all.send(step.reply);
                }
                proxySide->run(all);
                QVERIFY(waitFor([&] { return proxySide->received().size() >= expectedSoFar.size(); }));
                QCOMPARE(proxySide->received().toHex(), expectedSoFar.toHex());
            }
            for (const Exchange &step : pieceSize < 0 ? Exchanges() : exchanges) {
                expectedSoFar += step.expected;
                // The client sends exactly this step's request, and nothing
                // before the previous reply came.
                QVERIFY(waitFor([&] { return proxySide->received().size() >= expectedSoFar.size(); }));
                QCOMPARE(proxySide->received().toHex(), expectedSoFar.toHex());
                FakePlan plan;
                if (step.reply.isEmpty())
                    plan.close();
                else if (pieceSize == 0)
                    plan.send(step.reply);
                else
                    plan.sendInPieces(step.reply, pieceSize, 1);
                proxySide->run(plan);
            }

            QVERIFY(waitFor([&] { return rig.outcomes() > 0; }));
            if (!boundAt.isEmpty()) {
                QCOMPARE(rig.boundSpy->size(), 1);
                const auto address = rig.boundSpy->first().at(0).value<QHostAddress>();
                const auto boundPort = rig.boundSpy->first().at(1).value<quint16>();
                QCOMPARE(QStringLiteral("%1:%2").arg(address.toString()).arg(boundPort), boundAt);
            } else {
                QCOMPARE(rig.boundSpy->size(), 0);
            }
            if (outcome == Outcome::Ready) {
                QCOMPARE(rig.readySpy->size(), 1);
                // The target's first bytes are left for the owner.
                QTRY_COMPARE(rig.socket.bytesAvailable(), qint64(TargetGreeting.size()));
                QCOMPARE(rig.socket.readAll(), TargetGreeting);
            } else {
                QCOMPARE(rig.failedSpy->size(), 1);
                QVERIFY2(rig.reason().contains(reasonPart), qPrintable(rig.reason()));
                if (!proxy.user.isEmpty())
                    QVERIFY2(!rig.reason().contains(proxy.user), qPrintable(rig.reason()));
                if (!proxy.password.isEmpty())
                    QVERIFY2(!rig.reason().contains(proxy.password), qPrintable(rig.reason()));
            }
            // Nothing more comes out of it, not even when the proxy hangs up.
            if (proxySide->isOpen()) {
                proxySide->run(FakePlan().close());
                QTRY_COMPARE(rig.socket.state(), QAbstractSocket::UnconnectedState);
            }
            QCOMPARE(rig.outcomes(), 1);
        }
    }

    void refusesWithoutAConnectedSocket()
    {
        QTcpSocket socket;
        SocksConnector connector(&socket, socks(S5));
        QSignalSpy failed(&connector, &SocksConnector::failed);
        connector.connectTo(QStringLiteral("127.0.0.1"), 21);
        // Reported from the event loop, after the call returned.
        QCOMPARE(failed.size(), 0);
        QTRY_COMPARE(failed.size(), 1);
        QVERIFY(failed.first().first().toString().contains(QLatin1String("Not connected")));
    }
};

QTEST_GUILESS_MAIN(TestSocks)
#include "tst_socks.moc"
