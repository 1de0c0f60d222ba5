#include "download/transferjob.h"

#include "config/settingsrecord.h"
#include "download/segmentplan.h"
#include "download/transferprotocol.h"
#include "platform/socketchannel.h"
#include "platform/tlssocketfactory.h"
#include "platform/truststore.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cerrno>

// ---------------------------------------------------------------- settings

ExistingFile existingFileFromChoice(int intExistChoice)
{
    switch (intExistChoice) {
    case 0: return ExistingFile::Overwrite;
    case -1: return ExistingFile::Resume;
    default: return ExistingFile::Cancel;
    }
}

int existingFileChoice(ExistingFile choice)
{
    switch (choice) {
    case ExistingFile::Overwrite: return 0;
    case ExistingFile::Resume: return -1;
    case ExistingFile::Cancel: break;
    }
    return -2;
}

int writeFileAt(QFile &file, qint64 offset, QByteArrayView bytes)
{
    if (!file.isSequential() && !file.seek(offset))
        return file.error() == QFileDevice::ResourceError ? ENOSPC : EIO;
    errno = 0;
    if (file.write(bytes.data(), bytes.size()) == bytes.size())
        return 0;
    // QFile reports a full disk as a resource error.
    if (file.error() == QFileDevice::ResourceError)
        return ENOSPC;
    return errno != 0 ? errno : EIO;
}

TransferSettings TransferSettings::fromRecord(const SettingsRecord &record)
{
    TransferSettings s;
    s.timeout = record.Timeout;
    s.retry = record.Retry;
    s.retries = record.Retries;
    s.rollback = record.Rollback;
    s.stopResume = record.StopResume;
    s.timeResume = record.TimeResume;
    s.timeNoResume = record.TimeNoResume;
    s.segment = record.Segment == 1;
    s.segmentSize = record.SegmentSize;
    s.passive = record.UsePASV;
    s.proxy = HttpProxySettings::fromRecord(record);
    return s;
}

QString transferStatusText(const TransferStatus &status, const CaptionLookup &captions)
{
    const auto look = [&captions](const QString &id, const QString &defaultText) {
        return id.isEmpty() || !captions ? defaultText : captions(id, defaultText);
    };
    const QString body = status.captionId.isEmpty() && status.defaultText.isEmpty()
                             ? status.text
                             : look(status.captionId, status.defaultText);
    return look(status.prefixCaptionId, status.prefixDefault) + status.prefix + body + status.suffix;
}

// ---------------------------------------------------------------- job

struct TransferJob::Private final : TransferHost {
    TransferJob *q;
    TransferServices services;
    TransferSettings current;
    TransferRequest req;
    ExistingFile existingNow = ExistingFile::Resume; // applied at every (re)start
    UrlFields fields;
    QString urlText;
    std::shared_ptr<ChannelGroup> group;
    std::unique_ptr<TransferProtocol> protocol;
    quint64 protocolGeneration = 0;

    TransferState state = TransferState::Idle;
    TransferProgress prog;
    TransferOutcome result;
    TransferStatus lastStatus;
    QByteArray log;
    bool ended = false;
    bool progressPending = false;
    int redirectCount = 0;

    QTimer updateTimer;
    QTimer rateTimer;
    QTimer timeoutTimer;
    QTimer stallTimer;
    QTimer deadlineTimer; // the data deadline: one tick per stall-detector second
    int quietTicks = 0;
    qint64 deadlineTotal = -1;
    QElapsedTimer rateClock;
    qint64 lastTotal = 0;
    bool pausedByStall = false;
    bool pausedByDisk = false; // paused for a full disk: tried again at every disk tick
    QTimer diskTimer;
    qint64 stallTotal = -1;
    bool stallWatch = false;

    quint64 nextQuestion = 1;
    quint64 pendingQuestion = 0;
    std::function<void(bool)> pendingThen;
    TransferState stateBeforeAsk = TransferState::Idle;

