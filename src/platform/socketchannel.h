#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>

class QTcpServer;
class SocketChannel;

// The certificate a TLS peer showed, in the terms a person checks it by.
struct PeerCertificate {
    QString subject;
    QString issuer;
    QDateTime effective; // valid from
    QDateTime expires;   // valid until
    QByteArray sha256;   // fingerprint, raw bytes
    QByteArray pem;      // the certificate itself

    bool isNull() const { return sha256.isEmpty(); }
    // "AB:CD:..." upper-case hex pairs.
    QString fingerprintText() const;
    bool operator==(const PeerCertificate &) const = default;
};

// Why a TLS handshake did not end encrypted.
struct TlsFailure {
    QString host;          // the name the certificate was checked against
    QStringList errors;    // each reason in the TLS library's words
    bool certificate = false; // the peer's certificate did not verify
    PeerCertificate peer;  // its certificate, when it showed one
    bool operator==(const TlsFailure &) const = default;
};

// Makes and starts the sockets under a channel. The plain factory gives TCP
// sockets; a TLS factory can hand out QSslSocket instead, start the handshake
// in startConnection / adoptConnection and call ready only once the stream is
// encrypted. The channels and their owners do not change.
class SocketFactory {
public:
    using Ready = std::function<void()>;
    using Failed = std::function<void(const TlsFailure &)>;

    virtual ~SocketFactory();

    // A new unconnected socket owned by parent.
    virtual QAbstractSocket *createSocket(QObject *parent) const;
    // The same for a connection that may be encrypted later (encryptable)
    // or never will be; a TLS factory hands out a plain socket for the
    // latter, which reads without the extra layer.
    virtual QAbstractSocket *createSocketFor(QObject *parent, bool encryptable) const;
    // Starts an outgoing connection; ready is called once when the stream
    // can carry data.
    virtual void startConnection(QAbstractSocket *socket, const QString &host, quint16 port,
                                 Ready ready) const;
    // Takes over an accepted connection by its descriptor; ready as above.
    // False when the descriptor was not taken over (it stays the caller's).
    virtual bool adoptConnection(QAbstractSocket *socket, qintptr descriptor, Ready ready) const;
    // Starts TLS as the client over a connected socket of this factory,
    // checking the peer's certificate against peerName (also sent as the
    // server name). ready is called once the stream is encrypted, failed
    // once when the handshake did not succeed. The plain factory cannot
    // encrypt: failed at once.
    virtual void startEncryption(QAbstractSocket *socket, const QString &peerName, Ready ready,
                                 Failed failed) const;
};

// What the channels of one owner (a download window) share: the factory that
// makes their sockets, and the queue that delivers their events. Events of
// all channels in a group are delivered in arrival order, one at a time, and
// always from the event loop, never from inside a call the owner made. A
// handler that opens a nested event loop (a modal prompt) holds back the
// group's later events until it returns.
class ChannelGroup : public std::enable_shared_from_this<ChannelGroup> {
public:
    static std::shared_ptr<ChannelGroup> create(std::shared_ptr<const SocketFactory> factory = {});
    ~ChannelGroup();

    const SocketFactory &factory() const { return *m_factory; }

private:
    friend class SocketChannel;

    enum class EventKind { Connected, Data, Closed, Error, Request, Encrypted, TlsFailed };
    struct Event {
        QPointer<SocketChannel> channel;
        quint64 generation = 0;
        EventKind kind = EventKind::Data;
        int number = 0;
        QString description;
        qintptr request = -1;
        std::shared_ptr<const TlsFailure> tls;
    };

    explicit ChannelGroup(std::shared_ptr<const SocketFactory> factory);
    void post(Event event);
    void drain();

    std::shared_ptr<const SocketFactory> m_factory;
    std::deque<Event> m_queue;
    QObject m_context; // target of the queued drain calls; dies with the group
    bool m_scheduled = false;
    bool m_delivering = false;
};

// An event-driven TCP connection: connects out or listens and accepts, sends
// bytes, and reports what happens through signals. Arrived bytes wait in the
// channel until the owner takes them.
//
// Event order: connected() once per connection (outgoing or accepted) before
// any dataArrived(); after startEncryption(), encrypted() or tlsFailed()
// once (a failed handshake is not reported closed or as an error as
// well); dataArrived() whenever bytes arrived that the owner has
// not taken; closed() when the peer closed the connection; errorOccurred()
// on a failure (a connection that failed is not reported closed as well).
// close() discards every event of the old connection that was not yet
// delivered, so a handler may close, reconnect or destroy the channel it was
// called for.
class SocketChannel : public QObject {
    Q_OBJECT

public:
    enum class State { Closed, Connecting, Connected, Listening, Closing, Error };
    Q_ENUM(State)

    // A channel in a group of its own with the plain factory.
    explicit SocketChannel(QObject *parent = nullptr);
    explicit SocketChannel(std::shared_ptr<ChannelGroup> group, QObject *parent = nullptr);
    ~SocketChannel() override;

    const std::shared_ptr<ChannelGroup> &group() const { return m_group; }

