// The FTP servers the integration tests start, checked with curl as an
// independent client: each mode a test relies on (passive and active, plain,
// explicit and implicit TLS, the writable area, named users, IPv6) really
// works, and what is meant to be refused is refused.

#include "ftpservers.h"
#include "pyftpdserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// curl's exit codes the tests expect.
constexpr int CurlOk = 0;
constexpr int CurlUploadFailed = 25;
constexpr int CurlQuoteFailed = 21;
constexpr int CurlPartialFile = 18;
constexpr int CurlPeerUntrusted = 60;
constexpr int CurlLoginDenied = 67;

using Tls = VsftpdServer::Tls;

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

struct ClientRun {
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
};

ClientRun runClient(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
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

// Runs curl (bounded) with the arguments every case shares: silent but for
// errors, no configuration file, a time limit of its own.
ClientRun curl(const QStringList &arguments)
{
    return runClient(QStringLiteral("curl"), QStringList{QStringLiteral("-q"), QStringLiteral("-sS"),
                                                         QStringLiteral("--max-time"), QStringLiteral("60")}
                                                 + arguments);
}

// Runs an lftp script (bounded, no retries), for what curl cannot do: curl
// 7.88 fails to open an active data connection under TLS ("sa_addr
// inet_ntop() failed"), lftp does it and resumes the TLS session as vsftpd
// demands.
ClientRun lftp(const QString &script)
{
    return runClient(QStringLiteral("lftp"),
                     {QStringLiteral("-c"), QStringLiteral("set cmd:fail-exit yes; set net:max-retries 1; "
                                                           "set net:timeout 20; set xfer:clobber yes; ")
                                                + script});
}
enum class Direction { Get, Put };

// The curl options that select a transfer mode and trust the server's CA.
// curl does not read a data connection while it sends, so the session
// tickets a TLS 1.3 server sends after the handshake stay unread and curl's
// close resets the connection before vsftpd has read the end of the file
// ("426 Failure reading network stream."): curl sends over TLS 1.2.
QStringList modeOptions(bool active, bool tls, const QString &caFile, const QString &host, Direction direction)
{
    QStringList options;
    if (active)
        options << QStringLiteral("--ftp-port") << host;
    if (tls)
        options << QStringLiteral("--ssl-reqd") << QStringLiteral("--cacert") << caFile;
    if (tls && direction == Direction::Put)
        options << QStringLiteral("--tls-max") << QStringLiteral("1.2");
    return options;
}

// One lftp session that fetches `remote` into `fetched` and sends `toSend`
// as `target`. lftp resumes the TLS session on data connections.
ClientRun lftpGetAndPut(const QString &url, const QString &login, bool active, const QString &caFile,
                        const QString &remote, const QString &fetched, const QString &toSend, const QString &target)
{
    QString script = QStringLiteral("set ftp:passive-mode %1; ").arg(active ? QStringLiteral("off") : QStringLiteral("on"));
    if (!caFile.isEmpty()) {
        script += QStringLiteral("set ftp:ssl-force yes; set ftp:ssl-allow-anonymous yes; set ssl:ca-file '%1'; ")
                      .arg(caFile);
    }
    script += login.isEmpty() ? QStringLiteral("open '%1'; ").arg(url)
                              : QStringLiteral("open -u \"%1\" '%2'; ").arg(login, url);
    script += QStringLiteral("get '%1' -o '%2'; mkdir -p -f '%3'; put '%4' -o '%5'")
                  .arg(remote, fetched, QFileInfo(target).path(), toSend, target);
    return lftp(script);
}

// The clients are installed with the servers; missing, they skip the test
// or, when servers are required, fail it.
#define SKIP_WITHOUT_CLIENTS()                                                                                         \
    do {                                                                                                               \
        if (QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty()                                          \
            || QStandardPaths::findExecutable(QStringLiteral("lftp")).isEmpty()) {                                    \
            if (realServersRequired())                                                                                 \
                QFAIL("curl and lftp are required (scripts/deps.sh test installs them)");                             \
            QSKIP("curl or lftp is not installed (scripts/deps.sh test installs them)");                              \
        }                                                                                                              \
    } while (false)

#define VERIFY_EXIT(run, expected)                                                                                     \
    QVERIFY2((run).exitCode == (expected),                                                                             \
             qPrintable(QStringLiteral("client exit %1, expected %2: %3")                                                \
                            .arg((run).exitCode)                                                                       \
                            .arg(expected)                                                                             \
                            .arg(QString::fromLocal8Bit((run).errors))))

} // namespace

