#include "queue/downloadmanager.h"

#include "config/cregister.h"
#include "config/settingsrecord.h"
#include "download/urlmodel.h"
#include "platform/certificatequestion.h"
#include "platform/prompts.h"

#include <QPointer>

#include <algorithm>

using Column = DownloadListModel::Column;

namespace {

const QString NotAvailable = QStringLiteral("N/A");
const QString ProgressRefused = QStringLiteral("0 %");
const QString TimedOut = QStringLiteral("Connection has timed out.");

bool isRunning(TransferState state)
{
    switch (state) {
    case TransferState::Connecting:
    case TransferState::LoggingIn:
    case TransferState::Asking:
    case TransferState::Downloading: return true;
    default: return false;
    }
}

} // namespace

// ---------------------------------------------------------------- answerers

PromptAnswerer::PromptAnswerer(Prompts &prompts, CaptionLookup captions, QString appTitle)
    : m_prompts(prompts), m_captions(std::move(captions)), m_appTitle(std::move(appTitle))
{
}

QString PromptAnswerer::questionText(const TransferQuestion &question, const CaptionLookup &captions)
{
    switch (question.kind) {
    case TransferQuestion::Kind::UseSegments:
        // The question after a full reply has no caption of its own.
        if (!question.afterPartialReply)
            return QStringLiteral("If you use segemnted downloading,you will not be able to resume after stopping "
                                  "(you still be able to resume after pausing, and more segments will cause the "
                                  "program solwer),Use Segemnted?!");
        return captions(QStringLiteral("13022"),
                        QStringLiteral("If you use segemnted downloading, you will not be able to resume after "
                                       "stopping(you still be able to resume after pausing),Use Segemnted?!"));
    case TransferQuestion::Kind::StopSegmented:
        return captions(QStringLiteral("13021"),
                        QStringLiteral("you will not be able to resume this file later(Segmented mode only), Stop?"));
    case TransferQuestion::Kind::TrustCertificate:
        return certificateQuestionText(question.host, question.errors, question.certificate);
    }
    return {};
}

bool PromptAnswerer::answer(DownloadId, const TransferQuestion &question)
{
    const bool certificate = question.kind == TransferQuestion::Kind::TrustCertificate;
    return m_prompts.ask(questionText(question, m_captions), m_appTitle, PromptButtons::YesNo,
                         certificate ? PromptIcon::Warning : PromptIcon::Question)
           == PromptAnswer::Yes;
}

bool FixedAnswerer::answer(DownloadId, const TransferQuestion &question)
{
    switch (question.kind) {
    case TransferQuestion::Kind::UseSegments:
        return m_segments;
    case TransferQuestion::Kind::StopSegmented:
        return m_stop;
    case TransferQuestion::Kind::TrustCertificate:
        return false; // a certificate is trusted by a person only
    }
    return false;
}

// ---------------------------------------------------------------- manager

struct DownloadManager::Download {
    DownloadId id = 0;
    QString url;
    QString savePath;
    QString server;     // of the URL the download was started with
    DownloadListModel::RowId row = DownloadListModel::NoRow;
    bool inCompleted = false;
    DownloadState state = DownloadState::Queued;
    std::unique_ptr<TransferJob> job;
    bool sizeShown = false;
};

DownloadManager::DownloadManager(Services services, QObject *parent)
    : QObject(parent), m_services(std::move(services))
{
    qRegisterMetaType<DownloadState>();
}

DownloadManager::~DownloadManager()
{
    // Jobs end without reporting to a manager that is going away.
    for (auto &[id, d] : m_downloads) {
        if (d->job) {
            d->job->disconnect(this);
            if (!d->job->isFinished())
                d->job->cancel();
        }
    }
}

DownloadManager::Download *DownloadManager::find(DownloadId id) const
{
    const auto it = m_downloads.find(id);
    return it == m_downloads.end() ? nullptr : it->second.get();
}

DownloadId DownloadManager::add(const QString &url, const QString &savePath, DownloadListModel::RowId row,
                                DownloadState state)
{
    auto d = std::make_unique<Download>();
    d->id = m_nextId++;
    d->url = url;
    d->savePath = savePath;
    d->row = row;
    d->state = state;
    static const LoginTable none;
    d->server = ParseURL(url, m_services.transfer.logins ? *m_services.transfer.logins : none).strServer;
    const DownloadId id = d->id;
    m_downloads.emplace(id, std::move(d));
    return id;
}

DownloadId DownloadManager::queue(const QString &url, const QString &text, const QString &status, bool refused)
{
    DownloadListModel::RowId row = DownloadListModel::NoRow;
    if (m_services.downloads)
        row = m_services.downloads->addRow(
            {text, refused ? ProgressRefused : QStringLiteral("0%"), NotAvailable, NotAvailable, status, url});
    return add(url, text, row, refused ? DownloadState::Refused : DownloadState::Queued);
}

