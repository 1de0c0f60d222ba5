// Directory synchronisation against pyftpdlib (MLSD times to the second),
// vsftpd (LIST and MDTM) and a scripted server whose LIST gives minutes and
// nothing else: which files each direction copies by size and by date, exact
// names, folders and links left alone, a second run copying nothing, an abort
// keeping the local file it was replacing, the order of the run's reports,
// and corvane-cli's sync commands.
#include "ftpclient/sync.h"

#include "config/cregister.h"
#include "ftpfolderserver.h"
#include "ftp/listing.h"
#include "ftpclient/ftpcomponent.h"
#include "ftpclient/options.h"
#include "ftpservers.h"
#include "platform/tlssocketfactory.h"
#include "pyftpdserver.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString &path, const QByteArray &bytes, const QDateTime &modified)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    // Flushed first: the bytes written at close would set the time again.
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.flush())
        return false;
    return f.setFileTime(modified, QFileDevice::FileModificationTime);
}

QDateTime hoursAgo(int hours)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return QDateTime(now.date(), QTime(now.time().hour(), now.time().minute(), now.time().second()), Qt::UTC)
        .addSecs(-3600 * hours);
}

enum class ServerKind { Pyftpdlib, Vsftpd, MinuteList };

// One of the three servers with a remote folder to synchronise and a local
// folder beside it.
class Rig {
public:
    explicit Rig(ServerKind kind) : kind(kind)
    {
        if (kind == ServerKind::Pyftpdlib)
            m_home = py.addUser(QStringLiteral("alice"), QStringLiteral("pw"));
        if (kind == ServerKind::Vsftpd)
            vs.setWritableArea(true);
        local = m_dir.filePath(QStringLiteral("local/"));
        QDir().mkpath(local);
    }

    // False (with the test skipped or failed) when the server is missing.
    bool start()
    {
        if (kind == ServerKind::Pyftpdlib) {
            if (!py.isInstalled())
                return false;
            QDir().mkpath(m_home + QStringLiteral("/data"));
            if (!py.start())
                return false;
        } else if (kind == ServerKind::Vsftpd) {
            if (!vs.isInstalled() || !vs.start())
                return false;
        }
        ftp.serverAddress = QStringLiteral("127.0.0.1");
        ftp.serverPort = kind == ServerKind::Pyftpdlib ? py.port()
                         : kind == ServerKind::Vsftpd  ? vs.port()
                                                       : minute.control.port();
        if (kind == ServerKind::Pyftpdlib) {
            ftp.userName = QStringLiteral("alice");
            ftp.password = QStringLiteral("pw");
        } else if (kind == ServerKind::MinuteList) {
            ftp.userName = QStringLiteral("joe");
            ftp.password = QStringLiteral("pw");
        }
        if (!ftp.connectToServer())
            return false;
        QString home;
        if (!ftp.currentFolder(home))
            return false;
        m_remoteFolder = kind == ServerKind::Vsftpd
                             ? (home.endsWith(u'/') ? home : home + u'/') + VsftpdServer::uploadFolder()
                             : QStringLiteral("/data");
        return true;
    }
    QString missing() const
    {
        return kind == ServerKind::Pyftpdlib ? py.missingMessage()
               : kind == ServerKind::Vsftpd  ? vs.missingMessage()
                                             : QString();
    }

    QString remoteFolder() const { return m_remoteFolder; }

    bool putRemote(const QString &name, const QByteArray &bytes, const QDateTime &modified)
    {
        if (kind == ServerKind::MinuteList) {
            minute.put(name, bytes, modified);
            return true;
        }
        if (kind == ServerKind::Vsftpd && !vs.addFile(VsftpdServer::uploadFolder() + u'/' + name, bytes))
            return false;
        return writeFile(remoteDisk(name), bytes, modified);
    }
    QByteArray remoteBytes(const QString &name) const
    {
        if (kind == ServerKind::MinuteList) {
            const auto it = minute.files.find(name);
            return it == minute.files.end() ? QByteArray("<missing>") : it->second.bytes;
        }
        return readAll(remoteDisk(name));
    }
    QString remoteDisk(const QString &name) const
    {
        return kind == ServerKind::Vsftpd ? vs.uploadPath() + u'/' + name : m_home + QStringLiteral("/data/") + name;
    }
    bool putLocal(const QString &name, const QByteArray &bytes, const QDateTime &modified)
    {
        return writeFile(local + name, bytes, modified);
    }

