#include "download/httptransfer.h"

#include "download/httpprotocol.h"
#include "platform/socketchannel.h"

#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

namespace {

constexpr qsizetype MaxPageBytes = 1 << 20;   // how much of a page is searched for the file
constexpr qsizetype MaxHeldProbeBytes = 1 << 20; // probe body kept while the owner answers

const QByteArray KeepsClosing = "The server keeps closing the connection without sending the file.";
const QByteArray PageWithoutLink = "The server sent a page that does not link to the file.";
const QByteArray BadChunk = "The server sent a chunked body that cannot be read.";
const QString RefusedLink = QStringLiteral("The page links to an address that cannot be downloaded: ");
const QString TooManyRedirects = QStringLiteral("Too many redirects.");
const QString ChangedOnServer =
    QStringLiteral("The file on the server has changed: downloading it again from the start.");
const QString PlanLost =
    QStringLiteral("The segments of the partial file are not known: downloading it again from the start.");

// The plan's end while the size is unknown: the body runs to its end.
constexpr qint64 UnknownEnd = std::numeric_limits<qint64>::max() / 2;

bool sameServer(const UrlFields &a, const UrlFields &b)
{
    return a.HTTPMODE == b.HTTPMODE && a.intPort == b.intPort && a.strServer.compare(b.strServer, Qt::CaseInsensitive) == 0;
}

TransferStatus captionOrText(const QString &captionId, const QString &text)
{
    // Judged without a lookup, the text is the caption's English default.
    return captionId.isEmpty() ? TransferStatus::plain(text) : TransferStatus::caption(captionId, text);
}

// The server lets a connection carry another request after this reply.
bool keepsAlive(const HttpResponseHeader &reply)
{
    return reply.text().startsWith("HTTP/1.1") && !reply.value("connection").toLower().contains("close");
}

} // namespace

std::unique_ptr<TransferProtocol> createHttpTransfer(TransferHost &host, const UrlFields &url)
{
    return std::make_unique<HttpTransfer>(host, url);
}

HttpTransfer::HttpTransfer(TransferHost &host, UrlFields url)
    : TransferProtocol(host, std::move(url)), m_group(host.channels())
{
    m_conns.resize(1);
}

HttpTransfer::~HttpTransfer()
{
    m_file.close();
}

bool HttpTransfer::takeHeader(Connection &c, const QByteArray &chunk)
{
    // Feeds a reply's bytes to its parser; true once the whole header is in
    // (and logged). A header that cannot be parsed ends the download.
    if (c.parser.feed(chunk) == HttpResponseParser::State::Failed) {
        const QByteArray why = c.parser.errorText();
        failWith(FailureKind::Protocol, 0, why, TransferStatus::plain(QString::fromUtf8(why)));
        return false;
    }
    if (!c.parser.isComplete())
        return false;
    m_host.appendLog("\r\n" + c.parser.header().text() + "\r\n");
    return true;
}

SocketChannel *HttpTransfer::channelAt(int slot)
{
    Connection &c = m_conns[slot];
    if (!c.channel) {
        auto *channel = new SocketChannel(m_group, this);
        connect(channel, &SocketChannel::connected, this, [this, slot] { onConnected(slot); });
        connect(channel, &SocketChannel::dataArrived, this, [this, slot] { onData(slot); });
        connect(channel, &SocketChannel::closed, this, [this, slot] { onClosed(slot); });
        connect(channel, &SocketChannel::errorOccurred, this,
                [this, slot](int number, const QString &text) { onError(slot, number, text); });
        connect(channel, &SocketChannel::encrypted, this, [this, slot] { onConnected(slot); });
        connect(channel, &SocketChannel::tlsFailed, this, [this](const TlsFailure &failure) { onTlsFailed(failure); });
        c.channel = channel;
    }
    return c.channel;
}

// ---------------------------------------------------------------- control

void HttpTransfer::start()
{
    m_stage = Stage::Probe;
    connectProbe();
}

void HttpTransfer::suspend(bool keepPlan)
{
    if (m_stage == Stage::Ended)
        return;
    ++m_generation; // reconnects scheduled before this do not happen
    for (int k = 0; k < m_conns.size(); ++k)
        closeSlot(k);
    m_probeBody.clear();
    m_file.close();
    if (keepPlan && m_planned && m_plan.isSegmented())
        m_plan.save(m_host.request().saveTo);
    m_stage = Stage::Suspended;
}

