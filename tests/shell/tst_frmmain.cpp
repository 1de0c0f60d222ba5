#include "scriptedprompts.h"

#include "config/cregister.h"
#include "controls/ui/tray.h"
#include "download/downloadlist.h"
#include "platform/registrystore.h"
#include "platform/ui/shell.h"
#include "platform/ui/toolbarmovie.h"
#include "queue/historystore.h"
#include "shell/maincommands.h"
#include "shell/tessel/frmmain.h"

#include <QApplication>
#include <QFile>
#include <QListView>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

struct RecordingShell final : DesktopShell {
    QStringList opened, started;
    bool openFile(const QString &path) override { opened.append(path); return true; }
    bool showFolder(const QString &path) override { opened.append(path); return true; }
    bool startProgram(const QString &program, const QStringList &) override { started.append(program); return true; }
};

struct FakeTrayHost final : TrayHost {
    bool available = true;
    bool shown = false;
    bool isAvailable() const override { return available; }
    void showIcon(const QIcon &, const QString &) override { shown = true; }
    void hideIcon() override { shown = false; }
    void showMessage(const QString &, const QString &) override {}
};

// A main window with counting hooks, a real history store and lists.
struct MainRig {
    QTemporaryDir dir;
    Registry registry{dir.filePath(QStringLiteral("config"))};
    CRegister reg{registry};
    DownloadListModel mainList;
    DownloadListModel completeList;
    ScriptedPrompts prompts;
    RecordingShell shell;
    FakeTrayHost *host = nullptr;
    std::unique_ptr<Tray> tray;
    std::unique_ptr<HistoryStore> history;
    std::unique_ptr<frmMain> window;
    QMap<QString, int> calls;

    explicit MainRig(bool withTray = true)
    {
        HistoryStore::Services hs;
        hs.mainList = &mainList;
        hs.completeList = &completeList;
        hs.programDir = dir.path();
        hs.reg = &reg;
        history = std::make_unique<HistoryStore>(hs);
        if (withTray) {
            auto fake = std::make_unique<FakeTrayHost>();
            host = fake.get();
            tray = std::make_unique<Tray>(std::move(fake));
        }
        frmMain::Services s;
        s.programDir = dir.path();
        s.prompts = &prompts;
        s.shell = &shell;
        s.history = history.get();
        s.tray = tray.get();
        s.downloadList = new QListView;
        s.completedList = new QListView;
        s.corvaneProgram = dir.filePath(QStringLiteral("corvane"));
        const auto count = [this](const char *name) { return [this, name] { ++calls[QLatin1String(name)]; }; };
        s.hooks.addUrl = [this](QWidget *, bool modal) { ++calls[modal ? QStringLiteral("addUrl modal") : QStringLiteral("addUrl")]; };
        s.hooks.reDownload = count("reDownload");
        s.hooks.pauseAll = count("pauseAll");
        s.hooks.resumeAll = count("resumeAll");
        s.hooks.stopAll = count("stopAll");
        s.hooks.settings = count("settings");
        window = std::make_unique<frmMain>(s);
        window->show();
    }
};

} // namespace