    Private(TransferJob *job, TransferServices s) : q(job), services(std::move(s))
    {
        // Without a factory of its own the job can still reach https
        // servers: the TLS factory's sockets are plain until encrypted.
        if (!services.sockets)
            services.sockets = std::make_shared<const TlsSocketFactory>(services.trust);
        group = ChannelGroup::create(services.sockets);
        updateTimer.setInterval(services.timing.update);
        rateTimer.setInterval(services.timing.rate);
        timeoutTimer.setInterval(services.timing.timeout);
        QObject::connect(&updateTimer, &QTimer::timeout, q, [this] { onUpdateTick(); });
        QObject::connect(&rateTimer, &QTimer::timeout, q, [this] { onRateTick(); });
        QObject::connect(&timeoutTimer, &QTimer::timeout, q, [this] { onTimeoutTick(); });
        QObject::connect(&stallTimer, &QTimer::timeout, q, [this] { onStallTick(); });
        deadlineTimer.setInterval(services.timing.stallSecond);
        // A full disk is tried again every few seconds until space is free.
        diskTimer.setInterval(services.timing.stallSecond * 5);
        QObject::connect(&diskTimer, &QTimer::timeout, q, [this] {
            if (state == TransferState::Paused && pausedByDisk)
                resumeTransfer();
            else
                diskTimer.stop();
        });
        QObject::connect(&deadlineTimer, &QTimer::timeout, q, [this] { onDeadlineTick(); });
    }

    ~Private() override
    {
        stopTimers();
        if (protocol)
            protocol->shutdown();
    }

    // --- TransferHost
    const TransferSettings &settings() const override { return current; }
    const TransferRequest &request() const override { return req; }
    ExistingFile existing() const override { return existingNow; }
    const LoginTable &logins() const override
    {
        static const LoginTable none;
        return services.logins ? *services.logins : none;
    }
    std::shared_ptr<ChannelGroup> channels() const override { return group; }
    const TransferTiming &timing() const override { return services.timing; }

    void replyArrived() override
    {
        timeoutTimer.stop();
        if (prog.timeoutLeft != -1) {
            prog.timeoutLeft = -1;
            changed();
        }
    }

    void armTimeout() override
    {
        prog.timeoutLeft = current.timeout;
        timeoutTimer.start();
        changed();
    }

    void setState(TransferState s) override
    {
        if (ended)
            return;
        if (state == TransferState::Asking) {
            stateBeforeAsk = s; // shown once the question is answered
            return;
        }
        enterState(s);
    }

    void setStatus(const TransferStatus &s) override
    {
        if (ended || s == lastStatus)
            return;
        lastStatus = s;
        Q_EMIT q->statusChanged(lastStatus);
    }

    void appendLog(const QByteArray &text) override { log += text; }

    void sizeKnown(qint64 size, bool resumable) override
    {
        prog.size = size;
        prog.resumable = resumable;
        changed();
    }

    void dataPhaseStarted(bool noResume) override
    {
        refresh();
        lastTotal = prog.received;
        rateClock.start();
        updateTimer.start();
        rateTimer.start();
        stallWatch = current.stopResume;
        if (stallWatch) {
            const int seconds = std::max(1, noResume ? current.timeNoResume : current.timeResume);
            stallTimer.setInterval(services.timing.stallSecond * seconds);
            stallTotal = -1;
            stallTimer.start();
        }
        startDeadline();
        changed();
    }

    void progressed() override { changed(); }

    int writeFile(QFile &file, qint64 offset, QByteArrayView bytes) override
    {
        return services.writer ? services.writer(file, offset, bytes) : writeFileAt(file, offset, bytes);
    }

    void diskFull() override
    {
        if (ended)
            return;
        pauseTransfer();
        pausedByDisk = true;
        setStatus(TransferStatus::plain(QStringLiteral("No space left on device")));
        diskTimer.start();
    }

