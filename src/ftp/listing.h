#pragma once

// Directory listings as servers send them: MLSD facts and the LIST formats
// of real servers (UNIX ls -l, DOS/IIS, EPLF and others). Plain functions.

#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

struct FtpListEntry {
    enum class Kind { File, Folder, Link, Other };
    QString name;         // as the server sent it (UTF-8, else Latin-1)
    Kind kind = Kind::File;
    qint64 size = -1;     // -1 when not given
    QDateTime modified;   // invalid when not given; UTC when the server says so
    QString linkTarget;   // "name -> target" of a UNIX link
    QString permissions;  // "rwxr-xr-x" or the octal unix.mode, when given
    bool operator==(const FtpListEntry &) const = default;
};

// One line of a LIST reply; nothing for a line that is not an entry
// ("total 12", blank lines, garbage). now: the clock for "Mon dd hh:mm"
// dates, whose year is the latest one not more than a day in the future.
// A LIST date is the server's clock as printed, carried as UTC (vsftpd and
// pyftpdlib print UTC; the fields are never shifted). Names are the rest of
// the line after the date, blanks inside and in front kept; a link's
// " -> target" goes to linkTarget.
std::optional<FtpListEntry> parseListLine(QByteArrayView line, const QDateTime &now);
// One line of MLSD / MLST ("fact=value;... name").
std::optional<FtpListEntry> parseMlsdLine(QByteArrayView line);
// A whole listing: lines split on CR LF or LF; entries "." and ".." (and
// MLSD's cdir/pdir) are left out.
QList<FtpListEntry> parseListing(QByteArrayView bytes, bool mlsd, const QDateTime &now);

// Whether a listing name may become one component of a local path: not
// empty, not "." or "..", no "/", "\" or NUL.
bool isSafeLocalName(const QString &name);