void HttpTransfer::resume()
{
    if (m_stage != Stage::Suspended || !m_planned)
        return;
    m_stage = Stage::Data;
    m_emptyCloses = 0;
    if (!openFile())
        return;
    if (m_size < 0)
        m_plan = SegmentPlan::single(UnknownEnd, 0); // a body of unknown size cannot be continued
    // Every connection fetches its last Rollback bytes again, never reaching
    // back into the range before its own.
    const qint64 rollback = m_host.settings().rollback;
    for (Connection &c : m_conns) {
        if (c.range >= 0)
            m_plan.rollBack(c.range, rollback);
    }
    for (int k = 0; k < m_conns.size(); ++k) {
        if (m_conns[k].range < 0) {
            m_conns[k].range = nextRange();
            if (m_conns[k].range >= 0)
                m_conns[k].shownRange = m_conns[k].range;
        }
        if (m_conns[k].range >= 0)
            connectSlot(k);
    }
    if (m_plan.isComplete())
        finishComplete();
}

void HttpTransfer::shutdown()
{
    if (m_stage == Stage::Ended)
        return;
    m_stage = Stage::Ended;
    ++m_generation;
    for (int k = 0; k < m_conns.size(); ++k)
        closeSlot(k);
    m_file.close();
}

qint64 HttpTransfer::received() const
{
    return m_planned ? m_plan.received() : 0;
}

QList<SegmentProgress> HttpTransfer::segments() const
{
    QList<SegmentProgress> out;
    if (!m_planned)
        return out;
    for (const Connection &c : m_conns) {
        if (c.shownRange < 0)
            continue;
        const SegmentRange &r = m_plan.range(c.shownRange);
        out.append(SegmentProgress{r.start, m_size < 0 ? -1 : r.end, r.pos - r.start});
    }
    return out;
}

int HttpTransfer::connections() const
{
    return m_planned && m_plan.isSegmented() ? m_plan.connections() : 0;
}

void HttpTransfer::checkpoint()
{
    if (m_stage == Stage::Data && m_planned && m_plan.isSegmented())
        m_plan.save(m_host.request().saveTo);
}

void HttpTransfer::closeSlot(int slot)
{
    Connection &c = m_conns[slot];
    if (c.channel)
        c.channel->close();
    c.phase = Connection::Phase::Idle;
    c.accepted = false;
    c.reused = false;
    c.tunnelling = false;
}

void HttpTransfer::failWith(FailureKind kind, int code, const QByteArray &serverText, const TransferStatus &status)
{
    shutdown();
    m_host.fail(kind, code, serverText, status);
}

void HttpTransfer::failFile(const QString &why)
{
    TransferStatus s;
    s.captionId = QStringLiteral("11002");
    s.defaultText = QStringLiteral("Error opening File");
    s.suffix = QLatin1Char(' ') + m_host.request().saveTo + QStringLiteral(": ") + why;
    failWith(FailureKind::FileError, 0, why.toUtf8(), s);
}

bool HttpTransfer::writeAt(qint64 offset, QByteArrayView bytes)
{
    const int error = m_host.writeFile(m_file, offset, bytes);
    if (error == 0)
        return true;
    if (error == ENOSPC) {
        // Nothing of these bytes counts: the job pauses, and the resume
        // fetches them again once there is room.
        m_host.diskFull();
        return false;
    }
    failFile(QString::fromLocal8Bit(std::strerror(error)));
    return false;
}

// ---------------------------------------------------------------- events

HttpProxySettings HttpTransfer::requestProxy() const
{
    return m_url.secure ? HttpProxySettings() : m_host.settings().proxy;
}

void HttpTransfer::secureSlot(int slot)
{
    Connection &c = m_conns[slot];
    if (httpConnectTarget(m_url, m_host.settings().proxy).throughProxy) {
        // The proxy opens a tunnel; its credentials go on the CONNECT only.
        c.tunnelling = true;
        c.parser.reset();
        c.channel->send(httpTunnelRequest(m_url, m_host.settings().proxy));
        return;
    }
    c.channel->startEncryption(m_url.strServer);
}

void HttpTransfer::onTunnelData(int slot)
{
    Connection &c = m_conns[slot];
    const QByteArray chunk = c.channel->takeData();
    if (!takeHeader(c, chunk))
        return;
    const HttpResponseHeader &reply = c.parser.header();
    c.tunnelling = false;
    if (reply.statusCode() / 100 != 2) {
        const QString answer = QString::number(reply.statusCode()) + QLatin1Char(' ')
            + QString::fromUtf8(reply.reasonPhrase());
        failWith(FailureKind::HttpStatus, reply.statusCode(), reply.reasonPhrase(),
                 TransferStatus::plain(QStringLiteral("The proxy refused the tunnel to %1: HTTP %2")
                                           .arg(m_url.strServer, answer)));
        return;
    }
    c.parser.reset();
    c.channel->startEncryption(m_url.strServer);
}

