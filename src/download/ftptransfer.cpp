#include "download/ftptransfer.h"

#include "platform/socketchannel.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QPointer>
#include <QTimer>

#include <cerrno>
#include <cstring>

namespace {

// Hands what the session receives to the transfer, which writes it at the
// write position through the host (never sequentially at a file position of
// its own).
class ForwardingSink final : public QIODevice {
public:
    ForwardingSink(std::function<void(const QByteArray &)> take, QObject *parent)
        : QIODevice(parent), m_take(std::move(take))
    {
        open(QIODevice::WriteOnly);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 length) override
    {
        m_take(QByteArray(data, length));
        return length;
    }

private:
    std::function<void(const QByteArray &)> m_take;
};

const TransferStatus Interrupted = TransferStatus::plain(QStringLiteral("Transfer interrupted."));

} // namespace

std::unique_ptr<TransferProtocol> createFtpTransfer(TransferHost &host, const UrlFields &url)
{
    return std::make_unique<FtpTransfer>(host, url);
}

FtpTransfer::FtpTransfer(TransferHost &host, UrlFields url, QObject *parent)
    : TransferProtocol(host, std::move(url), parent)
{
}

FtpTransfer::~FtpTransfer()
{
    ++m_login;
    dropSession();
    m_file.close();
}

void FtpTransfer::start()
{
    if (m_phase != Phase::Idle)
        return;
    const QFileInfo existing(m_host.request().saveTo);
    if (m_host.existing() == ExistingFile::Resume && existing.exists()) {
        m_segStart = std::max<qint64>(0, existing.size() - m_host.settings().rollback);
        m_segPos = m_segStart + 1;
        m_resumeSet = true;
    }
    login();
}

void FtpTransfer::suspend(bool)
{
    if (m_phase == Phase::Ended || m_phase == Phase::Idle)
        return;
    // FTP keeps no segment plan: the file's length is where a later start
    // resumes.
    ++m_login;
    dropSession();
    m_file.close();
    m_countdown = false;
    m_phase = Phase::Suspended;
}

void FtpTransfer::resume()
{
    if (m_phase != Phase::Suspended)
        return;
    // Back by Rollback (at least one byte: the position is 1-based) now, and
    // once more when the REST goes out.
    m_segStart = std::max<qint64>(0, m_segPos - std::max<qint64>(1, m_host.settings().rollback));
    m_segPos = m_segStart + 1;
    m_resumeSet = true;
    m_host.progressed();
    login();
}

void FtpTransfer::shutdown()
{
    if (m_phase == Phase::Ended)
        return;
    ++m_login;
    m_phase = Phase::Ended;
    dropSession();
    m_file.close();
}

qint64 FtpTransfer::received() const
{
    return std::max<qint64>(0, m_segPos - 1);
}

QList<SegmentProgress> FtpTransfer::segments() const
{
    return {SegmentProgress{0, m_size, received()}};
}

// ---------------------------------------------------------------- login

void FtpTransfer::login()
{
    dropSession();
    ++m_login;
    m_early.clear();
    m_lastReply.clear();
    m_lastVerb.clear();
    m_writeStopped = false;
    m_phase = Phase::Login;
    m_host.setState(TransferState::Connecting);

    const TransferSettings &config = m_host.settings();
    FtpConnectSettings settings;
    settings.host = m_url.strServer;
    settings.port = quint16(m_url.intPort);
    settings.user = m_url.strUserName;
    settings.password = m_url.strPassword;
    settings.security = m_url.secure ? FtpSecurity::ImplicitTls : FtpSecurity::Plain;
    settings.passive = config.passive;
    if (const std::shared_ptr<ChannelGroup> group = m_host.channels())
        settings.sockets = std::shared_ptr<const SocketFactory>(group, &group->factory());
    settings.readFeatures = false;
    settings.extendedPassive = false;
    settings.typeAfterDataSetup = true;
    settings.restAtZero = true;

    m_session = new FtpSession(this);
    connect(m_session, &FtpSession::replyReceived, this, &FtpTransfer::onReply);
    connect(m_session, &FtpSession::logLine, this, &FtpTransfer::onLogLine);
    connect(m_session, &FtpSession::controlConnected, this, [this] {
        m_host.setState(TransferState::LoggingIn);
        m_host.setStatus(TransferStatus::caption(QStringLiteral("11051"), QStringLiteral("Downloading...")));
    });
    // Nobody is asked during a download: the URL carries the login.
    connect(m_session, &FtpSession::passwordRejected, m_session, [s = m_session] { s->providePassword(std::nullopt); });
    connect(m_session, &FtpSession::accountRequired, m_session, [s = m_session] { s->provideAccount(std::nullopt); });
    FtpOperation *op = m_session->connectToHost(settings);
    connect(op, &FtpOperation::finished, this, &FtpTransfer::onLoggedIn);
    // A server that never greets must not leave the download waiting
    // forever: the countdown runs from the start of the login.
    m_countdown = true;
    m_host.armTimeout();
}

