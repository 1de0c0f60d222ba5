#pragma once

#include "download/transferjob.h"

#include <QObject>

#include <functional>
#include <memory>

class ChannelGroup;

// What a protocol gets from the job that runs it. The job owns the timers
// (display, rate, time-out countdown, stall detector), the retry budget, the
// typed state and the outcome; a protocol owns its sockets, its file handle
// and its exchange state machines, and reports through this interface.
class TransferHost {
public:
    virtual ~TransferHost() = default;

    virtual const TransferSettings &settings() const = 0;
    virtual const TransferRequest &request() const = 0;
    // What this start does with an existing file: the request's choice, or
    // Resume when a download paused before its plan starts over.
    virtual ExistingFile existing() const { return request().existing; }
    virtual const LoginTable &logins() const = 0;
    virtual std::shared_ptr<ChannelGroup> channels() const = 0;
    virtual const TransferTiming &timing() const = 0;

    // The server answered something: the time-out countdown stops.
    virtual void replyArrived() = 0;
    // Starts the countdown again from the full Timeout (a new connection
    // that must be answered, such as an FTP login).
    virtual void armTimeout() = 0;
    virtual void setState(TransferState state) = 0; // Connecting, LoggingIn, Downloading
    virtual void setStatus(const TransferStatus &status) = 0;
    virtual void appendLog(const QByteArray &text) = 0;
    // The size is known (or -1: unknown) and whether the server can resume.
    virtual void sizeKnown(qint64 size, bool resumable) = 0;
    // The data phase begins: the display and rate timers start, and the
    // stall detector when the settings say so (noResume: its TimeNoResume
    // period).
    virtual void dataPhaseStarted(bool noResume = false) = 0;
    // Bytes were written; the job reads received() and segments() again.
    virtual void progressed() = 0;
    // Writes body bytes into the save file (see FileWriter).
    virtual int writeFile(QFile &file, qint64 offset, QByteArrayView bytes) { return writeFileAt(file, offset, bytes); }
    // The disk is full: the job pauses the transfer (suspend) with status
    // "No space left on device" and resumes it later to try again; a host
    // that cannot wait ends the download with that status. Nothing of the
    // protocol runs in the call after it.
    virtual void diskFull()
    {
        fail(FailureKind::FileError, 0, {}, TransferStatus::plain(QStringLiteral("No space left on device")));
    }
    // Asks the owner; `then` runs with the answer (never after the job ended).
    virtual void ask(TransferQuestion::Kind kind, bool afterPartialReply, int segments,
                     std::function<void(bool yes)> then) = 0;
    // Asks the owner whether to trust a certificate that did not verify;
    // a Yes is remembered for the host before `then` runs. False when
    // nobody can be asked (then nothing runs).
    virtual bool askTrust(const TlsFailure &failure, std::function<void(bool yes)> then)
    {
        Q_UNUSED(failure);
        Q_UNUSED(then);
        return false;
    }
    virtual void notice(const TransferNotice &notice) = 0;
    // The URL after a redirect, for currentUrl().
    virtual void urlChanged(const QString &url, const UrlFields &fields) = 0;
    // The whole download starts again from the probe with this URL (the
    // redirects from the fifth on).
    virtual void restartWith(const QString &url) = 0;
    // Redirects followed in the job's life so far, across restarts.
    virtual int redirects() const { return 0; }
    virtual void setRedirects(int count) { Q_UNUSED(count); }
    // Counts a retry against the budget; false when none is left.
    virtual bool takeRetry() = 0;
    // Ends the job. Each may be called once; nothing of the protocol runs
    // after it (the job closes the protocol).
    virtual void complete() = 0;
    virtual void fail(FailureKind kind, int code, const QByteArray &serverText, const TransferStatus &status) = 0;
};

// One protocol's side of a download. Created by the job for every start
// (and every restart) with the URL fields ParseURL gave.
class TransferProtocol : public QObject {
    Q_OBJECT

public:
    TransferProtocol(TransferHost &host, UrlFields url, QObject *parent = nullptr)
        : QObject(parent), m_host(host), m_url(std::move(url))
    {
    }
    ~TransferProtocol() override = default;

    // Connects and begins the first exchange (probe or login).
    virtual void start() = 0;
    // Closes every connection and keeps the positions (pause and stop);
    // `keepPlan` writes a segment plan beside the file for a later resume.
    virtual void suspend(bool keepPlan) = 0;
    // Continues after suspend(): every connection moves back by Rollback.
    virtual void resume() = 0;
    // Closes everything for good (completion, failure, cancel); files closed.
    virtual void shutdown() = 0;

    // Bytes of the file present, and each connection's range.
    virtual qint64 received() const = 0;
    virtual QList<SegmentProgress> segments() const = 0;
    // The data phase has been planned (pause and resume act on connections,
    // not on the probe).
    virtual bool planned() const = 0;
    // Connections the plan runs at once; 0 for one connection without a
    // plan of segments.
    virtual int connections() const { return 0; }
    // Called every few seconds while data flows: write what a later resume
    // needs (the segment plan), so a kill loses little.
    virtual void checkpoint() {}

    const UrlFields &url() const { return m_url; }

protected:
    TransferHost &m_host;
    UrlFields m_url;
};

// The two protocols (httptransfer.cpp, ftptransfer.cpp). The job makes one
// for every start and restart, by url.FTPMODE.
std::unique_ptr<TransferProtocol> createHttpTransfer(TransferHost &host, const UrlFields &url);
std::unique_ptr<TransferProtocol> createFtpTransfer(TransferHost &host, const UrlFields &url);
