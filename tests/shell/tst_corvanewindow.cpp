// Corvane's window as a whole: toolbar commands, panels, tray, start-up,
// busy state, shutdown, drag and drop, against real servers on loopback.
#include "pyftpdserver.h"
#include "scriptedprompts.h"

#include "config/cregister.h"
#include "controls/ui/tray.h"
#include "ftpclient/ftpcomponent.h"
#include "ftpclient/profilestore.h"
#include "ftpclient/ui/frmConnectionInfo.h"
#include "ftpclient/ui/frmftpexist.h"
#include "ftpclient/remoteops.h"
#include "ftpclient/ui/filelistview.h"
#include "ftpclient/ui/frmfindfiles.h"
#include "ftpclient/ui/frmproperties.h"
#include "ftpclient/ui/localpane.h"
#include "platform/registrystore.h"
#include "platform/ui/shell.h"
#include "platform/ui/toolbarmovie.h"
#include "shell/corvane/corvaneapp.h"
#include "shell/corvane/frmmain.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QRegularExpression>
#include <QUrl>

using namespace std::chrono_literals;

namespace {

const QString Host = QStringLiteral("127.0.0.1");
const QString User = QStringLiteral("me");
const QString Password = QStringLiteral("secret");

struct RecordingShell final : DesktopShell {
    QStringList opened;
    QStringList started;
    bool openFile(const QString &path) override { opened.append(path); return true; }
    bool showFolder(const QString &path) override { opened.append(path); return true; }
    bool startProgram(const QString &program, const QStringList &) override { started.append(program); return true; }
};

// A notification area that is there; the test clicks its icon.
struct ClickableTray final : TrayHost {
    bool shown = false;
    bool isAvailable() const override { return true; }
    void showIcon(const QIcon &, const QString &) override { shown = true; }
    void hideIcon() override { shown = false; }
    void showMessage(const QString &, const QString &) override {}
    void click(QSystemTrayIcon::ActivationReason reason) { Q_EMIT activated(reason); }
};

// A window over a scratch program directory, settings store and local
// folder, with every later part's hook recording its call.
struct WindowRig {
    QTemporaryDir dir;
    Registry registry{dir.filePath(QStringLiteral("config"))};
    CRegister reg{registry};
    ScriptedPrompts prompts;
    RecordingShell shell;
    ClickableTray *trayHost = new ClickableTray;
    Tray tray{std::unique_ptr<TrayHost>(trayHost), nullptr, 1ms};
    FtpComponent ftp{std::make_shared<const SocketFactory>()};
    QStringList hooksRun;
    QList<int> chmodAsked;
    std::optional<int> chmodAnswer; // what the permission dialog answers
    qint64 clockMs = 0;
    PyftpdlibServer server;
    QString home; // the server's folder of the user
    std::unique_ptr<frmMain> window;

    WindowRig()
    {
        ftp.timing = FtpTiming{5000ms, 5000ms, 5000ms};
        QDir().mkpath(localPath());
        window = std::make_unique<frmMain>(services());
    }
    ~WindowRig()
    {
        if (ftp.currentState() != FtpComponent::NotConnected)
            ftp.disconnectFromServer();
    }
    frmMain::Services services()
    {
        frmMain::Services s;
        s.programDir = dir.path();
        s.prompts = &prompts;
        s.xFtp = &ftp;
        s.reg = &reg;
        s.refreshDelay = 20ms;
        s.localPath = localPath();
        s.shell = &shell;
        s.tray = &tray;
        s.tesselProgram = dir.filePath(QStringLiteral("tessel"));
        // Each reading 40 ms after the last: a steady rate in the status bar.
        s.clock = [this] { return clockMs += 40; };
        s.chmodPrompt = [this](int mode) {
            chmodAsked.append(mode);
            return chmodAnswer;
        };
        const auto hook = [this](const char *name) { return [this, name] { hooksRun.append(QLatin1String(name)); }; };
        s.hooks.options = hook("options");
        s.hooks.syncRemoteFromLocal = hook("syncRemoteFromLocal");
        s.hooks.syncLocalFromRemote = hook("syncLocalFromRemote");
        s.hooks.customCommand = hook("customCommand");
        s.hooks.manualReceive = hook("manualReceive");
        s.hooks.manualSend = hook("manualSend");
        return s;
    }
    QString localPath() const { return dir.filePath(QStringLiteral("local")); }
    QString remote(const char *name) const { return home + QLatin1Char('/') + QLatin1String(name); }
    // The server's user with top.txt and pub/readme.txt, and a local a.txt.
    void prepareServer()
    {
        home = server.addUser(User, Password);
        server.addFile(User, QStringLiteral("top.txt"), "top level\n");
        server.addFile(User, QStringLiteral("pub/readme.txt"), "read me\n");
        QFile a(localPath() + QStringLiteral("/a.txt"));
        QVERIFY(a.open(QIODevice::WriteOnly) && a.write("local a\n") == 8);
    }
    QString status() const { return window->lblStatus->text(); }
    LocalPane *local() const { return window->localPane(); }
    void connectTo(quint16 port)
    {
        window->txtQaddress->setText(Host);
        window->txtQport->setText(QString::number(port));
        window->txtQuser->setText(User);
        window->txtQpassword->setText(Password);
        window->QuickConnect();
        QCOMPARE(status(), QStringLiteral("Connected to ") + Host);
    }
    void selectLocal(const QString &name)
    {
        local()->RefreshLocalList();
        for (int row = 0; row < local()->localModel->rowCount(); ++row) {
            if (local()->localModel->index(row, 0).data(LocalPane::RealNameRole).toString() == name) {
                local()->lstLocalFileList->selectRow(row);
                return;
            }
        }
        QFAIL(qPrintable(QStringLiteral("no local row ") + name));
    }
    void selectRemote(const QString &name)
    {
        const int row = int(window->remoteNames().indexOf(name));
        QVERIFY2(row >= 0, qPrintable(name));
        window->lstRemoteFileList->selectRow(row);
    }
    QList<bool> panels() const
    {
        return {window->frameQuickConnect->isVisible(), window->FrameMainLists->isVisible(),
                window->frameLog->isVisible(), window->frameCustomCommand->isVisible()};
    }
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Every file below root, relative path to content.
QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path), readAll(path));
    }
    return files;
}

