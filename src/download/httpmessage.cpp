#include "download/httpmessage.h"

#include <algorithm>
#include <limits>

namespace {

struct StatusLine {
    int code = 0;
    QByteArray reason;
};

// "HTTP/x.y NNN reason": the version is not checked beyond its "HTTP/"
// prefix; the code must be exactly three digits.
std::optional<StatusLine> parseStatusLine(QByteArrayView line)
{
    if (!line.startsWith("HTTP/"))
        return std::nullopt;
    const qsizetype blank = line.indexOf(' ');
    if (blank < 0 || blank + 4 > line.size())
        return std::nullopt;
    const QByteArrayView digits = line.sliced(blank + 1, 3);
    int code = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        code = code * 10 + (c - '0');
    }
    if (code < 100)
        return std::nullopt;
    const QByteArrayView after = line.sliced(blank + 4);
    if (!after.isEmpty() && after.front() != ' ' && after.front() != '\t')
        return std::nullopt; // four or more digits
    return StatusLine{code, after.toByteArray().trimmed()};
}

// The lines of a header, each without its line break, up to the first empty
// line after the leading ones. Empty lines before the first text are skipped.
QList<QByteArrayView> headerLines(QByteArrayView text)
{
    QList<QByteArrayView> lines;
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = text.indexOf('\n', pos);
        const qsizetype next = end < 0 ? text.size() : end + 1;
        if (end < 0)
            end = text.size();
        QByteArrayView line = text.sliced(pos, end - pos);
        if (line.endsWith('\r'))
            line.chop(1);
        pos = next;
        if (line.isEmpty()) {
            if (lines.isEmpty())
                continue;
            break;
        }
        lines.append(line);
    }
    return lines;
}

bool isFoldedLine(QByteArrayView line)
{
    return !line.isEmpty() && (line.front() == ' ' || line.front() == '\t');
}

QByteArray normalisedName(QByteArrayView name)
{
    QByteArray n = name.toByteArray().trimmed();
    if (n.endsWith(':'))
        n.chop(1);
    return n.trimmed().toLower();
}

