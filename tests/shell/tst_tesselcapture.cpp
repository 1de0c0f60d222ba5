// Browser capture in Tessel as a whole: messages on the receiver socket, URLs
// of a later start, the capture switch at start-up, and a link clicked in a
// real Chromium with Tessel's extension reaching the download list.
#include "realservers.h"
#include "scriptedprompts.h"

#include "config/cregister.h"
#include "download/downloadlist.h"
#include "intake/captureinstall.h"
#include "intake/capturereceiver.h"
#include "intake/ui/frmfile.h"
#include "intake/ui/frmurl.h"
#include "intake/ui/intake.h"
#include "platform/ui/shell.h"
#include "shell/tessel/frmmain.h"
#include "shell/tessel/tesselapp.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <unistd.h>

namespace {

struct QuietShell final : DesktopShell {
    bool openFile(const QString &) override { return true; }
    bool showFolder(const QString &) override { return true; }
    bool startProgram(const QString &, const QStringList &) override { return true; }
};

struct NoTray final : TrayHost {
    bool isAvailable() const override { return false; }
    void showIcon(const QIcon &, const QString &) override {}
    void hideIcon() override {}
    void showMessage(const QString &, const QString &) override {}
};

// One installation of Tessel in a scratch folder; its capture socket lives
// in <dir>/run/tessel, where the capture host looks when XDG_RUNTIME_DIR is
// <dir>/run.
struct Place {
    QTemporaryDir dir;
    QList<bool> captureSwitches;
    QString path(const QString &name) const { return dir.filePath(name); }
    QString runtime() const { return path(QStringLiteral("run")); }
    QString captureDir() const { return runtime() + QStringLiteral("/tessel"); }

    TesselApp::Options options(Prompts *prompts, DesktopShell *shell)
    {
        QDir().mkpath(path(QStringLiteral("program")));
        QDir().mkpath(runtime());
        TesselApp::Options o;
        o.programDir = path(QStringLiteral("program"));
        o.configDir = path(QStringLiteral("config"));
        o.instanceDir = runtime();
        o.captureDir = captureDir();
        o.browserCapture = [this](bool on) {
            captureSwitches.append(on);
            return true;
        };
        o.prompts = prompts;
        o.shell = shell;
        o.trayHost = std::make_unique<NoTray>();
        o.historyDelay = std::chrono::milliseconds(100);
        o.showSplash = false;
        return o;
    }
    void store(const QString &key, const QString &value)
    {
        Registry registry(path(QStringLiteral("config")));
        CRegister(registry).REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, key, value);
    }
};

// The processes whose command line holds text.
QList<pid_t> processesNaming(const QString &text)
{
    QList<pid_t> found;
    const QByteArray needle = text.toLocal8Bit();
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (number && pid != ::getpid() && cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(needle))
            found.append(pid);
    }
    return found;
}

QStringList rowOf(const DownloadListModel &list, int row)
{
    return list.values(list.idAt(row)).mid(0, 6);
}

} // namespace

