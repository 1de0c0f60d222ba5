// The scripted test server, driven by plain Qt sockets.
#include "fakeserver.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

// A client socket that keeps everything it read and how many reads it took.
struct Client {
    QTcpSocket socket;
    QByteArray data;
    int reads = 0;
    bool closed = false;

    Client()
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] {
            data += socket.readAll();
            ++reads;
        });
        QObject::connect(&socket, &QTcpSocket::disconnected, &socket, [this] { closed = true; });
    }
    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(5000);
    }
};

QByteArray rangeReply(const QByteArray &file, const QByteArray &request)
{
    const std::optional<QByteArray> range = FakeServer::headerValue(request, "Range");
    if (!range)
        return FakeServer::httpHead("HTTP/1.1 200 OK", {"Content-Length: " + QByteArray::number(file.size())})
            + file;
    const QByteArray bounds = range->mid(range->indexOf('=') + 1);
    const qint64 first = bounds.left(bounds.indexOf('-')).toLongLong();
    const qint64 last = bounds.mid(bounds.indexOf('-') + 1).toLongLong();
    return FakeServer::httpHead("HTTP/1.1 206 Partial Content",
                                {"Content-Range: bytes " + QByteArray::number(first) + '-'
                                 + QByteArray::number(last) + '/' + QByteArray::number(file.size())})
        + file.mid(first, last - first + 1);
}

} // namespace

