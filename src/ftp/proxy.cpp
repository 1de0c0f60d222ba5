#include "proxy.h"

#include <QMetaObject>
#include <QPointer>

namespace {

// SOCKS 4 reply codes (the second byte of its 8-byte reply).
constexpr quint8 Socks4Granted = 90;

// SOCKS 5 authentication methods.
constexpr quint8 MethodNone = 0x00;
constexpr quint8 MethodUserPassword = 0x02;
constexpr quint8 MethodNoneAcceptable = 0xFF;

// SOCKS 5 address types.
constexpr quint8 AddressIPv4 = 0x01;
constexpr quint8 AddressDomain = 0x03;
constexpr quint8 AddressIPv6 = 0x04;

constexpr quint8 CommandConnect = 0x01;
constexpr quint8 CommandBind = 0x02;

QString socks4Reason(quint8 code)
{
    switch (code) {
    case 91:
        return QStringLiteral("request rejected or failed");
    case 92:
        return QStringLiteral("the proxy could not reach the identd service of this computer");
    case 93:
        return QStringLiteral("the identd service did not confirm the user id");
    default:
        return QStringLiteral("unknown reply");
    }
}

QString socks5Reason(quint8 code)
{
    switch (code) {
    case 1:
        return QStringLiteral("general failure");
    case 2:
        return QStringLiteral("connection not allowed by the proxy's rules");
    case 3:
        return QStringLiteral("network unreachable");
    case 4:
        return QStringLiteral("host unreachable");
    case 5:
        return QStringLiteral("connection refused");
    case 6:
        return QStringLiteral("TTL expired");
    case 7:
        return QStringLiteral("command not supported");
    case 8:
        return QStringLiteral("address type not supported");
    default:
        return QStringLiteral("unknown reply");
    }
}

void appendPort(QByteArray &out, quint16 port)
{
    out.append(char(port >> 8));
    out.append(char(port & 0xFF));
}

quint16 readPort(const QByteArray &bytes, qsizetype at)
{
    return quint16((quint8(bytes.at(at)) << 8) | quint8(bytes.at(at + 1)));
}

QString endpointText(const QString &host, quint16 port)
{
    return host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2").arg(host).arg(port)
                                           : QStringLiteral("%1:%2").arg(host).arg(port);
}

} // namespace

SocksConnector::SocksConnector(QAbstractSocket *socket, ProxySettings proxy, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_proxy(std::move(proxy))
{
}

void SocksConnector::connectTo(const QString &host, quint16 port)
{
    begin(Command::Connect, host, port, QHostAddress());
}

void SocksConnector::bindFor(const QHostAddress &expectedPeer, quint16 port)
{
    begin(Command::Bind, expectedPeer.toString(), port, expectedPeer);
}

void SocksConnector::begin(Command command, const QString &host, quint16 port, const QHostAddress &expectedPeer)
{
    if (m_step != Step::Idle) {
        // One handshake per connector; a second request would mix replies.
        qWarning("SocksConnector: a second request on the same connector is ignored");
        return;
    }
    m_command = command;
    // "[::1]" as written in URLs is the address ::1.
    m_targetHost = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')) ? host.mid(1, host.size() - 2)
                                                                                         : host;
    m_targetPort = port;
    m_expectedPeer = expectedPeer;
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
        failLater(QStringLiteral("Not connected to the SOCKS proxy"));
        return;
    }
    connect(m_socket, &QIODevice::readyRead, this, &SocksConnector::onReadyRead);
    connect(m_socket, &QAbstractSocket::disconnected, this, &SocksConnector::onClosed);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &SocksConnector::onClosed);

    switch (m_proxy.type) {
    case ProxySettings::Type::Socks4:
        sendSocks4Request();
        break;
    case ProxySettings::Type::Socks5:
        sendSocks5Greeting();
        break;
    case ProxySettings::Type::None:
        failLater(QStringLiteral("No SOCKS proxy is set"));
        return;
    }
    // A proxy that answers ahead of the request may have bytes waiting
    // already; readyRead will not repeat for them.
    if (m_step != Step::Done && m_socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &SocksConnector::onReadyRead, Qt::QueuedConnection);
}

