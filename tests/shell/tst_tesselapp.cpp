// Tessel as a whole: the real composition of the program over a scratch
// program directory and settings store.
#include "httpfileserver.h"
#include "realservers.h"
#include "scriptedprompts.h"

#include "config/cregister.h"
#include "config/ui/frmsettings.h"
#include "download/downloadlist.h"
#include "download/ui/downloadwindows.h"
#include "download/ui/frmdownload.h"
#include "intake/ui/frmexist.h"
#include "intake/ui/frmfile.h"
#include "intake/ui/frmurl.h"
#include "intake/ui/intake.h"
#include "platform/ui/shell.h"
#include "queue/downloadmanager.h"
#include "queue/historystore.h"
#include "queue/scheduler.h"
#include "queue/ui/frmschedule.h"
#include "queue/ui/downloadlistview.h"
#include "queue/ui/queuecommands.h"
#include "shell/tessel/frmmain.h"
#include "shell/tessel/tesselapp.h"
#include "config/cregister.h"
#include "platform/registrystore.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <signal.h>

namespace {

struct QuietShell final : DesktopShell {
    QStringList started;
    bool openFile(const QString &) override { return true; }
    bool showFolder(const QString &) override { return true; }
    bool startProgram(const QString &p, const QStringList &) override { started.append(p); return true; }
};

struct NoTray final : TrayHost {
    bool isAvailable() const override { return false; }
    void showIcon(const QIcon &, const QString &) override {}
    void hideIcon() override {}
    void showMessage(const QString &, const QString &) override {}
};

// A notification area that is there and records the balloons shown.
struct RecordingTray final : TrayHost {
    QStringList *balloons;
    explicit RecordingTray(QStringList *out) : balloons(out) {}
    bool isAvailable() const override { return true; }
    void showIcon(const QIcon &, const QString &) override {}
    void hideIcon() override {}
    void showMessage(const QString &title, const QString &text) override { balloons->append(title + ": " + text); }
};

// The directories one installation of Tessel uses.
struct Installation {
    QTemporaryDir dir;
    // Browser capture switched on and off; the user's browser folders stay untouched.
    std::shared_ptr<QList<bool>> captureCalls = std::make_shared<QList<bool>>();
    QString program() const { return dir.filePath(QStringLiteral("program")); }
    QString config() const { return dir.filePath(QStringLiteral("config")); }
    QString instance() const { return dir.filePath(QStringLiteral("run")); }

