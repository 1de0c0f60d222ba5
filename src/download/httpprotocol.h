#pragma once

// The decisions of an HTTP download that depend only on what the server
// answered: what a probe reply means, whether a data reply may be written,
// where a redirect goes. The download job carries them out.

#include "download/httpmessage.h"
#include "download/httprequest.h"
#include "download/urlmodel.h"
#include "platform/captionlookup.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

// What GetError answers for a status that is not an error.
inline const QString HttpSuccess = QStringLiteral("SUCCESS");

// The caption of an HTTP error status: identifier and English default.
struct HttpErrorCaption {
    QString id;
    QString defaultText;
    bool operator==(const HttpErrorCaption &) const = default;
};

// The caption for the statuses that have one (400, 401, 403 to 407, 410,
// 412, 414, 500 to 502); nothing for the others.
std::optional<HttpErrorCaption> httpErrorCaption(int code);

// The looked-up caption of an error status, or HttpSuccess.
QString GetError(int code, const CaptionLookup &captions);

// The text shown for a status that stops a download: its caption when it has
// one, else "HTTP <code> <reason phrase>".
QString httpStatusText(const HttpResponseHeader &reply, const CaptionLookup &captions);

// Redirect counting: at most MaxRedirects are followed in a download's life;
// from the RestartFromRedirect-th on, each one restarts the download.
inline constexpr int MaxRedirects = 20;
inline constexpr int RestartFromRedirect = 5;

struct RedirectStep {
    int redirects = 0;          // the count including this redirect
    bool allowed = false;       // within MaxRedirects
    bool restartWindow = false; // restart the download rather than only re-probe
    bool operator==(const RedirectStep &) const = default;
};

RedirectStep nextRedirect(int redirectsSoFar);

// True for the URLs a download can follow (http and ftp); a Location or a
// page's link to anything else (file:, javascript:, mailto: ...) is refused.
bool isDownloadableUrl(const QString &url);

// The absolute URL a Location value points to, resolved against the URL the
// reply came from when it is relative ("/x", "x", "../x", "//host/x", "?q").
// Empty when the value is empty.
QString resolveLocation(const UrlFields &from, QByteArrayView location);

// The URL of the file in a page: the first place where fileName occurs
// (letters in any case) inside a src='...' or src="..." attribute; the URL
// runs from after the quote to the end of the name. Empty when the page holds
// no such attribute. A relative result is resolved with resolveLocation.
QString FindSrcURL(QByteArrayView page, const QString &fileName);

// What the probe was sent for.
struct ProbeContext {
    UrlFields url;          // the fields the probe request was built from
    int redirects = 0;      // redirects followed so far
    bool fullRange = false; // the probe asked "bytes=0-" after a 416
};

struct ProbeDecision {
    enum class Action {
        StartTransfer,  // the file: plan the data phase (contentSize -1: size
                        // unknown, the body runs to its end)
        PageMode,       // an HTML page without a length: search its body with FindSrcURL
        Redirect,       // probe `url` (ParseURL it first)
        RetryFullRange, // probe again asking "bytes=0-"
        Fail,           // show `text`, the download waits
    };
    Action action = Action::Fail;
    int statusCode = 0;

    // StartTransfer: `partial` (206) plans on the partial-content socket set,
    // else (200) on the full-content one. A contentSize of 0 needs no data
    // connection: the file is created empty and complete.
    bool partial = false;
    qint64 contentSize = -1;

    // Redirect: the absolute target, the new redirect count, and whether the
    // whole download restarts with it.
    QString url;
    int redirects = 0;
    bool restartWindow = false;

    // Fail: caption identifier (empty when the text has none) and the text.
    QString captionId;
    QString text;
};

// Judges a complete probe reply header.
ProbeDecision ProcessProbeReply(const HttpResponseHeader &reply, const ProbeContext &context,
                                const CaptionLookup &captions);

struct DataAcceptance {
    enum class Action {
        WritePartial,   // 206 for the requested range: write at writeOffset
        WriteFull,      // 200 for a request of the whole file from byte 0
        FallBackToFull, // the server ignored the range: this body is the whole
                        // file; drop any segment plan, close the other
                        // connections and write it from byte 0
        Fail,           // nothing of this reply is written; show `text`
    };
    Action action = Action::Fail;
    int statusCode = 0;
    qint64 writeOffset = 0; // file offset of the first body byte
    qint64 maxBytes = -1;   // body bytes to write at most; -1 when only the close ends it
    qint64 totalSize = -1;  // size of the whole file when the reply tells it
    QString captionId;
    QString text;
};

// Judges the reply header of a data connection that asked for `requested` of
// a file whose size the probe gave as `fileSize` (-1 when unknown).
DataAcceptance acceptDataResponse(const HttpResponseHeader &reply, const HttpByteRange &requested,
                                  qint64 fileSize, const CaptionLookup &captions);

// The front part of a body chunk that is still wanted after `written` bytes
// of this reply were written, when at most `maxBytes` are wanted (-1: all).
QByteArrayView clipToWanted(QByteArrayView chunk, qint64 written, qint64 maxBytes);
