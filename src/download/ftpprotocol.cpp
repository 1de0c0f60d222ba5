#include "download/ftpprotocol.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

// Shown when the server breaks a transfer off; there is no language-file
// caption for it.
TransferStatus transferInterrupted()
{
    return TransferStatus::plain(QStringLiteral("Transfer interrupted."));
}

TransferStatus caption(const char *id, const char *defaultText)
{
    return TransferStatus::caption(QString::fromLatin1(id), QString::fromLatin1(defaultText));
}

} // namespace

// --- active mode ---

FtpActivePort FindPort(const std::function<double()> &random)
{
    double x = random ? random() : 0.0;
    if (!std::isfinite(x) || x < 0.0 || x >= 1.0)
        x = 0.0;
    const int r = static_cast<int>(x * 134) + 6;
    FtpActivePort port;
    port.sngDataPort = static_cast<quint16>(3072 + r);
    port.suffix = "," + QByteArray("12") + "," + QByteArray::number(r);
    return port;
}

FtpActivePort FindPort()
{
    return FindPort([] { return QRandomGenerator::global()->generateDouble(); });
}

QList<quint16> activePortCandidates(quint16 first)
{
    constexpr int count = FtpLastActivePort - FtpFirstActivePort + 1;
    QList<quint16> ports;
    ports.reserve(count + 2);
    int start = first;
    if (start < FtpFirstActivePort || start > FtpLastActivePort) {
        if (first != 0)
            ports.append(first);
        start = FtpFirstActivePort;
    }
    for (int i = 0; i < count; ++i)
        ports.append(static_cast<quint16>(FtpFirstActivePort + (start - FtpFirstActivePort + i) % count));
    ports.append(0);
    return ports;
}

std::optional<QByteArray> portCommand(const QHostAddress &local, quint16 port)
{
    bool ok = false;
    const quint32 ip = local.toIPv4Address(&ok);
    if (!ok)
        return std::nullopt;
    QByteArray line = "PORT ";
    for (int shift = 24; shift >= 0; shift -= 8)
        line += QByteArray::number((ip >> shift) & 0xFF) + ',';
    line += QByteArray::number(port >> 8) + ',' + QByteArray::number(port & 0xFF) + "\r\n";
    return line;
}

QByteArrayList activeModeCommands(const QHostAddress &local, quint16 boundPort)
{
    const std::optional<QByteArray> port = portCommand(local, boundPort);
    if (!port)
        return {};
    return {*port, ftpCommand("TYPE", QStringLiteral("I"))};
}

// --- positions ---

FtpLoginState ftpStartState(qint64 existingLength, bool resume, qint64 rollback)
{
    FtpLoginState state;
    if (resume && existingLength >= 0) {
        state.lngSegStart = std::max<qint64>(0, existingLength - rollback);
        state.lngSegPos = state.lngSegStart + 1;
        state.blnResumeSet = true;
    }
    return state;
}

FtpLoginState ftpPausedState(const FtpLoginState &state)
{
    FtpLoginState next = state;
    next.intFTPState = 0;
    next.blnPortSent = false;
    next.blnPasvDone = false;
    return next;
}

FtpLoginState ftpResumedState(const FtpLoginState &state, qint64 rollback)
{
    FtpLoginState next = ftpPausedState(state);
    next.lngSegStart = std::max<qint64>(0, state.lngSegPos - std::max<qint64>(1, rollback)); // see the 200 reply
    next.lngSegPos = next.lngSegStart + 1;
    next.blnResumeSet = true;
    return next;
}

// --- the reply state machine ---

