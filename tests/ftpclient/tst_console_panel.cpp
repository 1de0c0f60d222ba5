// The custom command panel: Enter sends the typed line and empties the box,
// an empty box sends nothing, "Close" asks the window to close the panel.
#include "ftpclient/ui/customcommandpanel.h"

#include "ftpclient/console.h"
#include "ftpclient/ftpcomponent.h"
#include "ftpfolderserver.h"
#include "platform/tlssocketfactory.h"
#include "scriptedprompts.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>


class TestConsolePanel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void enterSendsAndEmptiesTheBox()
    {
        FtpFolderServer server;
        FtpComponent ftp(std::make_shared<TlsSocketFactory>());
        ftp.serverAddress = QStringLiteral("127.0.0.1");
        ftp.serverPort = server.control.port();
        ftp.userName = QStringLiteral("joe");
        QVERIFY(ftp.connectToServer());
        ScriptedPrompts prompts;
        FtpConsole console({&ftp, &prompts, {}, QStringLiteral("Corvane"), {}});
        CustomCommandPanel panel(&console);
        panel.show();
        const qsizetype mark = server.commands.size();

        QTest::keyClick(panel.txtCommand, Qt::Key_Return);
        QCOMPARE(server.commands.size(), mark);
        QTest::keyClicks(panel.txtCommand, QStringLiteral("NOOP"));
        QTest::keyClick(panel.txtCommand, Qt::Key_Return);
        QCOMPARE(server.commands.mid(mark), QByteArrayList{"NOOP"});
        QCOMPARE(panel.txtCommand->text(), QString());

        QSignalSpy closing(&panel, &CustomCommandPanel::closeRequested);
        panel.cmdCloseCommand->click();
        QCOMPARE(closing.size(), 1);
        VERIFY_PROMPTS_DONE(prompts);
    }
};

QTEST_MAIN(TestConsolePanel)
#include "tst_console_panel.moc"
