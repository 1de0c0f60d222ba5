#include "download/downloadjob.h"

#include "config/cregister.h"
#include "config/conversions.h"
#include "config/settingsrecord.h"
#include "controls/extratimer.h"
#include "download/httpprotocol.h"
#include "platform/prompts.h"
#include "platform/socketchannel.h"

#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace {

using Column = DownloadListModel::Column;

constexpr qsizetype MaxPageBytes = 1 << 20; // how much of a page is searched for the file

int percentOf(qint64 part, qint64 whole)
{
    if (whole <= 0)
        return part > 0 ? 100 : 0;
    return int(std::clamp<qint64>(part * 100 / whole, 0, 100));
}

} // namespace

DownloadJob::DownloadJob(Services services, QObject *parent)
    : QObject(parent), m_services(std::move(services))
{
    m_group = ChannelGroup::create(m_services.sockets);
    m_probe = new SocketChannel(m_group, this);
    m_wsHTTP = new SocketArray(m_group, this);
    m_wsHTTP1 = new SocketArray(m_group, this);
    m_tmrReconnect = new ExtraTimer(this, m_services.timing.stallSecond);

    connect(m_probe, &SocketChannel::connected, this, &DownloadJob::onProbeConnected);
    connect(m_probe, &SocketChannel::dataArrived, this, &DownloadJob::onProbeData);
    connect(m_probe, &SocketChannel::closed, this, &DownloadJob::onProbeClosed);
    connect(m_probe, &SocketChannel::errorOccurred, this, [this](int, const QString &description) {
        // The probe could not reach the server; the time-out retries it.
        m_display.status = description;
        changed();
    });
    for (SocketArray *set : {m_wsHTTP, m_wsHTTP1}) {
        // Element 0 of the first set is an FTP download's control connection.
        const auto isControl = [this, set](int i) { return url.FTPMODE && set == m_wsHTTP && i == 0; };
        connect(set, &SocketArray::connected, this, [this, set, isControl](int i) {
            if (isControl(i))
                onControlConnected();
            else if (set == activeSet() && !url.FTPMODE)
                onDataConnected(i);
        });
        connect(set, &SocketArray::dataArrived, this, [this, set, isControl](int i, qint64) {
            if (isControl(i))
                onControlData();
            else if (set == activeSet() && !url.FTPMODE)
                onDataArrived(i);
        });
        connect(set, &SocketArray::closed, this, [this, set, isControl](int i) {
            if (isControl(i))
                onControlClosed();
            else if (set == activeSet() && !url.FTPMODE)
                onDataClosed(i);
        });
        connect(set, &SocketArray::errorOccurred, this, [this, set, isControl](int i, int number, const QString &text) {
            if (isControl(i)) {
                m_display.status = text;
                changed();
            } else if (set == activeSet() && !url.FTPMODE) {
                onDataError(i, number, text);
            }
        });
    }
    m_wsFTPData = new SocketChannel(m_group, this);
    connect(m_wsFTPData, &SocketChannel::connectionRequested, this, &DownloadJob::onFtpDataRequest);
    connect(m_wsFTPData, &SocketChannel::dataArrived, this, &DownloadJob::onFtpDataArrived);
    connect(m_wsFTPData, &SocketChannel::closed, this, &DownloadJob::onFtpDataClosed);
    connect(m_wsFTPData, &SocketChannel::errorOccurred, this, [this](int, const QString &description) {
        if (m_services.prompts)
            m_services.prompts->inform(caption("11032", "FTP Downloading error:") + QLatin1Char(' ') + description,
                                       m_services.appTitle);
        onFtpDataClosed();
    });

    m_tmrUpdate.setInterval(m_services.timing.update);
    m_tmrUpdate2.setInterval(m_services.timing.rate);
    m_tmrTimeOut.setInterval(m_services.timing.timeout);
    connect(&m_tmrUpdate, &QTimer::timeout, this, &DownloadJob::onUpdateTick);
    connect(&m_tmrUpdate2, &QTimer::timeout, this, &DownloadJob::onRateTick);
    connect(&m_tmrTimeOut, &QTimer::timeout, this, &DownloadJob::onTimeoutTick);
    connect(m_tmrReconnect, &ExtraTimer::Timer, this, &DownloadJob::onStallTick);

    SetCaptions();
    m_display.pauseText = m_pauseCaption;
    m_display.stopText = m_stopCaption;
    m_display.rate = QStringLiteral("0 Bytes/Second");
}

DownloadJob::~DownloadJob()
{
    stopTimers();
    m_file.close();
}

QString DownloadJob::caption(const char *id, const char *defaultText) const
{
    return m_services.captions(QLatin1String(id), QString::fromUtf8(defaultText));
}

