// The FTP servers the integration tests start, checked with curl as an
// independent client where a mistake in them would let a client test pass
// for the wrong reason: the mode asked for is the mode served, what must be
// refused is refused, and vsftpd demands TLS session reuse on data
// connections.

#include "ftpservers.h"
#include "pyftpdserver.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// curl's exit codes the tests expect.
constexpr int CurlOk = 0;
constexpr int CurlUploadFailed = 25;
constexpr int CurlPartialFile = 18;
constexpr int CurlPeerUntrusted = 60;
constexpr int CurlLoginDenied = 67;

using Tls = VsftpdServer::Tls;

struct ClientRun {
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
};

// Runs curl (bounded): silent but for errors, no configuration file.
ClientRun curl(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("curl"),
                  QStringList{QStringLiteral("-q"), QStringLiteral("-sS"), QStringLiteral("--max-time"),
                              QStringLiteral("60")}
                      + arguments);
    ClientRun run;
    if (!process.waitForFinished(90000)) {
        process.kill();
        process.waitForFinished(2000);
        run.errors = "curl did not finish";
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = process.readAllStandardOutput();
    run.errors = process.readAllStandardError();
    return run;
}

#define VERIFY_EXIT(run, expected)                                                                                     \
    QVERIFY2((run).exitCode == (expected), qPrintable(QStringLiteral("curl exit %1, expected %2: %3")                  \
                                                          .arg((run).exitCode)                                         \
                                                          .arg(expected)                                               \
                                                          .arg(QString::fromLocal8Bit((run).errors))))

} // namespace

