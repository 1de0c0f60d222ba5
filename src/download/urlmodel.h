#pragma once

#include "config/loginaccount.h"

#include <QLocale>
#include <QString>

#include <concepts>

// The URL fields of one download, as ParseURL fills them. Field names are the
// ones the download window exposes to the rest of the program.
struct UrlFields {
    QString strServer;   // host name or address; an IPv6 literal without brackets
    QString strFile;     // path after the host without a leading "/"
    QString strFilePath; // request path: "/" + strFile for HTTP, strFile for FTP
    QString strUserName;
    QString strPassword;
    int intPort = 0;     // 1..65535 once parsed; 0 while nothing was parsed
    bool HTTPMODE = false;
    bool FTPMODE = false;
    bool secure = false; // over TLS: "https://", or "ftps://" (implicit TLS)

    // The last component of strFile (for HTTP without its query string).
    QString fileName() const;

    bool operator==(const UrlFields &) const = default;
};

// The password sent with the "anonymous" FTP login when the URL names none.
inline const QString AnonymousPassword = QStringLiteral("tessel@localhost");

inline constexpr int DefaultHttpPort = 80;
inline constexpr int DefaultHttpsPort = 443;
inline constexpr int DefaultFtpPort = 21;
inline constexpr int DefaultFtpsPort = 990; // implicit TLS

// The login of a server: both empty when the login table has no account for it.
struct LoginCredentials {
    QString user;
    QString password;
    bool isEmpty() const { return user.isEmpty() && password.isEmpty(); }
    bool operator==(const LoginCredentials &) const = default;
};

// The first account whose server equals `server` (host names compared
// without regard to case).
LoginCredentials FindLogin(const QString &server, const LoginTable &logins);

// Turns a URL into the fields of a download.
//
// - "http://" (any case) selects HTTP, port 80; "https://" selects HTTP over
//   TLS, port 443; every other scheme, or none, selects FTP, port 21.
// - A browser resource page ("res://...") or a local path ("C:\...") that
//   embeds a URL downloads the embedded URL.
// - The authority ends at the first "/" (for HTTP also at "?" or "#"). User
//   information is the text before its last "@" and is percent-decoded;
//   without it an FTP login is "anonymous" / AnonymousPassword. An IPv6
//   literal is written in brackets.
// - HTTP paths keep their bytes except that blanks become "%20"; a fragment
//   is dropped. A URL without a path requests "/". FTP paths are
//   percent-decoded, because the server expects the name itself.
// - An account in `logins` for the server replaces the URL's login.
// - A part that cannot be parsed (an empty host, a port that is not a number
//   in 1..65535) leaves that field of `previous` unchanged.
UrlFields ParseURL(const QString &url, const LoginTable &logins, const UrlFields &previous = {});

// The URL the fields describe: scheme, host, port when not the scheme's
// default, and path. Used as the base for relative redirects.
QString ComposeURL(const UrlFields &fields);

// The part of a list row's URL text from its first "http://", "https://",
// "ftp://" or "ftps://" on (either case); the whole text when it has none.
QString UrlFromScheme(const QString &text);

// The port a URL of these fields' scheme uses when it names none.
int defaultPortOf(const UrlFields &fields);

// "1023 Bytes", "1.00 KB" (1024 up to and including 1048576 bytes),
// "3.00 MB" with thousands separators above that. Separators come from
// `locale`. Non-finite input counts as 0.
QString FormatSize(double bytes, const QLocale &locale = QLocale());

template<std::integral T>
QString FormatSize(T bytes, const QLocale &locale = QLocale())
{
    return FormatSize(static_cast<double>(bytes), locale);
}

// "HH:MM:SS" from a number of seconds; fractions are cut off, negative or
// non-finite input counts as 0. Hours are not wrapped at 24 (they grow to as
// many digits as needed, up to 99999).
QString FormatTime(double seconds);

// True when `path` names a file whose length can be read.
bool FileExistsLen(const QString &path);