class TestTesselCapture : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // What a browser writes to the socket lands in the download list as the
    // intake's captured path makes it.
    void deliveredMessagesReachTheDownloadList_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("row"); // empty: no row; "<save>" stands for the chosen path
        const QString page = QStringLiteral("http://127.0.0.1:9/page.html");
        const QString ignored = QStringLiteral("http://deb.debian.org/pool/a.zip");
        const QString zip = QStringLiteral("http://127.0.0.1:9/a.zip");
        QTest::newRow("unmonitored extension")
            << page << QStringList{"You block this Extenison", "0 %", "N/A", "N/A", "Not Downloaded", page};
        QTest::newRow("ignored server")
            << ignored << QStringList{"You block this server", "0 %", "N/A", "N/A", "Not Downloaded", ignored};
        QTest::newRow("monitored") << zip << QStringList{"<save>", "0%", "N/A", "N/A", "Not Downloaded", zip};
        QTest::newRow("MENU") << QStringLiteral("MENU ") + zip << QStringList{};
        QTest::newRow("not a URL") << QStringLiteral("file:///etc/passwd") << QStringList{};
    }
    void deliveredMessagesReachTheDownloadList()
    {
        QFETCH(QString, message);
        QFETCH(QStringList, row);
        Place place;
        ScriptedPrompts prompts;
        QuietShell shell;
        TesselApp tessel(place.options(&prompts, &shell));
        QVERIFY(tessel.start());
        const QString savePath = place.path(QStringLiteral("a.zip"));
        const bool asks = row.value(0) == QLatin1String("<save>");
        if (asks)
            prompts.expectFile(QStringLiteral("[Save file to?]"), savePath);
        int handled = 0;
        connect(&tessel.captureReceiver(), &CaptureReceiver::messageHandled, this, [&handled] { ++handled; });

        QVERIFY(CaptureReceiver::send(place.captureDir(), message.toUtf8()));
        QTRY_COMPARE_WITH_TIMEOUT(handled, 1, 5000);
        if (asks) {
            QVERIFY(tessel.intake().savePrompt());
            tessel.intake().savePrompt()->DownloadLater();
            row[0] = savePath;
        }
        VERIFY_PROMPTS_DONE(prompts);
        QCOMPARE(tessel.downloads().count(), row.isEmpty() ? 0 : 1);
        if (!row.isEmpty())
            QCOMPARE(rowOf(tessel.downloads(), 0), row);
        tessel.mainWindow().CloseNELV();
    }

    // "tessel URL" and "tessel --capture URL" while Tessel runs: the running
    // one takes the URL, typed or captured, and nobody is told of a second
    // instance.
    void aLaterStartHandsItsUrlsOver_data()
    {
        QTest::addColumn<bool>("captured");
        QTest::newRow("tessel URL") << false;
        QTest::newRow("tessel --capture URL") << true;
    }
    void aLaterStartHandsItsUrlsOver()
    {
        QFETCH(bool, captured);
        Place place;
        ScriptedPrompts prompts;
        QuietShell shell;
        TesselApp first(place.options(&prompts, &shell));
        QVERIFY(first.start());
        // A page is not a monitored type: refused on the captured path, asked
        // about (and cancelled here) on the typed one.
        const QString url = QStringLiteral("http://127.0.0.1:9/page.html");
        if (!captured)
            prompts.expectFile(QStringLiteral("[Save file to?]"), QString());

        ScriptedPrompts secondPrompts;
        TesselApp::Options o = place.options(&secondPrompts, &shell);
        (captured ? o.capturedUrls : o.urls) = QStringList{url};
        TesselApp second(std::move(o));
        QVERIFY(!second.start());
        QVERIFY(second.handedOver());
        QVERIFY(secondPrompts.records().isEmpty());

        if (captured) {
            QTRY_COMPARE_WITH_TIMEOUT(first.downloads().count(), 1, 5000);
            QCOMPARE(rowOf(first.downloads(), 0).value(0), QStringLiteral("You block this Extenison"));
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(prompts.pending(), 0, 5000);
            QCOMPARE(prompts.last().fileRequest.fileName, QStringLiteral("page.html"));
            QCOMPARE(first.downloads().count(), 0);
        }
        VERIFY_PROMPTS_DONE(prompts);
        first.mainWindow().CloseNELV();
    }

    // The stored browser-capture flag is applied at start-up: manifests
    // written while it is on, removed while it is off.
    void startUpAppliesTheCaptureFlag_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("on");
        QTest::newRow("nothing stored") << QString() << true;
        QTest::newRow("True") << "True" << true;
        QTest::newRow("False") << "False" << false;
        QTest::newRow("0") << "0" << false;
        QTest::newRow("1") << "1" << true;
    }
    void startUpAppliesTheCaptureFlag()
    {
        QFETCH(QString, stored);
        QFETCH(bool, on);
        Place place;
        if (!stored.isEmpty())
            place.store(QStringLiteral("ClickCapture"), stored);
        ScriptedPrompts prompts;
        QuietShell shell;
        TesselApp tessel(place.options(&prompts, &shell));
        QVERIFY(tessel.start());
        QCOMPARE(place.captureSwitches, QList<bool>{on});
        tessel.mainWindow().CloseNELV();
    }

    // A real Chromium, headless, with Tessel's extension loaded and the host
    // manifest in its profile: a page on a loopback nginx clicks a link to a
    // .zip; the extension takes the download from the browser, the host hands
    // it to this Tessel, and the file is downloaded into the chosen path.
    void aLinkClickedInChromiumIsDownloadedByTessel()
    {
        const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        if (chromium.isEmpty()) {
            if (realServersRequired())
                QFAIL("chromium is not installed (bash scripts/deps.sh test)");
            QSKIP("chromium is not installed (bash scripts/deps.sh test)");
        }
        Place place;
        QDir(place.dir.path()).mkpath(QStringLiteral("www"));
        QByteArray content(200000, Qt::Uninitialized);
        for (qsizetype i = 0; i < content.size(); ++i)
            content[i] = char(i * 7 + (i >> 8));
        {
            QFile zip(place.path(QStringLiteral("www/release.zip")));
            QVERIFY(zip.open(QIODevice::WriteOnly));
            zip.write(content);
            QFile page(place.path(QStringLiteral("www/index.html")));
            QVERIFY(page.open(QIODevice::WriteOnly));
            // The page clicks its own link once it has loaded.
            page.write("<html><body><a id=\"zip\" href=\"/release.zip\">release</a>\n"
                       "<script>addEventListener('load', () => setTimeout(() =>"
                       " document.getElementById('zip').click(), 1000));</script></body></html>\n");
        }
        NginxServer nginx(place.path(QStringLiteral("www")));
        SUITE_START_SERVER(nginx);

        ScriptedPrompts prompts;
        QuietShell shell;
        TesselApp tessel(place.options(&prompts, &shell));
        QVERIFY(tessel.start());
        const QString savePath = place.path(QStringLiteral("release.zip"));
        prompts.expectFile(QStringLiteral("[Save file to?]"), savePath);

        // The profile with the host's manifest, as Tessel writes it.
        const QString profile = place.path(QStringLiteral("profile"));
        QVERIFY(QDir().mkpath(profile));
        CaptureInstallPaths paths;
        paths.hostExecutable = qEnvironmentVariable("SUITE_BIN_DIR") + QStringLiteral("/tessel-capture-host");
        paths.chromiumFolder = profile + QStringLiteral("/NativeMessagingHosts");
        QVERIFY(IECapClicks(true, paths));

        QProcess browser;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), place.dir.path()); // anything the browser saves stays here
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), place.runtime());
        env.insert(QStringLiteral("SUITE_CONFIG_DIR"), place.path(QStringLiteral("config")));
        browser.setProcessEnvironment(env);
        browser.setProcessChannelMode(QProcess::MergedChannels);
        QStringList arguments{QStringLiteral("--headless=new"),
                              QStringLiteral("--user-data-dir=") + profile,
                              QStringLiteral("--load-extension=") + qEnvironmentVariable("SUITE_BIN_DIR")
                                  + QStringLiteral("/browser/chromium"),
                              QStringLiteral("--no-first-run"),
                              QStringLiteral("--disable-gpu"),
                              nginx.url(QStringLiteral("/index.html"))};
        if (::geteuid() == 0)
            arguments.prepend(QStringLiteral("--no-sandbox")); // Chromium's sandbox refuses root
        browser.start(chromium, arguments);
        QVERIFY2(browser.waitForStarted(10000), qPrintable(browser.errorString()));
        const QString scratch = place.dir.path();
        const auto stopBrowser = qScopeGuard([&browser, &scratch] {
            browser.terminate();
            if (!browser.waitForFinished(10000)) {
                browser.kill();
                browser.waitForFinished(5000);
            }
            // Its helper processes (they name the profile or, the crash
            // handlers, the home folder) follow it; any still there after a
            // while are ended by their ids.
            QDeadlineTimer deadline(5000);
            QList<pid_t> left;
            do {
                left = processesNaming(scratch);
                if (!left.isEmpty())
                    QTest::qWait(100);
            } while (!left.isEmpty() && !deadline.hasExpired());
            for (const pid_t pid : std::as_const(left))
                ::kill(pid, SIGKILL);
        });

        QTRY_VERIFY2_WITH_TIMEOUT(tessel.intake().savePrompt(),
                                  qPrintable(QStringLiteral("no URL reached Tessel; the browser said:\n")
                                             + QString::fromLocal8Bit(browser.readAll().right(3000))),
                                  30000);
        tessel.intake().savePrompt()->BeginDownload();
        QTRY_COMPARE_WITH_TIMEOUT(tessel.completed().count(), 1, 30000);
        VERIFY_PROMPTS_DONE(prompts);
        QCOMPARE(rowOf(tessel.completed(), 0).value(5), nginx.url(QStringLiteral("/release.zip")));
        QFile saved(savePath);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), content);
        // The browser gave the download up: nothing of it in its folder.
        QVERIFY(QDir(place.path(QStringLiteral("Downloads"))).entryList(QDir::Files).isEmpty());
        tessel.mainWindow().CloseNELV();
    }
};

QTEST_MAIN(TestTesselCapture)
#include "tst_tesselcapture.moc"