    QString remoteHost() const { return m_remoteHost; }
    void setRemoteHost(const QString &host) { m_remoteHost = host; }
    quint16 remotePort() const { return m_remotePort; }
    void setRemotePort(quint16 port) { m_remotePort = port; }

    // Connects to the remote host and port set before. Any earlier connection
    // or listener of this channel is closed first.
    void connectToHost();
    void connectToHost(const QString &host, quint16 port);

    // Whether the next connection may be turned into a TLS one (default):
    // set false for a connection that never will be, so it gets a plain socket.
    void setEncryptable(bool encryptable) { m_encryptable = encryptable; }

    // Turns the connected stream into a TLS one (see SocketFactory). Bytes
    // sent before encrypted() are not allowed.
    void startEncryption(const QString &peerName);
    bool isEncrypted() const { return m_encrypted; }

    // Queues bytes for sending. False when the channel is not connected.
    bool send(const QByteArray &bytes);

    // Takes every byte that arrived and was not taken yet, in arrival order.
    QByteArray takeData();
    qint64 bytesAvailable() const { return m_inbox.size(); }

    // Closes the connection or listener; unsent bytes still go out. Bytes
    // that arrived and were not taken are dropped.
    void close();

    State state() const { return m_state; }
    bool isConnected() const { return m_state == State::Connected; }
    bool isClosed() const { return m_state == State::Closed; }

    // This end's address in text form (dotted for IPv4, also when the socket
    // is dual-stack); empty when there is no connection.
    QString localAddress() const;
    // The bound port while listening or connected, else 0.
    quint16 localPort() const;
    // The peer's address in text form; empty when not connected.
    QString remoteAddress() const;

    // Listens for incoming connections on port (0: any free port) and
    // address. False when the port cannot be bound; errorString() says why.
    bool listen(quint16 port, const QHostAddress &address = QHostAddress::Any);
    // Takes the connection of a request reported by connectionRequested()
    // on this channel, closing whatever the channel held. A request that its
    // handler did not accept is refused once the handler returns.
    bool accept(qintptr requestId);

    QString errorString() const { return m_errorString; }

Q_SIGNALS:
    void connected();
    void dataArrived(qint64 bytes);
    void closed();
    // number: the QAbstractSocket::SocketError; description: the system's text.
    void errorOccurred(int number, const QString &description);
    void connectionRequested(qintptr requestId);
    void encrypted();
    void tlsFailed(const TlsFailure &failure);

private:
    friend class ChannelGroup;
    class Listener;

    void attach(QAbstractSocket *socket);
    void releaseSocket();
    void releaseListener();
    void resetConnection();
    void post(ChannelGroup::EventKind kind, int number = 0, const QString &description = {},
              qintptr request = -1, std::shared_ptr<const TlsFailure> tls = {});
    void deliver(const ChannelGroup::Event &event);
    void incoming(qintptr descriptor);
    static void refuse(qintptr descriptor);

    void onReadyRead();
    void onDisconnected();
    void onSocketError(QAbstractSocket::SocketError error);

    std::shared_ptr<ChannelGroup> m_group;
    QAbstractSocket *m_socket = nullptr;
    Listener *m_listener = nullptr;
    QSet<qintptr> m_requests; // reported, not yet accepted or refused
    QByteArray m_inbox;
    QString m_remoteHost;
    quint16 m_remotePort = 0;
    QString m_errorString;
    State m_state = State::Closed;
    quint64 m_generation = 0; // advanced by every close; older events are stale
    bool m_dataPosted = false;
    bool m_failed = false;
    bool m_encryptable = true;
    bool m_encrypting = false; // a handshake runs; the factory reports its end
    bool m_encrypted = false;
};

// Channels addressed by small non-negative indexes, created and destroyed
// by index. Element 0 exists from the start. Every element's events are
// reported with its index; the elements share the array's group.
class SocketArray : public QObject {
    Q_OBJECT

public:
    explicit SocketArray(std::shared_ptr<ChannelGroup> group = {}, QObject *parent = nullptr);
    ~SocketArray() override;

    // The element at index, or nullptr when none is loaded there.
    SocketChannel *at(int index) const { return m_elements.value(index); }
    SocketChannel *operator[](int index) const { return at(index); }
    bool contains(int index) const { return m_elements.contains(index); }
    int count() const { return int(m_elements.size()); }
    // The highest loaded index, or -1 when the array is empty.
    int upperBound() const;
    QList<int> indexes() const { return m_elements.keys(); }

    // Loads a new element at index; nullptr when the index is negative or
    // already loaded.
    SocketChannel *create(int index);
    // Loads a new element at upperBound() + 1 and returns its index.
    int createNext();
    // Closes the element and unloads it; its index is free at once and the
    // channel object is deleted from the event loop, so this is safe inside
    // the element's own handler. False when nothing is loaded there.
    bool destroy(int index);

Q_SIGNALS:
    void connected(int index);
    void dataArrived(int index, qint64 bytes);
    void closed(int index);
    void errorOccurred(int index, int number, const QString &description);
    void connectionRequested(int index, qintptr requestId);
    void encrypted(int index);
    void tlsFailed(int index, const TlsFailure &failure);

private:
    std::shared_ptr<ChannelGroup> m_group;
    QMap<int, SocketChannel *> m_elements;
};
