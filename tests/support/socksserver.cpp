#include "socksserver.h"

#include <unistd.h>

DanteServer::DanteServer(QString program)
    : RealServer(std::move(program))
{
}

bool DanteServer::writeConfig(QString *error)
{
    QByteArray conf;
    conf += "logoutput: " + logPath().toUtf8() + "\n"
            "internal: 127.0.0.1 port = " + QByteArray::number(port()) + "\n"
            "external: 127.0.0.1\n"
            "clientmethod: none\n"
            "socksmethod: none\n";
    // Started by root, dante insists on accounts to switch to; anyone else
    // runs it as themselves.
    if (::geteuid() == 0) {
        conf += "user.privileged: root\n"
                "user.unprivileged: nobody\n";
    }
    // Loopback only, both ways: no test reaches past this machine through it.
    conf += "client pass {\n"
            "  from: 127.0.0.0/8 to: 0.0.0.0/0\n"
            "  log: error\n"
            "}\n"
            "socks pass {\n"
            "  from: 127.0.0.0/8 to: 127.0.0.0/8\n"
            "  command: connect bind bindreply\n"
            "  protocol: tcp\n"
            "  log: connect disconnect error\n"
            "}\n"
            "socks block {\n"
            "  from: 0.0.0.0/0 to: 0.0.0.0/0\n"
            "  log: connect error\n"
            "}\n";
    return writeFile(filePath(QStringLiteral("danted.conf")), conf, error);
}

QStringList DanteServer::arguments() const
{
    // One process, in the foreground (dante detaches only with -D), its pid
    // file beside the config rather than the system-wide one other runs share.
    return {QStringLiteral("-f"), filePath(QStringLiteral("danted.conf")), QStringLiteral("-N"), QStringLiteral("1"),
            QStringLiteral("-p"), filePath(QStringLiteral("danted.pid"))};
}