// Drops data on a file list as the desktop would: enter, move, drop.
void dropOn(FileListView *list, QMimeData *data)
{
    QWidget *target = list->currentView()->viewport();
    const QPointF at(5, 5);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(at.toPoint(), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

// One toolbar command: what to expect from it, and how to see that it ran.
struct CommandCase {
    std::function<void(WindowRig &)> arrange;
    std::function<void(WindowRig &)> check;
};

QHash<QString, CommandCase> commandCases()
{
    const auto status = [](const char *text) {
        return [text](WindowRig &r) { QCOMPARE(r.status(), QLatin1String(text)); };
    };
    const auto hook = [](const char *name) {
        return [name](WindowRig &r) { QCOMPARE(r.hooksRun, QStringList{QLatin1String(name)}); };
    };
    const auto view = [](bool remote, int mode) {
        return [remote, mode](WindowRig &r) {
            QCOMPARE(remote ? r.window->lstRemoteFileList->viewMode() : r.local()->viewMode(), mode);
        };
    };
    const auto panels = [](QList<bool> expected) {
        return [expected](WindowRig &r) { QCOMPARE(r.panels(), expected); };
    };
    const auto asks = [](const char *text, PromptAnswer answer = PromptAnswer::No) {
        return [text, answer](WindowRig &r) { r.prompts.expectMessage(QLatin1String(text), answer); };
    };
    const auto inputs = [](const char *text, std::optional<QString> answer = std::nullopt) {
        return [text, answer](WindowRig &r) { r.prompts.expectInput(QLatin1String(text), answer); };
    };
    const auto none = [](WindowRig &) {};
    QHash<QString, CommandCase> c;
    c["IDC_FS_Tray"] = {none, [](WindowRig &r) {
                            QVERIFY(!r.window->isVisible());
                            r.trayHost->click(QSystemTrayIcon::Trigger); // a left click brings it back
                            QTRY_VERIFY(r.window->isVisible());
                        }};
    c["IDC_FS_minimize"] = {none, [](WindowRig &r) { QVERIFY(r.window->windowState() & Qt::WindowMinimized); }};
    c["IDC_FS_close"] = {none, [](WindowRig &r) {
                             QVERIFY(r.window->isShuttingDown());
                             QCOMPARE(r.ftp.currentState(), qint32(FtpComponent::NotConnected));
                             QVERIFY(!r.trayHost->shown);
                         }};
    c["IDC_FS_drag"] = {none, none}; // a system move: nothing to see offscreen
    c["IDC_FS_launchDM"] = {none, [](WindowRig &r) {
                                QCOMPARE(r.shell.started, QStringList{r.dir.filePath(QStringLiteral("tessel"))});
                                QCOMPARE(r.ftp.currentState(), qint32(FtpComponent::NotConnected));
                                QVERIFY(!r.trayHost->shown);
                            }};
    c["IDC_FS_LocalUpLevel"] = {none, [](WindowRig &r) { QCOMPARE(r.local()->currentPath(), r.dir.path() + '/'); }};
    c["IDC_FS_LocalRefresh"] = {[](WindowRig &r) { QFile(r.localPath() + "/late.txt").open(QIODevice::WriteOnly); },
                                [](WindowRig &r) {
                                    QVERIFY(!r.local()->localModel->findItems("late.txt").isEmpty());
                                }};
    c["IDC_FS_Upload"] = {none, [](WindowRig &r) {
                              QCOMPARE(readAll(r.remote("a.txt")), QByteArray("local a\n"));
                          }};
    c["IDC_FS_RemoteUpLevel"] = {none, status("Remote path already at a root folder.")};
    c["IDC_FS_RemoteRefresh"] = {[](WindowRig &r) { QFile(r.remote("late.bin")).open(QIODevice::WriteOnly); },
                                 [](WindowRig &r) { QVERIFY(r.window->remoteNames().contains("late.bin")); }};
    c["IDC_FS_Download"] = {none, [](WindowRig &r) {
                                QCOMPARE(readAll(r.localPath() + "/top.txt"), QByteArray("top level\n"));
                            }};
    const char *views[] = {"LargeIcons", "SmallIcons", "ListIcons", "DetailsIcons"};
    for (int mode = 0; mode < 4; ++mode) {
        // Each view from another one, so the change shows.
        const auto from = [mode](WindowRig &r) {
            r.local()->setViewMode((mode + 1) % 4);
            r.window->lstRemoteFileList->setViewMode((mode + 1) % 4);
        };
        c[QStringLiteral("IDC_FS_Local%1").arg(QLatin1String(views[mode]))] = {from, view(false, mode)};
        c[QStringLiteral("IDC_FS_Remote%1").arg(QLatin1String(views[mode]))] = {from, view(true, mode)};
    }
    c["IDC_FS_ShowA"] = {[](WindowRig &r) { r.window->frameQuickConnect->hide(); }, panels({true, true, true, false})};
    c["IDC_FS_ShowB"] = {[](WindowRig &r) {
                             r.window->FrameMainLists->hide();
                             r.window->frameLog->hide();
                         },
                         panels({true, true, true, false})};
    c["IDC_FS_ShowC"] = {[](WindowRig &r) { r.window->frameLog->hide(); }, panels({true, true, true, true})};
    c["IDC_FS_HideA"] = {none, panels({false, true, true, false})};
    c["IDC_FS_HideB"] = {none, panels({true, false, false, false})};
    c["IDC_FS_HideC"] = {[](WindowRig &r) { r.window->frameCustomCommand->show(); }, panels({true, true, false, false})};
    c["IDC_FS_Connect"] = {none, none}; // connected already: the entry is off
    c["IDC_FS_Disconnect"] = {none, [](WindowRig &r) {
                                  QTRY_COMPARE(r.ftp.currentState(), qint32(FtpComponent::NotConnected));
                                  QCOMPARE(r.status(), QStringLiteral("Disconnected from ") + Host);
                              }};
    c["IDC_FS_Reconnect"] = {none, none};
    c["IDC_FS_OpenFile"] = {none, [](WindowRig &r) { QCOMPARE(r.shell.opened, QStringList{r.localPath() + "/a.txt"}); }};
    c["IDC_FS_LDirSynchronize"] = {none, hook("syncRemoteFromLocal")};
    c["IDC_FS_Erase"] = {asks("Are you sure you want to delete the selected local file(s)?"),
                         status("Local file(s) not deleted.")};
    c["IDC_FS_LDelete"] = {asks("do u want to send this files to recycle bin"), none};
    c["IDC_FS_LRename"] = {asks("Rename local file "), status("Local file not renamed.")};
    c["IDC_FS_LCreateFolder"] = {inputs("Enter the name of the local folder you wish to create.", "made"),
                                 [](WindowRig &r) { QVERIFY(QFileInfo(r.localPath() + "/made").isDir()); }};
    c["IDC_FS_FindFile"] = {none, [](WindowRig &r) {
                                auto *found = r.local()->findChild<frmFindFiles *>();
                                QVERIFY(found && found->isVisible());
                            }};
    c["IDC_FS_Properties"] = {none, [](WindowRig &r) {
                                  auto *shown = r.local()->findChild<frmProperties *>();
                                  QVERIFY(shown && shown->isVisible());
                              }};
    c["IDC_FS_LDirFilters"] = {[](WindowRig &r) {
                                   r.prompts.expectInput("Please enter the type ex: *.gif", std::nullopt);
                                   r.prompts.expectMessage("No command entered, quiting");
                               },
                               none};
    c["IDC_FS_RDirSynchronize"] = {none, hook("syncLocalFromRemote")};
    c["IDC_FS_FileReceive"] = {none, hook("manualReceive")};
    c["IDC_FS_ManualSend"] = {none, hook("manualSend")};
    c["IDC_FS_RDelete"] = {asks("Are you sure you want to delete the selected remote items?"),
                           [](WindowRig &r) { QVERIFY(QFile::exists(r.remote("top.txt"))); }};
    c["IDC_FS_RRename"] = {asks("Rename remote file top.txt?"), status("Remote file not renamed.")};
    c["IDC_FS_RCreateFolder"] = {inputs("Enter the name of the folder you want to create.", "made"),
                                 [](WindowRig &r) { QVERIFY(QFileInfo(r.remote("made")).isDir()); }};
    c["IDC_FS_MoveFileFolder"] = {asks("Move remote files / folders top.txt?"),
                                  [](WindowRig &r) { QVERIFY(QFile::exists(r.remote("top.txt"))); }};
    c["IDC_FS_GoToRemoteDir"] = {inputs("Type Directory Name To Go TO", "pub"),
                                 [](WindowRig &r) { QCOMPARE(r.window->remoteNames(), QStringList{"readme.txt"}); }};
    c["IDC_FS_Chmod"] = {none, [](WindowRig &r) { QCOMPARE(r.chmodAsked.size(), 1); }};
    c["IDC_FS_RDirFilters"] = {inputs("Please enter the type ex: *.gif", "*.txt"),
                               [](WindowRig &r) { QCOMPARE(r.window->remoteNames(), QStringList{"top.txt"}); }};
    c["IDC_FS_CustomCommand"] = {none, hook("customCommand")};
    c["IDC_FS_FTPCommands"] = {none, none};
    c["IDC_FS_ClearLog"] = {none, [](WindowRig &r) { QCOMPARE(r.window->lstConnectionInfo->count(), 0); }};
    c["IDC_FS_Recycle"] = {asks("Empty the local recycle bin?"), none};
    c["IDC_FS_Options"] = {none, hook("options")};
    c["IDC_FS_UserGuide"] = {none, [](WindowRig &r) {
                                 QCOMPARE(r.shell.opened, QStringList{r.dir.filePath("help/corvane.html")});
                             }};
    c["IDC_FS_openAbout"] = {[](WindowRig &r) { r.window->frameCustomCommand->show(); },
                             panels({false, false, false, false})};
    c["IDC_FS_closeAbout"] = {[](WindowRig &r) { r.window->runCommand("IDC_FS_openAbout"); },
                              panels({true, true, true, false})};
    return c;
}

// The command table in the order it is compared.
const QStringList AllCommands{
    "IDC_FS_Tray", "IDC_FS_minimize", "IDC_FS_close", "IDC_FS_drag", "IDC_FS_launchDM", "IDC_FS_LocalUpLevel",
    "IDC_FS_LocalRefresh", "IDC_FS_Upload", "IDC_FS_RemoteUpLevel", "IDC_FS_RemoteRefresh", "IDC_FS_Download",
    "IDC_FS_LocalLargeIcons", "IDC_FS_LocalSmallIcons", "IDC_FS_LocalListIcons", "IDC_FS_LocalDetailsIcons",
    "IDC_FS_RemoteLargeIcons", "IDC_FS_RemoteSmallIcons", "IDC_FS_RemoteListIcons", "IDC_FS_RemoteDetailsIcons",
    "IDC_FS_ShowA", "IDC_FS_ShowB", "IDC_FS_ShowC", "IDC_FS_HideA", "IDC_FS_HideB", "IDC_FS_HideC",
    "IDC_FS_Connect", "IDC_FS_Disconnect", "IDC_FS_Reconnect", "IDC_FS_OpenFile", "IDC_FS_LDirSynchronize",
    "IDC_FS_Erase", "IDC_FS_LDelete", "IDC_FS_LRename", "IDC_FS_LCreateFolder", "IDC_FS_FindFile",
    "IDC_FS_Properties", "IDC_FS_LDirFilters", "IDC_FS_RDirSynchronize", "IDC_FS_FileReceive", "IDC_FS_ManualSend",
    "IDC_FS_RDelete", "IDC_FS_RRename", "IDC_FS_RCreateFolder", "IDC_FS_MoveFileFolder", "IDC_FS_GoToRemoteDir",
    "IDC_FS_Chmod", "IDC_FS_RDirFilters", "IDC_FS_CustomCommand", "IDC_FS_FTPCommands", "IDC_FS_ClearLog",
    "IDC_FS_Recycle", "IDC_FS_Options", "IDC_FS_UserGuide", "IDC_FS_openAbout", "IDC_FS_closeAbout"};

} // namespace

class tst_CorvaneWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void commandTable_data()
    {
        QTest::addColumn<QString>("command");
        QCOMPARE(commandCases().size(), AllCommands.size());
        for (const QString &command : AllCommands)
            QTest::newRow(qPrintable(command)) << command;
    }

    // Every command string runs its action, and the same string in another
    // letter case runs nothing.
    void commandTable()
    {
        QFETCH(QString, command);
        const CommandCase c = commandCases().value(command);
        QVERIFY(c.check);
        WindowRig rig;
        rig.prepareServer();
        SUITE_START_SERVER(rig.server);
        rig.window->show();
        rig.connectTo(rig.server.port());
        rig.selectLocal(QStringLiteral("a.txt"));
        rig.selectRemote(QStringLiteral("top.txt"));
        QCOMPARE(rig.window->commandNames(), AllCommands);

        // Another case: no action runs, no prompt shows, nothing changes.
        QList<QAction *> actions = rig.window->findChildren<QAction *>();
        QSignalSpy quit(rig.window.get(), &frmMain::quitRequested);
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (QAction *action : actions)
            spies.push_back(std::make_unique<QSignalSpy>(action, &QAction::triggered));
        const QList<bool> panelsBefore = rig.panels();
        for (const QString &wrong : {command.toLower(), command.toUpper(), command + QLatin1Char(' ')})
            rig.window->runCommand(wrong, QStringLiteral("ignored"));
        for (const auto &spy : spies)
            QCOMPARE(spy->count(), 0);
        QCOMPARE(rig.panels(), panelsBefore);
        QVERIFY(rig.window->isVisible());
        QCOMPARE(rig.status(), QStringLiteral("Connected to ") + Host);
        QCOMPARE(quit.count(), 0);
        QCOMPARE(rig.prompts.records().size(), 0);

        if (c.arrange)
            c.arrange(rig);
        rig.window->runCommand(command, QStringLiteral("any argument"));
        VERIFY_PROMPTS_DONE(rig.prompts);
        c.check(rig);
        if (command == QLatin1String("IDC_FS_Reconnect") || command == QLatin1String("IDC_FS_FTPCommands")
            || command == QLatin1String("IDC_FS_Connect")) {
            // No action (Connect: off while connected).
            for (const auto &spy : spies)
                QCOMPARE(spy->count(), 0);
        }
        const bool quits = command == QLatin1String("IDC_FS_close") || command == QLatin1String("IDC_FS_launchDM");
        QCOMPARE(quit.count(), quits ? 1 : 0);
    }

    // Every button and menu entry of the shipped toolbar sends a command the
    // window knows, and the window's toolbar is that file's.
    void shippedToolbarSendsKnownCommands()
    {
        WindowRig rig;
        ToolbarMovie shipped;
        QVERIFY(shipped.load(qEnvironmentVariable("SUITE_SOURCE_DIR") + QStringLiteral("/resources/toolbar/QFTP.swf")));
        QVERIFY(shipped.commands().size() > 40);
        for (const QString &command : shipped.commands())
            QVERIFY2(rig.window->commandNames().contains(command), qPrintable(command));
        QCOMPARE(rig.window->toolbar()->commands(), shipped.commands());
        // The toolbar's buttons reach the window.
        QAction *hide = rig.window->toolbar()->actionFor(QStringLiteral("IDC_FS_HideA"));
        QVERIFY(hide);
        rig.window->show();
        hide->trigger();
        QVERIFY(!rig.window->frameQuickConnect->isVisible());
    }

    void laterPartsStayDisabledWithoutTheirHooks()
    {
        ScriptedPrompts prompts;
        FtpComponent ftp{std::make_shared<const SocketFactory>()};
        QTemporaryDir dir;
        frmMain::Services s;
        s.programDir = dir.path();
        s.prompts = &prompts;
        s.xFtp = &ftp;
        s.localPath = dir.path();
        frmMain window(s);
        window.SetConnectedState(true); // as when connected
        for (const char *command : {"IDC_FS_Options", "IDC_FS_LDirSynchronize", "IDC_FS_RDirSynchronize",
                                    "IDC_FS_FileReceive", "IDC_FS_ManualSend", "IDC_FS_CustomCommand"}) {
            QAction *action = window.commandAction(QLatin1String(command));
            QVERIFY2(action && !action->isEnabled(), command);
        }
        for (QAction *entry : window.miFtpCommands->actions())
            QVERIFY2(!entry->isEnabled(), qPrintable(entry->text()));
        QCOMPARE(window.miFtpCommands->actions().size(), 9);
        QVERIFY(window.miRemoteRefresh->isEnabled());

        // Given later, the hooks switch their entries on.
        QStringList ran;
        frmMain::Services::Hooks hooks;
        hooks.options = [&] { ran.append(QStringLiteral("options")); };
        hooks.syncRemoteFromLocal = [&] { ran.append(QStringLiteral("sync")); };
        hooks.ftpCommand = [&](const QString &command) { ran.append(command); };
        window.setHooks(hooks);
        window.runCommand(QStringLiteral("IDC_FS_Options"));
        window.runCommand(QStringLiteral("IDC_FS_LDirSynchronize"));
        window.runCommand(QStringLiteral("IDC_FS_CustomCommand")); // still without a hook
        window.miFtpCommands->actions().at(1)->trigger();
        QCOMPARE(ran, (QStringList{"options", "sync", "CWD"}));
        QVERIFY(!window.commandAction(QStringLiteral("IDC_FS_CustomCommand"))->isEnabled());
        window.SetConnectedState(false);
        QVERIFY(!window.miFtpCommands->actions().at(1)->isEnabled());
        QVERIFY(window.miOptions->isEnabled()); // options need no connection
    }

    void trayMenuExitShutsDown()
    {
        WindowRig rig;
        rig.window->show();
        QVERIFY(rig.trayHost->shown);
        QCOMPARE(rig.tray.TrayToolTip(), QStringLiteral("Corvane"));
        QVERIFY(!rig.tray.TrayImage().pixmap(32, 32).isNull());
        QMenu *menu = rig.window->trayMenu();
        QCOMPARE(menu->title(), QStringLiteral("Popup Menu"));
        QCOMPARE(menu->actions().size(), 1);
        QCOMPARE(menu->actions().first()->text(), QStringLiteral("Exit"));
        QSignalSpy quit(rig.window.get(), &frmMain::quitRequested);
        menu->actions().first()->trigger();
        QCOMPARE(quit.count(), 1);
        QVERIFY(!rig.window->isVisible());
        QVERIFY(!rig.trayHost->shown);
    }

    void sizeAndPlaceAreRemembered()
    {
        WindowRig rig;
        rig.window->show();
        rig.window->resize(900, 640);
        QVERIFY(rig.window->close());
        frmMain again(rig.services());
        QCOMPARE(again.size(), QSize(900, 640));
    }

    void secondInstanceIsRefused()
    {
        QTemporaryDir dir;
        const auto make = [&](ScriptedPrompts *prompts, RecordingShell *shell) {
            CorvaneApp::Options o;
            o.programDir = dir.filePath(QStringLiteral("program"));
            o.configDir = dir.filePath(QStringLiteral("config"));
            o.instanceDir = dir.filePath(QStringLiteral("run"));
            o.localPath = dir.path();
            o.prompts = prompts;
            o.shell = shell;
            o.trayHost = std::make_unique<ClickableTray>();
            o.showSplash = false;
            QDir().mkpath(o.programDir);
            return std::make_unique<CorvaneApp>(std::move(o));
        };
        ScriptedPrompts firstPrompts;
        RecordingShell shell;
        auto first = make(&firstPrompts, &shell);
        QVERIFY(first->start());
        frmMain &window = first->mainWindow();
        QVERIFY(window.isVisible());
        QCOMPARE(window.movieVariable("_root.Program"), QStringLiteral("FTP"));
        QCOMPARE(window.toolbar()->variable("_root.Program"), QStringLiteral("FTP"));
        QCOMPARE(window.languageFile(), QStringLiteral("English.ini"));
        QCOMPARE(window.windowTitle(), QStringLiteral("Corvane"));
        QCOMPARE(window.localPane()->currentPath(), dir.path() + '/');
        QVERIFY(!window.lstDel->isVisible());
        QVERIFY(window.optAuto->isChecked());
        QVERIFY(first->tray().IsVisible());

        ScriptedPrompts secondPrompts;
        secondPrompts.expectMessage(QStringLiteral("There is running instance"));
        auto second = make(&secondPrompts, &shell);
        QVERIFY(!second->start());
        VERIFY_PROMPTS_DONE(secondPrompts);
        QCOMPARE(secondPrompts.last().icon, PromptIcon::Error);
        VERIFY_PROMPTS_DONE(firstPrompts);
    }

    void dragAndDropBetweenPanes()
    {
        WindowRig rig;
        rig.prepareServer();
        SUITE_START_SERVER(rig.server);
        rig.window->show();
        rig.connectTo(rig.server.port());

        // Local rows dropped on the remote pane are sent.
        rig.selectLocal(QStringLiteral("a.txt"));
        auto *fromLocal = new QMimeData;
        fromLocal->setData(LocalPane::DragMimeType, QByteArray("[]"));
        fromLocal->setText(QStringLiteral("a.txt"));
        dropOn(rig.window->lstRemoteFileList, fromLocal);
        QTRY_COMPARE(readAll(rig.remote("a.txt")), QByteArray("local a\n"));
        QTRY_VERIFY(rig.window->remoteNames().contains(QStringLiteral("a.txt")));

        // Remote rows dropped on the local pane are received.
        rig.selectRemote(QStringLiteral("top.txt"));
        auto *fromRemote = new QMimeData;
        fromRemote->setData(frmMain::remoteRowsMimeType(), QByteArray("top.txt"));
        fromRemote->setText(QStringLiteral("top.txt"));
        dropOn(rig.local()->lstLocalFileList, fromRemote);
        QTRY_COMPARE(readAll(rig.localPath() + "/top.txt"), QByteArray("top level\n"));

        // Files and a folder from the desktop's file manager, from a folder
        // that is not the local pane's, are sent like a selection.
        QTemporaryDir desktop;
        QDir().mkpath(desktop.filePath(QStringLiteral("docs/inner")));
        QFile one(desktop.filePath(QStringLiteral("docs/inner/one.txt")));
        QVERIFY(one.open(QIODevice::WriteOnly) && one.write("one\n") == 4);
        one.close();
        QFile loose(desktop.filePath(QStringLiteral("loose.bin")));
        QVERIFY(loose.open(QIODevice::WriteOnly) && loose.write(QByteArray(5000, 'L')) == 5000);
        loose.close();
        rig.prompts.expectMessage(QStringLiteral("Do you want to send any subfolders"), PromptAnswer::Yes);
        auto *fromDesktop = new QMimeData;
        fromDesktop->setUrls({QUrl::fromLocalFile(desktop.filePath(QStringLiteral("docs"))),
                              QUrl::fromLocalFile(desktop.filePath(QStringLiteral("loose.bin")))});
        dropOn(rig.window->lstRemoteFileList, fromDesktop);
        QTRY_COMPARE(readAll(rig.remote("loose.bin")), QByteArray(5000, 'L'));
        QCOMPARE(readAll(rig.remote("docs/inner/one.txt")), QByteArray("one\n"));
        VERIFY_PROMPTS_DONE(rig.prompts);

        // Data without the panes' types or files shows no drop effect.
        auto *plain = new QMimeData;
        plain->setData(QStringLiteral("application/x-other"), "x");
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, plain, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(rig.window->lstRemoteFileList->currentView()->viewport(), &enter);
        QVERIFY(!enter.isAccepted());
        delete plain;
        delete fromLocal;
        delete fromRemote;
        delete fromDesktop;
    }

    // While a delete walks the folders, the overlay keeps showing the
    // starting folder; afterwards the pane is relisted without the rows.
    void deleteShowsTheStartingFolderMeanwhile()
    {
        WindowRig rig;
        rig.prepareServer();
        rig.server.addFile(User, QStringLiteral("pub/sub/deep.bin"), "deep\n");
        SUITE_START_SERVER(rig.server);
        rig.window->show();
        rig.connectTo(rig.server.port());
        const QStringList before = rig.window->remoteNames();
        rig.window->lstRemoteFileList->clearSelection();
        for (const char *name : {"top.txt", "pub"})
            rig.window->lstRemoteFileList->setRowSelected(int(before.indexOf(QLatin1String(name))), true);
        QStringList seen; // what the overlay showed at each DELE
        connect(&rig.ftp, &FtpComponent::logLine, this, [&](const QString &line) {
            if (!line.startsWith(QLatin1String("DELE")))
                return;
            QStringList overlay;
            for (const RemoteRow &row : rig.window->remoteOps()->overlay()->rows())
                overlay.append(row.name);
            seen.append(QStringLiteral("%1 %2 %3").arg(rig.window->lstDel->isVisible()).arg(rig.window->cmbDel->currentText(),
                                                                                           overlay.join(QLatin1Char(','))));
        });
        rig.prompts.expectMessage(QStringLiteral("Are you sure you want to delete the selected remote items?"),
                                  PromptAnswer::Yes);
        rig.window->runCommand(QStringLiteral("IDC_FS_RDelete"));
        VERIFY_PROMPTS_DONE(rig.prompts);
        const QString expected = QStringLiteral("1 / ") + before.join(QLatin1Char(','));
        QCOMPARE(seen, QStringList(3, expected)); // top.txt, pub/readme.txt, pub/sub/deep.bin
        QVERIFY(!rig.window->lstDel->isVisible());
        QVERIFY(rig.window->lstRemoteFileList->isVisible());
        QVERIFY(!rig.window->remoteNames().contains(QStringLiteral("top.txt")));
        QVERIFY(!rig.window->remoteNames().contains(QStringLiteral("pub")));
        QVERIFY(!QFileInfo::exists(rig.remote("pub")));
    }

    // The permission dialog's number goes to the server for each selected
    // row, and the pane is relisted.
    void chmodOfTheSelection()
    {
        WindowRig rig;
        rig.prepareServer();
        rig.server.addFile(User, QStringLiteral("second.txt"), "2\n");
        SUITE_START_SERVER(rig.server);
        rig.window->show();
        rig.connectTo(rig.server.port());
        QFile::setPermissions(rig.remote("pub/readme.txt"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        rig.selectRemote(QStringLiteral("top.txt"));
        const int second = int(rig.window->remoteNames().indexOf(QStringLiteral("second.txt")));
        rig.window->lstRemoteFileList->setRowSelected(second, true);
        rig.chmodAnswer = 640;
        rig.window->runCommand(QStringLiteral("IDC_FS_Chmod"));
        const auto mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
        for (const char *name : {"top.txt", "second.txt"})
            QCOMPARE(QFileInfo(rig.remote(name)).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser), mode);
        // Only the selection changed.
        QCOMPARE(QFileInfo(rig.remote("pub/readme.txt")).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(rig.window->remoteNames().size(), 3);
    }

    void transferModeOptions()
    {
        WindowRig rig;
        frmMain &w = *rig.window;
        QVERIFY(w.optAuto->isChecked());
        QVERIFY(!w.optAscii->isEnabled()); // only while connected
        w.SetConnectedState(true);
        QVERIFY(w.optAscii->isEnabled());
        w.optAscii->click();
        QCOMPARE(rig.ftp.representationType, 1);
        QVERIFY(!w.transfers()->autoFlag());
        w.optBinary->click();
        QCOMPARE(rig.ftp.representationType, 0);
        QVERIFY(!w.transfers()->autoFlag());
        w.optAscii->click();
        w.optAuto->click();
        QVERIFY(w.transfers()->autoFlag());
        QCOMPARE(rig.ftp.representationType, 1); // Auto chooses per file when sending
        w.SetConnectedState(false);
    }

    // Connect, browse, send a folder tree and receive it again, all through
    // the window's commands.
    void endToEndFolderTree()
    {
        WindowRig rig;
        rig.prepareServer();
        SUITE_START_SERVER(rig.server);
        rig.window->show();
        rig.connectTo(rig.server.port());
        QCOMPARE(rig.window->movieVariable("_root.Connected"), QStringLiteral("1"));

        // Browse: into pub and back.
        rig.selectRemote(QStringLiteral("pub"));
        rig.window->RemoteDoubleClick(rig.window->remoteNames().indexOf(QStringLiteral("pub")));
        QCOMPARE(rig.window->remoteNames(), QStringList{"readme.txt"});
        rig.window->runCommand("IDC_FS_RemoteUpLevel");
        QVERIFY(rig.window->remoteNames().contains(QStringLiteral("top.txt")));

        // A local tree with text and binary files, three levels deep.
        const QString src = rig.localPath() + QStringLiteral("/tree");
        const QMap<QString, QByteArray> files{{"notes.txt", "line one\nline two\n"},
                                              {"bin/data.bin", QByteArray(3000000, '\xA5')},
                                              {"bin/deeper/readme.log", "log\n"},
                                              {"empty.dat", QByteArray()}};
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            QDir().mkpath(QFileInfo(src + '/' + it.key()).absolutePath());
            QFile f(src + '/' + it.key());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(it.value());
        }
        rig.selectLocal(QStringLiteral("tree"));
        rig.prompts.expectMessage(QStringLiteral("Do you want to send any subfolders"), PromptAnswer::Yes);
        // The status bar shows the rate and time left beside the status.
        QStringList rates;
        connect(&rig.ftp, &FtpComponent::transferStatus, this,
                [&] { rates.append(rig.window->lblRate->text()); });
        rig.window->runCommand("IDC_FS_Upload");
        QVERIFY(!rates.filter(QRegularExpression(QStringLiteral("^[0-9.,]+ (Bytes|KB|MB)/s, \\d\\d:\\d\\d:\\d\\d left$"))).isEmpty());
        QCOMPARE(rig.window->lblRate->text(), QString()); // nothing runs now
        VERIFY_PROMPTS_DONE(rig.prompts);
        // The local row reads "TREE"; the server's folder keeps the real name.
        QCOMPARE(tree(rig.remote("tree")), files);
        QVERIFY(rig.window->remoteNames().contains(QStringLiteral("tree")));
        QCOMPARE(rig.window->prgStatus->value(), 0);
        QCOMPARE(rig.window->movieVariable("_root.Progress_mc._xscale"), QStringLiteral("0"));

        // And back into another local folder.
        const QString back = rig.localPath() + QStringLiteral("/back");
        QVERIFY(QDir().mkpath(back));
        QVERIFY(rig.local()->ChangeCurrentLocalFolder(back + '/'));
        rig.selectRemote(QStringLiteral("tree"));
        rig.prompts.expectMessage(QStringLiteral("Do you want to receive any subfolders"), PromptAnswer::Yes);
        rig.window->runCommand("IDC_FS_Download");
        VERIFY_PROMPTS_DONE(rig.prompts);
        QCOMPARE(rig.status(), QStringLiteral("File download(s) complete."));
        QCOMPARE(tree(back + QStringLiteral("/tree")), files);
    }

    // The pictures of the documentation, when SUITE_SCREENSHOT_DIR names a
    // folder: the connected window in report view with a transfer running,
    // the site manager and the existing-file prompt.
    void screenshots()
    {
        const QString out = qEnvironmentVariable("SUITE_SCREENSHOT_DIR");
        if (out.isEmpty())
            QSKIP("SUITE_SCREENSHOT_DIR is not set");
        WindowRig rig;
        rig.home = rig.server.addUser(User, Password);
        for (const char *folder : {"incoming", "pub", "releases", "www"})
            rig.server.addFolder(User, QLatin1String(folder));
        rig.server.addFile(User, QStringLiteral("README.txt"), "Welcome\n");
        rig.server.addFile(User, QStringLiteral("release-notes.txt"), QByteArray(18000, 'r'));
        rig.server.addFile(User, QStringLiteral("photo.jpg"), QByteArray(2400000, 'p'));
        QVERIFY(QFile::link(QStringLiteral("releases"), rig.home + QStringLiteral("/latest")));
        const QMap<QString, QByteArray> local{{"backup-2026.tar.gz", QByteArray(160 * 1024 * 1024, 'b')},
                                              {"notes.txt", "notes\n"},
                                              {"photo.jpg", QByteArray(1200000, 'q')},
                                              {"report.pdf", QByteArray(420000, 'd')}};
        for (auto it = local.cbegin(); it != local.cend(); ++it) {
            QFile f(rig.localPath() + '/' + it.key());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(it.value());
        }
        QDir().mkpath(rig.localPath() + QStringLiteral("/projects"));
        SUITE_START_SERVER(rig.server);
        frmMain &w = *rig.window;
        w.resize(1180, 760);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        // The site manager, with two saved sites.
        for (const char *site : {"Home server", "Project mirror"}) {
            SiteProfile profile{QLatin1String(site), Host, QString::number(rig.server.port()), User, Password, true,
                                FtpSecurity::Plain};
            QCOMPARE(profiles::save(rig.dir.path(), profile, false), profiles::SaveResult::Saved);
        }
        QTimer::singleShot(300, &w, [&] {
            auto *form = w.findChild<frmConnectionInfo *>();
            QVERIFY(form);
            const auto nodes = form->tvlPrivate->findItems(QStringLiteral("Home server.Profile"),
                                                           Qt::MatchExactly | Qt::MatchRecursive);
            if (!nodes.isEmpty()) {
                form->tabProfiles->setCurrentIndex(1); // the user's own sites
                form->tvlPrivate->expandAll();
                form->tvlPrivate->setCurrentItem(nodes.first());
                form->NodeClick(form->tvlPrivate, nodes.first());
            }
            QTest::qWait(200);
            QVERIFY(form->grab().save(out + QStringLiteral("/corvane-site-manager.png")));
            form->cmdCancel->click();
        });
        w.ConnectFromProfile();
        rig.connectTo(rig.server.port());
        w.runCommand(QStringLiteral("IDC_FS_RemoteDetailsIcons"));
        w.runCommand(QStringLiteral("IDC_FS_LocalDetailsIcons"));

        // The existing-file prompt, for a photo of another size on the server.
        rig.selectLocal(QStringLiteral("photo.jpg"));
        QTimer::singleShot(300, &w, [&] {
            auto *prompt = w.findChild<corvane::frmExist *>();
            QVERIFY(prompt && prompt->isVisible());
            QVERIFY(prompt->grab().save(out + QStringLiteral("/corvane-file-exists.png")));
            prompt->cmdSkip->click();
        });
        w.runCommand(QStringLiteral("IDC_FS_Upload"));

        // A large upload, pictured when about a third has gone.
        rig.selectLocal(QStringLiteral("backup-2026.tar.gz"));
        bool pictured = false;
        connect(&rig.ftp, &FtpComponent::transferStatus, this,
                [&](const QString &, const QString &, qint64, qint64, int percent) {
                    if (pictured || percent < 35)
                        return;
                    pictured = true;
                    QVERIFY(!w.lblRate->text().isEmpty());
                    QVERIFY(w.grab().save(out + QStringLiteral("/corvane-transfer.png")));
                });
        w.runCommand(QStringLiteral("IDC_FS_Upload"));
        QVERIFY(pictured);
        VERIFY_PROMPTS_DONE(rig.prompts);
    }
};

QTEST_MAIN(tst_CorvaneWindow)
#include "tst_corvanewindow.moc"