void HttpTransfer::onTlsFailed(const TlsFailure &failure)
{
    if (m_trustAsked)
        return; // the other connections wait for the same answer
    if (failure.certificate) {
        // The owner may trust this certificate; the download then starts
        // again from the probe and the handshake accepts it.
        m_trustAsked = true;
        const bool asked = m_host.askTrust(failure, [this, failure](bool yes) {
            m_trustAsked = false;
            if (yes)
                m_host.restartWith(ComposeURL(m_url));
            else
                failTls(failure);
        });
        if (asked)
            return;
        m_trustAsked = false;
    }
    failTls(failure);
}

void HttpTransfer::failTls(const TlsFailure &failure)
{
    // Nothing goes over a connection that is not secure as it should be:
    // the download stops with the host and the reasons.
    const TransferOutcome o = tlsFailureOutcome(failure);
    failWith(o.failure, 0, o.serverText, o.status);
}

void HttpTransfer::onConnected(int slot)
{
    if (m_url.secure && !m_conns[slot].channel->isEncrypted()) {
        secureSlot(slot);
        return;
    }
    if (m_stage == Stage::Probe && slot == 0) {
        m_conns[0].channel->send(httpProbeRequest(m_url, m_fullRange, requestProxy()));
        return;
    }
    if (m_stage == Stage::Data && m_conns[slot].phase == Connection::Phase::Connecting)
        sendRequest(slot);
}

void HttpTransfer::onData(int slot)
{
    SocketChannel *channel = m_conns[slot].channel;
    if (!channel || channel->bytesAvailable() == 0)
        return;
    if (m_conns[slot].tunnelling) {
        onTunnelData(slot);
        return;
    }
    QByteArray chunk = channel->takeData();
    if (slot == 0 && (m_stage == Stage::Probe || m_stage == Stage::Asking)) {
        onProbeData(chunk);
        return;
    }
    if (m_stage == Stage::Data)
        onDataChunk(slot, std::move(chunk));
}

void HttpTransfer::onClosed(int slot)
{
    if (slot == 0 && m_stage == Stage::Probe) {
        onProbeClosed();
        return;
    }
    if (m_stage != Stage::Data)
        return;
    Connection &c = m_conns[slot];
    if (c.range < 0 || c.phase == Connection::Phase::Idle || c.phase == Connection::Phase::BackingOff)
        return;
    c.channel->close();
    c.phase = Connection::Phase::Idle;
    if (c.accepted && !c.chunked && c.maxBytes < 0 && m_size < 0) {
        finishUnknownSize(slot); // a body without a length ends with its connection
        return;
    }
    // Closed before its range was complete. When this attempt added to the
    // file, it continues where it stopped at once (a kept-alive connection
    // the server let go is simply made again); one that added nothing new
    // (a server that drops at the same place and ignores ranges) backs off
    // within the budget.
    const qint64 present = m_plan.received();
    const bool progressed = (c.written > 0 || (c.reused && !c.accepted)) && present > c.best;
    c.best = std::max(c.best, present);
    if (m_size < 0) {
        // A body of unknown size cannot be continued: it starts over.
        m_plan = SegmentPlan::single(UnknownEnd, 0);
    }
    if (progressed) {
        connectSlot(slot);
        return;
    }
    reconnectLater(slot);
}

void HttpTransfer::reconnectLater(int slot)
{
    // Try again later, each time waiting longer, and give up after the
    // retry budget.
    Connection &c = m_conns[slot];
    const TransferSettings &s = m_host.settings();
    if (!s.retry || ++m_emptyCloses > s.retries) {
        failWith(FailureKind::ServerKeepsClosing, 0, {}, TransferStatus::plain(QString::fromUtf8(KeepsClosing)));
        return;
    }
    const int steps = std::min(m_emptyCloses - 1, 5);
    const auto delay = m_host.timing().stallSecond * (1 << steps);
    c.phase = Connection::Phase::BackingOff;
    QTimer::singleShot(delay, this, [this, slot, generation = m_generation] {
        if (generation == m_generation && m_stage == Stage::Data
            && m_conns[slot].phase == Connection::Phase::BackingOff)
            connectSlot(slot);
    });
}

void HttpTransfer::onError(int slot, int number, const QString &description)
{
    if (slot == 0 && m_stage == Stage::Probe) {
        // The probe could not reach the server; the time-out retries it.
        m_host.setStatus(TransferStatus::plain(description));
        m_conns[0].channel->close();
        return;
    }
    if (m_stage != Stage::Data || m_conns[slot].range < 0)
        return;
    m_host.notice(TransferNotice{TransferNotice::Kind::DataError, number, description});
    // A connection that failed is tried again like one the server closed,
    // within the same budget, so a download never waits forever.
    onClosed(slot);
}

