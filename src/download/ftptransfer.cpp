#include "download/ftptransfer.h"

#include "platform/socketchannel.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QPointer>

#include <cerrno>
#include <cstring>

std::unique_ptr<TransferProtocol> createFtpTransfer(TransferHost &host, const UrlFields &url)
{
    return std::make_unique<FtpTransfer>(host, url);
}

FtpTransfer::FtpTransfer(TransferHost &host, UrlFields url, QObject *parent)
    : TransferProtocol(host, std::move(url), parent)
{
    const std::shared_ptr<ChannelGroup> group = m_host.channels();
    m_control = group ? new SocketChannel(group, this) : new SocketChannel(this);
    m_data = new SocketChannel(m_control->group(), this);
    // FTP here is never encrypted: plain sockets read without a TLS layer.
    m_control->setEncryptable(false);
    m_data->setEncryptable(false);

    connect(m_control, &SocketChannel::connected, this, &FtpTransfer::onControlConnected);
    connect(m_control, &SocketChannel::dataArrived, this, &FtpTransfer::onControlData);
    connect(m_control, &SocketChannel::closed, this, &FtpTransfer::onControlClosed);
    connect(m_control, &SocketChannel::errorOccurred, this,
            [this](int, const QString &description) { onControlError(description); });
    connect(m_data, &SocketChannel::connectionRequested, this, &FtpTransfer::onDataRequest);
    connect(m_data, &SocketChannel::dataArrived, this, &FtpTransfer::onDataArrived);
    connect(m_data, &SocketChannel::closed, this, &FtpTransfer::onDataClosed);
    connect(m_data, &SocketChannel::errorOccurred, this, &FtpTransfer::onDataError);
}

FtpTransfer::~FtpTransfer()
{
    closeConnections();
    m_file.close();
}

// ---------------------------------------------------------------- control

void FtpTransfer::start()
{
    if (m_phase != Phase::Idle)
        return;
    const QFileInfo existing(m_host.request().saveTo);
    const bool resume = m_host.existing() == ExistingFile::Resume && existing.exists();
    m_ftp = ftpStartState(resume ? existing.size() : -1, resume, m_host.settings().rollback);
    connectControl();
}

void FtpTransfer::suspend(bool)
{
    if (m_phase == Phase::Ended || m_phase == Phase::Idle)
        return;
    // FTP keeps no segment plan: the file's length is where a later start
    // resumes.
    ++m_login;
    closeConnections();
    m_file.close();
    m_ftp = ftpPausedState(m_ftp);
    m_countdown = false;
    m_phase = Phase::Suspended;
}

void FtpTransfer::resume()
{
    if (m_phase != Phase::Suspended)
        return;
    m_ftp = ftpResumedState(m_ftp, m_host.settings().rollback);
    m_host.progressed();
    connectControl();
}

void FtpTransfer::shutdown()
{
    if (m_phase == Phase::Ended)
        return;
    ++m_login;
    m_phase = Phase::Ended;
    closeConnections();
    m_file.close();
}

qint64 FtpTransfer::received() const
{
    return std::max<qint64>(0, m_ftp.lngSegPos - 1);
}

QList<SegmentProgress> FtpTransfer::segments() const
{
    return {SegmentProgress{0, m_size, received()}};
}

void FtpTransfer::connectControl()
{
    forgetTransfer();
    m_phase = Phase::Login;
    m_host.setState(TransferState::Connecting);
    m_control->connectToHost(m_url.strServer, quint16(m_url.intPort));
    // A server that never greets must not leave the download waiting
    // forever: the countdown runs from the start of the login.
    m_countdown = true;
    m_host.armTimeout();
}

void FtpTransfer::forgetTransfer()
{
    // A new login: nothing of the last data connection or reply counts.
    ++m_login;
    m_replies.reset();
    m_dataClosed = false;
    m_confirmed = false;
    m_early.clear();
    m_data->close();
}

void FtpTransfer::closeConnections()
{
    m_control->close();
    m_data->close();
}

void FtpTransfer::onControlConnected()
{
    m_host.setState(TransferState::LoggingIn);
    m_host.setStatus(TransferStatus::caption(QStringLiteral("11051"), QStringLiteral("Downloading...")));
}

void FtpTransfer::onControlClosed()
{
    m_control->close();
    // After the data arrived the server may hang up at once; whatever else
    // happens is up to the countdown and the stall detector.
    if (m_phase == Phase::Transfer)
        checkEnd();
}

void FtpTransfer::onControlError(const QString &description)
{
    // The countdown of the login tries again.
    m_host.setStatus(TransferStatus::plain(description));
}

