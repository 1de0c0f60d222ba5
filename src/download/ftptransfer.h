#pragma once

#include "download/transferprotocol.h"
#include "ftp/ftpsession.h"

#include <QFile>

class QIODevice;

// The FTP side of a download, as a client of the FTP session: one login per
// attempt (USER, PASS), then the data side (PASV or PORT), TYPE I, REST at
// the write position and RETR, with the file written from the REST offset
// on. Replies are shown and logged as they arrive; the session decides on
// each by the command that waits for it.
//
// A transfer the server broke off ("426", a "226" short of the size, a
// dropped connection) logs in again with REST while the host's retry budget
// lasts. ftps:// runs the same conversation over implicit TLS.
class FtpTransfer final : public TransferProtocol {
    Q_OBJECT

public:
    FtpTransfer(TransferHost &host, UrlFields url, QObject *parent = nullptr);
    ~FtpTransfer() override;

    void start() override;
    void suspend(bool keepPlan) override;
    void resume() override;
    void shutdown() override;

    qint64 received() const override;
    QList<SegmentProgress> segments() const override;
    bool planned() const override { return m_planned; }

private:
    enum class Phase {
        Idle,      // not started
        Login,     // connecting, logging in, up to the "150"
        Transfer,  // data arriving; the retrieve has not finished
        Suspended, // paused or stopped; resume() logs in again
        Ended,     // the host was told complete or fail, or shut down
    };

    void login();
    void dropSession();
    void onReply(const FtpReply &reply);
    void onLogLine(const QString &line);
    void onLoggedIn(const FtpResult &result);
    void onRetrieved(const FtpResult &result);
    // A refusal or a lost connection: ends the download, or leaves it to the
    // host's countdown while that runs.
    void onFailure(const FtpResult &result);
    void onTlsFailure(const TlsFailure &failure);
    void failTls(const TlsFailure &failure);
    bool beginTransfer(qint64 size);
    bool openFile();
    // What the session delivers; bytes before the "150" wait for it.
    void take(const QByteArray &bytes);
    void write(const QByteArray &bytes);
    // Runs `action` from the event loop unless this login ended meanwhile
    // (the session must not be closed under its own call stack).
    void later(std::function<void()> action);
    void retryTransfer(int code, const TransferStatus &status);
    void finishComplete();
    void fail(FailureKind kind, int code, const QByteArray &serverText, const TransferStatus &status);

    FtpSession *m_session = nullptr;
    QIODevice *m_sink = nullptr;
    QFile m_file;
    Phase m_phase = Phase::Idle;
    quint64 m_login = 0;        // advanced by every new login; stale events stop
    qint64 m_segStart = 0;      // the REST offset
    qint64 m_segPos = 1;        // 1-based write position of the next data byte
    bool m_resumeSet = false;   // the next REST moves back by Rollback
    qint64 m_size = -1;         // -1 while unknown
    bool m_resumable = true;    // REST was not refused
    bool m_planned = false;
    bool m_countdown = false;   // the host's time-out countdown runs for this login
    bool m_writeStopped = false; // a write failed: nothing more counts on this login
    bool m_trustAsked = false;
    QByteArray m_lastReply;     // the last reply as received
    QByteArray m_lastVerb;      // the verb of the last command sent
    QByteArray m_early;         // data bytes that came before the "150"
};