// ---------------------------------------------------------------- probe

void HttpTransfer::connectProbe()
{
    Connection &c = m_conns[0];
    closeSlot(0);
    m_probeParser.reset();
    m_pageBody.clear();
    m_pageDecoder.reset();
    m_pageMode = false;
    m_host.armTimeout(); // every probe must be answered within the time-out
    const HttpEndpoint target = httpConnectTarget(m_url, m_host.settings().proxy);
    c.phase = Connection::Phase::Connecting;
    channelAt(0)->setEncryptable(m_url.secure);
    channelAt(0)->connectToHost(target.host, quint16(target.port));
}

void HttpTransfer::onProbeClosed()
{
    if (m_pageMode) {
        // The page ended without naming the file.
        failWith(FailureKind::PageWithoutLink, 0, {}, TransferStatus::plain(QString::fromUtf8(PageWithoutLink)));
    } else if (!m_probeParser.isComplete()) {
        m_conns[0].channel->close(); // no reply: the time-out restarts the download
    }
}

void HttpTransfer::onProbeData(const QByteArray &chunk)
{
    // The countdown stops only for a whole header (a server that sends it a
    // byte at a time forever times out) or a page that names the file.
    if (m_stage == Stage::Asking) {
        // The owner has not answered yet: keep the start of the file, but
        // not without bound; beyond it the first connection asks again.
        m_probeBody += chunk;
        if (m_probeBody.size() > MaxHeldProbeBytes) {
            m_probeBody.clear();
            m_probeCovers = false;
            closeSlot(0);
        }
        return;
    }
    if (m_probeParser.isComplete()) {
        if (m_pageMode) {
            m_pageBody += m_probeChunked ? m_pageDecoder.feed(chunk) : chunk;
            handlePageBody();
        }
        return;
    }
    if (m_probeParser.feed(chunk) == HttpResponseParser::State::Failed) {
        const QByteArray why = m_probeParser.errorText();
        failWith(FailureKind::Protocol, 0, why, TransferStatus::plain(QString::fromUtf8(why)));
        return;
    }
    if (!m_probeParser.isComplete())
        return; // the header is not complete yet

    const HttpResponseHeader &reply = m_probeParser.header();
    m_host.appendLog("\r\n" + reply.text() + "\r\n");
    m_probeChunked = reply.isChunked();

    ProbeContext context;
    context.url = m_url;
    context.redirects = m_host.redirects();
    context.fullRange = m_fullRange;
    const ProbeDecision decision = ProcessProbeReply(reply, context, CaptionLookup());

    switch (decision.action) {
    case ProbeDecision::Action::Fail: {
        FailureKind kind = FailureKind::HttpStatus;
        if (decision.captionId.isEmpty() && decision.statusCode >= 300 && decision.statusCode < 400)
            kind = decision.text.contains(QStringLiteral("redirects")) ? FailureKind::TooManyRedirects
                                                                        : FailureKind::Protocol;
        failWith(kind, decision.statusCode, reply.reasonPhrase(), captionOrText(decision.captionId, decision.text));
        return;
    }
    case ProbeDecision::Action::PageMode:
        m_pageMode = true;
        m_pageBody = m_probeParser.takeBody();
        if (m_probeChunked)
            m_pageBody = m_pageDecoder.feed(m_pageBody);
        handlePageBody();
        return;
    case ProbeDecision::Action::Redirect:
        m_host.replyArrived();
        m_host.setRedirects(decision.redirects);
        followLink(decision.url, decision.restartWindow);
        return;
    case ProbeDecision::Action::RetryFullRange:
        m_fullRange = true;
        connectProbe();
        return;
    case ProbeDecision::Action::StartTransfer:
        m_host.replyArrived();
        m_validators = FileValidators{decision.contentSize, reply.value("etag"), reply.value("last-modified"), false};
        break;
    }

    // Is this body the file from its first byte? Then it is kept.
    const int code = reply.statusCode();
    const std::optional<ContentRange> range = reply.contentRange();
    m_probeCovers = code == 200 || (code == 206 && range && !range->unsatisfied && range->first == 0);
    m_probeMax = code == 200 ? decision.contentSize : (range && !range->unsatisfied ? range->length() : -1);
    m_probeKeepAlive = keepsAlive(reply);
    m_probeBody = m_probeCovers ? m_probeParser.takeBody() : QByteArray();
    if (!m_probeCovers)
        closeSlot(0);
    planData(decision.contentSize, decision.partial);
}

