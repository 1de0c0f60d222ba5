// Directory synchronisation against pyftpdlib (MLSD times to the second),
// vsftpd (LIST and MDTM) and a scripted server whose LIST gives minutes and
// nothing else: which files each direction copies by size and by date, exact
// names, folders and links left alone, later runs copying nothing, an abort
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

const char *nameOf(ServerKind kind)
{
    return kind == ServerKind::Pyftpdlib ? "pyftpdlib" : kind == ServerKind::Vsftpd ? "vsftpd" : "minute LIST";
}

// A remote folder on one of the three servers and a local folder beside it.
struct Rig {
    explicit Rig(ServerKind kind) : kind(kind)
    {
        home = kind == ServerKind::Pyftpdlib ? py.addUser(QStringLiteral("alice"), QStringLiteral("pw")) : QString();
        vs.setWritableArea(true);
        QDir().mkpath(local);
        QDir().mkpath(home + QStringLiteral("/data"));
    }
    // Starts the server and connects; the reason when that failed.
    QString start()
    {
        RealServer *server = kind == ServerKind::Pyftpdlib ? static_cast<RealServer *>(&py)
                             : kind == ServerKind::Vsftpd  ? &vs
                                                           : nullptr;
        if (server && !(kind == ServerKind::Pyftpdlib ? py.isInstalled() : vs.isInstalled()))
            return QStringLiteral("skip");
        if (server && !(kind == ServerKind::Vsftpd ? vs.start() : server->start()))
            return server->errorString();
        ftp.serverAddress = QStringLiteral("127.0.0.1");
        ftp.serverPort = server ? server->port() : minute.control.port();
        ftp.userName = kind == ServerKind::Vsftpd ? QString() : QStringLiteral("alice");
        ftp.password = QStringLiteral("pw");
        QString login;
        if (!ftp.connectToServer() || !ftp.currentFolder(login))
            return ftp.lastError().description;
        if (kind == ServerKind::Vsftpd)
            remoteFolder = (login.endsWith(u'/') ? login : login + u'/') + VsftpdServer::uploadFolder();
        return {};
    }
    QString remoteDisk(const QString &name) const
    {
        return kind == ServerKind::Vsftpd ? vs.uploadPath() + u'/' + name : home + QStringLiteral("/data/") + name;
    }
    bool putRemote(const QString &name, const QByteArray &bytes, const QDateTime &modified)
    {
        if (kind == ServerKind::MinuteList) {
            minute.put(name, bytes, modified);
            return true;
        }
        return (kind != ServerKind::Vsftpd || vs.addFile(VsftpdServer::uploadFolder() + u'/' + name, bytes))
               && writeFile(remoteDisk(name), bytes, modified);
    }
    QByteArray remoteBytes(const QString &name) const
    {
        if (kind != ServerKind::MinuteList)
            return readAll(remoteDisk(name));
        const auto it = minute.files.find(name);
        return it == minute.files.end() ? QByteArray("<missing>") : it->second.bytes;
    }
    bool putLocal(const QString &name, const QByteArray &bytes, const QDateTime &modified)
    {
        return writeFile(local + name, bytes, modified);
    }
    QStringList run(DirectorySync &sync, bool receiving)
    {
        const DirectorySync::Outcome o = receiving ? sync.SyncLocalFromRemote(local, remoteFolder)
                                                   : sync.SyncRemoteFromLocal(local, remoteFolder);
        return o.completed ? o.copied : QStringList{QStringLiteral("<failed: %1>").arg(o.error)};
    }

    ServerKind kind;
    QTemporaryDir dir;
    QString home;
    QString local = dir.filePath(QStringLiteral("local/"));
    QString remoteFolder = QStringLiteral("/data");
    PyftpdlibServer py;
    VsftpdServer vs;
    FtpFolderServer minute;
    FtpComponent ftp{std::make_shared<TlsSocketFactory>()};
};

