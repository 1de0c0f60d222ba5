#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>

#include <deque>
#include <functional>
#include <optional>
#include <utility>

class QTcpSocket;
class QTimer;

// What a fake server does on one connection, step by step. Steps run in
// order; a plan handed in while another still runs waits for it.
class FakePlan {
public:
    FakePlan &send(const QByteArray &bytes);
    // Sends bytes in pieces of pieceSize, waiting delayMs after each piece.
    FakePlan &sendInPieces(const QByteArray &bytes, qint64 pieceSize, int delayMs = 0);
    // Sends nothing for ms milliseconds.
    FakePlan &wait(int ms);
    // Sends nothing more, ever; the connection stays open and keeps recording.
    FakePlan &stall();
    // Closes after everything before has gone out.
    FakePlan &close();
    // Resets the connection at once (bytes the peer has not read may be lost).
    FakePlan &drop();
    // Runs code at this point, for example to open a data connection.
    FakePlan &call(std::function<void()> action);

    bool isEmpty() const { return m_steps.empty(); }

private:
    friend class FakeConnection;
    struct Step {
        enum Kind { Send, Wait, Stall, Close, Drop, Call } kind;
        QByteArray bytes;
        qint64 pieceSize = 0;
        int ms = 0;
        std::function<void()> action;
    };
    std::deque<Step> m_steps;
};

// One connection of a fake server, accepted or opened by it. Records every
// byte it receives and splits them into requests at the server's terminator.
class FakeConnection : public QObject {
    Q_OBJECT

public:
    QByteArray received() const { return m_received; }
    QByteArrayList requests() const { return m_requests; }
    qint64 bytesSent() const { return m_bytesSent; }
    // True until the connection closed, by either side.
    bool isOpen() const;

    // Appends steps to what the connection does.
    void run(FakePlan plan);

Q_SIGNALS:
    void requestReceived(const QByteArray &request);
    void finished(); // the connection is closed

private:
    friend class FakeServer;
    using Responder = std::function<FakePlan(FakeConnection &, const QByteArray &)>;

    FakeConnection(QTcpSocket *socket, QByteArray terminator, Responder responder, QObject *parent);
    void start(FakePlan greeting);
    void onReadyRead();
    void onDisconnected();
    void pump();
    void pumpSteps();
    void pumpLater(int ms);

    QTcpSocket *m_socket;
    QTimer *m_timer;
    QByteArray m_terminator;
    Responder m_responder;
    QByteArray m_received;
    QByteArray m_pending; // received bytes not yet part of a whole request
    QByteArrayList m_requests;
    std::deque<FakePlan::Step> m_steps;
    qint64 m_sendOffset = 0;
    qint64 m_bytesSent = 0;
    bool m_started = false;
    bool m_pumping = false;
    bool m_waiting = false;
    bool m_stalled = false;
    bool m_closed = false;
};

// A scripted TCP server for tests, listening on a free loopback port.
// Every accepted connection first runs the greeting plan; then each request
// (the bytes up to and including the terminator, "\r\n\r\n" by default) is
// recorded and handed to the responder, whose plan answers it. A server can
// also open connections out (an FTP server's active-mode data connection).
//
//     FakeServer server;
//     server.setResponder([&](FakeConnection &, const QByteArray &request) {
//         if (FakeServer::headerValue(request, "Range") == "bytes=-")
//             return FakePlan().send(FakeServer::httpHead("HTTP/1.1 416 Range Not Satisfiable"));
//         return FakePlan().send(head).sendInPieces(body, 1000, 5).drop();
//     });
//     ... connect to server.host():server.port() ...
//     QTRY_COMPARE(server.connectionCount(), 2);
//
// For FTP, setTerminator("\r\n"), greet with setGreeting(), answer each
// command from the responder, and use a second FakeServer as the passive
// data server or connectOut() for active mode.
class FakeServer : public QObject {
    Q_OBJECT

public:
    using Responder = std::function<FakePlan(FakeConnection &connection, const QByteArray &request)>;

    explicit FakeServer(const QHostAddress &address = QHostAddress::LocalHost,
                        QObject *parent = nullptr);
    ~FakeServer() override;

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    QString host() const { return m_server.serverAddress().toString(); }

    // "\r\n\r\n" for HTTP requests, "\r\n" for FTP commands.
    void setTerminator(const QByteArray &terminator) { m_terminator = terminator; }
    void setGreeting(const FakePlan &plan) { m_greeting = plan; }
    void setResponder(Responder responder) { m_responder = std::move(responder); }
    // Answers every request with the same plan.
    void setReply(const FakePlan &plan);

    // Opens a connection to host:port that runs plan once connected.
    FakeConnection *connectOut(const QString &host, quint16 port, const FakePlan &plan);

    // Accepted connections, in the order they came.
    int connectionCount() const { return int(m_accepted.size()); }
    FakeConnection *connection(int index) const { return m_accepted.value(index); }
    QList<FakeConnection *> connections() const { return m_accepted; }

    // Helpers for building answers.
    // Case-insensitive value of a header line ("Range") in an HTTP request;
    // nullopt when the request has no such header.
    static std::optional<QByteArray> headerValue(const QByteArray &request, const QByteArray &name);
    // A status line and header lines joined by CR LF, ended by the blank line.
    static QByteArray httpHead(const QByteArray &statusLine, const QByteArrayList &headers = {});
    // FTP's "h1,h2,h3,h4,p1,p2" form of an IPv4 address and port, and back.
    static QByteArray ftpHostPort(const QHostAddress &address, quint16 port);
    static std::optional<std::pair<QHostAddress, quint16>> parseFtpHostPort(const QByteArray &text);

Q_SIGNALS:
    void newConnection(FakeConnection *connection);

private:
    void onNewConnection();

    QTcpServer m_server;
    QByteArray m_terminator = "\r\n\r\n";
    FakePlan m_greeting;
    Responder m_responder;
    QList<FakeConnection *> m_accepted;
};
