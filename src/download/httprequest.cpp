#include "download/httprequest.h"

#include "config/settingsrecord.h"

#include <QUrl>

namespace {

// Drops bytes that would end a header line or are not visible characters,
// so that no text taken from a URL or a setting can add header lines.
QByteArray headerSafe(QByteArray text)
{
    text.removeIf([](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
    return text;
}

QByteArray hostBytes(const QString &server)
{
    QByteArray host = QUrl::toAce(server);
    if (host.isEmpty())
        host = server.toUtf8();
    host = headerSafe(host);
    host.replace(' ', QByteArray());
    if (host.contains(':'))
        host = '[' + host + ']';
    return host;
}

// Host header value: the port is named only when it is not the scheme's
// default (80, or 443 over TLS).
QByteArray hostHeader(const UrlFields &url)
{
    QByteArray host = hostBytes(url.strServer);
    if (url.intPort != defaultPortOf(url) && url.intPort > 0)
        host += ':' + QByteArray::number(url.intPort);
    return host;
}

// The path as sent: UTF-8 with blanks, control characters and non-ASCII
// bytes percent-encoded; every other byte, "%" escapes included, as given.
QByteArray encodedPath(const QString &path)
{
    const QByteArray raw = path.isEmpty() ? QByteArray("/") : path.toUtf8();
    QByteArray out;
    out.reserve(raw.size());
    static const char hex[] = "0123456789ABCDEF";
    for (const char c : raw) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7f) {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0x0f];
        } else {
            out += c;
        }
    }
    if (!out.startsWith('/'))
        out.prepend('/');
    return out;
}

QByteArray requestLine(const UrlFields &url, const HttpProxySettings &proxy)
{
    QByteArray target = encodedPath(url.strFilePath);
    if (proxy.active())
        target = "http://" + hostHeader(url) + target;
    return "GET " + target + " HTTP/1.1\r\n";
}

QByteArray proxyAuthorization(const HttpProxySettings &proxy)
{
    if (!proxy.active() || !proxy.LoginProxy)
        return {};
    const QString credentials = proxy.UserID + QLatin1Char(':') + (proxy.UsePass ? proxy.UserPass : QString());
    return "Proxy-Authorization: Basic " + Encode2Base64(credentials.toUtf8()) + "\r\n";
}

// The URL's user and password (or the login table's account for its host)
// as Basic credentials for the server itself.
QByteArray originAuthorization(const UrlFields &url)
{
    if (!url.HTTPMODE || url.strUserName.isEmpty())
        return {};
    const QString credentials = url.strUserName + QLatin1Char(':') + url.strPassword;
    return "Authorization: Basic " + Encode2Base64(credentials.toUtf8()) + "\r\n";
}

} // namespace

bool HttpProxySettings::active() const
{
    return UseProxy && !ProxyServer.trimmed().isEmpty() && ProxyPort >= 1 && ProxyPort <= 65535;
}

HttpProxySettings HttpProxySettings::fromRecord(const SettingsRecord &record)
{
    HttpProxySettings proxy;
    proxy.UseProxy = record.UseProxy;
    proxy.ProxyServer = record.ProxyServer;
    proxy.ProxyPort = record.ProxyPort;
    proxy.LoginProxy = record.LoginProxy;
    proxy.UserID = record.UserID;
    proxy.UserPass = record.UserPass;
    proxy.UsePass = record.UsePass;
    return proxy;
}

HttpEndpoint httpConnectTarget(const UrlFields &url, const HttpProxySettings &proxy)
{
    if (proxy.active())
        return {proxy.ProxyServer.trimmed(), proxy.ProxyPort, true};
    return {url.strServer, url.intPort, false};
}

QByteArray httpTunnelRequest(const UrlFields &url, const HttpProxySettings &proxy)
{
    // The authority always names the port: a tunnel has no default.
    const QByteArray authority = hostBytes(url.strServer) + ':' + QByteArray::number(url.intPort);
    return "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\nUser-Agent: DM\r\n"
        + proxyAuthorization(proxy) + "\r\n";
}

QByteArray httpProbeRequest(const UrlFields &url, bool fullRange, const HttpProxySettings &proxy)
{
    QByteArray request = requestLine(url, proxy);
    request += "Host: " + hostHeader(url) + "\r\n";
    request += fullRange ? "Range: bytes=0-\r\n" : "Range: bytes=-\r\n";
    request += "User-Agent: DM\r\n";
    request += "Referer: " + headerSafe(url.strServer.toUtf8()) + "\r\n";
    request += "Accept: *.*, */*\r\n";
    request += originAuthorization(url);
    request += proxyAuthorization(proxy);
    // One request per connection: the server may close after the reply.
    request += "Connection: close\r\n";
    request += "\r\n";
    return request;
}

QByteArray httpDataRequest(const UrlFields &url, const HttpByteRange &range, int segment,
                           const HttpProxySettings &proxy, const QByteArray &ifRange)
{
    QByteArray request = requestLine(url, proxy);
    request += "Host: " + hostHeader(url) + "\r\n";
    request += "Range: bytes=" + QByteArray::number(range.first) + '-';
    if (!range.isOpenEnded())
        request += QByteArray::number(range.last);
    request += "\r\n";
    if (!ifRange.isEmpty())
        request += "If-Range: " + headerSafe(ifRange) + "\r\n";
    request += "User-Agent: NELV Segment " + QByteArray::number(segment) + "\r\n";
    request += "Accept:  */*\r\n";
    request += originAuthorization(url);
    request += proxyAuthorization(proxy);
    // No "Connection: close": a server that keeps the connection alive lets
    // the next range of this connection go out on it.
    request += "\r\n";
    return request;
}

QByteArray Encode2Base64(QByteArrayView bytes)
{
    static constexpr char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    QByteArray out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    qsizetype i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const quint32 group = (quint32(quint8(bytes[i])) << 16) | (quint32(quint8(bytes[i + 1])) << 8)
                              | quint32(quint8(bytes[i + 2]));
        out += table[(group >> 18) & 63];
        out += table[(group >> 12) & 63];
        out += table[(group >> 6) & 63];
        out += table[group & 63];
    }
    const qsizetype left = bytes.size() - i;
    if (left == 1) {
        const quint32 group = quint32(quint8(bytes[i])) << 16;
        out += table[(group >> 18) & 63];
        out += table[(group >> 12) & 63];
        out += "==";
    } else if (left == 2) {
        const quint32 group = (quint32(quint8(bytes[i])) << 16) | (quint32(quint8(bytes[i + 1])) << 8);
        out += table[(group >> 18) & 63];
        out += table[(group >> 12) & 63];
        out += table[(group >> 6) & 63];
        out += '=';
    }
    return out;
}
