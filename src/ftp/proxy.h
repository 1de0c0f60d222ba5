#pragma once

// Proxies that carry the FTP connections: SOCKS 4 and SOCKS 5 (with or
// without user name and password), our own client on a connected socket.

#include <QAbstractSocket>
#include <QHostAddress>
#include <QObject>
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
};
