#include "platform/socketchannel.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace {

// How long a closed connection may take to hand its unsent bytes to a peer
// that does not read before it is cut off.
constexpr int LingerMs = 30000;

QString addressText(const QHostAddress &address)
{
    if (address.isNull())
        return {};
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

} // namespace

// ---- SocketFactory -------------------------------------------------------

SocketFactory::~SocketFactory() = default;

QAbstractSocket *SocketFactory::createSocket(QObject *parent) const
{
    return new QTcpSocket(parent);
}

QAbstractSocket *SocketFactory::createSocketFor(QObject *parent, bool encryptable) const
{
    return encryptable ? createSocket(parent) : SocketFactory::createSocket(parent);
}

void SocketFactory::startConnection(QAbstractSocket *socket, const QString &host, quint16 port,
                                    Ready ready) const
{
    QObject::connect(socket, &QAbstractSocket::connected, socket, std::move(ready));
    socket->connectToHost(host, port);
}

bool SocketFactory::adoptConnection(QAbstractSocket *socket, qintptr descriptor, Ready ready) const
{
    if (!socket->setSocketDescriptor(descriptor))
        return false;
    ready();
    return true;
}

void SocketFactory::startEncryption(QAbstractSocket *, const QString &peerName, Ready, Failed failed) const
{
    TlsFailure failure;
    failure.host = peerName;
    failure.errors << QStringLiteral("TLS is not available on this connection");
    failed(failure);
}

QString PeerCertificate::fingerprintText() const
{
    return QString::fromLatin1(sha256.toHex(':').toUpper());
}

// ---- ChannelGroup --------------------------------------------------------

std::shared_ptr<ChannelGroup> ChannelGroup::create(std::shared_ptr<const SocketFactory> factory)
{
    if (!factory)
        factory = std::make_shared<const SocketFactory>();
    return std::shared_ptr<ChannelGroup>(new ChannelGroup(std::move(factory)));
}

ChannelGroup::ChannelGroup(std::shared_ptr<const SocketFactory> factory)
    : m_factory(std::move(factory))
{
}

ChannelGroup::~ChannelGroup() = default;

void ChannelGroup::post(Event event)
{
    m_queue.push_back(std::move(event));
    // A running delivery loop picks the event up when its handler returns.
    if (m_scheduled || m_delivering)
        return;
    m_scheduled = true;
    QMetaObject::invokeMethod(&m_context, [this] { drain(); }, Qt::QueuedConnection);
}

void ChannelGroup::drain()
{
    m_scheduled = false;
    if (m_delivering)
        return;
    // A handler may destroy the last channel that holds the group.
    const std::shared_ptr<ChannelGroup> keep = shared_from_this();
    m_delivering = true;
    while (!m_queue.empty()) {
        Event event = std::move(m_queue.front());
        m_queue.pop_front();
        // A destroyed channel refused its own requests; its events are void.
        if (event.channel)
            event.channel->deliver(event);
    }
    m_delivering = false;
}

// ---- SocketChannel -------------------------------------------------------

class SocketChannel::Listener : public QTcpServer {
public:
    explicit Listener(SocketChannel *owner)
        : QTcpServer(owner)
        , m_owner(owner)
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override { m_owner->incoming(descriptor); }

private:
    SocketChannel *m_owner;
};

SocketChannel::SocketChannel(QObject *parent)
    : SocketChannel(ChannelGroup::create(), parent)
{
}

SocketChannel::SocketChannel(std::shared_ptr<ChannelGroup> group, QObject *parent)
    : QObject(parent)
    , m_group(group ? std::move(group) : ChannelGroup::create())
{
}

SocketChannel::~SocketChannel()
{
    for (const qintptr descriptor : std::as_const(m_requests))
        refuse(descriptor);
    m_requests.clear();
    if (m_socket)
        m_socket->disconnect();
    if (m_listener)
        m_listener->close();
    // Children (the socket, the listener, closing sockets) go with QObject.
}

void SocketChannel::connectToHost(const QString &host, quint16 port)
{
    m_remoteHost = host;
    m_remotePort = port;
    connectToHost();
}

void SocketChannel::connectToHost()
{
    resetConnection();
    QAbstractSocket *socket = m_group->factory().createSocketFor(this, m_encryptable);
    attach(socket);
    m_state = State::Connecting;
    const quint64 generation = m_generation;
    m_group->factory().startConnection(socket, m_remoteHost, m_remotePort,
                                       [self = QPointer(this), generation] {
                                           if (self && self->m_generation == generation)
                                               self->post(ChannelGroup::EventKind::Connected);
                                       });
}

