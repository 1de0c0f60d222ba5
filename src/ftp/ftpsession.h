#pragma once

// One FTP control connection and the operations queued on it. Everything is
// asynchronous: each call queues an operation and returns it at once; the
// operation sends its commands one at a time, decides on the reply to each
// by its class, and finishes exactly once with a typed result. The session
// owns at most one data connection at a time.

#include "ftp/ftpreply.h"
#include "ftp/proxy.h"
#include "platform/socketchannel.h"

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

class QIODevice;
class SocketFactory;

// How the control connection is protected.
enum class FtpSecurity {
    Plain,       // no TLS
    ExplicitTls, // AUTH TLS, PBSZ 0, PROT P; data connections in TLS too
    ImplicitTls, // TLS from the first byte (ftps://, port 990)
};

enum class FtpTransferType { Binary, Ascii };

// Timer periods, injectable so tests never wait for a real time-out.
struct FtpTiming {
    std::chrono::milliseconds connect{30000}; // TCP connect + TLS handshake + greeting
    std::chrono::milliseconds reply{30000};   // a command waiting for its reply
    std::chrono::milliseconds dataIdle{30000}; // a data connection without progress
};

struct FtpConnectSettings {
    QString host;
    quint16 port = 21;
    QString user = QStringLiteral("anonymous");
    QString password;
    FtpSecurity security = FtpSecurity::Plain;
    bool passive = true;
    ProxySettings proxy;
    // Makes the sockets; a TLS factory (with the trust store) for FTPS.
    std::shared_ptr<const SocketFactory> sockets;
    FtpTiming timing;
    // Tessel's short conversation: no FEAT / OPTS UTF8 after the login, PASV
    // without trying EPSV first (an IPv6 server still gets EPSV), TYPE after
    // the data side is set up (PASV/PORT, then TYPE), and REST even at 0.
    bool readFeatures = true;
    bool extendedPassive = true;
    bool typeAfterDataSetup = false;
    bool restAtZero = false;
};

// What the server said it supports (FEAT, read once after the login).
struct FtpFeatures {
    bool mlsd = false; // MLSD / MLST
    bool size = false;
    bool mdtm = false;
    bool restStream = false;
    bool utf8 = false; // OPTS UTF8 ON was sent and accepted
    bool epsv = false;
};

// Why an operation did not succeed.
enum class FtpFailure {
    None,
    Refused,      // the server answered 4xx/5xx; code and text say what
    Connection,   // connect failed, or the control connection dropped / 421
    Protocol,     // a reply that makes no sense for the command (bad PASV, ...)
    Timeout,      // no reply, or a stalled data connection, within the time-out
    Tls,          // the TLS handshake failed; tls says why
    Aborted,      // abort() ended it
    Local,        // the local file could not be read or written
    NotConnected, // queued without a session
};

struct FtpResult {
    FtpFailure failure = FtpFailure::None;
    int code = 0;       // the deciding reply code, 0 when none
    QString text;       // the server's reply text, or our description
    bool ok() const { return failure == FtpFailure::None; }

    // Payloads, filled by the operations that produce them.
    QString path;              // PWD
    qint64 size = -1;          // SIZE; bytes moved by a transfer
    QDateTime modified;        // MDTM, UTC
    QByteArray listing;        // LIST / MLSD / NLST: the raw data bytes
    // Failure Tls: why the handshake failed and the certificate shown.
    std::optional<TlsFailure> tls;
    // Failure Connection on the data side: the socket's error number.
    int socketError = -1;
};

// One queued exchange. Owned by the session; deleted after finished().
class FtpOperation : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    const FtpResult &result() const { return m_result; }
    bool isFinished() const { return m_finished; }

Q_SIGNALS:
    // Bytes moved so far on the data connection and the size when known (-1).
    void progress(qint64 done, qint64 total);
    // Exactly once, the last thing the operation does.
    void finished(const FtpResult &result);

protected:
    FtpResult m_result;
    bool m_finished = false;
};

