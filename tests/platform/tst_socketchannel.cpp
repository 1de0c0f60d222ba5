// Event-driven TCP channels and channel arrays over loopback.
#include "fakeserver.h"
#include "platform/socketchannel.h"
#include "platform/tlssocketfactory.h"

#include <QEventLoop>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// Writes down a channel's events in the order they came, and collects the
// bytes of every data event.
struct Recorder {
    QStringList events;
    QByteArray data;
    int dataEvents = 0;
    qint64 announced = 0;

    explicit Recorder(SocketChannel &channel, bool take = true)
    {
        QObject::connect(&channel, &SocketChannel::connected, &channel, [this] { events << "connected"; });
        QObject::connect(&channel, &SocketChannel::dataArrived, &channel, [this, &channel, take](qint64 n) {
            if (events.isEmpty() || events.constLast() != "data")
                events << "data";
            ++dataEvents;
            announced += n;
            if (take)
                data += channel.takeData();
        });
        QObject::connect(&channel, &SocketChannel::closed, &channel, [this] { events << "closed"; });
        QObject::connect(&channel, &SocketChannel::errorOccurred, &channel,
                         [this](int number, const QString &) { events << QStringLiteral("error %1").arg(number); });
        QObject::connect(&channel, &SocketChannel::encrypted, &channel, [this] { events << "encrypted"; });
        QObject::connect(&channel, &SocketChannel::tlsFailed, &channel, [this](const TlsFailure &f) {
            events << "tls failed";
            tls = f;
        });
    }
    TlsFailure tls;
};

quint16 unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed again when probe goes
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(20240611);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(generator.generate() & 0xff);
    return bytes;
}

// Counts what the channels ask of it and otherwise behaves like the plain
// factory, standing in for a TLS factory.
class CountingFactory : public SocketFactory {
public:
    mutable int created = 0;
    mutable int started = 0;
    mutable int adopted = 0;

    QAbstractSocket *createSocket(QObject *parent) const override
    {
        ++created;
        return SocketFactory::createSocket(parent);
    }
    void startConnection(QAbstractSocket *socket, const QString &host, quint16 port,
                         Ready ready) const override
    {
        ++started;
        SocketFactory::startConnection(socket, host, port, std::move(ready));
    }
    bool adoptConnection(QAbstractSocket *socket, qintptr descriptor, Ready ready) const override
    {
        ++adopted;
        return SocketFactory::adoptConnection(socket, descriptor, std::move(ready));
    }
};

} // namespace

