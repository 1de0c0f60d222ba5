#pragma once

// The decisions of an FTP download that depend only on what the server
// answered (the replies themselves are read by ftp/ftpreply.h): the login and
// transfer state machine, the passive and active data-side addresses and the
// size of the file. The download job carries them out (sockets, timers, the
// file, the display).

#include "download/transferjob.h"
#include "ftp/ftpreply.h"
#include "platform/captionlookup.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// Active-mode data ports: 3072 + r with r in 6..139, i.e. 3078 to 3211.
inline constexpr quint16 FtpFirstActivePort = 3078;
inline constexpr quint16 FtpLastActivePort = 3211;

struct FtpActivePort {
    quint16 sngDataPort = 0; // the port to listen on
    QByteArray suffix;       // ",12,<r>": the port as the last two PORT numbers
    bool operator==(const FtpActivePort &) const = default;
};

// Picks the active-mode port from `random`, which answers a number in [0, 1).
FtpActivePort FindPort(const std::function<double()> &random);
// The same from the program's random generator.
FtpActivePort FindPort();

// The ports to try binding in order: `first`, then the other ports of
// 3078..3211 upwards from it (wrapping round), and last 0 (any free port).
QList<quint16> activePortCandidates(quint16 first);

// "PORT h1,h2,h3,h4,p1,p2" CR LF for the local IPv4 address (an IPv4-mapped
// IPv6 address counts as IPv4) and any port; nothing for other addresses.
std::optional<QByteArray> portCommand(const QHostAddress &local, quint16 port);

// What an active data side sends once it listens: the PORT for the port
// actually bound, then "TYPE I". Empty when the address has no PORT form.
QByteArrayList activeModeCommands(const QHostAddress &local, quint16 boundPort);

// The protocol state of one FTP download, kept by the job between replies.
struct FtpLoginState {
    int intFTPState = 0;      // the last reply code acted on, 0 before a login
    bool blnPasvDone = false; // a passive connection was made on this login
    bool blnPortSent = false; // PORT went out on this login
    bool blnResumeSet = false;
    qint64 lngSegStart = 0;   // the REST offset
    qint64 lngSegPos = 1;     // 1-based write position of the next data byte
    quint16 sngDataPort = 0;  // the data port in use (active: bound; passive: from the reply)
    qint64 announcedSize = -1; // from a "213" reply, -1 when not known
    bool operator==(const FtpLoginState &) const = default;
};

// The state at StartDownload: a fresh file starts at 0; resuming an
// existing file of `existingLength` bytes starts Rollback bytes before its
// end (never before 0) with blnResumeSet.
FtpLoginState ftpStartState(qint64 existingLength, bool resume, qint64 rollback);
// Pausing forgets the login (state, PORT, PASV), keeps the positions.
FtpLoginState ftpPausedState(const FtpLoginState &state);
// Resuming moves back by Rollback from the write position (never before 0)
// and logs in again with blnResumeSet.
FtpLoginState ftpResumedState(const FtpLoginState &state, qint64 rollback);

// What the reply state machine needs besides the state.
struct FtpLoginContext {
    QString strUserName;
    QString strPassword;
    QString strFilePath;
    bool UsePASV = false;
    bool StopResume = false;
    qint64 Rollback = 0;
    // Also ask the size with SIZE (sent just before REST, so a refusal of it
    // arrives before RETR is sent). Off: the commands are exactly USER, PASS,
    // PORT/PASV, TYPE I, REST, RETR.
    bool askSize = false;
    // An interrupted transfer ("426") may be resumed: the job's retry budget.
    bool retryAllowed = true;
};

// What to do after one reply. Fields left at their defaults mean "leave as
// it is".
struct FtpLoginStep {
    FtpLoginState next; // the state after the reply

    QByteArrayList commands; // send in this order; each ends with CR LF

    enum class DataSide {
        None,
        // Active mode: listen on `listenPort`, or when it is 0 on the first
        // of activePortCandidates(FindPort().sngDataPort) that binds; then,
        // when sendPortCommand is set, send activeModeCommands(local address
        // of the control connection, bound port) and store the bound port in
        // sngDataPort. An open data connection is closed first.
        Listen,
        // Passive mode: connect to the control connection's server on
        // passive.port (passive.host is what the reply named; log it when it
        // differs from the server). `commands` already holds "TYPE I".
        ConnectPassive,
    };
    DataSide dataSide = DataSide::None;
    quint16 listenPort = 0;
    bool sendPortCommand = false;
    FtpPassiveTarget passive;
    bool closeControl = false;

    // Texts for the status label, row sub-item 5, the resume label and a
    // plain message box, by caption identifier and English default: the
    // owner looks them up (transferStatusText with its caption lookup).
    std::optional<TransferStatus> status;
    std::optional<TransferStatus> rowStatus;
    std::optional<TransferStatus> resumeLabel;
    std::optional<TransferStatus> messageBox;
    bool beep = false;
    bool showUrl = false; // the URL box shows strURL

    std::optional<bool> pauseEnabled;
    std::optional<bool> stopEnabled;
    bool stopShowsClose = false;

    enum class Timeout {
        Keep,
        // intTimeLeft = Timeout; a running countdown goes on from there, a
        // stopped one stays stopped (a retried login gets a full period).
        Rearm,
        Start, // intTimeLeft = Timeout and start the countdown
        Stop,  // stop the countdown and hide it
    };
    Timeout timeout = Timeout::Keep;

    enum class Stall {
        Keep,
        StartTimeResume,   // start the stall detector, interval TimeResume seconds
        StartTimeNoResume, // start it with interval TimeNoResume seconds
    };
    Stall stall = Stall::Keep;

    // The data phase begins: open the file at next.lngSegPos, show the size
    // (row sub-item 3 and the size label; FormatSize, or unknown), start the
    // display and rate timers.
    bool beginTransfer = false;
    qint64 transferSize = -1; // -1: unknown, completion waits for ftpTransferEnd

    // "226": the server confirmed the end of the transfer; judge it with
    // ftpTransferEnd once the data connection has closed.
    bool transferConfirmed = false;

    enum class Outcome {
        Continue,
        // The reply reports an error; the texts say which. A missing file
        // ("550" after RETR) and a refused login ("530") end the download; the
        // others wait (a running countdown may still restart it).
        Failed,
        // The transfer broke off ("426"): count a retry, then pause and resume
        // (a new login that continues with REST).
        Resume,
    };
    Outcome outcome = Outcome::Continue;

    bool operator==(const FtpLoginStep &) const = default;
};

// Runs the reply state machine on one complete reply.
FtpLoginStep StartLoginFTP(const FtpReply &reply, const FtpLoginState &state, const FtpLoginContext &context);

// Whether an FTP transfer has ended, from what is known about it.
struct FtpTransferProgress {
    qint64 contentSize = -1; // -1: unknown
    qint64 received = 0;     // bytes of the file present (TotalReceived)
    bool dataClosed = false; // the data connection has closed and been read out
    bool confirmed = false;  // "226" arrived
};
enum class FtpTransferEnd {
    Wait,     // not yet decided
    Complete, // the file is complete
    Resume,   // the server ended the transfer short: pause and resume
};
FtpTransferEnd ftpTransferEnd(const FtpTransferProgress &progress);