void HttpTransfer::handlePageBody()
{
    const QString found = FindSrcURL(m_pageBody, m_url.fileName());
    if (found.isEmpty()) {
        if (m_pageBody.size() > MaxPageBytes || m_pageDecoder.isDone() || m_pageDecoder.hasFailed())
            failWith(FailureKind::PageWithoutLink, 0, {}, TransferStatus::plain(QString::fromUtf8(PageWithoutLink)));
        return; // more of the page may follow
    }
    const QString target = resolveLocation(m_url, found.toUtf8());
    const QString next = target.isEmpty() ? found : target;
    if (!isDownloadableUrl(next)) {
        failWith(FailureKind::Protocol, 0, {}, TransferStatus::plain(RefusedLink + next));
        return;
    }
    // A page's link is followed like a redirect and counts toward their cap,
    // so a page that links to itself ends.
    const RedirectStep step = nextRedirect(m_host.redirects());
    if (!step.allowed) {
        failWith(FailureKind::TooManyRedirects, 0, {}, TransferStatus::plain(TooManyRedirects));
        return;
    }
    m_host.replyArrived();
    m_host.setRedirects(step.redirects);
    followLink(next, false);
}

void HttpTransfer::followLink(const QString &url, bool restart)
{
    UrlFields next = ParseURL(url, m_host.logins(), m_url);
    // The URL's credentials go to its own server only, never to another
    // host a redirect names.
    if (next.strUserName.isEmpty() && sameServer(next, m_url)) {
        next.strUserName = m_url.strUserName;
        next.strPassword = m_url.strPassword;
    }
    m_url = next;
    m_host.urlChanged(url, m_url);
    if (restart || m_url.FTPMODE) {
        // An ftp:// target goes on with the FTP protocol.
        m_host.restartWith(url);
        return;
    }
    connectProbe();
}

// ---------------------------------------------------------------- plan

void HttpTransfer::planData(qint64 size, bool partial)
{
    m_size = size;
    m_host.sizeKnown(size, size >= 0);
    if (size < 0) {
        // The body runs to its end: one connection, from byte 0.
        beginData(SegmentPlan::single(UnknownEnd, 0));
        return;
    }
    const TransferSettings &s = m_host.settings();
    const QString &saveTo = m_host.request().saveTo;
    bool resuming = m_host.existing() == ExistingFile::Resume;

    // A partial file is continued only when it is part of this same file:
    // a changed file (other validators, or smaller than what is here) and a
    // segmented file whose plan is lost (its holes are zeros) start over.
    if (resuming && QFileInfo::exists(saveTo)) {
        const std::optional<FileValidators> stored = FileValidators::load(saveTo);
        QString why;
        if ((stored && stored->differsFrom(m_validators)) || QFileInfo(saveTo).size() > size)
            why = ChangedOnServer;
        else if (stored && stored->segmented && !SegmentPlan::load(saveTo, size, s.rollback))
            why = PlanLost;
        if (!why.isEmpty()) {
            m_startOver = true;
            m_startOverWhy = why;
            resuming = false;
            SegmentPlan::remove(saveTo);
        }
    }

    // A segmented download that was stopped left its plan beside the file.
    if (resuming && size > 0) {
        if (std::optional<SegmentPlan> restored = SegmentPlan::load(saveTo, size, s.rollback)) {
            beginData(*restored);
            return;
        }
    }
    if (SegmentPlan::offersSegments(s.segment, s.segmentSize, size, resuming)) {
        const int count = SegmentPlan::segmentsForSize(size, s.segmentSize, 0);
        m_stage = Stage::Asking;
        m_host.ask(TransferQuestion::Kind::UseSegments, partial, count, [this, size, count](bool yes) {
            if (m_stage != Stage::Asking)
                return;
            beginData(yes && count > 1 ? SegmentPlan::split(size, count) : SegmentPlan::single(size));
        });
        return;
    }
    qint64 from = 0;
    if (resuming) {
        // Continue from the file's length, fetching its last Rollback bytes again.
        const qint64 length = QFileInfo(saveTo).size();
        if (length > s.rollback)
            from = std::min(length - s.rollback - 1, size);
    }
    beginData(SegmentPlan::single(size, from));
}

bool HttpTransfer::openFile()
{
    if (m_file.isOpen())
        return true;
    m_file.setFileName(m_host.request().saveTo);
    QIODevice::OpenMode mode = QIODevice::ReadWrite | QIODevice::Unbuffered;
    // An overwritten file is kept until the server accepted the download.
    const bool replace = (m_host.existing() == ExistingFile::Overwrite || m_startOver) && !m_replaced;
    if (replace) {
        mode |= QIODevice::Truncate;
        SegmentPlan::remove(m_host.request().saveTo);
    }
    if (!m_file.open(mode)) {
        failFile(m_file.errorString());
        return false;
    }
    m_replaced = m_replaced || replace;
    return true;
}

