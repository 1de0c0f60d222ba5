#pragma once

#include "download/urlmodel.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

struct SettingsRecord;

// The proxy settings an HTTP request depends on (names as in the settings
// record).
struct HttpProxySettings {
    bool UseProxy = false;
    QString ProxyServer;
    int ProxyPort = 80;
    bool LoginProxy = false; // send Proxy-Authorization to the proxy
    QString UserID;
    QString UserPass;
    bool UsePass = false;    // include UserPass in the credentials

    // True when requests go through the proxy: UseProxy with a server and a
    // port in 1..65535.
    bool active() const;

    static HttpProxySettings fromRecord(const SettingsRecord &record);
};

// Where a connection for this download goes: the proxy when one is active,
// else the server of the URL.
struct HttpEndpoint {
    QString host;
    int port = 0;
    bool throughProxy = false;
    bool operator==(const HttpEndpoint &) const = default;
};

HttpEndpoint httpConnectTarget(const UrlFields &url, const HttpProxySettings &proxy);

// Bytes first..last of a file; last -1 asks for everything from first on.
struct HttpByteRange {
    qint64 first = 0;
    qint64 last = -1;
    bool isOpenEnded() const { return last < 0; }
    bool operator==(const HttpByteRange &) const = default;
};

// Both requests carry "Authorization: Basic" when the URL fields hold a user
// (from the URL's user information or the login table for its host).
//
// The probe request: GET with "Range: bytes=-", or "Range: bytes=0-" once a
// server refused that with 416 (`fullRange`), "User-Agent: DM".
QByteArray httpProbeRequest(const UrlFields &url, bool fullRange, const HttpProxySettings &proxy);

// The request of data connection `segment` for `range`,
// "User-Agent: NELV Segment <segment>"; it leaves the connection open. With
// `ifRange` (an ETag or a date) the server sends the whole file instead of
// the range when its file is no longer that one.
QByteArray httpDataRequest(const UrlFields &url, const HttpByteRange &range, int segment,
                           const HttpProxySettings &proxy, const QByteArray &ifRange = {});

// The request that asks the proxy for a tunnel to the URL's server
// ("CONNECT host:port"), with the proxy's credentials when it wants them.
QByteArray httpTunnelRequest(const UrlFields &url, const HttpProxySettings &proxy);

// Standard Base64 (RFC 4648 alphabet, "=" padding) of bytes; text is
// encoded from its UTF-8 bytes.
QByteArray Encode2Base64(QByteArrayView bytes);
