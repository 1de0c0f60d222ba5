// The FTP branch of a download: the control connection on element 0 of the
// first socket set, the data connection, and the reply state machine.
#include "download/downloadjob.h"

#include "config/settingsrecord.h"
#include "controls/extratimer.h"
#include "platform/prompts.h"
#include "platform/socketchannel.h"

#include <QFileInfo>
#include <QHostAddress>

namespace {
using Column = DownloadListModel::Column;
}

void DownloadJob::syncFtpPositions()
{
    m_segStart[0] = m_ftp.lngSegStart;
    m_segPos[0] = m_ftp.lngSegPos;
}

void DownloadJob::startFtp()
{
    const qint64 rollback = m_services.record ? m_services.record->Rollback : 4096;
    const QFileInfo existing(strSaveTo);
    m_ftp = ftpStartState(existing.exists() ? existing.size() : -1, m_existChoice == -1 && existing.exists(),
                          rollback);
    syncFtpPositions();
    m_segments = 0;
    m_planned = false;
    forgetTransfer();
    resetButtons();
    LayoutBars(1);

    SocketChannel *control = m_wsHTTP->at(0) ? m_wsHTTP->at(0) : m_wsHTTP->create(0);
    control->connectToHost(url.strServer, quint16(url.intPort));
    setRow(Column::SavePath, strSaveTo);
    // A server that never greets must not leave the download waiting forever:
    // the connection time-out runs from the start of the login.
    m_timeLeft = m_services.record ? m_services.record->Timeout : 60;
    m_tmrTimeOut.start();
    changed();
}

void DownloadJob::resumeFtp()
{
    const qint64 rollback = m_services.record ? m_services.record->Rollback : 4096;
    m_ftp = ftpResumedState(m_ftp, rollback);
    syncFtpPositions();
    forgetTransfer();
    SocketChannel *control = m_wsHTTP->at(0) ? m_wsHTTP->at(0) : m_wsHTTP->create(0);
    control->connectToHost(url.strServer, quint16(url.intPort));
    changed();
}

void DownloadJob::forgetTransfer()
{
    // A new login: nothing of the last data connection or reply counts.
    m_ftpTransferring = false;
    m_ftpDataClosed = false;
    m_ftpConfirmed = false;
    m_ftpPending.clear();
    m_replies.reset();
    m_state = State::Probing;
}

void DownloadJob::onControlConnected()
{
    setRow(Column::Status, caption("11051", "Downloading..."));
}

void DownloadJob::onControlClosed()
{
    if (SocketChannel *control = m_wsHTTP->at(0))
        control->close();
    // After the data arrived the server may hang up at once; whatever else
    // happens is up to the time-out and the stall detector.
    if (m_ftpTransferring)
        checkFtpEnd();
}

void DownloadJob::onControlData()
{
    SocketChannel *control = m_wsHTTP->at(0);
    if (!control || control->bytesAvailable() == 0)
        return;
    const QByteArray chunk = control->takeData();
    m_log += chunk;
    const QList<FtpReply> replies = m_replies.feed(chunk);
    if (m_replies.failed()) {
        failWith(QStringLiteral("The server sent a reply that is too long."));
        return;
    }
    FtpLoginContext context;
    context.strUserName = url.strUserName;
    context.strPassword = url.strPassword;
    context.strFilePath = url.strFilePath;
    if (const SettingsRecord *r = m_services.record) {
        context.UsePASV = r->UsePASV;
        context.StopResume = r->StopResume;
        context.Rollback = r->Rollback;
        context.retryAllowed = r->Retry && m_retries <= r->Retries;
    } else {
        context.Rollback = 4096;
    }
    for (const FtpReply &reply : replies) {
        if (m_finished || m_state == State::Paused || m_state == State::Stopped)
            return;
        m_lastReply = reply;
        applyFtpStep(StartLoginFTP(reply, m_ftp, context));
    }
}