void FtpTransfer::onControlData()
{
    const QByteArray chunk = m_control->takeData();
    if (chunk.isEmpty())
        return;
    m_host.appendLog(chunk);
    const QList<FtpReply> replies = m_replies.feed(chunk);
    if (m_replies.failed()) {
        fail(FailureKind::Protocol, 0, {}, TransferStatus::plain(QStringLiteral("The server sent a reply that is too long.")));
        return;
    }
    const quint64 login = m_login;
    const QPointer<FtpTransfer> self(this);
    for (const FtpReply &reply : replies) {
        if (!self || m_login != login || (m_phase != Phase::Login && m_phase != Phase::Transfer))
            return;
        if (!apply(StartLoginFTP(reply, m_ftp, loginContext()), reply))
            return;
    }
}

FtpLoginContext FtpTransfer::loginContext() const
{
    const TransferSettings &settings = m_host.settings();
    FtpLoginContext context;
    context.strUserName = m_url.strUserName;
    context.strPassword = m_url.strPassword;
    context.strFilePath = m_url.strFilePath;
    context.UsePASV = settings.passive;
    context.StopResume = settings.stopResume;
    context.Rollback = settings.rollback;
    // The budget itself is the host's: a "426" takes a retry from it.
    context.retryAllowed = settings.retry;
    return context;
}

bool FtpTransfer::apply(const FtpLoginStep &step, const FtpReply &reply)
{
    m_ftp = step.next;

    if (step.dataSide == FtpLoginStep::DataSide::Listen) {
        if (!openActiveDataSide(step.listenPort, step.sendPortCommand)) {
            fail(FailureKind::Protocol, 0, {},
                 TransferStatus::caption(QStringLiteral("11043"), QStringLiteral("Could Not Establish Data Connection"), QStringLiteral(": ") + m_data->errorString()));
            return false;
        }
    } else if (step.dataSide == FtpLoginStep::DataSide::ConnectPassive) {
        // Only the port of the reply is used: the data connection goes to the
        // server the control connection talks to.
        QString server = m_control->remoteAddress();
        if (server.isEmpty())
            server = m_url.strServer;
        if (!step.passive.host.isEmpty() && step.passive.host != server)
            m_host.appendLog("[passive reply named " + step.passive.host.toUtf8() + "; connecting to "
                             + server.toUtf8() + " instead]\r\n");
        m_data->connectToHost(server, step.passive.port);
    }
    for (const QByteArray &command : step.commands)
        m_control->send(command);

    if (step.status)
        m_host.setStatus(*step.status);
    else if (step.rowStatus)
        m_host.setStatus(*step.rowStatus);

    switch (step.timeout) {
    case FtpLoginStep::Timeout::Keep:
        break;
    case FtpLoginStep::Timeout::Rearm:
        if (m_countdown)
            m_host.armTimeout();
        break;
    case FtpLoginStep::Timeout::Start:
        m_countdown = true;
        m_host.armTimeout();
        break;
    case FtpLoginStep::Timeout::Stop:
        m_countdown = false;
        m_host.replyArrived();
        break;
    }

    if (step.resumeLabel) {
        // The REST's turn: "504" says the server cannot resume.
        m_resumable = step.next.intFTPState != 504;
        m_host.sizeKnown(m_size, m_resumable);
    }
    if (step.stall == FtpLoginStep::Stall::StartTimeNoResume) {
        // The server cannot resume: the stall detector watches this login
        // with its longer period.
        m_host.dataPhaseStarted(true);
    }

    // complete() and fail() may destroy this object in the host's hands:
    // nothing of it is touched once they were called.
    const QPointer<FtpTransfer> self(this);
    const quint64 login = m_login;
    const auto goesOn = [&] { return self && m_login == login && m_phase != Phase::Ended; };

    if (step.beginTransfer && (!beginTransfer(step.transferSize) || !goesOn()))
        return false;
    if (step.closeControl)
        m_control->close();

    if (step.transferConfirmed) {
        m_confirmed = true;
        checkEnd();
        if (!goesOn())
            return false;
    }

    switch (step.outcome) {
    case FtpLoginStep::Outcome::Continue:
        return true;
    case FtpLoginStep::Outcome::Failed:
        return failed(step, reply);
    case FtpLoginStep::Outcome::Resume:
        retryTransfer(reply, step.status.value_or(TransferStatus{}));
        return false;
    }
    return true;
}

bool FtpTransfer::failed(const FtpLoginStep &step, const FtpReply &reply)
{
    const TransferStatus status = step.status.value_or(step.messageBox.value_or(TransferStatus{}));
    // A missing file and a refused login end the download with the server's
    // reply. Other refusals during the login wait for the countdown, which
    // starts the download again while retries are left.
    const bool final = reply.code == 550 || reply.code == 530 || !m_countdown;
    if (final) {
        fail(FailureKind::FtpReply, reply.code, reply.text, status);
        return false;
    }
    if (step.messageBox)
        m_host.setStatus(*step.messageBox);
    return true;
}