void DownloadJob::SetCaptions()
{
    m_pauseCaption = caption("04012", "&Pause");
    m_resumeCaption = caption("04013", "&Resume");
    m_stopCaption = caption("04014", "&Stop");
    m_closeCaption = caption("04015", "&Close");
}

void DownloadJob::setRow(int column, const QString &text)
{
    if (m_services.mainList)
        m_services.mainList->setValue(lstItem, column, text);
}

void DownloadJob::changed()
{
    // Chunks arrive far more often than a window can repaint: one
    // notification per turn of the event loop.
    if (m_changePending)
        return;
    m_changePending = true;
    QTimer::singleShot(0, this, [this] {
        m_changePending = false;
        Q_EMIT displayChanged();
    });
}

void DownloadJob::finish(Outcome outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    m_outcome = outcome;
    changed();
    Q_EMIT finished(outcome);
}

void DownloadJob::stopTimers()
{
    m_tmrUpdate.stop();
    m_tmrUpdate2.stop();
    m_tmrTimeOut.stop();
    if (m_tmrReconnect)
        m_tmrReconnect->setEnabled(false);
}

void DownloadJob::failWith(const QString &text)
{
    // The download waits with its message; nothing restarts it.
    CloseAll();
    m_probe->close();
    closeFiles();
    stopTimers();
    m_display.countdownVisible = false;
    m_display.status = text;
    setRow(Column::Status, text);
    setRow(Column::Progress, QStringLiteral("0 %"));
    m_display.pauseEnabled = false;
    m_display.stopEnabled = m_display.stopText == m_closeCaption; // Close stays offered
    intTransferRate = 0;
    m_state = State::Waiting;
    changed();
    finish(Outcome::Failed);
}

void DownloadJob::ParseURL(const QString &text)
{
    static const LoginTable none;
    url = ::ParseURL(text, m_services.logins ? *m_services.logins : none, url);
}

// ---------------------------------------------------------------- start

void DownloadJob::StartDownload()
{
    // The answer the intake set for this start; restarts from inside (a
    // time-out retry, a redirect) keep it, so another download's answer
    // given meanwhile never applies here.
    m_existChoice = m_services.record ? m_services.record->intExistChoice : qint16(0);
    m_finished = false;
    startInternal();
}

void DownloadJob::startInternal()
{
    SetCaptions();
    m_tmrReconnect->setEnabled(false);
    m_tmrReconnect->setIntervalUnit(ExtraTimer::Seconds);
    m_tmrReconnect->setInterval(m_services.record ? m_services.record->TimeResume : 300);

    m_sizeKnown = true;
    if (!applyExistChoice())
        return;
    if (url.FTPMODE) {
        startFtp();
        return;
    }
    m_segResume.fill(m_existChoice == -1);
    m_planned = false;
    m_state = State::Probing;
    resetButtons();
    connectProbe();

    m_timeLeft = m_services.record ? m_services.record->Timeout : 60;
    m_tmrTimeOut.start();
    m_display.openVisible = false;
    changed();
}

bool DownloadJob::applyExistChoice()
{
    switch (m_existChoice) {
    case -1: // resume what is there
        return true;
    case 0: // overwrite
        m_file.close();
        if (QFileInfo::exists(strSaveTo))
            QFile::remove(strSaveTo);
        removeSidecar();
        return true;
    default: // cancel: the window closes
        m_state = State::Closed;
        finish(Outcome::Cancelled);
        Q_EMIT closeRequested();
        return false;
    }
}

void DownloadJob::resetButtons()
{
    m_display.restoreRequested = false;
    m_display.openVisible = false;
    m_display.pauseText = m_pauseCaption;
    m_display.stopText = m_stopCaption;
    m_display.pauseEnabled = true;
    m_display.stopEnabled = true;
}

void DownloadJob::connectProbe()
{
    m_probe->close();
    m_probeParser.reset();
    m_pageBody.clear();
    const HttpEndpoint target = httpConnectTarget(
        url, m_services.record ? HttpProxySettings::fromRecord(*m_services.record) : HttpProxySettings{});
    m_probe->connectToHost(target.host, quint16(target.port));
}

void DownloadJob::onProbeConnected()
{
    const HttpProxySettings proxy =
        m_services.record ? HttpProxySettings::fromRecord(*m_services.record) : HttpProxySettings{};
    m_probe->send(httpProbeRequest(url, m_fullRange, proxy));
}

void DownloadJob::onProbeClosed()
{
    if (m_state != State::Probing)
        return;
    if (m_pageMode) {
        // The page ended without naming the file.
        m_pageMode = false;
        failWith(QStringLiteral("The server sent a page that does not link to the file."));
    } else if (!m_probeParser.isComplete()) {
        m_probe->close(); // no reply: the time-out restarts the download
    }
}

