#include "pyftpdserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

constexpr int PasvPortCount = 16;

// The server program: reads its settings from the JSON file named by its
// first argument, logs every command and reply to a file, serves until
// terminated.
constexpr char Script[] = R"PY(
import json
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

with open(sys.argv[1], encoding="utf-8") as f:
    cfg = json.load(f)

logging.basicConfig(filename=cfg["log"], level=logging.DEBUG,
                    format="%(asctime)s %(message)s")

authorizer = DummyAuthorizer()
for user in cfg["users"]:
    authorizer.add_user(user["name"], user["password"], user["home"], perm=user["perm"])

class Handler(FTPHandler):
    pass

Handler.authorizer = authorizer
Handler.banner = "pyftpdlib test server ready."
Handler.passive_ports = range(cfg["pasv_min"], cfg["pasv_max"] + 1)
Handler.permit_foreign_addresses = False
Handler.permit_privileged_ports = False
# A refused login is answered at once, not after pyftpdlib's 3 s pause.
Handler.auth_failed_timeout = 0.01

server = FTPServer((cfg["address"], cfg["port"]), Handler)
server.max_cons = 64
server.serve_forever()
)PY";

// Runs a one-line Python program; true when it exits with 0 in time.
bool pythonSucceeds(const QString &python, const QString &code)
{
    QProcess process;
    process.start(python, {QStringLiteral("-c"), code});
    if (!process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished(2000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

PyftpdlibServer::PyftpdlibServer(QString python)
    : RealServer(std::move(python))
{
}

PyftpdlibServer::~PyftpdlibServer()
{
    stop();
}

bool PyftpdlibServer::isInstalled() const
{
    if (!m_installed)
        m_installed = RealServer::isInstalled() && pythonSucceeds(program(), QStringLiteral("import pyftpdlib"));
    return *m_installed;
}

QString PyftpdlibServer::missingMessage() const
{
    QString text = QStringLiteral("pyftpdlib for %1 is not installed (scripts/deps.sh test installs python3-pyftpdlib)")
                       .arg(program());
    return realServersRequired() ? text + QStringLiteral("; servers are required (SUITE_REQUIRE_SERVERS=1)")
                                 : text + QStringLiteral("; set SUITE_REQUIRE_SERVERS=1 to make this a failure");
}

QString PyftpdlibServer::homePath(const QString &user) const
{
    return filePath(QStringLiteral("home/") + user);
}

QString PyftpdlibServer::addUser(const QString &name, const QString &password, const QString &permissions)
{
    m_users.append({name, password, permissions});
    const QString home = homePath(name);
    QDir().mkpath(home);
    return home;
}

bool PyftpdlibServer::addFile(const QString &user, const QString &relativePath, const QByteArray &content)
{
    const QString path = QDir(homePath(user)).filePath(relativePath);
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

bool PyftpdlibServer::addFolder(const QString &user, const QString &relativePath)
{
    return QDir().mkpath(QDir(homePath(user)).filePath(relativePath));
}

QString PyftpdlibServer::url(const QString &path) const
{
    const QString host = m_ipv6 ? QStringLiteral("[::1]") : QStringLiteral("127.0.0.1");
    return QStringLiteral("ftp://%1:%2/%3").arg(host).arg(port()).arg(path);
}

QHostAddress PyftpdlibServer::listenAddress() const
{
    return m_ipv6 ? QHostAddress(QHostAddress::LocalHostIPv6) : QHostAddress(QHostAddress::LocalHost);
}

bool PyftpdlibServer::writeConfig(QString *error)
{
    m_pasvMin = freeLoopbackRange(PasvPortCount, listenAddress());
    if (m_pasvMin == 0) {
        *error = QStringLiteral("no free range of loopback ports for passive connections");
        return false;
    }
    m_pasvMax = static_cast<quint16>(m_pasvMin + PasvPortCount - 1);

    QJsonObject config;
    config[QStringLiteral("address")] = listenAddress().toString();
    config[QStringLiteral("port")] = port();
    config[QStringLiteral("pasv_min")] = m_pasvMin;
    config[QStringLiteral("pasv_max")] = m_pasvMax;
    config[QStringLiteral("log")] = logPath();
    QJsonArray users;
    for (const User &user : std::as_const(m_users)) {
        users.append(QJsonObject{{QStringLiteral("name"), user.name},
                                 {QStringLiteral("password"), user.password},
                                 {QStringLiteral("home"), homePath(user.name)},
                                 {QStringLiteral("perm"), user.permissions}});
    }
    config[QStringLiteral("users")] = users;
    return writeFile(filePath(QStringLiteral("pyftpd.json")), QJsonDocument(config).toJson(), error)
        && writeFile(filePath(QStringLiteral("pyftpd.py")), QByteArray(Script), error);
}

QStringList PyftpdlibServer::arguments() const
{
    // -u: unbuffered, so output() shows a traceback at once; -B: no bytecode
    // files next to the script.
    return {QStringLiteral("-u"), QStringLiteral("-B"), filePath(QStringLiteral("pyftpd.py")),
            filePath(QStringLiteral("pyftpd.json"))};
}