void HttpTransfer::beginData(SegmentPlan plan)
{
    m_plan = std::move(plan);
    m_planned = true;
    m_stage = Stage::Data;
    m_emptyCloses = 0;
    if (!openFile())
        return;
    if (m_plan.isSegmented())
        m_plan.save(m_host.request().saveTo);
    if (m_size > 0) {
        m_validators.segmented = m_plan.isSegmented();
        m_validators.save(m_host.request().saveTo);
    }
    m_host.setState(TransferState::Downloading);
    m_host.setStatus(m_startOverWhy.isEmpty()
                         ? TransferStatus::caption(QStringLiteral("11051"), QStringLiteral("Downloading..."))
                         : TransferStatus::plain(m_startOverWhy));
    m_host.dataPhaseStarted(false);
    if (m_size == 0 || m_plan.isComplete()) {
        finishComplete();
        return;
    }

    m_conns.resize(m_plan.connections());
    const QList<int> open = m_plan.incomplete();
    for (int k = 0; k < m_conns.size(); ++k)
        m_conns[k].range = k < open.size() ? open.at(k) : -1;
    // A restored plan may have fewer open ranges than connections: the
    // others take halves at once.
    for (int k = 0; k < m_conns.size(); ++k) {
        if (m_conns[k].range < 0 && m_plan.isSegmented())
            m_conns[k].range = nextRange();
        m_conns[k].shownRange = m_conns[k].range;
    }

    // The probe's body is the start of the first range when that range
    // starts at byte 0 and nothing of it is written yet.
    Connection &first = m_conns[0];
    const bool fresh = first.range >= 0 && m_plan.range(first.range).start == 0 && m_plan.range(first.range).pos == 0;
    const bool useProbe = m_probeCovers && fresh;
    const bool continueProbe = useProbe && first.channel && first.channel->isConnected();
    if (!continueProbe)
        closeSlot(0);
    for (int k = continueProbe ? 1 : 0; k < m_conns.size(); ++k) {
        if (m_conns[k].range >= 0 && !(k == 0 && useProbe && !continueProbe))
            connectSlot(k);
    }
    if (!useProbe) {
        m_probeBody.clear();
        return;
    }
    first.requested = HttpByteRange{0, m_size < 0 ? -1 : m_size - 1};
    first.accepted = true;
    first.chunked = m_probeChunked;
    first.decoder.reset();
    first.written = 0;
    first.writePos = 0;
    first.maxBytes = m_probeMax;
    first.keepAlive = m_probeKeepAlive;
    first.phase = continueProbe ? Connection::Phase::Body : Connection::Phase::Idle;
    first.clock.start();
    first.clocked = 0;
    QByteArray body = std::exchange(m_probeBody, QByteArray());
    if (continueProbe) {
        takeBody(0, body);
        return;
    }
    if (first.chunked) {
        body = first.decoder.feed(body);
        first.chunked = false; // the rest is asked for anew
    }
    // The probe connection is gone: write what it brought, then ask for the rest.
    const qint64 n = m_plan.room(first.range, body.size());
    if (n > 0) {
        if (!writeAt(0, QByteArrayView(body).first(n)))
            return;
        m_plan.advance(first.range, n);
    }
    if (m_plan.isComplete()) {
        finishComplete();
        return;
    }
    connectSlot(0);
    m_host.progressed();
}

// ---------------------------------------------------------------- data

void HttpTransfer::connectSlot(int slot)
{
    Connection &c = m_conns[slot];
    SocketChannel *channel = channelAt(slot);
    c.phase = Connection::Phase::Connecting;
    c.accepted = false;
    c.reused = false;
    c.written = 0;
    c.maxBytes = -1;
    const HttpEndpoint target = httpConnectTarget(m_url, m_host.settings().proxy);
    channel->setEncryptable(m_url.secure);
    channel->connectToHost(target.host, quint16(target.port));
}

void HttpTransfer::sendRequest(int slot)
{
    Connection &c = m_conns[slot];
    if (c.range < 0) {
        closeSlot(slot);
        return;
    }
    const SegmentRange &r = m_plan.range(c.range);
    if (r.isDone()) {
        // Nothing of this range is missing: ask for nothing, write nothing.
        rangeDone(slot, true);
        return;
    }
    c.requested = HttpByteRange{r.pos, m_size < 0 ? -1 : r.end - 1};
    c.writePos = r.pos;
    c.parser.reset();
    c.chunked = false;
    c.decoder.reset();
    c.accepted = false;
    c.written = 0;
    c.maxBytes = -1;
    c.phase = Connection::Phase::Waiting;
    c.channel->send(httpDataRequest(m_url, c.requested, slot, requestProxy(), m_validators.ifRange()));
}

