// The FTP command console against a scripted server that records every
// command: what each menu entry and the command box put on the wire, the
// prompts they ask, the failure texts, the listing lines of LIST and NLST,
// and the manual receive and send.
#include "ftpclient/console.h"

#include "ftpclient/ftpcomponent.h"
#include "ftpfolderserver.h"
#include "platform/tlssocketfactory.h"
#include "scriptedprompts.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// An answer of a prompt in a table: "<cancel>" for Cancel, "<none>" when no
// prompt is expected.
std::optional<QString> answerOf(const QString &text)
{
    return text == QLatin1String("<cancel>") ? std::nullopt : std::optional<QString>(text);
}

struct Console {
    FtpFolderServer server;
    FtpComponent ftp{std::make_shared<TlsSocketFactory>()};
    ScriptedPrompts prompts;
    QTemporaryDir local;
    QStringList names; // name prompts asked
    std::optional<QString> nameAnswer;
    QStringList messages;
    QStringList log;
    std::unique_ptr<FtpConsole> console;

    Console()
    {
        FtpConsole::Services s;
        s.ftp = &ftp;
        s.prompts = &prompts;
        s.appTitle = QStringLiteral("Corvane");
        s.localPath = [this] { return local.path() + u'/'; };
        s.namePrompt = [this](const QString &prompt, const QString &title, const QString &) {
            names << prompt + u'|' + title;
            return nameAnswer;
        };
        console = std::make_unique<FtpConsole>(s);
        QObject::connect(console.get(), &FtpConsole::message, console.get(), [this](const QString &m) { messages << m; });
        QObject::connect(&ftp, &FtpComponent::logLine, &ftp, [this](const QString &l) { log << l; });
        ftp.serverAddress = QStringLiteral("127.0.0.1");
        ftp.serverPort = server.control.port();
        ftp.userName = QStringLiteral("joe");
        ftp.password = QStringLiteral("pw");
    }
    // The commands since mark, without the data connection's set-up.
    QStringList sentSince(qsizetype mark) const
    {
        QStringList out;
        for (const QByteArray &c : server.commands.mid(mark))
            if (!c.startsWith("TYPE") && !c.startsWith("EPSV") && !c.startsWith("PASV"))
                out << QString::fromUtf8(c);
        return out;
    }
};

} // namespace