bool SocketChannel::send(const QByteArray &bytes)
{
    if (!isConnected() || !m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return false;
    return m_socket->write(bytes) == bytes.size();
}

void SocketChannel::startEncryption(const QString &peerName)
{
    if (!isConnected() || !m_socket || m_encrypting || m_encrypted)
        return;
    m_encrypting = true;
    const quint64 generation = m_generation;
    m_group->factory().startEncryption(
        m_socket, peerName,
        [self = QPointer(this), generation] {
            if (self && self->m_generation == generation)
                self->post(ChannelGroup::EventKind::Encrypted);
        },
        [self = QPointer(this), generation](const TlsFailure &failure) {
            if (!self || self->m_generation != generation || self->m_failed)
                return;
            self->m_failed = true;
            self->post(ChannelGroup::EventKind::TlsFailed, 0, failure.errors.join(QStringLiteral("; ")), -1,
                       std::make_shared<const TlsFailure>(failure));
        });
}

QByteArray SocketChannel::takeData()
{
    return std::exchange(m_inbox, QByteArray());
}

void SocketChannel::close()
{
    resetConnection();
}

QString SocketChannel::localAddress() const
{
    if (m_socket)
        return addressText(m_socket->localAddress());
    if (m_listener)
        return addressText(m_listener->serverAddress());
    return {};
}

quint16 SocketChannel::localPort() const
{
    if (m_socket)
        return m_socket->localPort();
    if (m_listener)
        return m_listener->serverPort();
    return 0;
}

QString SocketChannel::remoteAddress() const
{
    return m_socket ? addressText(m_socket->peerAddress()) : QString();
}

bool SocketChannel::listen(quint16 port, const QHostAddress &address)
{
    resetConnection();
    auto *listener = new Listener(this);
    if (!listener->listen(address, port)) {
        m_errorString = listener->errorString();
        delete listener;
        return false;
    }
    m_listener = listener;
    m_state = State::Listening;
    return true;
}

bool SocketChannel::accept(qintptr requestId)
{
    if (!m_requests.remove(requestId))
        return false;
    resetConnection();
    QAbstractSocket *socket = m_group->factory().createSocketFor(this, m_encryptable);
    attach(socket);
    const quint64 generation = m_generation;
    const bool adopted = m_group->factory().adoptConnection(
        socket, requestId, [self = QPointer(this), generation] {
            if (self && self->m_generation == generation)
                self->post(ChannelGroup::EventKind::Connected);
        });
    if (!adopted) {
        m_errorString = socket->errorString();
        m_socket = nullptr;
        socket->disconnect();
        delete socket;
        ::close(int(requestId));
        return false;
    }
    m_socket = socket;
    m_state = State::Connecting;
    return true;
}

void SocketChannel::attach(QAbstractSocket *socket)
{
    m_socket = socket;
    connect(socket, &QAbstractSocket::readyRead, this, &SocketChannel::onReadyRead);
    connect(socket, &QAbstractSocket::disconnected, this, &SocketChannel::onDisconnected);
    connect(socket, &QAbstractSocket::errorOccurred, this, &SocketChannel::onSocketError);
}

void SocketChannel::releaseSocket()
{
    QAbstractSocket *socket = std::exchange(m_socket, nullptr);
    if (!socket)
        return;
    socket->disconnect();
    if (socket->state() == QAbstractSocket::ConnectedState) {
        // disconnectFromHost sends what is still buffered before closing.
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState) {
            connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QAbstractSocket::errorOccurred, socket, &QObject::deleteLater);
            QTimer::singleShot(LingerMs, socket, [socket] {
                socket->abort();
                socket->deleteLater();
            });
            return;
        }
    } else {
        socket->abort();
    }
    socket->deleteLater();
}

void SocketChannel::releaseListener()
{
    Listener *listener = std::exchange(m_listener, nullptr);
    if (!listener)
        return;
    listener->close();
    listener->deleteLater();
}

void SocketChannel::resetConnection()
{
    ++m_generation;
    releaseListener();
    releaseSocket();
    m_inbox.clear();
    m_dataPosted = false;
    m_failed = false;
    m_encrypting = false;
    m_encrypted = false;
    m_state = State::Closed;
}

void SocketChannel::post(ChannelGroup::EventKind kind, int number, const QString &description,
                         qintptr request, std::shared_ptr<const TlsFailure> tls)
{
    m_group->post({QPointer(this), m_generation, kind, number, description, request, std::move(tls)});
}