void HttpTransfer::onDataChunk(int slot, QByteArray chunk)
{
    Connection &c = m_conns[slot];
    if (c.range < 0 || (c.phase != Connection::Phase::Waiting && c.phase != Connection::Phase::Body))
        return;
    if (!c.accepted) {
        if (!takeHeader(c, chunk))
            return;
        const HttpResponseHeader &reply = c.parser.header();
        const DataAcceptance a = acceptDataResponse(reply, c.requested, m_size, CaptionLookup());
        switch (a.action) {
        case DataAcceptance::Action::Fail:
            failWith(a.captionId.isEmpty() && (a.statusCode == 200 || a.statusCode == 206) ? FailureKind::Protocol
                                                                                            : FailureKind::HttpStatus,
                     a.statusCode, reply.reasonPhrase(), captionOrText(a.captionId, a.text));
            return;
        case DataAcceptance::Action::FallBackToFull: {
            // The server ignores ranges. A connection that already carries
            // the whole file from byte 0 (the probe's) goes on alone;
            // otherwise this one starts the file over.
            const int keeper = wholeFileSlot(slot);
            fallBackToFull(keeper >= 0 ? keeper : slot);
            if (keeper >= 0)
                return;
            c.maxBytes = m_size;
            c.writePos = 0;
            break;
        }
        case DataAcceptance::Action::WritePartial:
        case DataAcceptance::Action::WriteFull:
            c.maxBytes = a.maxBytes;
            c.writePos = a.writeOffset;
            break;
        }
        if (m_size < 0 && a.totalSize >= 0) {
            // A reply that names the size ends the unknown: plan the file.
            m_size = a.totalSize;
            m_plan = SegmentPlan::single(m_size, std::min(m_plan.range(c.range).pos, m_size));
            c.range = 0;
            c.shownRange = 0;
            m_host.sizeKnown(m_size, a.action == DataAcceptance::Action::WritePartial);
        }
        c.accepted = true;
        c.keepAlive = keepsAlive(reply);
        c.chunked = reply.isChunked();
        c.decoder.reset();
        c.phase = Connection::Phase::Body;
        c.clock.start();
        c.clocked = 0;
        chunk = c.parser.takeBody();
    }
    takeBody(slot, chunk);
}

void HttpTransfer::takeBody(int slot, QByteArrayView raw)
{
    Connection &c = m_conns[slot];
    if (!c.chunked) {
        writeBody(slot, raw);
        return;
    }
    const QByteArray payload = c.decoder.feed(raw);
    if (c.decoder.hasFailed()) {
        failWith(FailureKind::Protocol, 0, BadChunk, TransferStatus::plain(QString::fromUtf8(BadChunk)));
        return;
    }
    writeBody(slot, payload, c.decoder.isDone());
}

void HttpTransfer::finishUnknownSize(int slot)
{
    m_size = m_conns[slot].writePos;
    m_plan = SegmentPlan::single(m_size, m_size);
    m_host.sizeKnown(m_size, false);
    finishComplete();
}

void HttpTransfer::writeBody(int slot, QByteArrayView body, bool bodyEnded)
{
    Connection &c = m_conns[slot];
    const QByteArrayView wanted = clipToWanted(body, c.written, c.maxBytes);
    // A range that was split ends earlier than the request: stop at its end.
    const qint64 n = m_plan.room(c.range, wanted.size());
    if (n > 0) {
        if (!writeAt(c.writePos, wanted.first(n)))
            return;
        m_plan.advance(c.range, n);
        c.writePos += n;
        c.written += n;
        c.clocked += n;
        if (m_plan.received() > m_high) {
            m_high = m_plan.received(); // new bytes: the budget of empty attempts starts over
            m_emptyCloses = 0;
        }
        m_host.progressed();
    }
    if (bodyEnded && m_size < 0) {
        finishUnknownSize(slot);
        return;
    }
    const bool replyFinished = bodyEnded || (c.maxBytes >= 0 && c.written >= c.maxBytes);
    if (m_plan.range(c.range).isDone()) {
        rangeDone(slot, replyFinished && n == wanted.size());
        return;
    }
    if (replyFinished) {
        // The reply ended short of the range: ask for the rest; a reply that
        // brought nothing counts against the budget like an empty close.
        if (c.written == 0) {
            closeSlot(slot);
            reconnectLater(slot);
            return;
        }
        if (c.keepAlive) {
            c.reused = true;
            sendRequest(slot);
        } else {
            closeSlot(slot);
            connectSlot(slot);
        }
    }
}