void DownloadJob::onProbeData()
{
    const QByteArray chunk = m_probe->takeData();
    m_tmrTimeOut.stop();
    m_display.countdownVisible = false;
    if (m_state != State::Probing)
        return;

    if (m_probeParser.isComplete()) {
        if (m_pageMode) {
            m_pageBody += chunk;
            handlePageBody();
        }
        return;
    }
    if (m_probeParser.feed(chunk) == HttpResponseParser::State::Failed) {
        failWith(QString::fromUtf8(m_probeParser.errorText()));
        return;
    }
    if (!m_probeParser.isComplete())
        return; // the header is not complete yet

    const HttpResponseHeader &reply = m_probeParser.header();
    m_log += "\r\n" + reply.text() + "\r\n";

    ProbeContext context;
    context.url = url;
    context.redirects = m_redirects;
    context.fullRange = m_fullRange;
    const ProbeDecision decision = ProcessProbeReply(reply, context, m_services.captions);

    switch (decision.action) {
    case ProbeDecision::Action::Fail:
        failWith(decision.text);
        return;
    case ProbeDecision::Action::PageMode:
        m_pageMode = true;
        m_pageBody = m_probeParser.takeBody();
        handlePageBody();
        return;
    case ProbeDecision::Action::Redirect:
        m_redirects = decision.redirects;
        strURL = decision.url;
        ParseURL(decision.url);
        if (decision.restartWindow) {
            RestartWith(decision.url);
        } else {
            connectProbe();
        }
        changed();
        return;
    case ProbeDecision::Action::RetryFullRange:
        m_fullRange = true;
        connectProbe();
        return;
    case ProbeDecision::Action::StartTransfer:
        break;
    }

    m_contentSize = decision.contentSize;
    m_display.fileSize = FormatSize(m_contentSize);
    m_display.resume = caption("04018", "** Resume Supported **");
    setRow(Column::SavePath, strSaveTo);
    setRow(Column::Size, m_display.fileSize);
    if (m_services.record && m_services.record->StopResume) {
        m_stallTotal = -1;
        m_tmrReconnect->setEnabled(true);
    }
    m_probe->close();
    Check_Create(m_contentSize, decision.partial ? SocketSet::Partial : SocketSet::Full);
}

void DownloadJob::handlePageBody()
{
    const QString found = FindSrcURL(m_pageBody, url.fileName());
    if (found.isEmpty()) {
        if (m_pageBody.size() > MaxPageBytes)
            failWith(QStringLiteral("The server sent a page that does not link to the file."));
        return; // more of the page may follow
    }
    m_pageMode = false;
    const QString target = resolveLocation(url, found.toUtf8());
    ParseURL(target.isEmpty() ? found : target);
    connectProbe();
}

void DownloadJob::RestartWith(const QString &newUrl)
{
    ParseURL(newUrl);
    startInternal();
}

// ---------------------------------------------------------------- plan

SocketArray *DownloadJob::activeSet() const
{
    return m_set == SocketSet::Full ? m_wsHTTP : m_wsHTTP1;
}

bool DownloadJob::openSaveFile()
{
    if (m_file.isOpen())
        return true;
    m_file.setFileName(strSaveTo);
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        failWith(caption("11002", "Error opening File") + QLatin1Char(' ') + strSaveTo + QStringLiteral(": ")
                 + m_file.errorString());
        return false;
    }
    return true;
}

int DownloadJob::segmentsForSize(qint64 size, const std::array<double, 9> &t, int current)
{
    const double n = double(size);
    if (n >= t[0] && n <= t[1])
        return 2;
    if (n >= t[2] && n <= t[3])
        return 3;
    if (n >= t[4] && n <= t[5])
        return 4;
    if (n >= t[6] && n <= t[7])
        return 5;
    if (n >= t[8])
        return 6;
    return current; // in a gap of the table
}

int DownloadJob::decideSegments(qint64 size, SocketSet set)
{
    if (!m_services.record || m_services.record->Segment != 1 || double(size) < m_services.record->SegmentSize[0])
        return 0;
    if (m_existChoice == -1)
        return 0; // a resumed file continues over one connection from its length
    if (m_services.prompts) {
        const QString question =
            set == SocketSet::Full
                ? QStringLiteral("If you use segemnted downloading,you will not be able to resume after stopping "
                                 "(you still be able to resume after pausing, and more segments will cause the "
                                 "program solwer),Use Segemnted?!")
                : caption("13022", "If you use segemnted downloading, you will not be able to resume after "
                                   "stopping(you still be able to resume after pausing),Use Segemnted?!");
        if (m_services.prompts->ask(question, m_services.appTitle, PromptButtons::YesNo, PromptIcon::Question)
            != PromptAnswer::Yes)
            return 0;
    }
    return segmentsForSize(size, m_services.record->SegmentSize, 0);
}

