#include "ftpservers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <memory>
#include <vector>
#include <pwd.h>
#include <unistd.h>

namespace {

constexpr QFileDevice::Permissions WorldReadableDir = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                                      QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                      QFileDevice::ExeOther;
constexpr QFileDevice::Permissions WorldReadableFile =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;

constexpr int PasvPortCount = 16;

bool makeWorldReadableDir(const QString &path)
{
    return QDir().mkpath(path) && QFile::setPermissions(path, WorldReadableDir);
}

// The first port of `count` consecutive loopback ports that could all be
// bound a moment ago, 0 when a bounded number of tries found none.
quint16 freeLoopbackRange(int count)
{
    for (int attempt = 0; attempt < 64; ++attempt) {
        const auto base = static_cast<quint16>(QRandomGenerator::global()->bounded(20000, 60000));
        std::vector<std::unique_ptr<QTcpServer>> held;
        bool allFree = true;
        for (int i = 0; i < count && allFree; ++i) {
            auto server = std::make_unique<QTcpServer>();
            allFree = server->listen(QHostAddress::LocalHost, static_cast<quint16>(base + i));
            held.push_back(std::move(server));
        }
        if (allFree)
            return base;
    }
    return 0;
}

// The account vsftpd serves anonymous sessions as when started by root.
QByteArray anonymousAccount()
{
    return ::getpwnam("ftp") ? QByteArray("ftp") : QByteArray("nobody");
}

} // namespace

VsftpdServer::VsftpdServer(QString program)
    : RealServer(std::move(program))
{
    makeWorldReadableDir(rootPath());
    // vsftpd parks its unprivileged helpers here: empty and owned by the user
    // that starts it (root, when root runs the tests).
    makeWorldReadableDir(filePath(QStringLiteral("empty")));
}

bool VsftpdServer::addFile(const QString &relativePath, const QByteArray &content)
{
    const QString path = QDir(rootPath()).filePath(relativePath);
    QDir folder = QFileInfo(path).dir();
    // Every folder between the root and the file must be readable by the
    // anonymous account.
    QStringList created;
    while (!folder.exists() && folder.absolutePath().startsWith(rootPath())) {
        created.prepend(folder.absolutePath());
        if (!folder.cdUp())
            break;
    }
    for (const QString &dir : created) {
        if (!makeWorldReadableDir(dir))
            return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return false;
    file.close();
    return QFile::setPermissions(path, WorldReadableFile);
}

bool VsftpdServer::start(int timeoutMs)
{
    m_greetingError.clear();
    const QDeadlineTimer deadline(timeoutMs);
    if (!RealServer::start(timeoutMs))
        return false;
    if (waitForGreeting(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1000))))
        return true;
    stop();
    return false;
}

bool VsftpdServer::waitForGreeting(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port());
    if (!socket.waitForConnected(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)))) {
        m_greetingError = (QStringLiteral("vsftpd: no control connection: ") + socket.errorString());
        return false;
    }
    QByteArray greeting;
    while (!deadline.hasExpired()) {
        if (!socket.waitForReadyRead(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1))))
            break;
        greeting += socket.readAll();
        // The last line of the greeting is "220 ..." (a one-line banner is
        // that line alone).
        if (greeting.startsWith("220 ") || greeting.contains("\n220 ")) {
            if (greeting.endsWith('\n')) {
                socket.write("QUIT\r\n");
                socket.waitForBytesWritten(1000);
                socket.disconnectFromHost();
                return true;
            }
        }
        if (greeting.size() > 64 * 1024)
            break;
    }
    m_greetingError = (QStringLiteral("vsftpd sent no 220 greeting, only: ") + QString::fromLatin1(greeting) +
             QStringLiteral("\n") + QString::fromLocal8Bit(output()) + QString::fromLocal8Bit(log()));
    return false;
}

bool VsftpdServer::writeConfig(QString *error)
{
    m_pasvMin = freeLoopbackRange(PasvPortCount);
    if (m_pasvMin == 0) {
        *error = QStringLiteral("no free range of loopback ports for passive connections");
        return false;
    }
    m_pasvMax = static_cast<quint16>(m_pasvMin + PasvPortCount - 1);

    const bool asRoot = ::geteuid() == 0;
    QByteArray conf;
    conf += "listen=YES\n"
            "listen_ipv6=NO\n"
            "listen_address=127.0.0.1\n"
            "listen_port=" + QByteArray::number(port()) + "\n"
            "background=NO\n"
            "anonymous_enable=YES\n"
            "anon_root=" + rootPath().toUtf8() + "\n"
            "no_anon_password=NO\n"
            "anon_world_readable_only=YES\n"
            "local_enable=NO\n"
            "write_enable=NO\n"
            "pasv_enable=YES\n"
            "pasv_min_port=" + QByteArray::number(m_pasvMin) + "\n"
            "pasv_max_port=" + QByteArray::number(m_pasvMax) + "\n"
            "port_enable=YES\n"
            "connect_from_port_20=NO\n"
            "seccomp_sandbox=NO\n"
            // No new process or network namespaces: they need privileges a
            // container may not grant, and the tests talk only to loopback.
            "isolate=NO\n"
            "isolate_network=NO\n"
            "secure_chroot_dir=" + filePath(QStringLiteral("empty")).toUtf8() + "\n"
            "syslog_enable=NO\n"
            "xferlog_enable=YES\n"
            "xferlog_std_format=NO\n"
            "log_ftp_protocol=YES\n"
            "vsftpd_log_file=" + logPath().toUtf8() + "\n"
            "dirmessage_enable=NO\n"
            "delay_failed_login=0\n"
            "delay_successful_login=0\n"
            "idle_session_timeout=120\n"
            "data_connection_timeout=120\n";
    if (asRoot)
        conf += "ftp_username=" + anonymousAccount() + "\n";
    else
        conf += "run_as_launching_user=YES\n";
    if (!m_banner.isEmpty()) {
        const QString bannerPath = filePath(QStringLiteral("banner.txt"));
        if (!writeFile(bannerPath, m_banner.join(QLatin1Char('\n')).toUtf8() + '\n', error))
            return false;
        conf += "banner_file=" + bannerPath.toUtf8() + "\n";
    }
    // vsftpd refuses a configuration file that is not owned by the user that
    // runs it; files written here belong to that user.
    return writeFile(filePath(QStringLiteral("vsftpd.conf")), conf, error);
}

QStringList VsftpdServer::arguments() const
{
    return {filePath(QStringLiteral("vsftpd.conf"))};
}
