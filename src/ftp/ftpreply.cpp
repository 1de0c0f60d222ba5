#include "ftp/ftpreply.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

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