void FtpTransfer::dropSession()
{
    if (m_session) {
        m_session->disconnect(this);
        m_session->close();
        m_session->deleteLater();
        m_session = nullptr;
    }
    if (m_sink) {
        m_sink->deleteLater();
        m_sink = nullptr;
    }
}

void FtpTransfer::onLogLine(const QString &line)
{
    // Replies start with their code; everything else the session logs after
    // a command is about that command.
    if (!line.isEmpty() && !line.front().isDigit())
        m_lastVerb = line.section(QLatin1Char(' '), 0, 0).toLatin1().toUpper();
}

void FtpTransfer::onReply(const FtpReply &reply)
{
    m_lastReply = reply.text;
    m_host.appendLog(reply.text);
    switch (reply.code) {
    case 220:
        m_host.setStatus(TransferStatus::caption(QStringLiteral("11049"), QStringLiteral("Logging In...")));
        m_host.armTimeout();
        break;
    case 230:
        m_host.setStatus(TransferStatus::caption(QStringLiteral("11050"), QStringLiteral("Connected... Setting Up Transfer!")));
        m_host.armTimeout();
        break;
    case 227:
        // Only the port of the reply is used: the data connection goes to
        // the server the control connection talks to.
        if (const std::optional<FtpPassiveTarget> target = parse227(reply.text)) {
            const QString server = m_session->peerAddress().toString();
            if (!target->host.isEmpty() && QHostAddress(target->host) != m_session->peerAddress())
                m_host.appendLog("[passive reply named " + target->host.toUtf8() + "; connecting to " + server.toUtf8()
                                 + " instead]\r\n");
        }
        break;
    case 350:
        if (m_lastVerb == "REST") {
            m_resumable = true;
            m_host.sizeKnown(m_size, m_resumable);
            m_host.setStatus(TransferStatus::caption(QStringLiteral("13031"), QStringLiteral("Waiting For File...")));
        }
        break;
    case 125:
    case 150:
        if (m_phase == Phase::Login && m_lastVerb == "RETR") {
            // After a REST the count is what remains, not the file's size.
            const std::optional<qint64> announced = m_segStart == 0 ? parse150Size(reply.text) : std::nullopt;
            m_host.setStatus(TransferStatus::caption(QStringLiteral("11051"), QStringLiteral("Downloading")));
            m_countdown = false;
            m_host.replyArrived();
            beginTransfer(announced.value_or(-1));
        }
        break;
    case 500:
    case 501:
    case 502:
    case 504:
        if (m_lastVerb == "REST") {
            // The server cannot resume. From the first byte the file comes
            // anyway; elsewhere no RETR follows and the stall detector (its
            // longer period when StopResume is on) and the countdown decide.
            m_resumable = false;
            m_host.sizeKnown(m_size, m_resumable);
            if (m_segStart > 0 && m_host.settings().stopResume)
                m_host.dataPhaseStarted(true);
        }
        break;
    case 226:
        m_host.setStatus(TransferStatus::caption(QStringLiteral("11046"), QStringLiteral("Transfer Completed...")));
        break;
    default:
        break;
    }
}

void FtpTransfer::onLoggedIn(const FtpResult &result)
{
    if (!result.ok())
        return onFailure(result);
    if (m_resumeSet) {
        m_segStart = std::max<qint64>(0, m_segPos - std::max<qint64>(1, m_host.settings().rollback));
        m_segPos = m_segStart + 1;
    }
    const quint64 login = m_login;
    m_sink = new ForwardingSink([this, login](const QByteArray &bytes) {
        if (login == m_login)
            take(bytes);
    }, this);
    FtpOperation *op = m_session->retrieve(m_url.strFilePath, m_segStart, m_sink);
    connect(op, &FtpOperation::finished, this, &FtpTransfer::onRetrieved);
}

