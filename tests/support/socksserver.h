#pragma once

#include "realservers.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// dante (danted) in the foreground on 127.0.0.1 as a SOCKS 4 and SOCKS 5
// proxy without authentication, for loopback clients going to loopback
// targets. Its user/password method checks system accounts, which a test may
// not create, so logins are left to scripted fake proxies.
class DanteServer : public RealServer {
public:
    explicit DanteServer(QString program = QStringLiteral("/usr/sbin/danted"));

    QString logPath() const { return filePath(QStringLiteral("danted.log")); }
    // What the proxy logged: one line per client and per relayed session.
    QByteArray log() const { return readFile(logPath()); }

protected:
    bool writeConfig(QString *error) override;
    QStringList arguments() const override;
};
