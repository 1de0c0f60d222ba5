// The built corvane-cli against a real vsftpd on loopback: byte-identical
// get and put in passive and active mode, resume both ways, recursive get and
// put of a tree with empty folders and awkward names, the remote commands,
// the listing format, failures reported on
// standard error; and an abort during a large transfer through the
// component itself.
#include "ftpclient/ftpcomponent.h"

#include "ftpservers.h"
#include "socksserver.h"
#include "platform/tlssocketfactory.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <map>

namespace {

QByteArray randomBytes(qint64 size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Every file (relative path -> content) and every folder (relative path ->
// "<dir>") under root.
std::map<QString, QByteArray> snapshot(const QString &root)
{
    std::map<QString, QByteArray> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo fi(it.next());
        const QString rel = QDir(root).relativeFilePath(fi.filePath());
        tree[rel] = fi.isDir() ? QByteArray("<dir>") : readAll(fi.filePath());
    }
    return tree;
}

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

class TestCorvaneCli : public QObject {
    Q_OBJECT

    VsftpdServer m_server;
    DanteServer m_dante;
    QTemporaryDir m_local;

    Run cli(const QStringList &arguments)
    {
        QProcess process;
        process.start(qEnvironmentVariable("SUITE_BIN_DIR") + QStringLiteral("/corvane-cli"), arguments);
        if (!process.waitForFinished(60000))
            process.kill();
        process.waitForFinished(5000);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
                process.readAllStandardError()};
    }
    QString url(const QString &path = {}) const
    {
        return QStringLiteral("ftp://127.0.0.1:%1/%2").arg(m_server.port()).arg(path);
    }
    QString local(const QString &name) const { return m_local.filePath(name); }

private Q_SLOTS:
    void initTestCase()
    {
        if (!m_server.isInstalled()) {
            if (realServersRequired())
                QFAIL(qPrintable(m_server.missingMessage()));
            QSKIP(qPrintable(m_server.missingMessage()));
        }
        QVERIFY(m_server.addFile(QStringLiteral("pub/empty.bin"), QByteArray()));
        QVERIFY(m_server.addFile(QStringLiteral("pub/one.bin"), QByteArray("x")));
        QVERIFY(m_server.addFile(QStringLiteral("pub/mib.bin"), randomBytes(1 << 20, 1)));
        QVERIFY(m_server.addFile(QStringLiteral("pub/large.bin"), randomBytes(64 << 20, 2)));
        // A tree of 200 files: nested folders, empty ones, names with
        // spaces and non-ASCII characters.
        for (int i = 0; i < 200; ++i) {
            const QString folder = i % 4 == 0   ? QStringLiteral("tree")
                                   : i % 4 == 1 ? QStringLiteral("tree/sub folder")
                                   : i % 4 == 2 ? QStringLiteral("tree/sub folder/größe ü")
                                                : QStringLiteral("tree/日本");
            const QString name = i % 3 == 0 ? QStringLiteral("file %1.txt").arg(i) : QStringLiteral("é%1.dat").arg(i);
            QVERIFY(m_server.addFile(folder + u'/' + name, randomBytes(i * 37, quint32(100 + i))));
        }
        for (const QString &empty : {QStringLiteral("tree/empty"), QStringLiteral("tree/sub folder/also empty")}) {
            const QString path = QDir(m_server.rootPath()).filePath(empty);
            QVERIFY(QDir().mkpath(path));
            QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                    | QFileDevice::ReadOther | QFileDevice::ExeOther));
        }
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    }

    void getIsByteIdentical_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("mode");
        for (const char *mode : {"--passive", "--active"})
            for (const char *name : {"empty.bin", "one.bin", "mib.bin"})
                QTest::addRow("%s %s", name, mode) << QString::fromLatin1(name) << QString::fromLatin1(mode);
    }

    void getIsByteIdentical()
    {
        QFETCH(QString, name);
        QFETCH(QString, mode);
        const QString target = local(mode.mid(2) + u'-' + name);
        const Run r = cli({mode, url(QStringLiteral("pub")), QStringLiteral("get"), name, target});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(readAll(target), readAll(QDir(m_server.rootPath()).filePath(QStringLiteral("pub/") + name)));
        // Getting again over the existing file makes it a copy again.
        QFile f(target);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("stale content that is longer than one byte");
        f.close();
        QCOMPARE(cli({mode, url(QStringLiteral("pub")), QStringLiteral("get"), name, target}).exitCode, 0);
        QCOMPARE(readAll(target), readAll(QDir(m_server.rootPath()).filePath(QStringLiteral("pub/") + name)));
    }

    void getResumeContinuesFromTheLocalSize()
    {
        const QByteArray remote = readAll(QDir(m_server.rootPath()).filePath(QStringLiteral("pub/mib.bin")));
        const QString target = local(QStringLiteral("resumed.bin"));
        // A local first part that differs from the server's bytes shows the
        // first part was not fetched again.
        const QByteArray firstPart(300000, 'Z');
        QFile f(target);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(firstPart);
        f.close();
        const Run r = cli({url(), QStringLiteral("get"), QStringLiteral("--resume"), QStringLiteral("pub/mib.bin"),
                           target});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(readAll(target), firstPart + remote.mid(firstPart.size()));
        QVERIFY(m_server.log().contains("REST 300000"));
    }

    void recursiveGetCopiesTheTree()
    {
        const QString target = local(QStringLiteral("new/tree copy"));
        const Run r = cli({url(), QStringLiteral("get"), QStringLiteral("-r"), QStringLiteral("tree"), target});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const auto expected = snapshot(QDir(m_server.rootPath()).filePath(QStringLiteral("tree")));
        QCOMPARE(expected.size(), size_t(200 + 5));
        const auto copied = snapshot(target);
        QCOMPARE(copied.size(), expected.size());
        QVERIFY(copied == expected);
    }

    void throughSocksProxies_data()
    {
        QTest::addColumn<QString>("proxy");
        QTest::addColumn<QString>("mode");
        QTest::newRow("socks4 passive") << QStringLiteral("--socks4") << QStringLiteral("--passive");
        QTest::newRow("socks5 passive") << QStringLiteral("--socks5") << QStringLiteral("--passive");
        QTest::newRow("socks5 active") << QStringLiteral("--socks5") << QStringLiteral("--active");
    }

    void throughSocksProxies()
    {
        QFETCH(QString, proxy);
        QFETCH(QString, mode);
        if (!m_dante.isInstalled()) {
            if (realServersRequired())
                QFAIL(qPrintable(m_dante.missingMessage()));
            QSKIP(qPrintable(m_dante.missingMessage()));
        }
        if (!m_dante.isRunning())
            QVERIFY2(m_dante.start(), qPrintable(m_dante.errorString()));
        const QString target = local(QStringLiteral("proxied-%1%2.bin").arg(proxy.mid(2), mode.mid(2)));
        const QString via = QStringLiteral("127.0.0.1:%1").arg(m_dante.port());
        const Run r = cli({proxy, via, mode, url(QStringLiteral("pub")), QStringLiteral("get"),
                           QStringLiteral("mib.bin"), target});
        QVERIFY2(r.exitCode == 0, (r.err + m_dante.log()).constData());
        QCOMPARE(readAll(target), readAll(QDir(m_server.rootPath()).filePath(QStringLiteral("pub/mib.bin"))));
        const Run ls = cli({proxy, via, mode, url(QStringLiteral("pub")), QStringLiteral("ls")});
        QVERIFY2(ls.exitCode == 0, ls.err.constData());
        QVERIFY(ls.out.contains("\tmib.bin\n"));
        // The connections went through the proxy.
        QTRY_VERIFY_WITH_TIMEOUT(m_dante.log().contains(QByteArray::number(m_server.port())), 5000);
    }

    void listingLines()
    {
        const Run r = cli({url(QStringLiteral("pub")), QStringLiteral("ls")});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const QStringList lines = QString::fromUtf8(r.out).split(u'\n', Qt::SkipEmptyParts);
        const QRegularExpression shape(
            QStringLiteral("^([FDL])\t(\\d+)\t(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d)\t(.+)$"));
        QStringList seen;
        for (const QString &line : lines) {
            const auto m = shape.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            seen.append(m.captured(1) + u' ' + m.captured(2) + u' ' + m.captured(4));
        }
        seen.sort();
        QCOMPARE(seen, QStringList({QStringLiteral("F 0 empty.bin"), QStringLiteral("F 1 one.bin"),
                                    QStringLiteral("F 1048576 mib.bin"), QStringLiteral("F 67108864 large.bin")}));
        const Run tree = cli({url(), QStringLiteral("ls"), QStringLiteral("tree")});
        QVERIFY2(tree.exitCode == 0, tree.err.constData());
        QVERIFY(tree.out.contains("D\t"));
        QVERIFY(tree.out.contains("\tsub folder\n"));
        QVERIFY(tree.out.contains("\t日本\n"));
        // A name or a mask in a folder lists the entries it matches.
        const Run masked = cli({url(), QStringLiteral("ls"), QStringLiteral("pub/*.bin")});
        QVERIFY2(masked.exitCode == 0, masked.err.constData());
        QCOMPARE(masked.out.count('\n'), 4);
        const Run one = cli({url(), QStringLiteral("ls"), QStringLiteral("pub/one.bin")});
        QVERIFY2(one.exitCode == 0, one.err.constData());
        QVERIFY(one.out.startsWith("F\t1\t") && one.out.endsWith("\tone.bin\n"));
    }

    void failuresExitNonZeroWithTheReason_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("reason");
        const QString cwdUrl = url();
        QTest::newRow("missing file") << QStringList{cwdUrl, "get", "pub/none.bin", local("none.bin")}
                                      << QByteArray("550");
        QTest::newRow("missing folder") << QStringList{url(QStringLiteral("nowhere")), "ls"} << QByteArray("550");
        QTest::newRow("ls of nothing") << QStringList{cwdUrl, "ls", "pub/none*"} << QByteArray("no such file");
        QTest::newRow("refused write") << QStringList{cwdUrl, "mkdir", "new"} << QByteArray("550");
        QTest::newRow("nobody listening")
            << QStringList{QStringLiteral("ftp://127.0.0.1:%1/").arg(freeLoopbackPort()), "ls"}
            << QByteArray("connect");
        QTest::newRow("usage") << QStringList{cwdUrl, "fetch"} << QByteArray("Usage: corvane-cli");
    }

    void failuresExitNonZeroWithTheReason()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, reason);
        const Run r = cli(args);
        QVERIFY(r.exitCode != 0);
        QVERIFY2(r.err.contains(reason), r.err.constData());
        QVERIFY(!QFileInfo::exists(local(QStringLiteral("none.bin"))));
    }

    void abortDuringALargeTransferKeepsTheSession()
    {
        FtpComponent c(std::make_shared<TlsSocketFactory>());
        c.serverAddress = QStringLiteral("127.0.0.1");
        c.serverPort = m_server.port();
        QVERIFY2(c.connectToServer(), qPrintable(c.lastError().description));
        QElapsedTimer sinceAbort;
        qint64 doneAtAbort = 0;
        QObject::connect(&c, &FtpComponent::transferStatus, &c,
                         [&](const QString &, const QString &, qint64, qint64 done) {
            if (!sinceAbort.isValid() && done >= (1 << 20)) {
                doneAtAbort = done;
                sinceAbort.start();
                c.setAbort(true);
            }
        });
        const QString target = local(QStringLiteral("large.bin"));
        QVERIFY(!c.receiveFile(QStringLiteral("pub/large.bin"), 0, target));
        QCOMPARE(c.lastError().number, FtpErrors::Aborted);
        QVERIFY(sinceAbort.isValid());
        QVERIFY2(sinceAbort.elapsed() < 1000, qPrintable(QString::number(sinceAbort.elapsed())));
        QVERIFY(QFileInfo(target).size() < (64 << 20));
        QVERIFY(doneAtAbort > 0);
        // The same session goes on.
        QVERIFY2(c.receiveFile(QStringLiteral("pub/one.bin"), 0, local(QStringLiteral("after.bin"))),
                 qPrintable(c.lastError().description));
        QCOMPARE(readAll(local(QStringLiteral("after.bin"))), QByteArray("x"));
        QVERIFY(c.disconnectFromServer());
    }
};

QTEST_GUILESS_MAIN(TestCorvaneCli)
#include "tst_corvanecli.moc"
