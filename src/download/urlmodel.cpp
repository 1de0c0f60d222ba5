#include "download/urlmodel.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>
#include <optional>

namespace {

// Decodes the "%XX" sequences of text (as UTF-8 bytes); a "%" that does not
// start a valid sequence stays as it is.
QString percentDecoded(const QString &text)
{
    if (!text.contains(QLatin1Char('%')))
        return text;
    const QByteArray in = text.toUtf8();
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '%' && i + 2 < in.size()) {
            const int hi = QByteArrayView("0123456789abcdef").indexOf(char(QChar::toLower(in[i + 1])));
            const int lo = QByteArrayView("0123456789abcdef").indexOf(char(QChar::toLower(in[i + 2])));
            if (hi >= 0 && lo >= 0) {
                out.append(char(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.append(in[i]);
    }
    return QString::fromUtf8(out);
}

// The port number of text when it is a plain decimal number in 1..65535.
std::optional<int> parsePort(const QString &text)
{
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    int value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
    }
    if (value < 1 || value > 65535)
        return std::nullopt;
    return value;
}

struct Authority {
    bool hasUserInfo = false;
    QString user;
    QString password;
    QString host;              // empty when none could be read
    bool portGiven = false;    // the authority holds a port text (maybe empty)
    std::optional<int> port;   // the port when it parsed
};

Authority splitAuthority(const QString &authority)
{
    Authority result;
    QString hostPort = authority;
    const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        result.hasUserInfo = true;
        const QString userInfo = authority.left(at);
        const qsizetype colon = userInfo.indexOf(QLatin1Char(':'));
        result.user = percentDecoded(colon >= 0 ? userInfo.left(colon) : userInfo);
        result.password = colon >= 0 ? percentDecoded(userInfo.mid(colon + 1)) : QString();
        hostPort = authority.mid(at + 1);
    }

    QString portText;
    if (hostPort.startsWith(QLatin1Char('['))) {
        const qsizetype close = hostPort.indexOf(QLatin1Char(']'));
        if (close < 0)
            return result; // unterminated IPv6 literal: no host
        result.host = hostPort.mid(1, close - 1);
        const QString after = hostPort.mid(close + 1);
        if (after.startsWith(QLatin1Char(':'))) {
            result.portGiven = true;
            portText = after.mid(1);
        } else if (!after.isEmpty()) {
            result.portGiven = true; // text after the literal that is not a port
            portText = after;
        }
    } else {
        const qsizetype colon = hostPort.indexOf(QLatin1Char(':'));
        if (colon >= 0) {
            result.host = hostPort.left(colon);
            result.portGiven = true;
            portText = hostPort.mid(colon + 1);
        } else {
            result.host = hostPort;
        }
    }
    result.host = result.host.trimmed();
    portText = portText.trimmed();
    if (result.portGiven && !portText.isEmpty())
        result.port = parsePort(portText);
    else
        result.portGiven = false; // "host:" names no port: the scheme's default
    return result;
}

const QRegularExpression &schemePrefix()
{
    static const QRegularExpression re(QStringLiteral("^([A-Za-z][A-Za-z0-9+.\\-]*)://"));
    return re;
}

} // namespace