class TestFtpServers : public QObject {
    Q_OBJECT

private slots:
    void init() { SKIP_WITHOUT_CLIENTS(); }

    void vsftpdGetAndPut_data();
    void vsftpdGetAndPut();
    void vsftpdWritableArea_data();
    void vsftpdWritableArea();
    void vsftpdTlsPolicy_data();
    void vsftpdTlsPolicy();
    void pyftpdlibGetAndPut_data();
    void pyftpdlibGetAndPut();
    void pyftpdlibUsersAndListing_data();
    void pyftpdlibUsersAndListing();
};

void TestFtpServers::vsftpdGetAndPut_data()
{
    QTest::addColumn<Tls>("tls");
    QTest::addColumn<bool>("required");
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("tls12Only");

    QTest::newRow("plain passive") << Tls::None << false << false << false;
    QTest::newRow("plain active") << Tls::None << false << true << false;
    QTest::newRow("explicit passive") << Tls::Explicit << false << false << false;
    QTest::newRow("explicit passive, TLS 1.2") << Tls::Explicit << false << false << true;
    QTest::newRow("explicit active, TLS 1.2") << Tls::Explicit << false << true << true;
    QTest::newRow("explicit required passive") << Tls::Explicit << true << false << false;
    QTest::newRow("implicit passive") << Tls::Implicit << false << false << false;
    QTest::newRow("implicit active, TLS 1.2") << Tls::Implicit << false << true << true;
}

// A file fetched and a file sent arrive byte for byte, over the data
// connection the row asks for; the server's log shows that mode was used.
void TestFtpServers::vsftpdGetAndPut()
{
    QFETCH(Tls, tls);
    QFETCH(bool, required);
    QFETCH(bool, active);
    QFETCH(bool, tls12Only);

    VsftpdServer ftp;
    ftp.setWritableArea(true);
    ftp.setTls(tls);
    ftp.setTlsRequired(required);
    ftp.setTls12Only(tls12Only);
    const QByteArray served = randomBytes(300 * 1024 + 7);
    QVERIFY(ftp.addFile(QStringLiteral("pub/served.bin"), served));
    SUITE_START_SERVER(ftp);
    QCOMPARE(ftp.caFile().isEmpty(), tls == Tls::None);

    QTemporaryDir local;
    const QString fetched = local.filePath(QStringLiteral("fetched.bin"));
    const QByteArray sent = randomBytes(200 * 1024 + 3);
    const QString toSend = local.filePath(QStringLiteral("sent.bin"));
    QVERIFY(writeAll(toSend, sent));
    if (active && tls != Tls::None) {
        const ClientRun both = lftpGetAndPut(ftp.url(), {}, active, ftp.caFile(), QStringLiteral("pub/served.bin"),
                                             fetched, toSend, QStringLiteral("upload/sent.bin"));
        VERIFY_EXIT(both, CurlOk);
        QCOMPARE(readAll(fetched), served);
    } else {
        const auto mode = [&](Direction direction) {
            return modeOptions(active, tls != Tls::None, ftp.caFile(), QStringLiteral("127.0.0.1"), direction);
        };
        const ClientRun get = curl(mode(Direction::Get)
                                   + QStringList{QStringLiteral("-o"), fetched, ftp.url(QStringLiteral("pub/served.bin"))});
        VERIFY_EXIT(get, CurlOk);
        QCOMPARE(readAll(fetched), served);
        const ClientRun put = curl(mode(Direction::Put)
                                   + QStringList{QStringLiteral("-T"), toSend, ftp.url(QStringLiteral("upload/sent.bin"))});
        VERIFY_EXIT(put, CurlOk);
    }
    const QString arrived = QDir(ftp.uploadPath()).filePath(QStringLiteral("sent.bin"));
    QCOMPARE(readAll(arrived), sent);
    // World-readable, so the anonymous account may fetch it back.
    QVERIFY(QFileInfo(arrived).permissions().testFlag(QFileDevice::ReadOther));

    const QByteArray log = ftp.log();
    QCOMPARE(log.contains("\"PORT ") || log.contains("\"EPRT "), active);
    QCOMPARE(log.contains("\"PROT P\""), tls != Tls::None);
    QCOMPARE(log.contains("\"AUTH "), tls == Tls::Explicit);
    // Each transfer went through at the first try.
    QCOMPARE(log.count("OK DOWNLOAD:"), 1);
    QCOMPARE(log.count("OK UPLOAD:"), 1);
    QVERIFY(!log.contains("FAIL UPLOAD:"));
    QCOMPARE(log.contains("SSL version: TLSv1.3"), tls != Tls::None && !tls12Only);
    if (tls12Only)
        QVERIFY(log.contains("SSL version: TLSv1.2"));
}