void DownloadJob::Check_Create(qint64 size, SocketSet set)
{
    m_set = set;
    if (set == SocketSet::Partial)
        m_fullRange = false;

    // A segmented download that was stopped left its plan beside the file.
    const bool restored = m_existChoice == -1 && size > 0 && loadSidecar(size);
    if (!restored) {
        m_segments = decideSegments(size, set);
        if (m_segments > 0) {
            const qint64 part = size / m_segments;
            m_segStart[0] = 0;
            m_segPos[0] = 1;
            for (int k = 1; k < m_segments; ++k) {
                m_segStart[k] = part + m_segStart[k - 1];
                m_segPos[k] = m_segStart[k] + 1;
            }
            m_segStart[m_segments] = size;
            m_segResume.fill(false);
        } else if (!m_resumeSet) {
            m_segStart[0] = 0;
            m_segStart[1] = size;
            m_segPos[0] = 1;
        }
    }
    LayoutBars(std::max(m_segments, 1));
    if (!openSaveFile())
        return;
    if (m_existChoice == -1 && m_segments == 0)
        SetSegIndecies();
    m_planned = true;
    m_state = State::Downloading;
    m_emptyCloses = 0;
    m_lastTotal = TotalReceived();
    m_rateClock.start();
    if (size == 0 || isFileDownloaded()) {
        completeDownload();
        return;
    }
    for (int k = 0; k < std::max(m_segments, 1); ++k)
        connectElement(k);
    if (m_segments > 0)
        saveSidecar();
    m_tmrUpdate.start();
    m_tmrUpdate2.start();
    changed();
}

// ---------------------------------------------------------------- sidecar

QString DownloadJob::sidecarPath() const
{
    return strSaveTo + QStringLiteral(".segments");
}

void DownloadJob::saveSidecar() const
{
    if (m_segments <= 0 || strSaveTo.isEmpty())
        return;
    QByteArray text = "size " + QByteArray::number(m_contentSize) + "\n";
    for (int k = 0; k < m_segments; ++k) {
        text += "segment " + QByteArray::number(m_segStart[k]) + " " + QByteArray::number(m_segStart[k + 1]) + " "
                + QByteArray::number(m_segPos[k] - 1) + "\n";
    }
    QSaveFile file(sidecarPath());
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size())
        file.commit();
}

bool DownloadJob::loadSidecar(qint64 size)
{
    QFile file(sidecarPath());
    if (!QFileInfo::exists(strSaveTo) || !file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.isEmpty() || lines.first() != "size " + QByteArray::number(size))
        return false;
    std::array<qint64, MaxSegments + 1> starts{};
    std::array<qint64, MaxSegments> positions{};
    int count = 0;
    qint64 expectedStart = 0;
    for (qsizetype l = 1; l < lines.size(); ++l) {
        const QList<QByteArray> f = lines.at(l).split(' ');
        if (lines.at(l).isEmpty())
            continue;
        if (f.size() != 4 || f.at(0) != "segment" || count >= MaxSegments)
            return false;
        bool ok1 = false, ok2 = false, ok3 = false;
        const qint64 start = f.at(1).toLongLong(&ok1);
        const qint64 end = f.at(2).toLongLong(&ok2);
        const qint64 done = f.at(3).toLongLong(&ok3);
        // The ranges must tile the file and every position lie in its range.
        if (!ok1 || !ok2 || !ok3 || start != expectedStart || end <= start || done < start || done > end)
            return false;
        starts[count] = start;
        positions[count] = done + 1;
        expectedStart = end;
        ++count;
    }
    if (count < 2 || expectedStart != size)
        return false;
    m_segments = count;
    for (int k = 0; k < count; ++k) {
        m_segStart[k] = starts[k];
        m_segPos[k] = positions[k];
    }
    m_segStart[count] = size;
    // Each segment fetches its last Rollback bytes again, within its range.
    const qint64 rollback = m_services.record ? m_services.record->Rollback : 4096;
    for (int k = 0; k < count; ++k) {
        m_segResume[k] = true;
        m_segPos[k] = std::max(m_segStart[k] + 1, m_segPos[k] - rollback);
    }
    return true;
}

void DownloadJob::removeSidecar() const
{
    if (!strSaveTo.isEmpty())
        QFile::remove(sidecarPath());
}

