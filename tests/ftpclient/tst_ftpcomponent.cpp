// The FTP component against a scripted FTP server: busy refusal, abort
// during and between calls, hostile listing names and links in a recursive
// receive, a replaced local file kept whole when the receive fails, the
// port and password rules, and the account and password questions.
#include "ftpclient/ftpcomponent.h"

#include "fakeserver.h"
#include "platform/socketchannel.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray fileLine(const QByteArray &name, qint64 size)
{
    return "-rw-r--r--   1 ftp      ftp      " + QByteArray::number(size).rightJustified(8, ' ')
           + " Jan 02  2024 " + name + "\r\n";
}
QByteArray folderLine(const QByteArray &name)
{
    return "drwxr-xr-x   2 ftp      ftp          4096 Jan 02  2024 " + name + "\r\n";
}

// A scripted server over a small virtual tree. Data goes over a passive
// connection (EPSV). The control connection never waits for the data plan,
// so ABOR is answered while a transfer hangs.
class ScriptedFtp {
public:
    ScriptedFtp()
    {
        control.setTerminator("\r\n");
        control.setGreeting(FakePlan().send("220 Scripted server\r\n"));
        control.setResponder([this](FakeConnection &, const QByteArray &r) { return answer(r.trimmed()); });
        QObject::connect(&data, &FakeServer::newConnection, &data, [this](FakeConnection *c) {
            if (m_waitingData) {
                c->run(*m_waitingData);
                m_waitingData.reset();
            } else {
                m_freshData = c;
            }
        });
    }

    FakeServer control;
    FakeServer data;
    QByteArrayList commands;
    QByteArray passReply = "230 Logged in\r\n";
    QByteArray acctReply = "230 Account accepted\r\n";
    QHash<QByteArray, QByteArray> listings; // folder -> LIST lines
    QHash<QByteArray, QByteArray> files;    // path -> content
    QHash<QByteArray, QByteArray> aliases;  // a folder path whose CWD lands elsewhere
    QByteArray brokenPath;                  // sends half the file, then 426
    QByteArray hangingPath;                 // sends some bytes and then nothing

    bool saw(const QByteArray &verb) const
    {
        for (const QByteArray &c : commands)
            if (c.startsWith(verb))
                return true;
        return false;
    }

private:
    QByteArray resolve(const QByteArray &arg) const
    {
        QByteArray path = arg.startsWith('/') ? arg : (m_cwd == "/" ? "/" + arg : m_cwd + "/" + arg);
        return aliases.value(path, path);
    }

    void sendData(const FakePlan &plan)
    {
        if (m_freshData) {
            m_freshData->run(plan);
            m_freshData = nullptr;
        } else {
            m_waitingData = plan;
        }
    }