DownloadId DownloadManager::adopt(DownloadListModel::RowId row, DownloadState state)
{
    if (const DownloadId known = idOfRow(row))
        return known;
    if (!m_services.downloads || !m_services.downloads->contains(row))
        return 0;
    const DownloadListModel &list = *m_services.downloads;
    return add(list.value(row, Column::Url), list.value(row, Column::SavePath), row, state);
}

DownloadId DownloadManager::start(const TransferRequest &request)
{
    DownloadListModel::RowId row = DownloadListModel::NoRow;
    if (m_services.downloads)
        row = m_services.downloads->addRow(
            {request.saveTo, QStringLiteral("0%"), NotAvailable, NotAvailable, NotAvailable, request.url});
    const DownloadId id = add(request.url, request.saveTo, row, DownloadState::Queued);
    launch(*find(id), request);
    return id;
}

DownloadId DownloadManager::startRow(DownloadListModel::RowId row, const TransferRequest &request)
{
    DownloadId id = idOfRow(row);
    Download *d = find(id);
    if (d && d->job && !d->job->isFinished() && isRunning(d->job->state()))
        return id; // already running in this row
    if (!d) {
        id = add(request.url, request.saveTo, row, DownloadState::Queued);
        d = find(id);
    }
    d->url = request.url;
    d->savePath = request.saveTo;
    launch(*d, request);
    return id;
}

bool DownloadManager::redownload(DownloadId id, ExistingFile existing)
{
    Download *d = find(id);
    if (!d || d->inCompleted || d->state == DownloadState::Running)
        return false;
    launch(*d, {d->url, d->savePath, existing});
    return true;
}

void DownloadManager::launch(Download &d, const TransferRequest &request)
{
    const bool hadJob = d.job != nullptr;
    if (d.job) {
        // The job of an earlier start: it ended or is replaced now; a window
        // may still be reading it in this turn of the event loop.
        TransferJob *old = d.job.release();
        old->disconnect(this);
        if (!old->isFinished())
            old->cancel();
        old->deleteLater();
    }
    if (request.existing == ExistingFile::Cancel) {
        // Not started: a new download waits in its row, an earlier one keeps
        // its file for a later resume.
        setState(d, hadJob ? DownloadState::Stopped : DownloadState::Queued);
        return;
    }
    static const LoginTable none;
    d.server = ParseURL(request.url, m_services.transfer.logins ? *m_services.transfer.logins : none).strServer;
    d.sizeShown = false;
    d.job.reset(new TransferJob(m_services.transfer));
    TransferJob *job = d.job.get();
    const DownloadId id = d.id;
    connect(job, &TransferJob::stateChanged, this, [this, id](TransferState s) { onJobState(id, s); });
    connect(job, &TransferJob::progressChanged, this, [this, id] { onJobProgress(id); });
    connect(job, &TransferJob::statusChanged, this,
            [this, id](const TransferStatus &status) { onJobStatus(id, status); });
    connect(job, &TransferJob::questionAsked, this,
            [this, id](const TransferQuestion &question) { onJobQuestion(id, question); });
    connect(job, &TransferJob::noticeRaised, this,
            [this, id](const TransferNotice &notice) { Q_EMIT noticeRaised(id, notice); });
    connect(job, &TransferJob::finished, this,
            [this, id](const TransferOutcome &outcome) { onJobFinished(id, outcome); });
    setState(d, DownloadState::Running);
    const QPointer<DownloadManager> self(this);
    Q_EMIT started(id, job);
    if (!self)
        return;
    // A slot on started may have replaced the job already.
    Download *again = find(id);
    if (again && again->job.get() == job)
        job->start(request);
}

void DownloadManager::setState(Download &d, DownloadState state)
{
    if (d.state == state)
        return;
    d.state = state;
    Q_EMIT stateChanged(d.id, state);
}

void DownloadManager::setRow(const Download &d, int column, const QString &text)
{
    DownloadListModel *list = d.inCompleted ? m_services.completed : m_services.downloads;
    if (list && d.row != DownloadListModel::NoRow)
        list->setValue(d.row, column, text);
}

QString DownloadManager::lookup(const TransferStatus &status) const
{
    return transferStatusText(status, m_services.captions);
}

QString DownloadManager::progressText(qint64 received, qint64 size)
{
    int percent = 0;
    if (size > 0)
        percent = int(std::clamp<qint64>(received * 100 / size, 0, 100));
    else if (size == 0)
        percent = 100;
    return QString::number(percent) + QLatin1Char('%');
}