void FtpTransfer::onRetrieved(const FtpResult &result)
{
    if (m_phase == Phase::Ended || m_phase == Phase::Suspended)
        return;
    if (result.ok()) {
        if (m_phase == Phase::Login && !beginTransfer(-1))
            return; // a server that sent no 1xx before its 226
        // The data connection closed and the 226 came: a known size not
        // reached means the server broke off.
        if (m_size >= 0 && received() < m_size)
            return retryTransfer(0, Interrupted);
        return finishComplete();
    }
    if (m_phase == Phase::Transfer && m_size >= 0 && received() >= m_size)
        return finishComplete(); // every byte is here, whatever the server says after
    if (m_phase == Phase::Transfer && result.failure != FtpFailure::Aborted && result.failure != FtpFailure::Local
        && result.failure != FtpFailure::Tls)
        return retryTransfer(result.failure == FtpFailure::Refused ? result.code : 0, Interrupted);
    onFailure(result);
}

void FtpTransfer::onFailure(const FtpResult &result)
{
    if (m_phase == Phase::Ended || m_phase == Phase::Suspended)
        return;
    const auto captioned = [](const char *id, const char *text) {
        return TransferStatus::caption(QString::fromLatin1(id), QString::fromLatin1(text));
    };
    switch (result.failure) {
    case FtpFailure::None:
    case FtpFailure::Aborted:
        return;
    case FtpFailure::Tls:
        if (result.tls)
            return onTlsFailure(*result.tls);
        return fail(FailureKind::Protocol, 0, {}, TransferStatus::plain(result.text));
    case FtpFailure::Local:
        return fail(FailureKind::FileError, 0, {}, TransferStatus::plain(result.text));
    case FtpFailure::Protocol:
        return fail(FailureKind::Protocol, result.code, m_lastReply, TransferStatus::plain(result.text));
    default:
        break;
    }

    if (result.socketError >= 0) {
        // The data connection could not be made: noticed, and the login's
        // countdown tries again.
        TransferNotice notice;
        notice.kind = TransferNotice::Kind::FtpDataError;
        notice.number = result.socketError;
        notice.description = result.text;
        const QPointer<FtpTransfer> self(this);
        m_host.notice(notice);
        if (!self || m_phase == Phase::Ended)
            return;
        const TransferStatus status = captioned("11043", "Could Not Establish Data Connection");
        if (!m_countdown)
            return fail(FailureKind::Protocol, 0, {}, status);
        return m_host.setStatus(status);
    }
    if (result.code == 0) {
        // No connection, or no answer in time: the countdown tries again.
        const TransferStatus status = TransferStatus::plain(result.text);
        if (!m_countdown)
            return fail(FailureKind::Protocol, 0, {}, status);
        return m_host.setStatus(status);
    }
    if (m_lastVerb == "REST" && result.failure == FtpFailure::Refused)
        return; // told at the reply

    if (result.code == 530) {
        TransferStatus status = captioned("11045", "can not log in.");
        status.prefix = m_url.strUserName + QLatin1Char(' ');
        status.prefixCaptionId = QStringLiteral("11047");
        status.prefixDefault = QStringLiteral("User ");
        return fail(FailureKind::FtpReply, 530, m_lastReply, status);
    }
    if (result.code == 550 && m_lastVerb == "RETR")
        return fail(FailureKind::FtpReply, 550, m_lastReply, captioned("11042", "File Not Found"));
    if (result.code == 425 && m_countdown)
        return m_host.setStatus(captioned("11043", "Could Not Establish Data Connection"));
    // Anything else the server refused (421, 500-502, 332 without an
    // account, ...) ends the download with the server's words.
    fail(FailureKind::FtpReply, result.code, m_lastReply,
         TransferStatus::plain(QString::fromUtf8(m_lastReply).trimmed()));
}

void FtpTransfer::onTlsFailure(const TlsFailure &failure)
{
    if (failure.certificate && !m_trustAsked) {
        // The owner may trust this certificate; the login then starts over
        // and the handshake accepts it.
        m_trustAsked = true;
        const bool asked = m_host.askTrust(failure, [this, failure](bool yes) {
            m_trustAsked = false;
            if (m_phase == Phase::Ended)
                return;
            if (yes)
                return login();
            failTls(failure);
        });
        if (asked)
            return;
        m_trustAsked = false;
    }
    failTls(failure);
}