class TestFakeServer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void answersEachRequestByItsHeaders()
    {
        const QByteArray file = "0123456789abcdefghij";
        FakeServer server;
        QVERIFY(server.isListening());
        QCOMPARE(server.host(), QStringLiteral("127.0.0.1"));
        server.setResponder([&](FakeConnection &, const QByteArray &request) {
            return FakePlan().send(rangeReply(file, request));
        });

        Client client;
        QVERIFY(client.connectTo(server.port()));
        // The request is framed whole, though it arrives in two writes.
        client.socket.write("GET /f HTTP/1.1\r\nrange: bytes=5-9\r\n");
        client.socket.flush();
        QTest::qWait(20);
        QCOMPARE(server.connection(0)->requests().size(), 0);
        client.socket.write("\r\n");
        QTRY_VERIFY(client.data.endsWith("56789"));
        QVERIFY(client.data.startsWith("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 5-9/20\r\n\r\n"));

        // A second request on the same connection is answered too.
        client.data.clear();
        client.socket.write("GET /f HTTP/1.1\r\n\r\n");
        QTRY_VERIFY(client.data.endsWith(file));
        QCOMPARE(server.connectionCount(), 1);
        QCOMPARE(server.connection(0)->requests(),
                 (QByteArrayList{"GET /f HTTP/1.1\r\nrange: bytes=5-9\r\n\r\n", "GET /f HTTP/1.1\r\n\r\n"}));
        QCOMPARE(server.connection(0)->received(), server.connection(0)->requests().join());
        QVERIFY(server.connection(0)->isOpen());
    }

    void countsConnectionsAndKeepsTheirRecords()
    {
        FakeServer server;
        QSignalSpy accepted(&server, &FakeServer::newConnection);
        server.setReply(FakePlan().send("bye").close());
        for (int i = 0; i < 3; ++i) {
            Client client;
            QVERIFY(client.connectTo(server.port()));
            client.socket.write("req " + QByteArray::number(i) + "\r\n\r\n");
            QTRY_VERIFY(client.closed);
            QCOMPARE(client.data, QByteArray("bye"));
        }
        QCOMPARE(server.connectionCount(), 3);
        QCOMPARE(accepted.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QTRY_VERIFY(!server.connection(i)->isOpen());
            QCOMPARE(server.connection(i)->received(), "req " + QByteArray::number(i) + "\r\n\r\n");
            QCOMPARE(server.connection(i)->bytesSent(), 3);
        }
        QVERIFY(!server.connection(3));
    }

    void piecesArriveApartAndInOrder()
    {
        FakeServer server;
        server.setGreeting(FakePlan().sendInPieces("aabbccdd", 2, 40).close());
        QElapsedTimer clock;
        clock.start();
        Client client;
        QVERIFY(client.connectTo(server.port()));
        QTRY_VERIFY(client.closed);
        QCOMPARE(client.data, QByteArray("aabbccdd"));
        QVERIFY2(client.reads >= 4, qPrintable(QString::number(client.reads)));
        QVERIFY(clock.elapsed() >= 3 * 40 - 10);
    }

    void waitsThenCloses()
    {
        FakeServer server;
        server.setGreeting(FakePlan().send("a").wait(150).send("b").close());
        Client client;
        QVERIFY(client.connectTo(server.port()));
        QTRY_COMPARE(client.data, QByteArray("a"));
        QTest::qWait(60);
        QCOMPARE(client.data, QByteArray("a"));
        QVERIFY(!client.closed);
        QTRY_VERIFY(client.closed);
        QCOMPARE(client.data, QByteArray("ab"));
    }

    void stallKeepsConnectionOpenAndSilent()
    {
        FakeServer server;
        server.setGreeting(FakePlan().send("header").stall().send("never"));
        server.setReply(FakePlan().send("nor this"));
        Client client;
        QVERIFY(client.connectTo(server.port()));
        QTRY_COMPARE(client.data, QByteArray("header"));
        client.socket.write("GET / HTTP/1.1\r\n\r\n");
        QTRY_COMPARE(server.connection(0)->requests().size(), 1);
        QTest::qWait(100);
        QCOMPARE(client.data, QByteArray("header"));
        QVERIFY(!client.closed);
        QVERIFY(server.connection(0)->isOpen());
        // The client's close ends the connection on the server too.
        QSignalSpy finished(server.connection(0), &FakeConnection::finished);
        client.socket.disconnectFromHost();
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(!server.connection(0)->isOpen());
    }

    void dropResetsTheConnection()
    {
        FakeServer server;
        server.setGreeting(FakePlan().send("part").wait(30).drop().send("never"));
        Client client;
        QSignalSpy errors(&client.socket, &QTcpSocket::errorOccurred);
        QVERIFY(client.connectTo(server.port()));
        QTRY_VERIFY(client.closed);
        QCOMPARE(client.data, QByteArray("part"));
        QCOMPARE(errors.size(), 1);
        QVERIFY(!server.connection(0)->isOpen());
    }

    void largeBodyIsSentWhole()
    {
        QByteArray body(24 * 1024 * 1024, Qt::Uninitialized);
        for (qsizetype i = 0; i < body.size(); ++i)
            body[i] = char((i * 7 + i / 4096) & 0xff);
        FakeServer server;
        server.setReply(FakePlan().send(body).close());
        Client client;
        QVERIFY(client.connectTo(server.port()));
        client.socket.write("GET /big HTTP/1.1\r\n\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(client.closed, 30000);
        QCOMPARE(client.data.size(), body.size());
        QVERIFY(client.data == body);
        QCOMPARE(server.connection(0)->bytesSent(), body.size());
    }

    void plansOfPipelinedRequestsRunInOrder()
    {
        FakeServer server;
        server.setTerminator("\r\n");
        server.setResponder([](FakeConnection &, const QByteArray &request) {
            if (request.startsWith("SLOW"))
                return FakePlan().wait(60).send("slow\r\n");
            return FakePlan().send("fast\r\n");
        });
        Client client;
        QVERIFY(client.connectTo(server.port()));
        client.socket.write("SLOW\r\nFAST\r\n");
        QTRY_COMPARE(client.data, QByteArray("slow\r\nfast\r\n"));
    }

    void ftpControlWithPassiveData()
    {
        const QByteArray file = QByteArray(100000, 'z') + "end";
        FakeServer data;
        data.setGreeting(FakePlan().send(file).close());
        FakeServer control;
        control.setTerminator("\r\n");
        control.setGreeting(FakePlan().send("220-Welcome\r\n220 Ready\r\n"));
        QByteArrayList commands;
        control.setResponder([&](FakeConnection &, const QByteArray &command) {
            commands << command;
            if (command.startsWith("USER"))
                return FakePlan().send("331 Password\r\n");
            if (command.startsWith("PASS"))
                return FakePlan().send("230 In\r\n");
            if (command.startsWith("PASV"))
                return FakePlan().send("227 Entering Passive Mode ("
                                       + FakeServer::ftpHostPort(QHostAddress::LocalHost, data.port()) + ")\r\n");
            return FakePlan().send("502 No\r\n");
        });

        Client client;
        QVERIFY(client.connectTo(control.port()));
        QTRY_COMPARE(client.data, QByteArray("220-Welcome\r\n220 Ready\r\n"));
        client.data.clear();
        client.socket.write("USER anonymous\r\nPASS x@y\r\n"); // two commands in one write
        QTRY_COMPARE(client.data, QByteArray("331 Password\r\n230 In\r\n"));
        client.data.clear();
        client.socket.write("PASV\r\n");
        QTRY_VERIFY(client.data.endsWith(")\r\n"));
        const auto where = FakeServer::parseFtpHostPort(client.data);
        QVERIFY(where);
        QCOMPARE(where->first, QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(where->second, data.port());

        Client transfer;
        QVERIFY(transfer.connectTo(where->second));
        QTRY_VERIFY(transfer.closed);
        QVERIFY(transfer.data == file);
        QCOMPARE(commands, (QByteArrayList{"USER anonymous\r\n", "PASS x@y\r\n", "PASV\r\n"}));
        QCOMPARE(data.connectionCount(), 1);
    }

    void ftpActiveModeConnectsOut()
    {
        const QByteArray file = "active mode payload";
        QTcpServer listener; // the client's side of active mode
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        FakeServer control;
        control.setTerminator("\r\n");
        FakeConnection *outgoing = nullptr;
        std::optional<std::pair<QHostAddress, quint16>> target;
        control.setResponder([&](FakeConnection &connection, const QByteArray &command) {
            if (command.startsWith("PORT ")) {
                target = FakeServer::parseFtpHostPort(command);
                return FakePlan().send("200 PORT ok\r\n");
            }
            if (command.startsWith("RETR") && target) {
                FakeConnection *controlConnection = &connection;
                return FakePlan().send("150 Opening (19 bytes)\r\n").call([&, controlConnection] {
                    outgoing = control.connectOut(target->first.toString(), target->second,
                                                  FakePlan().send(file));
                    connect(outgoing, &FakeConnection::finished, controlConnection, [controlConnection] {
                        controlConnection->run(FakePlan().send("226 Done\r\n"));
                    });
                });
            }
            return FakePlan().send("500 ?\r\n");
        });

        Client client;
        QVERIFY(client.connectTo(control.port()));
        client.socket.write("PORT " + FakeServer::ftpHostPort(QHostAddress::LocalHost, listener.serverPort())
                            + "\r\nRETR f\r\n");
        QTRY_VERIFY(listener.hasPendingConnections());
        QTcpSocket *dataSocket = listener.nextPendingConnection();
        QByteArray received;
        QTRY_VERIFY((received += dataSocket->readAll()) == file);
        dataSocket->write("seen");
        dataSocket->disconnectFromHost(); // the server answers 226 when its data connection ends
        QTRY_COMPARE(client.data, QByteArray("200 PORT ok\r\n150 Opening (19 bytes)\r\n226 Done\r\n"));
        QVERIFY(outgoing);
        QCOMPARE(outgoing->received(), QByteArray("seen"));
        QCOMPARE(outgoing->bytesSent(), file.size());
        // Outgoing connections are not counted as accepted ones.
        QCOMPARE(control.connectionCount(), 1);
    }

    void connectOutToNobodyFinishes()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        FakeServer server;
        FakeConnection *connection = server.connectOut(QStringLiteral("127.0.0.1"), port, FakePlan().send("x"));
        QSignalSpy finished(connection, &FakeConnection::finished);
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(!connection->isOpen());
        QCOMPARE(connection->bytesSent(), 0);
    }

    void helpers()
    {
        const QByteArray request = "GET / HTTP/1.1\r\nHost: a\r\nRANGE:  bytes=0- \r\nX-Empty:\r\n\r\nRange: body";
        QCOMPARE(FakeServer::headerValue(request, "range"), std::optional<QByteArray>("bytes=0-"));
        QCOMPARE(FakeServer::headerValue(request, "X-Empty"), std::optional<QByteArray>(""));
        QCOMPARE(FakeServer::headerValue(request, "Accept"), std::nullopt);
        QCOMPARE(FakeServer::headerValue("GET /Range: x HTTP/1.1\r\n\r\n", "GET /Range"), std::nullopt);

        QCOMPARE(FakeServer::httpHead("HTTP/1.1 404 Not Found", {"A: 1", "B: 2"}),
                 QByteArray("HTTP/1.1 404 Not Found\r\nA: 1\r\nB: 2\r\n\r\n"));
        QCOMPARE(FakeServer::httpHead("HTTP/1.1 200 OK"), QByteArray("HTTP/1.1 200 OK\r\n\r\n"));

        QCOMPARE(FakeServer::ftpHostPort(QHostAddress("10.1.2.3"), 3079), QByteArray("10,1,2,3,12,7"));
        const auto parsed = FakeServer::parseFtpHostPort("227 Entering Passive Mode (192,168,0,9,255,1).");
        QVERIFY(parsed);
        QCOMPARE(parsed->first, QHostAddress("192.168.0.9"));
        QCOMPARE(parsed->second, quint16(65281));
        QVERIFY(!FakeServer::parseFtpHostPort("PORT 1,2,3,256,0,1"));
        QVERIFY(!FakeServer::parseFtpHostPort("PORT 1,2,3,4,5"));
    }
};

QTEST_GUILESS_MAIN(TestFakeServer)
#include "tst_fakeserver.moc"