class TestConsole : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void menuEntriesPutTheirCommandsOnTheWire_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("input");      // the input box's answer
        QTest::addColumn<QString>("name");       // the name prompt's answer
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<bool>("notice");        // "No command entered, quiting"
        using C = FtpConsole::Command;
        const QStringList none;
        QTest::newRow("HELP") << int(C::Help) << "<none>" << "<none>" << QStringList{"HELP"} << none << false;
        QTest::newRow("PWD") << int(C::Pwd) << "<none>" << "<none>" << QStringList{"PWD"} << none << false;
        QTest::newRow("SYST") << int(C::Syst) << "<none>" << "<none>" << QStringList{"SYST"} << none << false;
        QTest::newRow("CWD") << int(C::Cwd) << "data" << "<none>" << QStringList{"CWD data"} << none << false;
        QTest::newRow("CWD refused") << int(C::Cwd) << "nope" << "<none>" << QStringList{"CWD nope"}
                                     << QStringList{"Error: 550 No such folder"} << false;
        QTest::newRow("CWD cancelled") << int(C::Cwd) << "<cancel>" << "<none>" << none << none << true;
        QTest::newRow("CWD empty") << int(C::Cwd) << "" << "<none>" << none << none << true;
        QTest::newRow("QUOTE sends the typed line") << int(C::Quote) << "SYST" << "<none>" << QStringList{"SYST"}
                                                    << none << false;
        QTest::newRow("QUOTE refused") << int(C::Quote) << "SITE CHMOD 644 a.txt" << "<none>"
                                       << QStringList{"SITE CHMOD 644 a.txt"}
                                       << QStringList{"Error 502 Not implemented"} << false;
        QTest::newRow("QUOTE cancelled") << int(C::Quote) << "<cancel>" << "<none>" << none << none << true;
        QTest::newRow("LIST") << int(C::List) << "<none>" << "<none>" << QStringList{"LIST"}
                              << QStringList{"-rw-r--r--   1 ftp      ftp             5 Jan 02 10:30 a.txt"} << false;
        QTest::newRow("NLST") << int(C::Nlst) << "<none>" << "<none>" << QStringList{"NLST"} << QStringList{"a.txt"}
                              << false;
        QTest::newRow("RETR") << int(C::Retr) << "<none>" << "a.txt" << QStringList{"RETR a.txt"} << none << false;
        QTest::newRow("RETR of a missing file") << int(C::Retr) << "<none>" << "nope.txt"
                                                << QStringList{"RETR nope.txt"}
                                                << QStringList{"Error: 550 No such file"} << false;
        QTest::newRow("RETR cancelled") << int(C::Retr) << "<none>" << "<cancel>" << none << none << true;
        QTest::newRow("STOR") << int(C::Stor) << "<none>" << "up.txt" << QStringList{"STOR up.txt"} << none << false;
        QTest::newRow("STOR cancelled") << int(C::Stor) << "<none>" << "" << none << none << true;
    }
    void menuEntriesPutTheirCommandsOnTheWire()
    {
        QFETCH(int, command);
        QFETCH(QString, input);
        QFETCH(QString, name);
        QFETCH(QStringList, sent);
        QFETCH(QStringList, messages);
        QFETCH(bool, notice);
        Console c;
        c.server.put(QStringLiteral("a.txt"), "hello",
                     QDateTime(QDate(QDate::currentDate().year(), 1, 2), QTime(10, 30), Qt::UTC));
        QVERIFY(c.ftp.connectToServer());
        QVERIFY(c.ftp.changeFolder(QStringLiteral("/data")));
        QFile upload(c.local.filePath(QStringLiteral("up.txt")));
        QVERIFY(upload.open(QIODevice::WriteOnly) && upload.write("to the server") == 13);
        upload.close();
        if (input != QLatin1String("<none>"))
            c.prompts.expectInput(command == int(FtpConsole::Command::Cwd) ? FtpConsole::CwdPrompt
                                                                           : FtpConsole::QuotePrompt,
                                  answerOf(input));
        if (name != QLatin1String("<none>"))
            c.nameAnswer = answerOf(name);
        if (notice)
            c.prompts.expectMessage(FtpConsole::NothingEntered);
        QSignalSpy localRelist(c.console.get(), &FtpConsole::localRelistRequested);
        QSignalSpy remoteRelist(c.console.get(), &FtpConsole::remoteRelistRequested);
        QSignalSpy busy(c.console.get(), &FtpConsole::busyChanged);

        const qsizetype mark = c.server.commands.size();
        c.console->run(FtpConsole::Command(command));
        QCOMPARE(c.sentSince(mark), sent);
        QCOMPARE(c.messages, messages);
        VERIFY_PROMPTS_DONE(c.prompts);
        if (input != QLatin1String("<none>")) {
            QCOMPARE(c.prompts.records().first().title, FtpConsole::Title);
        }
        if (notice) {
            QCOMPARE(c.prompts.last().icon, PromptIcon::Information);
            QCOMPARE(c.prompts.last().text, QStringLiteral("No command entered, quiting"));
        }
        if (name != QLatin1String("<none>")) {
            const QString prompt = command == int(FtpConsole::Command::Retr) ? FtpConsole::ReceivePrompt
                                                                             : FtpConsole::SendPrompt;
            QCOMPARE(c.names, QStringList{prompt + QStringLiteral("|Remote Server Custom Command")});
        }
        // Only a manual transfer that worked relists a pane.
        const bool received = command == int(FtpConsole::Command::Retr) && name == QLatin1String("a.txt");
        const bool stored = command == int(FtpConsole::Command::Stor) && name == QLatin1String("up.txt");
        QCOMPARE(localRelist.size(), int(received));
        QCOMPARE(remoteRelist.size(), int(stored));
        if (received) {
            QFile got(c.local.filePath(QStringLiteral("a.txt")));
            QVERIFY(got.open(QIODevice::ReadOnly));
            QCOMPARE(got.readAll(), QByteArray("hello"));
        }
        if (stored)
            QTRY_COMPARE(c.server.files[QStringLiteral("up.txt")].bytes, QByteArray("to the server"));
        // The pointer is back to normal at the end.
        if (!busy.isEmpty())
            QCOMPARE(busy.last().at(0).toBool(), false);
    }

    // The command box: a line goes out unchanged and the box is emptied; an
    // empty box sends nothing; a refusal is reported with "Error no".
    void commandBoxSendsTheLineUnchanged_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("emptied");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("logged"); // a line the message list gets from the component
        QTest::newRow("NOOP") << "NOOP" << true << QStringList{"NOOP"} << QStringList{} << "200 NOOP ok.";
        QTest::newRow("empty box") << "" << false << QStringList{} << QStringList{} << "";
        QTest::newRow("refused") << "XYZ 1" << true << QStringList{"XYZ 1"}
                                 << QStringList{"Error no 502 Not implemented"} << "502 Not implemented";
        QTest::newRow("lowercase kept") << "syst" << true << QStringList{"syst"} << QStringList{} << "215 UNIX Type: L8";
        QTest::newRow("typed NLST gets a data connection")
            << "NLST" << true << QStringList{"NLST"} << QStringList{"a.txt"} << "226 Done";
    }
    void commandBoxSendsTheLineUnchanged()
    {
        QFETCH(QString, line);
        QFETCH(bool, emptied);
        QFETCH(QStringList, sent);
        QFETCH(QStringList, messages);
        QFETCH(QString, logged);
        Console c;
        c.server.put(QStringLiteral("a.txt"), "hello", QDateTime::currentDateTimeUtc());
        QVERIFY(c.ftp.connectToServer());
        QVERIFY(c.ftp.changeFolder(QStringLiteral("/data")));
        const qsizetype mark = c.server.commands.size();
        const qsizetype logMark = c.log.size();
        QCOMPARE(c.console->sendCustomLine(line), emptied);
        QCOMPARE(c.sentSince(mark), sent);
        QCOMPARE(c.messages, messages);
        if (!logged.isEmpty()) {
            QVERIFY2(c.log.mid(logMark).contains(line), qPrintable(c.log.mid(logMark).join(u'\n')));
            QVERIFY2(c.log.mid(logMark).contains(logged), qPrintable(c.log.mid(logMark).join(u'\n')));
        } else {
            QCOMPARE(c.log.size(), logMark);
        }
        VERIFY_PROMPTS_DONE(c.prompts);
    }

    void withoutAConnectionTheFailureIsReported()
    {
        Console c;
        c.console->run(FtpConsole::Command::Help);
        QVERIFY(c.console->sendCustomLine(QStringLiteral("NOOP")));
        QCOMPARE(c.messages, (QStringList{QStringLiteral("Error Not connected"), QStringLiteral("Error no Not connected")}));
        QCOMPARE(c.server.commands, QByteArrayList{});
    }
};

QTEST_GUILESS_MAIN(TestConsole)
#include "tst_console.moc"