void DownloadJob::SetSegIndecies()
{
    const qint64 length = m_file.size();
    const qint64 rollback = m_services.record ? m_services.record->Rollback : 4096;
    if (length > rollback && m_segPos[0] < length)
        m_segPos[0] = std::min(length - rollback, m_segStart[1] + 1);
}

void DownloadJob::connectElement(int i)
{
    SocketArray *set = activeSet();
    SocketChannel *element = set->at(i);
    if (!element)
        element = set->create(i);
    m_conn[i] = Connection{};
    m_conn[i].parser = std::make_unique<HttpResponseParser>();
    const HttpEndpoint target = httpConnectTarget(
        url, m_services.record ? HttpProxySettings::fromRecord(*m_services.record) : HttpProxySettings{});
    element->connectToHost(target.host, quint16(target.port));
}

void DownloadJob::onDataConnected(int i)
{
    m_display.status = caption("11051", "Downloading...");
    setRow(Column::Status, m_display.status);
    const qint64 first = m_segResume[i] ? m_segPos[i] - 1 : m_segStart[i];
    const qint64 last = m_segStart[i + 1] - 1;
    Connection &c = m_conn[i];
    if (first > last) {
        // Nothing of this range is missing: ask for nothing, write nothing.
        c.done = true;
        activeSet()->at(i)->close();
        if (isFileDownloaded())
            completeDownload();
        return;
    }
    m_segPos[i] = first + 1;
    c.requested = HttpByteRange{first, last};
    const HttpProxySettings proxy =
        m_services.record ? HttpProxySettings::fromRecord(*m_services.record) : HttpProxySettings{};
    activeSet()->at(i)->send(httpDataRequest(url, c.requested, i, proxy));
    changed();
}

void DownloadJob::onDataArrived(int i)
{
    // Bytes that arrived just before the server closed are still taken.
    SocketChannel *element = activeSet()->at(i);
    if (!element || element->bytesAvailable() == 0 || m_state != State::Downloading)
        return;
    QByteArray chunk = element->takeData();
    Connection &c = m_conn[i];
    if (!c.parser || c.done)
        return;

    if (!c.accepted) {
        if (c.parser->feed(chunk) == HttpResponseParser::State::Failed) {
            failWith(QString::fromUtf8(c.parser->errorText()));
            return;
        }
        if (!c.parser->isComplete())
            return;
        const HttpResponseHeader &reply = c.parser->header();
        m_log += "\r\n" + reply.text() + "\r\n";
        const DataAcceptance a = acceptDataResponse(reply, c.requested, m_contentSize, m_services.captions);
        switch (a.action) {
        case DataAcceptance::Action::Fail:
            failWith(a.text);
            return;
        case DataAcceptance::Action::FallBackToFull:
            fallBackToFull(i);
            if (i != 0)
                return;
            // This very reply carries the whole file: write it from byte 0.
            c.requested = HttpByteRange{0, m_contentSize - 1};
            c.written = 0;
            c.maxBytes = m_contentSize;
            break;
        case DataAcceptance::Action::WritePartial:
        case DataAcceptance::Action::WriteFull:
            c.maxBytes = a.maxBytes;
            break;
        }
        c.accepted = true;
        chunk = c.parser->takeBody();
    }
    writeBody(i, std::move(chunk));
}

void DownloadJob::fallBackToFull(int i)
{
    // The server ignores ranges: one connection takes the whole body from
    // byte 0; every other connection is dropped and the plan collapses.
    for (int k = 1; k < MaxSegments; ++k) {
        if (activeSet()->at(k))
            activeSet()->destroy(k);
    }
    const bool wasSegmented = m_segments > 0;
    m_segments = 0;
    m_segStart[0] = 0;
    m_segStart[1] = m_contentSize;
    m_segPos[0] = 1;
    m_segResume.fill(false);
    if (wasSegmented)
        removeSidecar();
    LayoutBars(1);
    if (i != 0) {
        // Element 0 asked for its own range only; ask again for everything.
        if (SocketChannel *first = activeSet()->at(0))
            first->close();
        connectElement(0);
    }
}

void DownloadJob::writeBody(int i, QByteArray body)
{
    Connection &c = m_conn[i];
    const QByteArrayView wanted = clipToWanted(body, c.written, c.maxBytes);
    if (!wanted.isEmpty()) {
        m_emptyCloses = 0;
        if (!m_file.seek(m_segPos[i] - 1) || m_file.write(wanted.data(), wanted.size()) != wanted.size()) {
            failWith(caption("11002", "Error opening File") + QLatin1Char(' ') + strSaveTo + QStringLiteral(": ")
                     + m_file.errorString());
            return;
        }
        m_segPos[i] += wanted.size();
        c.written += wanted.size();
    }
    if (c.maxBytes >= 0 && c.written >= c.maxBytes) {
        c.done = true;
        activeSet()->at(i)->close();
    }
    Update(i);
}

