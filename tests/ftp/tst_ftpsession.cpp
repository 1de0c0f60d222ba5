// The FTP session against a scripted server: how each operation decides on
// each class of reply, replies cut at every byte or several in one chunk,
// the login conversation, and hostile or broken servers.

#include "ftpfileserver.h"
#include "httpfileserver.h"
#include "sessionrig.h"
#include "platform/tlssocketfactory.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <functional>
#include <map>

using namespace std::chrono_literals;

namespace {

using Replies = std::map<QByteArray, QByteArray>; // verb -> what the server answers

// Answers the verbs of the table before the file server's own logic.
void script(FtpFileServer &server, const Replies &replies)
{
    server.override = [replies](const QByteArray &command, FakePlan &plan) {
        const QByteArray verb = command.split(' ').value(0).toUpper();
        const auto it = replies.find(verb);
        if (it == replies.end())
            return false;
        plan.send(it->second);
        return true;
    };
}

FtpConnectSettings settingsFor(const FtpFileServer &server, bool passive = true)
{
    FtpConnectSettings s = plainSettings(QStringLiteral("127.0.0.1"), server.control.port(), passive);
    s.user = QStringLiteral("user");
    s.password = QStringLiteral("pw-секрет");
    return s;
}

QByteArrayList sentVerbs(const FtpFileServer &server)
{
    QByteArrayList verbs;
    for (const QByteArray &c : server.commands)
        verbs << c.split(' ').value(0);
    return verbs;
}

} // namespace

