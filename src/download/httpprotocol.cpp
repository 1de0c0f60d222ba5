#include "download/httpprotocol.h"

#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace {

const QString TooManyRedirects = QStringLiteral("Too many redirects.");
const QString UnsupportedRedirect = QStringLiteral("The server redirected to an address that cannot be downloaded: ");
const QString RangeMismatch = QStringLiteral("The server answered with a different range than requested.");
const QString SizeChanged = QStringLiteral("The size of the file on the server has changed.");
const QString TransferCoding = QStringLiteral("The server sent the file in a transfer coding that cannot be read.");

const QRegularExpression &schemePrefix()
{
    static const QRegularExpression re(QStringLiteral("^([A-Za-z][A-Za-z0-9+.\\-]*):"));
    return re;
}

ProbeDecision failure(const HttpResponseHeader &reply, const CaptionLookup &captions)
{
    ProbeDecision d;
    d.action = ProbeDecision::Action::Fail;
    d.statusCode = reply.statusCode();
    if (const auto caption = httpErrorCaption(reply.statusCode()))
        d.captionId = caption->id;
    d.text = httpStatusText(reply, captions);
    return d;
}

ProbeDecision failure(int status, const QString &text)
{
    ProbeDecision d;
    d.action = ProbeDecision::Action::Fail;
    d.statusCode = status;
    d.text = text;
    return d;
}

ProbeDecision pageMode(int status)
{
    ProbeDecision d;
    d.action = ProbeDecision::Action::PageMode;
    d.statusCode = status;
    return d;
}

ProbeDecision startTransfer(int status, bool partial, qint64 size)
{
    ProbeDecision d;
    d.action = ProbeDecision::Action::StartTransfer;
    d.statusCode = status;
    d.partial = partial;
    d.contentSize = size;
    return d;
}

DataAcceptance dataFailure(const HttpResponseHeader &reply, const QString &text, const CaptionLookup &captions)
{
    DataAcceptance a;
    a.action = DataAcceptance::Action::Fail;
    a.statusCode = reply.statusCode();
    if (!text.isEmpty()) {
        a.text = text;
        return a;
    }
    if (const auto caption = httpErrorCaption(reply.statusCode()))
        a.captionId = caption->id;
    a.text = httpStatusText(reply, captions);
    return a;
}

// An HTML page in an HTTP/1.1 reply; an HTTP/1.0 reply without a length is
// always the file, read to the close.
bool isHtmlPage(const HttpResponseHeader &reply)
{
    return !reply.text().startsWith("HTTP/1.0")
           && reply.value("content-type").trimmed().toLower().startsWith("text/html");
}

bool isRedirect(int code)
{
    return code == 300 || code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

} // namespace

std::optional<HttpErrorCaption> httpErrorCaption(int code)
{
    switch (code) {
    case 400: return HttpErrorCaption{QStringLiteral("13033"), QStringLiteral("HTTP 400-Bad Request")};
    case 401:
        return HttpErrorCaption{QStringLiteral("13034"),
                                QStringLiteral("HTTP 401.x-You are not authorized to view this page")};
    case 403: return HttpErrorCaption{QStringLiteral("13035"), QStringLiteral("HTTP 403.x - Forbidden: Acess Denied")};
    case 404: return HttpErrorCaption{QStringLiteral("13032"), QStringLiteral("HTTP 404-Object Not Found")};
    case 405: return HttpErrorCaption{QStringLiteral("13036"), QStringLiteral("HTTP 405 - Resource Not Allowed")};
    case 406: return HttpErrorCaption{QStringLiteral("13037"), QStringLiteral("HTTP Error 406 - Not Acceptable")};
    case 407:
        return HttpErrorCaption{QStringLiteral("13038"), QStringLiteral("HTTP 407 - Proxy Authentication Required")};
    case 410:
        return HttpErrorCaption{QStringLiteral("13039"), QStringLiteral("HTTP Error 410 - Permanently not available")};
    case 412: return HttpErrorCaption{QStringLiteral("13040"), QStringLiteral("HTTP 412 - Precondition Failed")};
    case 414: return HttpErrorCaption{QStringLiteral("13041"), QStringLiteral("HTTP 414 - Request - URI Too Long")};
    case 500:
        return HttpErrorCaption{
            QStringLiteral("13044"),
            QStringLiteral("HTTP Error 500-Server Error - The server failed to fulfill an apparently valid request")};
    case 501: return HttpErrorCaption{QStringLiteral("13042"), QStringLiteral("Error 501 - Not implemented")};
    case 502: return HttpErrorCaption{QStringLiteral("13043"), QStringLiteral("HTTP 502 - Bad Gateway")};
    default: return std::nullopt;
    }
}