    FakePlan answer(const QByteArray &command)
    {
        commands.append(command);
        const QByteArray verb = command.split(' ').value(0).toUpper();
        const QByteArray arg = command.mid(verb.size()).trimmed();
        FakePlan plan;
        if (verb == "USER")
            return plan.send("331 Password required\r\n");
        if (verb == "PASS")
            return plan.send(passReply);
        if (verb == "ACCT")
            return plan.send(acctReply);
        if (verb == "FEAT")
            return plan.send("211-Features:\r\n SIZE\r\n EPSV\r\n211 End\r\n");
        if (verb == "TYPE")
            return plan.send("200 Type set\r\n");
        if (verb == "PWD")
            return plan.send("257 \"" + m_cwd + "\" is the current directory\r\n");
        if (verb == "CWD") {
            const QByteArray target = resolve(arg);
            if (!listings.contains(target))
                return plan.send("550 No such folder\r\n");
            m_cwd = target;
            return plan.send("250 Directory changed\r\n");
        }
        if (verb == "CDUP") {
            m_cwd = m_cwd.left(std::max<qsizetype>(1, m_cwd.lastIndexOf('/')));
            return plan.send("250 Directory changed\r\n");
        }
        if (verb == "EPSV")
            return plan.send("229 Entering Extended Passive Mode (|||" + QByteArray::number(data.port()) + "|)\r\n");
        if (verb == "PASV") {
            const quint16 p = data.port();
            return plan.send("227 Entering Passive Mode (127,0,0,1," + QByteArray::number(p / 256) + ","
                             + QByteArray::number(p % 256) + ")\r\n");
        }
        if (verb == "LIST" || verb == "NLST") {
            sendData(FakePlan().send(listings.value(m_cwd)).close());
            return plan.send("150 Here comes the listing\r\n").wait(30).send("226 Done\r\n");
        }
        if (verb == "RETR") {
            const QByteArray path = resolve(arg);
            if (!files.contains(path))
                return plan.send("550 Not a plain file\r\n");
            const QByteArray body = files.value(path);
            if (path == hangingPath) {
                sendData(FakePlan().send(body.left(1000)).stall());
                return plan.send("150 Opening data connection\r\n");
            }
            if (path == brokenPath) {
                sendData(FakePlan().send(body.left(body.size() / 2)).close());
                return plan.send("150 Opening data connection\r\n").wait(30).send("426 Connection lost\r\n");
            }
            sendData(FakePlan().send(body).close());
            return plan.send("150 Opening data connection\r\n").wait(30).send("226 Transfer complete\r\n");
        }
        if (verb == "ABOR")
            return plan.send("426 Transfer aborted\r\n226 ABOR successful\r\n");
        if (verb == "QUIT")
            return plan.send("221 Bye\r\n").close();
        return plan.send("502 Not implemented\r\n");
    }

    QByteArray m_cwd = "/";
    FakeConnection *m_freshData = nullptr;
    std::optional<FakePlan> m_waitingData;
};

// Plain sockets, no TLS.
class PlainSockets final : public SocketFactory {
public:
    QAbstractSocket *createSocket(QObject *parent) const override { return new QTcpSocket(parent); }
    void startEncryption(QAbstractSocket *, const QString &, Ready, Failed failed) const override
    {
        failed(TlsFailure{});
    }
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestFtpComponent : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FtpComponent> connectTo(ScriptedFtp &server, const QString &password = QStringLiteral("s3cret"))
    {
        auto c = std::make_unique<FtpComponent>(std::make_shared<PlainSockets>());
        c->serverAddress = QStringLiteral("127.0.0.1");
        c->serverPort = server.control.port();
        c->userName = QStringLiteral("joe");
        c->password = password;
        c->timing = {std::chrono::milliseconds(5000), std::chrono::milliseconds(5000),
                     std::chrono::milliseconds(5000)};
        return c;
    }

private Q_SLOTS:
    void busyCallIsRefusedAndAbortEndsTheRunningOne()
    {
        ScriptedFtp server;
        server.listings["/"] = fileLine("slow.bin", 100000);
        server.files["/slow.bin"] = QByteArray(100000, 'x');
        server.hangingPath = "/slow.bin";
        auto c = connectTo(server);
        QVERIFY2(c->connectToServer(), qPrintable(c->lastError().description));
        QCOMPARE(c->currentState(), qint32(FtpComponent::Idle));

        QTemporaryDir dir;
        bool nestedResult = true;
        quint32 nestedError = 0;
        qint32 stateDuring = -1;
        QElapsedTimer sinceAbort;
        QObject::connect(c.get(), &FtpComponent::transferStatus, c.get(), [&] {
            if (sinceAbort.isValid())
                return;
            stateDuring = c->currentState();
            nestedResult = c->changeFolder(QStringLiteral("elsewhere"));
            nestedError = c->lastError().number;
            sinceAbort.start();
            c->setAbort(true);
        });
        const bool ok = c->receiveFile(QStringLiteral("slow.bin"), 0, dir.filePath(QStringLiteral("slow.bin")));
        QVERIFY(!ok);
        QCOMPARE(c->lastError().number, FtpErrors::Aborted);
        QVERIFY(sinceAbort.isValid());
        QVERIFY2(sinceAbort.elapsed() < 1000, qPrintable(QString::number(sinceAbort.elapsed())));
        QVERIFY(!nestedResult);
        QCOMPARE(nestedError, FtpErrors::Busy);
        QCOMPARE(stateDuring, qint32(FtpComponent::Receiving));
        QVERIFY(!server.saw("CWD elsewhere"));
        QTRY_VERIFY_WITH_TIMEOUT(server.saw("ABOR"), 5000);

        // The session stays usable, and the abort does not carry over.
        QString folder;
        QVERIFY2(c->currentFolder(folder), qPrintable(c->lastError().description));
        QCOMPARE(folder, QStringLiteral("/"));
        QCOMPARE(c->currentState(), qint32(FtpComponent::Idle));
    }

