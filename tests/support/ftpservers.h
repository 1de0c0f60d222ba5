#pragma once

#include "realservers.h"
#include "testcertificates.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

// vsftpd in the foreground on 127.0.0.1 (or ::1) serving an anonymous file area,
// read-only unless a writable area is asked for. Only anonymous logins are
// offered: a local-user login would need a system account (not something a
// test may create) or a virtual-user setup; PyftpdlibServer has named users.
//
// Started by root, vsftpd chroots anonymous sessions into rootPath() and
// serves them as the "ftp" user (or "nobody" when there is none), so the
// area is world-readable and not writable by that user. Started by anyone
// else, it runs entirely as that user (run_as_launching_user) without a
// chroot; the session starts in rootPath(). In both cases a file is named
// by its path relative to the root without a leading "/".
//
// Active mode works as well as passive: PORT/EPRT are allowed and vsftpd
// connects from an unprivileged port.
class VsftpdServer : public RealServer {
public:
    enum class Tls {
        None,     // plain FTP only
        Explicit, // AUTH TLS on the control connection, PROT P data connections
        Implicit, // TLS from the first byte of every connection (ftps://)
    };

    explicit VsftpdServer(QString program = QStringLiteral("/usr/sbin/vsftpd"));
    ~VsftpdServer() override;

    // The anonymous root, created with the object.
    QString rootPath() const { return filePath(QStringLiteral("root")); }
    // Writes a world-readable file under the root (folders created as needed).
    // Under the upload folder, files and folders belong to the anonymous
    // account, so a session may overwrite, rename and delete them.
    bool addFile(const QString &relativePath, const QByteArray &content);
    // Makes a folder (and those above it) the same way.
    bool addFolder(const QString &relativePath);

    // Lets anonymous sessions upload, make folders, delete and rename inside
    // the folder uploadFolder() (and nowhere else when started by root: the
    // chroot root itself stays unwritable, as vsftpd demands). Uploaded files
    // are world-readable, so they can be fetched again. Set before start().
    void setWritableArea(bool on);
    // The writable folder as a session names it, and where it is on disk.
    static QString uploadFolder() { return QStringLiteral("upload"); }
    QString uploadPath() const { return filePath(QStringLiteral("root/upload")); }

    // Serves FTPS with a certificate for 127.0.0.1, ::1 and localhost, signed by a
    // CA the server makes at start() (caFile() names it, for the client to
    // trust), unless setCertificate() chose another one. A TLS data connection
    // must resume the control connection's TLS session, as vsftpd ships.
    // Set before start().
    void setTls(Tls mode) { m_tls = mode; }
    Tls tls() const { return m_tls; }
    // Explicit TLS only: whether plain logins and plain data connections are
    // refused ("530 Anonymous sessions must use encryption."). Default off.
    void setTlsRequired(bool on) { m_tlsRequired = on; }
    // Serves this certificate and key (PEM files) instead of the generated
    // one, for instance a TestCertificates pair made to fail a check; caFile
    // may be empty. Set before start().
    void setCertificate(const QString &certificateFile, const QString &keyFile, const QString &caFile = {});
    // The CA certificate (PEM) a client trusts to accept the server's
    // certificate; empty without TLS until start() made it.
    QString caFile() const { return m_caFile; }

    // Listens on ::1 instead of 127.0.0.1 (passive ports too). Set before
    // start().
    void setIpv6(bool on) { m_ipv6 = on; }

    // "ftp://127.0.0.1:port/path" ("ftps://" with implicit TLS, "[::1]" over
    // IPv6); path is relative to the root, without a leading "/".
    QString url(const QString &path = {}) const;

    // A banner of several lines, sent as one multi-line 220 reply. Set
    // before start(); without it vsftpd sends its one-line banner.
    void setBannerLines(const QStringList &lines) { m_banner = lines; }

    // The passive data ports vsftpd may use, free when the server started.
    quint16 pasvMinPort() const { return m_pasvMin; }
    quint16 pasvMaxPort() const { return m_pasvMax; }

    // Starts the server and waits (bounded) until a client gets the whole
    // "220" greeting.
    bool start(int timeoutMs = 10000);
    // Why start() failed.
    QString errorString() const { return m_greetingError.isEmpty() ? RealServer::errorString() : m_greetingError; }

    // The server's log: every command and reply of every session, and one
    // line per transfer.
    QString logPath() const { return filePath(QStringLiteral("vsftpd.log")); }
    QByteArray log() const { return readFile(logPath()); }

protected:
    bool writeConfig(QString *error) override;
    QStringList arguments() const override;
    QHostAddress listenAddress() const override;

private:
    bool waitForGreeting(int timeoutMs);
    bool prepareCertificate(QString *error);
    QByteArray tlsConfig() const;

    QString m_greetingError;
    QStringList m_banner;
    quint16 m_pasvMin = 0;
    quint16 m_pasvMax = 0;
    bool m_writable = false;
    Tls m_tls = Tls::None;
    bool m_tlsRequired = false;
    bool m_ipv6 = false;
    QString m_certificate;
    QString m_key;
    QString m_caFile;
    bool m_ownCertificate = true;
    std::unique_ptr<TestCertificates> m_certificates;
};