void TestFtpServers::vsftpdWritableArea_data()
{
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QStringList>("commands"); // curl -Q commands, run before the listing
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("present"); // paths under the root afterwards
    QTest::addColumn<QStringList>("absent");

    const QStringList none;
    QTest::newRow("make a folder") << true << QStringList{QStringLiteral("MKD upload/made")} << CurlOk
                                   << QStringList{QStringLiteral("upload/made")} << none;
    QTest::newRow("rename a file") << true
                                   << QStringList{QStringLiteral("RNFR upload/old.txt"),
                                                  QStringLiteral("RNTO upload/new.txt")}
                                   << CurlOk << QStringList{QStringLiteral("upload/new.txt")}
                                   << QStringList{QStringLiteral("upload/old.txt")};
    QTest::newRow("delete a file") << true << QStringList{QStringLiteral("DELE upload/old.txt")} << CurlOk << none
                                   << QStringList{QStringLiteral("upload/old.txt")};
    QTest::newRow("remove a folder") << true << QStringList{QStringLiteral("RMD upload/sub")} << CurlOk << none
                                     << QStringList{QStringLiteral("upload/sub")};
    QTest::newRow("read-only server refuses a folder")
        << false << QStringList{QStringLiteral("MKD upload/made")} << CurlQuoteFailed << none
        << QStringList{QStringLiteral("upload/made")};
    QTest::newRow("read-only server refuses a delete")
        << false << QStringList{QStringLiteral("DELE upload/old.txt")} << CurlQuoteFailed
        << QStringList{QStringLiteral("upload/old.txt")} << none;
}

// The writable area allows every change a send test makes, and only when
// asked for.
void TestFtpServers::vsftpdWritableArea()
{
    QFETCH(bool, writable);
    QFETCH(QStringList, commands);
    QFETCH(int, exitCode);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);

    VsftpdServer ftp;
    ftp.setWritableArea(writable);
    QVERIFY(ftp.addFile(QStringLiteral("upload/old.txt"), "old\n"));
    QVERIFY(ftp.addFolder(QStringLiteral("upload/sub")));
    SUITE_START_SERVER(ftp);

    QStringList arguments;
    for (const QString &command : std::as_const(commands))
        arguments << QStringLiteral("-Q") << command;
    const ClientRun run = curl(arguments + QStringList{QStringLiteral("-o"), QStringLiteral("/dev/null"), ftp.url()});
    VERIFY_EXIT(run, exitCode);
    const QDir root(ftp.rootPath());
    for (const QString &path : std::as_const(present))
        QVERIFY2(QFileInfo::exists(root.filePath(path)), qPrintable(path));
    for (const QString &path : std::as_const(absent))
        QVERIFY2(!QFileInfo::exists(root.filePath(path)), qPrintable(path));
}

void TestFtpServers::vsftpdTlsPolicy_data()
{
    QTest::addColumn<Tls>("tls");
    QTest::addColumn<bool>("required");
    QTest::addColumn<bool>("reuse");
    QTest::addColumn<QStringList>("clientOptions");
    QTest::addColumn<bool>("trustCa");
    QTest::addColumn<int>("exitCode");

    const QStringList reqd{QStringLiteral("--ssl-reqd")};
    const QStringList noSession{QStringLiteral("--ssl-reqd"), QStringLiteral("--no-sessionid")};
    QTest::newRow("plain login where TLS is required") << Tls::Explicit << true << true << QStringList() << false
                                                       << CurlLoginDenied;
    QTest::newRow("plain login where TLS is offered") << Tls::Explicit << false << true << QStringList() << false
                                                      << CurlOk;
    QTest::newRow("data connection without session reuse")
        << Tls::Explicit << false << true << noSession << true << CurlPartialFile;
    QTest::newRow("session reuse switched off") << Tls::Explicit << false << false << noSession << true << CurlOk;
    QTest::newRow("explicit, CA not trusted") << Tls::Explicit << false << true << reqd << false << CurlPeerUntrusted;
    QTest::newRow("implicit, CA not trusted") << Tls::Implicit << false << true << QStringList() << false
                                              << CurlPeerUntrusted;
}