    std::unique_ptr<TesselApp> make(Prompts *prompts, DesktopShell *shell) const
    {
        QDir().mkpath(program());
        TesselApp::Options o;
        o.programDir = program();
        o.configDir = config();
        o.instanceDir = instance();
        // Browser capture in the scratch place, never in the real browsers' folders.
        o.captureDir = o.instanceDir + QStringLiteral("/capture");
        o.browserCapture = [calls = captureCalls](bool on) {
            calls->append(on);
            return true;
        };
        o.prompts = prompts;
        o.shell = shell;
        o.trayHost = std::make_unique<NoTray>();
        o.historyDelay = std::chrono::milliseconds(100);
        o.showSplash = false;
        return std::make_unique<TesselApp>(std::move(o));
    }
};

QByteArray sha256(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Child mode: start Tessel, queue one URL, say so and wait to be killed.
int runChildAdd(const QString &base)
{
    int argc = 1;
    char name[] = "child";
    char *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ScriptedPrompts prompts;
    QuietShell shell;
    Installation place;
    TesselApp::Options o;
    o.programDir = base + QStringLiteral("/program");
    o.configDir = base + QStringLiteral("/config");
    o.instanceDir = base + QStringLiteral("/run");
    // Browser capture in the scratch place, never in the real browsers' folders.
    o.captureDir = o.instanceDir + QStringLiteral("/capture");
    o.browserCapture = [](bool) { return true; };
    o.prompts = &prompts;
    o.shell = &shell;
    o.trayHost = std::make_unique<NoTray>();
    o.showSplash = false; // the history delay stays the program's own
    QDir().mkpath(o.programDir);
    TesselApp tessel(std::move(o));
    if (!tessel.start())
        return 3;
    tessel.intake().QueueDownload(QStringLiteral("http://127.0.0.1:9/kept.zip"), base + QStringLiteral("/kept.zip"));
    // Well inside the two seconds a progress change may wait.
    QTimer::singleShot(100, [] {
        fputs("added\n", stdout);
        fflush(stdout);
    });
    QTimer::singleShot(60000, &app, &QApplication::quit); // bounded
    return app.exec();
}

} // namespace

class TestTesselApp : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void typedUrlDownloadsFromNginxAndTheListsSurviveARestart()
    {
        QTemporaryDir www;
        QByteArray content(3 * 1024 * 1024 + 5, Qt::Uninitialized);
        for (qsizetype i = 0; i < content.size(); ++i)
            content[i] = char((i * 131) ^ (i >> 9));
        {
            QFile f(www.filePath(QStringLiteral("release.tar.gz")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        NginxServer nginx(www.path());
        SUITE_START_SERVER(nginx);

        Installation place;
        const QString savePath = place.dir.filePath(QStringLiteral("release.tar.gz"));
        const QString url = nginx.url(QStringLiteral("/release.tar.gz"));
        {
            ScriptedPrompts prompts;
            QuietShell shell;
            auto tessel = place.make(&prompts, &shell);
            QVERIFY(tessel->start());
            QVERIFY(tessel->mainWindow().isVisible());

            // The URL typed into the new-URL dialog; the first URL asks where to save.
            prompts.expectFile(QStringLiteral("[Save file to?]"), savePath);
            tessel->intake().ShowURLDialog();
            QVERIFY(tessel->intake().urlDialog());
            tessel->intake().urlDialog()->setUrl(url);
            tessel->intake().urlDialog()->cmdOk->click();
            QVERIFY(tessel->intake().savePrompt());
            tessel->intake().savePrompt()->BeginDownload();

            QTRY_COMPARE_WITH_TIMEOUT(tessel->completed().count(), 1, 30000);
            VERIFY_PROMPTS_DONE(prompts);
            QCOMPARE(tessel->downloads().count(), 0);
            QCOMPARE(sha256(readAll(savePath)), sha256(content));
            const auto row = tessel->completed().idAt(0);
            QCOMPARE(tessel->completed().value(row, DownloadListModel::Url), url);
            QCOMPARE(tessel->completed().icon(row), 4);

            // A second, queued row to see both lists come back.
            tessel->intake().QueueDownload(QStringLiteral("http://127.0.0.1:9/later.zip"), place.dir.filePath(QStringLiteral("later.zip")));
            tessel->mainWindow().CloseNELV();
        }
        ScriptedPrompts prompts;
        QuietShell shell;
        auto again = place.make(&prompts, &shell);
        QVERIFY(again->start());
        QCOMPARE(again->completed().count(), 1);
        QCOMPARE(again->completed().value(again->completed().idAt(0), DownloadListModel::Url), url);
        QCOMPARE(again->downloads().count(), 1);
        QCOMPARE(again->downloads().value(again->downloads().idAt(0), DownloadListModel::Status),
                 QStringLiteral("Not Downloaded"));
        again->mainWindow().CloseNELV();
    }

    void aKillRightAfterAddingLosesNothing()
    {
        Installation place;
        QDir().mkpath(place.program());
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child-add"), place.dir.path()});
        QVERIFY(child.waitForReadyRead(30000));
        QCOMPARE(child.readLine().trimmed(), QByteArray("added"));
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(10000));

        ScriptedPrompts prompts;
        QuietShell shell;
        auto tessel = place.make(&prompts, &shell);
        QVERIFY(tessel->start()); // the killed instance's lock is stale
        QCOMPARE(tessel->downloads().count(), 1);
        QCOMPARE(tessel->downloads().value(tessel->downloads().idAt(0), DownloadListModel::Url),
                 QStringLiteral("http://127.0.0.1:9/kept.zip"));
        tessel->mainWindow().CloseNELV();
    }

    // A row written while it was downloading (a crash before the row was
    // stopped) starts as a stopped download, not as running at 0 KB/s.
    void anInterruptedRowStartsStopped()
    {
        Installation place;
        ScriptedPrompts prompts;
        QuietShell shell;
        {
            auto tessel = place.make(&prompts, &shell);
            QVERIFY(tessel->start());
            const auto row = tessel->intake().QueueDownload(QStringLiteral("http://127.0.0.1:9/cut.iso"),
                                                            place.dir.filePath(QStringLiteral("cut.iso")));
            tessel->downloads().setValue(row, DownloadListModel::Received, QStringLiteral("12 MB"));
            tessel->downloads().setValue(row, DownloadListModel::Status, QStringLiteral("Downloading..."));
            tessel->mainWindow().CloseNELV();
        }
        auto tessel = place.make(&prompts, &shell);
        QVERIFY(tessel->start());
        QCOMPARE(tessel->downloads().count(), 1);
        const auto row = tessel->downloads().idAt(0);
        QCOMPARE(tessel->downloads().value(row, DownloadListModel::Status), QStringLiteral("Paused/Stopped"));
        QCOMPARE(tessel->downloads().value(row, DownloadListModel::Received), QStringLiteral("12 MB"));
        const DownloadId id = tessel->manager().idOfRow(row);
        QVERIFY(id);
        QCOMPARE(tessel->manager().state(id), DownloadState::Stopped);
        VERIFY_PROMPTS_DONE(prompts);
        tessel->mainWindow().CloseNELV();
    }

    // A download that completes or fails is announced in the tray's balloon.
    void finishedDownloadsAreAnnounced()
    {
        HttpFileServer http(20000);
        http.override = [](const QByteArray &request, FakePlan &plan) {
            if (!request.contains("/gone.bin"))
                return false;
            plan.send(FakeServer::httpHead("HTTP/1.1 404 Not Found", {"Content-Length: 0"})).close();
            return true;
        };
        Installation place;
        ScriptedPrompts prompts;
        QuietShell shell;
        QStringList balloons;
        QDir().mkpath(place.program());
        TesselApp::Options o;
        o.programDir = place.program();
        o.configDir = place.config();
        o.instanceDir = place.instance();
        // Browser capture in the scratch place, never in the real browsers' folders.
        o.captureDir = o.instanceDir + QStringLiteral("/capture");
        o.browserCapture = [](bool) { return true; };
        o.prompts = &prompts;
        o.shell = &shell;
        o.trayHost = std::make_unique<RecordingTray>(&balloons);
        o.showSplash = false;
        TesselApp tessel(std::move(o));
        QVERIFY(tessel.start());
        QVERIFY(tessel.intake().BeginDownload(http.url(QStringLiteral("/files/report.pdf")),
                                              place.dir.filePath(QStringLiteral("report.pdf")), -1));
        QTRY_COMPARE_WITH_TIMEOUT(balloons.size(), 1, 10000);
        QCOMPARE(balloons.at(0), QStringLiteral("Tessel: Download complete: report.pdf"));
        tessel.intake().BeginDownload(http.url(QStringLiteral("/gone.bin")), place.dir.filePath(QStringLiteral("gone.bin")),
                                      -1);
        QTRY_COMPARE_WITH_TIMEOUT(balloons.size(), 2, 10000);
        QVERIFY2(balloons.at(1).startsWith(QLatin1String("Tessel: Download failed: gone.bin - ")), qPrintable(balloons.at(1)));
        QVERIFY2(balloons.at(1).contains(QLatin1String("404")), qPrintable(balloons.at(1)));
        VERIFY_PROMPTS_DONE(prompts);
        tessel.mainWindow().CloseNELV();
    }

    void aSecondInstanceIsRefused()
    {
        Installation place;
        ScriptedPrompts prompts;
        QuietShell shell;
        auto first = place.make(&prompts, &shell);
        QVERIFY(first->start());
        ScriptedPrompts secondPrompts;
        secondPrompts.expectMessage(QStringLiteral("There is running instance"));
        auto second = place.make(&secondPrompts, &shell);
        QVERIFY(!second->start());
        QVERIFY(!second->handedOver());
        VERIFY_PROMPTS_DONE(secondPrompts);
        QCOMPARE(secondPrompts.last().icon, PromptIcon::Error);
        first->mainWindow().CloseNELV();
    }

    // The Settings command opens the dialog over the program's own model:
    // what OK saves is in the store and is what the intake filters with.
    void settingsCommandEditsTheProgramsSettings()
    {
        Installation place;
        ScriptedPrompts prompts;
        QuietShell shell;
        auto tessel = place.make(&prompts, &shell);
        QVERIFY(tessel->start());
        // Clipboard monitoring is on: the new-URL dialog takes a copied URL.
        const QString copied = QStringLiteral("http://127.0.0.1:9/copied.zip");
        QGuiApplication::clipboard()->setText(copied);
        tessel->intake().ShowURLDialog();
        QCOMPARE(tessel->intake().urlDialog()->url(), copied);
        tessel->intake().urlDialog()->reject();
        bool shown = false;
        QTimer::singleShot(0, this, [&shown] {
            auto *dialog = qobject_cast<frmSettings *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            shown = true;
            dialog->txtMonitorTypes->setPlainText(QStringLiteral(".iso;"));
            dialog->chkClipboard->click();
            dialog->chkClickCapture->click(); // on by default: switched off
            dialog->cmdOK->click();
        });
        tessel->mainWindow().runCommand(QStringLiteral("IDC_FS_Settings"));
        QVERIFY(shown);

        Registry registry(place.config());
        CRegister reg(registry);
        const auto stored = [&reg](const char *key) {
            return reg.REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QLatin1String(key), "<missing>");
        };
        QCOMPARE(stored("MonitorTypes"), QStringLiteral(".iso;"));
        QCOMPARE(stored("ClipboardMonitoring"), QStringLiteral("0"));
        QCOMPARE(stored("ClickCapture"), QStringLiteral("0"));
        QCOMPARE(place.captureCalls->last(), false);
        // Switched off: the next new-URL dialog leaves the copied URL alone.
        tessel->intake().ShowURLDialog();
        QCOMPARE(tessel->intake().urlDialog()->url(), QString());
        tessel->intake().urlDialog()->reject();
        // A captured URL of a type no longer monitored becomes a refused row.
        tessel->intake().CaptureURL(QStringLiteral("http://127.0.0.1:9/a.zip"));
        QCOMPARE(tessel->downloads().count(), 1);
        QCOMPARE(tessel->downloads().value(tessel->downloads().idAt(0), DownloadListModel::SavePath),
                 QStringLiteral("You block this Extenison"));
        VERIFY_PROMPTS_DONE(prompts);
        tessel->mainWindow().CloseNELV();
    }

