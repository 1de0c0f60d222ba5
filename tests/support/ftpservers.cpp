#include "ftpservers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>
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

// The account vsftpd serves anonymous sessions as when started by root.
QByteArray anonymousAccount()
{
    return ::getpwnam("ftp") ? QByteArray("ftp") : QByteArray("nobody");
}

// Hands a file or folder to the anonymous account when vsftpd runs as root;
// started by anyone else, vsftpd serves as that user, who owns it already.
bool giveToAnonymous(const QString &path)
{
    if (::geteuid() != 0)
        return true;
    const struct passwd *account = ::getpwnam(anonymousAccount().constData());
    return account && ::chown(QFile::encodeName(path).constData(), account->pw_uid, account->pw_gid) == 0;
}

bool isUnder(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
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

VsftpdServer::~VsftpdServer()
{
    // The server goes before the certificate files it reads.
    stop();
}

void VsftpdServer::setWritableArea(bool on)
{
    m_writable = on;
    if (on && !QFileInfo::exists(uploadPath())) {
        makeWorldReadableDir(uploadPath());
        giveToAnonymous(uploadPath());
    }
}

void VsftpdServer::setCertificate(const QString &certificateFile, const QString &keyFile, const QString &caFile)
{
    m_certificate = certificateFile;
    m_key = keyFile;
    m_caFile = caFile;
    m_ownCertificate = false;
}

QString VsftpdServer::url(const QString &path) const
{
    const QString scheme = m_tls == Tls::Implicit ? QStringLiteral("ftps") : QStringLiteral("ftp");
    const QString host = m_ipv6 ? QStringLiteral("[::1]") : QStringLiteral("127.0.0.1");
    return QStringLiteral("%1://%2:%3/%4").arg(scheme, host).arg(port()).arg(path);
}

QHostAddress VsftpdServer::listenAddress() const
{
    return m_ipv6 ? QHostAddress(QHostAddress::LocalHostIPv6) : QHostAddress(QHostAddress::LocalHost);
}

bool VsftpdServer::addFolder(const QString &relativePath)
{
    QDir folder(QDir(rootPath()).filePath(relativePath));
    // Every folder between the root and this one must be readable by the
    // anonymous account; those in the writable area belong to it.
    QStringList created;
    while (!folder.exists() && isUnder(folder.absolutePath(), rootPath())) {
        created.prepend(folder.absolutePath());
        if (!folder.cdUp())
            break;
    }
    for (const QString &dir : std::as_const(created)) {
        if (!makeWorldReadableDir(dir) || (m_writable && isUnder(dir, uploadPath()) && !giveToAnonymous(dir)))
            return false;
    }
    return true;
}

bool VsftpdServer::addFile(const QString &relativePath, const QByteArray &content)
{
    const QString path = QDir::cleanPath(QDir(rootPath()).filePath(relativePath));
    if (!addFolder(QFileInfo(relativePath).path()))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return false;
    file.close();
    return QFile::setPermissions(path, WorldReadableFile) &&
           (!m_writable || !isUnder(path, uploadPath()) || giveToAnonymous(path));
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
    QSslSocket socket;
    if (m_tls == Tls::Implicit) {
        // Only a certificate this object made is known to pass the checks;
        // with another one the listening port has to do.
        if (!m_ownCertificate)
            return true;
        QSslConfiguration tls = socket.sslConfiguration();
        tls.setCaCertificates(QSslCertificate::fromPath(m_caFile));
        socket.setSslConfiguration(tls);
        socket.connectToHostEncrypted(listenAddress().toString(), port());
        if (!socket.waitForEncrypted(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)))) {
            m_greetingError = QStringLiteral("vsftpd: no TLS control connection: ") + socket.errorString() +
                              QStringLiteral("\n") + QString::fromLocal8Bit(output());
            return false;
        }
    } else {
        socket.connectToHost(listenAddress(), port());
        if (!socket.waitForConnected(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)))) {
            m_greetingError = (QStringLiteral("vsftpd: no control connection: ") + socket.errorString());
            return false;
        }
    }
    QByteArray greeting;
    // Over TLS the greeting may have arrived with the end of the handshake:
    // read what is there before waiting for more.
    while (!deadline.hasExpired()) {
        if (socket.bytesAvailable() == 0 &&
            !socket.waitForReadyRead(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1))))
            break;
        greeting += socket.readAll();
        // The last line of the greeting is "220 ..." (a one-line banner is
        // that line alone).
        if (greeting.startsWith("220 ") || greeting.contains("\n220 ")) {
            if (greeting.endsWith('\n')) {
                socket.write("QUIT\r\n");
                socket.waitForBytesWritten(1000);
                socket.disconnectFromHost();
                if (socket.state() != QAbstractSocket::UnconnectedState)
                    socket.waitForDisconnected(1000);
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

bool VsftpdServer::prepareCertificate(QString *error)
{
    if (m_tls == Tls::None || !m_ownCertificate)
        return true;
    if (!m_certificates) {
        auto certificates = std::make_unique<TestCertificates>();
        if (!certificates->generate()) {
            *error = QStringLiteral("no test certificate for vsftpd: ") + certificates->errorString();
            return false;
        }
        m_certificates = std::move(certificates);
    }
    m_certificate = m_certificates->good().certificate;
    m_key = m_certificates->good().key;
    m_caFile = m_certificates->caFile();
    return true;
}

QByteArray VsftpdServer::tlsConfig() const
{
    if (m_tls == Tls::None)
        return "ssl_enable=NO\n";
    const QByteArray yesNo[] = {"NO", "YES"};
    // Implicit TLS encrypts everything anyway; "required" only matters
    // where a session could stay plain.
    const bool required = m_tls == Tls::Implicit || m_tlsRequired;
    return "ssl_enable=YES\n"
           "implicit_ssl=" + yesNo[m_tls == Tls::Implicit] + "\n"
           "rsa_cert_file=" + m_certificate.toUtf8() + "\n"
           "rsa_private_key_file=" + m_key.toUtf8() + "\n"
           "allow_anon_ssl=YES\n"
           "force_anon_logins_ssl=" + yesNo[required] + "\n"
           "force_anon_data_ssl=" + yesNo[required] + "\n"
           "force_local_logins_ssl=NO\n"
           "force_local_data_ssl=NO\n"
           "require_ssl_reuse=YES\n"
           // vsftpd's own default is a single old cipher suite that an
           // elliptic-curve key and today's clients cannot use.
           "ssl_ciphers=HIGH\n"
           "ssl_request_cert=NO\n"
           "debug_ssl=YES\n";
}

bool VsftpdServer::writeConfig(QString *error)
{
    if (!prepareCertificate(error))
        return false;
    m_pasvMin = freeLoopbackRange(PasvPortCount, listenAddress());
    if (m_pasvMin == 0) {
        *error = QStringLiteral("no free range of loopback ports for passive connections");
        return false;
    }
    m_pasvMax = static_cast<quint16>(m_pasvMin + PasvPortCount - 1);

    const bool asRoot = ::geteuid() == 0;
    QByteArray conf;
    conf += QByteArray(m_ipv6 ? "listen=NO\nlisten_ipv6=YES\nlisten_address6=::1\n"
                              : "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n") +
            "listen_port=" + QByteArray::number(port()) + "\n"
            "background=NO\n"
            "anonymous_enable=YES\n"
            "anon_root=" + rootPath().toUtf8() + "\n"
            "no_anon_password=NO\n"
            "anon_world_readable_only=YES\n"
            "local_enable=NO\n"
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
    if (m_writable) {
        // Uploads land world-readable (umask 022) and keep the uploader as
        // owner (no chown), so a test can fetch what it sent.
        conf += "write_enable=YES\n"
                "anon_upload_enable=YES\n"
                "anon_mkdir_write_enable=YES\n"
                "anon_other_write_enable=YES\n"
                "anon_umask=022\n"
                "chown_uploads=NO\n";
    } else {
        conf += "write_enable=NO\n";
    }
    conf += tlsConfig();
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