QString GetError(int code, const CaptionLookup &captions)
{
    const std::optional<HttpErrorCaption> caption = httpErrorCaption(code);
    if (!caption)
        return HttpSuccess;
    return captions ? captions(caption->id, caption->defaultText) : caption->defaultText;
}

QString httpStatusText(const HttpResponseHeader &reply, const CaptionLookup &captions)
{
    const QString error = GetError(reply.statusCode(), captions);
    if (error != HttpSuccess)
        return error;
    QString text = QStringLiteral("HTTP ") + QString::number(reply.statusCode());
    const QString reason = QString::fromUtf8(reply.reasonPhrase()).trimmed();
    if (!reason.isEmpty())
        text += QLatin1Char(' ') + reason;
    return text;
}

RedirectStep nextRedirect(int redirectsSoFar)
{
    RedirectStep step;
    step.redirects = redirectsSoFar + 1;
    step.allowed = step.redirects <= MaxRedirects;
    step.restartWindow = step.redirects >= RestartFromRedirect;
    return step;
}

bool isDownloadableUrl(const QString &url)
{
    const QRegularExpressionMatch scheme = schemePrefix().match(url.trimmed());
    const QString name = scheme.hasMatch() ? scheme.captured(1).toLower() : QString();
    return name == QLatin1String("http") || name == QLatin1String("https") || name == QLatin1String("ftp");
}

QString resolveLocation(const UrlFields &from, QByteArrayView location)
{
    const QString target = QString::fromUtf8(location).trimmed();
    if (target.isEmpty())
        return {};
    if (schemePrefix().match(target).hasMatch())
        return target;
    const QUrl base(ComposeURL(from), QUrl::TolerantMode);
    const QUrl relative(target, QUrl::TolerantMode);
    return base.resolved(relative).toString(QUrl::FullyEncoded);
}

QString FindSrcURL(QByteArrayView page, const QString &fileName)
{
    const QByteArray name = fileName.toUtf8().toLower();
    if (name.isEmpty())
        return {};
    const QByteArray lowered = page.toByteArray().toLower();
    for (qsizetype at = lowered.indexOf(name); at >= 0; at = lowered.indexOf(name, at + 1)) {
        const qsizetype single = at > 0 ? lowered.lastIndexOf("src='", at - 1) : -1;
        const qsizetype dbl = at > 0 ? lowered.lastIndexOf("src=\"", at - 1) : -1;
        const qsizetype src = std::max(single, dbl);
        if (src < 0)
            continue;
        const char quote = src == single ? '\'' : '"';
        const qsizetype start = src + 5;
        const qsizetype end = at + name.size();
        if (start > at)
            continue;
        const QByteArrayView url = page.sliced(start, end - start);
        const bool insideAttribute = std::none_of(url.begin(), url.end(), [quote](char c) {
            return c == quote || c == '<' || c == '>' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
        });
        if (insideAttribute)
            return QString::fromUtf8(url);
    }
    return {};
}

