// Directory listings as real servers send them, one line at a time and as
// whole listings; garbage never crashes the parsers.
#include "ftp/listing.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

using Kind = FtpListEntry::Kind;

enum class Format { List, Mlsd };

// The clock the "Mon dd hh:mm" lines are read against.
const QDateTime Now(QDate(2021, 6, 1), QTime(12, 0), Qt::UTC);

QDateTime at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

FtpListEntry entry(const QString &name, Kind kind, qint64 size, const QDateTime &modified,
                   const QString &permissions = {}, const QString &target = {})
{
    FtpListEntry e;
    e.name = name;
    e.kind = kind;
    e.size = size;
    e.modified = modified;
    e.permissions = permissions;
    e.linkTarget = target;
    return e;
}

QString describe(const std::optional<FtpListEntry> &e)
{
    if (!e)
        return u"(no entry)"_s;
    return u"name=[%1] kind=%2 size=%3 modified=%4 perms=[%5] target=[%6]"_s.arg(e->name)
        .arg(int(e->kind))
        .arg(e->size)
        .arg(e->modified.toString(Qt::ISODateWithMs), e->permissions, e->linkTarget);
}

std::optional<FtpListEntry> parse(Format format, QByteArrayView line, const QDateTime &now)
{
    return format == Format::Mlsd ? parseMlsdLine(line) : parseListLine(line, now);
}

} // namespace

Q_DECLARE_METATYPE(Format)
Q_DECLARE_METATYPE(std::optional<FtpListEntry>)