// Name (lowered) and value pairs of the field lines; folded lines continue
// the field before them; lines without a colon are ignored.
QList<QPair<QByteArray, QByteArray>> parseFields(const QList<QByteArrayView> &lines, qsizetype from)
{
    QList<QPair<QByteArray, QByteArray>> fields;
    for (qsizetype i = from; i < lines.size(); ++i) {
        const QByteArrayView line = lines[i];
        if (isFoldedLine(line)) {
            if (!fields.isEmpty()) {
                QByteArray &value = fields.last().second;
                const QByteArray more = line.toByteArray().trimmed();
                if (!more.isEmpty())
                    value += (value.isEmpty() ? QByteArray() : QByteArray(" ")) + more;
            }
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        fields.append({line.first(colon).toByteArray().trimmed().toLower(),
                       line.sliced(colon + 1).toByteArray().trimmed()});
    }
    return fields;
}

std::optional<qint64> parseDecimal(QByteArrayView text)
{
    if (text.isEmpty())
        return std::nullopt;
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        if (value > (max - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

} // namespace

int GetStatusCode(QByteArrayView headerText)
{
    const QList<QByteArrayView> lines = headerLines(headerText);
    if (lines.isEmpty())
        return 0;
    const std::optional<StatusLine> status = parseStatusLine(lines.front());
    return status ? status->code : 0;
}

QByteArray HeaderValue(QByteArrayView headerText, QByteArrayView name)
{
    const QList<QByteArrayView> lines = headerLines(headerText);
    if (lines.isEmpty())
        return {};
    const qsizetype from = parseStatusLine(lines.front()) ? 1 : 0;
    const QByteArray wanted = normalisedName(name);
    for (const auto &field : parseFields(lines, from)) {
        if (field.first == wanted)
            return field.second;
    }
    return {};
}

std::optional<ContentRange> parseContentRange(QByteArrayView value)
{
    QByteArrayView v = value.trimmed();
    if (v.size() < 6 || QByteArrayView(v.first(5)).compare("bytes", Qt::CaseInsensitive) != 0
        || (v[5] != ' ' && v[5] != '\t'))
        return std::nullopt;
    v = v.sliced(6).trimmed();
    const qsizetype slash = v.indexOf('/');
    if (slash < 0)
        return std::nullopt;
    const QByteArrayView rangePart = v.first(slash).trimmed();
    const QByteArrayView totalPart = v.sliced(slash + 1).trimmed();

    ContentRange range;
    if (totalPart != "*") {
        const std::optional<qint64> total = parseDecimal(totalPart);
        if (!total)
            return std::nullopt;
        range.total = *total;
    }
    if (rangePart == "*") {
        if (range.total < 0)
            return std::nullopt;
        range.unsatisfied = true;
        return range;
    }
    const qsizetype dash = rangePart.indexOf('-');
    if (dash < 0)
        return std::nullopt;
    const std::optional<qint64> first = parseDecimal(rangePart.first(dash));
    const std::optional<qint64> last = parseDecimal(rangePart.sliced(dash + 1));
    if (!first || !last || *last < *first)
        return std::nullopt;
    if (range.total >= 0 && *last >= range.total)
        return std::nullopt;
    range.first = *first;
    range.last = *last;
    return range;
}

std::optional<qint64> parseContentLength(QByteArrayView value)
{
    std::optional<qint64> result;
    for (const QByteArray &part : value.toByteArray().split(',')) {
        const std::optional<qint64> n = parseDecimal(part.trimmed());
        if (!n || (result && *result != *n))
            return std::nullopt;
        result = n;
    }
    return result;
}

std::optional<HttpResponseHeader> HttpResponseHeader::parse(QByteArrayView text)
{
    const QList<QByteArrayView> lines = headerLines(text);
    if (lines.isEmpty())
        return std::nullopt;
    const std::optional<StatusLine> status = parseStatusLine(lines.front());
    if (!status)
        return std::nullopt;
    HttpResponseHeader header;
    header.m_status = status->code;
    header.m_reason = status->reason;
    header.m_fields = parseFields(lines, 1);
    // The text from the status line to the end of the last header line.
    const qsizetype start = lines.front().data() - text.data();
    const qsizetype end = (lines.back().data() - text.data()) + lines.back().size();
    header.m_text = text.sliced(start, end - start).toByteArray();
    return header;
}

bool HttpResponseHeader::contains(QByteArrayView name) const
{
    const QByteArray wanted = normalisedName(name);
    for (const auto &field : m_fields) {
        if (field.first == wanted)
            return true;
    }
    return false;
}

QByteArray HttpResponseHeader::value(QByteArrayView name) const
{
    const QByteArray wanted = normalisedName(name);
    for (const auto &field : m_fields) {
        if (field.first == wanted)
            return field.second;
    }
    return {};
}

QList<QByteArray> HttpResponseHeader::values(QByteArrayView name) const
{
    const QByteArray wanted = normalisedName(name);
    QList<QByteArray> result;
    for (const auto &field : m_fields) {
        if (field.first == wanted)
            result.append(field.second);
    }
    return result;
}

std::optional<qint64> HttpResponseHeader::contentLength() const
{
    std::optional<qint64> result;
    for (const QByteArray &v : values("content-length")) {
        const std::optional<qint64> n = parseContentLength(v);
        if (!n || (result && *result != *n))
            return std::nullopt;
        result = n;
    }
    return result;
}

std::optional<ContentRange> HttpResponseHeader::contentRange() const
{
    const QList<QByteArray> all = values("content-range");
    if (all.size() != 1)
        return std::nullopt;
    return parseContentRange(all.front());
}

bool HttpResponseHeader::hasTransferCoding() const
{
    for (const QByteArray &v : values("transfer-encoding")) {
        for (const QByteArray &coding : v.split(',')) {
            const QByteArrayView c = QByteArrayView(coding).trimmed();
            if (!c.isEmpty() && c.compare("identity", Qt::CaseInsensitive) != 0)
                return true;
        }
    }
    return false;
}

bool HttpResponseHeader::isChunked() const
{
    bool chunked = false;
    for (const QByteArray &v : values("transfer-encoding")) {
        for (const QByteArray &coding : v.split(',')) {
            const QByteArrayView c = QByteArrayView(coding).trimmed();
            if (c.isEmpty() || c.compare("identity", Qt::CaseInsensitive) == 0)
                continue;
            if (c.compare("chunked", Qt::CaseInsensitive) != 0)
                return false; // gzip and the like cannot be decoded
            chunked = true;
        }
    }
    return chunked;
}

std::optional<qint64> HttpResponseHeader::bodyLength() const
{
    if (hasTransferCoding())
        return std::nullopt;
    return contentLength();
}

QByteArray ChunkedDecoder::feed(QByteArrayView raw)
{
    QByteArray out;
    qsizetype i = 0;
    while (i < raw.size() && m_state != State::Done && m_state != State::Failed) {
        switch (m_state) {
        case State::Data: {
            const qsizetype n = qsizetype(std::min<qint64>(m_left, raw.size() - i));
            out += raw.sliced(i, n);
            i += n;
            m_left -= n;
            if (m_left == 0)
                m_state = State::DataEnd;
            break;
        }
        case State::SizeLine:
        case State::DataEnd:
        case State::Trailer: {
            const char c = raw[i++];
            if (c != '\n') {
                m_line += c;
                if (m_line.size() > MaxLineBytes
                    || (m_state == State::Trailer && ++m_trailer > MaxTrailerBytes))
                    m_state = State::Failed;
                continue;
            }
            QByteArrayView line = QByteArrayView(m_line);
            if (line.endsWith('\r'))
                line.chop(1);
            if (m_state == State::DataEnd) {
                // The line break that ends a chunk's data.
                m_state = line.isEmpty() ? State::SizeLine : State::Failed;
            } else if (m_state == State::Trailer) {
                if (line.isEmpty())
                    m_state = State::Done;
            } else {
                // "1a;name=value": hexadecimal size, extensions ignored.
                const qsizetype semicolon = line.indexOf(';');
                const QByteArrayView digits = (semicolon >= 0 ? line.first(semicolon) : line).trimmed();
                qint64 size = 0;
                // At most 15 hexadecimal digits, so the size fits 64 bits.
                bool valid = !digits.isEmpty() && digits.size() <= 15;
                for (const char d : valid ? digits : QByteArrayView()) {
                    const char lower = d >= 'A' && d <= 'F' ? char(d - 'A' + 'a') : d;
                    const auto v = QByteArrayView("0123456789abcdef").indexOf(lower);
                    if (v < 0) {
                        valid = false;
                        break;
                    }
                    size = size * 16 + v;
                }
                if (!valid)
                    m_state = State::Failed;
                else if (size == 0)
                    m_state = State::Trailer;
                else {
                    m_left = size;
                    m_state = State::Data;
                }
            }
            m_line.clear();
            break;
        }
        case State::Done:
        case State::Failed: break;
        }
    }
    return out;
}

HttpResponseParser::HttpResponseParser(qsizetype maxHeaderBytes)
    : m_maxHeaderBytes(maxHeaderBytes)
{
}

void HttpResponseParser::reset()
{
    *this = HttpResponseParser(m_maxHeaderBytes);
}

QByteArray HttpResponseParser::takeBody()
{
    QByteArray body;
    body.swap(m_body);
    return body;
}

HttpResponseParser::State HttpResponseParser::feed(QByteArrayView chunk)
{
    if (m_state == State::Failed)
        return m_state;
    if (m_state == State::HeaderComplete) {
        m_body.append(chunk);
        return m_state;
    }
    m_buffer.append(chunk);

    for (;;) {
        // Line breaks before a status line are left over from an earlier
        // message; they are not part of this one.
        if (m_lineStart == 0) {
            qsizetype lead = 0;
            while (lead < m_buffer.size() && (m_buffer[lead] == '\r' || m_buffer[lead] == '\n'))
                ++lead;
            if (lead > 0) {
                m_buffer.remove(0, lead);
                m_scanned = 0;
            }
        }
        const QByteArrayView prefix("HTTP/");
        const qsizetype n = std::min(prefix.size(), m_buffer.size());
        if (QByteArrayView(m_buffer).first(n) != prefix.first(n)) {
            m_state = State::Failed;
            m_error = "The server did not answer with an HTTP response.";
            return m_state;
        }

        qsizetype headerEnd = -1;
        qsizetype bodyStart = -1;
        while (m_scanned < m_buffer.size()) {
            const qsizetype newline = m_buffer.indexOf('\n', m_scanned);
            if (newline < 0) {
                m_scanned = m_buffer.size();
                break;
            }
            m_scanned = newline + 1;
            qsizetype lineEnd = newline;
            if (lineEnd > m_lineStart && m_buffer[lineEnd - 1] == '\r')
                --lineEnd;
            if (lineEnd == m_lineStart && m_lineStart > 0) {
                headerEnd = m_lineStart;
                bodyStart = newline + 1;
                break;
            }
            m_lineStart = newline + 1;
        }

        const qsizetype headerBytes = headerEnd >= 0 ? bodyStart : m_buffer.size();
        if (headerBytes > m_maxHeaderBytes) {
            m_state = State::Failed;
            m_error = "The response header is too long.";
            return m_state;
        }
        if (headerEnd < 0)
            return m_state;
        if (!finishHeader(headerEnd, bodyStart))
            return m_state;
        if (m_state == State::HeaderComplete)
            return m_state;
        // An interim response was skipped: look at what follows it.
    }
}

bool HttpResponseParser::finishHeader(qsizetype headerEnd, qsizetype bodyStart)
{
    const std::optional<HttpResponseHeader> header
        = HttpResponseHeader::parse(QByteArrayView(m_buffer).first(headerEnd));
    if (!header) {
        m_state = State::Failed;
        m_error = "The server sent an invalid status line.";
        return false;
    }
    const int code = header->statusCode();
    if (code >= 100 && code < 200 && code != 101) {
        m_interim += header->text() + "\r\n\r\n";
        m_buffer.remove(0, bodyStart);
        m_scanned = 0;
        m_lineStart = 0;
        return true;
    }
    m_header = *header;
    m_body = m_buffer.mid(bodyStart);
    m_buffer.clear();
    m_scanned = 0;
    m_lineStart = 0;
    m_state = State::HeaderComplete;
    return true;
}