class TestFtpServers : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty()) {
            if (realServersRequired())
                QFAIL("curl is required (scripts/deps.sh test installs it)");
            QSKIP("curl is not installed (scripts/deps.sh test installs it)");
        }
    }

    void vsftpd_data()
    {
        QTest::addColumn<Tls>("tls");
        QTest::addColumn<bool>("required");
        QTest::addColumn<bool>("ipv6");
        QTest::addColumn<QStringList>("options"); // besides the URL; "CA" is replaced by the CA file
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArrayList>("logged"); // in the server's log afterwards

        const QString ca = QStringLiteral("CA");
        QTest::newRow("active, IPv6") << Tls::None << false << true
                                      << QStringList{QStringLiteral("--ftp-port"), QStringLiteral("::1")} << CurlOk
                                      << QByteArrayList{"\"EPRT ", "Client \"::1\""};
        QTest::newRow("explicit") << Tls::Explicit << false << false
                                  << QStringList{QStringLiteral("--ssl-reqd"), QStringLiteral("--cacert"), ca}
                                  << CurlOk << QByteArrayList{"\"AUTH ", "\"PROT P\""};
        QTest::newRow("implicit, IPv6") << Tls::Implicit << false << true << QStringList{QStringLiteral("--cacert"), ca}
                                        << CurlOk << QByteArrayList{"\"PROT P\"", "Client \"::1\""};
        QTest::newRow("plain login where TLS is required") << Tls::Explicit << true << false << QStringList() << CurlLoginDenied
                                                           << QByteArrayList{};
        QTest::newRow("data connection without session reuse")
            << Tls::Explicit << false << false
            << QStringList{QStringLiteral("--ssl-reqd"), QStringLiteral("--no-sessionid"), QStringLiteral("--cacert"), ca}
            << CurlPartialFile << QByteArrayList{"session reuse required"};
        QTest::newRow("explicit, CA not trusted") << Tls::Explicit << false << false
                                                  << QStringList{QStringLiteral("--ssl-reqd")} << CurlPeerUntrusted
                                                  << QByteArrayList{};
        QTest::newRow("implicit, CA not trusted") << Tls::Implicit << false << false << QStringList() << CurlPeerUntrusted
                                                  << QByteArrayList{};
    }

    // The server serves the address family, data connection and encryption
    // asked for, refuses plain logins where TLS is required, trusts nothing
    // but its own CA and refuses a TLS data connection that does not resume
    // the control connection's session.
    void vsftpd()
    {
        QFETCH(Tls, tls);
        QFETCH(bool, required);
        QFETCH(bool, ipv6);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QByteArrayList, logged);

        VsftpdServer ftp;
        ftp.setIpv6(ipv6);
        ftp.setTls(tls);
        ftp.setTlsRequired(required);
        const QByteArray served(300 * 1024 + 7, 'v');
        QVERIFY(ftp.addFile(QStringLiteral("pub/served.bin"), served));
        SUITE_START_SERVER(ftp);
        QCOMPARE(ftp.caFile().isEmpty(), tls == Tls::None);
        options.replaceInStrings(QRegularExpression(QStringLiteral("^CA$")), ftp.caFile());
        const ClientRun run = curl(options + QStringList{ftp.url(QStringLiteral("pub/served.bin"))});
        VERIFY_EXIT(run, exitCode);
        if (exitCode == CurlOk)
            QCOMPARE(run.output, served);
        // The server writes its log after the reply the client may have ended on.
        for (const QByteArray &text : std::as_const(logged))
            QTRY_VERIFY2(ftp.log().contains(text), text.constData());
    }

    void pyftpdlib_data()
    {
        QTest::addColumn<QString>("credentials"); // curl --user
        QTest::addColumn<QString>("upload");      // a file to send, empty: list with MLSD
        QTest::addColumn<int>("exitCode");

        QTest::newRow("right password lists") << QStringLiteral("bob:pw-bob") << QString() << CurlOk;
        QTest::newRow("wrong password") << QStringLiteral("bob:pw-reader") << QString() << CurlLoginDenied;
        QTest::newRow("unknown user") << QStringLiteral("eve:pw-bob") << QString() << CurlLoginDenied;
        QTest::newRow("writer sends") << QStringLiteral("bob:pw-bob") << QStringLiteral("new.txt") << CurlOk;
        QTest::newRow("reader cannot send") << QStringLiteral("reader:pw-reader") << QStringLiteral("new.txt")
                                            << CurlUploadFailed;
    }

    // Logins take the right password only, permissions hold, and MLSD lists a
    // user's files with their facts and UTF-8 names.
    void pyftpdlib()
    {
        QFETCH(QString, credentials);
        QFETCH(QString, upload);
        QFETCH(int, exitCode);

        PyftpdlibServer ftp;
        ftp.addUser(QStringLiteral("bob"), QStringLiteral("pw-bob"));
        ftp.addUser(QStringLiteral("reader"), QStringLiteral("pw-reader"), QStringLiteral("elr"));
        const QString listed = QStringLiteral("größe ünï.txt");
        const QString user = credentials.section(QLatin1Char(':'), 0, 0);
        if (user != QLatin1String("eve")) {
            QVERIFY(ftp.addFile(user, listed, QByteArray(1234, 'x')));
            QVERIFY(ftp.addFolder(user, QStringLiteral("empty folder")));
        }
        SUITE_START_SERVER(ftp);

        QStringList arguments{QStringLiteral("--user"), credentials};
        QTemporaryDir local;
        const QString toSend = local.filePath(QStringLiteral("sent"));
        if (upload.isEmpty()) {
            arguments << QStringLiteral("-X") << QStringLiteral("MLSD") << ftp.url();
        } else {
            QFile file(toSend);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("sent\n") == 5);
            file.close();
            arguments << QStringLiteral("-T") << toSend << ftp.url(upload);
        }
        const ClientRun run = curl(arguments);
        VERIFY_EXIT(run, exitCode);
        if (exitCode != CurlOk)
            return;
        if (upload.isEmpty()) {
            QVERIFY2(run.output.contains("size=1234;") && run.output.contains("type=file;")
                         && run.output.contains("; " + listed.toUtf8()) && run.output.contains("type=dir;")
                         && run.output.contains("; empty folder"),
                     run.output.constData());
        } else {
            QFile arrived(QDir(ftp.homePath(user)).filePath(upload));
            QVERIFY(arrived.open(QIODevice::ReadOnly));
            QCOMPARE(arrived.readAll(), QByteArray("sent\n"));
        }
    }
};

QTEST_GUILESS_MAIN(TestFtpServers)
#include "tst_ftpservers.moc"