// The TLS settings do what they say: required means required, the data
// connection must resume the control connection's session unless that is
// switched off, and the certificate is trusted through caFile() alone.
void TestFtpServers::vsftpdTlsPolicy()
{
    QFETCH(Tls, tls);
    QFETCH(bool, required);
    QFETCH(bool, reuse);
    QFETCH(QStringList, clientOptions);
    QFETCH(bool, trustCa);
    QFETCH(int, exitCode);

    VsftpdServer ftp;
    ftp.setTls(tls);
    ftp.setTlsRequired(required);
    ftp.setRequireSessionReuse(reuse);
    QVERIFY(ftp.addFile(QStringLiteral("a.txt"), "a\n"));
    SUITE_START_SERVER(ftp);

    QStringList arguments = clientOptions;
    if (trustCa)
        arguments << QStringLiteral("--cacert") << ftp.caFile();
    const ClientRun run = curl(arguments + QStringList{ftp.url(QStringLiteral("a.txt"))});
    VERIFY_EXIT(run, exitCode);
    if (exitCode == CurlOk)
        QCOMPARE(run.output, QByteArray("a\n"));
    if (!reuse || exitCode == CurlPartialFile)
        QCOMPARE(ftp.log().contains("session reuse required"), reuse);
}

void TestFtpServers::pyftpdlibGetAndPut_data()
{
    QTest::addColumn<bool>("ipv6");
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<bool>("required");

    QTest::newRow("passive") << false << false << false << false;
    QTest::newRow("active") << false << true << false << false;
    QTest::newRow("IPv6 passive") << true << false << false << false;
    QTest::newRow("IPv6 active") << true << true << false << false;
    QTest::newRow("TLS passive") << false << false << true << false;
    QTest::newRow("TLS required active") << false << true << true << true;
}

// A named user fetches and sends files byte for byte in every mode; the log
// records the session with the password hidden.
void TestFtpServers::pyftpdlibGetAndPut()
{
    QFETCH(bool, ipv6);
    QFETCH(bool, active);
    QFETCH(bool, tls);
    QFETCH(bool, required);

    if (tls && !PyftpdlibServer::tlsAvailable())
        QSKIP("python3-openssl is not installed (scripts/deps.sh test installs it)");
    PyftpdlibServer ftp;
    ftp.addUser(QStringLiteral("alice"), QStringLiteral("s3cret pass"));
    ftp.setIpv6(ipv6);
    ftp.setTls(tls, required);
    const QByteArray served = randomBytes(256 * 1024 + 1);
    QVERIFY(ftp.addFile(QStringLiteral("alice"), QStringLiteral("pub/served.bin"), served));
    SUITE_START_SERVER(ftp);
    QVERIFY(ftp.url().startsWith(ipv6 ? QStringLiteral("ftp://[::1]:") : QStringLiteral("ftp://127.0.0.1:")));

    QTemporaryDir local;
    const QString fetched = local.filePath(QStringLiteral("fetched.bin"));
    const QByteArray sent = randomBytes(100 * 1024);
    const QString toSend = local.filePath(QStringLiteral("sent.bin"));
    QVERIFY(writeAll(toSend, sent));
    const QString login = QStringLiteral("alice:s3cret pass");
    if (tls) {
        // curl 7.88 loses track of the replies on a TLS session with this
        // server ("Bad PASV/EPSV response: 200"); lftp does not.
        const ClientRun both = lftpGetAndPut(ftp.url(), QString(login).replace(QLatin1Char(':'), QLatin1Char(',')), active,
                                             ftp.caFile(), QStringLiteral("pub/served.bin"), fetched, toSend,
                                             QStringLiteral("in/sent.bin"));
        VERIFY_EXIT(both, CurlOk);
    } else {
        const QStringList mode = modeOptions(active, false, {}, ipv6 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1"),
                                             Direction::Get)
            + QStringList{QStringLiteral("--user"), login};
        const ClientRun get = curl(mode + QStringList{QStringLiteral("-o"), fetched, ftp.url(QStringLiteral("pub/served.bin"))});
        VERIFY_EXIT(get, CurlOk);
        const ClientRun put = curl(mode + QStringList{QStringLiteral("--ftp-create-dirs"), QStringLiteral("-T"), toSend,
                                                      ftp.url(QStringLiteral("in/sent.bin"))});
        VERIFY_EXIT(put, CurlOk);
    }
    QCOMPARE(readAll(fetched), served);
    QCOMPARE(readAll(QDir(ftp.homePath(QStringLiteral("alice"))).filePath(QStringLiteral("in/sent.bin"))), sent);

    const QByteArray log = ftp.log();
    QVERIFY2(log.contains("<- USER alice") && log.contains("<- PASS ******") && log.contains("<- RETR ")
                 && log.contains("<- STOR "),
             log.right(3000).constData());
    QVERIFY(!log.contains("s3cret"));
    QCOMPARE(log.contains("<- PORT ") || log.contains("<- EPRT "), active);
    QCOMPARE(log.contains("<- PROT P"), tls);
}