double HttpTransfer::rateOf(const Connection &c) const
{
    // Known once a reply has run for a moment.
    if (!c.clock.isValid() || c.clocked <= 0)
        return -1;
    const qint64 ms = c.clock.elapsed();
    return ms >= 50 ? double(c.clocked) * 1000.0 / double(ms) : -1;
}

int HttpTransfer::nextRange(double takerRate)
{
    // A range nobody fills comes first (after a resume or a dropped connection).
    for (int id : m_plan.incomplete()) {
        const bool held = std::any_of(m_conns.begin(), m_conns.end(), [id](const Connection &c) { return c.range == id; });
        if (!held)
            return id;
    }
    // Otherwise the range that would take longest is split, so that its
    // writer and the idle connection finish together: a slow writer keeps
    // little, one as fast as the taker keeps half.
    QHash<int, double> rates;
    double sum = 0;
    for (const Connection &c : m_conns) {
        const double rate = c.range >= 0 && c.phase == Connection::Phase::Body ? rateOf(c) : -1;
        if (rate > 0) {
            rates.insert(c.range, rate);
            sum += rate;
        }
    }
    const std::optional<int> slowest = m_plan.slowestRange(rates);
    if (!slowest)
        return -1;
    const double mean = rates.isEmpty() ? -1 : sum / double(rates.size());
    const double writer = rates.value(*slowest, mean);
    const double taker = takerRate > 0 ? takerRate : mean;
    const double keep = writer > 0 && taker > 0 ? writer / (writer + taker) : 0.5;
    const std::optional<int> upper = m_plan.splitRange(*slowest, keep);
    if (!upper)
        return -1;
    m_plan.save(m_host.request().saveTo); // the sidecar records the current ranges
    return *upper;
}

void HttpTransfer::rangeDone(int slot, bool replyFinished)
{
    Connection &c = m_conns[slot];
    if (m_plan.isComplete()) {
        finishComplete();
        return;
    }
    const bool goesOn = replyFinished && c.keepAlive && c.channel && c.channel->isConnected();
    const double ownRate = rateOf(c);
    c.clock.invalidate();
    c.range = m_plan.isSegmented() ? nextRange(goesOn ? ownRate : -1) : -1;
    if (c.range < 0) {
        closeSlot(slot); // nothing left to take: the others finish
        return;
    }
    c.shownRange = c.range;
    if (goesOn) {
        c.reused = true; // the server allows another request on this connection
        sendRequest(slot);
        return;
    }
    closeSlot(slot);
    connectSlot(slot);
}

int HttpTransfer::wholeFileSlot(int except) const
{
    for (int k = 0; k < m_conns.size(); ++k) {
        const Connection &c = m_conns.at(k);
        if (k == except || c.range < 0 || c.phase != Connection::Phase::Body)
            continue;
        const SegmentRange &r = m_plan.range(c.range);
        if (r.start == 0 && c.requested.first == 0 && c.maxBytes == m_size && c.writePos == r.pos)
            return k;
    }
    return -1;
}

void HttpTransfer::fallBackToFull(int slot)
{
    // The server ignores ranges: one connection takes the whole body; every
    // other connection is dropped and the plan collapses. The keeper goes on
    // from what it wrote when its reply is the file from byte 0.
    const Connection &keeper = m_conns.at(slot);
    const bool carriesOn = keeper.phase == Connection::Phase::Body && keeper.range >= 0
                           && m_plan.range(keeper.range).start == 0 && keeper.writePos == m_plan.range(keeper.range).pos;
    const qint64 from = carriesOn ? keeper.writePos : 0;
    for (int k = 0; k < m_conns.size(); ++k) {
        if (k != slot) {
            closeSlot(k);
            m_conns[k].range = -1;
            m_conns[k].shownRange = -1;
        }
    }
    if (m_plan.isSegmented()) {
        SegmentPlan::remove(m_host.request().saveTo);
        m_validators.segmented = false;
        m_validators.save(m_host.request().saveTo);
    }
    m_plan = SegmentPlan::single(m_size < 0 ? UnknownEnd : m_size, from);
    m_conns[slot].range = 0;
    m_conns[slot].shownRange = 0;
    m_host.sizeKnown(m_size, false);
}

void HttpTransfer::finishComplete()
{
    if (m_file.isOpen() && m_file.size() > m_size)
        m_file.resize(m_size); // a longer file of an earlier attempt
    if (!m_file.isOpen() && m_size == 0)
        openFile();
    SegmentPlan::remove(m_host.request().saveTo);
    FileValidators::remove(m_host.request().saveTo);
    shutdown();
    m_host.complete();
}