FtpLoginStep StartLoginFTP(const FtpReply &reply, const FtpLoginState &state, const FtpLoginContext &context)
{
    FtpLoginStep step;
    step.next = state;
    FtpLoginState &next = step.next;

    switch (reply.code) {
    case 220:
        step.commands.append(ftpCommand("USER", context.strUserName));
        step.status = step.rowStatus = caption("11049", "Logging In...");
        step.timeout = FtpLoginStep::Timeout::Rearm;
        step.stopEnabled = true;
        next.intFTPState = 220;
        break;

    case 331:
        step.commands.append(ftpCommand("PASS", context.strPassword));
        next.intFTPState = 331;
        break;

    case 230:
        if (context.UsePASV) {
            step.commands.append(ftpCommand("PASV"));
        } else {
            step.dataSide = FtpLoginStep::DataSide::Listen;
            if (!state.blnPortSent) {
                step.sendPortCommand = true;
                next.blnPortSent = true;
            } else {
                step.listenPort = state.sngDataPort;
            }
        }
        step.showUrl = true;
        step.status = caption("11050", "Connected... Setting Up Transfer!");
        step.rowStatus = caption("11048", "Connected");
        step.timeout = FtpLoginStep::Timeout::Start;
        next.blnPasvDone = false;
        next.intFTPState = 230;
        break;

    case 227: {
        const std::optional<FtpPassiveTarget> target =
            (state.intFTPState == 227 || state.blnPasvDone) ? std::nullopt : parse227(reply.text);
        if (!target) {
            step.messageBox =
                caption("11036", "FTP Server could not build PASV Mode data connection!  Try Non-PASV mode!");
            step.closeControl = true;
            step.outcome = FtpLoginStep::Outcome::Failed;
            break;
        }
        step.dataSide = FtpLoginStep::DataSide::ConnectPassive;
        step.passive = *target;
        next.sngDataPort = target->port;
        next.blnPasvDone = true;
        step.commands.append(ftpCommand("TYPE", QStringLiteral("I")));
        next.intFTPState = 227;
        break;
    }

    case 200:
        if (state.intFTPState == 200)
            break;
        if (state.blnResumeSet) {
            // lngSegPos is 1-based: moving back by less than one byte would skip the
            // byte at lngSegPos - 1, so the margin is at least one byte.
            next.lngSegStart = std::max<qint64>(0, state.lngSegPos - std::max<qint64>(1, context.Rollback));
            next.lngSegPos = next.lngSegStart + 1;
        }
        if (context.askSize)
            step.commands.append(ftpCommand("SIZE", context.strFilePath));
        step.commands.append(ftpCommand("REST", QString::number(next.lngSegStart)));
        step.resumeLabel = caption("04018", "** Resume Supported **");
        step.pauseEnabled = false;
        next.intFTPState = 200;
        break;

    case 213:
        if (const std::optional<qint64> size = parse213Size(reply.text))
            next.announcedSize = *size;
        break;

    case 350:
        if (state.intFTPState == 350)
            break;
        step.commands.append(ftpCommand("RETR", context.strFilePath));
        step.status = caption("13031", "Waiting For File...");
        next.intFTPState = 350;
        break;

    case 550:
        if (state.intFTPState != 350)
            break;
        step.beep = true;
        step.status = step.rowStatus = caption("11042", "File Not Found");
        step.stopShowsClose = true;
        step.stopEnabled = true;
        step.timeout = FtpLoginStep::Timeout::Stop;
        step.outcome = FtpLoginStep::Outcome::Failed;
        next.intFTPState = 550;
        break;

    case 504:
        step.resumeLabel = caption("04019", "**RESUME NOT SUPPORTED**");
        if (context.StopResume)
            step.stall = FtpLoginStep::Stall::StartTimeNoResume;
        next.intFTPState = 504;
        break;

    case 125: // "data connection already open; transfer starting": the same as 150
    case 150: {
        const std::optional<qint64> size = parse150Size(reply.text);
        step.transferSize = size ? *size : state.announcedSize;
        step.beginTransfer = true;
        step.status = step.rowStatus = caption("11051", "Downloading");
        step.pauseEnabled = true;
        step.timeout = FtpLoginStep::Timeout::Stop;
        if (context.StopResume)
            step.stall = FtpLoginStep::Stall::StartTimeResume;
        next.intFTPState = 150;
        break;
    }

    case 425:
        step.status = step.rowStatus = caption("11043", "Could Not Establish Data Connection");
        step.outcome = FtpLoginStep::Outcome::Failed;
        next.intFTPState = 425;
        break;

    case 426:
        if (state.intFTPState != 150)
            break;
        step.status = step.rowStatus = transferInterrupted();
        step.outcome = context.retryAllowed ? FtpLoginStep::Outcome::Resume : FtpLoginStep::Outcome::Failed;
        break;

    case 530: {
        // "User <name> can not log in." and " can not log in.": a language
        // file cannot keep the blank at the start of 11045, so the blank
        // travels outside the caption and its default leaves it off.
        TransferStatus refused = caption("11045", "can not log in.");
        refused.prefixCaptionId = QStringLiteral("11047");
        refused.prefixDefault = QStringLiteral("User ");
        refused.prefix = context.strUserName + QLatin1Char(' ');
        step.status = refused;
        refused.prefixCaptionId.clear();
        refused.prefixDefault.clear();
        refused.prefix = QStringLiteral(" ");
        step.rowStatus = refused;
        step.outcome = FtpLoginStep::Outcome::Failed;
        break;
    }

    case 226:
        step.status = caption("11046", "Transfer Completed...");
        step.transferConfirmed = true;
        break;

    default:
        break;
    }
    return step;
}

FtpTransferEnd ftpTransferEnd(const FtpTransferProgress &progress)
{
    if (progress.contentSize >= 0 && progress.received >= progress.contentSize)
        return FtpTransferEnd::Complete;
    if (!progress.dataClosed || !progress.confirmed)
        return FtpTransferEnd::Wait;
    return progress.contentSize < 0 ? FtpTransferEnd::Complete : FtpTransferEnd::Resume;
}