void DownloadManager::onJobState(DownloadId id, TransferState state)
{
    Download *d = find(id);
    if (!d)
        return;
    const DownloadState before = d->state;
    switch (state) {
    case TransferState::Paused:
        setRow(*d, Column::Status, m_services.captions(QStringLiteral("11055"), QStringLiteral("Paused/Stopped")));
        setState(*d, DownloadState::Paused);
        break;
    case TransferState::Stopped:
        setRow(*d, Column::Status, m_services.captions(QStringLiteral("11055"), QStringLiteral("Paused/Stopped")));
        if (d->job)
            setRow(*d, Column::Received, FormatSize(d->job->progress().received));
        setState(*d, DownloadState::Stopped);
        break;
    case TransferState::Downloading:
        if (before == DownloadState::Paused || before == DownloadState::Stopped)
            setRow(*d, Column::Status, m_services.captions(QStringLiteral("11051"), QStringLiteral("Downloading")));
        setState(*d, DownloadState::Running);
        break;
    default:
        if (isRunning(state))
            setState(*d, DownloadState::Running);
        break; // the final states are written when the job finishes
    }
}

void DownloadManager::onJobProgress(DownloadId id)
{
    Download *d = find(id);
    if (!d || !d->job)
        return;
    const TransferProgress &p = d->job->progress();
    if (p.size >= 0 && !d->sizeShown) {
        d->sizeShown = true;
        setRow(*d, Column::SavePath, d->savePath);
        setRow(*d, Column::Size, FormatSize(p.size));
    }
    if (p.size >= 0 && p.received > 0)
        setRow(*d, Column::Progress, progressText(p.received, p.size));
    if (p.received > 0)
        setRow(*d, Column::Received, FormatSize(p.received));
    Q_EMIT progressChanged(id);
}

void DownloadManager::onJobStatus(DownloadId id, const TransferStatus &status)
{
    Download *d = find(id);
    if (!d)
        return;
    // A paused, stopped or finished download's row keeps the status the
    // manager gave it ("Paused/Stopped", "Download Success"); the window
    // shows the job's own words.
    if (d->job) {
        switch (d->job->state()) {
        case TransferState::Paused:
        case TransferState::Stopped:
        case TransferState::Complete:
        case TransferState::Cancelled: return;
        default: break;
        }
    }
    const QString text = lookup(status);
    if (text == TimedOut || status.defaultText == TimedOut) {
        // The row shows the time-out where the progress was.
        setRow(*d, Column::Progress, text);
        return;
    }
    if (!text.isEmpty())
        setRow(*d, Column::Status, text);
}

void DownloadManager::onJobQuestion(DownloadId id, const TransferQuestion &question)
{
    Download *d = find(id);
    if (!d || !d->job)
        return;
    const QPointer<TransferJob> job(d->job.get());
    const QPointer<DownloadManager> self(this);
    const bool yes = m_services.answerer ? m_services.answerer->answer(id, question) : false;
    // A message box runs events: the job or the manager may be gone now.
    if (self && job && !job->isFinished())
        job->answer(question.id, yes);
}

void DownloadManager::onJobFinished(DownloadId id, const TransferOutcome &outcome)
{
    Download *d = find(id);
    if (!d)
        return;
    switch (outcome.kind) {
    case TransferOutcome::Kind::Success:
        complete(*d);
        break;
    case TransferOutcome::Kind::Failure: {
        const QString text = lookup(outcome.status);
        if (!text.isEmpty())
            setRow(*d, Column::Status, text);
        setRow(*d, Column::Progress, outcome.failure == FailureKind::Timeout ? TimedOut : ProgressRefused);
        setState(*d, DownloadState::Failed);
        break;
    }
    case TransferOutcome::Kind::Cancelled:
        // The file stays where it is; a later start resumes it.
        if (d->job)
            setRow(*d, Column::Received, FormatSize(d->job->progress().received));
        setRow(*d, Column::Status, m_services.captions(QStringLiteral("11055"), QStringLiteral("Paused/Stopped")));
        setState(*d, DownloadState::Stopped);
        break;
    }
    Q_EMIT finished(id, outcome); // last: a slot may delete this manager
}

void DownloadManager::complete(Download &d)
{
    const qint64 total = d.job ? d.job->progress().received : 0;
    const qint64 size = d.job ? d.job->progress().size : total;
    setRow(d, Column::Progress, progressText(total, size >= 0 ? size : total));
    setRow(d, Column::Received, FormatSize(total));
    setRow(d, Column::Status, m_services.captions(QStringLiteral("11052"), QStringLiteral("Download Success")));
    if (m_services.downloads && m_services.downloads->contains(d.row)) {
        DownloadListModel::RowId moved = DownloadListModel::NoRow;
        if (m_services.completed)
            moved = m_services.completed->addRow(m_services.downloads->values(d.row).mid(0, 6), 4);
        m_services.downloads->removeRowById(d.row);
        d.row = moved;
        d.inCompleted = true;
    }
    addStatistics(total);
    setState(d, DownloadState::Complete);
}

