#include "httpfileserver.h"

#include <algorithm>

HttpFileServer::HttpFileServer(qint64 size, const QHostAddress &address) : server(address), m_size(size)
{
    server.setResponder([this](FakeConnection &c, const QByteArray &request) { return answer(c, request); });
}

QByteArray HttpFileServer::bytes(qint64 first, qint64 count)
{
    QByteArray out(count, Qt::Uninitialized);
    for (qint64 i = 0; i < count; ++i)
        out[i] = pattern(first + i);
    return out;
}

QString HttpFileServer::url(const QString &path) const
{
    return QStringLiteral("http://%1:%2%3").arg(server.host()).arg(server.port()).arg(path);
}

FakePlan HttpFileServer::answer(FakeConnection &connection, const QByteArray &request)
{
    const QByteArray range = FakeServer::headerValue(request, "Range").value_or(QByteArray());
    const int index = int(server.connections().indexOf(&connection));
    ranges.append(range);
    requests.append(Request{index, request, range});
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
                if (closeAfterReply)
                    plan.close();
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
        return plan.close();
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
    if (probe && probeBodyLimit >= 0)
        return plan.send(response + bytes(first, std::min(count, probeBodyLimit))).close();

    const bool cut = maxReplyBody >= 0 && count > maxReplyBody;
    const QByteArray body = bytes(first, cut ? maxReplyBody : count);
    if (!m_firstBodySeen && count > 0) {
        m_firstBodySeen = true;
        if (dropFirstBodyAfter >= 0)
            return plan.send(response + body.left(dropFirstBodyAfter)).close();
        if (stallFirstBodyAfter >= 0)
            return plan.send(response + body.left(stallFirstBodyAfter)).stall();
    }
    if (!probe && !m_firstDataSeen) {
        m_firstDataSeen = true;
        if (dropFirstDataAfter >= 0)
            return plan.send(response + body.left(dropFirstDataAfter)).close();
        if (stallFirstDataAfter >= 0)
            return plan.send(response + body.left(stallFirstDataAfter)).stall();
    }
    response += body;
    const Pace p = pace ? pace(index) : Pace{pieceSize, pieceDelayMs};
    if (p.pieceSize > 0)
        plan.sendInPieces(response, p.pieceSize, p.delayMs);
    else
        plan.send(response);
    if (closeAfterReply || cut)
        plan.close();
    return plan;
}

QByteArray HttpFileServer::head(const QByteArray &status, QByteArrayList headers) const
{
    if (closeAfterReply)
        headers.append("Connection: close");
    headers += extraHeaders;
    if (lowerCaseHeaders) {
        for (QByteArray &h : headers)
            h = h.left(h.indexOf(':')).toLower() + h.mid(h.indexOf(':'));
    }
    return FakeServer::httpHead("HTTP/1.1 " + status, headers);
}