#define START_RIG(rig)                                                                                                 \
    do {                                                                                                               \
        const QString why_ = (rig).start();                                                                            \
        if (why_ == QLatin1String("skip") && !realServersRequired())                                                   \
            QSKIP("the FTP server is not installed");                                                                  \
        QVERIFY2(why_.isEmpty(), qPrintable(why_));                                                                    \
    } while (0)

DirectorySync::Mode modeOf(bool bySize)
{
    return bySize ? DirectorySync::Mode::BySize : DirectorySync::Mode::ByDate;
}

} // namespace

class TestSync : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Which files one run copies, and that running it again, then the
    // other direction, then both once more copies nothing further. Each
    // file is "name:size:hours-ago" on its side. The servers give times to
    // the second (pyftpdlib's MLSD, vsftpd's MDTM) or to the minute (a LIST
    // and nothing else).
    void copiesDifferingFilesOnceOnly_data()
    {
        QTest::addColumn<int>("server");
        QTest::addColumn<bool>("receiving");
        QTest::addColumn<bool>("bySize");
        QTest::addColumn<QStringList>("localFiles");
        QTest::addColumn<QStringList>("remoteFiles");
        QTest::addColumn<QStringList>("copied");
        for (const ServerKind server : {ServerKind::Pyftpdlib, ServerKind::Vsftpd, ServerKind::MinuteList}) {
            const auto row = [&](const char *name) -> QTestData & {
                return QTest::addRow("%s: %s", nameOf(server), name) << int(server);
            };
            row("size 100 vs 120 received") << true << true << QStringList{"a.txt:120:1", "b.txt:7:1"}
                                            << QStringList{"a.txt:100:5", "c.txt:9:2"}
                                            << QStringList{"a.txt", "c.txt"};
            row("equal sizes not received, remote newer") << true << true << QStringList{"a.txt:100:5"}
                                                         << QStringList{"a.txt:100:1"} << QStringList{};
            row("equal sizes not sent, local newer") << false << true << QStringList{"a.txt:100:1"}
                                                    << QStringList{"a.txt:100:5"} << QStringList{};
            row("size differs, sent") << false << true << QStringList{"a.txt:120:5", "b.txt:7:1"}
                                      << QStringList{"a.txt:100:1", "c.txt:9:2"} << QStringList{"a.txt", "b.txt"};
            row("by date, remote newer received") << true << false << QStringList{"new.txt:10:3", "old.txt:10:1"}
                                                 << QStringList{"new.txt:10:1", "old.txt:10:3", "c.txt:9:2"}
                                                 << QStringList{"c.txt", "new.txt"};
            row("by date, local newer sent") << false << false << QStringList{"new.txt:10:1", "old.txt:10:3", "b.txt:7:1"}
                                            << QStringList{"new.txt:10:3", "old.txt:10:1"}
                                            << QStringList{"b.txt", "new.txt"};
            // The same time to the second; a LIST shows it without seconds.
            row("same time, by date, nothing sent") << false << false << QStringList{"s.txt:5:1"}
                                                    << QStringList{"s.txt:6:1"} << QStringList{};
            row("names differ in case: received") << true << false << QStringList{"Readme.txt:5:1"}
                                                  << QStringList{"readme.txt:5:3"} << QStringList{"readme.txt"};
            row("names differ in case: sent") << false << true << QStringList{"Readme.txt:5:3"}
                                              << QStringList{"readme.txt:5:1"} << QStringList{"Readme.txt"};
        }
    }
    void copiesDifferingFilesOnceOnly()
    {
        QFETCH(int, server);
        QFETCH(bool, receiving);
        QFETCH(bool, bySize);
        QFETCH(QStringList, localFiles);
        QFETCH(QStringList, remoteFiles);
        QFETCH(QStringList, copied);
        Rig rig{ServerKind(server)};
        const auto bytesOf = [](const QString &spec, char c) { return QByteArray(spec.section(u':', 1, 1).toInt(), c); };
        const QDateTime now = hoursAgo(0);
        const auto timeOf = [&](const QString &spec) { return now.addSecs(-3600 * spec.section(u':', 2, 2).toInt()); };
        for (const QString &f : std::as_const(remoteFiles))
            QVERIFY(rig.putRemote(f.section(u':', 0, 0), bytesOf(f, 'r'), timeOf(f)));
        START_RIG(rig);
        for (const QString &f : std::as_const(localFiles))
            QVERIFY(rig.putLocal(f.section(u':', 0, 0), bytesOf(f, 'l'), timeOf(f)));

        DirectorySync sync(rig.ftp, [&] { return modeOf(bySize); });
        QStringList first = rig.run(sync, receiving);
        first.sort(); // servers list in their own order
        QCOMPARE(first, copied);
        for (const QString &name : copied)
            QCOMPARE(readAll(rig.local + name), rig.remoteBytes(name));
        for (const QString &f : std::as_const(localFiles))
            if (!copied.contains(f.section(u':', 0, 0)))
                QCOMPARE(readAll(rig.local + f.section(u':', 0, 0)), bytesOf(f, 'l'));

        QCOMPARE(rig.run(sync, receiving), QStringList{});
        QVERIFY(!rig.run(sync, !receiving).join(u' ').contains(QLatin1String("<failed")));
        const qsizetype transfers = rig.minute.count("STOR") + rig.minute.count("RETR");
        for (const bool direction : {receiving, !receiving, receiving})
            QCOMPARE(rig.run(sync, direction), QStringList{});
        QCOMPARE(rig.minute.count("STOR") + rig.minute.count("RETR"), transfers);
    }

    // Folders and links on either side are never copied, by size or by date.
    void foldersAndLinksAreNeverCopied()
    {
        Rig rig{ServerKind::Vsftpd};
        QVERIFY(rig.putRemote(QStringLiteral("file.txt"), "abc", hoursAgo(1)));
        QVERIFY(rig.vs.addFile(VsftpdServer::uploadFolder() + QStringLiteral("/folder/inner.txt"), "inner"));
        QVERIFY(QFile::link(QStringLiteral("folder"), rig.remoteDisk(QStringLiteral("folderlink"))));
        QVERIFY(QFile::link(QStringLiteral("file.txt"), rig.remoteDisk(QStringLiteral("filelink"))));
        START_RIG(rig);
        QVERIFY(rig.putLocal(QStringLiteral("localfolder/deep.txt"), "deep", hoursAgo(1)));
        QVERIFY(QFile::link(rig.local + QStringLiteral("localfolder"), rig.local + QStringLiteral("locallink")));
        for (const bool bySize : {true, false}) {
            DirectorySync sync(rig.ftp, [&] { return modeOf(bySize); });
            QCOMPARE(rig.run(sync, true), bySize ? QStringList{QStringLiteral("file.txt")} : QStringList{});
            QCOMPARE(rig.run(sync, false), QStringList{});
        }
        QCOMPARE(QDir(rig.local).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 (QStringList{QStringLiteral("file.txt"), QStringLiteral("localfolder"), QStringLiteral("locallink")}));
        QCOMPARE(QDir(rig.vs.uploadPath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 (QStringList{QStringLiteral("file.txt"), QStringLiteral("filelink"), QStringLiteral("folder"),
                              QStringLiteral("folderlink")}));
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
        const DirectorySync::Outcome out = sync.SyncLocalFromRemote(rig.local, rig.remoteFolder);
        QVERIFY(aborted);
        QVERIFY(!out.completed);
        QCOMPARE(out.copied, QStringList{});
        QCOMPARE(out.error, QStringLiteral("Aborted"));
        QCOMPARE(messages, QStringList{QStringLiteral("Aborted")});
        QCOMPARE(readAll(rig.local + QStringLiteral("big.bin")), old);
        QCOMPARE(QDir(rig.local).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("big.bin")});
        // The component is usable again and the next run completes the copy.
        const DirectorySync::Outcome again = sync.SyncLocalFromRemote(rig.local, rig.remoteFolder);
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