void FtpTransfer::failTls(const TlsFailure &failure)
{
    // Nothing goes over a connection that is not secure as it should be.
    const TransferOutcome o = tlsFailureOutcome(failure);
    fail(o.failure, 0, o.serverText, o.status);
}

// ---------------------------------------------------------------- transfer

bool FtpTransfer::beginTransfer(qint64 size)
{
    if (size >= 0)
        m_size = size;
    if (!openFile())
        return false;
    m_planned = true;
    m_phase = Phase::Transfer;
    m_host.sizeKnown(m_size, m_resumable);
    m_host.setState(TransferState::Downloading);
    m_host.dataPhaseStarted(!m_resumable && m_host.settings().stopResume);
    if (!m_early.isEmpty())
        write(std::exchange(m_early, {}));
    if (m_size >= 0 && received() >= m_size && !m_writeStopped) {
        m_writeStopped = true;
        later([this] { finishComplete(); });
    }
    return true;
}

bool FtpTransfer::openFile()
{
    if (m_file.isOpen())
        return true;
    const QString path = m_host.request().saveTo;
    m_file.setFileName(path);
    // A transfer from the first byte replaces whatever the file held, so a
    // later resume never takes an old tail for downloaded bytes.
    QIODevice::OpenMode mode = QIODevice::ReadWrite | QIODevice::Unbuffered;
    if (m_segStart == 0 && !m_resumeSet)
        mode |= QIODevice::Truncate;
    if (!m_file.open(mode)) {
        fail(FailureKind::FileError, 0, {},
             TransferStatus::caption(QStringLiteral("11002"), QStringLiteral("Error opening File"),
                                     QLatin1Char(' ') + path + QStringLiteral(": ") + m_file.errorString()));
        return false;
    }
    return true;
}

void FtpTransfer::take(const QByteArray &bytes)
{
    if (m_phase == Phase::Login)
        m_early += bytes; // the "150" is still on its way
    else if (m_phase == Phase::Transfer)
        write(bytes);
}

void FtpTransfer::write(const QByteArray &bytes)
{
    if (bytes.isEmpty() || m_writeStopped)
        return;
    // Byte k of the data connection belongs at file offset REST + k.
    const int error = m_host.writeFile(m_file, m_segPos - 1, bytes);
    if (error == ENOSPC) {
        // Nothing of these bytes counts: the job pauses, and the resume
        // logs in again and fetches them once there is room.
        m_writeStopped = true;
        return later([this] { m_host.diskFull(); });
    }
    if (error != 0) {
        m_writeStopped = true;
        const TransferStatus status = TransferStatus::caption(
            QStringLiteral("11002"), QStringLiteral("Error opening File"),
            QLatin1Char(' ') + m_file.fileName() + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)));
        return later([this, status] { fail(FailureKind::FileError, 0, {}, status); });
    }
    m_segPos += bytes.size();
    m_host.progressed();
    if (m_size >= 0 && received() >= m_size) {
        // Every byte is here: done, whatever the server says after.
        m_writeStopped = true;
        later([this] { finishComplete(); });
    }
}

void FtpTransfer::later(std::function<void()> action)
{
    const quint64 login = m_login;
    QTimer::singleShot(0, this, [this, login, action = std::move(action)] {
        if (login == m_login && m_phase != Phase::Ended)
            action();
    });
}

void FtpTransfer::retryTransfer(int code, const TransferStatus &status)
{
    m_host.setStatus(status);
    if (!m_host.settings().retry || !m_host.takeRetry()) {
        if (code != 0)
            fail(FailureKind::FtpReply, code, m_lastReply, status);
        else
            fail(FailureKind::ServerKeepsClosing, 0, {}, status);
        return;
    }
    suspend(false);
    resume();
}

void FtpTransfer::finishComplete()
{
    if (m_phase == Phase::Ended)
        return;
    const qint64 total = received();
    if (m_size < 0) {
        m_size = total;
        m_host.sizeKnown(m_size, m_resumable);
    }
    if (m_file.isOpen() && m_file.size() > m_size)
        m_file.resize(m_size); // a longer file of an earlier attempt
    m_file.close();
    m_phase = Phase::Ended;
    ++m_login;
    dropSession();
    m_host.complete();
}

void FtpTransfer::fail(FailureKind kind, int code, const QByteArray &serverText, const TransferStatus &status)
{
    if (m_phase == Phase::Ended)
        return;
    m_phase = Phase::Ended;
    ++m_login;
    dropSession();
    m_file.close();
    m_host.fail(kind, code, serverText, status);
}