bool FtpTransfer::openActiveDataSide(quint16 preferred, bool sendPort)
{
    m_data->close();
    // The data side listens on the address the PORT announces: the one the
    // control connection uses, and no other interface.
    const QHostAddress local(m_control->localAddress());
    const QHostAddress address = local.isNull() ? QHostAddress(QHostAddress::AnyIPv4) : local;
    const quint16 first = preferred ? preferred : FindPort().sngDataPort;
    // A port that is taken is no reason to fail: try the others of the
    // range, then any free port, and announce the one actually bound.
    for (quint16 port : activePortCandidates(first)) {
        if (!m_data->listen(port, address))
            continue;
        m_ftp.sngDataPort = m_data->localPort();
        if (sendPort) {
            const QByteArrayList commands = activeModeCommands(local, m_ftp.sngDataPort);
            if (commands.isEmpty())
                return false;
            for (const QByteArray &command : commands)
                m_control->send(command);
        }
        return true;
    }
    return false;
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
    m_host.dataPhaseStarted(false);
    const QPointer<FtpTransfer> self(this);
    const quint64 login = m_login;
    const auto goesOn = [&] { return self && m_login == login && m_phase == Phase::Transfer; };
    if (!m_early.isEmpty())
        write(std::exchange(m_early, {}));
    if (!goesOn())
        return false;
    checkEnd();
    return goesOn();
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
    if (m_ftp.lngSegStart == 0 && !m_ftp.blnResumeSet)
        mode |= QIODevice::Truncate;
    if (!m_file.open(mode)) {
        fail(FailureKind::FileError, 0, {},
             TransferStatus::caption(QStringLiteral("11002"), QStringLiteral("Error opening File"), QLatin1Char(' ') + path + QStringLiteral(": ")
                                                             + m_file.errorString()));
        return false;
    }
    return true;
}

void FtpTransfer::onDataRequest(qintptr request)
{
    m_data->accept(request);
    m_dataClosed = false;
}

void FtpTransfer::onDataArrived()
{
    const QByteArray bytes = m_data->takeData();
    if (bytes.isEmpty())
        return;
    if (m_phase == Phase::Login) {
        m_early += bytes; // the "150" is still on its way
        return;
    }
    if (m_phase == Phase::Transfer)
        write(bytes);
}

void FtpTransfer::write(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    // Byte k of the data connection belongs at file offset lngSegStart + k.
    const int error = m_host.writeFile(m_file, m_ftp.lngSegPos - 1, bytes);
    if (error == ENOSPC) {
        // Nothing of these bytes counts: the job pauses, and the resume
        // logs in again and fetches them once there is room.
        m_host.diskFull();
        return;
    }
    if (error != 0) {
        fail(FailureKind::FileError, 0, {},
             TransferStatus::caption(QStringLiteral("11002"), QStringLiteral("Error opening File"),
                                     QLatin1Char(' ') + m_file.fileName() + QStringLiteral(": ")
                                         + QString::fromLocal8Bit(std::strerror(error))));
        return;
    }
    m_ftp.lngSegPos += bytes.size();
    m_host.progressed();
    if (m_size >= 0 && received() >= m_size)
        finishComplete();
}

void FtpTransfer::onDataClosed()
{
    if (m_data->bytesAvailable() > 0) {
        const QPointer<FtpTransfer> self(this);
        onDataArrived();
        if (!self)
            return;
    }
    if (m_phase == Phase::Ended)
        return;
    m_data->close();
    m_dataClosed = true;
    if (m_phase == Phase::Transfer)
        checkEnd();
}

void FtpTransfer::onDataError(int number, const QString &description)
{
    TransferNotice notice;
    notice.kind = TransferNotice::Kind::FtpDataError;
    notice.number = number;
    notice.description = description;
    const QPointer<FtpTransfer> self(this);
    m_host.notice(notice);
    if (self && m_phase != Phase::Ended)
        onDataClosed();
}

void FtpTransfer::checkEnd()
{
    if (m_phase != Phase::Transfer)
        return;
    FtpTransferProgress progress;
    progress.contentSize = m_size;
    progress.received = received();
    progress.dataClosed = m_dataClosed;
    progress.confirmed = m_confirmed;
    switch (ftpTransferEnd(progress)) {
    case FtpTransferEnd::Wait:
        return;
    case FtpTransferEnd::Complete:
        finishComplete();
        return;
    case FtpTransferEnd::Resume:
        retryTransfer({}, TransferStatus::plain(QStringLiteral("Transfer interrupted.")));
        return;
    }
}

void FtpTransfer::retryTransfer(const FtpReply &reply, const TransferStatus &status)
{
    m_host.setStatus(status);
    if (!m_host.settings().retry || !m_host.takeRetry()) {
        if (reply.code != 0)
            fail(FailureKind::FtpReply, reply.code, reply.text, status);
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
    closeConnections();
    m_host.complete();
}

void FtpTransfer::fail(FailureKind kind, int code, const QByteArray &serverText, const TransferStatus &status)
{
    if (m_phase == Phase::Ended)
        return;
    m_phase = Phase::Ended;
    ++m_login;
    closeConnections();
    m_file.close();
    m_host.fail(kind, code, serverText, status);
}