    void ask(TransferQuestion::Kind kind, bool afterPartialReply, int segments,
             std::function<void(bool yes)> then) override
    {
        if (ended)
            return;
        TransferQuestion question;
        question.kind = kind;
        question.afterPartialReply = afterPartialReply;
        question.segments = segments;
        post(std::move(question), std::move(then));
    }

    bool askTrust(const TlsFailure &failure, std::function<void(bool yes)> then) override
    {
        if (ended || !services.trust || failure.peer.isNull())
            return false;
        // The server answered with its certificate; no time-out restarts the
        // download while the person decides.
        replyArrived();
        TransferQuestion question;
        question.kind = TransferQuestion::Kind::TrustCertificate;
        question.host = failure.host;
        question.certificate = failure.peer;
        question.errors = failure.errors;
        post(std::move(question), [this, failure, then = std::move(then)](bool yes) {
            if (yes)
                services.trust->trust(failure.host, failure.peer.sha256);
            then(yes);
        });
        return true;
    }

    void post(TransferQuestion question, std::function<void(bool yes)> then)
    {
        question.id = nextQuestion++;
        pendingQuestion = question.id;
        pendingThen = std::move(then);
        if (state != TransferState::Asking) {
            stateBeforeAsk = state;
            enterState(TransferState::Asking);
        }
        Q_EMIT q->questionAsked(question);
    }

    void notice(const TransferNotice &n) override
    {
        if (!ended)
            Q_EMIT q->noticeRaised(n);
    }

    void urlChanged(const QString &url, const UrlFields &f) override
    {
        urlText = url;
        fields = f;
    }

    void restartWith(const QString &url) override
    {
        urlText = url;
        const UrlFields before = fields;
        fields = ParseURL(url, logins(), fields);
        // An HTTP URL's credentials stay with their own server.
        if (fields.HTTPMODE && before.HTTPMODE && fields.strUserName.isEmpty() && fields.intPort == before.intPort
            && fields.strServer.compare(before.strServer, Qt::CaseInsensitive) == 0) {
            fields.strUserName = before.strUserName;
            fields.strPassword = before.strPassword;
        }
        // The caller is the protocol being replaced: it stops now and the
        // new one starts at the next turn.
        retireProtocol();
        QTimer::singleShot(0, q, [this, generation = protocolGeneration] {
            if (!ended && generation == protocolGeneration)
                startInternal();
        });
    }

    int redirects() const override { return redirectCount; }
    void setRedirects(int count) override
    {
        redirectCount = count;
        prog.redirects = count;
        changed();
    }

    bool takeRetry() override
    {
        if (!current.retry || prog.retries > current.retries)
            return false;
        prog.retries += 1;
        changed();
        return true;
    }

    void complete() override
    {
        if (ended)
            return;
        refresh();
        if (prog.size >= 0)
            prog.received = prog.size;
        prog.rate = 0;
        prog.secondsLeft = 0;
        setStatus(TransferStatus::caption(QStringLiteral("11046"), QStringLiteral("Transfer Completed...")));
        result = TransferOutcome{};
        result.kind = TransferOutcome::Kind::Success;
        result.status = lastStatus;
        finish(TransferState::Complete);
    }

    void fail(FailureKind kind, int code, const QByteArray &serverText, const TransferStatus &status) override
    {
        if (ended)
            return;
        setStatus(status);
        result = TransferOutcome{};
        result.kind = TransferOutcome::Kind::Failure;
        result.failure = kind;
        result.code = code;
        result.serverText = serverText;
        result.status = status;
        refresh();
        prog.rate = 0;
        finish(TransferState::Failed);
    }

    // --- the job's own work
    void enterState(TransferState s)
    {
        if (state == s)
            return;
        state = s;
        Q_EMIT q->stateChanged(s);
    }