class TestFrmMain : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void commandTable_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("hook");
        QTest::newRow("add") << "IDC_FS_AddURL" << "addUrl modal";
        QTest::newRow("redownload") << "IDC_FS_ReDownload" << "reDownload";
        QTest::newRow("pause") << "IDC_FS_PauseAll" << "pauseAll";
        QTest::newRow("resume") << "IDC_FS_ResumeAll" << "resumeAll";
        QTest::newRow("stop") << "IDC_FS_StopAll" << "stopAll";
        QTest::newRow("settings") << "IDC_FS_Settings" << "settings";
    }

    void commandTable()
    {
        QFETCH(QString, command);
        QFETCH(QString, hook);
        MainRig rig;
        rig.window->runCommand(command, QStringLiteral("ignored argument"));
        QCOMPARE(rig.calls.value(hook), 1);
        QCOMPARE(rig.calls.size(), 1);
    }

    void unknownOrMisspeltCommandsDoNothing()
    {
        MainRig rig;
        for (const char *c : {"IDC_FS_addurl", "IDC_FS_AddURL ", "", "IDC_FS_Nothing"}) {
            QCOMPARE(mainCommandFor(QLatin1String(c)), MainCommand::Unknown);
            rig.window->runCommand(QLatin1String(c));
        }
        QVERIFY(rig.calls.isEmpty());
        QVERIFY(rig.window->isVisible());
    }

    void toolbarButtonsReachTheWindow()
    {
        MainRig rig;
        QToolButton *button = rig.window->toolbar()->buttonFor(QStringLiteral("IDC_FS_PauseAll"));
        QVERIFY(button);
        button->click();
        QCOMPARE(rig.calls.value(QStringLiteral("pauseAll")), 1);
    }

    void aboutShowsBothListsAgainEvenIfOneWasHidden()
    {
        MainRig rig;
        rig.window->runCommand(QStringLiteral("IDC_FS_HideB"));
        QVERIFY(!rig.window->downloadList()->isVisible());
        rig.window->runCommand(QStringLiteral("IDC_FS_openAbout"));
        QVERIFY(!rig.window->completedList()->isVisible());
        QCOMPARE(rig.window->toolbar()->currentPage(), QStringLiteral("about"));
        rig.window->runCommand(QStringLiteral("IDC_FS_closeAbout"));
        QVERIFY(rig.window->downloadList()->isVisible());
        QVERIFY(rig.window->completedList()->isVisible());
        rig.window->runCommand(QStringLiteral("IDC_FS_HideC"));
        QVERIFY(!rig.window->completedList()->isVisible());
        rig.window->runCommand(QStringLiteral("IDC_FS_ShowC"));
        QVERIFY(rig.window->completedList()->isVisible());
    }

    void hideToTrayKeepsTheWindowReachable()
    {
        MainRig withTray(true);
        QVERIFY(withTray.host->shown);
        withTray.window->runCommand(QStringLiteral("IDC_FS_tray"));
        QVERIFY(!withTray.window->isVisible());
        withTray.window->ShowStatus();
        QVERIFY(withTray.window->isVisible());

        MainRig noTray(false);
        noTray.window->runCommand(QStringLiteral("IDC_FS_tray"));
        QVERIFY(noTray.window->isVisible()); // minimised, never hidden without a way back

        // The icon was shown, but the notification area has gone since.
        MainRig trayGone(true);
        QVERIFY(trayGone.tray->IsVisible());
        trayGone.host->available = false;
        trayGone.window->runCommand(QStringLiteral("IDC_FS_tray"));
        QVERIFY(trayGone.window->isVisible());
        QVERIFY(trayGone.window->isMinimized());

        // A desktop whose tray never showed the icon.
        MainRig neverShown(true);
        neverShown.tray->Show(false);
        neverShown.window->runCommand(QStringLiteral("IDC_FS_tray"));
        QVERIFY(neverShown.window->isVisible());
    }

    void switchToTheFtpClientSavesAndStartsIt()
    {
        MainRig rig;
        rig.mainList.addRow({QStringLiteral("/tmp/a.zip"), QStringLiteral("0%"), QStringLiteral("N/A"), QStringLiteral("N/A"),
                             QStringLiteral("N/A"), QStringLiteral("http://h/a.zip")});
        QSignalSpy quit(rig.window.get(), &frmMain::quitRequested);
        rig.window->runCommand(QStringLiteral("IDC_FS_launchFTP"));
        QCOMPARE(quit.count(), 1);
        QCOMPARE(rig.shell.started, QStringList{rig.dir.filePath(QStringLiteral("corvane"))});
        QVERIFY(QFile::exists(rig.history->filePath()));
        QVERIFY(!rig.host->shown); // the tray icon went away
    }

    void shutdownFromMenuAndClose()
    {
        MainRig rig;
        QSignalSpy quit(rig.window.get(), &frmMain::quitRequested);
        rig.window->close();
        QCOMPARE(quit.count(), 1);
        QVERIFY(rig.window->isShuttingDown());
    }

    void userGuideOpensTheHelpFile()
    {
        MainRig rig;
        rig.window->runCommand(QStringLiteral("IDC_FS_UserGuide"));
        QCOMPARE(rig.shell.opened, QStringList{rig.dir.filePath(QStringLiteral("help/index.html"))});
    }

    void trayMenuEntries()
    {
        MainRig rig;
        QStringList texts;
        for (QAction *a : rig.window->trayMenu()->actions())
            texts.append(a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(texts, (QStringList{"Show Download Status", "-", "Tools", "-", "Close"}));
        rig.window->EnterURL();
        QCOMPARE(rig.calls.value(QStringLiteral("addUrl")), 1); // not modal from the tray
    }
};

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
