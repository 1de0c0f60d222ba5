#pragma once

#include "fakeserver.h"

#include <QByteArray>
#include <QList>

#include <functional>

// A fake HTTP server for one file whose byte at offset n is pattern(n). It
// answers ranges the way common servers do and can be told to misbehave.
class HttpFileServer {
public:
    enum class RangeStyle {
        Strict,      // "bytes=-" is refused with 416, real ranges get 206 (nginx)
        Lenient,     // "bytes=-" gets 200 with the whole file, real ranges 206 (Apache)
        IgnoreRanges // every request gets 200 with the whole file
    };

    explicit HttpFileServer(qint64 size) : m_size(size)
    {
        server.setResponder([this](FakeConnection &c, const QByteArray &request) { return answer(c, request); });
    }

    static char pattern(qint64 offset) { return char('a' + (offset * 7 + offset / 251) % 26); }
    static QByteArray bytes(qint64 first, qint64 count)
    {
        QByteArray out(count, Qt::Uninitialized);
        for (qint64 i = 0; i < count; ++i)
            out[i] = pattern(first + i);
        return out;
    }

    QString url(const QString &path = QStringLiteral("/file.bin")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server.port()).arg(path);
    }

    FakeServer server;
    RangeStyle style = RangeStyle::Strict;
    bool lowerCaseHeaders = false;
    qint64 pieceSize = 0;          // send the answer in pieces of this size (0: at once)
    int pieceDelayMs = 0;
    qint64 dropFirstDataAfter = -1; // the first data connection drops after this many body bytes
    qint64 stallFirstDataAfter = -1; // the first data connection stalls after this many body bytes
    // Answers a request before the file logic does; return true when handled.
    std::function<bool(const QByteArray &request, FakePlan &plan)> override;
    QList<QByteArray> ranges; // the Range header of every request, "" when none

private:
    FakePlan answer(FakeConnection &, const QByteArray &request)
    {
        const QByteArray range = FakeServer::headerValue(request, "Range").value_or(QByteArray());
        ranges.append(range);
        FakePlan plan;
        if (override && override(request, plan))
            return plan;

        const bool probe = request.contains("User-Agent: DM\r\n");
        qint64 first = 0;
        qint64 last = m_size - 1;
        bool partial = false;
        if (style != RangeStyle::IgnoreRanges && range.startsWith("bytes=")) {
            const QByteArray spec = range.mid(6);
            if (spec == "-") {
                if (style == RangeStyle::Strict) {
                    plan.send(head("416 Range Not Satisfiable",
                                   {"Content-Range: bytes */" + QByteArray::number(m_size), "Content-Length: 0"}));
                    return plan;
                }
            } else {
                const qsizetype dash = spec.indexOf('-');
                first = spec.left(dash).toLongLong();
                const QByteArray tail = spec.mid(dash + 1);
                last = tail.isEmpty() ? m_size - 1 : std::min(tail.toLongLong(), m_size - 1);
                partial = true;
            }
        }
        if (partial && first >= m_size) {
            plan.send(head("416 Range Not Satisfiable", {"Content-Range: bytes */" + QByteArray::number(m_size)}));
            return plan;
        }
        const qint64 count = last - first + 1;
        QByteArray response;
        if (partial) {
            response = head("206 Partial Content",
                            {"Content-Type: application/octet-stream", "Content-Length: " + QByteArray::number(count),
                             "Content-Range: bytes " + QByteArray::number(first) + "-" + QByteArray::number(last) + "/"
                                 + QByteArray::number(m_size)});
        } else {
            response = head("200 OK", {"Content-Type: application/octet-stream",
                                       "Content-Length: " + QByteArray::number(m_size)});
        }
        if (probe) {
            // Like a real server it would stream the whole file; the client
            // hangs up after the header, so a little is enough.
            plan.send(response + bytes(first, std::min<qint64>(count, 65536))).close();
            return plan;
        }
        QByteArray body = bytes(first, count);
        if (!m_firstDataSeen) {
            m_firstDataSeen = true;
            if (dropFirstDataAfter >= 0) {
                plan.send(response + body.left(dropFirstDataAfter)).close();
                return plan;
            }
            if (stallFirstDataAfter >= 0) {
                plan.send(response + body.left(stallFirstDataAfter)).stall();
                return plan;
            }
        }
        response += body;
        if (pieceSize > 0)
            plan.sendInPieces(response, pieceSize, pieceDelayMs);
        else
            plan.send(response);
        return plan;
    }

    QByteArray head(const QByteArray &status, QByteArrayList headers) const
    {
        if (lowerCaseHeaders) {
            for (QByteArray &h : headers)
                h = h.left(h.indexOf(':')).toLower() + h.mid(h.indexOf(':'));
        }
        return FakeServer::httpHead("HTTP/1.1 " + status, headers);
    }

    qint64 m_size;
    bool m_firstDataSeen = false;
};