    void refresh()
    {
        if (!protocol)
            return;
        prog.received = protocol->received();
        prog.segments = protocol->segments();
        prog.connections = protocol->connections();
    }

    void changed()
    {
        // Chunks arrive far more often than anyone can show them: one
        // notification per turn of the event loop.
        if (progressPending || ended)
            return;
        progressPending = true;
        QTimer::singleShot(0, q, [this] {
            if (!progressPending)
                return;
            progressPending = false;
            refresh();
            Q_EMIT q->progressChanged();
        });
    }

    void stopTimers()
    {
        updateTimer.stop();
        rateTimer.stop();
        timeoutTimer.stop();
        stallTimer.stop();
        deadlineTimer.stop();
        diskTimer.stop();
    }

    // The protocol stops at once and is deleted from the event loop: it may
    // be the caller.
    void retireProtocol()
    {
        ++protocolGeneration;
        if (!protocol)
            return;
        refresh();
        protocol->shutdown();
        protocol.release()->deleteLater();
    }

    void startInternal()
    {
        current = services.settings ? services.settings() : TransferSettings{};
        stopTimers();
        pausedByStall = false;
        stallWatch = false;
        prog.rate = 0;
        prog.secondsLeft = 0;
        if (!applyExisting())
            return;
        retireProtocol();
        protocol = fields.FTPMODE ? createFtpTransfer(*this, fields) : createHttpTransfer(*this, fields);
        enterState(TransferState::Connecting);
        armTimeout();
        protocol->start();
    }

    bool applyExisting()
    {
        switch (existingNow) {
        case ExistingFile::Resume:
            return true;
        case ExistingFile::Overwrite:
            // HTTP replaces the file when the server accepted the download,
            // so an error answer leaves it as it was.
            if (fields.HTTPMODE)
                return true;
            if (QFileInfo::exists(req.saveTo))
                QFile::remove(req.saveTo);
            SegmentPlan::remove(req.saveTo);
            return true;
        case ExistingFile::Cancel:
            break;
        }
        result = TransferOutcome{};
        result.kind = TransferOutcome::Kind::Cancelled;
        finish(TransferState::Cancelled);
        return false;
    }

    void finish(TransferState final)
    {
        ended = true;
        stopTimers();
        pendingQuestion = 0;
        pendingThen = {};
        retireProtocol();
        prog.timeoutLeft = -1;
        if (state != final) {
            state = final;
            Q_EMIT q->stateChanged(final);
        }
        if (progressPending) {
            progressPending = false;
            Q_EMIT q->progressChanged();
        }
        const TransferOutcome outcome = result;
        Q_EMIT q->finished(outcome);
        // Nothing after this: a slot may have deleted the job.
    }

    void onUpdateTick()
    {
        prog.elapsed += std::chrono::duration<double>(services.timing.update).count();
        changed();
    }

    void onRateTick()
    {
        refresh();
        const qint64 total = prog.received;
        // Bytes per second over the time that really passed since the last tick.
        const double seconds = rateClock.isValid() ? std::max(0.001, rateClock.restart() / 1000.0)
                                                   : std::chrono::duration<double>(services.timing.rate).count();
        if (!rateClock.isValid())
            rateClock.start();
        prog.rate = double(total - lastTotal) / seconds;
        prog.secondsLeft = prog.rate > 0 && prog.size >= 0 ? double(prog.size - total) / prog.rate : 0;
        lastTotal = total;
        if (protocol)
            protocol->checkpoint(); // a kill loses at most a few seconds of segment progress
        changed();
    }

    void onTimeoutTick()
    {
        prog.timeoutLeft -= 1;
        changed();
        if (prog.timeoutLeft >= 1)
            return;
        const TransferStatus timedOut = TransferStatus::plain(QStringLiteral("Connection has timed out."));
        if (!current.retry || prog.retries > current.retries) {
            fail(FailureKind::Timeout, 0, {}, timedOut);
            return;
        }
        setStatus(timedOut);
        prog.retries += 1;
        startInternal();
    }

