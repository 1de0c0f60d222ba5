// Closing a connection after the last write: the peer gets every byte and a
// clean end of stream, even when bytes it sent wait unread at this end.

#include "platform/streamclose.h"

#include <QDir>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace std::chrono_literals;

namespace {

qsizetype openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
}

} // namespace

class TestStreamClose : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The peer reads nothing until this end has handed over its last bytes
    // and closed, and has sent a few bytes of its own this end never reads
    // (as a TLS server's session ticket). Much of the upload is still in
    // the system's buffers then; a plain close would reset the connection
    // and lose it.
    void tailArrivesWhole()
    {
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost));
        QObject context;
        const qsizetype descriptorsBefore = openDescriptors();
        auto *client = new QTcpSocket(&context);
        client->connectToHost(QHostAddress::LocalHost, listener.serverPort());
        QVERIFY(listener.waitForNewConnection(5000));
        QTcpSocket *peer = listener.nextPendingConnection();
        QVERIFY(client->waitForConnected(5000));
        peer->setReadBufferSize(1); // reads nothing for now

        QByteArray payload(24 * 1024 * 1024, Qt::Uninitialized);
        for (qsizetype i = 0; i < payload.size(); ++i)
            payload[i] = char(i * 7 + i / 4096);
        client->write(payload);
        closeAfterSending(client, 30s, &context);
        peer->write("ticket");
        QVERIFY(peer->flush());

        QByteArray received;
        bool ended = false;
        connect(peer, &QTcpSocket::readyRead, this, [&] { received += peer->readAll(); });
        connect(peer, &QTcpSocket::disconnected, this, [&] { ended = true; });
        peer->setReadBufferSize(0);
        received += peer->readAll();
        QTRY_VERIFY_WITH_TIMEOUT(ended, 20000); // the end of stream follows the last byte
        received += peer->readAll();
        QCOMPARE(received.size(), payload.size());
        QVERIFY(received == payload);
        // The peer closed; so does the copy of the descriptor.
        QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), descriptorsBefore, 10000);
        delete peer;
    }

    // A peer that never closes holds the copy only until the drain limit.
    void drainEndsAtTheLimit()
    {
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost));
        QObject context;
        auto *client = new QTcpSocket(&context);
        client->connectToHost(QHostAddress::LocalHost, listener.serverPort());
        QVERIFY(listener.waitForNewConnection(5000));
        QTcpSocket *peer = listener.nextPendingConnection();
        QVERIFY(client->waitForConnected(5000));
        peer->setReadBufferSize(1); // never sees the end of stream
        const qsizetype descriptorsBefore = openDescriptors();
        client->write("last words");
        closeAfterSending(client, 20ms, &context);
        QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), descriptorsBefore - 1, 10000); // the client's, and its copy
        QCOMPARE(peer->state(), QAbstractSocket::ConnectedState);
        delete peer;
    }
};

QTEST_GUILESS_MAIN(TestStreamClose)
#include "tst_streamclose.moc"