void SocketChannel::deliver(const ChannelGroup::Event &event)
{
    using Kind = ChannelGroup::EventKind;
    if (event.generation != m_generation) {
        // The connection it belongs to was closed before it came up.
        if (event.kind == Kind::Request && m_requests.remove(event.request))
            refuse(event.request);
        return;
    }
    switch (event.kind) {
    case Kind::Connected:
        m_state = State::Connected;
        Q_EMIT connected();
        break;
    case Kind::Data:
        m_dataPosted = false;
        if (!m_inbox.isEmpty())
            Q_EMIT dataArrived(m_inbox.size());
        break;
    case Kind::Closed:
        m_state = State::Closing;
        Q_EMIT closed();
        break;
    case Kind::Error:
        m_state = State::Error;
        m_errorString = event.description;
        Q_EMIT errorOccurred(event.number, event.description);
        break;
    case Kind::Encrypted:
        m_encrypting = false;
        m_encrypted = true;
        Q_EMIT encrypted();
        break;
    case Kind::TlsFailed:
        m_encrypting = false;
        m_state = State::Error;
        m_errorString = event.description;
        Q_EMIT tlsFailed(*event.tls);
        break;
    case Kind::Request: {
        const QPointer<SocketChannel> self(this);
        Q_EMIT connectionRequested(event.request);
        if (self && m_requests.remove(event.request))
            refuse(event.request);
        break;
    }
    }
}

void SocketChannel::incoming(qintptr descriptor)
{
    m_requests.insert(descriptor);
    post(ChannelGroup::EventKind::Request, 0, {}, descriptor);
}

void SocketChannel::refuse(qintptr descriptor)
{
    ::shutdown(int(descriptor), SHUT_RDWR);
    ::close(int(descriptor));
}

void SocketChannel::onReadyRead()
{
    m_inbox.append(m_socket->readAll());
    if (!m_inbox.isEmpty() && !m_dataPosted) {
        m_dataPosted = true;
        post(ChannelGroup::EventKind::Data);
    }
}

void SocketChannel::onDisconnected()
{
    // The last bytes before the peer's close still count as arrived.
    if (m_socket->bytesAvailable() > 0)
        onReadyRead();
    if (!m_failed && !m_encrypting)
        post(ChannelGroup::EventKind::Closed);
}

void SocketChannel::onSocketError(QAbstractSocket::SocketError error)
{
    // The peer's close is reported by disconnected(), not as a failure.
    if (error == QAbstractSocket::RemoteHostClosedError || m_failed)
        return;
    // A handshake that fails is reported by the factory, with its reasons.
    if (m_encrypting && error == QAbstractSocket::SslHandshakeFailedError)
        return;
    m_failed = true;
    post(ChannelGroup::EventKind::Error, int(error), m_socket->errorString());
}

// ---- SocketArray ---------------------------------------------------------

SocketArray::SocketArray(std::shared_ptr<ChannelGroup> group, QObject *parent)
    : QObject(parent)
    , m_group(group ? std::move(group) : ChannelGroup::create())
{
    create(0);
}

SocketArray::~SocketArray() = default;

int SocketArray::upperBound() const
{
    return m_elements.isEmpty() ? -1 : m_elements.lastKey();
}

SocketChannel *SocketArray::create(int index)
{
    if (index < 0 || m_elements.contains(index))
        return nullptr;
    auto *channel = new SocketChannel(m_group, this);
    connect(channel, &SocketChannel::connected, this, [this, index] { Q_EMIT connected(index); });
    connect(channel, &SocketChannel::dataArrived, this,
            [this, index](qint64 bytes) { Q_EMIT dataArrived(index, bytes); });
    connect(channel, &SocketChannel::closed, this, [this, index] { Q_EMIT closed(index); });
    connect(channel, &SocketChannel::errorOccurred, this,
            [this, index](int number, const QString &description) {
                Q_EMIT errorOccurred(index, number, description);
            });
    connect(channel, &SocketChannel::connectionRequested, this,
            [this, index](qintptr request) { Q_EMIT connectionRequested(index, request); });
    connect(channel, &SocketChannel::encrypted, this, [this, index] { Q_EMIT encrypted(index); });
    connect(channel, &SocketChannel::tlsFailed, this,
            [this, index](const TlsFailure &failure) { Q_EMIT tlsFailed(index, failure); });
    m_elements.insert(index, channel);
    return channel;
}

int SocketArray::createNext()
{
    const int index = upperBound() + 1;
    create(index);
    return index;
}

bool SocketArray::destroy(int index)
{
    SocketChannel *channel = m_elements.take(index);
    if (!channel)
        return false;
    disconnect(channel, nullptr, this, nullptr);
    channel->close();
    channel->deleteLater();
    return true;
}