    void onStallTick()
    {
        refresh();
        // The detector pauses a transfer that delivered nothing since its
        // last tick and resumes it at the next; a pause or stop of the
        // user's is left alone.
        const bool stalled = prog.received == stallTotal;
        stallTotal = prog.received;
        if (state == TransferState::Downloading && stalled) {
            pauseTransfer();
            pausedByStall = true;
        } else if (state == TransferState::Paused && pausedByStall) {
            resumeTransfer();
        }
    }

    void startDeadline()
    {
        quietTicks = 0;
        deadlineTotal = -1;
        if (current.dataDeadline > 0)
            deadlineTimer.start();
    }

    void onDeadlineTick()
    {
        refresh();
        if (state != TransferState::Downloading) {
            quietTicks = 0;
            return;
        }
        if (prog.received != deadlineTotal) {
            deadlineTotal = prog.received;
            quietTicks = 0;
            return;
        }
        if (++quietTicks < current.dataDeadline)
            return;
        // Nothing arrived for the whole deadline: the connections are made
        // again from where they are, within the retry budget.
        quietTicks = 0;
        const QString seconds = QString::number(current.dataDeadline);
        if (!protocol || !takeRetry()) {
            fail(FailureKind::Timeout, 0, {},
                 TransferStatus::plain(QStringLiteral("No data received for %1 seconds.").arg(seconds)));
            return;
        }
        setStatus(TransferStatus::plain(QStringLiteral("No data received for %1 seconds: trying again.").arg(seconds)));
        protocol->suspend(true);
        protocol->resume(); // last: it may end the job
    }

    void pauseTransfer()
    {
        pausedByStall = false;
        pausedByDisk = false;
        updateTimer.stop();
        rateTimer.stop();
        timeoutTimer.stop();
        prog.timeoutLeft = -1;
        prog.rate = 0;
        if (protocol)
            protocol->suspend(true);
        enterState(TransferState::Paused);
        setStatus(TransferStatus::caption(QStringLiteral("11055"), QStringLiteral("Paused/Stopped")));
        changed();
    }

    void resumeTransfer()
    {
        pausedByStall = false;
        pausedByDisk = false;
        diskTimer.stop();
        if (!protocol || !protocol->planned()) {
            // Paused before the server answered: start over and keep
            // whatever arrived before the pause. (HTTP wrote nothing yet: a
            // file to overwrite is still the old one and stays to be
            // overwritten.)
            if (!(fields.HTTPMODE && existingNow == ExistingFile::Overwrite))
                existingNow = ExistingFile::Resume;
            startInternal();
            return;
        }
        enterState(TransferState::Downloading);
        setStatus(TransferStatus::caption(QStringLiteral("11051"), QStringLiteral("Downloading...")));
        lastTotal = protocol->received();
        rateClock.start();
        updateTimer.start();
        rateTimer.start();
        if (stallWatch && !stallTimer.isActive()) {
            stallTotal = -1;
            stallTimer.start();
        }
        startDeadline();
        changed();
        protocol->resume(); // last: it may end the job
    }

    void stopTransfer()
    {
        stopTimers();
        pausedByStall = false;
        pausedByDisk = false;
        prog.timeoutLeft = -1;
        prog.rate = 0;
        prog.secondsLeft = 0;
        if (protocol)
            protocol->suspend(true);
        enterState(TransferState::Stopped);
        setStatus(TransferStatus::caption(QStringLiteral("11056"), QStringLiteral("Transfer Stopped")));
        changed();
    }
};

TransferJob::TransferJob(TransferServices services, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>(this, std::move(services)))
{
}

TransferJob::~TransferJob() = default;

void TransferJob::start(const TransferRequest &request)
{
    if (d->ended || d->state != TransferState::Idle)
        return;
    d->req = request;
    d->existingNow = request.existing;
    d->urlText = request.url;
    d->fields = ParseURL(request.url, d->logins());
    d->startInternal();
}