ProbeDecision ProcessProbeReply(const HttpResponseHeader &reply, const ProbeContext &context,
                                const CaptionLookup &captions)
{
    const int code = reply.statusCode();
    // Some servers and firewalls refuse the probe's "bytes=-" outright: ask
    // again for the whole file, as after a 416.
    if (code == 400 && !context.fullRange) {
        ProbeDecision d;
        d.action = ProbeDecision::Action::RetryFullRange;
        d.statusCode = code;
        return d;
    }
    if (GetError(code, captions) != HttpSuccess)
        return failure(reply, captions);
    if (reply.hasTransferCoding() && !reply.isChunked() && (code == 200 || code == 206))
        return failure(code, TransferCoding);

    // A chunked body has no usable Content-Length: Transfer-Encoding wins.
    // (-1 stands for "none" so the optimiser sees a plain integer.)
    const qint64 length = reply.bodyLength().value_or(-1);

    if (code == 200) {
        if (length >= 0)
            return startTransfer(code, false, length);
        // Without a length an HTML page is searched for the file; anything
        // else is the file itself, read to the end of its body.
        return isHtmlPage(reply) ? pageMode(code) : startTransfer(code, false, -1);
    }

    if (code == 206) {
        if (!reply.contains("content-range"))
            return length >= 0 ? startTransfer(code, true, length) : pageMode(code);
        const std::optional<ContentRange> range = reply.contentRange();
        if (range && range->total >= 0)
            return startTransfer(code, true, range->total);
        return pageMode(code);
    }

    if (isRedirect(code)) {
        const QString target = resolveLocation(context.url, reply.value("location"));
        if (target.isEmpty())
            return pageMode(code);
        const RedirectStep step = nextRedirect(context.redirects);
        if (!step.allowed)
            return failure(code, TooManyRedirects);
        if (!isDownloadableUrl(target))
            return failure(code, UnsupportedRedirect + target);
        ProbeDecision d;
        d.action = ProbeDecision::Action::Redirect;
        d.statusCode = code;
        d.url = target;
        d.redirects = step.redirects;
        d.restartWindow = step.restartWindow;
        return d;
    }

    if (code == 416) {
        if (!context.fullRange) {
            ProbeDecision d;
            d.action = ProbeDecision::Action::RetryFullRange;
            d.statusCode = code;
            return d;
        }
        // "bytes=0-" is unsatisfiable only for an empty file.
        const std::optional<ContentRange> range = reply.contentRange();
        if (range && range->unsatisfied && range->total == 0)
            return startTransfer(code, true, 0);
    }

    return failure(reply, captions);
}

DataAcceptance acceptDataResponse(const HttpResponseHeader &reply, const HttpByteRange &requested,
                                  qint64 fileSize, const CaptionLookup &captions)
{
    const int code = reply.statusCode();
    if (code != 200 && code != 206)
        return dataFailure(reply, QString(), captions);
    if (reply.hasTransferCoding() && !reply.isChunked())
        return dataFailure(reply, TransferCoding, captions);

    const std::optional<qint64> length = reply.bodyLength();
    DataAcceptance a;
    a.statusCode = code;

    if (code == 206) {
        const std::optional<ContentRange> range = reply.contentRange();
        if (!range || range->unsatisfied || range->first != requested.first)
            return dataFailure(reply, RangeMismatch, captions);
        if (length && *length != range->length())
            return dataFailure(reply, RangeMismatch, captions);
        if (fileSize >= 0 && range->total >= 0 && range->total != fileSize)
            return dataFailure(reply, SizeChanged, captions);
        qint64 wantedLast = range->last;
        if (!requested.isOpenEnded())
            wantedLast = std::min(wantedLast, requested.last);
        a.action = DataAcceptance::Action::WritePartial;
        a.writeOffset = range->first;
        a.maxBytes = std::max<qint64>(0, wantedLast - range->first + 1);
        a.totalSize = range->total >= 0 ? range->total : fileSize;
        return a;
    }

    // 200: the body is the whole file from its first byte.
    if (fileSize >= 0 && length && *length != fileSize)
        return dataFailure(reply, SizeChanged, captions);
    const qint64 total = length ? *length : fileSize;
    const bool wholeFileAsked = requested.first == 0
                                && (requested.isOpenEnded() || (total >= 0 && requested.last >= total - 1));
    a.action = wholeFileAsked ? DataAcceptance::Action::WriteFull : DataAcceptance::Action::FallBackToFull;
    a.writeOffset = 0;
    a.maxBytes = total;
    a.totalSize = total;
    return a;
}

QByteArrayView clipToWanted(QByteArrayView chunk, qint64 written, qint64 maxBytes)
{
    if (maxBytes < 0)
        return chunk;
    const qint64 left = std::max<qint64>(0, maxBytes - written);
    return chunk.first(std::min<qint64>(left, chunk.size()));
}
