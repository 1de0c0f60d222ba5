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

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The code of a line that starts with three digits, else 0.
int lineCode(QByteArrayView line)
{
    if (line.size() < 3 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2]))
        return 0;
    if (line.size() > 3 && isDigit(line[3]))
        return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

// A decimal number of 1 to 18 digits (so it fits 64 bits), blanks around it
// allowed.
std::optional<qint64> decimal(QByteArrayView text)
{
    const QByteArray digits = text.trimmed().toByteArray();
    if (digits.isEmpty() || digits.size() > 18 || !std::all_of(digits.begin(), digits.end(), isDigit))
        return std::nullopt;
    return digits.toLongLong();
}

std::optional<FtpPassiveTarget> parseSixNumbers(QByteArrayView text, bool whole)
{
    static const QRegularExpression six(QStringLiteral(
        "(\\d{1,3})\\s*,\\s*(\\d{1,3})\\s*,\\s*(\\d{1,3})\\s*,\\s*(\\d{1,3})\\s*,\\s*(\\d{1,3})\\s*,\\s*(\\d{1,3})"));
    static const QRegularExpression sixWhole(QStringLiteral("\\A\\s*") + six.pattern() + QStringLiteral("\\s*\\z"));
    const QString s = QString::fromLatin1(text);
    const QRegularExpressionMatch m = (whole ? sixWhole : six).match(s);
    if (!m.hasMatch())
        return std::nullopt;
    int n[6];
    for (int i = 0; i < 6; ++i) {
        n[i] = m.captured(i + 1).toInt();
        if (n[i] > 255)
            return std::nullopt;
    }
    const int port = n[4] * 256 + n[5];
    if (port == 0)
        return std::nullopt;
    FtpPassiveTarget target;
    target.host = QStringLiteral("%1.%2.%3.%4").arg(n[0]).arg(n[1]).arg(n[2]).arg(n[3]);
    target.port = static_cast<quint16>(port);
    return target;
}

// "(|||port|)": the delimiter is the first character inside the parentheses.
std::optional<FtpPassiveTarget> parseExtended(QByteArrayView inside)
{
    if (inside.size() < 5)
        return std::nullopt;
    const char d = inside[0];
    if (d < 33 || d > 126 || isDigit(d))
        return std::nullopt;
    if (inside[1] != d || inside[2] != d || inside.back() != d)
        return std::nullopt;
    const std::optional<qint64> port = decimal(inside.sliced(3, inside.size() - 4));
    if (!port || *port < 1 || *port > 65535)
        return std::nullopt;
    FtpPassiveTarget target;
    target.port = static_cast<quint16>(*port);
    return target;
}

} // namespace

// --- reply reader ---

FtpReplyReader::FtpReplyReader(qsizetype maxReplyBytes)
    : m_max(std::max<qsizetype>(maxReplyBytes, 8))
{
}

void FtpReplyReader::reset()
{
    m_line.clear();
    m_reply.clear();
    m_code = 0;
    m_failed = false;
}

QList<FtpReply> FtpReplyReader::feed(QByteArrayView chunk)
{
    QList<FtpReply> out;
    while (!m_failed && !chunk.isEmpty()) {
        const qsizetype lf = chunk.indexOf('\n');
        const qsizetype take = lf < 0 ? chunk.size() : lf + 1;
        m_line += chunk.first(take);
        chunk = chunk.sliced(take);
        if (m_reply.size() + m_line.size() > m_max) {
            m_failed = true;
            m_line.clear();
            m_reply.clear();
            m_code = 0;
            break;
        }
        if (lf >= 0) {
            QByteArray line;
            line.swap(m_line);
            takeLine(std::move(line), out);
        }
    }
    return out;
}

void FtpReplyReader::takeLine(QByteArray line, QList<FtpReply> &out)
{
    QByteArrayView body(line);
    body.chop(1); // the LF
    if (body.endsWith('\r'))
        body.chop(1);

    if (m_code != 0) {
        m_reply += line;
        if (lineCode(body) == m_code && (body.size() == 3 || body[3] == ' ')) {
            out.append(FtpReply{m_code, m_reply});
            m_reply.clear();
            m_code = 0;
        }
        return;
    }

    const int code = lineCode(body);
    if (code == 0)
        return; // not a reply: noise between replies
    if (body.size() > 3 && body[3] == '-') {
        m_code = code;
        m_reply = line;
        return;
    }
    out.append(FtpReply{code, line});
}

// --- commands and reply fields ---

QByteArray ftpCommand(QByteArrayView verb, const QString &argument)
{
    QByteArray line = verb.toByteArray();
    if (!argument.isEmpty()) {
        line += ' ';
        for (const char c : argument.toUtf8()) {
            if (c == '\r') {
                line += '\r';
                line += '\0';
            } else if (c == '\n') {
                line += '\0';
            } else {
                line += c;
            }
        }
    }
    line += "\r\n";
    return line;
}

std::optional<FtpPassiveTarget> parse227(QByteArrayView text)
{
    // Skip the reply code so its digits are not taken for an address.
    if (text.size() >= 4 && lineCode(text.first(4)) != 0 && (text[3] == ' ' || text[3] == '-'))
        text = text.sliced(3);
    const qsizetype open = text.indexOf('(');
    const qsizetype close = open < 0 ? -1 : text.indexOf(')', open + 1);
    if (open >= 0 && close > open) {
        const QByteArrayView inside = text.sliced(open + 1, close - open - 1);
        if (auto target = parseSixNumbers(inside, true))
            return target;
        return parseExtended(inside);
    }
    return parseSixNumbers(text, false);
}

std::optional<qint64> parse150Size(QByteArrayView text)
{
    static const QRegularExpression count(QStringLiteral("\\(\\s*(\\d+)\\s+bytes\\s*\\)"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QString s = QString::fromLatin1(text);
    QRegularExpressionMatchIterator it = count.globalMatch(s);
    QString last;
    while (it.hasNext())
        last = it.next().captured(1);
    if (last.isEmpty())
        return std::nullopt;
    return decimal(last.toLatin1());
}

std::optional<qint64> parse213Size(QByteArrayView text)
{
    if (text.size() < 4 || lineCode(text.first(4)) != 213 || text[3] != ' ')
        return std::nullopt;
    QByteArrayView rest = text.sliced(4);
    const qsizetype end = rest.indexOf('\n');
    if (end >= 0)
        rest = rest.first(end);
    return decimal(rest);
}

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