bool DownloadJob::openActiveDataSide(quint16 preferred, bool sendPort)
{
    SocketChannel *control = m_wsHTTP->at(0);
    if (!control)
        return false;
    m_wsFTPData->close();
    const quint16 first = preferred ? preferred : FindPort().sngDataPort;
    // A port that is taken is no reason to fail: try the others of the
    // range, then any free port, and announce the one actually bound.
    for (quint16 port : activePortCandidates(first)) {
        if (m_wsFTPData->listen(port, QHostAddress::AnyIPv4)) {
            m_ftp.sngDataPort = m_wsFTPData->localPort();
            if (sendPort) {
                const QByteArrayList commands =
                    activeModeCommands(QHostAddress(control->localAddress()), m_ftp.sngDataPort);
                if (commands.isEmpty())
                    return false;
                for (const QByteArray &command : commands)
                    control->send(command);
            }
            return true;
        }
    }
    return false;
}

void DownloadJob::applyFtpStep(const FtpLoginStep &step)
{
    SocketChannel *control = m_wsHTTP->at(0);
    m_ftp = step.next;
    syncFtpPositions();

    if (step.dataSide == FtpLoginStep::DataSide::Listen) {
        if (!openActiveDataSide(step.listenPort, step.sendPortCommand)) {
            failWith(caption("11043", "Could Not Establish Data Connection"));
            return;
        }
    } else if (step.dataSide == FtpLoginStep::DataSide::ConnectPassive) {
        // Only the port of the reply is used: the data connection goes to the
        // server the control connection talks to.
        const QString server = control ? control->remoteAddress() : url.strServer;
        if (!step.passive.host.isEmpty() && step.passive.host != server)
            m_log += "[passive reply named " + step.passive.host.toUtf8() + "; connecting to " + server.toUtf8()
                     + " instead]\r\n";
        m_wsFTPData->connectToHost(server.isEmpty() ? url.strServer : server, step.passive.port);
    }
    if (control) {
        for (const QByteArray &command : step.commands)
            control->send(command);
    }

    if (step.status)
        m_display.status = ftpStatusText(*step.status, m_services.captions);
    if (step.rowStatus)
        setRow(Column::Status, ftpStatusText(*step.rowStatus, m_services.captions));
    if (step.resumeLabel)
        m_display.resume = ftpStatusText(*step.resumeLabel, m_services.captions);
    // A missing file marks the window's entry in the mode list.
    if (step.outcome == FtpLoginStep::Outcome::Failed && step.next.intFTPState == 550)
        Q_EMIT modeEntryChanged(intAssignedIndex, caption("11035", "Error"));
    if (step.beep)
        Q_EMIT beepRequested();
    if (step.showUrl)
        changed();
    if (step.pauseEnabled)
        m_display.pauseEnabled = *step.pauseEnabled;
    if (step.stopEnabled)
        m_display.stopEnabled = *step.stopEnabled;
    if (step.stopShowsClose)
        m_display.stopText = m_closeCaption;

    const int timeout = m_services.record ? m_services.record->Timeout : 60;
    switch (step.timeout) {
    case FtpLoginStep::Timeout::Keep: break;
    case FtpLoginStep::Timeout::Rearm: m_timeLeft = timeout; break;
    case FtpLoginStep::Timeout::Start:
        m_timeLeft = timeout;
        m_tmrTimeOut.start();
        break;
    case FtpLoginStep::Timeout::Stop:
        m_tmrTimeOut.stop();
        m_display.countdownVisible = false;
        break;
    }
    if (step.stall != FtpLoginStep::Stall::Keep && m_services.record) {
        m_tmrReconnect->setIntervalUnit(ExtraTimer::Seconds);
        m_tmrReconnect->setInterval(step.stall == FtpLoginStep::Stall::StartTimeResume
                                        ? m_services.record->TimeResume
                                        : m_services.record->TimeNoResume);
        m_stallTotal = -1;
        m_tmrReconnect->setEnabled(true);
    }

    if (step.beginTransfer) {
        m_sizeKnown = step.transferSize >= 0;
        m_contentSize = m_sizeKnown ? step.transferSize : 0;
        intFileSize = m_contentSize;
        m_segStart[1] = m_contentSize;
        m_display.fileSize = m_sizeKnown ? FormatSize(m_contentSize) : QStringLiteral("Unknown");
        setRow(Column::Size, m_display.fileSize);
        if (!openSaveFile())
            return;
        m_planned = true;
        m_ftpTransferring = true;
        m_state = State::Downloading;
        m_lastTotal = TotalReceived();
        m_rateClock.start();
        m_tmrUpdate.start();
        m_tmrUpdate2.start();
        if (!m_ftpPending.isEmpty()) {
            const QByteArray early = std::exchange(m_ftpPending, {});
            writeFtpData(early);
        }
        if (m_sizeKnown && isFileDownloaded())
            completeDownload();
    }
    if (step.closeControl && control)
        control->close();
    if (step.transferConfirmed) {
        m_ftpConfirmed = true;
        checkFtpEnd();
    }

    switch (step.outcome) {
    case FtpLoginStep::Outcome::Continue:
        break;
    case FtpLoginStep::Outcome::Failed:
        // A login refused while the countdown runs is tried again by it; the
        // other failures wait with their message.
        if (!m_tmrTimeOut.isActive())
            failWith(m_display.status);
        break;
    case FtpLoginStep::Outcome::Resume:
        ++m_retries;
        pauseTransfer();
        resumeTransfer();
        break;
    }
    changed();
}

