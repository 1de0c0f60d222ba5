// Browser capture below the windows: the receiver socket and its private
// directory, the browsers' host manifests, and the native-messaging host
// driven over its standard input with the browsers' exact framing.
#include "config/cregister.h"
#include "intake/capturehost.h"
#include "intake/captureinstall.h"
#include "intake/capturereceiver.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

using Kind = CapturedText::Kind;
Q_DECLARE_METATYPE(CapturedText::Kind)

namespace {

constexpr uid_t Nobody = 65534;

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A receiver in a scratch directory that records what it hands on and logs.
struct Receiver {
    QTemporaryDir dir;
    QStringList urls;
    QStringList log;
    QList<Kind> handled;
    std::unique_ptr<CaptureReceiver> receiver;
    explicit Receiver(const QString &subdir = QStringLiteral("tessel"))
    {
        CaptureReceiver::Options o;
        o.directory = dir.filePath(subdir);
        o.errorLog = [this](const QString &line) { log.append(line); };
        receiver = std::make_unique<CaptureReceiver>(o);
        QObject::connect(receiver.get(), &CaptureReceiver::urlReceived, [this](const QString &u) { urls.append(u); });
        QObject::connect(receiver.get(), &CaptureReceiver::messageHandled, [this](Kind k) { handled.append(k); });
    }
    QString socketDir() const { return QFileInfo(receiver->socketPath()).absolutePath(); }
};

// One exchange with a native-messaging host process.
QJsonObject exchange(QProcess &host, const QJsonObject &request)
{
    host.write(nativemessaging::frame(QJsonDocument(request).toJson(QJsonDocument::Compact)));
    QByteArray buffer;
    std::optional<QByteArray> payload;
    while (!(payload = nativemessaging::takeFrame(buffer))) {
        if (!host.waitForReadyRead(10000))
            return {};
        buffer += host.readAllStandardOutput();
    }
    return QJsonDocument::fromJson(*payload).object();
}

QString hostProgram()
{
    return qEnvironmentVariable("SUITE_BIN_DIR") + QStringLiteral("/tessel-capture-host");
}

} // namespace