class TestFtpSession : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every reply class for the commands that take one reply, whole, a byte
    // at a time, and with a preliminary reply in the same chunk.
    void replyClasses_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("failure");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("payload"); // path, size or time as text; text for failures

        struct Row {
            const char *name, *operation, *verb, *reply;
            FtpFailure failure;
            int code;
            const char *payload;
        };
        const Row rows[] = {
            {"PWD 257", "pwd", "PWD", "257 \"/a \"\"b\"\" c\" is current\r\n", FtpFailure::None, 257, "/a \"b\" c"},
            {"PWD 257 no quotes", "pwd", "PWD", "257 /x\r\n", FtpFailure::Protocol, 257, ""},
            {"PWD 550", "pwd", "PWD", "550 No access\r\n", FtpFailure::Refused, 550, "No access"},
            {"CWD 250", "cwd", "CWD", "250 OK\r\n", FtpFailure::None, 250, "OK"},
            {"CWD multi-line", "cwd", "CWD", "250-first\r\n250-second\r\n250 end\r\n", FtpFailure::None, 250,
             "first\nsecond\nend"},
            {"CWD 1xx then 250", "cwd", "CWD", "150 wait\r\n250 OK\r\n", FtpFailure::None, 250, "OK"},
            {"CWD 350", "cwd", "CWD", "350 What?\r\n", FtpFailure::Protocol, 350, ""},
            {"CWD 450", "cwd", "CWD", "450 Busy\r\n", FtpFailure::Refused, 450, "Busy"},
            {"CWD 550", "cwd", "CWD", "550 No such folder\r\n", FtpFailure::Refused, 550, "No such folder"},
            {"CDUP 200", "cdup", "CDUP", "200 OK\r\n", FtpFailure::None, 200, "OK"},
            {"MKD 257", "mkd", "MKD", "257 \"/new\" created\r\n", FtpFailure::None, 257, "\"/new\" created"},
            {"MKD 550", "mkd", "MKD", "550 Exists\r\n", FtpFailure::Refused, 550, "Exists"},
            {"RMD 250", "rmd", "RMD", "250 Removed\r\n", FtpFailure::None, 250, "Removed"},
            {"DELE 250", "dele", "DELE", "250 Deleted\r\n", FtpFailure::None, 250, "Deleted"},
            {"DELE 450", "dele", "DELE", "450 Locked\r\n", FtpFailure::Refused, 450, "Locked"},
            {"SIZE 213", "size", "SIZE", "213 1234567890123\r\n", FtpFailure::None, 213, "1234567890123"},
            {"SIZE 213 garbage", "size", "SIZE", "213 lots\r\n", FtpFailure::Protocol, 213, ""},
            {"SIZE 550", "size", "SIZE", "550 Not a file\r\n", FtpFailure::Refused, 550, "Not a file"},
            {"MDTM 213", "mdtm", "MDTM", "213 20240131235958\r\n", FtpFailure::None, 213, "2024-01-31T23:59:58Z"},
            {"MDTM 213 fraction", "mdtm", "MDTM", "213 20240131235958.250\r\n", FtpFailure::None, 213,
             "2024-01-31T23:59:58.250Z"},
            {"MDTM 500", "mdtm", "MDTM", "500 Unknown\r\n", FtpFailure::Refused, 500, "Unknown"},
            {"RNFR 350 RNTO 250", "rename", "RNFR", "350 Ready\r\n", FtpFailure::None, 250, "Renamed"},
            {"RNFR 550", "rename", "RNFR", "550 No such file\r\n", FtpFailure::Refused, 550, "No such file"},
            {"RNFR 250", "rename", "RNFR", "250 Odd\r\n", FtpFailure::Protocol, 250, ""},
            {"RNFR 1xx then 350", "rename", "RNFR", "110 Mark\r\n350 Ready\r\n", FtpFailure::None, 250, "Renamed"},
            {"raw 200", "raw", "SITE", "200 Done\r\n", FtpFailure::None, 200, "Done"},
            {"raw 1xx then 226", "raw", "SITE", "125 Going\r\n226 Done\r\n", FtpFailure::None, 226, "Done"},
            {"raw 350", "raw", "SITE", "350 More\r\n", FtpFailure::None, 350, "More"},
            {"raw 502", "raw", "SITE", "502 No\r\n", FtpFailure::Refused, 502, "No"},
            {"TYPE 200", "type", "TYPE", "200 Type A\r\n", FtpFailure::None, 200, ""},
            {"TYPE 504", "type", "TYPE", "504 No ASCII\r\n", FtpFailure::Refused, 504, "No ASCII"},
        };
        for (const Row &r : rows) {
            for (const int piece : {0, 1}) {
                const QByteArray name = QByteArray(r.name) + (piece ? ", a byte at a time" : "");
                QTest::newRow(name.constData()) << QString::fromLatin1(r.operation) << QByteArray(r.verb)
                                                << QByteArray(r.reply) << int(r.failure) << r.code
                                                << QString::fromUtf8(r.payload);
            }
        }
    }

    void replyClasses()
    {
        QFETCH(QString, operation);
        QFETCH(QByteArray, verb);
        QFETCH(QByteArray, reply);
        QFETCH(int, failure);
        QFETCH(int, code);
        QFETCH(QString, payload);
        const bool bytewise = QByteArray(QTest::currentDataTag()).contains("byte at a time");

        FtpFileServer server(0);
        Replies replies{{verb, reply}, {"RNTO", "250 Renamed\r\n"}};
        server.override = [&](const QByteArray &command, FakePlan &plan) {
            const QByteArray v = command.split(' ').value(0).toUpper();
            const auto it = replies.find(v);
            if (it == replies.end())
                return false;
            if (bytewise)
                plan.sendInPieces(it->second, 1, 1);
            else
                plan.send(it->second);
            return true;
        };
        FtpSession session;
        QVERIFY(finish(session.connectToHost(settingsFor(server))).ok());

        using Start = std::function<FtpOperation *(FtpSession &)>;
        const std::map<QString, Start> operations{
            {"pwd", [](FtpSession &s) { return s.printWorkingDirectory(); }},
            {"cwd", [](FtpSession &s) { return s.changeDirectory(QStringLiteral("a\r\nDELE x")); }},
            {"cdup", [](FtpSession &s) { return s.changeToParent(); }},
            {"mkd", [](FtpSession &s) { return s.makeDirectory(QStringLiteral("new")); }},
            {"rmd", [](FtpSession &s) { return s.removeDirectory(QStringLiteral("old")); }},
            {"dele", [](FtpSession &s) { return s.deleteFile(QStringLiteral("f")); }},
            {"size", [](FtpSession &s) { return s.size(QStringLiteral("f")); }},
            {"mdtm", [](FtpSession &s) { return s.modificationTime(QStringLiteral("f")); }},
            {"rename", [](FtpSession &s) { return s.rename(QStringLiteral("old"), QStringLiteral("new")); }},
            {"raw", [](FtpSession &s) { return s.raw(QStringLiteral("SITE CHMOD 644 f")); }},
            {"type", [](FtpSession &s) { return s.setType(FtpTransferType::Ascii); }},
        };
        FtpOperation *op = operations.at(operation)(session);
        const auto outcome = watch(op);
        const FtpResult r = finish(op);
        QCOMPARE(int(r.failure), failure);
        QCOMPARE(r.code, code);
        if (r.failure == FtpFailure::None || r.failure == FtpFailure::Refused) {
            if (operation == QLatin1String("pwd") && r.ok())
                QCOMPARE(r.path, payload);
            else if (operation == QLatin1String("size") && r.ok())
                QCOMPARE(QString::number(r.size), payload);
            else if (operation == QLatin1String("mdtm") && r.ok())
                QCOMPARE(r.modified.toString(Qt::ISODateWithMs).remove(QStringLiteral(".000")), payload);
            else if (!payload.isEmpty())
                QCOMPARE(r.text, payload);
        }
        // A name's line end never reaches the server as one: one command.
        if (operation == QLatin1String("cwd"))
            QVERIFY(!server.commands.contains("DELE x"));
        // The session is still in step: the next command gets its own reply.
        server.override = nullptr;
        const FtpResult after = finish(session.size(QStringLiteral("f")));
        QVERIFY2(after.ok(), qPrintable(after.text));
        QCOMPARE(after.size, qint64(0));
        QCOMPARE(outcome->finishCount, 1);
    }

    void login_data()
    {
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<QByteArray>("userReply");
        QTest::addColumn<QByteArrayList>("passReplies"); // one per PASS sent
        QTest::addColumn<QByteArray>("acctReply");
        QTest::addColumn<QStringList>("answers"); // to the account/password requests; "-" gives up
        QTest::addColumn<int>("failure");
        QTest::addColumn<QByteArrayList>("verbs"); // sent, in order, up to FEAT

        const auto row = [](const char *name, const QByteArray &greeting, const QByteArray &user,
                            const QByteArrayList &pass, const QByteArray &acct, const QStringList &answers,
                            FtpFailure failure, const QByteArrayList &verbs) {
            QTest::newRow(name) << greeting << user << pass << acct << answers << int(failure) << verbs;
        };
        const QByteArray hi = "220 Hi\r\n", pw = "331 Password\r\n", account = "332 Account?\r\n";
        const QByteArrayList in{"230 Welcome\r\n"};
        const auto ok = FtpFailure::None, no = FtpFailure::Refused;
        row("USER 331, PASS 230", hi, pw, in, {}, {}, ok, {"USER", "PASS", "FEAT"});
        row("USER 1xx then 331, PASS 230", hi, "120 Hold on\r\n" + pw, in, {}, {}, ok, {"USER", "PASS", "FEAT"});
        row("230 without PASS", hi, "230 Come in\r\n", {}, {}, {}, ok, {"USER", "FEAT"});
        row("multi-line greeting after 120", "120 Soon\r\n220-Hello\r\n220-there\r\n220 ready\r\n", pw, in, {}, {},
            ok, {"USER", "PASS", "FEAT"});
        row("PASS 332, ACCT 230", hi, pw, {account}, "230 OK\r\n", {"acc"}, ok, {"USER", "PASS", "ACCT", "FEAT"});
        row("USER 332, account refused", hi, account, {}, "530 Bad account\r\n", {"acc"}, no, {"USER", "ACCT"});
        row("332, no account given", hi, pw, {account}, {}, {"-"}, no, {"USER", "PASS"});
        row("530, second password accepted", hi, pw, {"530 Wrong\r\n", "230 OK\r\n"}, {}, {"second"}, ok,
            {"USER", "PASS", "USER", "PASS", "FEAT"});
        row("530, given up", hi, pw, {"530 Wrong\r\n"}, {}, {"-"}, no, {"USER", "PASS"});
        row("USER 530", hi, "530 Anonymous only\r\n", {}, {}, {}, no, {"USER"});
        row("greeting 421", "421 Too many users\r\n", {}, {}, {}, {}, FtpFailure::Connection, {});
        row("greeting 554", "554 Go away\r\n", {}, {}, {}, {}, no, {});
    }

    void login()
    {
        QFETCH(QByteArray, greeting);
        QFETCH(QByteArray, userReply);
        QFETCH(QByteArrayList, passReplies);
        QFETCH(QByteArray, acctReply);
        QFETCH(QStringList, answers);
        QFETCH(int, failure);
        QFETCH(QByteArrayList, verbs);

        FtpFileServer server(0);
        server.setBanner(greeting);
        int passCount = 0;
        server.override = [&](const QByteArray &command, FakePlan &plan) {
            const QByteArray verb = command.split(' ').value(0);
            if (verb == "USER")
                plan.send(userReply);
            else if (verb == "PASS")
                plan.send(passReplies.value(passCount++, "530 No more\r\n"));
            else if (verb == "ACCT")
                plan.send(acctReply);
            else
                return false;
            return true;
        };
        FtpSession session;
        SessionLog log(session);
        int asked = 0;
        auto answer = [&]() -> std::optional<QString> {
            const QString a = answers.value(asked++);
            if (a == QLatin1String("-") || a.isEmpty())
                return std::nullopt;
            return a;
        };
        connect(&session, &FtpSession::accountRequired, this, [&] { session.provideAccount(answer()); });
        connect(&session, &FtpSession::passwordRejected, this, [&] { session.providePassword(answer()); });
        QSignalSpy gone(&session, &FtpSession::disconnected);

        const FtpResult r = finish(session.connectToHost(settingsFor(server)));
        QCOMPARE(int(r.failure), failure);
        QCOMPARE(asked, int(answers.size()));
        QByteArrayList sent = sentVerbs(server);
        sent.removeAll("QUIT");
        QCOMPARE(sent.mid(0, verbs.size()), verbs);
        if (r.ok()) {
            QCOMPARE(session.state(), FtpSession::State::Idle);
        } else {
            QCOMPARE(session.state(), FtpSession::State::Disconnected);
            QCOMPARE(gone.count(), 1);
        }
        // The password never reaches the log, whatever happened.
        QVERIFY(!log.contains(QStringLiteral("pw-")));
        QVERIFY(!log.contains(QStringLiteral("second")));
        if (verbs.contains("PASS"))
            QVERIFY(log.contains(QStringLiteral("PASS ****")));
    }

    void features()
    {
        FtpFileServer server(0);
        script(server, {{"FEAT", "211-Features:\r\n MDTM\r\n MLST type*;size*;modify*;\r\n REST STREAM\r\n SIZE\r\n"
                                 " UTF8\r\n EPSV\r\n211 End\r\n"},
                        {"OPTS", "200 UTF8 on\r\n"}});
        FtpSession session;
        QVERIFY(finish(session.connectToHost(settingsFor(server))).ok());
        const FtpFeatures f = session.features();
        QVERIFY(f.mdtm && f.mlsd && f.restStream && f.size && f.utf8 && f.epsv);
        QVERIFY(server.commands.contains("OPTS UTF8 ON"));
    }

    // Transfers and listings over a data connection, and the ways they break.
    void transfers_data()
    {
        QTest::addColumn<bool>("passive");
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("failure");
        for (const bool passive : {true, false}) {
            const QByteArray mode = passive ? "passive: " : "active: ";
            QTest::newRow(mode + "whole file") << passive << QStringLiteral("whole") << int(FtpFailure::None);
            QTest::newRow(mode + "replies a byte at a time")
                << passive << QStringLiteral("bytewise") << int(FtpFailure::None);
            QTest::newRow(mode + "resumed, 150 size not trusted")
                << passive << QStringLiteral("resume") << int(FtpFailure::None);
            QTest::newRow(mode + "426 after short data")
                << passive << QStringLiteral("426") << int(FtpFailure::Refused);
            QTest::newRow(mode + "451") << passive << QStringLiteral("451") << int(FtpFailure::Refused);
            QTest::newRow(mode + "550 no file") << passive << QStringLiteral("550") << int(FtpFailure::Refused);
            QTest::newRow(mode + "REST refused at offset")
                << passive << QStringLiteral("restRefused") << int(FtpFailure::Refused);
            QTest::newRow(mode + "stalled data") << passive << QStringLiteral("stall") << int(FtpFailure::Timeout);
            QTest::newRow(mode + "421 mid-transfer") << passive << QStringLiteral("421") << int(FtpFailure::Connection);
            QTest::newRow(mode + "abort mid-transfer") << passive << QStringLiteral("abort") << int(FtpFailure::Aborted);
        }
        QTest::newRow("passive: REST refused, offset 0 never asks")
            << true << QStringLiteral("restRefusedAtZero") << int(FtpFailure::None);
        QTest::newRow("passive: reply names a foreign host") << true << QStringLiteral("foreign") << int(FtpFailure::None);
    }

    void transfers()
    {
        QFETCH(bool, passive);
        QFETCH(QString, scenario);
        QFETCH(int, failure);
        const qint64 size = 100000;
        FtpFileServer server(size);
        server.pieceSize = 8192;
        qint64 offset = 0;
        if (scenario == QLatin1String("bytewise"))
            server.replyPieceSize = 1;
        if (scenario == QLatin1String("resume") || scenario == QLatin1String("restRefused"))
            offset = 40000;
        if (scenario == QLatin1String("426") || scenario == QLatin1String("451")) {
            server.stopDataAfter = 5000;
            server.replyAfterShortData = scenario == QLatin1String("426") ? "426 Connection closed\r\n"
                                                                          : "451 Local error\r\n";
        }
        if (scenario == QLatin1String("foreign"))
            server.passiveHost = "10,9,8,7";
        const bool stalls = scenario == QLatin1String("stall") || scenario == QLatin1String("421")
                            || scenario == QLatin1String("abort");
        std::optional<std::pair<QHostAddress, quint16>> active;
        server.override = [&](const QByteArray &command, FakePlan &plan) {
            const QByteArray verb = command.split(' ').value(0);
            if (verb == "PORT")
                active = FakeServer::parseFtpHostPort(command.mid(5));
            if (verb == "REST" && scenario.startsWith(QLatin1String("restRefused"))) {
                plan.send("502 No REST\r\n");
                return true;
            }
            if (verb == "RETR" && scenario == QLatin1String("550")) {
                plan.send("550 No such file\r\n");
                return true;
            }
            if (verb == "ABOR") {
                plan.send("426 Aborted\r\n226 ABOR done\r\n");
                return true;
            }
            if (verb == "RETR" && stalls) {
                plan.send("150 Opening (100000 bytes)\r\n");
                const FakePlan data = FakePlan().send(HttpFileServer::bytes(0, 3000)).stall();
                if (active)
                    plan.call([&server, &active, data] { server.control.connectOut(active->first.toString(), active->second, data); });
                else
                    plan.call([&server, data] {
                        server.passiveData.connection(server.passiveData.connectionCount() - 1)->run(data);
                    });
                if (scenario == QLatin1String("421"))
                    plan.wait(100).send("421 Shutting down\r\n");
                return true;
            }
            return false;
        };

        FtpSession session;
        SessionLog log(session);
        FtpConnectSettings settings = settingsFor(server, passive);
        if (scenario == QLatin1String("stall"))
            settings.timing.dataIdle = 300ms;
        QVERIFY(finish(session.connectToHost(settings)).ok());
        QSignalSpy gone(&session, &FtpSession::disconnected);

        QByteArray received = HttpFileServer::bytes(0, offset);
        QBuffer sink(&received);
        QVERIFY(sink.open(QIODevice::ReadWrite));
        sink.seek(offset);
        qint64 total = -2;
        FtpOperation *op = session.retrieve(QStringLiteral("file.bin"), offset, &sink);
        connect(op, &FtpOperation::progress, this, [&](qint64 done, qint64 t) {
            total = t;
            if (scenario == QLatin1String("abort") && done > 0)
                session.abort();
        });
        const FtpResult r = finish(op);
        QVERIFY2(int(r.failure) == failure, qPrintable(QString::number(int(r.failure)) + QLatin1Char(' ') + r.text));

        if (r.ok()) {
            QCOMPARE(received, HttpFileServer::bytes(0, size));
            QCOMPARE(r.size, size - offset);
            QCOMPARE(total, offset > 0 ? qint64(-1) : qint64(size)); // after REST the 150 count is not the size
        }
        if (scenario == QLatin1String("restRefusedAtZero"))
            QVERIFY(!sentVerbs(server).contains("REST"));
        if (scenario == QLatin1String("restRefused"))
            QVERIFY(!sentVerbs(server).contains("RETR"));
        if (scenario == QLatin1String("foreign"))
            QVERIFY(log.contains(QStringLiteral("10.9.8.7")));
        if (scenario == QLatin1String("421")) {
            QCOMPARE(gone.count(), 1);
            QCOMPARE(session.state(), FtpSession::State::Disconnected);
            QCOMPARE(finish(session.printWorkingDirectory()).failure, FtpFailure::NotConnected);
            return;
        }
        QCOMPARE(gone.count(), 0);
        // The session stays in step: the replies the broken transfer still
        // owed are consumed, and the next command gets its own reply.
        const FtpResult next = finish(session.size(QStringLiteral("file.bin")));
        QVERIFY2(next.ok(), qPrintable(next.text));
        QCOMPARE(next.size, size);
        if (scenario == QLatin1String("stall") || scenario == QLatin1String("abort"))
            QVERIFY(sentVerbs(server).contains("ABOR"));
    }

    void uploads_data()
    {
        QTest::addColumn<bool>("passive");
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<bool>("append");
        QTest::addColumn<bool>("ascii");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArrayList>("verbs"); // from TYPE on
        const QByteArray big = HttpFileServer::bytes(0, 300000);
        for (const bool passive : {true, false}) {
            const QByteArray mode = passive ? "passive: " : "active: ";
            const QByteArray dataVerb = passive ? "PASV" : "PORT";
            QTest::newRow(mode + "0 B") << passive << QByteArray() << qint64(0) << false << false << QByteArray()
                                        << QByteArrayList{"TYPE", dataVerb, "STOR"};
            QTest::newRow(mode + "300 kB") << passive << big << qint64(0) << false << false << big
                                           << QByteArrayList{"TYPE", dataVerb, "STOR"};
            QTest::newRow(mode + "resumed at 1000")
                << passive << big << qint64(1000) << false << false << big.mid(1000)
                << QByteArrayList{"TYPE", dataVerb, "REST", "STOR"};
            QTest::newRow(mode + "appended") << passive << big << qint64(1000) << true << false << big.mid(1000)
                                             << QByteArrayList{"TYPE", dataVerb, "APPE"};
            QTest::newRow(mode + "ASCII") << passive << QByteArray("a\nb\r\nc\n") << qint64(0) << false << true
                                          << QByteArray("a\r\nb\r\nc\r\n")
                                          << QByteArrayList{"TYPE", dataVerb, "STOR"};
        }
    }

    void uploads()
    {
        QFETCH(bool, passive);
        QFETCH(QByteArray, source);
        QFETCH(qint64, offset);
        QFETCH(bool, append);
        QFETCH(bool, ascii);
        QFETCH(QByteArray, wire);
        QFETCH(QByteArrayList, verbs);

        FtpFileServer server(0);
        std::optional<std::pair<QHostAddress, quint16>> active;
        QByteArray uploaded;
        bool closed = false;
        server.override = [&](const QByteArray &command, FakePlan &plan) {
            if (command.startsWith("PORT "))
                active = FakeServer::parseFtpHostPort(command.mid(5));
            if (!command.startsWith("STOR") && !command.startsWith("APPE"))
                return false;
            plan.send("150 Ok to send data\r\n");
            plan.call([&] {
                FakeConnection *c = active ? server.control.connectOut(active->first.toString(), active->second, FakePlan())
                                           : server.passiveData.connection(server.passiveData.connectionCount() - 1);
                auto done = [&server, &uploaded, &closed, c] {
                    uploaded = c->received();
                    closed = true;
                    server.control.connection(0)->run(FakePlan().send("226 Transfer complete\r\n"));
                };
                if (c->isOpen())
                    connect(c, &FakeConnection::finished, c, done);
                else
                    done();
            });
            return true;
        };
        FtpSession session;
        QVERIFY(finish(session.connectToHost(settingsFor(server, passive))).ok());
        QBuffer file(&source);
        QVERIFY(file.open(QIODevice::ReadOnly));
        file.seek(offset);
        qint64 reported = -1;
        FtpOperation *op = session.store(&file, QStringLiteral("up.bin"), offset, append,
                                         ascii ? FtpTransferType::Ascii : FtpTransferType::Binary);
        connect(op, &FtpOperation::progress, this, [&](qint64 done, qint64 total) {
            reported = done;
            QCOMPARE(total, qint64(source.size() - offset));
        });
        const FtpResult r = finish(op);
        QVERIFY2(r.ok(), qPrintable(r.text));
        QVERIFY(closed);
        QCOMPARE(uploaded, wire);
        QCOMPARE(r.size, qint64(source.size() - offset));
        if (!source.isEmpty())
            QCOMPARE(reported, r.size);
        QByteArrayList sent = sentVerbs(server);
        sent = sent.mid(sent.indexOf("TYPE"));
        sent.removeAll("EPSV");
        QCOMPARE(sent, verbs);
        QCOMPARE(server.commands.contains("TYPE A"), ascii);
        if (offset > 0 && !append)
            QVERIFY(server.commands.contains("REST " + QByteArray::number(offset)));
    }

    // A text file received in ASCII type: CR LF becomes LF, a listing's
    // bytes come as they are.
    void asciiReceive()
    {
        FtpFileServer server(0);
        const QByteArray wire = "line 1\r\nline 2\r\n\r\nend\r";
        server.override = [&](const QByteArray &command, FakePlan &plan) {
            if (!command.startsWith("RETR") && !command.startsWith("LIST"))
                return false;
            plan.send("150 Here\r\n");
            plan.call([&] {
                server.passiveData.connection(server.passiveData.connectionCount() - 1)
                    ->run(FakePlan().sendInPieces(wire, 3, 0).close());
            });
            plan.wait(30).send("226 Done\r\n");
            return true;
        };
        FtpSession session;
        QVERIFY(finish(session.connectToHost(settingsFor(server))).ok());
        QByteArray text;
        QBuffer sink(&text);
        QVERIFY(sink.open(QIODevice::WriteOnly));
        const FtpResult r = finish(session.retrieve(QStringLiteral("t.txt"), 0, &sink, FtpTransferType::Ascii));
        QVERIFY2(r.ok(), qPrintable(r.text));
        QCOMPARE(text, QByteArray("line 1\nline 2\n\nend\r"));
        QCOMPARE(r.size, qint64(wire.size()));
        QVERIFY(server.commands.contains("TYPE A"));
        const FtpResult listing = finish(session.list(FtpSession::ListKind::List, QStringLiteral("-la dir")));
        QVERIFY2(listing.ok(), qPrintable(listing.text));
        QCOMPARE(listing.listing, wire);
        QVERIFY(server.commands.contains("LIST -la dir"));
        // EPSV was refused once (502); the second transfer went to PASV directly.
        QCOMPARE(server.commands.count("EPSV"), 1);
        QCOMPARE(server.commands.count("PASV"), 2);
    }

    // TLS asked for is never dropped for a plain login.
    void tlsRefused_data()
    {
        QTest::addColumn<int>("security");
        QTest::addColumn<QByteArray>("authTls");
        QTest::addColumn<QByteArray>("authSsl");
        QTest::addColumn<int>("failure");
        QTest::addColumn<QByteArrayList>("sent");
        QTest::newRow("AUTH TLS 530") << int(FtpSecurity::ExplicitTls) << QByteArray("530 No TLS\r\n") << QByteArray()
                                      << int(FtpFailure::Refused) << QByteArrayList{"AUTH TLS"};
        QTest::newRow("504, AUTH SSL 504") << int(FtpSecurity::ExplicitTls) << QByteArray("504 Unknown\r\n")
                                           << QByteArray("504 Unknown\r\n") << int(FtpFailure::Refused)
                                           << QByteArrayList{"AUTH TLS", "AUTH SSL"};
        QTest::newRow("234 but no handshake") << int(FtpSecurity::ExplicitTls) << QByteArray("234 Go ahead\r\n")
                                              << QByteArray() << int(FtpFailure::Tls) << QByteArrayList{"AUTH TLS"};
        QTest::newRow("implicit, plain server") << int(FtpSecurity::ImplicitTls) << QByteArray() << QByteArray()
                                                << int(FtpFailure::Tls) << QByteArrayList{};
    }

    void tlsRefused()
    {
        QFETCH(int, security);
        QFETCH(QByteArray, authTls);
        QFETCH(QByteArray, authSsl);
        QFETCH(int, failure);
        QFETCH(QByteArrayList, sent);
        FtpFileServer server(0);
        script(server, {{"AUTH", QByteArray()}});
        server.override = [&](const QByteArray &command, FakePlan &plan) {
            if (command == "AUTH TLS")
                plan.send(authTls);
            else if (command == "AUTH SSL")
                plan.send(authSsl);
            else
                return false;
            if (authTls.startsWith("234"))
                plan.send("this is not a TLS record\r\n").close();
            return true;
        };
        FtpSession session;
        FtpConnectSettings settings = settingsFor(server);
        settings.security = FtpSecurity(security);
        settings.sockets = std::make_shared<TlsSocketFactory>();
        settings.timing.connect = 5s;
        const FtpResult r = finish(session.connectToHost(settings));
        QCOMPARE(int(r.failure), failure);
        QCOMPARE(r.tls.has_value(), failure == int(FtpFailure::Tls));
        if (r.tls)
            QVERIFY(!r.tls->errors.isEmpty());
        QCOMPARE(server.commands, sent);
        QCOMPARE(session.state(), FtpSession::State::Disconnected);
    }

    void impossiblePassivePort_data()
    {
        QTest::addColumn<QByteArray>("epsv");
        QTest::addColumn<QByteArray>("pasv");
        QTest::newRow("PASV port 0") << QByteArray("502 No EPSV\r\n")
                                     << QByteArray("227 Entering Passive Mode (127,0,0,1,0,0)\r\n");
        QTest::newRow("PASV number over 255") << QByteArray("502 No EPSV\r\n")
                                              << QByteArray("227 Entering Passive Mode (127,0,0,1,256,1)\r\n");
        QTest::newRow("EPSV port 70000") << QByteArray("229 Extended (|||70000|)\r\n") << QByteArray();
        QTest::newRow("EPSV port 0") << QByteArray("229 Extended (|||0|)\r\n") << QByteArray();
    }

    void impossiblePassivePort()
    {
        QFETCH(QByteArray, epsv);
        QFETCH(QByteArray, pasv);
        FtpFileServer server(10);
        Replies replies{{"EPSV", epsv}};
        if (!pasv.isEmpty())
            replies["PASV"] = pasv;
        script(server, replies);
        FtpSession session;
        QVERIFY(finish(session.connectToHost(settingsFor(server))).ok());
        QBuffer sink;
        QVERIFY(sink.open(QIODevice::WriteOnly));
        const FtpResult r = finish(session.list(FtpSession::ListKind::List), 5000);
        QCOMPARE(r.failure, FtpFailure::Protocol);
        QVERIFY2(r.text.contains(QStringLiteral("no usable port")), qPrintable(r.text));
        QCOMPARE(server.passiveData.connectionCount(), 0);
        QVERIFY(!sentVerbs(server).contains("LIST"));
    }

    // Active mode: a connection from anywhere but the server is dropped.
    void activeRefusesStrangers()
    {
        FtpFileServer server(20);
        std::optional<std::pair<QHostAddress, quint16>> target;
        server.override = [&](const QByteArray &command, FakePlan &plan) {
            if (command.startsWith("PORT "))
                target = FakeServer::parseFtpHostPort(command.mid(5));
            if (!command.startsWith("RETR"))
                return false;
            plan.send("150 Here it comes\r\n");
            return true;
        };
        FtpSession session;
        SessionLog log(session);
        FtpConnectSettings settings = settingsFor(server, false);
        settings.host = QStringLiteral("127.0.0.1");
        settings.timing.dataIdle = 10s;
        QVERIFY(finish(session.connectToHost(settings)).ok());
        QByteArray received;
        QBuffer sink(&received);
        QVERIFY(sink.open(QIODevice::WriteOnly));
        FtpOperation *op = session.retrieve(QStringLiteral("file.bin"), 0, &sink);
        const auto outcome = watch(op);
        QTRY_VERIFY_WITH_TIMEOUT(target.has_value(), 5000);

        // A stranger on another loopback address connects first and offers bytes.
        QTcpSocket stranger;
        QVERIFY(stranger.bind(QHostAddress(QStringLiteral("127.0.0.2"))));
        stranger.connectToHost(target->first, target->second);
        QVERIFY(stranger.waitForConnected(3000));
        stranger.write("evil bytes");
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("Refused a data connection from 127.0.0.2")), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(stranger.state() == QAbstractSocket::UnconnectedState, 5000);

        // The server's own connection still gets in.
        server.control.connectOut(target->first.toString(), target->second, FakePlan().send("good").close());
        server.control.connection(0)->run(FakePlan().send("226 Done\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(outcome->finished, 5000);
        QVERIFY2(outcome->result.ok(), qPrintable(outcome->result.text));
        QCOMPARE(received, QByteArray("good"));
    }

    void droppedOrSilentControl_data()
    {
        QTest::addColumn<bool>("drop");
        QTest::newRow("dropped") << true;
        QTest::newRow("no reply") << false;
    }

    void droppedOrSilentControl()
    {
        QFETCH(bool, drop);
        FtpFileServer server(0);
        server.override = [drop](const QByteArray &command, FakePlan &plan) {
            if (!command.startsWith("CWD"))
                return false;
            if (drop)
                plan.drop();
            else
                plan.stall();
            return true;
        };
        FtpSession session;
        FtpConnectSettings settings = settingsFor(server);
        settings.timing.reply = 300ms;
        QVERIFY(finish(session.connectToHost(settings)).ok());
        QSignalSpy gone(&session, &FtpSession::disconnected);
        FtpOperation *queued = nullptr;
        const auto first = watch(session.changeDirectory(QStringLiteral("x")));
        queued = session.printWorkingDirectory();
        const auto second = watch(queued);
        QTRY_VERIFY_WITH_TIMEOUT(first->finished && second->finished, 5000);
        QCOMPARE(first->result.failure, drop ? FtpFailure::Connection : FtpFailure::Timeout);
        QCOMPARE(second->result.failure, FtpFailure::NotConnected);
        QCOMPARE(gone.count(), 1);
        QCOMPARE(session.state(), FtpSession::State::Disconnected);
    }

    // An abort at each point of a command's exchange: as the command is
    // logged (it is then never sent), while the server holds its reply, and
    // in a transfer's set-up (ABOR goes out). The replies still owed are read
    // before anything else is sent: the next commands get their own replies.
    void abortKeepsRepliesInStep_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("trigger"); // abort when this line is logged; empty: once the reply is held
        QTest::addColumn<QByteArray>("held"); // the verb whose reply the server holds until the test sends it
        QTest::newRow("DELE, as it is logged") << "dele" << "DELE f" << QByteArray("DELE");
        QTest::newRow("DELE, its reply held") << "dele" << QString() << QByteArray("DELE");
        QTest::newRow("MKD, its reply held") << "mkd" << QString() << QByteArray("MKD");
        QTest::newRow("RNTO, as it is logged") << "rename" << "RNTO new" << QByteArray("RNTO");
        QTest::newRow("download, as EPSV is logged") << "retrieve" << "EPSV" << QByteArray("EPSV");
        QTest::newRow("download, its TYPE reply held") << "retrieve" << QString() << QByteArray("TYPE");
    }

    void abortKeepsRepliesInStep()
    {
        QFETCH(QString, operation);
        QFETCH(QString, trigger);
        QFETCH(QByteArray, held);
        const std::map<QByteArray, QByteArray> heldReplies{
            {"DELE", "250 Deleted\r\n"}, {"MKD", "257 \"/new\" created\r\n"}, {"RNTO", "250 Renamed\r\n"},
            {"EPSV", "502 No EPSV\r\n"}, {"TYPE", "200 Type set to I\r\n"}};
        FtpFileServer server(1000);
        bool holding = false;
        bool released = false;
        bool aborted = false; // only the aborted operation's reply is held
        // The held reply goes out when the test says so, or, as the server
        // answers in order, before the reply to any later command.
        const auto release = [&](FakePlan &plan) {
            if (holding && !released)
                plan.send(heldReplies.at(held));
            released = holding;
        };
        server.override = [&](const QByteArray &command, FakePlan &plan) {
            const QByteArray verb = command.split(' ').value(0);
            if (verb == held && !holding && !aborted)
                return holding = true;
            release(plan);
            const Replies replies{{"PWD", "257 \"/upload\" is the current directory\r\n"},
                                  {"ABOR", "225 No transfer to ABOR\r\n"},
                                  {"RNFR", "350 Ready\r\n"},
                                  {"RNTO", "250 Renamed\r\n"},
                                  {"DELE", "250 Deleted\r\n"}};
            const auto it = replies.find(verb);
            if (it != replies.end())
                plan.send(it->second);
            return it != replies.end(); // else the file server answers after the held reply
        };
        FtpSession session;
        QVERIFY(finish(session.connectToHost(settingsFor(server))).ok());
        QObject scope;
        bool fired = false;
        connect(&session, &FtpSession::logLine, &scope, [&](const QString &line) {
            if (line == trigger && !fired) {
                fired = true;
                session.abort();
            }
        });

        QByteArray first;
        QBuffer firstSink(&first);
        QVERIFY(firstSink.open(QIODevice::WriteOnly));
        FtpOperation *op = operation == QLatin1String("dele")  ? session.deleteFile(QStringLiteral("f"))
                           : operation == QLatin1String("mkd") ? session.makeDirectory(QStringLiteral("new"))
                           : operation == QLatin1String("rename")
                               ? session.rename(QStringLiteral("old"), QStringLiteral("new"))
                               : session.retrieve(QStringLiteral("file.bin"), 0, &firstSink);
        const auto outcome = watch(op);
        if (trigger.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(holding, 5000);
            session.abort();
        }
        QTRY_VERIFY_WITH_TIMEOUT(outcome->finished, 5000);
        QCOMPARE(outcome->result.failure, FtpFailure::Aborted);
        aborted = true;
        if (!trigger.isEmpty())
            QVERIFY(!server.commands.contains(trigger.toUtf8()));

        // The next commands are queued at once; a reply still held comes after.
        FtpOperation *pwd = session.printWorkingDirectory();
        QByteArray received;
        QBuffer sink(&received);
        QVERIFY(sink.open(QIODevice::WriteOnly));
        FtpOperation *get = session.retrieve(QStringLiteral("file.bin"), 0, &sink);
        FakePlan later;
        release(later);
        server.control.connection(0)->run(later);
        const FtpResult where = finish(pwd);
        QVERIFY2(where.ok(), qPrintable(where.text));
        QCOMPARE(where.path, QStringLiteral("/upload"));
        const FtpResult got = finish(get);
        QVERIFY2(got.ok(), qPrintable(got.text));
        QCOMPARE(received, HttpFileServer::bytes(0, 1000));
        QCOMPARE(sentVerbs(server).count("ABOR"), operation == QLatin1String("retrieve") ? 1 : 0);
        QCOMPARE(outcome->finishCount, 1);
        QCOMPARE(session.state(), FtpSession::State::Idle);
    }

    // The owner may delete the session from a finished handler: what was
    // queued still finishes once, and nothing touches the dead session.
    void deletedFromFinishedHandler()
    {
        FtpFileServer server(0);
        script(server, {{"CWD", "421 Bye\r\n"}});
        auto *session = new FtpSession;
        QPointer<FtpSession> guard(session);
        QVERIFY(finish(session->connectToHost(settingsFor(server))).ok());
        FtpOperation *first = session->changeDirectory(QStringLiteral("x"));
        const auto second = watch(session->printWorkingDirectory());
        const auto outcome = watch(first);
        connect(first, &FtpOperation::finished, this, [session] { delete session; });
        QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), 5000);
        QVERIFY(outcome->finished);
        QCOMPARE(outcome->result.failure, FtpFailure::Connection);
        QCOMPARE(outcome->result.code, 421);
        QVERIFY(second->finished);
        QCOMPARE(second->finishCount, 1);
        QVERIFY(!second->result.ok());
    }

    void rawRefusesLineEnds()
    {
        FtpFileServer server(0);
        FtpSession session;
        QVERIFY(finish(session.connectToHost(settingsFor(server))).ok());
        const FtpResult r = finish(session.raw(QStringLiteral("NOOP\r\nDELE x")));
        QCOMPARE(r.failure, FtpFailure::Protocol);
        QVERIFY(!sentVerbs(server).contains("NOOP"));
        QVERIFY(!sentVerbs(server).contains("DELE"));
    }

    void notConnected()
    {
        FtpSession session;
        QCOMPARE(finish(session.printWorkingDirectory()).failure, FtpFailure::NotConnected);
        QTcpServer closedPort;
        QVERIFY(closedPort.listen(QHostAddress::LocalHost));
        const quint16 port = closedPort.serverPort();
        closedPort.close();
        const FtpResult r = finish(session.connectToHost(plainSettings(QStringLiteral("127.0.0.1"), port)));
        QCOMPARE(r.failure, FtpFailure::Connection);
        QCOMPARE(session.state(), FtpSession::State::Disconnected);
    }
};

QTEST_GUILESS_MAIN(TestFtpSession)
#include "tst_ftpsession.moc"