// --- SOCKS 4 / 4a ---

void SocksConnector::sendSocks4Request()
{
    QHostAddress address;
    const bool isAddress = address.setAddress(m_targetHost);
    if (isAddress && address.protocol() != QAbstractSocket::IPv4Protocol) {
        failLater(QStringLiteral("A SOCKS 4 proxy cannot reach the IPv6 address %1").arg(m_targetHost));
        return;
    }
    const QByteArray user = m_proxy.user.toUtf8();
    if (user.contains('\0')) {
        failLater(QStringLiteral("The SOCKS 4 user id contains a NUL character"));
        return;
    }
    QByteArray request;
    request.append(char(4));
    request.append(char(m_command == Command::Connect ? CommandConnect : CommandBind));
    appendPort(request, m_targetPort);
    if (isAddress) {
        const quint32 ip = address.toIPv4Address();
        request.append(char(ip >> 24)).append(char((ip >> 16) & 0xFF)).append(char((ip >> 8) & 0xFF)).append(char(ip & 0xFF));
    } else {
        // SOCKS 4a: an address 0.0.0.x with x != 0 says the host name
        // follows the user id, and the proxy resolves it.
        const QByteArray name = m_targetHost.toUtf8();
        if (name.isEmpty() || name.contains('\0')) {
            failLater(QStringLiteral("Invalid target host name for the SOCKS proxy"));
            return;
        }
        request.append(char(0)).append(char(0)).append(char(0)).append(char(1));
        m_socks4aName = name;
    }
    request.append(user);
    request.append('\0');
    if (!m_socks4aName.isEmpty()) {
        request.append(m_socks4aName);
        request.append('\0');
    }
    m_step = Step::Socks4Reply;
    m_socket->write(request);
}

bool SocksConnector::readSocks4Reply()
{
    constexpr qsizetype ReplySize = 8;
    if (m_socket->bytesAvailable() < ReplySize)
        return false;
    const QByteArray reply = m_socket->read(ReplySize);
    if (quint8(reply.at(0)) != 0) {
        fail(QStringLiteral("The proxy did not answer as a SOCKS 4 proxy"));
        return false;
    }
    const auto code = quint8(reply.at(1));
    if (code != Socks4Granted) {
        fail(QStringLiteral("The SOCKS 4 proxy refused the request for %1: %2 (code %3)")
                 .arg(endpointText(m_targetHost, m_targetPort), socks4Reason(code))
                 .arg(code));
        return false;
    }
    const quint16 port = readPort(reply, 2);
    const quint32 ip = (quint32(quint8(reply.at(4))) << 24) | (quint32(quint8(reply.at(5))) << 16) |
                       (quint32(quint8(reply.at(6))) << 8) | quint32(quint8(reply.at(7)));
    return granted(QHostAddress(ip), port);
}

// --- SOCKS 5 ---

void SocksConnector::sendSocks5Greeting()
{
    const QByteArray user = m_proxy.user.toUtf8();
    const QByteArray password = m_proxy.password.toUtf8();
    if (user.size() > 255 || password.size() > 255) {
        failLater(QStringLiteral("The SOCKS 5 user name and password may hold at most 255 bytes each"));
        return;
    }
    QByteArray greeting;
    greeting.append(char(5));
    if (m_proxy.user.isEmpty()) {
        greeting.append(char(1)).append(char(MethodNone));
    } else {
        // With credentials both are offered: the proxy decides whether it
        // wants the login, as it would for any other client.
        greeting.append(char(2)).append(char(MethodNone)).append(char(MethodUserPassword));
    }
    m_step = Step::Socks5Method;
    m_socket->write(greeting);
}

