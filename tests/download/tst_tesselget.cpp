#include "ftpservers.h"
#include "httpfileserver.h"
#include "realservers.h"
#include "testcertificates.h"

#include "download/getcommand.h"
#include "config/cregister.h"
#include "config/settingsrecord.h"
#include "platform/registrystore.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestTesselGet : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // Runs the built tessel-get with a scratch settings store.
    struct Run {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    Run run(const QStringList &arguments)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SUITE_CONFIG_DIR"), m_dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("SUITE_PROGRAM_DIR"), m_dir.filePath(QStringLiteral("program")));
        process.setProcessEnvironment(env);
        const QString program = qEnvironmentVariable("SUITE_BIN_DIR") + QStringLiteral("/tessel-get");
        process.start(program, arguments);
        QSignalSpy done(&process, &QProcess::finished);
        // The fake server lives in this process: keep its event loop running.
        if (!done.wait(30000))
            process.kill();
        process.waitForFinished(5000);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
                process.readAllStandardError()};
    }

private Q_SLOTS:
    void arguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("valid");
        QTest::newRow("plain") << QStringList{"http://h/f", "/tmp/f"} << true;
        QTest::newRow("all options") << QStringList{"--segment", "--pasv", "--rollback", "100", "--timeout", "5",
                                                    "--overwrite", "ftp://h/f", "out"}
                                     << true;
        QTest::newRow("missing path") << QStringList{"http://h/f"} << false;
        QTest::newRow("three positionals") << QStringList{"a", "b", "c"} << false;
        QTest::newRow("rollback without number") << QStringList{"--rollback", "x", "a", "b"} << false;
        QTest::newRow("timeout zero") << QStringList{"--timeout", "0", "a", "b"} << false;
        QTest::newRow("unknown option") << QStringList{"--fast", "a", "b"} << false;
        QTest::newRow("cacert") << QStringList{"--cacert", "ca.pem", "https://h/f", "out"} << true;
        QTest::newRow("cacert without file") << QStringList{"https://h/f", "out", "--cacert"} << false;
    }

    void arguments()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, valid);
        const GetParse parsed = parseGetArguments(args);
        QCOMPARE(parsed.options.has_value(), valid);
        QCOMPARE(parsed.error.isEmpty(), valid);
    }

    void optionsOverrideTheSettingsForThisRun()
    {
        const GetParse parsed = parseGetArguments(
            {"--no-segment", "--no-pasv", "--rollback", "100", "--timeout", "7", "http://h/f", "out"});
        QVERIFY(parsed.options);
        SettingsRecord record;
        record.Segment = 1;
        record.UsePASV = true;
        parsed.options->applyTo(record);
        QCOMPARE(int(record.Segment), 0);
        QVERIFY(!record.UsePASV);
        QCOMPARE(record.Rollback, 100);
        QCOMPARE(record.Timeout, 7);
        SettingsRecord untouched;
        parseGetArguments({"http://h/f", "out"}).options->applyTo(untouched);
        QCOMPARE(untouched.Timeout, SettingsRecord().Timeout);
    }

    void progressAndSummaryLines()
    {
        const QString line = progressLine(512 * 1024, 1024 * 1024, 2048, 60);
        QVERIFY(line.startsWith(QStringLiteral(" 50% [")));
        const QString bar = line.mid(line.indexOf(QLatin1Char('[')) + 1,
                                     line.indexOf(QLatin1Char(']')) - line.indexOf(QLatin1Char('[')) - 1);
        QCOMPARE(bar.count(QLatin1Char('#')), bar.size() / 2);
        QVERIFY(line.size() <= 60);
        QVERIFY(line.endsWith(QStringLiteral("2.00 KB/s")));
        QCOMPARE(summaryLine(1234, 1.5, 6), QStringLiteral("bytes=1234 seconds=1.500 segments=6"));
    }

    void downloadsAndReportsTheSummary()
    {
        HttpFileServer http(300000);
        const QString out = m_dir.filePath(QStringLiteral("out.bin"));
        const Run r = run({http.url(), out});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.startsWith("bytes=300000 seconds="), r.out.constData());
        QVERIFY(r.out.trimmed().endsWith("segments=0"));
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), HttpFileServer::bytes(0, 300000));
        // Its runs are not the user's downloads: the statistics stay as they were.
        Registry registry(m_dir.filePath(QStringLiteral("config")));
        CRegister reg(registry);
        for (const char *key : {"Downloads", "AllBytes"})
            QCOMPARE(reg.REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QLatin1String(key),
                                       QStringLiteral("unset")),
                     QStringLiteral("unset"));
    }

    void segmentQuestionIsAnsweredYes()
    {
        HttpFileServer http(6 * 1048576);
        const QString out = m_dir.filePath(QStringLiteral("seg.bin"));
        const Run r = run({QStringLiteral("--segment"), QStringLiteral("--overwrite"), http.url(), out});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.trimmed().endsWith("segments=3"), r.out.constData());
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), HttpFileServer::bytes(0, 6 * 1048576));
    }

    void existingFileIsResumedUnlessOverwriteIsGiven()
    {
        HttpFileServer http(50000);
        const QString out = m_dir.filePath(QStringLiteral("resume.bin"));
        {
            QFile f(out);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(HttpFileServer::bytes(0, 20000));
        }
        QCOMPARE(run({http.url(), out}).exitCode, 0);
        QCOMPARE(http.ranges.last(), QByteArray("bytes=15903-49999"));
        {
            QFile f(out); // spoil the start: only an overwrite mends it
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.write(QByteArray(30000, 'X'));
        }
        QCOMPARE(run({QStringLiteral("--overwrite"), http.url(), out}).exitCode, 0);
        // Overwritten: fetched from the first byte (the probe's reply is the
        // start of the file), and whole.
        QVERIFY2(http.ranges.last().startsWith("bytes=0-"), http.ranges.last().constData());
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), HttpFileServer::bytes(0, 50000));
    }

    void failureExitsNonZeroWithTheStatus()
    {
        HttpFileServer http(10);
        http.override = [](const QByteArray &, FakePlan &plan) {
            plan.send(FakeServer::httpHead("HTTP/1.1 404 Not Found", {"Content-Length: 0"}));
            return true;
        };
        const Run r = run({http.url(), m_dir.filePath(QStringLiteral("missing.bin"))});
        QVERIFY(r.exitCode != 0);
        QVERIFY2(r.err.contains("HTTP 404-Object Not Found"), r.err.constData());
    }

    void httpsRefusesAnUntrustedCertificateUnlessCacertTrustsIt()
    {
        if (!TestCertificates::isInstalled())
            QSKIP("openssl is not installed");
        TestCertificates certificates;
        QVERIFY2(certificates.generate(), qPrintable(certificates.errorString()));
        QTemporaryDir www;
        QFile served(www.filePath(QStringLiteral("s.bin")));
        QVERIFY(served.open(QIODevice::WriteOnly));
        const QByteArray content = HttpFileServer::bytes(0, 70000);
        served.write(content);
        served.close();
        NginxServer nginx(www.path());
        nginx.setTls(certificates.good().certificate, certificates.good().key);
        SUITE_START_SERVER(nginx);
        const QString out = m_dir.filePath(QStringLiteral("tls.bin"));

        // Without the CA the run ends at once: no question, no file.
        const Run refused = run({nginx.url(QStringLiteral("/s.bin")), out});
        QVERIFY(refused.exitCode != 0);
        QVERIFY2(refused.err.contains("certificate of 127.0.0.1 is not trusted"), refused.err.constData());
        QVERIFY(!QFile::exists(out));
        QVERIFY(nginx.requests().isEmpty());

        const Run trusted = run({QStringLiteral("--cacert"), certificates.caFile(), nginx.url(QStringLiteral("/s.bin")), out});
        QCOMPARE(trusted.exitCode, 0);
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), content);

        const Run missing = run({QStringLiteral("--cacert"), m_dir.filePath(QStringLiteral("none.pem")),
                                 nginx.url(QStringLiteral("/s.bin")), out});
        QCOMPARE(missing.exitCode, 2);
        QVERIFY(missing.err.contains("--cacert"));
    }

    // ftps:// the same way: refused without the CA, downloaded with it.
    void ftpsRefusesAnUntrustedCertificateUnlessCacertTrustsIt()
    {
        VsftpdServer ftp;
        ftp.setTls(VsftpdServer::Tls::Implicit);
        const QByteArray content = HttpFileServer::bytes(0, 90000);
        QVERIFY(ftp.addFile(QStringLiteral("pub/s.bin"), content));
        SUITE_START_SERVER(ftp);
        const QString url = QStringLiteral("ftps://127.0.0.1:%1/pub/s.bin").arg(ftp.port());
        const QString out = m_dir.filePath(QStringLiteral("ftps.bin"));

        const Run refused = run({url, out});
        QVERIFY(refused.exitCode != 0);
        QVERIFY2(refused.err.contains("certificate of 127.0.0.1 is not trusted"), refused.err.constData());
        QVERIFY(!QFile::exists(out));

        const Run trusted = run({QStringLiteral("--cacert"), ftp.caFile(), url, out});
        QVERIFY2(trusted.exitCode == 0, trusted.err.constData());
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), content);
    }

    void badArgumentsExitWithUsage()
    {
        const Run r = run({QStringLiteral("--bogus")});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.contains("Usage: tessel-get"));
    }
};

QTEST_GUILESS_MAIN(TestTesselGet)
#include "tst_tesselget.moc"