    ServerKind kind;
    PyftpdlibServer py;
    VsftpdServer vs;
    FtpFolderServer minute;
    FtpComponent ftp{std::make_shared<TlsSocketFactory>()};
    QString local;

private:
    QTemporaryDir m_dir;
    QString m_home;
    QString m_remoteFolder = QStringLiteral("/data");
};

#define START_RIG(rig)                                                                                                 \
    do {                                                                                                               \
        if (!(rig).start()) {                                                                                          \
            if ((rig).kind != ServerKind::MinuteList && !(rig).missing().isEmpty() && !realServersRequired()           \
                && ((rig).kind == ServerKind::Pyftpdlib ? !(rig).py.isInstalled() : !(rig).vs.isInstalled()))          \
                QSKIP(qPrintable((rig).missing()));                                                                    \
            QFAIL(qPrintable(QStringLiteral("cannot start or connect: %1").arg((rig).ftp.lastError().description))); \
        }                                                                                                              \
    } while (0)

DirectorySync::Mode modeOf(bool bySize)
{
    return bySize ? DirectorySync::Mode::BySize : DirectorySync::Mode::ByDate;
}

} // namespace

class TestSync : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Which files one run copies. Each file is "name:size:hours-ago" on the
    // side it is on; the run is against pyftpdlib (MLSD) and vsftpd (LIST
    // with MDTM).
    void copiesMissingAndDifferingFiles_data()
    {
        QTest::addColumn<int>("server");
        QTest::addColumn<bool>("receiving");
        QTest::addColumn<bool>("bySize");
        QTest::addColumn<QStringList>("localFiles");
        QTest::addColumn<QStringList>("remoteFiles");
        QTest::addColumn<QStringList>("copied");
        for (const ServerKind server : {ServerKind::Pyftpdlib, ServerKind::Vsftpd}) {
            const char *s = server == ServerKind::Pyftpdlib ? "pyftpdlib" : "vsftpd";
            const int k = int(server);
            const auto row = [&](const char *name) -> QTestData & { return QTest::addRow("%s: %s", s, name) << k; };
            row("size 100 vs 120 received") << true << true << QStringList{"a.txt:120:1"} << QStringList{"a.txt:100:5"}
                                            << QStringList{"a.txt"};
            row("equal sizes not received, remote newer") << true << true << QStringList{"a.txt:100:5"}
                                                         << QStringList{"a.txt:100:1"} << QStringList{};
            row("equal sizes not sent, local newer") << false << true << QStringList{"a.txt:100:1"}
                                                    << QStringList{"a.txt:100:5"} << QStringList{};
            row("size differs, sent") << false << true << QStringList{"a.txt:120:5"} << QStringList{"a.txt:100:1"}
                                      << QStringList{"a.txt"};
            row("by date, remote newer received") << true << false << QStringList{"new.txt:10:3", "old.txt:10:1"}
                                                 << QStringList{"new.txt:10:1", "old.txt:10:3"}
                                                 << QStringList{"new.txt"};
            row("by date, local newer sent") << false << false << QStringList{"new.txt:10:1", "old.txt:10:3"}
                                            << QStringList{"new.txt:10:3", "old.txt:10:1"} << QStringList{"new.txt"};
            row("missing files both ways") << true << false << QStringList{"only-local.txt:3:1"}
                                           << QStringList{"only-remote.txt:4:1"} << QStringList{"only-remote.txt"};
            row("missing files sent") << false << false << QStringList{"only-local.txt:3:1"}
                                      << QStringList{"only-remote.txt:4:1"} << QStringList{"only-local.txt"};
            row("names differ in case: received") << true << false << QStringList{"Readme.txt:5:1"}
                                                  << QStringList{"readme.txt:5:3"} << QStringList{"readme.txt"};
            row("names differ in case: sent") << false << true << QStringList{"Readme.txt:5:3"}
                                              << QStringList{"readme.txt:5:1"} << QStringList{"Readme.txt"};
        }
    }
    void copiesMissingAndDifferingFiles()
    {
        QFETCH(int, server);
        QFETCH(bool, receiving);
        QFETCH(bool, bySize);
        QFETCH(QStringList, localFiles);
        QFETCH(QStringList, remoteFiles);
        QFETCH(QStringList, copied);
        Rig rig{ServerKind(server)};
        const auto bytesOf = [&](const QString &spec, char c) { return QByteArray(spec.section(u':', 1, 1).toInt(), c); };
        for (const QString &f : std::as_const(remoteFiles))
            QVERIFY(rig.putRemote(f.section(u':', 0, 0), bytesOf(f, 'r'), hoursAgo(f.section(u':', 2, 2).toInt())));
        START_RIG(rig);
        for (const QString &f : std::as_const(localFiles))
            QVERIFY(rig.putLocal(f.section(u':', 0, 0), bytesOf(f, 'l'), hoursAgo(f.section(u':', 2, 2).toInt())));

        DirectorySync sync(rig.ftp, [&] { return modeOf(bySize); });
        const DirectorySync::Outcome out = receiving ? sync.SyncLocalFromRemote(rig.local, rig.remoteFolder())
                                                     : sync.SyncRemoteFromLocal(rig.local, rig.remoteFolder());
        QVERIFY2(out.completed, qPrintable(out.error));
        QCOMPARE(out.copied, copied);
        // What was copied arrived whole; what was not is as it was.
        for (const QString &name : copied) {
            const QByteArray expected = receiving ? rig.remoteBytes(name) : readAll(rig.local + name);
            QCOMPARE(receiving ? readAll(rig.local + name) : rig.remoteBytes(name), expected);
        }
        for (const QString &f : std::as_const(localFiles)) {
            const QString name = f.section(u':', 0, 0);
            if (!copied.contains(name))
                QCOMPARE(readAll(rig.local + name), bytesOf(f, 'l'));
        }
    }

    // Folders and links on either side are never copied, by size or by date.
    void foldersAndLinksAreNeverCopied()
    {
        Rig rig{ServerKind::Vsftpd};
        QVERIFY(rig.putRemote(QStringLiteral("file.txt"), "abc", hoursAgo(1)));
        QVERIFY(rig.vs.addFolder(VsftpdServer::uploadFolder() + QStringLiteral("/folder")));
        QVERIFY(rig.vs.addFile(VsftpdServer::uploadFolder() + QStringLiteral("/folder/inner.txt"), "inner"));
        QVERIFY(QFile::link(QStringLiteral("folder"), rig.vs.uploadPath() + QStringLiteral("/folderlink")));
        QVERIFY(QFile::link(QStringLiteral("file.txt"), rig.vs.uploadPath() + QStringLiteral("/filelink")));
        START_RIG(rig);
        QVERIFY(QDir().mkpath(rig.local + QStringLiteral("localfolder")));
        QVERIFY(rig.putLocal(QStringLiteral("localfolder/deep.txt"), "deep", hoursAgo(1)));
        QVERIFY(QFile::link(rig.local + QStringLiteral("localfolder"), rig.local + QStringLiteral("locallink")));

        for (const bool bySize : {true, false}) {
            DirectorySync sync(rig.ftp, [&] { return modeOf(bySize); });
            const DirectorySync::Outcome in = sync.SyncLocalFromRemote(rig.local, rig.remoteFolder());
            QVERIFY2(in.completed, qPrintable(in.error));
            QCOMPARE(in.copied, bySize ? QStringList{QStringLiteral("file.txt")} : QStringList{});
            QVERIFY(!QFileInfo::exists(rig.local + QStringLiteral("folder")));
            QVERIFY(!QFileInfo::exists(rig.local + QStringLiteral("folderlink")));
            QVERIFY(!QFileInfo::exists(rig.local + QStringLiteral("filelink")));
            const DirectorySync::Outcome out = sync.SyncRemoteFromLocal(rig.local, rig.remoteFolder());
            QVERIFY2(out.completed, qPrintable(out.error));
            QCOMPARE(out.copied, QStringList{});
            QVERIFY(!QFileInfo::exists(rig.vs.uploadPath() + QStringLiteral("/localfolder")));
            QVERIFY(!QFileInfo::exists(rig.vs.uploadPath() + QStringLiteral("/locallink")));
        }
    }

    // Running either direction again, or the other direction after it,
    // copies nothing: with times to the second (MLSD, MDTM) and with a LIST
    // that gives only minutes.
    void aSecondRunCopiesNothing_data()
    {
        QTest::addColumn<int>("server");
        QTest::addColumn<bool>("bySize");
        QTest::addColumn<bool>("receiveFirst");
        for (const ServerKind server : {ServerKind::Pyftpdlib, ServerKind::Vsftpd, ServerKind::MinuteList}) {
            const char *s = server == ServerKind::Pyftpdlib ? "pyftpdlib"
                            : server == ServerKind::Vsftpd  ? "vsftpd"
                                                            : "minute LIST";
            for (const bool bySize : {false, true})
                for (const bool receiveFirst : {true, false})
                    QTest::addRow("%s, %s, %s first", s, bySize ? "by size" : "by date",
                                  receiveFirst ? "receive" : "send")
                        << int(server) << bySize << receiveFirst;
        }
    }
    void aSecondRunCopiesNothing()
    {
        QFETCH(int, server);
        QFETCH(bool, bySize);
        QFETCH(bool, receiveFirst);
        Rig rig{ServerKind(server)};
        QVERIFY(rig.putRemote(QStringLiteral("remote-only.txt"), "remote", hoursAgo(2)));
        QVERIFY(rig.putRemote(QStringLiteral("both.txt"), "remote copy", hoursAgo(1)));
        START_RIG(rig);
        QVERIFY(rig.putLocal(QStringLiteral("local-only.txt"), "local", hoursAgo(3)));
        QVERIFY(rig.putLocal(QStringLiteral("both.txt"), "older local copy", hoursAgo(4)));

        DirectorySync sync(rig.ftp, [&] { return modeOf(bySize); });
        const auto run = [&](bool receive) {
            const DirectorySync::Outcome o = receive ? sync.SyncLocalFromRemote(rig.local, rig.remoteFolder())
                                                     : sync.SyncRemoteFromLocal(rig.local, rig.remoteFolder());
            if (!o.completed)
                qWarning("run failed: %s", qPrintable(o.error));
            return o.completed ? o.copied : QStringList{QStringLiteral("<failed>")};
        };
        QVERIFY(!run(receiveFirst).isEmpty());
        QCOMPARE(run(receiveFirst), QStringList{});
        // The other direction copies what only its own side had, or what
        // was newer there; after that, both sides are equal.
        QVERIFY(!run(!receiveFirst).contains(QStringLiteral("<failed>")));
        const qsizetype transfers = rig.minute.count("STOR") + rig.minute.count("RETR");
        for (const bool receive : {receiveFirst, !receiveFirst, receiveFirst, !receiveFirst})
            QCOMPARE(run(receive), QStringList{});
        QCOMPARE(rig.minute.count("STOR") + rig.minute.count("RETR"), transfers);
        for (const QString &name : {QStringLiteral("remote-only.txt"), QStringLiteral("both.txt"),
                                    QStringLiteral("local-only.txt")})
            QCOMPARE(rig.remoteBytes(name), readAll(rig.local + name));
    }

    // An abort during the copy over an existing local file leaves that file
    // as it was, and no partial file beside it.
    void abortedSyncLeavesTheLocalFileIntact()
    {
        Rig rig{ServerKind::Pyftpdlib};
        QByteArray big(8 << 20, '\0');
        for (qsizetype i = 0; i < big.size(); ++i)
            big[i] = char(i * 7 % 251);
        QVERIFY(rig.putRemote(QStringLiteral("big.bin"), big, hoursAgo(1)));
        START_RIG(rig);
        const QByteArray old = "the old local copy";
        QVERIFY(rig.putLocal(QStringLiteral("big.bin"), old, hoursAgo(3)));
        bool aborted = false;
        QObject::connect(&rig.ftp, &FtpComponent::transferStatus, &rig.ftp, [&] {
            if (!aborted) {
                aborted = true;
                rig.ftp.setAbort(true);
            }
        });
        DirectorySync sync(rig.ftp, [] { return DirectorySync::Mode::BySize; });
        QStringList messages;
        QObject::connect(&sync, &DirectorySync::message, &sync, [&](const QString &m) { messages << m; });
        const DirectorySync::Outcome out = sync.SyncLocalFromRemote(rig.local, rig.remoteFolder());
        QVERIFY(aborted);
        QVERIFY(!out.completed);
        QCOMPARE(out.copied, QStringList{});
        QCOMPARE(out.error, QStringLiteral("Aborted"));
        QCOMPARE(messages, QStringList{QStringLiteral("Aborted")});
        QCOMPARE(readAll(rig.local + QStringLiteral("big.bin")), old);
        QCOMPARE(QDir(rig.local).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("big.bin")});
        // The component is usable again and the next run completes the copy.
        const DirectorySync::Outcome again = sync.SyncLocalFromRemote(rig.local, rig.remoteFolder());
        QVERIFY2(again.completed, qPrintable(again.error));
        QCOMPARE(readAll(rig.local + QStringLiteral("big.bin")), big);
    }

    // The reports of a run in the order the window shows them, for a run
    // that completes, one whose remote folder cannot be entered, and one
    // without a connection.
    void reportsComeInTheWindowsOrder_data()
    {
        QTest::addColumn<bool>("receiving");
        QTest::addColumn<QString>("remoteFolder");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QStringList>("reports");
        const QStringList tail = {"busy 0", "relist", "progress 0"};
        QTest::newRow("receive")
            << true << "/data" << true
            << (QStringList{"busy 1", "progress 0", "copied a.txt"} + tail
                + QStringList{"status Local Directory Sync Complete", "busy 0", "relist"});
        QTest::newRow("send") << false << "/data" << true
                              << (QStringList{"busy 1", "overlay 1", "progress 0", "copied b.txt"} + tail
                                  + QStringList{"status Remote Directory Sync Complete", "busy 0", "relist", "overlay 0"});
        QTest::newRow("receive, folder cannot be entered")
            << true << "/nope" << true
            << (QStringList{"busy 1", "progress 0", "message 550 No such folder"} + tail
                + QStringList{"status Local Directory Sync Complete", "busy 0", "relist"});
        QTest::newRow("send, folder cannot be entered")
            << false << "/nope" << true
            << (QStringList{"busy 1", "overlay 1", "progress 0", "message Cannot read the contents of LOCAL"} + tail
                + QStringList{"status Remote Directory Sync Complete", "busy 0", "relist", "overlay 0"});
        QTest::newRow("receive, not connected")
            << true << "/data" << false
            << QStringList{"busy 1", "progress 0", "indicator 0", "message Error: Not connected", "busy 0", "relist"};
        QTest::newRow("send, not connected")
            << false << "/data" << false
            << QStringList{"busy 1", "overlay 1", "progress 0", "message Error: Not connected", "busy 0", "relist",
                           "overlay 0"};
    }
    void reportsComeInTheWindowsOrder()
    {
        QFETCH(bool, receiving);
        QFETCH(QString, remoteFolder);
        QFETCH(bool, connected);
        QFETCH(QStringList, reports);
        Rig rig{ServerKind::MinuteList};
        rig.minute.put(QStringLiteral("a.txt"), "aaa", hoursAgo(1));
        if (connected)
            START_RIG(rig);
        QVERIFY(rig.putLocal(QStringLiteral("b.txt"), "bbb", hoursAgo(1)));
        if (receiving)
            QVERIFY(QFile::remove(rig.local + QStringLiteral("b.txt")));
        else
            rig.minute.files.clear();

        DirectorySync sync(rig.ftp, [] { return DirectorySync::Mode::ByDate; });
        QStringList seen;
        connect(&sync, &DirectorySync::busyChanged, this, [&](bool b) { seen << QStringLiteral("busy %1").arg(int(b)); });
        connect(&sync, &DirectorySync::progressChanged, this, [&](int p) { seen << QStringLiteral("progress %1").arg(p); });
        connect(&sync, &DirectorySync::message, this, [&](const QString &m) { seen << QStringLiteral("message ") + m; });
        connect(&sync, &DirectorySync::status, this, [&](const QString &m) { seen << QStringLiteral("status ") + m; });
        connect(&sync, &DirectorySync::relistRequested, this, [&] { seen << QStringLiteral("relist"); });
        connect(&sync, &DirectorySync::overlayChanged, this, [&](bool o) { seen << QStringLiteral("overlay %1").arg(int(o)); });
        connect(&sync, &DirectorySync::connectionIndicatorOff, this, [&] { seen << QStringLiteral("indicator 0"); });
        connect(&sync, &DirectorySync::fileCopied, this, [&](const QString &, const QString &name) {
            seen << QStringLiteral("copied ") + name;
        });
        if (receiving)
            sync.SyncLocalFromRemote(rig.local, remoteFolder);
        else
            sync.SyncRemoteFromLocal(rig.local, remoteFolder);
        reports.replaceInStrings(QStringLiteral("LOCAL"), rig.local);
        QCOMPARE(seen, reports);
        if (remoteFolder == QLatin1String("/nope") || !connected)
            QCOMPARE(rig.minute.count("RETR") + rig.minute.count("STOR"), 0);
    }

    // corvane-cli's sync commands: one line per copied file and a summary;
    // without an option the stored mode applies.
    void cliSyncCommands_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("storedBySize");
        QTest::addColumn<QStringList>("lines"); // in any order, then the summary
        // a.txt: sizes differ, local newer; b.txt only remote; c.txt only
        // local; d.txt same size, local newer.
        QTest::newRow("sync-local --by-size") << QStringList{"sync-local", "--by-size"} << "0"
                                              << QStringList{"received a.txt", "received b.txt", "2 files copied"};
        QTest::newRow("sync-local, stored size mode") << QStringList{"sync-local"} << "1"
                                                      << QStringList{"received a.txt", "received b.txt", "2 files copied"};
        QTest::newRow("sync-local, stored date mode") << QStringList{"sync-local"} << "0"
                                                      << QStringList{"received b.txt", "1 file copied"};
        QTest::newRow("sync-local --by-date over stored size") << QStringList{"sync-local", "--by-date"} << "1"
                                                               << QStringList{"received b.txt", "1 file copied"};
        QTest::newRow("sync-remote --by-date") << QStringList{"sync-remote", "--by-date"} << "1"
                                               << QStringList{"sent a.txt", "sent c.txt", "sent d.txt", "3 files copied"};
        QTest::newRow("sync-remote, stored size mode") << QStringList{"sync-remote"} << "1"
                                                       << QStringList{"sent a.txt", "sent c.txt", "2 files copied"};
    }
    void cliSyncCommands()
    {
        QFETCH(QStringList, command);
        QFETCH(QString, storedBySize);
        QFETCH(QStringList, lines);
        Rig rig{ServerKind::Pyftpdlib};
        QVERIFY(rig.putRemote(QStringLiteral("a.txt"), "remote a", hoursAgo(5)));
        QVERIFY(rig.putRemote(QStringLiteral("b.txt"), "remote b", hoursAgo(5)));
        QVERIFY(rig.putRemote(QStringLiteral("d.txt"), "dddd", hoursAgo(5)));
        START_RIG(rig);
        rig.ftp.disconnectFromServer();
        QVERIFY(rig.putLocal(QStringLiteral("a.txt"), "local a, longer", hoursAgo(1)));
        QVERIFY(rig.putLocal(QStringLiteral("c.txt"), "local c", hoursAgo(1)));
        QVERIFY(rig.putLocal(QStringLiteral("d.txt"), "DDDD", hoursAgo(1)));
        QTemporaryDir config;
        {
            Registry registry(config.path());
            CRegister reg(registry);
            reg.REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection, OptionKeys::DirSyncBySize, storedBySize);
        }
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SUITE_CONFIG_DIR"), config.path());
        cli.setProcessEnvironment(env);
        const QString url = QStringLiteral("ftp://alice:pw@127.0.0.1:%1/").arg(rig.py.port());
        cli.start(qEnvironmentVariable("SUITE_BIN_DIR") + QStringLiteral("/corvane-cli"),
                  QStringList{url} + command + QStringList{rig.local, QStringLiteral("/data")});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.readAllStandardError(), QByteArray());
        QCOMPARE(cli.exitCode(), 0);
        QStringList out = QString::fromUtf8(cli.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY(!out.isEmpty());
        const QString summary = out.takeLast();
        out.sort();
        QCOMPARE(out + QStringList{summary}, lines);
        // What the cli copied is whole on the receiving side.
        for (const QString &line : std::as_const(out)) {
            const QString name = line.section(u' ', 1);
            QCOMPARE(readAll(rig.local + name), rig.remoteBytes(name));
        }
    }
};

QTEST_GUILESS_MAIN(TestSync)
#include "tst_sync.moc"
