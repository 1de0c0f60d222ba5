#pragma once

#include "fakeserver.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>

#include <functional>
#include <utility>

// A fake HTTP server for one file whose byte at offset n is pattern(n). It
// answers ranges the way common servers do, keeps connections alive between
// requests (unless told to close), records every request with the
// connection it came on, can pace each connection differently, and can be
// told to misbehave.
class HttpFileServer {
public:
    enum class RangeStyle {
        Strict,      // "bytes=-" is refused with 416, real ranges get 206 (nginx)
        Lenient,     // "bytes=-" gets 200 with the whole file, real ranges 206 (Apache)
        IgnoreRanges // every request gets 200 with the whole file
    };

    struct Request {
        int connection = 0; // index in server.connections()
        QByteArray text;
        QByteArray range;   // the Range header, "" when none
    };

    // How a connection sends: pieces of `pieceSize` bytes with `delayMs`
    // after each (pieceSize 0: all at once).
    struct Pace {
        qint64 pieceSize = 0;
        int delayMs = 0;
    };

    explicit HttpFileServer(qint64 size, const QHostAddress &address = QHostAddress::LocalHost);

    static char pattern(qint64 offset) { return char('a' + (offset * 7 + offset / 251) % 26); }
    static QByteArray bytes(qint64 first, qint64 count);

    QString url(const QString &path = QStringLiteral("/file.bin")) const;
    qint64 size() const { return m_size; }

    FakeServer server;
    RangeStyle style = RangeStyle::Strict;
    bool lowerCaseHeaders = false;
    // Header fields every reply carries besides its own (an ETag, a date).
    QByteArrayList extraHeaders;
    // Every reply says "Connection: close" and the server closes after it.
    bool closeAfterReply = false;
    // Probe replies ("User-Agent: DM") carry at most this much of their body
    // and then close; -1: the whole body, as real servers send it.
    qint64 probeBodyLimit = -1;
    qint64 pieceSize = 0; // send every answer in pieces of this size (0: at once)
    int pieceDelayMs = 0;
    // The pace of each connection by its index; overrides the two above.
    std::function<Pace(int connection)> pace;
    qint64 dropFirstDataAfter = -1;  // the first data reply ("NELV") drops after this many body bytes
    qint64 stallFirstDataAfter = -1; // the first data reply stalls after this many body bytes
    qint64 dropFirstBodyAfter = -1;  // the first reply with a body, probe or data, drops after this many
    qint64 stallFirstBodyAfter = -1; // ... or stalls after this many
    // A longer body is cut here and the connection closed (a reply of a
    // sparse test file of gibibytes is never built whole).
    qint64 maxReplyBody = qint64(16) << 20;
    // Answers a request before the file logic does; return true when handled.
    std::function<bool(const QByteArray &request, FakePlan &plan)> override;
    QList<QByteArray> ranges; // the Range header of every request, "" when none
    QList<Request> requests;  // every request in arrival order

private:
    FakePlan answer(FakeConnection &connection, const QByteArray &request);
    QByteArray head(const QByteArray &status, QByteArrayList headers) const;

    qint64 m_size;
    bool m_firstDataSeen = false;
    bool m_firstBodySeen = false;
};
