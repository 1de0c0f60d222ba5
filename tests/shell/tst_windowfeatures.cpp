// Corvane as started by its app object, with the options, synchronisation,
// console and transfer log wired into the window: the toolbar commands and
// menu entries reach a scripted server, the message lines reach the log.
#include "shell/corvane/corvaneapp.h"

#include "ftpclient/ftpcomponent.h"
#include "ftpfolderserver.h"
#include "scriptedprompts.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestWindowFeatures : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void commandsOfTheWindowReachTheServerAndTheLog()
    {
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("program"));
        const QString local = dir.filePath(QStringLiteral("local/"));
        QVERIFY(writeFile(program + QStringLiteral("/log/FTP.log"), "from the last run"));
        QVERIFY(writeFile(local + QStringLiteral("b.txt"), "local b"));
        FtpFolderServer server;
        server.put(QStringLiteral("a.txt"), "remote a", QDateTime::currentDateTimeUtc().addSecs(-3600));
        ScriptedPrompts prompts;
        CorvaneApp::Options o;
        o.programDir = program;
        o.configDir = dir.filePath(QStringLiteral("config"));
        o.instanceDir = dir.filePath(QStringLiteral("run"));
        o.localPath = local;
        o.prompts = &prompts;
        o.showSplash = false;
        CorvaneApp app(std::move(o));
        QVERIFY(app.start());
        frmMain &w = app.mainWindow();
        // The old log went at start-up.
        QVERIFY(!QFileInfo::exists(program + QStringLiteral("/log/FTP.log")));

        w.txtQaddress->setText(QStringLiteral("127.0.0.1"));
        w.txtQport->setText(QString::number(server.control.port()));
        w.txtQuser->setText(QStringLiteral("joe"));
        w.txtQpassword->setText(QStringLiteral("Secret-9"));
        w.QuickConnect();
        QCOMPARE(app.ftp().currentState(), qint32(FtpComponent::Idle));
        QVERIFY(w.ChangeCurrentRemoteFolder(QStringLiteral("/data"), true));

        // Both synchronisations, from the toolbar.
        w.runCommand(QStringLiteral("IDC_FS_RDirSynchronize"));
        QCOMPARE(readAll(local + QStringLiteral("a.txt")), QByteArray("remote a"));
        w.runCommand(QStringLiteral("IDC_FS_LDirSynchronize"));
        QTRY_COMPARE(server.files[QStringLiteral("b.txt")].bytes, QByteArray("local b"));
        QVERIFY(w.remoteNames().contains(QStringLiteral("b.txt")));
        QVERIFY(!w.cmdAbort->isEnabled());

        // The custom command panel replaces the panes; Enter sends the line.
        w.runCommand(QStringLiteral("IDC_FS_CustomCommand"));
        QVERIFY(!w.frameQuickConnect->isVisible() && !w.FrameMainLists->isVisible());
        QVERIFY(w.frameLog->isVisible() && w.frameCustomCommand->isVisible());
        auto *box = w.frameCustomCommand->findChild<QLineEdit *>(QStringLiteral("txtCommand"));
        QVERIFY(box);
        const qsizetype sent = server.commands.size();
        QTest::keyClick(box, Qt::Key_Return); // an empty box sends nothing
        QCOMPARE(server.commands.size(), sent);
        QTest::keyClicks(box, QStringLiteral("NOOP"));
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(server.commands.mid(sent), QByteArrayList{"NOOP"});
        QCOMPARE(box->text(), QString());
        QVERIFY(!w.lstConnectionInfo->findItems(QStringLiteral("200 NOOP ok."), Qt::MatchExactly).isEmpty());
        // The documentation's picture of the console, when asked for.
        if (const QString shots = qEnvironmentVariable("SUITE_SCREENSHOT_DIR"); !shots.isEmpty()) {
            QTest::keyClicks(box, QStringLiteral("HELP"));
            QTest::keyClick(box, Qt::Key_Return);
            QTest::keyClicks(box, QStringLiteral("SYST"));
            QVERIFY(w.grab().save(QDir(shots).filePath(QStringLiteral("corvane-console.png"))));
            box->clear();
        }
        w.frameCustomCommand->findChild<QPushButton *>(QStringLiteral("cmdCloseCommand"))->click();
        QVERIFY(w.frameQuickConnect->isVisible() && w.FrameMainLists->isVisible() && !w.frameCustomCommand->isVisible());

        // An entry of the FTP Commands sub-menu.
        QAction *syst = nullptr;
        for (QAction *a : w.miFtpCommands->actions())
            syst = a->text() == QLatin1String("SYST") ? a : syst;
        QVERIFY(syst && syst->isEnabled());
        syst->trigger();
        QCOMPARE(server.commands.last(), QByteArray("SYST"));
        QVERIFY(w.miOptions->isEnabled());
        VERIFY_PROMPTS_DONE(prompts);

        // Every message line is a record of the transfer log; no password.
        const QByteArray log = readAll(program + QStringLiteral("/log/FTP.log"));
        QVERIFY(log.contains("#\r\n\"NOOP\"\r\n"));
        QVERIFY(log.contains("\"215 UNIX Type: L8\"\r\n"));
        QVERIFY(log.contains("\"PASS ****\"\r\n"));
        QVERIFY(!log.contains("Secret-9"));
        QVERIFY(!QFileInfo::exists(program + QStringLiteral("/log/transfer.log")));
        w.DisconnectFromServer();
    }
};

QTEST_MAIN(TestWindowFeatures)
#include "tst_windowfeatures.moc"