    // A second start also brings the running instance's window back, even
    // from hidden or minimised, and hands it the URLs it was given.
    void aSecondStartBringsTheRunningWindowBack_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("hidden") << "hidden";
        QTest::newRow("minimised") << "minimised";
    }
    void aSecondStartBringsTheRunningWindowBack()
    {
        QFETCH(QString, how);
        Installation place;
        ScriptedPrompts prompts;
        QuietShell shell;
        auto first = place.make(&prompts, &shell);
        QVERIFY(first->start());
        // The handed URL is the first of the run: the save prompt asks for
        // it (and is cancelled here).
        prompts.expectFile(QStringLiteral("[Save file to?]"), QString());
        frmMain &window = first->mainWindow();
        if (how == QLatin1String("hidden"))
            window.hide();
        else
            window.showMinimized();
        QVERIFY(!window.isVisible() || window.isMinimized());

        // A start with URLs only hands them over: nobody is told.
        ScriptedPrompts secondPrompts;
        TesselApp::Options o;
        o.programDir = place.program();
        o.configDir = place.config();
        o.instanceDir = place.instance();
        // Browser capture in the scratch place, never in the real browsers' folders.
        o.captureDir = o.instanceDir + QStringLiteral("/capture");
        o.browserCapture = [](bool) { return true; };
        o.prompts = &secondPrompts;
        o.shell = &shell;
        o.trayHost = std::make_unique<NoTray>();
        o.showSplash = false;
        o.urls = {QStringLiteral("http://127.0.0.1:9/handed.zip")};
        TesselApp second(std::move(o));
        QVERIFY(!second.start());
        QVERIFY(second.handedOver());
        VERIFY_PROMPTS_DONE(secondPrompts);
        QVERIFY(secondPrompts.records().isEmpty());

        QTRY_VERIFY_WITH_TIMEOUT(window.isVisible() && !window.isMinimized(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(prompts.pending() == 0, 5000);
        VERIFY_PROMPTS_DONE(prompts);
        QVERIFY(prompts.last().fileRequest.fileName.endsWith(QLatin1String("handed.zip")));
        window.CloseNELV();
    }

    void theWindowKeepsItsSizeAndPosition()
    {
        Installation place;
        ScriptedPrompts prompts;
        QuietShell shell;
        {
            auto tessel = place.make(&prompts, &shell);
            QVERIFY(tessel->start());
            tessel->mainWindow().resize(812, 533);
            tessel->mainWindow().CloseNELV();
        }
        auto again = place.make(&prompts, &shell);
        QVERIFY(again->start());
        QCOMPARE(again->mainWindow().size(), QSize(812, 533));
        again->mainWindow().CloseNELV();
    }

    void switchingToTheFtpClientStartsIt()
    {
        Installation place;
        ScriptedPrompts prompts;
        QuietShell shell;
        auto tessel = place.make(&prompts, &shell);
        QVERIFY(tessel->start());
        QSignalSpy quit(tessel.get(), &TesselApp::quitRequested);
        tessel->mainWindow().runCommand(QStringLiteral("IDC_FS_launchFTP"));
        QCOMPARE(quit.count(), 1);
        QCOMPARE(shell.started.size(), 1);
        QVERIFY(shell.started.first().endsWith(QStringLiteral("/corvane")));
    }

    // The start-up arms the stored schedule; "Schedule" opens the dialog
    // over it, and its OK stores the new time and arms the timer again.
    void theScheduleIsArmedAtStartUpAndEditedFromTheMenu()
    {
        Installation place;
        {
            Registry registry(place.config());
            CRegister reg(registry);
            Schedule stored;
            stored.NoSchedule = false;
            stored.SchHour = QStringLiteral("14");
            stored.SchType = QStringLiteral("24HR");
            stored.save(reg);
        }
        ScriptedPrompts prompts;
        QuietShell shell;
        QDir().mkpath(place.program());
        TesselApp::Options o;
        o.programDir = place.program();
        o.configDir = place.config();
        o.instanceDir = place.instance();
        o.prompts = &prompts;
        o.shell = &shell;
        o.trayHost = std::make_unique<NoTray>();
        o.showSplash = false;
        o.clock = [] { return QDateTime(QDate(2026, 12, 4), QTime(12, 10, 20)); };
        TesselApp tessel(std::move(o));
        QVERIFY(tessel.start());
        ExtraTimer &timer = tessel.scheduler().ExtraTimer1;
        QVERIFY(timer.Enabled());
        QCOMPARE(QList<int>({timer.IntervalUnit(), timer.Interval()}), QList<int>({ExtraTimer::Minutes, 109}));

        QString shownHour;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<frmSchedule *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            shownHour = dialog->cboHour->currentText();
            dialog->cboHour->setCurrentText(QStringLiteral("3"));
            dialog->cboType->setCurrentText(QStringLiteral("PM"));
            dialog->cmdOk->click();
        });
        tessel.mainWindow().runCommand(QStringLiteral("IDC_FS_Schedule"));
        QCOMPARE(shownHour, QStringLiteral("14"));
        QCOMPARE(QList<int>({timer.IntervalUnit(), timer.Interval()}), QList<int>({ExtraTimer::Minutes, 169}));
        QCOMPARE(tessel.scheduler().schedule().SchType, QStringLiteral("PM"));
        Registry registry(place.config());
        QCOMPARE(Schedule::load(CRegister(registry)).SchHour, QStringLiteral("3"));
        VERIFY_PROMPTS_DONE(prompts);
        tessel.mainWindow().CloseNELV();
    }