class FtpSession : public QObject {
    Q_OBJECT
public:
    enum class State { Disconnected, Connecting, LoggingIn, Idle, Busy, Closing };
    Q_ENUM(State)

    explicit FtpSession(QObject *parent = nullptr);
    ~FtpSession() override;

    State state() const;
    const FtpFeatures &features() const;
    // The control connection's peer (data connections go there, whatever a
    // PASV reply names).
    QHostAddress peerAddress() const;

    // Connects, reads the greeting, protects the connection as asked, logs in
    // (USER/PASS, ACCT on 332 via accountRequired, a rejected password via
    // passwordRejected), reads FEAT, sends OPTS UTF8 ON when offered.
    FtpOperation *connectToHost(const FtpConnectSettings &settings);
    // QUIT, then close. The session emits disconnected().
    FtpOperation *quit();

    FtpOperation *printWorkingDirectory();              // PWD -> result.path
    FtpOperation *changeDirectory(const QString &path); // CWD
    FtpOperation *changeToParent();                     // CDUP
    FtpOperation *makeDirectory(const QString &name);   // MKD
    FtpOperation *removeDirectory(const QString &name); // RMD
    FtpOperation *deleteFile(const QString &name);      // DELE
    FtpOperation *rename(const QString &from, const QString &to); // RNFR + RNTO
    FtpOperation *size(const QString &name);            // SIZE -> result.size
    FtpOperation *modificationTime(const QString &name); // MDTM -> result.modified
    FtpOperation *setType(FtpTransferType type);        // TYPE A / TYPE I (skipped when already so)

    enum class ListKind { List, Mlsd, Nlst };
    // The listing's bytes in result.listing. path may be empty.
    FtpOperation *list(ListKind kind, const QString &path = {});
    // RETR from offset (REST when > 0) into sink, written sequentially from
    // its current position. In ASCII type CR LF becomes LF.
    FtpOperation *retrieve(const QString &remote, qint64 offset, QIODevice *sink,
                           FtpTransferType type = FtpTransferType::Binary);
    // STOR (or APPE when append) of source from its current position; REST
    // offset when offset > 0 and !append. In ASCII type a bare LF goes out
    // as CR LF (CR LF is not doubled).
    FtpOperation *store(QIODevice *source, const QString &remote, qint64 offset, bool append,
                        FtpTransferType type = FtpTransferType::Binary);
    // Sends the line as it is (CR/LF inside refused); the reply in result.
    // A preliminary 1xx is followed to the final reply.
    FtpOperation *raw(const QString &line);

    // Ends the running operation: it finishes with FtpFailure::Aborted at
    // once; a transfer also gets ABOR and loses its data connection; queued
    // ones are dropped (each finishes Aborted). The session stays connected
    // when it can: the replies still owed (the running command's, ABOR's)
    // are read and dropped, within the reply time-out, before the next
    // operation sends anything. Called from logLine as a command is shown,
    // it keeps that command from being sent.
    void abort();
    // Drops the control connection at once (no QUIT).
    void close();

    // Answers to the session's requests (see signals).
    void provideAccount(const std::optional<QString> &account);   // nullopt: give up
    void providePassword(const std::optional<QString> &password); // nullopt: give up

Q_SIGNALS:
    void stateChanged(FtpSession::State state);
    // Every command sent ("PASS ****" for the password) and every reply line.
    void logLine(const QString &text);
    // 332: the owner answers with provideAccount().
    void accountRequired();
    // 530 after PASS: the owner answers with providePassword().
    void passwordRejected();
    // The control connection ended (QUIT, 421, drop, close()).
    void disconnected(const FtpResult &why);
    // The control connection reached the server (through the proxy when
    // there is one); the greeting (and, for implicit TLS, the handshake) is
    // still to come.
    void controlConnected();
    // Every complete reply as received, before the session acts on it.
    void replyReceived(const FtpReply &reply);

private:
    class Private;
    std::unique_ptr<Private> d;
};