bool SocksConnector::readSocks5Method()
{
    if (m_socket->bytesAvailable() < 2)
        return false;
    const QByteArray reply = m_socket->read(2);
    if (quint8(reply.at(0)) != 5) {
        fail(QStringLiteral("The proxy did not answer as a SOCKS 5 proxy"));
        return false;
    }
    const auto method = quint8(reply.at(1));
    if (method == MethodNoneAcceptable) {
        fail(m_proxy.user.isEmpty()
                 ? QStringLiteral("The SOCKS 5 proxy requires a login; set a proxy user name and password")
                 : QStringLiteral("The SOCKS 5 proxy does not accept user name and password authentication"));
        return false;
    }
    const bool offered = method == MethodNone || (method == MethodUserPassword && !m_proxy.user.isEmpty());
    if (!offered) {
        fail(QStringLiteral("The SOCKS 5 proxy chose an authentication method that was not offered (%1)").arg(method));
        return false;
    }
    if (method == MethodUserPassword) {
        // RFC 1929 sub-negotiation; lengths were checked before the greeting.
        const QByteArray user = m_proxy.user.toUtf8();
        const QByteArray password = m_proxy.password.toUtf8();
        QByteArray login;
        login.append(char(1));
        login.append(char(user.size())).append(user);
        login.append(char(password.size())).append(password);
        m_step = Step::Socks5Auth;
        m_socket->write(login);
        return true;
    }
    sendSocks5Request();
    return m_step != Step::Done;
}

bool SocksConnector::readSocks5Auth()
{
    if (m_socket->bytesAvailable() < 2)
        return false;
    const QByteArray reply = m_socket->read(2);
    // The sub-negotiation's version is 1; some proxies answer with 5.
    const auto version = quint8(reply.at(0));
    if (version != 1 && version != 5) {
        fail(QStringLiteral("The SOCKS 5 proxy answered the login in an unknown form"));
        return false;
    }
    if (reply.at(1) != 0) {
        fail(QStringLiteral("The SOCKS 5 proxy refused the proxy user name or password"));
        return false;
    }
    sendSocks5Request();
    return m_step != Step::Done;
}

void SocksConnector::sendSocks5Request()
{
    QByteArray request;
    request.append(char(5));
    request.append(char(m_command == Command::Connect ? CommandConnect : CommandBind));
    request.append(char(0));
    QHostAddress address;
    if (address.setAddress(m_targetHost) && address.protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 ip = address.toIPv4Address();
        request.append(char(AddressIPv4));
        request.append(char(ip >> 24)).append(char((ip >> 16) & 0xFF)).append(char((ip >> 8) & 0xFF)).append(char(ip & 0xFF));
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        const Q_IPV6ADDR ip = address.toIPv6Address();
        request.append(char(AddressIPv6));
        request.append(reinterpret_cast<const char *>(ip.c), 16);
    } else {
        const QByteArray name = m_targetHost.toUtf8();
        if (name.isEmpty() || name.size() > 255) {
            fail(QStringLiteral("Invalid target host name for the SOCKS proxy"));
            return;
        }
        request.append(char(AddressDomain));
        request.append(char(name.size())).append(name);
    }
    appendPort(request, m_targetPort);
    m_step = Step::Socks5Reply;
    m_socket->write(request);
}

bool SocksConnector::readSocks5Reply()
{
    // Only the reply's own bytes are taken: what the target sends right
    // after it stays in the socket for the owner.
    if (m_socket->bytesAvailable() < 5)
        return false;
    const QByteArray head = m_socket->peek(5);
    if (quint8(head.at(0)) != 5) {
        fail(QStringLiteral("The proxy did not answer as a SOCKS 5 proxy"));
        return false;
    }
    const auto code = quint8(head.at(1));
    if (code != 0) {
        m_socket->read(2);
        fail(QStringLiteral("The SOCKS 5 proxy could not %1 %2: %3 (code %4)")
                 .arg(m_command == Command::Connect ? QStringLiteral("connect to") : QStringLiteral("listen for"),
                      endpointText(m_targetHost, m_targetPort), socks5Reason(code))
                 .arg(code));
        return false;
    }
    qsizetype addressSize = 0;
    switch (quint8(head.at(3))) {
    case AddressIPv4:
        addressSize = 4;
        break;
    case AddressIPv6:
        addressSize = 16;
        break;
    case AddressDomain:
        addressSize = 1 + quint8(head.at(4));
        break;
    default:
        fail(QStringLiteral("The SOCKS 5 proxy answered with an unknown address type"));
        return false;
    }
    const qsizetype total = 4 + addressSize + 2;
    if (m_socket->bytesAvailable() < total)
        return false;
    const QByteArray reply = m_socket->read(total);
    QHostAddress address;
    switch (quint8(reply.at(3))) {
    case AddressIPv4: {
        const quint32 ip = (quint32(quint8(reply.at(4))) << 24) | (quint32(quint8(reply.at(5))) << 16) |
                           (quint32(quint8(reply.at(6))) << 8) | quint32(quint8(reply.at(7)));
        address = QHostAddress(ip);
        break;
    }
    case AddressIPv6:
        address = QHostAddress(reinterpret_cast<const quint8 *>(reply.constData() + 4));
        break;
    default:
        // A name: resolving it here would block; the proxy itself is the
        // usual answer, which granted() substitutes for a null address.
        address = QHostAddress();
        break;
    }
    return granted(address, readPort(reply, total - 2));
}