void DownloadJob::onFtpDataRequest(qintptr request)
{
    m_wsFTPData->accept(request);
    m_ftpDataClosed = false;
}

void DownloadJob::onFtpDataArrived()
{
    if (m_wsFTPData->bytesAvailable() == 0)
        return;
    const QByteArray bytes = m_wsFTPData->takeData();
    if (!m_ftpTransferring) {
        m_ftpPending += bytes; // the "150" is still on its way
        return;
    }
    writeFtpData(bytes);
}

void DownloadJob::writeFtpData(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    // Byte k of the data connection belongs at file offset lngSegStart(0) + k.
    if (!m_file.seek(m_segPos[0] - 1) || m_file.write(bytes) != bytes.size()) {
        failWith(caption("11002", "Error opening File") + QLatin1Char(' ') + strSaveTo + QStringLiteral(": ")
                 + m_file.errorString());
        return;
    }
    m_segPos[0] += bytes.size();
    m_ftp.lngSegPos = m_segPos[0];
    Update(0);
}

void DownloadJob::onFtpDataClosed()
{
    if (m_wsFTPData->bytesAvailable() > 0)
        onFtpDataArrived();
    m_wsFTPData->close();
    m_ftpDataClosed = true;
    checkFtpEnd();
}

void DownloadJob::checkFtpEnd()
{
    if (!m_ftpTransferring || m_state != State::Downloading)
        return;
    FtpTransferProgress progress;
    progress.contentSize = m_sizeKnown ? m_contentSize : -1;
    progress.received = TotalReceived();
    progress.dataClosed = m_ftpDataClosed;
    progress.confirmed = m_ftpConfirmed;
    switch (ftpTransferEnd(progress)) {
    case FtpTransferEnd::Wait:
        return;
    case FtpTransferEnd::Complete:
        if (!m_sizeKnown) {
            m_sizeKnown = true;
            m_contentSize = progress.received;
            m_segStart[1] = m_contentSize;
            intFileSize = m_contentSize;
            m_display.fileSize = FormatSize(m_contentSize);
            setRow(Column::Size, m_display.fileSize);
        }
        completeDownload();
        return;
    case FtpTransferEnd::Resume: {
        // The server ended the transfer short: log in again and continue.
        const int retries = m_services.record ? m_services.record->Retries : 30;
        const bool retry = m_services.record ? m_services.record->Retry : true;
        if (!retry || ++m_retries > retries + 1) {
            failWith(QStringLiteral("Transfer interrupted."));
            return;
        }
        pauseTransfer();
        resumeTransfer();
        return;
    }
    }
}