void DownloadJob::onDataClosed(int i)
{
    if (m_state != State::Downloading)
        return;
    SocketArray *set = activeSet();
    if (isFileDownloaded()) {
        set->at(i)->close();
        if (i > 0)
            set->destroy(i);
        completeDownload();
        return;
    }
    const Connection &c = m_conn[i];
    if (c.done)
        return;
    m_segResume[i] = true;
    set->at(i)->close();
    if (c.written > 0) {
        // Closed before its range was complete: continue where it stopped.
        connectElement(i);
        return;
    }
    // Closed without a byte: try again later, each time waiting longer, and
    // give up after the retry budget.
    const bool retry = m_services.record ? m_services.record->Retry : true;
    const int retries = m_services.record ? m_services.record->Retries : 30;
    if (!retry || ++m_emptyCloses > retries) {
        failWith(QStringLiteral("The server keeps closing the connection without sending the file."));
        return;
    }
    const int steps = std::min(m_emptyCloses - 1, 5);
    const auto delay = m_services.timing.stallSecond * (1 << steps);
    const quint64 generation = m_generation;
    QTimer::singleShot(delay, this, [this, i, generation] {
        if (generation == m_generation && m_state == State::Downloading)
            connectElement(i);
    });
}

void DownloadJob::onDataError(int i, int number, const QString &description)
{
    if (m_services.prompts) {
        const QString text = caption("11033", "Error was occurred.") + QLatin1Char('\n') + caption("11034", "")
                             + QString::number(number) + QLatin1Char('\n') + description;
        m_services.prompts->message({text, caption("11035", "Error"), PromptIcon::Warning, PromptButtons::Ok});
    }
    // A connection that failed is tried again like one the server closed,
    // within the same budget, so a download never waits forever.
    onDataClosed(i);
}

// ---------------------------------------------------------------- progress

qint64 DownloadJob::TotalReceived() const
{
    qint64 total = m_segPos[0] - 1;
    for (int k = 1; k < m_segments; ++k)
        total += m_segPos[k] - m_segStart[k] - 1;
    return std::max<qint64>(total, 0);
}

bool DownloadJob::isFileDownloaded() const
{
    if (!m_planned || !m_sizeKnown)
        return false;
    if (m_segments == 0)
        return m_segPos[0] - 1 >= m_contentSize;
    for (int k = 0; k < m_segments; ++k) {
        if (m_segPos[k] - 1 < m_segStart[k + 1])
            return false;
    }
    return true;
}

void DownloadJob::Update(int i)
{
    const qint64 total = TotalReceived();
    const int percent = m_sizeKnown ? percentOf(total, m_contentSize) : 0;
    m_display.percent = percent;
    m_display.caption = url.fileName() + QStringLiteral(" [") + QString::number(percent) + QStringLiteral("%]");
    if (url.FTPMODE && !m_display.segmentBars.isEmpty()) {
        m_display.segmentBars[0] = percent;
    } else if (i >= 0 && i < m_display.segmentBars.size()) {
        const qint64 start = m_segStart[i];
        m_display.segmentBars[i] = percentOf(m_segPos[i] - 1 - start, m_segStart[i + 1] - start);
    }
    setRow(Column::Progress, QString::number(percent) + QLatin1Char('%'));
    changed();
    if (isFileDownloaded())
        completeDownload();
}

void DownloadJob::LayoutBars(int bars)
{
    m_display.mainBarVisible = bars > 1;
    m_display.segmentBars = QList<int>(std::max(bars, 1), 0);
    changed();
}

void DownloadJob::closeFiles()
{
    if (m_file.isOpen())
        m_file.close();
    for (int &bar : m_display.segmentBars)
        bar = 100;
}