// --- common ---

bool SocksConnector::granted(const QHostAddress &address, quint16 port)
{
    if (m_command == Command::Connect) {
        succeed();
        return false;
    }
    if (m_step != Step::BindSecondReply) {
        // The first reply of a BIND: where the proxy listens. An unspecified
        // address means the proxy's own.
        QHostAddress listening = address;
        if (listening.isNull() || listening == QHostAddress::AnyIPv4 || listening == QHostAddress::AnyIPv6)
            listening = m_socket->peerAddress();
        m_bindStep = m_step;
        m_step = Step::BindSecondReply;
        const QPointer<SocksConnector> alive(this);
        Q_EMIT bound(listening, port);
        return alive && m_step == Step::BindSecondReply;
    }
    // The second reply: who connected. Only the expected peer may supply
    // the data.
    const bool known = !address.isNull() && address != QHostAddress::AnyIPv4 && address != QHostAddress::AnyIPv6;
    if (known && !m_expectedPeer.isNull() && !address.isEqual(m_expectedPeer, QHostAddress::TolerantConversion)) {
        fail(QStringLiteral("The data connection through the SOCKS proxy came from %1, not from the server %2")
                 .arg(address.toString(), m_expectedPeer.toString()));
        return false;
    }
    succeed();
    return false;
}

void SocksConnector::onReadyRead()
{
    // Each pass consumes one whole reply, so the loop is bounded by the
    // handshake's few steps.
    for (int pass = 0; pass < 8 && m_step != Step::Done && m_step != Step::Idle; ++pass) {
        bool more = false;
        switch (m_step) {
        case Step::Socks4Reply:
            more = readSocks4Reply();
            break;
        case Step::Socks5Method:
            more = readSocks5Method();
            break;
        case Step::Socks5Auth:
            more = readSocks5Auth();
            break;
        case Step::Socks5Reply:
            more = readSocks5Reply();
            break;
        case Step::BindSecondReply:
            more = m_bindStep == Step::Socks4Reply ? readSocks4Reply() : readSocks5Reply();
            break;
        case Step::Idle:
        case Step::Done:
            break;
        }
        if (!more)
            return;
    }
}

void SocksConnector::onClosed()
{
    if (m_step == Step::Done)
        return;
    fail(QStringLiteral("The SOCKS proxy closed the connection during the handshake"));
}

void SocksConnector::finish()
{
    m_step = Step::Done;
    if (m_socket)
        disconnect(m_socket, nullptr, this, nullptr);
}

void SocksConnector::succeed()
{
    if (m_step == Step::Done)
        return;
    finish();
    Q_EMIT ready();
}

void SocksConnector::fail(const QString &reason)
{
    if (m_step == Step::Done)
        return;
    finish();
    Q_EMIT failed(reason);
}

void SocksConnector::failLater(const QString &reason)
{
    if (m_step == Step::Done)
        return;
    finish();
    // The caller connects its slots after calling connectTo/bindFor; a
    // failure found at once still reaches them.
    QMetaObject::invokeMethod(
        this, [this, reason] { Q_EMIT failed(reason); }, Qt::QueuedConnection);
}