void TestFtpServers::pyftpdlibUsersAndListing_data()
{
    QTest::addColumn<QString>("credentials"); // curl --user; empty: anonymous
    QTest::addColumn<bool>("anonymous");      // anonymous logins accepted
    QTest::addColumn<QString>("upload");      // a file to send, empty: none
    QTest::addColumn<int>("exitCode");

    QTest::newRow("right password") << QStringLiteral("bob:pw-bob") << false << QString() << CurlOk;
    QTest::newRow("wrong password") << QStringLiteral("bob:pw-alice") << false << QString() << CurlLoginDenied;
    QTest::newRow("unknown user") << QStringLiteral("eve:pw-bob") << false << QString() << CurlLoginDenied;
    QTest::newRow("anonymous when offered") << QString() << true << QString() << CurlOk;
    QTest::newRow("anonymous when not offered") << QString() << false << QString() << CurlLoginDenied;
    QTest::newRow("user with write permission sends") << QStringLiteral("bob:pw-bob") << false
                                                      << QStringLiteral("new.txt") << CurlOk;
    QTest::newRow("read-only user cannot send") << QStringLiteral("reader:pw-reader") << false
                                                << QStringLiteral("new.txt") << CurlUploadFailed;
}

// Logins take the right password only, permissions hold, and MLSD lists a
// user's files with their facts and UTF-8 names.
void TestFtpServers::pyftpdlibUsersAndListing()
{
    QFETCH(QString, credentials);
    QFETCH(bool, anonymous);
    QFETCH(QString, upload);
    QFETCH(int, exitCode);

    PyftpdlibServer ftp;
    ftp.addUser(QStringLiteral("bob"), QStringLiteral("pw-bob"));
    ftp.addUser(QStringLiteral("reader"), QStringLiteral("pw-reader"), QStringLiteral("elr"));
    ftp.setAnonymous(anonymous);
    const QString listed = QStringLiteral("größe ünï.txt");
    const QString user = credentials.isEmpty() ? QStringLiteral("anonymous") : credentials.section(QLatin1Char(':'), 0, 0);
    if (user != QLatin1String("eve"))
        QVERIFY(ftp.addFile(user, listed, QByteArray(1234, 'x')));
    SUITE_START_SERVER(ftp);

    QStringList arguments;
    if (!credentials.isEmpty())
        arguments << QStringLiteral("--user") << credentials;
    QTemporaryDir local;
    if (upload.isEmpty()) {
        arguments << QStringLiteral("-X") << QStringLiteral("MLSD") << ftp.url();
    } else {
        const QString toSend = local.filePath(upload);
        QVERIFY(writeAll(toSend, "sent\n"));
        arguments << QStringLiteral("-T") << toSend << ftp.url(upload);
    }
    const ClientRun run = curl(arguments);
    VERIFY_EXIT(run, exitCode);
    if (exitCode != CurlOk)
        return;
    if (upload.isEmpty()) {
        QVERIFY2(run.output.contains("size=1234;") && run.output.contains("type=file;") && run.output.contains("; " + listed.toUtf8()),
                 run.output.constData());
    } else {
        QCOMPARE(readAll(QDir(ftp.homePath(user)).filePath(upload)), QByteArray("sent\n"));
    }
}

QTEST_GUILESS_MAIN(TestFtpServers)
#include "tst_ftpservers.moc"