void DownloadJob::completeDownload()
{
    if (m_state == State::Complete || !m_planned)
        return;
    m_state = State::Complete;
    const qint64 total = TotalReceived();

    CloseAll();
    m_probe->close();
    m_display.restoreRequested = true;
    m_display.percent = percentOf(total, m_contentSize);
    if (m_file.isOpen() && m_file.size() > m_contentSize)
        m_file.resize(m_contentSize); // a longer file of an earlier attempt
    closeFiles();
    removeSidecar();
    intTransferRate = 0;
    intRecievedBytes = total;
    stopTimers();
    m_display.countdownVisible = false;
    m_display.received = FormatSize(total);
    m_display.rate = QStringLiteral("0 Bytes/Second");
    m_display.timeLeft = FormatTime(0);
    m_display.status = caption("11046", "Transfer Completed...");
    setRow(Column::Received, m_display.received);
    setRow(Column::Status, caption("11052", "Download Success"));
    m_display.openVisible = true;
    m_display.pauseEnabled = false;
    m_display.stopEnabled = true;
    m_display.stopText = m_closeCaption;

    if (m_services.mainList && m_services.mainList->contains(lstItem)) {
        if (m_services.completeList)
            m_services.completeList->addRow(m_services.mainList->values(lstItem).mid(0, 6), 4);
        m_services.mainList->removeRowById(lstItem);
    }

    bool prompt = false;
    bool closeWindow = false;
    if (m_services.record && m_services.reg) {
        SettingsRecord &r = *m_services.record;
        r.Downloads += 1;
        r.AllBytes += total;
        CRegister &reg = *m_services.reg;
        reg.REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QStringLiteral("Downloads"),
                           QString::number(r.Downloads));
        reg.REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QStringLiteral("AllBytes"),
                           QString::number(r.AllBytes));
        const auto storedIsOne = [&](const char *key) {
            return conv::toNumber(reg.REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection,
                                                    QLatin1String(key), QString()))
                       .value_or(0) == 1;
        };
        prompt = storedIsOne("PromptDone");
        closeWindow = storedIsOne("CloseDownloadWindowWhenDone");
    }
    changed();
    finish(Outcome::Completed);
    if (prompt && m_services.prompts)
        m_services.prompts->inform(caption("11031", "Download Successful."), m_services.appTitle,
                                   PromptIcon::Information);
    if (closeWindow)
        Q_EMIT closeRequested();
}

// ---------------------------------------------------------------- timers

void DownloadJob::onUpdateTick()
{
    const qint64 total = TotalReceived();
    intRecievedBytes = total;
    if (!isFileDownloaded()) {
        m_display.received = FormatSize(total);
        m_elapsed += 0.5;
        m_display.elapsed = FormatTime(double(qint64(m_elapsed)));
        setRow(Column::Received, m_display.received);
        changed();
    } else {
        completeDownload();
    }
}

void DownloadJob::onRateTick()
{
    const qint64 total = TotalReceived();
    intRecievedBytes = total;
    if (total >= m_contentSize)
        return;
    m_display.received = FormatSize(total);
    // Bytes per second over the time that really passed since the last tick.
    const double seconds = m_rateClock.isValid() ? std::max(0.001, m_rateClock.restart() / 1000.0)
                                                 : m_services.timing.rate.count() / 1000.0;
    if (!m_rateClock.isValid())
        m_rateClock.start();
    const double rate = double(total - m_lastTotal) / seconds;
    m_display.rate = FormatSize(rate) + QStringLiteral(" /Second");
    if (rate != 0)
        intTransferRate = rate;
    m_display.timeLeft = rate > 0 ? FormatTime(double(m_contentSize - total) / rate) : FormatTime(0);
    m_lastTotal = total;
    saveSidecar(); // a crash or kill loses at most a few seconds of segment progress
    changed();
}

void DownloadJob::onTimeoutTick()
{
    m_timeLeft -= 1;
    m_display.countdown = QStringLiteral("Timeout: ") + QString::number(m_timeLeft) + QStringLiteral(" sec.");
    m_display.countdownVisible = true;
    changed();
    if (m_timeLeft >= 1)
        return;

    const QString text = QStringLiteral("Connection has timed out.");
    m_display.status = text;
    setRow(Column::Progress, text);
    const int timeout = m_services.record ? m_services.record->Timeout : 60;
    const bool retry = m_services.record ? m_services.record->Retry : true;
    const int retries = m_services.record ? m_services.record->Retries : 30;
    if (!retry || m_retries > retries) {
        CloseAll();
        m_probe->close();
        m_timeLeft = timeout;
        m_tmrTimeOut.stop();
        m_state = State::Waiting;
        stopTimers();
        intTransferRate = 0;
        changed();
        finish(Outcome::Failed);
        return;
    }
    m_retries += 1;
    CloseAll();
    m_timeLeft = timeout;
    startInternal();
}

void DownloadJob::onStallTick()
{
    const qint64 total = TotalReceived();
    intRecievedBytes = total;
    // The detector pauses a transfer that delivered nothing since its last
    // tick and resumes it at the next; a pause or stop of the user's is left
    // alone.
    const bool stalled = total == m_stallTotal;
    m_stallTotal = total;
    if (m_state == State::Downloading && stalled) {
        pauseTransfer();
        m_pausedByStall = true;
    } else if (m_state == State::Paused && m_pausedByStall) {
        resumeTransfer();
    }
}