class TestSocketChannel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void connectSendReceiveClose()
    {
        FakeServer server;
        QVERIFY(server.isListening());
        server.setReply(FakePlan().send("HTTP/1.1 200 OK\r\n\r\nbody").close());

        SocketChannel channel;
        Recorder recorder(channel);
        SocketChannel::State stateAtData = SocketChannel::State::Closed;
        connect(&channel, &SocketChannel::connected, this, [&] {
            QVERIFY(channel.send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
        });
        connect(&channel, &SocketChannel::dataArrived, this, [&] { stateAtData = channel.state(); });

        QVERIFY(channel.isClosed());
        channel.connectToHost(server.host(), server.port());
        QCOMPARE(channel.state(), SocketChannel::State::Connecting);
        QCOMPARE(channel.remoteHost(), QStringLiteral("127.0.0.1"));
        QTRY_COMPARE(recorder.events, (QStringList{"connected", "data", "closed"}));

        QCOMPARE(recorder.data, QByteArray("HTTP/1.1 200 OK\r\n\r\nbody"));
        QCOMPARE(recorder.announced, recorder.data.size());
        QCOMPARE(stateAtData, SocketChannel::State::Connected);
        QCOMPARE(server.connection(0)->requests(), QByteArrayList{"GET / HTTP/1.1\r\nHost: x\r\n\r\n"});
        // The peer closed: neither connected nor closed until the owner closes.
        QCOMPARE(channel.state(), SocketChannel::State::Closing);
        QVERIFY(!channel.isConnected());
        QVERIFY(!channel.isClosed());
        QVERIFY(!channel.send("late"));
        channel.close();
        QVERIFY(channel.isClosed());
    }

    void addressesAndPresetRemote()
    {
        FakeServer server;
        server.setGreeting(FakePlan().stall());
        SocketChannel channel;
        QCOMPARE(channel.localAddress(), QString());
        QCOMPARE(channel.localPort(), quint16(0));
        QVERIFY(!channel.send("x"));

        channel.setRemoteHost(QStringLiteral("127.0.0.1"));
        channel.setRemotePort(server.port());
        channel.connectToHost();
        QTRY_VERIFY(channel.isConnected());
        QCOMPARE(channel.localAddress(), QStringLiteral("127.0.0.1"));
        QVERIFY(channel.localPort() != 0);
        QCOMPARE(channel.remoteAddress(), QStringLiteral("127.0.0.1"));
        QCOMPARE(server.connectionCount(), 1);
    }

    void refusedConnectionReportsOneError()
    {
        SocketChannel channel;
        Recorder recorder(channel);
        QString description;
        connect(&channel, &SocketChannel::errorOccurred, this,
                [&](int, const QString &text) { description = text; });
        channel.connectToHost(QStringLiteral("127.0.0.1"), unusedPort());
        QTRY_COMPARE(recorder.events,
                     QStringList{QStringLiteral("error %1").arg(int(QAbstractSocket::ConnectionRefusedError))});
        QVERIFY(!description.isEmpty());
        QCOMPARE(channel.errorString(), description);
        QCOMPARE(channel.state(), SocketChannel::State::Error);
        QVERIFY(!channel.isClosed());
        // Nothing else follows the failure.
        QTest::qWait(50);
        QCOMPARE(recorder.events.size(), 1);
    }

    void peerResetIsReportedAsClose()
    {
        FakeServer server;
        server.setGreeting(FakePlan().send("partial").wait(20).drop());
        SocketChannel channel;
        Recorder recorder(channel);
        channel.connectToHost(server.host(), server.port());
        QTRY_COMPARE(recorder.events.value(recorder.events.size() - 1), QStringLiteral("closed"));
        QCOMPARE(recorder.events, (QStringList{"connected", "data", "closed"}));
        QCOMPARE(recorder.data, QByteArray("partial"));
    }

    void reconnectAfterCloseStartsFresh()
    {
        FakeServer server;
        server.setGreeting(FakePlan().send("hello").close());
        SocketChannel channel;
        Recorder recorder(channel);
        int reconnects = 0;
        // The engine's pattern: close in the close handler and connect again.
        connect(&channel, &SocketChannel::closed, this, [&] {
            channel.close();
            if (reconnects++ < 2)
                channel.connectToHost(server.host(), server.port());
        });
        channel.connectToHost(server.host(), server.port());
        QTRY_COMPARE(reconnects, 3);
        QCOMPARE(server.connectionCount(), 3);
        QCOMPARE(recorder.data, QByteArray("hellohellohello"));
        QCOMPARE(recorder.events.count("connected"), 3);
        QCOMPARE(recorder.events.count("closed"), 3);
        QVERIFY(channel.isClosed());
    }

    void closingInsideDataHandlerStopsEvents()
    {
        FakeServer server;
        server.setGreeting(FakePlan().send("first").wait(30).send("second").close());
        SocketChannel channel;
        Recorder recorder(channel, false);
        QByteArray taken;
        connect(&channel, &SocketChannel::dataArrived, this, [&] {
            taken += channel.takeData();
            channel.close();
        });
        channel.connectToHost(server.host(), server.port());
        QTRY_VERIFY(server.connectionCount() == 1 && !server.connection(0)->isOpen());
        QTest::qWait(50);
        QCOMPARE(recorder.events, (QStringList{"connected", "data"}));
        QCOMPARE(taken, QByteArray("first"));
        QVERIFY(channel.isClosed());
        QCOMPARE(channel.bytesAvailable(), 0);
    }

    void deletingChannelInsideItsHandlerIsSafe()
    {
        FakeServer server;
        server.setGreeting(FakePlan().send("x").send("y").close());
        auto *channel = new SocketChannel;
        QPointer<SocketChannel> watch(channel);
        int events = 0;
        connect(channel, &SocketChannel::dataArrived, this, [&] {
            ++events;
            delete channel;
        });
        connect(channel, &SocketChannel::closed, this, [&] { ++events; });
        channel->connectToHost(server.host(), server.port());
        QTRY_VERIFY(!watch);
        QTest::qWait(30);
        QCOMPARE(events, 1);
    }

    void untakenDataAccumulates()
    {
        FakeServer server;
        server.setGreeting(FakePlan().send("ab").wait(20).send("cd").wait(20).close());
        SocketChannel channel;
        Recorder recorder(channel, false);
        QList<qint64> sizes;
        connect(&channel, &SocketChannel::dataArrived, this, [&](qint64 n) { sizes << n; });
        channel.connectToHost(server.host(), server.port());
        QTRY_VERIFY(recorder.events.contains("closed"));
        // Each event tells how much is waiting in all, and the bytes stay
        // until taken.
        QCOMPARE(sizes, (QList<qint64>{2, 4}));
        QCOMPARE(channel.takeData(), QByteArray("abcd"));
        QCOMPARE(channel.takeData(), QByteArray());
    }

    void largeTransferArrivesWholeInManyChunks()
    {
        const QByteArray payload = randomBytes(16 * 1024 * 1024 + 3);
        FakeServer server;
        server.setGreeting(FakePlan().send(payload).close());
        SocketChannel channel;
        Recorder recorder(channel);
        channel.connectToHost(server.host(), server.port());
        QTRY_VERIFY_WITH_TIMEOUT(recorder.events.contains("closed"), 30000);
        QCOMPARE(recorder.data.size(), payload.size());
        QVERIFY(recorder.data == payload);
        QCOMPARE(recorder.announced, qint64(payload.size()));
        QVERIFY2(recorder.dataEvents > 1, qPrintable(QString::number(recorder.dataEvents)));
    }

    void sendingLargeBlockReachesPeer()
    {
        const QByteArray payload = randomBytes(4 * 1024 * 1024) + "\r\n\r\n";
        FakeServer server;
        SocketChannel channel;
        connect(&channel, &SocketChannel::connected, this, [&] {
            QVERIFY(channel.send(payload));
            channel.close(); // what is buffered still goes out
        });
        channel.connectToHost(server.host(), server.port());
        QTRY_VERIFY_WITH_TIMEOUT(server.connectionCount() == 1 && !server.connection(0)->isOpen(), 30000);
        QVERIFY(server.connection(0)->received() == payload);
    }

    void listenAndAcceptInsideRequestHandler()
    {
        SocketChannel channel;
        Recorder recorder(channel);
        QVERIFY(channel.listen(0, QHostAddress::LocalHost));
        QCOMPARE(channel.state(), SocketChannel::State::Listening);
        const quint16 port = channel.localPort();
        QVERIFY(port != 0);

        bool accepted = false;
        connect(&channel, &SocketChannel::connectionRequested, this, [&](qintptr id) {
            // The engine closes the listening channel and accepts on it.
            channel.close();
            accepted = channel.accept(id);
        });
        connect(&channel, &SocketChannel::connected, this, [&] { channel.send("from channel"); });

        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(client.waitForConnected(5000));
        client.write("from client");
        QTRY_VERIFY(accepted);
        QTRY_COMPARE(recorder.data, QByteArray("from client"));
        QCOMPARE(recorder.events.value(0), QStringLiteral("connected"));
        QVERIFY(channel.isConnected());
        QCOMPARE(channel.localPort(), port);
        QByteArray back;
        QTRY_VERIFY((back += client.readAll()) == "from channel");
        // The listener is gone: a second client is turned away.
        QTcpSocket second;
        second.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(!second.waitForConnected(2000));

        client.disconnectFromHost();
        QTRY_COMPARE(recorder.events.constLast(), QStringLiteral("closed"));
    }

    void unacceptedRequestIsRefused()
    {
        SocketChannel channel;
        QVERIFY(channel.listen(0, QHostAddress::LocalHost));
        QSignalSpy requests(&channel, &SocketChannel::connectionRequested);
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, channel.localPort());
        QTRY_COMPARE(requests.size(), 1);
        QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
        // The channel still listens, and a stale id cannot be accepted.
        QCOMPARE(channel.state(), SocketChannel::State::Listening);
        QVERIFY(!channel.accept(requests.at(0).at(0).value<qintptr>()));
        QVERIFY(!channel.accept(12345));
    }

    void listenOnTakenPortFails()
    {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
        SocketChannel channel;
        QVERIFY(!channel.listen(holder.serverPort(), QHostAddress::LocalHost));
        QVERIFY(!channel.errorString().isEmpty());
        QVERIFY(channel.isClosed());
        QVERIFY(channel.listen(0, QHostAddress::LocalHost));
    }

    void arrayCreatesAndDestroysByIndex()
    {
        SocketArray array;
        QCOMPARE(array.count(), 1);
        QVERIFY(array.at(0));
        QCOMPARE(array.upperBound(), 0);
        QCOMPARE(array.createNext(), 1);
        QVERIFY(!array.create(1));
        QVERIFY(!array.create(-1));
        QVERIFY(array.create(5));
        QCOMPARE(array.indexes(), (QList<int>{0, 1, 5}));
        QCOMPARE(array.upperBound(), 5);
        QCOMPARE(array.count(), 3);
        QCOMPARE(array.createNext(), 6);

        QPointer<SocketChannel> five(array[5]);
        QVERIFY(array.destroy(5));
        QVERIFY(!array.contains(5));
        QVERIFY(!array.at(5));
        QVERIFY(!array.destroy(5));
        QTRY_VERIFY(!five); // deleted from the event loop
        // A destroyed index can be loaded again.
        QVERIFY(array.create(5));
        QVERIFY(array.destroy(0));
        QCOMPARE(array.indexes(), (QList<int>{1, 5, 6}));
        QVERIFY(array.destroy(1) && array.destroy(5) && array.destroy(6));
        QCOMPARE(array.upperBound(), -1);
        QCOMPARE(array.createNext(), 0);
    }

    void arrayEventsCarryTheIndex()
    {
        FakeServer server;
        server.setGreeting(FakePlan().call([] {}));
        server.setReply(FakePlan().send("reply").close());
        SocketArray array;
        array.create(3);
        QStringList events;
        QMap<int, QByteArray> data;
        connect(&array, &SocketArray::connected, this, [&](int i) {
            events << QStringLiteral("connected %1").arg(i);
            array[i]->send("req " + QByteArray::number(i) + "\r\n\r\n");
        });
        connect(&array, &SocketArray::dataArrived, this, [&](int i, qint64) { data[i] += array[i]->takeData(); });
        connect(&array, &SocketArray::closed, this, [&](int i) {
            events << QStringLiteral("closed %1").arg(i);
            array[i]->close();
            if (i > 0)
                array.destroy(i); // inside the element's own handler
        });
        array[0]->connectToHost(server.host(), server.port());
        array[3]->connectToHost(server.host(), server.port());
        QTRY_COMPARE(events.size(), 4);
        QVERIFY(events.contains("connected 0") && events.contains("connected 3"));
        QVERIFY(events.contains("closed 0") && events.contains("closed 3"));
        QCOMPARE(data.value(0), QByteArray("reply"));
        QCOMPARE(data.value(3), QByteArray("reply"));
        QCOMPARE(array.indexes(), QList<int>{0});
        QByteArrayList requests;
        for (FakeConnection *c : server.connections())
            requests += c->requests();
        std::sort(requests.begin(), requests.end());
        QCOMPARE(requests, (QByteArrayList{"req 0\r\n\r\n", "req 3\r\n\r\n"}));
    }

    void destroyingElementDropsItsPendingEvents()
    {
        FakeServer server;
        server.setGreeting(FakePlan().send("a").wait(30).send("b").close());
        SocketArray array;
        const int i = array.createNext();
        QStringList events;
        connect(&array, &SocketArray::dataArrived, this, [&](int index, qint64) {
            events << QStringLiteral("data %1").arg(index);
            array.destroy(index);
        });
        connect(&array, &SocketArray::closed, this, [&](int index) { events << QStringLiteral("closed %1").arg(index); });
        array[i]->connectToHost(server.host(), server.port());
        QTRY_COMPARE(events, QStringList{"data 1"});
        QTRY_VERIFY(server.connectionCount() == 1 && !server.connection(0)->isOpen());
        QTest::qWait(30);
        QCOMPARE(events, QStringList{"data 1"});
    }

    void handlersOfOneGroupNeverOverlap()
    {
        // The first channel's handler opens a nested event loop (as a modal
        // prompt would); the other channels' data comes while it runs.
        FakeServer early;
        early.setGreeting(FakePlan().send("hi"));
        FakeServer late;
        late.setGreeting(FakePlan().wait(50).send("hi"));
        auto group = ChannelGroup::create();
        SocketChannel first(group);
        SocketChannel second(group);
        SocketChannel other; // in a group of its own
        bool inHandler = false;
        bool overlapped = false;
        QStringList order;
        auto handler = [&](SocketChannel &channel, const QString &name, bool nest) {
            if (inHandler)
                overlapped = true;
            inHandler = true;
            channel.takeData();
            order << name;
            if (nest) {
                QEventLoop loop;
                QTimer::singleShot(200, &loop, &QEventLoop::quit);
                loop.exec();
                order << name + " done";
            }
            inHandler = false;
        };
        bool otherDuringNest = false;
        connect(&first, &SocketChannel::dataArrived, this, [&] { handler(first, "first", true); });
        connect(&second, &SocketChannel::dataArrived, this, [&] { handler(second, "second", false); });
        connect(&other, &SocketChannel::dataArrived, this, [&] {
            other.takeData();
            otherDuringNest = order.contains("first") && !order.contains("first done");
        });
        first.connectToHost(early.host(), early.port());
        second.connectToHost(late.host(), late.port());
        other.connectToHost(late.host(), late.port());
        QTRY_COMPARE(order, (QStringList{"first", "first done", "second"}));
        QVERIFY(!overlapped);
        // A channel of another group is not held back.
        QVERIFY(otherDuringNest);
    }

    void noEventFromInsideOwnersCall()
    {
        // Failures found while starting are still reported from the loop.
        SocketChannel channel;
        QSignalSpy errors(&channel, &SocketChannel::errorOccurred);
        channel.connectToHost(QStringLiteral("127.0.0.1"), 0);
        QCOMPARE(errors.size(), 0);
        QTRY_COMPARE(errors.size(), 1);
    }

    // A handshake that cannot succeed ends in one tlsFailed naming the host,
    // never also as an error or a close.
    void failedHandshakeIsReportedOnce_data()
    {
        QTest::addColumn<bool>("tlsFactory");
        QTest::addColumn<QByteArray>("serverSays"); // after the client's first bytes
        QTest::addColumn<QString>("reason");
        QTest::newRow("plain factory cannot encrypt") << false << QByteArray() << "TLS is not available";
        QTest::newRow("peer answers in plain text") << true << QByteArray("HTTP/1.1 400 Bad Request\r\n\r\n") << "";
        QTest::newRow("peer closes during the handshake") << true << QByteArray() << "during the TLS handshake";
    }

    void failedHandshakeIsReportedOnce()
    {
        QFETCH(bool, tlsFactory);
        QFETCH(QByteArray, serverSays);
        QFETCH(QString, reason);
        FakeServer server;
        // The server answers once the client has begun its handshake.
        FakePlan plan;
        plan.wait(200);
        if (!serverSays.isEmpty())
            plan.send(serverSays);
        server.setGreeting(tlsFactory ? plan.close() : plan.stall());
        std::shared_ptr<const SocketFactory> factory;
        if (tlsFactory)
            factory = std::make_shared<TlsSocketFactory>();
        SocketChannel channel(ChannelGroup::create(factory));
        Recorder recorder(channel);
        connect(&channel, &SocketChannel::connected, this, [&] { channel.startEncryption(QStringLiteral("peer.example")); });
        channel.connectToHost(server.host(), server.port());
        QTRY_VERIFY(recorder.events.contains("tls failed"));
        QTest::qWait(0); // let anything queued behind the failure arrive
        QCoreApplication::processEvents();
        QCOMPARE(recorder.events, (QStringList{"connected", "tls failed"}));
        QCOMPARE(recorder.tls.host, QStringLiteral("peer.example"));
        QVERIFY(!recorder.tls.certificate);
        QVERIFY(!recorder.tls.errors.isEmpty());
        QVERIFY2(recorder.tls.errors.join(' ').contains(reason), qPrintable(recorder.tls.errors.join(' ')));
        QVERIFY(!channel.isEncrypted());
    }

    void factoryMakesEverySocket()
    {
        auto factory = std::make_shared<CountingFactory>();
        auto group = ChannelGroup::create(factory);
        FakeServer server;
        server.setGreeting(FakePlan().send("ok").close());
        SocketChannel outgoing(group);
        Recorder recorder(outgoing);
        outgoing.connectToHost(server.host(), server.port());
        QTRY_VERIFY(recorder.events.contains("closed"));
        QCOMPARE(recorder.data, QByteArray("ok"));
        QCOMPARE(factory->created, 1);
        QCOMPARE(factory->started, 1);

        SocketArray array(group);
        QVERIFY(array[0]->listen(0, QHostAddress::LocalHost));
        connect(&array, &SocketArray::connectionRequested, this,
                [&](int i, qintptr id) { QVERIFY(array[i]->accept(id)); });
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, array[0]->localPort());
        QTRY_VERIFY(array[0]->isConnected());
        QCOMPARE(factory->adopted, 1);
        QCOMPARE(factory->created, 2);
    }
};

QTEST_GUILESS_MAIN(TestSocketChannel)
#include "tst_socketchannel.moc"
