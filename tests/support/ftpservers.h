#pragma once

#include "realservers.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// vsftpd in the foreground on 127.0.0.1 serving an anonymous, read-only file
// area. Only anonymous logins are offered: a local-user login would need a
// system account (not something a test may create) or a virtual-user setup.
//
// Started by root, vsftpd chroots anonymous sessions into rootPath() and
// serves them as the "ftp" user (or "nobody" when there is none), so the
// area is world-readable and not writable by that user. Started by anyone
// else, it runs entirely as that user (run_as_launching_user) without a
// chroot; the session starts in rootPath(). In both cases a file is named
// by its path relative to the root without a leading "/".
class VsftpdServer : public RealServer {
public:
    explicit VsftpdServer(QString program = QStringLiteral("/usr/sbin/vsftpd"));

    // The anonymous root, created with the object.
    QString rootPath() const { return filePath(QStringLiteral("root")); }
    // Writes a world-readable file under the root (folders created as needed).
    bool addFile(const QString &relativePath, const QByteArray &content);

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

private:
    bool waitForGreeting(int timeoutMs);

    QString m_greetingError;
    QStringList m_banner;
    quint16 m_pasvMin = 0;
    quint16 m_pasvMax = 0;
};
