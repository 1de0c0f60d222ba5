#include "listing.h"

#include <QStringDecoder>

#include <array>

namespace {

// --- small byte helpers ---

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool allDigits(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (!isDigit(c))
            return false;
    }
    return true;
}

// A non-negative decimal number of at most 18 digits (no overflow), or -1.
qint64 number(QByteArrayView text)
{
    if (!allDigits(text) || text.size() > 18)
        return -1;
    qint64 value = 0;
    for (char c : text)
        value = value * 10 + (c - '0');
    return value;
}

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool equalsNoCase(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

bool startsWithNoCase(QByteArrayView text, QByteArrayView prefix)
{
    return text.size() >= prefix.size() && equalsNoCase(text.first(prefix.size()), prefix);
}

// Names as the server sent them: UTF-8 when the bytes are valid UTF-8,
// otherwise Latin-1 (every byte a character, nothing lost).
QString decodeName(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return QString::fromLatin1(bytes.data(), bytes.size());
    return text;
}

QByteArrayView stripLineEnd(QByteArrayView line)
{
    while (!line.isEmpty() && (line.back() == '\r' || line.back() == '\n'))
        line.chop(1);
    return line;
}

// Whitespace-separated words of a line with their positions, so that a
// name (which may hold blanks) is taken as the rest of the line.
struct Token {
    qsizetype begin = 0;
    qsizetype end = 0;
};

class Words {
public:
    // Only the first maxTokens words are split off; no format needs more.
    static constexpr int MaxTokens = 24;

    explicit Words(QByteArrayView line)
        : m_line(line)
    {
        qsizetype i = 0;
        while (m_count < MaxTokens) {
            while (i < line.size() && isBlank(line[i]))
                ++i;
            if (i >= line.size())
                break;
            const qsizetype begin = i;
            while (i < line.size() && !isBlank(line[i]))
                ++i;
            m_tokens[m_count++] = {begin, i};
        }
    }

    int count() const { return m_count; }
    QByteArrayView operator[](int index) const
    {
        if (index < 0 || index >= m_count)
            return {};
        const Token &t = m_tokens[index];
        return m_line.sliced(t.begin, t.end - t.begin);
    }
    qsizetype end(int index) const { return m_tokens[index].end; }
    qsizetype begin(int index) const { return m_tokens[index].begin; }
    // The rest of the line after word index, minus exactly one blank (a
    // name's own leading blanks stay).
    QByteArrayView restAfterOneBlank(int index) const
    {
        qsizetype at = m_tokens[index].end;
        if (at < m_line.size() && isBlank(m_line[at]))
            ++at;
        return m_line.sliced(at);
    }
    // The rest of the line after word index and all blanks that follow it.
    QByteArrayView restAfterBlanks(int index) const
    {
        qsizetype at = m_tokens[index].end;
        while (at < m_line.size() && isBlank(m_line[at]))
            ++at;
        return m_line.sliced(at);
    }

private:
    QByteArrayView m_line;
    std::array<Token, MaxTokens> m_tokens{};
    int m_count = 0;
};

// --- dates ---

int monthNumber(QByteArrayView name)
{
    static constexpr std::array<const char *, 12> Months = {"jan", "feb", "mar", "apr", "may", "jun",
                                                           "jul", "aug", "sep", "oct", "nov", "dec"};
    if (name.size() != 3)
        return 0;
    for (int i = 0; i < 12; ++i) {
        if (equalsNoCase(name, Months[i]))
            return i + 1;
    }
    return 0;
}

// "hh:mm" or "hh:mm:ss", optionally followed by AM/PM (DOS listings).
std::optional<QTime> parseClock(QByteArrayView text)
{
    int pm = -1; // -1: 24-hour clock
    if (text.size() > 2 && (startsWithNoCase(text.last(2), "AM") || startsWithNoCase(text.last(2), "PM"))) {
        pm = lower(text[text.size() - 2]) == 'p' ? 1 : 0;
        text.chop(2);
    }
    const qsizetype colon = text.indexOf(':');
    if (colon < 1 || colon > 2)
        return std::nullopt;
    const qint64 hour = number(text.first(colon));
    QByteArrayView rest = text.sliced(colon + 1);
    qint64 second = 0;
    if (rest.size() == 5 && rest[2] == ':') {
        second = number(rest.sliced(3));
        rest = rest.first(2);
    }
    const qint64 minute = rest.size() == 2 ? number(rest) : -1;
    if (hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    int h = int(hour);
    if (pm >= 0) {
        if (h < 1 || h > 12)
            return std::nullopt;
        h = (h % 12) + (pm ? 12 : 0);
    }
    const QTime time(h, int(minute), int(second));
    if (!time.isValid())
        return std::nullopt;
    return time;
}

// Two-digit years as DOS and Windows servers write them.
int fullYear(qint64 year, qsizetype digits)
{
    if (digits == 2)
        return int(year < 70 ? 2000 + year : 1900 + year);
    return int(year);
}

QDateTime utc(const QDate &date, const QTime &time)
{
    return QDateTime(date, time, Qt::UTC);
}

// "Mon dd hh:mm" has no year: the latest year that does not put the date
// more than a day after now (a server clock a little ahead is tolerated).
QDate inferYear(int month, int day, const QTime &time, const QDateTime &now)
{
    const QDateTime clock = (now.isValid() ? now : QDateTime::currentDateTimeUtc()).toUTC();
    const QDateTime latest = clock.addDays(1);
    // Bounded: a 29 February needs at most a few years back to a leap year.
    for (int year = clock.date().year(), tries = 0; tries < 9; --year, ++tries) {
        const QDate date(year, month, day);
        if (date.isValid() && utc(date, time) <= latest)
            return date;
    }
    return {};
}

// --- UNIX ls -l and its relatives ---

bool isUnixPermissions(QByteArrayView word)
{
    // "drwxr-xr-x", optionally with an ACL or extended-attribute marker.
    if (word.size() < 10 || word.size() > 11)
        return false;
    if (!QByteArrayView("-dlbcpsDn").contains(word[0]))
        return false;
    for (int i = 1; i < 10; ++i) {
        if (!QByteArrayView("rwxsStTlL-").contains(word[i]))
            return false;
    }
    return word.size() == 10 || QByteArrayView("+.@").contains(word[10]);
}

FtpListEntry::Kind unixKind(char type)
{
    switch (type) {
    case '-':
        return FtpListEntry::Kind::File;
    case 'd':
        return FtpListEntry::Kind::Folder;
    case 'l':
        return FtpListEntry::Kind::Link;
    default:
        return FtpListEntry::Kind::Other;
    }
}

// The size before a date: digits, or a device's "major, minor" (no size).
bool isSizeWord(QByteArrayView word)
{
    return allDigits(word) || (word.size() > 1 && word.back() == ',' && allDigits(word.first(word.size() - 1)));
}

// Finds the date in words [from, count) of a UNIX-like line and fills
// entry.modified and entry.size; returns the index of the date's last word,
// or -1.
int findUnixDate(const Words &words, int from, const QDateTime &now, FtpListEntry &entry, bool device)
{
    for (int i = from; i + 1 < words.count(); ++i) {
        if (!isSizeWord(words[i - 1]))
            continue;
        // "2021-04-27 21:15" (ls --time-style=long-iso)
        const QByteArrayView iso = words[i];
        if (iso.size() == 10 && iso[4] == '-' && iso[7] == '-') {
            const QDate date(int(number(iso.first(4))), int(number(iso.sliced(5, 2))), int(number(iso.sliced(8, 2))));
            const std::optional<QTime> time = parseClock(words[i + 1]);
            if (date.isValid() && time) {
                entry.modified = utc(date, *time);
                entry.size = device ? -1 : number(words[i - 1]);
                return i + 1;
            }
            continue;
        }
        if (i + 2 >= words.count())
            break;
        const int month = monthNumber(words[i]);
        const qint64 day = words[i + 1].size() <= 2 ? number(words[i + 1]) : -1;
        if (month == 0 || day < 1 || day > 31)
            continue;
        const QByteArrayView yearOrTime = words[i + 2];
        QDate date;
        QTime time(0, 0);
        if (yearOrTime.size() == 4 && allDigits(yearOrTime)) {
            date = QDate(int(number(yearOrTime)), month, int(day));
        } else if (const std::optional<QTime> clock = parseClock(yearOrTime)) {
            time = *clock;
            date = inferYear(month, int(day), time, now);
        } else {
            continue;
        }
        if (!date.isValid())
            continue;
        entry.modified = utc(date, time);
        entry.size = device ? -1 : number(words[i - 1]);
        return i + 2;
    }
    return -1;
}

std::optional<FtpListEntry> parseUnix(const Words &words, const QDateTime &now)
{
    const QByteArrayView permissions = words[0];
    FtpListEntry entry;
    entry.kind = unixKind(permissions[0]);
    entry.permissions = QString::fromLatin1(permissions.sliced(1, 9));
    const bool device = permissions[0] == 'b' || permissions[0] == 'c';
    const int last = findUnixDate(words, 2, now, entry, device);
    if (last < 0)
        return std::nullopt;
    QByteArrayView name = words.restAfterOneBlank(last);
    if (entry.kind == FtpListEntry::Kind::Link) {
        const qsizetype arrow = name.indexOf(" -> ");
        if (arrow >= 0) {
            entry.linkTarget = decodeName(name.sliced(arrow + 4));
            name = name.first(arrow);
        }
    }
    if (name.isEmpty())
        return std::nullopt;
    entry.name = decodeName(name);
    return entry;
}

// NetWare: "d [R----F--] supervisor  512  Jan 16 18:53  login", also
// written "-[RWCEAFMS] owner ...".
std::optional<FtpListEntry> parseNetWare(const Words &words, const QDateTime &now)
{
    QByteArrayView type = words[0];
    QByteArrayView rights;
    int next = 1;
    if (type.size() == 1) {
        rights = words[1];
        next = 2;
    } else {
        rights = type.sliced(1);
        type = type.first(1);
    }
    if ((type[0] != 'd' && type[0] != '-') || rights.size() < 2 || rights.front() != '[' || rights.back() != ']')
        return std::nullopt;
    FtpListEntry entry;
    entry.kind = type[0] == 'd' ? FtpListEntry::Kind::Folder : FtpListEntry::Kind::File;
    entry.permissions = QString::fromLatin1(rights.sliced(1, rights.size() - 2));
    const int last = findUnixDate(words, next + 1, now, entry, false);
    if (last < 0)
        return std::nullopt;
    const QByteArrayView name = words.restAfterBlanks(last);
    if (name.isEmpty())
        return std::nullopt;
    entry.name = decodeName(name);
    return entry;
}

// --- DOS / IIS / Windows NT ---

// "04-27-21", "04-27-2021", "2021-04-27".
std::optional<QDate> parseDosDate(QByteArrayView word)
{
    if (word.size() == 10 && word[4] == '-' && word[7] == '-') {
        const QDate date(int(number(word.first(4))), int(number(word.sliced(5, 2))), int(number(word.sliced(8, 2))));
        return date.isValid() ? std::optional(date) : std::nullopt;
    }
    if ((word.size() != 8 && word.size() != 10) || (word[2] != '-' && word[2] != '/') || word[5] != word[2])
        return std::nullopt;
    const qint64 month = number(word.first(2));
    const qint64 day = number(word.sliced(3, 2));
    const qint64 year = number(word.sliced(6));
    if (month < 0 || day < 0 || year < 0)
        return std::nullopt;
    const QDate date(fullYear(year, word.size() - 6), int(month), int(day));
    return date.isValid() ? std::optional(date) : std::nullopt;
}

std::optional<FtpListEntry> parseDos(const Words &words)
{
    if (words.count() < 4)
        return std::nullopt;
    const std::optional<QDate> date = parseDosDate(words[0]);
    if (!date)
        return std::nullopt;
    int at = 1;
    std::optional<QTime> time = parseClock(words[1]);
    // "09:15 PM" written apart.
    if (words.count() > 4 && (equalsNoCase(words[2], "AM") || equalsNoCase(words[2], "PM"))) {
        QByteArray joined = words[1].toByteArray() + words[2].toByteArray();
        time = parseClock(joined);
        at = 2;
    }
    if (!time)
        return std::nullopt;
    FtpListEntry entry;
    entry.modified = utc(*date, *time);
    const QByteArrayView sizeOrDir = words[at + 1];
    if (equalsNoCase(sizeOrDir, "<DIR>")) {
        entry.kind = FtpListEntry::Kind::Folder;
    } else if (equalsNoCase(sizeOrDir, "<JUNCTION>") || equalsNoCase(sizeOrDir, "<SYMLINK>") ||
               equalsNoCase(sizeOrDir, "<SYMLINKD>")) {
        entry.kind = FtpListEntry::Kind::Link;
    } else {
        // Some servers group the digits: "1,234,567".
        QByteArray digits = sizeOrDir.toByteArray();
        digits.replace(',', QByteArray());
        digits.replace('.', QByteArray());
        entry.size = number(digits);
        if (entry.size < 0)
            return std::nullopt;
    }
    QByteArrayView name = words.restAfterBlanks(at + 1);
    if (entry.kind == FtpListEntry::Kind::Link) {
        // "name [target]"
        const qsizetype open = name.lastIndexOf(" [");
        if (open > 0 && name.back() == ']') {
            entry.linkTarget = decodeName(name.sliced(open + 2, name.size() - open - 3));
            name = name.first(open);
        }
    }
    if (name.isEmpty())
        return std::nullopt;
    entry.name = decodeName(name);
    return entry;
}

// --- EPLF: "+facts,\tname" ---

std::optional<FtpListEntry> parseEplf(QByteArrayView line)
{
    const qsizetype tab = line.indexOf('\t');
    if (tab < 1 || tab + 1 >= line.size())
        return std::nullopt;
    FtpListEntry entry;
    bool listable = false;
    bool retrievable = false;
    QByteArrayView facts = line.sliced(1, tab - 1);
    while (!facts.isEmpty()) {
        qsizetype comma = facts.indexOf(',');
        if (comma < 0)
            comma = facts.size();
        const QByteArrayView fact = facts.first(comma);
        facts = comma < facts.size() ? facts.sliced(comma + 1) : QByteArrayView();
        if (fact.isEmpty())
            continue;
        switch (fact[0]) {
        case '/':
            listable = true;
            break;
        case 'r':
            retrievable = true;
            break;
        case 's':
            entry.size = number(fact.sliced(1));
            break;
        case 'm': {
            const qint64 seconds = number(fact.sliced(1));
            if (seconds >= 0)
                entry.modified = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
            break;
        }
        case 'u':
            if (fact.size() > 2 && fact[1] == 'p')
                entry.permissions = QString::fromLatin1(fact.sliced(2));
            break;
        default:
            break;
        }
    }
    if (!listable && !retrievable)
        return std::nullopt;
    entry.kind = listable ? FtpListEntry::Kind::Folder : FtpListEntry::Kind::File;
    entry.name = decodeName(line.sliced(tab + 1));
    return entry;
}

// --- VMS: "NAME.EXT;1  213/216  29-JAN-1996 03:33:12  [OWNER]  (RWED,...)" ---

std::optional<FtpListEntry> parseVms(const Words &words)
{
    if (words.count() < 3)
        return std::nullopt;
    QByteArrayView name = words[0];
    const qsizetype semicolon = name.lastIndexOf(';');
    if (semicolon < 1 || !allDigits(name.sliced(semicolon + 1)))
        return std::nullopt;
    name = name.first(semicolon);
    // Blocks used (of allocated); a block is 512 bytes.
    QByteArrayView blocks = words[1];
    if (const qsizetype slash = blocks.indexOf('/'); slash >= 0)
        blocks = blocks.first(slash);
    const qint64 used = number(blocks);
    if (used < 0)
        return std::nullopt;
    const QByteArrayView day = words[2];
    const qsizetype dash1 = day.indexOf('-');
    const qsizetype dash2 = dash1 < 0 ? -1 : day.indexOf('-', dash1 + 1);
    if (dash1 < 1 || dash2 < 0)
        return std::nullopt;
    const QDate date(int(number(day.sliced(dash2 + 1))), monthNumber(day.sliced(dash1 + 1, dash2 - dash1 - 1)),
                     int(number(day.first(dash1))));
    if (!date.isValid())
        return std::nullopt;
    QTime time(0, 0);
    if (words.count() > 3) {
        if (const std::optional<QTime> clock = parseClock(words[3]))
            time = *clock;
    }
    FtpListEntry entry;
    entry.size = used * 512;
    entry.modified = utc(date, time);
    if (name.size() > 4 && equalsNoCase(name.last(4), ".DIR")) {
        entry.kind = FtpListEntry::Kind::Folder;
        entry.size = -1;
        name.chop(4);
    }
    if (name.isEmpty())
        return std::nullopt;
    entry.name = decodeName(name);
    return entry;
}

// --- OS/400: "OWNER  77824 02/23/00 15:09:55 *DIR  NAME/" ---

std::optional<FtpListEntry> parseOs400(const Words &words)
{
    if (words.count() < 6 || !words[4].startsWith('*'))
        return std::nullopt;
    const qint64 size = number(words[1]);
    const std::optional<QDate> date = parseDosDate(words[2]);
    const std::optional<QTime> time = parseClock(words[3]);
    if (size < 0 || !date || !time)
        return std::nullopt;
    const QByteArrayView type = words[4];
    if (equalsNoCase(type, "*MEM"))
        return std::nullopt; // members are listed with their file
    FtpListEntry entry;
    entry.size = size;
    entry.modified = utc(*date, *time);
    QByteArrayView name = words.restAfterBlanks(4);
    const bool folder = equalsNoCase(type, "*DIR") || equalsNoCase(type, "*LIB") || equalsNoCase(type, "*FLR") ||
                        name.endsWith('/');
    entry.kind = folder ? FtpListEntry::Kind::Folder : FtpListEntry::Kind::File;
    while (!name.isEmpty() && name.back() == '/')
        name.chop(1);
    if (name.isEmpty())
        return std::nullopt;
    entry.name = decodeName(name);
    return entry;
}

// --- MLSD ---

struct MlsdEntry {
    FtpListEntry entry;
    bool cdirOrPdir = false;
};

// "YYYYMMDDHHMMSS[.sss]", always UTC.
QDateTime parseMlsdTime(QByteArrayView value)
{
    if (value.size() < 14 || !allDigits(value.first(14)))
        return {};
    const QDate date(int(number(value.first(4))), int(number(value.sliced(4, 2))), int(number(value.sliced(6, 2))));
    int ms = 0;
    if (value.size() > 15 && value[14] == '.') {
        QByteArrayView fraction = value.sliced(15);
        if (!allDigits(fraction))
            return {};
        fraction = fraction.first(std::min<qsizetype>(fraction.size(), 3));
        ms = int(number(fraction));
        for (qsizetype i = fraction.size(); i < 3; ++i)
            ms *= 10;
    } else if (value.size() != 14) {
        return {};
    }
    const QTime time(int(number(value.sliced(8, 2))), int(number(value.sliced(10, 2))),
                     int(number(value.sliced(12, 2))), ms);
    if (!date.isValid() || !time.isValid())
        return {};
    return utc(date, time);
}

std::optional<MlsdEntry> parseMlsd(QByteArrayView line)
{
    line = stripLineEnd(line);
    // MLST's reply lines start with a blank; the name follows the first
    // blank after the facts.
    while (!line.isEmpty() && line.front() == ' ')
        line = line.sliced(1);
    const qsizetype space = line.indexOf(' ');
    if (space < 0 || space + 1 >= line.size())
        return std::nullopt;
    MlsdEntry result;
    FtpListEntry &entry = result.entry;
    bool typed = false;
    QByteArrayView facts = line.first(space);
    while (!facts.isEmpty()) {
        qsizetype semicolon = facts.indexOf(';');
        if (semicolon < 0)
            semicolon = facts.size();
        const QByteArrayView fact = facts.first(semicolon);
        facts = semicolon < facts.size() ? facts.sliced(semicolon + 1) : QByteArrayView();
        const qsizetype equals = fact.indexOf('=');
        if (equals < 1)
            continue;
        const QByteArrayView key = fact.first(equals);
        const QByteArrayView value = fact.sliced(equals + 1);
        if (equalsNoCase(key, "type")) {
            typed = true;
            if (equalsNoCase(value, "file")) {
                entry.kind = FtpListEntry::Kind::File;
            } else if (equalsNoCase(value, "dir")) {
                entry.kind = FtpListEntry::Kind::Folder;
            } else if (equalsNoCase(value, "cdir") || equalsNoCase(value, "pdir")) {
                entry.kind = FtpListEntry::Kind::Folder;
                result.cdirOrPdir = true;
            } else if (startsWithNoCase(value, "OS.unix=slink") || startsWithNoCase(value, "OS.unix=symlink")) {
                entry.kind = FtpListEntry::Kind::Link;
                if (const qsizetype colon = value.indexOf(':'); colon >= 0)
                    entry.linkTarget = decodeName(value.sliced(colon + 1));
            } else {
                entry.kind = FtpListEntry::Kind::Other;
            }
        } else if (equalsNoCase(key, "size") || equalsNoCase(key, "sizd")) {
            entry.size = number(value);
        } else if (equalsNoCase(key, "modify")) {
            entry.modified = parseMlsdTime(value);
        } else if (equalsNoCase(key, "unix.mode")) {
            entry.permissions = QString::fromLatin1(value);
        }
    }
    if (!typed)
        entry.kind = FtpListEntry::Kind::File;
    entry.name = decodeName(line.sliced(space + 1));
    if (entry.name.isEmpty())
        return std::nullopt;
    return result;
}

} // namespace

std::optional<FtpListEntry> parseListLine(QByteArrayView line, const QDateTime &now)
{
    line = stripLineEnd(line);
    if (line.isEmpty())
        return std::nullopt;
    if (line.front() == '+')
        return parseEplf(line);
    const Words words(line);
    if (words.count() < 2)
        return std::nullopt;
    const QByteArrayView first = words[0];
    std::optional<FtpListEntry> entry;
    if (isUnixPermissions(first))
        entry = parseUnix(words, now);
    else if ((first.size() == 1 && words[1].startsWith('[')) || (first.size() > 1 && first[1] == '['))
        entry = parseNetWare(words, now);
    else if (isDigit(first.front()))
        entry = parseDos(words);
    else if (first.contains(';'))
        entry = parseVms(words);
    else if (words.count() >= 6 && isDigit(words[1].front()))
        entry = parseOs400(words);
    if (entry && entry->name.isEmpty())
        return std::nullopt;
    return entry;
}

std::optional<FtpListEntry> parseMlsdLine(QByteArrayView line)
{
    std::optional<MlsdEntry> parsed = parseMlsd(line);
    if (!parsed)
        return std::nullopt;
    return std::move(parsed->entry);
}

QList<FtpListEntry> parseListing(QByteArrayView bytes, bool mlsd, const QDateTime &now)
{
    QList<FtpListEntry> entries;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        const QByteArrayView line = bytes.sliced(start, end - start);
        start = end + 1;
        std::optional<FtpListEntry> entry;
        if (mlsd) {
            std::optional<MlsdEntry> parsed = parseMlsd(line);
            if (parsed && !parsed->cdirOrPdir)
                entry = std::move(parsed->entry);
        } else {
            entry = parseListLine(line, now);
        }
        if (!entry || entry->name == QLatin1String(".") || entry->name == QLatin1String(".."))
            continue;
        entries.append(std::move(*entry));
    }
    return entries;
}

bool isSafeLocalName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    return !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(u'\0'));
}