// ---------------------------------------------------------------- control

void DownloadJob::CloseAll()
{
    ++m_generation; // reconnects scheduled before this do not happen
    m_tmrUpdate2.stop();
    m_tmrUpdate.stop();
    m_display.rate = QStringLiteral("0 Bytes/Second");
    for (SocketArray *set : {m_wsHTTP, m_wsHTTP1}) {
        for (int i : set->indexes())
            set->at(i)->close();
    }
    if (url.FTPMODE) {
        m_wsFTPData->close();
        m_file.close();
        m_ftpTransferring = false;
    }
    changed();
}

void DownloadJob::Pause_Resume()
{
    if (isFileDownloaded() || m_finished)
        return;
    if (m_display.pauseText == m_pauseCaption)
        pauseTransfer();
    else
        resumeTransfer();
}

void DownloadJob::pauseTransfer()
{
    m_pausedByStall = false;
    m_display.pauseText = m_resumeCaption;
    m_display.stopEnabled = false;
    CloseAll();
    if (!m_planned)
        m_probe->close(); // paused before the server answered
    if (url.FTPMODE)
        m_ftp = ftpPausedState(m_ftp);
    m_tmrTimeOut.stop();
    m_display.countdownVisible = false;
    intTransferRate = 0;
    setRow(Column::Status, caption("11055", "Paused/Stopped"));
    m_state = State::Paused;
    saveSidecar();
    changed();
}

void DownloadJob::resumeTransfer()
{
    m_pausedByStall = false;
    setRow(Column::Status, caption("11051", "Downloading"));
    m_display.pauseText = m_pauseCaption;
    m_display.stopEnabled = true;
    m_display.stopText = m_stopCaption;
    m_display.pauseEnabled = true;
    if (url.FTPMODE) {
        resumeFtp();
        return;
    }
    if (!m_planned) {
        m_existChoice = -1; // keep whatever arrived before the pause
        startInternal();
        return;
    }
    if (!openSaveFile())
        return;
    // Every connection fetches its last Rollback bytes again, never reaching
    // back into the range before its own.
    const qint64 rollback = m_services.record ? m_services.record->Rollback : 4096;
    const int count = std::max(m_segments, 1);
    for (int k = 0; k < count; ++k) {
        m_segResume[k] = true;
        if (m_segPos[k] > rollback)
            m_segPos[k] = std::max(m_segStart[k] + 1, m_segPos[k] - rollback);
        connectElement(k);
    }
    m_state = State::Downloading;
    m_emptyCloses = 0;
    m_tmrUpdate.start();
    m_tmrUpdate2.start();
    changed();
}

void DownloadJob::StopMe()
{
    if (m_ftp.intFTPState == 550 || m_display.stopText == m_closeCaption || isFileDownloaded() || m_finished) {
        close();
        Q_EMIT closeRequested();
        return;
    }
    if (m_segments > 0 && m_services.prompts) {
        const PromptAnswer answer = m_services.prompts->ask(
            caption("13021", "you will not be able to resume this file later(Segmented mode only), Stop?"),
            m_services.appTitle, PromptButtons::YesNo, PromptIcon::Question);
        if (answer != PromptAnswer::Yes)
            return;
    }
    m_display.pauseText = m_resumeCaption;
    m_display.stopEnabled = false;
    StopDown();
    setRow(Column::Status, caption("11055", "Paused/Stopped"));
}

void DownloadJob::StopDown()
{
    CloseAll();
    if (!m_planned)
        m_probe->close();
    m_display.percent = percentOf(intRecievedBytes, m_contentSize);
    closeFiles();
    intTransferRate = 0;
    m_tmrTimeOut.stop();
    m_display.countdownVisible = false;
    m_display.received = FormatSize(TotalReceived());
    m_display.rate = QStringLiteral("0 Bytes/Second");
    m_display.timeLeft = FormatTime(0);
    m_display.status = caption("11056", "Transfer Stopped");
    setRow(Column::Received, m_display.received);
    m_tmrUpdate.stop();
    m_tmrUpdate2.stop();
    m_display.openVisible = true;
    m_display.pauseEnabled = false;
    m_display.stopEnabled = true;
    m_display.stopText = m_closeCaption;
    if (m_state != State::Complete && m_state != State::Waiting)
        m_state = State::Stopped;
    if (m_planned && m_state != State::Complete)
        saveSidecar();
    changed();
}

void DownloadJob::close()
{
    if (m_state == State::Closed)
        return;
    if (m_state != State::Complete)
        StopDown();
    stopTimers();
    m_probe->close();
    m_file.close();
    m_state = State::Closed;
    finish(Outcome::Cancelled);
}