void TransferJob::pause()
{
    if (d->state == TransferState::Paused) {
        d->pausedByStall = false; // the user's now: the stall detector leaves it alone
        d->pausedByDisk = false;
        d->diskTimer.stop();
        return;
    }
    switch (d->state) {
    case TransferState::Connecting:
    case TransferState::LoggingIn:
    case TransferState::Downloading:
        d->pauseTransfer();
        break;
    default:
        break;
    }
}

void TransferJob::resume()
{
    if (!d->ended && (d->state == TransferState::Paused || d->state == TransferState::Stopped))
        d->resumeTransfer();
}

void TransferJob::stop()
{
    if (d->ended || d->state == TransferState::Idle || d->state == TransferState::Stopped)
        return;
    if (d->state == TransferState::Asking)
        return; // one question at a time
    if (d->protocol && d->protocol->connections() > 1) {
        d->ask(TransferQuestion::Kind::StopSegmented, false, d->protocol->connections(), [this](bool yes) {
            if (yes)
                d->stopTransfer();
        });
        return;
    }
    d->stopTransfer();
}

void TransferJob::cancel()
{
    if (d->ended)
        return;
    d->stopTimers();
    if (d->protocol)
        d->protocol->suspend(true); // the file and the plan stay for a later resume
    d->result = TransferOutcome{};
    d->result.kind = TransferOutcome::Kind::Cancelled;
    d->result.status = d->lastStatus;
    d->finish(TransferState::Cancelled);
}

void TransferJob::answer(quint64 questionId, bool yes)
{
    if (d->ended || questionId == 0 || questionId != d->pendingQuestion)
        return;
    d->pendingQuestion = 0;
    std::function<void(bool)> then = std::move(d->pendingThen);
    d->pendingThen = {};
    // Back to the state the job was in, or reached meanwhile.
    d->state = d->stateBeforeAsk;
    Q_EMIT stateChanged(d->state);
    // The answer is carried out from the event loop, never inside the call
    // that asked or the owner's slot that answered.
    QTimer::singleShot(0, this, [this, then = std::move(then), yes, generation = d->protocolGeneration] {
        if (!d->ended && generation == d->protocolGeneration && then)
            then(yes);
    });
}

TransferState TransferJob::state() const { return d->state; }
bool TransferJob::isFinished() const { return d->ended; }

bool TransferJob::isRunning() const
{
    switch (d->state) {
    case TransferState::Connecting:
    case TransferState::LoggingIn:
    case TransferState::Asking:
    case TransferState::Downloading:
        return true;
    default:
        return false;
    }
}

const TransferProgress &TransferJob::progress() const
{
    d->refresh();
    return d->prog;
}

const TransferOutcome &TransferJob::outcome() const { return d->result; }
const TransferRequest &TransferJob::request() const { return d->req; }
const UrlFields &TransferJob::url() const { return d->fields; }
QString TransferJob::currentUrl() const { return d->urlText; }
const TransferStatus &TransferJob::status() const { return d->lastStatus; }
QByteArray TransferJob::serverLog() const { return d->log; }

TransferOutcome tlsFailureOutcome(const TlsFailure &failure)
{
    const QString reasons = failure.errors.join(QStringLiteral("; "));
    const QString text = failure.certificate
        ? QStringLiteral("The certificate of %1 is not trusted: %2").arg(failure.host, reasons)
        : QStringLiteral("No secure connection to %1: %2").arg(failure.host, reasons);
    TransferOutcome outcome;
    outcome.kind = TransferOutcome::Kind::Failure;
    outcome.failure = failure.certificate ? FailureKind::Certificate : FailureKind::Protocol;
    outcome.serverText = reasons.toUtf8();
    outcome.status = TransferStatus::plain(text);
    return outcome;
}