    // A download window closed mid-download leaves its row stopped; the
    // Re-Download command resumes it in that row, and the file comes out
    // whole without fetching the kept part again.
    void closedWindowsRowIsResumedByReDownload()
    {
        const qint64 size = 4 * 1024 * 1024;
        HttpFileServer http(size);
        http.pieceSize = 32 * 1024;
        http.pieceDelayMs = 20;
        Installation place;
        ScriptedPrompts prompts;
        QuietShell shell;
        auto tessel = place.make(&prompts, &shell);
        QVERIFY(tessel->start());
        const QString savePath = place.dir.filePath(QStringLiteral("big.bin"));
        QPointer<frmDownload> window = tessel->intake().BeginDownload(http.url(), savePath, -1);
        QVERIFY(window);
        const DownloadId id = window->downloadId();
        QTRY_VERIFY_WITH_TIMEOUT(window->job() && window->job()->progress().received > 256 * 1024, 20000);

        QVERIFY(window->close());
        QTRY_VERIFY(window.isNull());
        DownloadManager &manager = tessel->manager();
        QCOMPARE(manager.state(id), DownloadState::Stopped);
        QCOMPARE(tessel->downloads().count(), 1);
        const auto row = manager.row(id);
        QCOMPARE(tessel->downloads().value(row, DownloadListModel::Status), QStringLiteral("Paused/Stopped"));
        const qint64 kept = QFileInfo(savePath).size();
        QVERIFY(kept > 0 && kept < size);

        http.pieceSize = 0; // the rest at once
        // The file is there: the existing-file question comes up; Resume.
        int asked = 0;
        QTimer answer;
        answer.setInterval(5);
        QObject::connect(&answer, &QTimer::timeout, [&] {
            if (auto *prompt = qobject_cast<frmExist *>(QApplication::activeModalWidget())) {
                ++asked;
                prompt->findChild<QPushButton *>(QStringLiteral("cmdResume"))->click();
            }
        });
        answer.start();
        tessel->queue().lstMain->setRowSelected(row, true);
        tessel->queue().ReDownload();
        answer.stop();
        QCOMPARE(asked, 1);
        QCOMPARE(tessel->windows().count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(manager.state(id), DownloadState::Complete, 20000);
        QCOMPARE(readAll(savePath), HttpFileServer::bytes(0, size));
        QCOMPARE(tessel->downloads().count(), 0);
        QCOMPARE(tessel->completed().count(), 1);
        const QByteArray resumedFrom = http.ranges.last();
        QVERIFY2(resumedFrom.startsWith("bytes=") && !resumedFrom.startsWith("bytes=0-"), resumedFrom.constData());
        VERIFY_PROMPTS_DONE(prompts);
        tessel->mainWindow().CloseNELV();
    }

    // Exit stops every download through the manager: the jobs end, the
    // files stay, the windows go, and the rows are kept stopped.
    void exitStopsTheDownloadsThroughTheManager()
    {
        HttpFileServer http(8 * 1024 * 1024);
        http.pieceSize = 32 * 1024;
        http.pieceDelayMs = 20;
        Installation place;
        ScriptedPrompts prompts;
        QuietShell shell;
        auto tessel = place.make(&prompts, &shell);
        QVERIFY(tessel->start());
        QSignalSpy quit(tessel.get(), &TesselApp::quitRequested);
        QList<QPointer<frmDownload>> windows;
        for (const QString &name : {QStringLiteral("a.bin"), QStringLiteral("b.bin")}) {
            windows.append(tessel->intake().BeginDownload(http.url(QLatin1Char('/') + name),
                                                          place.dir.filePath(name), -1));
            QVERIFY(windows.last());
        }
        const DownloadId first = windows[0]->downloadId();
        const DownloadId second = windows[1]->downloadId();
        QTRY_VERIFY_WITH_TIMEOUT(windows[1]->job() && windows[1]->job()->progress().received > 64 * 1024, 20000);
        tessel->manager().pause(first);
        QTRY_COMPARE(tessel->manager().state(first), DownloadState::Paused);

        tessel->mainWindow().CloseNELV();
        QCOMPARE(quit.count(), 1);
        for (const DownloadId id : {first, second}) {
            QCOMPARE(tessel->manager().state(id), DownloadState::Stopped);
            QVERIFY(tessel->manager().job(id)->isFinished());
        }
        QTRY_VERIFY(windows[0].isNull() && windows[1].isNull());
        QCOMPARE(tessel->windows().count(), 0);
        QCOMPARE(tessel->downloads().count(), 2);
        QVERIFY(QFileInfo(place.dir.filePath(QStringLiteral("b.bin"))).size() > 0);
        VERIFY_PROMPTS_DONE(prompts);
    }

    // Screenshots for the documentation; only when SUITE_SCREENSHOT_DIR is set.
    void screenshots()
    {
        const QString out = qEnvironmentVariable("SUITE_SCREENSHOT_DIR");
        if (out.isEmpty())
            QSKIP("SUITE_SCREENSHOT_DIR is not set");
        QDir().mkpath(out);
        HttpFileServer fast(600 * 1024);
        HttpFileServer slow(40 * 1024 * 1024);
        slow.pieceSize = 64 * 1024;
        slow.pieceDelayMs = 30;
        Installation place;
        // Ship the program's own files so the toolbar and skin are the real ones.
        const QString shipped = qEnvironmentVariable("SUITE_BIN_DIR");
        QDir().mkpath(place.program());
        for (const QString &name : {QStringLiteral("QFTP.skn"), QStringLiteral("varnodm.swf")})
            QFile::copy(shipped + QLatin1Char('/') + name, place.program() + QLatin1Char('/') + name);
        QDir().mkpath(place.program() + QStringLiteral("/Lang-I"));
        QFile::copy(shipped + QStringLiteral("/Lang-I/English.ini"), place.program() + QStringLiteral("/Lang-I/English.ini"));

        ScriptedPrompts prompts;
        QuietShell shell;
        auto tessel = place.make(&prompts, &shell);
        QVERIFY(tessel->start());
        tessel->mainWindow().resize(900, 620);
        Intake &intake = tessel->intake();
        frmDownload *done = intake.BeginDownload(fast.url(QStringLiteral("/docs/manual.pdf")),
                                                 place.dir.filePath(QStringLiteral("manual.pdf")), -1);
        QVERIFY(done);
        QTRY_COMPARE_WITH_TIMEOUT(tessel->completed().count(), 1, 20000);
        frmDownload *running = intake.BeginDownload(slow.url(QStringLiteral("/iso/debian-12.iso")),
                                                    place.dir.filePath(QStringLiteral("debian-12.iso")), -1);
        frmDownload *paused = intake.BeginDownload(slow.url(QStringLiteral("/video/talk.mkv")),
                                                   place.dir.filePath(QStringLiteral("talk.mkv")), -1);
        QVERIFY(running && paused);
        QTRY_VERIFY_WITH_TIMEOUT(paused->job() && paused->job()->progress().received > 2 * 1024 * 1024, 20000);
        paused->Pause_Resume();
        QTRY_VERIFY_WITH_TIMEOUT(running->job() && running->job()->progress().received > 6 * 1024 * 1024, 20000);
        QTest::qWait(600); // labels and the rate settle
        QVERIFY(tessel->mainWindow().grab().save(out + QStringLiteral("/main-window.png")));
        QVERIFY(running->grab().save(out + QStringLiteral("/download-window.png")));
        QVERIFY(paused->grab().save(out + QStringLiteral("/download-window-paused.png")));

        intake.ShowURLDialog();
        QVERIFY(intake.urlDialog());
        intake.urlDialog()->setUrl(QStringLiteral("http://mirror.example.org/pub/tools-2.4.tar.gz"), true);
        QTest::qWait(100);
        QVERIFY(intake.urlDialog()->grab().save(out + QStringLiteral("/new-url-dialog.png")));
        intake.urlDialog()->reject();
        tessel->mainWindow().CloseNELV();
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--child-add") == 0)
        return runChildAdd(QString::fromLocal8Bit(argv[2]));
    QApplication app(argc, argv);
    TestTesselApp test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tesselapp.moc"
