#pragma once

#include "download/ftpprotocol.h"
#include "download/transferprotocol.h"

#include <QFile>

class SocketChannel;

// The FTP side of a download: one control connection logged in per
// transfer, one data connection (passive to the control server, or active
// on a listening port announced with PORT), and the file written from the
// REST offset on. Every reply runs through StartLoginFTP; this class carries
// out its step with sockets and the file and reports to the host.
//
// Exchanges: the login (control connected, replies up to "150") and the
// transfer (data bytes, "226" and the data connection's close, judged
// together by ftpTransferEnd). A transfer the server broke off ("426", or a
// "226" short of the size) logs in again with REST while the host's retry
// budget lasts.
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
        Login,     // control connection up to the "150"
        Transfer,  // data arriving; waiting for "226" and the data close
        Suspended, // paused or stopped; resume() logs in again
        Ended,     // the host was told complete or fail, or shut down
    };

    void connectControl();
    void forgetTransfer();
    void closeConnections();

    void onControlConnected();
    void onControlData();
    void onControlClosed();
    void onControlError(const QString &description);
    void onDataRequest(qintptr request);
    void onDataArrived();
    void onDataClosed();
    void onDataError(int number, const QString &description);

    FtpLoginContext loginContext() const;
    // Carries out one step; false when the login ended or starts over.
    bool apply(const FtpLoginStep &step, const FtpReply &reply);
    bool openActiveDataSide(quint16 preferred, bool sendPort);
    // A reply the state machine calls an error: ends the download, or waits
    // for the countdown (true: the login goes on reading replies).
    bool failed(const FtpLoginStep &step, const FtpReply &reply);
    bool beginTransfer(qint64 size);
    void write(const QByteArray &bytes);
    void checkEnd();
    // The server ended the transfer early: log in again at the write position.
    void retryTransfer(const FtpReply &reply, const TransferStatus &status);
    bool openFile();
    void finishComplete();
    void fail(FailureKind kind, int code, const QByteArray &serverText, const TransferStatus &status);

    SocketChannel *m_control = nullptr;
    SocketChannel *m_data = nullptr;
    FtpReplyReader m_replies;
    FtpLoginState m_ftp;
    QFile m_file;
    Phase m_phase = Phase::Idle;
    quint64 m_login = 0;      // advanced by every new login; stale replies stop
    qint64 m_size = -1;       // -1 while unknown
    bool m_resumable = true;  // no "504" to REST
    bool m_planned = false;
    bool m_countdown = false; // the host's time-out countdown runs for this login
    bool m_dataClosed = false;
    bool m_confirmed = false; // "226"
    QByteArray m_early;       // data bytes that came before the "150"
};
