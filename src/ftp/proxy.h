#pragma once

// Proxies that carry the FTP connections: SOCKS 4 and SOCKS 5 (with or
// without user name and password), our own client on a connected socket.

#include <QAbstractSocket>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

struct ProxySettings {
    enum class Type { None, Socks4, Socks5 };
    Type type = Type::None;
    QString host;
    quint16 port = 1080;
    QString user;     // SOCKS 5 user name/password authentication when not empty;
    QString password; // SOCKS 4: user is sent as the user id
    bool operator==(const ProxySettings &) const = default;
};

// Runs the proxy's handshake on a socket already connected to the proxy:
// CONNECT to target (or BIND, see below). ready() when the tunnel carries the
// target's bytes, failed() with a reason that never holds the credentials.
// Exactly one of ready() / failed() is emitted, as the connector's last act;
// a failure found at once (no proxy type, an IPv6 target for SOCKS 4) is
// emitted from the event loop, after the call returned. The connector reads
// only the proxy's replies: bytes the target sent right behind them stay in
// the socket, so the owner reads what is already available after ready().
class SocksConnector : public QObject {
    Q_OBJECT
public:
    SocksConnector(QAbstractSocket *socket, ProxySettings proxy, QObject *parent = nullptr);

    void connectTo(const QString &host, quint16 port);
    // BIND: the proxy listens for the target's connection; bound() gives the
    // address the target must connect to, ready() fires when it did.
    void bindFor(const QHostAddress &expectedPeer, quint16 port);

Q_SIGNALS:
    void bound(const QHostAddress &address, quint16 port);
    void ready();
    void failed(const QString &reason);

private:
    enum class Command { Connect, Bind };
    enum class Step { Idle, Socks4Reply, Socks5Method, Socks5Auth, Socks5Reply, BindSecondReply, Done };

    void begin(Command command, const QString &host, quint16 port, const QHostAddress &expectedPeer);
    void sendSocks4Request();
    void sendSocks5Greeting();
    void sendSocks5Request();
    // Each reader takes one whole reply when it is there; true when the
    // handshake goes on and more replies may already be waiting.
    bool readSocks4Reply();
    bool readSocks5Method();
    bool readSocks5Auth();
    bool readSocks5Reply();
    bool granted(const QHostAddress &address, quint16 port);
    void onReadyRead();
    void onClosed();
    void finish();
    void succeed();
    void fail(const QString &reason);
    void failLater(const QString &reason);

    QPointer<QAbstractSocket> m_socket;
    ProxySettings m_proxy;
    Command m_command = Command::Connect;
    Step m_step = Step::Idle;
    Step m_bindStep = Step::Idle; // the reply step of the BIND's first reply
    QString m_targetHost;
    quint16 m_targetPort = 0;
    QHostAddress m_expectedPeer;
    QByteArray m_socks4aName;
};