    void abortBetweenCallsFailsOnlyTheNextCall()
    {
        ScriptedFtp server;
        server.listings["/"] = folderLine("pub");
        server.listings["/pub"] = QByteArray();
        auto c = connectTo(server);
        QVERIFY(c->connectToServer());
        QSignalSpy finished(c.get(), &FtpComponent::processFinished);

        c->setAbort(true);
        QVERIFY(!c->changeFolder(QStringLiteral("pub")));
        QCOMPARE(c->lastError().number, FtpErrors::Aborted);
        QVERIFY(!server.saw("CWD pub"));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(0).toUInt(), FtpErrors::Aborted);

        QVERIFY2(c->changeFolder(QStringLiteral("pub")), qPrintable(c->lastError().description));
        QString folder;
        QVERIFY(c->currentFolder(folder));
        QCOMPARE(folder, QStringLiteral("/pub"));

        // Cleared before the next call, an abort fails nothing.
        c->setAbort(true);
        c->setAbort(false);
        QVERIFY(c->changeToParentFolder());
    }

    void recursiveReceiveStaysInsideTheLocalFolder()
    {
        ScriptedFtp server;
        server.listings["/"] = folderLine("top");
        server.listings["/top"] = folderLine(".") + folderLine("..") + fileLine("good.txt", 5)
                                  + fileLine("../evil.txt", 4) + fileLine("..\\evil2.txt", 4)
                                  + "lrwxrwxrwx   1 ftp ftp 2 Jan 02  2024 up -> ..\r\n"
                                  + "lrwxrwxrwx   1 ftp ftp 8 Jan 02  2024 alias.txt -> good.txt\r\n"
                                  + folderLine("sub") + folderLine("loop") + folderLine("escape")
                                  + folderLine("empty");
        server.listings["/top/sub"] = fileLine("inner.txt", 6) + fileLine("..", 1);
        server.listings["/top/empty"] = QByteArray();
        // Folders the listing shows as folders that lead back up the tree.
        server.aliases["/top/loop"] = "/top";
        server.aliases["/top/escape"] = "/";
        server.files["/top/good.txt"] = "hello";
        server.files["/top/alias.txt"] = "hello";
        server.files["/top/sub/inner.txt"] = "inside";
        server.files["/top/../evil.txt"] = "evil";
        server.files["/evil.txt"] = "evil";

        QTemporaryDir scratch;
        const QString local = scratch.filePath(QStringLiteral("in/copy"));
        auto c = connectTo(server);
        QVERIFY(c->connectToServer());
        QStringList skipped;
        QObject::connect(c.get(), &FtpComponent::skippingFile, c.get(),
                         [&](const QString &name, const QString &, int) { skipped.append(name); });
        QVERIFY2(c->receiveFiles(QStringLiteral("top/*"), local, true), qPrintable(c->lastError().description));

        QCOMPARE(readAll(local + QStringLiteral("/good.txt")), QByteArray("hello"));
        QCOMPARE(readAll(local + QStringLiteral("/alias.txt")), QByteArray("hello"));
        QCOMPARE(readAll(local + QStringLiteral("/sub/inner.txt")), QByteArray("inside"));
        QVERIFY(QFileInfo(local + QStringLiteral("/empty")).isDir());
        QStringList everything;
        for (const QString &base : {scratch.path(), local}) {
            QDir dir(base);
            everything += dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        }
        std::sort(everything.begin(), everything.end());
        QCOMPARE(everything, QStringList({QStringLiteral("alias.txt"), QStringLiteral("empty"),
                                          QStringLiteral("good.txt"), QStringLiteral("in"), QStringLiteral("sub")}));
        QCOMPARE(QDir(scratch.filePath(QStringLiteral("in"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("copy")});
        for (const char *name : {"../evil.txt", "..\\evil2.txt", "up", "loop", "escape"})
            QVERIFY2(skipped.contains(QLatin1String(name)), name);
        QVERIFY(!server.saw("RETR ../evil.txt"));
        QVERIFY(!server.saw("CWD up"));

        // The remote side is back where the call started.
        QString folder;
        QVERIFY(c->currentFolder(folder));
        QCOMPARE(folder, QStringLiteral("/"));
    }

    void replacingALocalFileKeepsItUntilTheReceiveSucceeds_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::addColumn<bool>("broken");
        QTest::addColumn<bool>("expectOk");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray fresh = QByteArray("0123456789").repeated(10);
        QTest::newRow("replace, complete") << true << false << true << fresh;
        QTest::newRow("replace, broken: old file kept") << true << true << false << QByteArray("OLD CONTENT");
        QTest::newRow("new file, broken: part kept to resume") << false << true << false << fresh.left(50);
        QTest::newRow("new file, complete") << false << false << true << fresh;
    }

    void replacingALocalFileKeepsItUntilTheReceiveSucceeds()
    {
        QFETCH(bool, existing);
        QFETCH(bool, broken);
        QFETCH(bool, expectOk);
        QFETCH(QByteArray, expected);
        ScriptedFtp server;
        server.listings["/"] = fileLine("file.bin", 100);
        server.files["/file.bin"] = QByteArray("0123456789").repeated(10);
        if (broken)
            server.brokenPath = "/file.bin";
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("file.bin"));
        if (existing) {
            QFile f(target);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("OLD CONTENT");
        }
        auto c = connectTo(server);
        QVERIFY(c->connectToServer());
        QCOMPARE(c->receiveFile(QStringLiteral("file.bin"), 0, target), expectOk);
        if (!expectOk)
            QCOMPARE(c->lastError().number, FtpErrors::ServerRefused);
        QCOMPARE(readAll(target), expected);
        // No temporary file is left beside it.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("file.bin")});
    }

    void connectRules_data()
    {
        QTest::addColumn<QByteArray>("passReply");
        QTest::addColumn<QString>("answer");  // to the account or password question
        QTest::addColumn<bool>("zeroPort");
        QTest::addColumn<bool>("expectOk");
        QTest::addColumn<quint32>("expectError");
        QTest::addColumn<QByteArray>("expectCommand");
        QTest::newRow("port 0 refused") << QByteArray("230 ok\r\n") << QString() << true << false
                                        << FtpErrors::InvalidArgument << QByteArray();
        QTest::newRow("password echoed by the server")
            << QByteArray("230 Welcome, password s3cret accepted\r\n") << QString() << false << true << quint32(0)
            << QByteArray();
        QTest::newRow("account given") << QByteArray("332 Need account\r\n") << QStringLiteral("acct7") << false
                                       << true << quint32(0) << QByteArray("ACCT acct7");
        QTest::newRow("account refused")
            << QByteArray("332 Need account\r\n") << QString() << false << false << quint32(0) << QByteArray();
        QTest::newRow("password rejected, none given")
            << QByteArray("530 Login incorrect\r\n") << QString() << false << false << quint32(0) << QByteArray();
    }

    void connectRules()
    {
        QFETCH(QByteArray, passReply);
        QFETCH(QString, answer);
        QFETCH(bool, zeroPort);
        QFETCH(bool, expectOk);
        QFETCH(quint32, expectError);
        QFETCH(QByteArray, expectCommand);
        ScriptedFtp server;
        server.passReply = passReply;
        server.listings["/"] = QByteArray();
        auto c = connectTo(server);
        if (zeroPort)
            c->serverPort = 0;
        int questions = 0;
        QObject::connect(c.get(), &FtpComponent::accountRequired, c.get(), [&](QString *account) {
            ++questions;
            *account = answer;
        });
        QObject::connect(c.get(), &FtpComponent::invalidPassword, c.get(), [&](QString *newPassword) {
            ++questions;
            *newPassword = answer;
        });
        QStringList log;
        QObject::connect(c.get(), &FtpComponent::logLine, c.get(), [&](const QString &line) { log.append(line); });
        QCOMPARE(c->connectToServer(), expectOk);
        if (expectError)
            QCOMPARE(c->lastError().number, expectError);
        if (!expectOk)
            QVERIFY(!c->lastError().description.isEmpty());
        if (zeroPort) {
            QVERIFY(c->lastError().description.contains(QLatin1String("port")));
            QCOMPARE(server.control.connectionCount(), 0);
        } else {
            QCOMPARE(questions, passReply.startsWith("230") ? 0 : 1);
            QVERIFY(server.saw("PASS s3cret"));
            QVERIFY(log.contains(QStringLiteral("PASS ****")));
            if (passReply.contains("s3cret"))
                QVERIFY(log.join(u'\n').contains(QLatin1String("password **** accepted")));
        }
        if (!expectCommand.isEmpty())
            QVERIFY(server.saw(expectCommand));
        QCOMPARE(c->currentState(), qint32(expectOk ? FtpComponent::Idle : FtpComponent::NotConnected));
        // The password never reaches the log.
        for (const QString &line : std::as_const(log))
            QVERIFY2(!line.contains(QLatin1String("s3cret")), qPrintable(line));
    }

    void listingEntriesCarryTypeAndFollowTheMask()
    {
        ScriptedFtp server;
        server.listings["/"] = fileLine("a.txt", 12) + fileLine("b.bin", 7) + folderLine("docs.txt")
                               + "lrwxrwxrwx   1 ftp ftp 5 Jan 02  2024 l.txt -> a.txt\r\n" + "total 12\r\n";
        auto c = connectTo(server);
        QVERIFY(c->connectToServer());
        QStringList seen;
        QObject::connect(c.get(), &FtpComponent::listingEntry, c.get(),
                         [&](const QString &name, const QDateTime &date, qint64 size, int type, const QString &) {
            seen.append(QStringLiteral("%1:%2:%3:%4").arg(name).arg(size).arg(type).arg(date.date().year()));
        });
        QVERIFY(c->listFolderContents(QStringLiteral("*.t?t")));
        QCOMPARE(seen, QStringList({QStringLiteral("a.txt:12:0:2024"), QStringLiteral("docs.txt:4096:1:2024"),
                                    QStringLiteral("l.txt:5:2:2024")}));
        seen.clear();
        QVERIFY(c->listFolderContents(QString()));
        QCOMPARE(seen.size(), 4);
    }

    void callsWithoutAConnectionFail()
    {
        FtpComponent c(std::make_shared<PlainSockets>());
        QVERIFY(!c.changeFolder(QStringLiteral("x")));
        QCOMPARE(c.lastError().number, FtpErrors::NotConnected);
        QCOMPARE(c.currentState(), qint32(FtpComponent::NotConnected));
    }
};

QTEST_GUILESS_MAIN(TestFtpComponent)
#include "tst_ftpcomponent.moc"