class TestListing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void lines_data()
    {
        QTest::addColumn<Format>("format");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<std::optional<FtpListEntry>>("expected");
        const auto L = Format::List;
        const auto M = Format::Mlsd;
        const std::optional<FtpListEntry> none;
        auto row = [](const char *name) -> QTestData & { return QTest::newRow(name); };

        // vsftpd: numeric owners, "Mon dd hh:mm" within the last half year.
        row("vsftpd file") << L << "-rw-r--r--    1 0        0         1048576 Apr 27 21:15 big.bin"_ba << Now
            << std::optional(entry(u"big.bin"_s, Kind::File, 1048576, at(2021, 4, 27, 21, 15), u"rw-r--r--"_s));
        row("vsftpd old folder") << L << "drwxr-xr-x    2 1000     1000         4096 Dec 31  2020 pub"_ba << Now
            << std::optional(entry(u"pub"_s, Kind::Folder, 4096, at(2020, 12, 31), u"rwxr-xr-x"_s));
        row("vsftpd link") << L << "lrwxrwxrwx    1 0        0               7 Jan 05 10:00 latest -> v2.0.1"_ba << Now
            << std::optional(entry(u"latest"_s, Kind::Link, 7, at(2021, 1, 5, 10), u"rwxrwxrwx"_s, u"v2.0.1"_s));
        row("vsftpd CR LF") << L << "-rw-r--r--    1 0        0               3 Apr 27 21:15 crlf.txt\r\n"_ba << Now
            << std::optional(entry(u"crlf.txt"_s, Kind::File, 3, at(2021, 4, 27, 21, 15), u"rw-r--r--"_s));
        // The year of "Mon dd hh:mm": a date more than a day ahead is last year's.
        const QDateTime january(QDate(2021, 1, 10), QTime(12, 0), Qt::UTC);
        row("year: last December") << L << "-rw-r--r-- 1 0 0 1 Dec 31 23:59 old.log"_ba << january
            << std::optional(entry(u"old.log"_s, Kind::File, 1, at(2020, 12, 31, 23, 59), u"rw-r--r--"_s));
        row("year: tomorrow is this year") << L << "-rw-r--r-- 1 0 0 1 Jan 11 10:00 skew.log"_ba << january
            << std::optional(entry(u"skew.log"_s, Kind::File, 1, at(2021, 1, 11, 10), u"rw-r--r--"_s));
        row("year: two days ahead is last year") << L << "-rw-r--r-- 1 0 0 1 Jan 12 13:00 ahead.log"_ba << january
            << std::optional(entry(u"ahead.log"_s, Kind::File, 1, at(2020, 1, 12, 13), u"rw-r--r--"_s));
        row("year: 29 February") << L << "-rw-r--r-- 1 0 0 1 Feb 29 12:00 leap"_ba << Now
            << std::optional(entry(u"leap"_s, Kind::File, 1, at(2020, 2, 29, 12), u"rw-r--r--"_s));

        // ProFTPD: names, ACL marker, setuid bit.
        row("proftpd year") << L << "-rw-r--r--   1 ftp      ftp          2048 Mar  3  2019 README"_ba << Now
            << std::optional(entry(u"README"_s, Kind::File, 2048, at(2019, 3, 3), u"rw-r--r--"_s));
        row("proftpd acl, spaces") << L << "-rw-rw-r--+  1 alice    staff         512 Jul  4  2020 acl file.txt"_ba << Now
            << std::optional(entry(u"acl file.txt"_s, Kind::File, 512, at(2020, 7, 4), u"rw-rw-r--"_s));
        row("proftpd setuid") << L << "-rwsr-xr-x   1 root     root        30872 Nov 17  1993 passwd"_ba << Now
            << std::optional(entry(u"passwd"_s, Kind::File, 30872, at(1993, 11, 17), u"rwsr-xr-x"_s));

        // Pure-FTPd: UTF-8 names.
        row("pure-ftpd utf-8") << L << "-rw-r--r--    1 1000       1000              17 Nov  2 09:41 Größe.txt"_ba << Now
            << std::optional(entry(u"Größe.txt"_s, Kind::File, 17, at(2020, 11, 2, 9, 41), u"rw-r--r--"_s));
        row("pure-ftpd dot-dot") << L << "drwxr-xr-x    5 1000       1000            4096 Nov  2 09:41 .."_ba << Now
            << std::optional(entry(u".."_s, Kind::Folder, 4096, at(2020, 11, 2, 9, 41), u"rwxr-xr-x"_s));

        // Shapes of ls -l that any UNIX server may send.
        row("no group") << L << "-rw-r--r--    1 root          123 May  9  2018 no-group.txt"_ba << Now
            << std::optional(entry(u"no-group.txt"_s, Kind::File, 123, at(2018, 5, 9), u"rw-r--r--"_s));
        row("no link count, no group") << L << "drwxr-xr-x   folder        0 Nov 17  1993 bin"_ba << Now
            << std::optional(entry(u"bin"_s, Kind::Folder, 0, at(1993, 11, 17), u"rwxr-xr-x"_s));
        row("char device") << L << "crw-rw-rw-    1 root     root       1,   3 Apr 27 21:15 null"_ba << Now
            << std::optional(entry(u"null"_s, Kind::Other, -1, at(2021, 4, 27, 21, 15), u"rw-rw-rw-"_s));
        row("block device") << L << "brw-rw----    1 root     disk       8, 0 Apr 27 21:15 sda"_ba << Now
            << std::optional(entry(u"sda"_s, Kind::Other, -1, at(2021, 4, 27, 21, 15), u"rw-rw----"_s));
        row("fifo") << L << "prw-r--r--    1 root     root          0 Apr 27 21:15 fifo"_ba << Now
            << std::optional(entry(u"fifo"_s, Kind::Other, 0, at(2021, 4, 27, 21, 15), u"rw-r--r--"_s));
        row("leading blank") << L << "-rw-r--r--    1 0        0               5 Apr 27 21:15  leading blank"_ba << Now
            << std::optional(entry(u" leading blank"_s, Kind::File, 5, at(2021, 4, 27, 21, 15), u"rw-r--r--"_s));
        row("latin-1 name") << L << "-rw-r--r--    1 0        0               5 Apr 27 21:15 caf\xe9.txt"_ba << Now
            << std::optional(entry(u"café.txt"_s, Kind::File, 5, at(2021, 4, 27, 21, 15), u"rw-r--r--"_s));
        row("link with spaces") << L << "lrwxrwxrwx 1 u g 11 Apr 27 21:15 my link -> target dir/x"_ba << Now
            << std::optional(entry(u"my link"_s, Kind::Link, 11, at(2021, 4, 27, 21, 15), u"rwxrwxrwx"_s,
                                   u"target dir/x"_s));
        row("over 4 GiB") << L << "-rw-r--r-- 1 1001 1001 107374182400 Apr 27  2020 huge.img"_ba << Now
            << std::optional(entry(u"huge.img"_s, Kind::File, 107374182400, at(2020, 4, 27), u"rw-r--r--"_s));
        row("long-iso date") << L << "-rw-r--r-- 1 user group 42 2021-04-27 21:15 iso.txt"_ba << Now
            << std::optional(entry(u"iso.txt"_s, Kind::File, 42, at(2021, 4, 27, 21, 15), u"rw-r--r--"_s));
        row("owner named like a month") << L << "-rw-r--r-- 1 jan staff 9 Mar  1 10:00 owner.txt"_ba << Now
            << std::optional(entry(u"owner.txt"_s, Kind::File, 9, at(2021, 3, 1, 10), u"rw-r--r--"_s));

        // FileZilla Server (UNIX style on Windows).
        row("filezilla folder") << L << "drwxr-xr-x 1 ftp ftp              0 Feb 02  2021 Folder With Space"_ba << Now
            << std::optional(entry(u"Folder With Space"_s, Kind::Folder, 0, at(2021, 2, 2), u"rwxr-xr-x"_s));

        // IIS / DOS / Windows NT.
        row("iis folder 12h") << L << "04-27-21  09:15PM       <DIR>          aspnet_client"_ba << Now
            << std::optional(entry(u"aspnet_client"_s, Kind::Folder, -1, at(2021, 4, 27, 21, 15)));
        row("iis after midnight") << L << "04-27-21  12:05AM                 1234 midnight.txt"_ba << Now
            << std::optional(entry(u"midnight.txt"_s, Kind::File, 1234, at(2021, 4, 27, 0, 5)));
        row("iis noon, 4-digit year") << L << "11-12-1999  12:30PM          123456789 noon.dat"_ba << Now
            << std::optional(entry(u"noon.dat"_s, Kind::File, 123456789, at(1999, 11, 12, 12, 30)));
        row("iis 24h, spaces") << L << "04-27-2021  21:15       <DIR>          24h folder"_ba << Now
            << std::optional(entry(u"24h folder"_s, Kind::Folder, -1, at(2021, 4, 27, 21, 15)));
        row("windows nt last century") << L << "01-02-98  01:00AM                    0 y2k.txt"_ba << Now
            << std::optional(entry(u"y2k.txt"_s, Kind::File, 0, at(1998, 1, 2, 1)));
        row("iis iso date") << L << "2021-04-27  21:15               42 iso-iis.txt"_ba << Now
            << std::optional(entry(u"iso-iis.txt"_s, Kind::File, 42, at(2021, 4, 27, 21, 15)));

        // EPLF.
        row("eplf folder") << L << "+i8388621.29609,m824255902,/,\tdev"_ba << Now
            << std::optional(entry(u"dev"_s, Kind::Folder, -1, at(1996, 2, 13, 23, 58, 22)));
        row("eplf file") << L << "+i8388621.44468,m839956783,r,s10376,\tRFCEPLF"_ba << Now
            << std::optional(entry(u"RFCEPLF"_s, Kind::File, 10376, at(1996, 8, 13, 17, 19, 43)));
        row("eplf with permissions") << L << "+r,s5,up644,\tmode.txt"_ba << Now
            << std::optional(entry(u"mode.txt"_s, Kind::File, 5, QDateTime(), u"644"_s));

        // NetWare.
        row("netware folder") << L << "d [R----F--] supervisor            512       Jan 16 18:53    login"_ba << Now
            << std::optional(entry(u"login"_s, Kind::Folder, 512, at(2021, 1, 16, 18, 53), u"R----F--"_s));
        row("netware file") << L << "- [R----F--] rhesus             214059       Oct 20 15:27    cx.exe"_ba << Now
            << std::optional(entry(u"cx.exe"_s, Kind::File, 214059, at(2020, 10, 20, 15, 27), u"R----F--"_s));
        row("netware joined rights") << L << "-[RWCEAFMS] ftpuser 1234 Mar 5 2019 report.doc"_ba << Now
            << std::optional(entry(u"report.doc"_s, Kind::File, 1234, at(2019, 3, 5), u"RWCEAFMS"_s));

        // VMS.
        row("vms file") << L << "CII-MANUAL.TEX;1  213/216  29-JAN-1996 03:33:12  [ANONYMOU,ANONYMOUS]   (RWED,RWED,,)"_ba
            << Now << std::optional(entry(u"CII-MANUAL.TEX"_s, Kind::File, 213 * 512, at(1996, 1, 29, 3, 33, 12)));
        row("vms folder") << L << "ETC.DIR;1  1/1  2-FEB-2000 10:00:00  [SYSTEM]  (RWE,RWE,RE,RE)"_ba << Now
            << std::optional(entry(u"ETC"_s, Kind::Folder, -1, at(2000, 2, 2, 10)));

        // OS/400.
        row("os400 folder") << L << "QSYS            77824 02/23/00 15:09:55 *DIR       QOpenSys/"_ba << Now
            << std::optional(entry(u"QOpenSys"_s, Kind::Folder, 77824, at(2000, 2, 23, 15, 9, 55)));
        row("os400 stream file") << L << "QSYSOPR          12345 09/03/01 14:47:14 *STMF      notes.txt"_ba << Now
            << std::optional(entry(u"notes.txt"_s, Kind::File, 12345, at(2001, 9, 3, 14, 47, 14)));

        // Lines that are not entries.
        row("total") << L << "total 1234"_ba << Now << none;
        row("blank") << L << "   \r\n"_ba << Now << none;
        row("permissions alone") << L << "drwxr-xr-x"_ba << Now << none;
        row("no name") << L << "-rw-r--r-- 1 0 0 12 Apr 27 21:15"_ba << Now << none;
        row("unknown month") << L << "-rw-r--r-- 1 0 0 12 Foo 27 21:15 x"_ba << Now << none;
        row("impossible day") << L << "04-31-21  09:15PM       12 x"_ba << Now << none;
        row("impossible hour") << L << "04-27-21  13:15PM       12 x"_ba << Now << none;
        row("eplf without kind") << L << "+i1,m1,\tnothing"_ba << Now << none;
        row("eplf without name") << L << "+r,s1,\t"_ba << Now << none;
        row("prose") << L << "hello world, this is not a listing"_ba << Now << none;
        row("server message") << L << "550 No files found"_ba << Now << none;

        // MLSD of several servers; fact names in any case, UTC times.
        row("mlsd pyftpdlib") << M << "type=file;size=156;perm=r;modify=20071029155301;unique=8012; music.mp3"_ba << Now
            << std::optional(entry(u"music.mp3"_s, Kind::File, 156, at(2007, 10, 29, 15, 53, 1)));
        row("mlsd proftpd") << M
            << "modify=20210427211500;perm=adfrw;size=2048;type=file;unique=FD00U1A;UNIX.group=1000;UNIX.mode=0644;UNIX.owner=1000; README"_ba
            << Now << std::optional(entry(u"README"_s, Kind::File, 2048, at(2021, 4, 27, 21, 15), u"0644"_s));
        row("mlsd proftpd link") << M
            << "modify=20210427211500;perm=adfrw;size=7;type=OS.unix=slink:/srv/v2.0.1;UNIX.mode=0777; latest"_ba << Now
            << std::optional(entry(u"latest"_s, Kind::Link, 7, at(2021, 4, 27, 21, 15), u"0777"_s, u"/srv/v2.0.1"_s));
        row("mlsd pure-ftpd folder") << M
            << "type=dir;sizd=4096;modify=20210427211500.123;UNIX.mode=0755;UNIX.uid=1000;UNIX.gid=1000;unique=803g2; my folder"_ba
            << Now << std::optional(entry(u"my folder"_s, Kind::Folder, 4096, at(2021, 4, 27, 21, 15, 0, 123), u"0755"_s));
        row("mlsd filezilla leading blank") << M << "type=file;modify=20210427211500;size=0;  spaced"_ba << Now
            << std::optional(entry(u" spaced"_s, Kind::File, 0, at(2021, 4, 27, 21, 15)));
        row("mlsd iis case") << M << "Type=File;Size=12;Modify=20210427211500.5; CaseFacts.txt\r\n"_ba << Now
            << std::optional(entry(u"CaseFacts.txt"_s, Kind::File, 12, at(2021, 4, 27, 21, 15, 0, 500)));
        row("mlsd cdir") << M << "type=cdir;modify=20210427211500;perm=flcdmpe; /home/user"_ba << Now
            << std::optional(entry(u"/home/user"_s, Kind::Folder, -1, at(2021, 4, 27, 21, 15)));
        row("mlsd device") << M << "type=OS.unix=chr-1/3;size=0; null"_ba << Now
            << std::optional(entry(u"null"_s, Kind::Other, 0, QDateTime()));
        row("mlst reply line") << M << " type=file;size=3;modify=20210427211500; /pub/a b.txt"_ba << Now
            << std::optional(entry(u"/pub/a b.txt"_s, Kind::File, 3, at(2021, 4, 27, 21, 15)));
        row("mlsd utf-8 name") << M << "type=file;size=1; 日本語.txt"_ba << Now
            << std::optional(entry(u"日本語.txt"_s, Kind::File, 1, QDateTime()));
        row("mlsd bad time") << M << "type=file;size=1;modify=2021042721; bad-time"_ba << Now
            << std::optional(entry(u"bad-time"_s, Kind::File, 1, QDateTime()));
        row("mlsd no name") << M << "type=file;size=1;"_ba << Now << none;
        row("mlsd no facts") << M << "no-facts-here"_ba << Now << none;
    }

    void lines()
    {
        QFETCH(Format, format);
        QFETCH(QByteArray, line);
        QFETCH(QDateTime, now);
        QFETCH(std::optional<FtpListEntry>, expected);
        const std::optional<FtpListEntry> actual = parse(format, line, now);
        QVERIFY2(actual == expected, qPrintable(u"got %1\nwant %2"_s.arg(describe(actual), describe(expected))));
    }

    // A whole listing: CR LF or LF, "total", ".", ".." and MLSD's cdir/pdir
    // left out, order kept.
    void wholeListings_data()
    {
        QTest::addColumn<bool>("mlsd");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("ls -l") << false
            << "total 12\r\n"
               "drwxr-xr-x 2 0 0 4096 Apr 27 21:15 .\r\n"
               "drwxr-xr-x 9 0 0 4096 Apr 27 21:15 ..\r\n"
               "-rw-r--r-- 1 0 0    1 Apr 27 21:15 b file\r\n"
               "garbage line\r\n"
               "-rw-r--r-- 1 0 0    2 Apr 27 21:15 a\n"
               "lrwxrwxrwx 1 0 0    2 Apr 27 21:15 up -> .."_ba
            << QStringList{u"b file"_s, u"a"_s, u"up"_s};
        QTest::newRow("dos") << false
            << "04-27-21  09:15PM       <DIR>          sub\r\n04-27-21  09:15PM                 7 f.txt\r\n"_ba
            << QStringList{u"sub"_s, u"f.txt"_s};
        QTest::newRow("mlsd") << true
            << "type=cdir;perm=el; /pub\r\n"
               "type=pdir;perm=el; /\r\n"
               "type=dir;perm=el; ..\r\n"
               "type=file;size=3; x\r\n"
               "type=dir;perm=el; y\r\n"_ba
            << QStringList{u"x"_s, u"y"_s};
        QTest::newRow("empty") << true << QByteArray() << QStringList();
    }

    void wholeListings()
    {
        QFETCH(bool, mlsd);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, names);
        QStringList actual;
        for (const FtpListEntry &e : parseListing(bytes, mlsd, Now))
            actual << e.name;
        QCOMPARE(actual, names);
    }

    void safeLocalNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("safe");
        QTest::newRow("plain") << u"file.txt"_s << true;
        QTest::newRow("dots inside") << u"..hidden..txt"_s << true;
        QTest::newRow("blank and non-ascii") << u" Größe 日本"_s << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("dot") << u"."_s << false;
        QTest::newRow("dot-dot") << u".."_s << false;
        QTest::newRow("slash") << u"a/b"_s << false;
        QTest::newRow("parent path") << u"../etc"_s << false;
        QTest::newRow("absolute") << u"/etc"_s << false;
        QTest::newRow("backslash") << u"..\\x"_s << false;
        QTest::newRow("nul") << (u"a"_s + QChar(u'\0') + u"b"_s) << false;
    }

    void safeLocalNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, safe);
        QCOMPARE(isSafeLocalName(name), safe);
    }

    // Random and mutated lines through every parser: no crash, no hang, and
    // never an entry without a name.
    void garbageNeverCrashes()
    {
        const QByteArrayList seeds = {
            "-rw-r--r--    1 0        0         1048576 Apr 27 21:15 big.bin",
            "lrwxrwxrwx 1 u g 11 Apr 27 21:15 my link -> target dir/x",
            "crw-rw-rw-    1 root     root       1,   3 Apr 27 21:15 null",
            "04-27-21  09:15PM       <DIR>          aspnet_client",
            "+i8388621.44468,m839956783,r,s10376,\tRFCEPLF",
            "d [R----F--] supervisor            512       Jan 16 18:53    login",
            "CII-MANUAL.TEX;1  213/216  29-JAN-1996 03:33:12  [ANONYMOU,ANONYMOUS]   (RWED,RWED,,)",
            "QSYS            77824 02/23/00 15:09:55 *DIR       QOpenSys/",
            "type=OS.unix=slink:/x;size=7;modify=20210427211500.123; latest",
        };
        const QByteArray alphabet = " \t-+,;:=/[]<>drwxlcbp0123456789JanFebDecAMPM*.\r\n\xc3\xa9\xff";
        QRandomGenerator random(20211207);
        int entries = 0;
        for (int round = 0; round < 6000; ++round) {
            QByteArray line;
            if (round % 3 == 0) {
                const int length = int(random.bounded(120));
                for (int i = 0; i < length; ++i)
                    line += round % 6 == 0 ? char(random.bounded(256)) : alphabet[random.bounded(alphabet.size())];
            } else {
                line = seeds[random.bounded(seeds.size())];
                const int edits = 1 + int(random.bounded(6));
                for (int e = 0; e < edits && !line.isEmpty(); ++e) {
                    const int pos = int(random.bounded(line.size()));
                    switch (random.bounded(4)) {
                    case 0:
                        line[pos] = alphabet[random.bounded(alphabet.size())];
                        break;
                    case 1:
                        line.remove(pos, 1 + int(random.bounded(8)));
                        break;
                    case 2:
                        line.insert(pos, alphabet[random.bounded(alphabet.size())]);
                        break;
                    default:
                        line.truncate(pos);
                        break;
                    }
                }
            }
            for (const auto &parsed : {parseListLine(line, Now), parseMlsdLine(line)}) {
                if (parsed) {
                    ++entries;
                    QVERIFY2(!parsed->name.isEmpty(), line.toHex().constData());
                }
            }
            for (const FtpListEntry &e : parseListing(line + "\n" + line, round % 2 == 0, Now))
                QVERIFY2(!e.name.isEmpty(), line.toHex().constData());
        }
        // The mutations leave many lines whole enough to parse.
        QVERIFY(entries > 100);
    }
};

QTEST_GUILESS_MAIN(TestListing)
#include "tst_listing.moc"
