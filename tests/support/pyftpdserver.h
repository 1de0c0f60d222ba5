#pragma once

#include "realservers.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// pyftpdlib (Debian's python3-pyftpdlib, run by /usr/bin/python3) on loopback:
// the FTP server with named users and passwords, MLSD/MLST and UTF-8 names.
// Each user has a home folder
// of its own in the server's temporary directory; a session starts there
// and sees it as "/". One process serves every session, so its log holds
// every command ("<- RETR name", the password as asterisks) and reply
// ("-> 226 ...") in the order they happened.
//
//     PyftpdlibServer ftp;
//     ftp.addUser("alice", "secret");
//     ftp.addFile("alice", "pub/a.bin", bytes);
//     SUITE_START_SERVER(ftp);
//     ... ftp.url("pub/a.bin") is "ftp://127.0.0.1:PORT/pub/a.bin"
class PyftpdlibServer : public RealServer {
public:
    // Every permission pyftpdlib knows: change folder, list, read, append,
    // delete, rename, make folder, write, change mode, change time.
    static constexpr auto AllPermissions = "elradfmwMT";

    explicit PyftpdlibServer(QString python = QStringLiteral("/usr/bin/python3"));
    ~PyftpdlibServer() override;

    // The interpreter exists and imports pyftpdlib (hides RealServer's, so
    // SUITE_START_SERVER skips when the module is missing).
    bool isInstalled() const;
    QString missingMessage() const;
    // A user with a password and permissions in pyftpdlib's letters; makes
    // the home folder and returns its path. Set before start().
    QString addUser(const QString &name, const QString &password, const QString &permissions = QString::fromLatin1(AllPermissions));
    QString homePath(const QString &user) const;
    // Writes a file under a user's home (folders created as needed).
    bool addFile(const QString &user, const QString &relativePath, const QByteArray &content);
    // Makes a folder (and those above it) under a user's home.
    bool addFolder(const QString &user, const QString &relativePath);

    // Listens on ::1 instead of 127.0.0.1 (passive ports too). Set before
    // start().
    void setIpv6(bool on) { m_ipv6 = on; }

    // "ftp://127.0.0.1:port/path" ("ftp://[::1]:port/path" over IPv6); path is
    // relative to the home folder, without a leading "/".
    QString url(const QString &path = {}) const;

    QString logPath() const { return filePath(QStringLiteral("pyftpd.log")); }
    QByteArray log() const { return readFile(logPath()); }

protected:
    bool writeConfig(QString *error) override;
    QStringList arguments() const override;
    QHostAddress listenAddress() const override;

private:
    struct User {
        QString name;
        QString password;
        QString permissions;
    };

    QList<User> m_users;
    bool m_ipv6 = false;
    quint16 m_pasvMin = 0;
    quint16 m_pasvMax = 0;
    mutable std::optional<bool> m_installed;
};