void DownloadManager::addStatistics(qint64 bytes)
{
    if (!m_services.record || !m_services.reg)
        return;
    SettingsRecord &r = *m_services.record;
    r.Downloads += 1;
    r.AllBytes += bytes;
    m_services.reg->REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QStringLiteral("Downloads"),
                                   QString::number(r.Downloads));
    m_services.reg->REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QStringLiteral("AllBytes"),
                                   QString::number(r.AllBytes));
}

// ---------------------------------------------------------------- commands

void DownloadManager::pause(DownloadId id)
{
    if (Download *d = find(id); d && d->job && !d->job->isFinished())
        d->job->pause();
}

void DownloadManager::resume(DownloadId id)
{
    Download *d = find(id);
    if (!d || !d->job)
        return;
    if (!d->job->isFinished()) {
        d->job->resume();
        return;
    }
    if (d->state == DownloadState::Stopped)
        redownload(id, ExistingFile::Resume);
}

void DownloadManager::stop(DownloadId id)
{
    if (Download *d = find(id); d && d->job && !d->job->isFinished())
        d->job->stop();
}

void DownloadManager::cancel(DownloadId id)
{
    if (Download *d = find(id); d && d->job && !d->job->isFinished())
        d->job->cancel();
}

void DownloadManager::pauseAll()
{
    for (const DownloadId id : ids()) {
        const Download *d = find(id);
        if (d && d->state == DownloadState::Running)
            pause(id);
    }
}

void DownloadManager::resumeAll()
{
    // Paused and stopped jobs go on; a download whose job ended (its window
    // was closed) waits for a Re-Download.
    for (const DownloadId id : ids()) {
        const Download *d = find(id);
        if (d && d->job && !d->job->isFinished()
            && (d->state == DownloadState::Paused || d->state == DownloadState::Stopped))
            resume(id);
    }
}

void DownloadManager::stopAll()
{
    // A stop may ask a question whose message box runs events: every
    // download is looked up afresh.
    const QPointer<DownloadManager> self(this);
    for (const DownloadId id : ids()) {
        if (!self)
            return;
        const Download *d = find(id);
        if (d && d->state == DownloadState::Running) // a paused one stays paused
            stop(id);
    }
}

void DownloadManager::cancelAll()
{
    const QPointer<DownloadManager> self(this);
    for (const DownloadId id : ids()) {
        if (!self)
            return;
        cancel(id);
    }
}

// ---------------------------------------------------------------- queries

bool DownloadManager::contains(DownloadId id) const
{
    return find(id) != nullptr;
}

QList<DownloadId> DownloadManager::ids() const
{
    QList<DownloadId> out;
    out.reserve(qsizetype(m_downloads.size()));
    for (const auto &entry : m_downloads)
        out.append(entry.first);
    return out;
}

DownloadState DownloadManager::state(DownloadId id) const
{
    const Download *d = find(id);
    return d ? d->state : DownloadState::Queued;
}

TransferJob *DownloadManager::job(DownloadId id) const
{
    const Download *d = find(id);
    return d ? d->job.get() : nullptr;
}

DownloadListModel::RowId DownloadManager::row(DownloadId id) const
{
    const Download *d = find(id);
    return d ? d->row : DownloadListModel::NoRow;
}

DownloadId DownloadManager::idOfRow(DownloadListModel::RowId row) const
{
    if (row == DownloadListModel::NoRow)
        return 0;
    for (const auto &[id, d] : m_downloads) {
        if (d->row == row && !d->inCompleted)
            return id;
    }
    return 0;
}

QString DownloadManager::url(DownloadId id) const
{
    const Download *d = find(id);
    return d ? d->url : QString();
}

QString DownloadManager::savePath(DownloadId id) const
{
    const Download *d = find(id);
    return d ? d->savePath : QString();
}

int DownloadManager::runningFrom(const QString &server) const
{
    int n = 0;
    for (const auto &[id, d] : m_downloads) {
        if ((d->state == DownloadState::Running || d->state == DownloadState::Paused)
            && d->server.compare(server, Qt::CaseInsensitive) == 0)
            ++n;
    }
    return n;
}

int DownloadManager::runningWhere(const std::function<bool(const QString &url)> &match) const
{
    int n = 0;
    for (const auto &[id, d] : m_downloads) {
        if ((d->state == DownloadState::Running || d->state == DownloadState::Paused) && match(d->url))
            ++n;
    }
    return n;
}

int DownloadManager::runningCount() const
{
    return int(std::count_if(m_downloads.begin(), m_downloads.end(),
                             [](const auto &entry) { return entry.second->state == DownloadState::Running; }));
}

double DownloadManager::totalRate() const
{
    double total = 0;
    for (const auto &[id, d] : m_downloads) {
        if (d->job && d->state == DownloadState::Running)
            total += d->job->progress().rate;
    }
    return total;
}
