#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>

#include <optional>

// The status code of a response header text: the three digits after the
// first blank of its status line ("HTTP/1.1 206 Partial Content" gives 206).
// 0 when the text does not begin with an HTTP status line.
int GetStatusCode(QByteArrayView headerText);

// The value of the first header field called `name` in a header text, with
// the blanks around it removed. The name is matched at the start of a line
// without regard to case, with or without its trailing ":". Empty when the
// text has no such field.
QByteArray HeaderValue(QByteArrayView headerText, QByteArrayView name);

// A parsed "Content-Range" value. The form "bytes */total" (sent with 416)
// has no range: first and last are -1 and `unsatisfied` is set.
struct ContentRange {
    qint64 first = -1;
    qint64 last = -1;
    qint64 total = -1; // -1 when the server wrote "*"
    bool unsatisfied = false;
    qint64 length() const { return unsatisfied ? 0 : last - first + 1; }
    bool operator==(const ContentRange &) const = default;
};

// "bytes a-b/total", "bytes a-b/*" or "bytes */total"; nothing for anything
// else (other units, last before first, a range past the total, numbers that
// do not fit 63 bits).
std::optional<ContentRange> parseContentRange(QByteArrayView value);

// A plain decimal Content-Length. A list of equal values ("42, 42") counts as
// that value; signs, garbage, differing values and overflow give nothing.
std::optional<qint64> parseContentLength(QByteArrayView value);

// One complete response header: status line and header fields.
class HttpResponseHeader {
public:
    // Parses the text of a header from its status line up to (not including)
    // the blank line. Lines may end with CR LF or LF alone; folded lines are
    // joined to the field before them. Nothing when the first line is not an
    // HTTP status line.
    static std::optional<HttpResponseHeader> parse(QByteArrayView text);

    int statusCode() const { return m_status; }
    QByteArray reasonPhrase() const { return m_reason; }
    // The header as received, for logs and the server-data viewer.
    QByteArray text() const { return m_text; }

    bool contains(QByteArrayView name) const;
    // The first value of the field, names compared without regard to case.
    QByteArray value(QByteArrayView name) const;
    QList<QByteArray> values(QByteArrayView name) const;

    // Content-Length when every Content-Length field gives the same valid value.
    std::optional<qint64> contentLength() const;
    std::optional<ContentRange> contentRange() const;
    // True when the body is sent with a transfer coding other than identity
    // (chunked and the like).
    bool hasTransferCoding() const;
    // True when "chunked" is the only transfer coding (identity aside): the
    // body is decoded with ChunkedDecoder and any Content-Length is ignored.
    bool isChunked() const;
    // The length of the body as the header delimits it: Content-Length,
    // unless a transfer coding is given (which wins over it).
    std::optional<qint64> bodyLength() const;

private:
    int m_status = 0;
    QByteArray m_reason;
    QByteArray m_text;
    QList<QPair<QByteArray, QByteArray>> m_fields; // name lowered, value trimmed
};

// Reads one response of one connection from the bytes as they arrive. The
// header may be split over any number of chunks and the chunk that completes
// it may carry the start of the body. Interim 1xx responses are skipped.
class HttpResponseParser {
public:
    static constexpr qsizetype DefaultMaxHeaderBytes = 64 * 1024;

    enum class State { ReadingHeader, HeaderComplete, Failed };

    explicit HttpResponseParser(qsizetype maxHeaderBytes = DefaultMaxHeaderBytes);

    // Takes the next chunk of the connection. Before the header is complete
    // the bytes are collected; bytes after the blank line, and every chunk fed
    // after that, are body bytes kept for takeBody(). Returns the new state.
    State feed(QByteArrayView chunk);

    State state() const { return m_state; }
    bool isComplete() const { return m_state == State::HeaderComplete; }
    bool hasFailed() const { return m_state == State::Failed; }
    // Why the response could not be read (header too long, not HTTP).
    QByteArray errorText() const { return m_error; }

    // Valid once the header is complete.
    const HttpResponseHeader &header() const { return m_header; }
    // The body bytes received so far and not yet taken.
    QByteArray takeBody();
    // Headers of skipped interim responses, for the log.
    QByteArray interimText() const { return m_interim; }

    // Starts over for a new response (a new connection).
    void reset();

private:
    bool finishHeader(qsizetype headerEnd, qsizetype bodyStart);

    qsizetype m_maxHeaderBytes;
    State m_state = State::ReadingHeader;
    QByteArray m_buffer;
    qsizetype m_scanned = 0;   // bytes of m_buffer already searched for the blank line
    qsizetype m_lineStart = 0; // start of the line being searched
    QByteArray m_body;
    QByteArray m_interim;
    QByteArray m_error;
    HttpResponseHeader m_header;
};

// Decodes a body sent with "Transfer-Encoding: chunked" as it arrives in
// pieces of any size. Chunk extensions and trailer fields are read and
// dropped. A size line or the trailer section that grows past its bound, or
// a malformed size, fails the body.
class ChunkedDecoder {
public:
    static constexpr qsizetype MaxLineBytes = 4096;
    static constexpr qsizetype MaxTrailerBytes = 64 * 1024;

    // Takes the next raw bytes; returns the payload they complete. Bytes
    // after the end of the body are ignored.
    QByteArray feed(QByteArrayView raw);
    bool isDone() const { return m_state == State::Done; }
    bool hasFailed() const { return m_state == State::Failed; }
    void reset() { *this = ChunkedDecoder(); }

private:
    enum class State { SizeLine, Data, DataEnd, Trailer, Done, Failed };
    State m_state = State::SizeLine;
    QByteArray m_line;      // the size or trailer line read so far
    qint64 m_left = 0;      // payload bytes left in the current chunk
    qsizetype m_trailer = 0; // trailer bytes read so far
};