class TestCapture : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void receiverTakesOneUrlPerMessage_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("logLines");
        const QByteArray longest = "http://h/" + QByteArray(CaptureMessageLimit - 13, 'a') + ".zip";
        QTest::newRow("http") << QByteArray("http://h/a.zip") << Kind::Url << "http://h/a.zip" << 0;
        QTest::newRow("https, newline") << QByteArray(" https://h/a.zip\r\n") << Kind::Url << "https://h/a.zip" << 0;
        QTest::newRow("ftp in capitals") << QByteArray("FTP://h/a.zip") << Kind::Url << "FTP://h/a.zip" << 0;
        QTest::newRow("ftps") << QByteArray("ftps://u@h/a.zip") << Kind::Url << "ftps://u@h/a.zip" << 0;
        QTest::newRow("8 KiB") << longest << Kind::Url << QString::fromLatin1(longest) << 0;
        QTest::newRow("MENU") << QByteArray("MENU http://h/a.zip") << Kind::Reserved << "" << 0;
        QTest::newRow("MENU alone") << QByteArray("MENUxyz") << Kind::Reserved << "" << 0;
        QTest::newRow("empty") << QByteArray(" \n") << Kind::Empty << "" << 0;
        QTest::newRow("one byte over") << longest + "x" << Kind::TooLong << "" << 1;
        QTest::newRow("far over") << QByteArray(40000, 'h') << Kind::TooLong << "" << 1;
        QTest::newRow("menu lower case") << QByteArray("menu") << Kind::NotAUrl << "" << 1;
        QTest::newRow("file") << QByteArray("file:///etc/passwd") << Kind::NotAUrl << "" << 1;
        QTest::newRow("javascript") << QByteArray("javascript:alert(1)") << Kind::NotAUrl << "" << 1;
        QTest::newRow("two urls") << QByteArray("http://h/a.zip\nhttp://h/b.zip") << Kind::NotAUrl << "" << 1;
        QTest::newRow("not UTF-8") << QByteArray("http://h/\xff\xfe.zip") << Kind::NotAUrl << "" << 1;
    }
    void receiverTakesOneUrlPerMessage()
    {
        QFETCH(QByteArray, message);
        QFETCH(Kind, kind);
        QFETCH(QString, url);
        QFETCH(int, logLines);
        Receiver r;
        QVERIFY2(r.receiver->listen(), qPrintable(r.receiver->errorString()));
        QVERIFY(CaptureReceiver::send(r.socketDir(), message));
        QTRY_COMPARE_WITH_TIMEOUT(r.handled.size(), 1, 5000);
        QCOMPARE(r.handled.at(0), kind);
        QCOMPARE(r.urls, url.isEmpty() ? QStringList{} : QStringList{url});
        QCOMPARE(r.log.size(), logLines);
        // A dropped message is logged without its text (it may hold a password).
        for (const QString &line : std::as_const(r.log))
            QVERIFY(!line.toUtf8().contains(message.trimmed()));
    }

    // A URL that arrives while the previous one is still being handled (a
    // prompt's nested event loop) waits for it: deliveries never nest.
    void deliveriesNeverNest()
    {
        Receiver r;
        QVERIFY(r.receiver->listen());
        QStringList events;
        connect(r.receiver.get(), &CaptureReceiver::urlReceived, this, [&](const QString &url) {
            events.append(QStringLiteral("begin ") + url);
            if (url.endsWith(QLatin1String("a.zip"))) {
                // As a modal prompt would: events run while this delivery is open.
                const qsizetype before = r.handled.size();
                QVERIFY(CaptureReceiver::send(r.socketDir(), "http://h/b.zip"));
                QDeadlineTimer deadline(5000);
                while (r.handled.size() == before && !deadline.hasExpired())
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            }
            events.append(QStringLiteral("end ") + url);
        });
        QVERIFY(CaptureReceiver::send(r.socketDir(), "http://h/a.zip"));
        QTRY_COMPARE_WITH_TIMEOUT(r.urls.size(), 2, 5000);
        QCOMPARE(events, (QStringList{"begin http://h/a.zip", "end http://h/a.zip", "begin http://h/b.zip",
                                      "end http://h/b.zip"}));
    }

    void aClientThatNeverFinishesIsCutOff()
    {
        QTemporaryDir dir;
        CaptureReceiver::Options o;
        o.directory = dir.filePath(QStringLiteral("slow"));
        o.messageTimeout = std::chrono::milliseconds(50);
        CaptureReceiver receiver(o);
        QList<Kind> handled;
        connect(&receiver, &CaptureReceiver::messageHandled, this, [&handled](Kind k) { handled.append(k); });
        QVERIFY(receiver.listen());
        QLocalSocket client;
        client.connectToServer(receiver.socketPath());
        QVERIFY(client.waitForConnected(2000));
        client.write("http://h/a.zip");
        QTRY_COMPARE_WITH_TIMEOUT(handled, QList<Kind>{Kind::Unfinished}, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QLocalSocket::UnconnectedState, 5000);
    }

    void theSocketDirectoryIsPrivate_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("missing") << "missing" << true;
        QTest::newRow("ours, open to all") << "ours 0755" << true;
        QTest::newRow("someone else's") << "foreign" << false;
        QTest::newRow("a link to ours") << "symlink" << false;
        QTest::newRow("a file") << "file" << false;
    }
    void theSocketDirectoryIsPrivate()
    {
        QFETCH(QString, setup);
        QFETCH(bool, accepted);
        QTemporaryDir base;
        QString dir = base.filePath(QStringLiteral("tessel"));
        const QByteArray path = QFile::encodeName(dir);
        if (setup == QLatin1String("ours 0755")) {
            QCOMPARE(::mkdir(path.constData(), 0755), 0);
        } else if (setup == QLatin1String("foreign")) {
            if (::geteuid() == 0) {
                QCOMPARE(::mkdir(path.constData(), 0700), 0);
                QCOMPARE(::chown(path.constData(), Nobody, Nobody), 0);
            } else {
                dir = QStringLiteral("/"); // root's
            }
        } else if (setup == QLatin1String("symlink")) {
            QVERIFY(QDir().mkdir(base.filePath(QStringLiteral("real"))));
            QVERIFY(QFile::link(base.filePath(QStringLiteral("real")), dir));
        } else if (setup == QLatin1String("file")) {
            QFile f(dir);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QStringList log;
        CaptureReceiver::Options o;
        o.directory = dir;
        o.errorLog = [&log](const QString &line) { log.append(line); };
        CaptureReceiver receiver(o);
        QCOMPARE(receiver.listen(), accepted);
        QCOMPARE(log.size(), accepted ? 0 : 1);
        if (!accepted)
            return;
        struct stat info {};
        QCOMPARE(::lstat(path.constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0700));
        QCOMPARE(info.st_uid, ::geteuid());
        QVERIFY(CaptureReceiver::send(dir, "http://h/a.zip"));
    }

    // Another user cannot even reach the socket: the directory shuts them
    // out. Should the directory and socket be opened up (by mistake or by
    // hand), the receiver still refuses a peer that is not this user.
    void anotherUserCannotConnect()
    {
        if (::geteuid() != 0)
            QSKIP("acting as another user needs root");
        Receiver r;
        QVERIFY(r.receiver->listen());
        // Everything up to the socket's own directory is open to all.
        QCOMPARE(::chmod(QFile::encodeName(r.dir.path()).constData(), 0755), 0);
        // The test program again, as nobody: exit code 0 means it connected
        // and wrote a URL, 2 that it could not connect.
        const auto sendAsNobody = [&r] {
            return QProcess::execute(QCoreApplication::applicationFilePath(),
                                     {QStringLiteral("--send-as-nobody"), r.receiver->socketPath()});
        };
        QCOMPARE(sendAsNobody(), 2);

        QCOMPARE(::chmod(QFile::encodeName(r.socketDir()).constData(), 0777), 0);
        QCOMPARE(::chmod(QFile::encodeName(r.receiver->socketPath()).constData(), 0777), 0);
        QCOMPARE(sendAsNobody(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(r.log.size(), 1, 5000);
        QVERIFY2(r.log.at(0).contains(QLatin1String("refused a connection from user 65534")), qPrintable(r.log.at(0)));
        QVERIFY(r.urls.isEmpty());
    }

    void captureOnWritesTheManifestsOffRemovesThem()
    {
        QTemporaryDir home;
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral(".mozilla")));
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral(".config/chromium")));
        const CaptureInstallPaths paths = CaptureInstallPaths::forUser(hostProgram(), home.path());
        const QString firefox = paths.firefoxFolder + QStringLiteral("/org.tessel.capture.json");
        const QString chromium = paths.chromiumFolder + QStringLiteral("/org.tessel.capture.json");
        QVERIFY(IECapClicks(true, paths));
        QCOMPARE(readFile(firefox), FirefoxHostManifest(paths.hostExecutable));
        QCOMPARE(readFile(chromium), ChromiumHostManifest(paths.hostExecutable));
        // No Chrome on this account: no folder made for it.
        QVERIFY(!QFileInfo::exists(home.filePath(QStringLiteral(".config/google-chrome"))));
        QFile other(paths.chromiumFolder + QStringLiteral("/other.json"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();

        QVERIFY(IECapClicks(false, paths));
        QVERIFY(!QFileInfo::exists(firefox));
        QVERIFY(!QFileInfo::exists(chromium));
        QVERIFY(other.exists());
        QVERIFY(IECapClicks(false, paths)); // nothing left to remove is fine
        QVERIFY(IECapClicks(true, paths));  // and on again
        QVERIFY(QFileInfo::exists(chromium));

        // A manifest naming no usable host would only break capture.
        QVERIFY(IECapClicks(false, paths));
        for (const QString &bad : {QStringLiteral("tessel-capture-host"), home.filePath(QStringLiteral("missing")),
                                   home.filePath(QStringLiteral(".mozilla"))}) {
            CaptureInstallPaths wrong = paths;
            wrong.hostExecutable = bad;
            QVERIFY(!IECapClicks(true, wrong));
            QVERIFY(!QFileInfo::exists(chromium));
        }
    }

    // The manifests Tessel writes, the ones shipped for packagers and the
    // extensions' own ids agree, or the browsers would refuse to connect.
    void manifestsAgreeWithTheShippedFilesAndExtensions()
    {
        const QString browser = qEnvironmentVariable("SUITE_SOURCE_DIR") + QStringLiteral("/resources/browser/");
        const QString host = QStringLiteral("/usr/bin/tessel-capture-host");
        const auto shipped = [&](const QString &name) {
            QByteArray text = readFile(browser + QStringLiteral("hosts/") + name);
            text.replace("@TESSEL_CAPTURE_HOST@", host.toUtf8());
            return QJsonDocument::fromJson(text);
        };
        QVERIFY(!shipped(QStringLiteral("chromium.json.in")).isNull());
        QCOMPARE(QJsonDocument::fromJson(ChromiumHostManifest(host)), shipped(QStringLiteral("chromium.json.in")));
        QCOMPARE(QJsonDocument::fromJson(FirefoxHostManifest(host)), shipped(QStringLiteral("firefox.json.in")));

        // Chromium derives an unpacked extension's id from its key: the
        // first 16 bytes of the key's SHA-256, each hex digit as 'a' + digit.
        const QJsonObject chromium =
            QJsonDocument::fromJson(readFile(browser + QStringLiteral("chromium/manifest.json"))).object();
        const QByteArray key = QByteArray::fromBase64(chromium.value(QStringLiteral("key")).toString().toLatin1());
        QByteArray id = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32);
        for (char &c : id)
            c = char('a' + QByteArray(1, c).toInt(nullptr, 16));
        QCOMPARE(id, QByteArray(CaptureChromiumExtensionId));
        const QJsonObject firefox =
            QJsonDocument::fromJson(readFile(browser + QStringLiteral("firefox/manifest.json"))).object();
        const QJsonValue gecko = firefox.value(QStringLiteral("browser_specific_settings"))[QStringLiteral("gecko")];
        QCOMPARE(gecko[QStringLiteral("id")].toString(), QString::fromLatin1(CaptureFirefoxExtensionId));
    }

    // The host as the browser runs it: framed requests on its standard input.
    void theHostAnswersTheBrowsersFramedRequests()
    {
        Receiver r;
        QVERIFY(r.receiver->listen());
        QTemporaryDir config;
        {
            Registry registry(config.path());
            CRegister reg(registry);
            reg.REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QStringLiteral("MonitorTypes"),
                               QStringLiteral(".zip; .R0?"));
            reg.REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QStringLiteral("MonitorServer"),
                               QStringLiteral("*.ignored.test ; exact.test"));
        }
        QProcess host;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SUITE_CONFIG_DIR"), config.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), r.dir.path());
        host.setProcessEnvironment(env);
        host.start(hostProgram(), {QStringLiteral("chrome-extension://x/")});
        QVERIFY(host.waitForStarted());

        struct Case { const char *url; bool take; };
        for (const Case c : {Case{"http://a.test/f.zip", true}, Case{"http://a.test/f.r01", true},
                             Case{"http://a.test/page.html", false}, Case{"http://dl.ignored.test/f.zip", false},
                             Case{"http://EXACT.test/f.zip", false}, Case{"file:///f.zip", false}}) {
            const QJsonObject answer = exchange(host, {{"type", "lists"}, {"url", c.url}});
            QCOMPARE(answer.value(QStringLiteral("monitorTypes")).toString(), QStringLiteral(".zip; .R0?"));
            QVERIFY2(answer.value(QStringLiteral("take")).toBool() == c.take, c.url);
        }
        QCOMPARE(exchange(host, {{"type", "url"}, {"url", "http://a.test/f.zip"}}),
                 (QJsonObject{{"type", "url"}, {"delivered", true}, {"started", false}}));
        QTRY_COMPARE_WITH_TIMEOUT(r.urls, QStringList{QStringLiteral("http://a.test/f.zip")}, 5000);
        QCOMPARE(exchange(host, {{"type", "url"}, {"url", "javascript:x"}}).value(QStringLiteral("type")),
                 QJsonValue(QStringLiteral("error")));
        QCOMPARE(exchange(host, {{"type", "dance"}}).value(QStringLiteral("type")),
                 QJsonValue(QStringLiteral("error")));
        host.closeWriteChannel();
        QVERIFY(host.waitForFinished(10000));
        QCOMPARE(host.exitCode(), 0);

        // A frame announcing more than the host takes ends it.
        QProcess greedy;
        greedy.setProcessEnvironment(env);
        greedy.start(hostProgram());
        QVERIFY(greedy.waitForStarted());
        const quint32 huge = 512 * 1024 * 1024;
        greedy.write(QByteArray(reinterpret_cast<const char *>(&huge), sizeof huge));
        QVERIFY(greedy.waitForFinished(10000));
        QCOMPARE(greedy.exitCode(), 1);
    }

    // Browser capture switched off: the host wants no download, whatever the
    // lists say; a URL nobody takes is reported as such.
    void theHostFollowsTheCaptureSwitch()
    {
        QStringList started;
        CaptureHost::Services services;
        services.setting = [](const QString &key, const QString &defaultValue) {
            return key == QLatin1String("ClickCapture") ? QStringLiteral("False") : defaultValue;
        };
        services.deliver = [](const QString &) { return false; };
        services.startTessel = [&started](const QString &url) {
            started.append(url);
            return false;
        };
        const CaptureHost host(services);
        const QJsonObject lists = host.answer({{"type", "lists"}, {"url", "http://h/a.zip"}});
        QCOMPARE(lists.value(QStringLiteral("capture")), QJsonValue(false));
        QCOMPARE(lists.value(QStringLiteral("take")), QJsonValue(false));
        QCOMPARE(host.answer({{"type", "url"}, {"url", "http://h/a.zip"}}),
                 (QJsonObject{{"type", "url"}, {"delivered", false}, {"started", false}}));
        QCOMPARE(started, QStringList{QStringLiteral("http://h/a.zip")});
    }

    // With no Tessel running the host starts it with the URL; the started
    // Tessel then takes the next URL through its receiver.
    void theHostStartsTesselWhenNoneRuns()
    {
        QTemporaryDir scratch;
        QDir(scratch.path()).mkpath(QStringLiteral("program"));
        QVERIFY(QFile::setPermissions(scratch.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), scratch.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), scratch.filePath(QStringLiteral("xdg")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), scratch.path());
        env.insert(QStringLiteral("SUITE_CONFIG_DIR"), scratch.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("SUITE_PROGRAM_DIR"), scratch.filePath(QStringLiteral("program")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const auto runHost = [&env](const char *url) {
            QProcess host;
            host.setProcessEnvironment(env);
            host.start(hostProgram());
            if (!host.waitForStarted())
                return QJsonObject{};
            const QJsonObject answer = exchange(host, {{"type", "url"}, {"url", url}});
            host.closeWriteChannel();
            host.waitForFinished(10000);
            return answer;
        };
        QCOMPARE(runHost("http://127.0.0.1:9/first.zip"),
                 (QJsonObject{{"type", "url"}, {"delivered", false}, {"started", true}}));

        // The started Tessel holds the instance lock, which names its process.
        QLockFile lock(scratch.filePath(QStringLiteral("tessel.instance.lock")));
        qint64 pid = 0;
        QString hostName, appName;
        QTRY_VERIFY_WITH_TIMEOUT(lock.getLockInfo(&pid, &hostName, &appName) && pid > 0, 20000);
        const auto stopTessel = qScopeGuard([pid] { ::kill(pid_t(pid), SIGKILL); });
        const QList<QByteArray> arguments = readFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).split('\0');
        QVERIFY(arguments.contains("--capture"));
        QVERIFY(arguments.contains("http://127.0.0.1:9/first.zip"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(scratch.filePath(QStringLiteral("tessel/CorvaneRecieveMessage"))),
                                 20000);
        QCOMPARE(runHost("http://127.0.0.1:9/second.zip"),
                 (QJsonObject{{"type", "url"}, {"delivered", true}, {"started", false}}));
    }
};

int main(int argc, char **argv)
{
    // Child mode: send a URL as user nobody; 0 sent, 2 could not connect.
    if (argc == 3 && std::strcmp(argv[1], "--send-as-nobody") == 0) {
        if (::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)
            return 3;
        QCoreApplication app(argc, argv);
        QLocalSocket socket;
        socket.connectToServer(QString::fromLocal8Bit(argv[2]));
        if (!socket.waitForConnected(2000))
            return 2;
        socket.write("http://h/a.zip");
        socket.waitForBytesWritten(2000);
        socket.disconnectFromServer();
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestCapture test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_capture.moc"
