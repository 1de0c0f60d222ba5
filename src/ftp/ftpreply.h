#pragma once

// Reading replies off an FTP control connection and writing commands onto
// it, and the fields of the replies that name an address or a size.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// One complete reply of the control connection.
struct FtpReply {
    int code = 0;    // the three-digit reply code
    QByteArray text; // every line of the reply, each with its line end as received
    bool operator==(const FtpReply &) const = default;
};

// Cuts the byte stream of a control connection into complete replies.
//
// Lines end with CR LF; a bare LF is accepted too. A reply whose first line
// is "ddd-..." runs on, whatever the lines in between say, to the first line
// that starts with the same code followed by a blank (or by the end of the
// line). Chunks may end anywhere, even inside a line end, and may hold
// several replies. Lines outside a reply that do not start with three digits
// are dropped. A reply longer than the cap puts the reader in the failed
// state: it then yields nothing until reset().
class FtpReplyReader {
public:
    static constexpr qsizetype DefaultMaxReplyBytes = 64 * 1024;

    explicit FtpReplyReader(qsizetype maxReplyBytes = DefaultMaxReplyBytes);

    // The replies completed by this chunk, in order.
    QList<FtpReply> feed(QByteArrayView chunk);
    bool failed() const { return m_failed; }
    // True while part of a reply is waiting for the rest.
    bool hasPartialReply() const { return !m_line.isEmpty() || m_code != 0; }
    void reset();

private:
    void takeLine(QByteArray line, QList<FtpReply> &out);

    qsizetype m_max;
    QByteArray m_line;  // the line being read, without its end
    QByteArray m_reply; // the lines of the open multi-line reply
    int m_code = 0;     // the code of the open multi-line reply, 0 when none
    bool m_failed = false;
};

// An FTP command line: "VERB argument" in UTF-8 ending with CR LF. A CR inside
// the argument is sent as CR NUL and an LF as NUL, so no name can end the
// command early and smuggle in another.
QByteArray ftpCommand(QByteArrayView verb, const QString &argument = {});

// The address a passive reply names: "227 Entering Passive Mode
// (h1,h2,h3,h4,p1,p2)" (with or without the parentheses, blanks allowed
// around the numbers) or "229 Entering Extended Passive Mode (|||port|)"
// (any delimiter character; host empty: the control connection's host).
struct FtpPassiveTarget {
    QString host; // dotted IPv4 from a 227 reply; empty from a 229 reply
    quint16 port = 0;
    bool operator==(const FtpPassiveTarget &) const = default;
};
std::optional<FtpPassiveTarget> parse227(QByteArrayView text);

// The byte count of a "150" reply: the number in the last "(<n> bytes)" of
// the text (the word in any case). Nothing when there is none or it does not
// fit 64 bits.
std::optional<qint64> parse150Size(QByteArrayView text);

// The size of a "213 <n>" reply to SIZE.
std::optional<qint64> parse213Size(QByteArrayView text);