QString UrlFields::fileName() const
{
    QString path = strFile;
    if (HTTPMODE) {
        const qsizetype query = path.indexOf(QLatin1Char('?'));
        if (query >= 0)
            path.truncate(query);
    }
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

LoginCredentials FindLogin(const QString &server, const LoginTable &logins)
{
    for (const LoginAccount &account : logins) {
        if (account.server.compare(server, Qt::CaseInsensitive) == 0)
            return {account.user, account.password};
    }
    return {};
}

UrlFields ParseURL(const QString &url, const LoginTable &logins, const UrlFields &previous)
{
    UrlFields fields = previous;
    QString s = url.trimmed();

    // A browser resource page or a local path can carry the real URL inside.
    if (s.startsWith(QLatin1String("res://"), Qt::CaseInsensitive) || s.mid(1, 2) == QLatin1String(":\\")) {
        qsizetype http = s.indexOf(QLatin1String("http://"), 0, Qt::CaseInsensitive);
        const qsizetype https = s.indexOf(QLatin1String("https://"), 0, Qt::CaseInsensitive);
        if (https >= 0 && (http < 0 || https < http))
            http = https;
        qsizetype ftp = s.indexOf(QLatin1String("ftp://"), 0, Qt::CaseInsensitive);
        const qsizetype ftps = s.indexOf(QLatin1String("ftps://"), 0, Qt::CaseInsensitive);
        if (ftps >= 0 && (ftp < 0 || ftps < ftp))
            ftp = ftps;
        if (http >= 0)
            s = s.mid(http);
        else if (ftp >= 0)
            s = s.mid(ftp);
    }

    // The scheme is the URL's own leading one; anything but http and https
    // is fetched over FTP, ftps over implicit TLS.
    bool http = false;
    bool secure = false;
    const QRegularExpressionMatch scheme = schemePrefix().match(s);
    if (scheme.hasMatch()) {
        const QString name = scheme.captured(1).toLower();
        secure = name == QLatin1String("https") || name == QLatin1String("ftps");
        http = name == QLatin1String("https") || name == QLatin1String("http");
        s = s.mid(scheme.capturedLength(0));
    }
    fields.HTTPMODE = http;
    fields.FTPMODE = !http;
    fields.secure = secure;

    qsizetype authorityEnd = s.indexOf(QLatin1Char('/'));
    if (http) {
        for (const QChar stop : {QLatin1Char('?'), QLatin1Char('#')}) {
            const qsizetype at = s.indexOf(stop);
            if (at >= 0 && (authorityEnd < 0 || at < authorityEnd))
                authorityEnd = at;
        }
    }
    if (authorityEnd < 0)
        authorityEnd = s.size();
    const Authority authority = splitAuthority(s.left(authorityEnd));
    QString rest = s.mid(authorityEnd);

    LoginCredentials login;
    if (authority.hasUserInfo)
        login = {authority.user, authority.password};
    else if (!http)
        login = {QStringLiteral("anonymous"), AnonymousPassword};

    QString file;
    if (http) {
        const qsizetype fragment = rest.indexOf(QLatin1Char('#'));
        if (fragment >= 0)
            rest.truncate(fragment);
        file = rest.startsWith(QLatin1Char('/')) ? rest.mid(1) : rest;
        file.replace(QLatin1Char(' '), QLatin1String("%20"));
    } else {
        file = percentDecoded(rest.startsWith(QLatin1Char('/')) ? rest.mid(1) : rest);
    }

    if (!authority.host.isEmpty()) {
        const LoginCredentials account = FindLogin(authority.host, logins);
        if (!account.isEmpty())
            login = account;
    }

    fields.strUserName = login.user.trimmed();
    fields.strPassword = login.password.trimmed();
    if (!authority.portGiven)
        fields.intPort = defaultPortOf(fields);
    else if (authority.port)
        fields.intPort = *authority.port;
    fields.strFile = file.trimmed();
    fields.strFilePath = http ? QLatin1Char('/') + fields.strFile : fields.strFile;
    if (!authority.host.isEmpty())
        fields.strServer = authority.host;
    return fields;
}

QString ComposeURL(const UrlFields &fields)
{
    const bool http = fields.HTTPMODE;
    QString host = fields.strServer;
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    QString url = !http ? (fields.secure ? QStringLiteral("ftps://") : QStringLiteral("ftp://"))
                        : fields.secure ? QStringLiteral("https://") : QStringLiteral("http://");
    url += host;
    const int defaultPort = defaultPortOf(fields);
    if (fields.intPort > 0 && fields.intPort != defaultPort)
        url += QLatin1Char(':') + QString::number(fields.intPort);
    if (http) {
        url += fields.strFilePath.isEmpty() ? QStringLiteral("/") : fields.strFilePath;
    } else {
        QString path = fields.strFile;
        path.replace(QLatin1Char('%'), QLatin1String("%25"));
        path.replace(QLatin1Char(' '), QLatin1String("%20"));
        url += QLatin1Char('/') + path;
    }
    return url;
}

int defaultPortOf(const UrlFields &fields)
{
    if (!fields.HTTPMODE)
        return fields.secure ? DefaultFtpsPort : DefaultFtpPort;
    return fields.secure ? DefaultHttpsPort : DefaultHttpPort;
}

QString FormatSize(double bytes, const QLocale &locale)
{
    if (!std::isfinite(bytes) || bytes == 0.0)
        bytes = 0.0;
    QLocale plain = locale;
    plain.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    if (bytes < 1024.0)
        return plain.toString(bytes, 'g', QLocale::FloatingPointShortest) + QLatin1String(" Bytes");
    if (bytes <= 1048576.0)
        return plain.toString(bytes / 1024.0, 'f', 2) + QLatin1String(" KB");
    QLocale grouped = locale;
    grouped.setNumberOptions(locale.numberOptions() & ~QLocale::NumberOptions(QLocale::OmitGroupSeparator));
    return grouped.toString(bytes / 1048576.0, 'f', 2) + QLatin1String(" MB");
}

QString FormatTime(double seconds)
{
    constexpr qint64 longest = 99999LL * 3600 + 59 * 60 + 59;
    qint64 whole = 0;
    if (std::isfinite(seconds) && seconds > 0)
        whole = seconds >= double(longest) ? longest : static_cast<qint64>(seconds);
    const qint64 hours = whole / 3600;
    const qint64 minutes = (whole / 60) % 60;
    const qint64 secs = whole % 60;
    return QStringLiteral("%1:%2:%3")
        .arg(hours, 2, 10, QLatin1Char('0'))
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(secs, 2, 10, QLatin1Char('0'));
}

bool FileExistsLen(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

QString UrlFromScheme(const QString &text)
{
    qsizetype from = -1;
    for (const char *scheme : {"http://", "https://", "ftp://", "ftps://"}) {
        const qsizetype at = text.indexOf(QLatin1String(scheme), 0, Qt::CaseInsensitive);
        if (at >= 0 && (from < 0 || at < from))
            from = at;
    }
    return from > 0 ? text.mid(from) : text;
}
