#include "download/ftpprotocol.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <limits>

Q_DECLARE_METATYPE(FtpLoginState)
Q_DECLARE_METATYPE(FtpLoginContext)
Q_DECLARE_METATYPE(FtpLoginStep)
Q_DECLARE_METATYPE(FtpTransferProgress)
Q_DECLARE_METATYPE(FtpTransferEnd)
Q_DECLARE_METATYPE(std::optional<FtpPassiveTarget>)
Q_DECLARE_METATYPE(std::optional<qint64>)

namespace {

// Captions that show which identifier was looked up.
QString taggedCaption(const QString &id, const QString &defaultText)
{
    return id + QLatin1Char('|') + defaultText;
}

// A status as the state machine gives it: a caption to look up.
TransferStatus tag(const char *id, const char *text)
{
    TransferStatus status;
    status.captionId = QString::fromLatin1(id);
    status.defaultText = QString::fromLatin1(text);
    return status;
}

TransferStatus plain(const QString &text)
{
    TransferStatus status;
    status.text = text;
    return status;
}

// A language file: its texts never keep a blank at either end.
QString translated(const QString &id, const QString &defaultText)
{
    if (id == QLatin1String("11045"))
        return QStringLiteral("kann sich nicht anmelden.");
    if (id == QLatin1String("11042"))
        return QStringLiteral("Datei nicht gefunden");
    if (id == QLatin1String("11047"))
        return QStringLiteral("Benutzer ");
    return defaultText.trimmed();
}

// Replies as "code:text" lines, so a mismatch shows what was read.
QByteArrayList describe(const QList<FtpReply> &replies)
{
    QByteArrayList out;
    for (const FtpReply &r : replies)
        out.append(QByteArray::number(r.code) + ':' + r.text);
    return out;
}

QString opt(const std::optional<TransferStatus> &status)
{
    if (!status)
        return QStringLiteral("-");
    return QStringLiteral("[id=%1 default=\"%2\" prefix=\"%3\" suffix=\"%4\" text=\"%5\"]")
        .arg(status->captionId, status->defaultText, status->prefix, status->suffix, status->text);
}

QString describe(const FtpLoginState &s)
{
    return QStringLiteral("state=%1 pasvDone=%2 portSent=%3 resumeSet=%4 start=%5 pos=%6 dataPort=%7 announced=%8")
        .arg(s.intFTPState)
        .arg(s.blnPasvDone)
        .arg(s.blnPortSent)
        .arg(s.blnResumeSet)
        .arg(s.lngSegStart)
        .arg(s.lngSegPos)
        .arg(s.sngDataPort)
        .arg(s.announcedSize);
}

// Every field of a step, one per line, so QCOMPARE points at the difference.
QStringList describe(const FtpLoginStep &s)
{
    QStringList out;
    out << describe(s.next);
    out << QStringLiteral("commands=") + QString::fromLatin1(s.commands.join('|'));
    out << QStringLiteral("dataSide=%1 listenPort=%2 sendPort=%3 passive=%4:%5 closeControl=%6")
               .arg(int(s.dataSide))
               .arg(s.listenPort)
               .arg(s.sendPortCommand)
               .arg(s.passive.host)
               .arg(s.passive.port)
               .arg(s.closeControl);
    out << QStringLiteral("status=") + opt(s.status) << QStringLiteral("row=") + opt(s.rowStatus)
        << QStringLiteral("resume=") + opt(s.resumeLabel) << QStringLiteral("box=") + opt(s.messageBox);
    out << QStringLiteral("beep=%1 showUrl=%2 pause=%3 stop=%4 stopShowsClose=%5")
               .arg(s.beep)
               .arg(s.showUrl)
               .arg(s.pauseEnabled ? QString::number(*s.pauseEnabled) : QStringLiteral("-"))
               .arg(s.stopEnabled ? QString::number(*s.stopEnabled) : QStringLiteral("-"))
               .arg(s.stopShowsClose);
    out << QStringLiteral("timeout=%1 stall=%2 begin=%3 size=%4 confirmed=%5 outcome=%6")
               .arg(int(s.timeout))
               .arg(int(s.stall))
               .arg(s.beginTransfer)
               .arg(s.transferSize)
               .arg(s.transferConfirmed)
               .arg(int(s.outcome));
    return out;
}

FtpLoginContext anonymous()
{
    FtpLoginContext c;
    c.strUserName = QStringLiteral("anonymous");
    c.strPassword = QStringLiteral("tessel@localhost");
    c.strFilePath = QStringLiteral("pub/file.bin");
    c.Rollback = 4096;
    return c;
}

FtpLoginState atState(int code)
{
    FtpLoginState s;
    s.intFTPState = code;
    return s;
}

// Plays the download job against a list of server chunks: reads replies,
// runs the state machine, and for an active data side "binds" the port the
// state machine asks for and sends the PORT for it. The transcript shows
// each reply's code and the commands it caused: "220>USER x".
struct LoginRun {
    QStringList transcript;
    QByteArrayList commands;
    FtpLoginState state;
    QList<FtpLoginStep> steps;
};

LoginRun runLogin(const QByteArrayList &chunks, FtpLoginState state, const FtpLoginContext &context, bool perByte)
{
    LoginRun run;
    FtpReplyReader reader;
    auto take = [&](const QList<FtpReply> &replies) {
        for (const FtpReply &reply : replies) {
            FtpLoginStep step = StartLoginFTP(reply, state, context);
            QByteArrayList sent = step.commands;
            if (step.dataSide == FtpLoginStep::DataSide::Listen && step.sendPortCommand) {
                const quint16 port = FindPort([] { return 0.0; }).sngDataPort;
                sent += activeModeCommands(QHostAddress(QStringLiteral("127.0.0.1")), port);
                step.next.sngDataPort = port;
            }
            QStringList lines;
            for (const QByteArray &c : sent)
                lines << QString::fromUtf8(c.chopped(2));
            run.transcript << QString::number(reply.code) + QLatin1Char('>') + lines.join(QLatin1Char(';'));
            run.commands += sent;
            state = step.next;
            run.steps << step;
        }
    };
    for (const QByteArray &chunk : chunks) {
        if (perByte) {
            for (char c : chunk)
                take(reader.feed(QByteArrayView(&c, 1)));
        } else {
            take(reader.feed(chunk));
        }
    }
    run.state = state;
    return run;
}

const QByteArrayList ActiveReplies = {
    "220 test server ready\r\n",
    "331 Please specify the password.\r\n",
    "230 Login successful.\r\n",
    "200 PORT command successful. Consider using PASV.\r\n",
    "200 Switching to Binary mode.\r\n",
    "350 Restart position accepted (0).\r\n",
    "150 Opening BINARY mode data connection for pub/file.bin (1048576 bytes).\r\n",
    "226 Transfer complete.\r\n",
};

const QStringList ActiveTranscript = {
    "220>USER anonymous",
    "331>PASS tessel@localhost",
    "230>PORT 127,0,0,1,12,6;TYPE I",
    "200>REST 0",
    "200>",
    "350>RETR pub/file.bin",
    "150>",
    "226>",
};

} // namespace

class TestFtpProtocol : public QObject {
    Q_OBJECT

private slots:
    void replyReader_data();
    void replyReader();
    void replyReaderSplitAnywhere();
    void replyReaderCap_data();
    void replyReaderCap();
    void replyReaderNoise();

    void command_data();
    void command();

    void passiveReply_data();
    void passiveReply();
    void size150_data();
    void size150();
    void size213_data();
    void size213();

    void findPort_data();
    void findPort();
    void findPortDefaultSource();
    void portCandidates_data();
    void portCandidates();
    void portCommandText_data();
    void portCommandText();

    void positions_data();
    void positions();

    void replyTable_data();
    void replyTable();

    void statusTexts_data();
    void statusTexts();

    void loginSequence_data();
    void loginSequence();

    void transferEnd_data();
    void transferEnd();
};

// --- reply reader ---

void TestFtpProtocol::replyReader_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QByteArrayList>("replies");

    QTest::newRow("one line") << QByteArrayList{"220 ready\r\n"} << QByteArrayList{"220:220 ready\r\n"};
    QTest::newRow("bare LF") << QByteArrayList{"331 password\n"} << QByteArrayList{"331:331 password\n"};
    QTest::newRow("code alone") << QByteArrayList{"200\r\n"} << QByteArrayList{"200:200\r\n"};
    QTest::newRow("no line end yet") << QByteArrayList{"220 ready"} << QByteArrayList{};
    QTest::newRow("CR without LF yet") << QByteArrayList{"220 ready\r"} << QByteArrayList{};
    QTest::newRow("line end split") << QByteArrayList{"220 ready\r", "\n"} << QByteArrayList{"220:220 ready\r\n"};
    QTest::newRow("multi-line banner, blank after code")
        << QByteArrayList{"220-line one\r\n220-line two\r\n220 \r\n"}
        << QByteArrayList{"220:220-line one\r\n220-line two\r\n220 \r\n"};
    QTest::newRow("multi-line ends on the code alone")
        << QByteArrayList{"220-hello\r\n220\r\n"} << QByteArrayList{"220:220-hello\r\n220\r\n"};
    QTest::newRow("inner lines with other codes and indents")
        << QByteArrayList{"230-Welcome\r\n 230 indented\r\n150 not a reply\r\n2300 no\r\n230-more\r\n230 done\r\n"}
        << QByteArrayList{"230:230-Welcome\r\n 230 indented\r\n150 not a reply\r\n2300 no\r\n230-more\r\n230 done\r\n"};
    QTest::newRow("multi-line split over chunks")
        << QByteArrayList{"220-a\r", "\n22", "0-b\r\n", "220 c\r\n"} << QByteArrayList{"220:220-a\r\n220-b\r\n220 c\r\n"};
    QTest::newRow("several replies in one chunk")
        << QByteArrayList{"200 PORT ok\r\n200 Binary\r\n350 Restart\r\n"}
        << QByteArrayList{"200:200 PORT ok\r\n", "200:200 Binary\r\n", "350:350 Restart\r\n"};
    QTest::newRow("reply and part of the next")
        << QByteArrayList{"150 Opening (5 bytes)\r\n22", "6 Transfer complete.\r\n"}
        << QByteArrayList{"150:150 Opening (5 bytes)\r\n", "226:226 Transfer complete.\r\n"};
    QTest::newRow("single-line reply after a multi-line one")
        << QByteArrayList{"220-x\r\n220 y\r\n331 pass\r\n"} << QByteArrayList{"220:220-x\r\n220 y\r\n", "331:331 pass\r\n"};
    QTest::newRow("empty lines between replies dropped")
        << QByteArrayList{"\r\n\n220 ready\r\n\r\n"} << QByteArrayList{"220:220 ready\r\n"};
}

void TestFtpProtocol::replyReader()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(QByteArrayList, replies);
    FtpReplyReader reader;
    QList<FtpReply> got;
    for (const QByteArray &chunk : chunks)
        got += reader.feed(chunk);
    QCOMPARE(describe(got), replies);
    QVERIFY(!reader.failed());
}

void TestFtpProtocol::replyReaderSplitAnywhere()
{
    const QByteArray stream = "220-Welcome\r\n220-to the server\r\n220 \r\n331 Password\n230 OK\r\n"
                              "227 Entering Passive Mode (127,0,0,1,4,1).\r\n200 Binary\r\n";
    FtpReplyReader whole;
    const QByteArrayList expected = describe(whole.feed(stream));
    QCOMPARE(expected.size(), 5);

    for (qsizetype cut1 = 0; cut1 <= stream.size(); ++cut1) {
        for (qsizetype cut2 = cut1; cut2 <= stream.size(); cut2 += 7) {
            FtpReplyReader reader;
            QList<FtpReply> got = reader.feed(QByteArrayView(stream).first(cut1));
            got += reader.feed(QByteArrayView(stream).sliced(cut1, cut2 - cut1));
            got += reader.feed(QByteArrayView(stream).sliced(cut2));
            QCOMPARE(describe(got), expected);
            QVERIFY(!reader.hasPartialReply());
        }
    }

    FtpReplyReader perByte;
    QList<FtpReply> got;
    for (const char c : stream)
        got += perByte.feed(QByteArrayView(&c, 1));
    QCOMPARE(describe(got), expected);
}

void TestFtpProtocol::replyReaderCap_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("cap");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<int>("replies");

    QTest::newRow("fits exactly") << QByteArray("220 " + QByteArray(94, 'x') + "\r\n") << 100 << false << 1;
    QTest::newRow("one byte over") << QByteArray("220 " + QByteArray(95, 'x') + "\r\n") << 100 << true << 0;
    QTest::newRow("endless line") << QByteArray(5000, 'x') << 100 << true << 0;
    QTest::newRow("endless multi-line reply")
        << QByteArray("220-start\r\n") + QByteArray("220-more\r\n").repeated(50) << 200 << true << 0;
    QTest::newRow("many small replies are fine") << QByteArray("200 ok\r\n").repeated(100) << 20 << false << 100;
}

void TestFtpProtocol::replyReaderCap()
{
    QFETCH(QByteArray, input);
    QFETCH(int, cap);
    FtpReplyReader reader(cap);
    QList<FtpReply> got = reader.feed(input);
    QTEST(reader.failed(), "failed");
    QTEST(int(got.size()), "replies");
    // A failed reader stays silent until reset, then reads again.
    if (reader.failed()) {
        QVERIFY(reader.feed("220 later\r\n").isEmpty());
        reader.reset();
        QCOMPARE(describe(reader.feed("220 later\r\n")), QByteArrayList{"220:220 later\r\n"});
    }
}

void TestFtpProtocol::replyReaderNoise()
{
    // Random bytes never make the reader yield anything but three-digit codes
    // whose text starts with them, and never make it keep more than the cap.
    QRandomGenerator random(4711);
    for (int round = 0; round < 200; ++round) {
        FtpReplyReader reader(512);
        QByteArray data(random.bounded(1, 2000), Qt::Uninitialized);
        for (char &c : data) {
            const quint32 pick = random.bounded(8);
            c = pick < 4 ? char('0' + random.bounded(3)) : pick == 4 ? '\n' : pick == 5 ? '-' : char(random.bounded(256));
        }
        for (const FtpReply &reply : reader.feed(data)) {
            QVERIFY(reply.code >= 0 && reply.code <= 999);
            QCOMPARE(reply.text.left(3), QByteArray::number(reply.code).rightJustified(3, '0'));
            QVERIFY(reply.text.endsWith('\n'));
            QVERIFY(reply.text.size() <= 512);
        }
    }
}

// --- commands and reply fields ---

void TestFtpProtocol::command_data()
{
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("user") << QByteArray("USER") << QStringLiteral("anonymous") << QByteArray("USER anonymous\r\n");
    QTest::newRow("no argument") << QByteArray("PASV") << QString() << QByteArray("PASV\r\n");
    QTest::newRow("blanks kept") << QByteArray("RETR") << QStringLiteral("my file.txt")
                                 << QByteArray("RETR my file.txt\r\n");
    QTest::newRow("UTF-8 name") << QByteArray("RETR") << QStringLiteral("caf\u00e9.txt")
                                << QByteArray("RETR caf\xc3\xa9.txt\r\n");
    QTest::newRow("CR LF cannot start a new command")
        << QByteArray("RETR") << QStringLiteral("a\r\nDELE b") << QByteArray("RETR a\r\0\0DELE b\r\n", 17);
}

void TestFtpProtocol::command()
{
    QFETCH(QByteArray, verb);
    QFETCH(QString, argument);
    const QByteArray line = ftpCommand(verb, argument);
    QTEST(line, "line");
    QCOMPARE(line.count("\r\n"), 1);
}

void TestFtpProtocol::passiveReply_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<std::optional<FtpPassiveTarget>>("target");
    using T = std::optional<FtpPassiveTarget>;
    auto t = [](const char *host, int port) { return T(FtpPassiveTarget{QString::fromLatin1(host), quint16(port)}); };

    QTest::newRow("vsftpd") << QByteArray("227 Entering Passive Mode (127,0,0,1,184,99).\r\n") << t("127.0.0.1", 47203);
    QTest::newRow("other host") << QByteArray("227 Entering Passive Mode (10,20,30,40,12,6)\r\n") << t("10.20.30.40", 3078);
    QTest::newRow("blanks between numbers") << QByteArray("227 ok ( 192, 168, 0, 9, 0, 21 )\r\n") << t("192.168.0.9", 21);
    QTest::newRow("no parentheses") << QByteArray("227 Entering Passive Mode 127,0,0,1,4,1\r\n") << t("127.0.0.1", 1025);
    QTest::newRow("equals sign") << QByteArray("227 Entering Passive Mode =127,0,0,1,255,255") << t("127.0.0.1", 65535);
    QTest::newRow("without the code") << QByteArray("(127,0,0,1,0,80)") << t("127.0.0.1", 80);
    QTest::newRow("extended") << QByteArray("229 Entering Extended Passive Mode (|||6446|)\r\n") << t("", 6446);
    QTest::newRow("extended, other delimiter") << QByteArray("229 ok (!!!21!)\r\n") << t("", 21);

    QTest::newRow("empty") << QByteArray() << T();
    QTest::newRow("no numbers") << QByteArray("227 Entering Passive Mode\r\n") << T();
    QTest::newRow("five numbers") << QByteArray("227 Entering Passive Mode (127,0,0,1,4)\r\n") << T();
    QTest::newRow("seven numbers") << QByteArray("227 Entering Passive Mode (127,0,0,1,4,1,9)\r\n") << T();
    QTest::newRow("number above 255") << QByteArray("227 Entering Passive Mode (127,0,0,1,256,1)\r\n") << T();
    QTest::newRow("port 0") << QByteArray("227 Entering Passive Mode (127,0,0,1,0,0)\r\n") << T();
    QTest::newRow("letters") << QByteArray("227 Entering Passive Mode (a,b,c,d,e,f)\r\n") << T();
    QTest::newRow("negative") << QByteArray("227 Entering Passive Mode (127,0,0,1,-4,1)\r\n") << T();
    QTest::newRow("unclosed") << QByteArray("227 Entering Passive Mode (127,0,0") << T();
    QTest::newRow("extended port too big") << QByteArray("229 ok (|||70000|)\r\n") << T();
    QTest::newRow("extended two delimiters") << QByteArray("229 ok (||6446|)\r\n") << T();
    QTest::newRow("extended digit delimiter") << QByteArray("229 ok (11164461)\r\n") << T();
}

void TestFtpProtocol::passiveReply()
{
    QFETCH(QByteArray, text);
    QFETCH(std::optional<FtpPassiveTarget>, target);
    const std::optional<FtpPassiveTarget> got = parse227(text);
    QCOMPARE(got.has_value(), target.has_value());
    if (got) {
        QCOMPARE(got->host, target->host);
        QCOMPARE(got->port, target->port);
    }
}

void TestFtpProtocol::size150_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<std::optional<qint64>>("size");
    using S = std::optional<qint64>;

    QTest::newRow("one MiB") << QByteArray("150 Opening BINARY mode data connection for f (1048576 bytes).\r\n")
                             << S(1048576);
    QTest::newRow("small") << QByteArray("150 Opening data connection for x (12345 bytes)") << S(12345);
    QTest::newRow("capital word") << QByteArray("150 Opening (7 Bytes)\r\n") << S(7);
    QTest::newRow("zero") << QByteArray("150 Opening for empty (0 bytes).\r\n") << S(0);
    QTest::newRow("above 4 GiB") << QByteArray("150 Opening for big (6442450944 bytes)\r\n") << S(6442450944LL);
    QTest::newRow("parentheses in the name") << QByteArray("150 Opening for a(1).txt (55 bytes).\r\n") << S(55);
    QTest::newRow("byte count in the name") << QByteArray("150 Opening for notes (3 bytes).txt (55 bytes).\r\n") << S(55);
    QTest::newRow("missing") << QByteArray("150 Here comes the file.\r\n") << S();
    QTest::newRow("no word") << QByteArray("150 Opening (1234)\r\n") << S();
    QTest::newRow("not a number") << QByteArray("150 Opening (many bytes)\r\n") << S();
    QTest::newRow("negative") << QByteArray("150 Opening (-5 bytes)\r\n") << S();
    QTest::newRow("too long for 64 bits") << QByteArray("150 Opening (99999999999999999999 bytes)\r\n") << S();
    QTest::newRow("empty") << QByteArray() << S();
}

void TestFtpProtocol::size150()
{
    QFETCH(QByteArray, text);
    QTEST(parse150Size(text), "size");
}

void TestFtpProtocol::size213_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<std::optional<qint64>>("size");
    using S = std::optional<qint64>;
    QTest::newRow("vsftpd") << QByteArray("213 6\r\n") << S(6);
    QTest::newRow("large") << QByteArray("213 6442450944\r\n") << S(6442450944LL);
    QTest::newRow("other code") << QByteArray("211 6\r\n") << S();
    QTest::newRow("text") << QByteArray("213 File status\r\n") << S();
    QTest::newRow("no number") << QByteArray("213 \r\n") << S();
}

void TestFtpProtocol::size213()
{
    QFETCH(QByteArray, text);
    QTEST(parse213Size(text), "size");
}

// --- active mode ---

void TestFtpProtocol::findPort_data()
{
    QTest::addColumn<double>("random");
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("suffix");

    QTest::newRow("lowest") << 0.0 << 3078 << QByteArray(",12,6");
    QTest::newRow("middle") << 0.5 << 3145 << QByteArray(",12,73");
    QTest::newRow("highest") << std::nextafter(1.0, 0.0) << 3211 << QByteArray(",12,139");
    QTest::newRow("out of range counts as 0") << 1.0 << 3078 << QByteArray(",12,6");
    QTest::newRow("negative counts as 0") << -0.25 << 3078 << QByteArray(",12,6");
    QTest::newRow("NaN counts as 0") << std::numeric_limits<double>::quiet_NaN() << 3078 << QByteArray(",12,6");
}

void TestFtpProtocol::findPort()
{
    QFETCH(double, random);
    const FtpActivePort port = FindPort([random] { return random; });
    QTEST(int(port.sngDataPort), "port");
    QTEST(port.suffix, "suffix");
}

void TestFtpProtocol::findPortDefaultSource()
{
    // The suffix always spells the port: high byte 12, low byte port - 3072.
    for (int i = 0; i < 500; ++i) {
        const FtpActivePort port = FindPort();
        QVERIFY(port.sngDataPort >= FtpFirstActivePort && port.sngDataPort <= FtpLastActivePort);
        QCOMPARE(port.suffix, ",12," + QByteArray::number(port.sngDataPort - 3072));
        QCOMPARE(*portCommand(QHostAddress(QStringLiteral("1.2.3.4")), port.sngDataPort),
                 "PORT 1,2,3,4" + port.suffix + "\r\n");
    }
}

void TestFtpProtocol::portCandidates_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<QList<int>>("head");
    QTest::addColumn<int>("rangePorts");

    QTest::newRow("from the middle") << 3100 << QList<int>{3100, 3101, 3102} << 134;
    QTest::newRow("wraps after the last") << 3211 << QList<int>{3211, 3078, 3079} << 134;
    QTest::newRow("from the first") << 3078 << QList<int>{3078, 3079} << 134;
    QTest::newRow("outside the range first") << 5000 << QList<int>{5000, 3078, 3079} << 134;
    QTest::newRow("no first") << 0 << QList<int>{3078, 3079} << 134;
}

void TestFtpProtocol::portCandidates()
{
    QFETCH(int, first);
    QFETCH(QList<int>, head);
    QFETCH(int, rangePorts);
    const QList<quint16> ports = activePortCandidates(quint16(first));
    for (int i = 0; i < head.size(); ++i)
        QCOMPARE(int(ports.at(i)), head.at(i));
    QCOMPARE(ports.last(), quint16(0)); // any free port comes last
    QSet<quint16> inRange;
    for (const quint16 p : ports) {
        if (p >= FtpFirstActivePort && p <= FtpLastActivePort)
            inRange.insert(p);
    }
    QCOMPARE(int(inRange.size()), rangePorts);
    QCOMPARE(ports.size(), qsizetype(rangePorts + 1 + (first == 5000 ? 1 : 0)));
}

void TestFtpProtocol::portCommandText_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("loopback, chosen port") << "127.0.0.1" << 3078 << QByteArray("PORT 127,0,0,1,12,6\r\n");
    QTest::newRow("any port") << "10.1.2.3" << 65535 << QByteArray("PORT 10,1,2,3,255,255\r\n");
    QTest::newRow("low port") << "192.168.100.200" << 255 << QByteArray("PORT 192,168,100,200,0,255\r\n");
    QTest::newRow("IPv4-mapped") << "::ffff:127.0.0.1" << 40000 << QByteArray("PORT 127,0,0,1,156,64\r\n");
    QTest::newRow("IPv6 has no PORT form") << "::1" << 3078 << QByteArray();
}

void TestFtpProtocol::portCommandText()
{
    QFETCH(QString, address);
    QFETCH(int, port);
    QFETCH(QByteArray, line);
    const std::optional<QByteArray> got = portCommand(QHostAddress(address), quint16(port));
    QCOMPARE(got.value_or(QByteArray()), line);
    const QByteArrayList active = activeModeCommands(QHostAddress(address), quint16(port));
    if (line.isEmpty())
        QVERIFY(active.isEmpty());
    else
        QCOMPARE(active, (QByteArrayList{line, "TYPE I\r\n"}));
}

// --- positions ---

void TestFtpProtocol::positions_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<FtpLoginState>("before");
    QTest::addColumn<FtpLoginState>("after");

    FtpLoginState fresh;
    QTest::newRow("fresh file") << "start new" << FtpLoginState{} << fresh;

    FtpLoginState resumed;
    resumed.blnResumeSet = true;
    resumed.lngSegStart = 5904;
    resumed.lngSegPos = 5905;
    QTest::newRow("resume 10000 bytes") << "start 10000" << FtpLoginState{} << resumed;

    FtpLoginState shortFile;
    shortFile.blnResumeSet = true;
    QTest::newRow("resume shorter than Rollback") << "start 1000" << FtpLoginState{} << shortFile;
    QTest::newRow("resume without a file") << "start -1" << FtpLoginState{} << fresh;

    FtpLoginState running;
    running.intFTPState = 150;
    running.blnPasvDone = true;
    running.blnPortSent = true;
    running.lngSegPos = 100001;
    running.sngDataPort = 3100;
    FtpLoginState paused = running;
    paused.intFTPState = 0;
    paused.blnPasvDone = false;
    paused.blnPortSent = false;
    QTest::newRow("pause forgets the login") << "pause" << running << paused;

    FtpLoginState again = paused;
    again.blnResumeSet = true;
    again.lngSegStart = 100001 - 4096;
    again.lngSegPos = 100001 - 4096 + 1;
    QTest::newRow("resume moves back by Rollback") << "resume" << running << again;

    FtpLoginState early = running;
    early.lngSegPos = 10;
    FtpLoginState earlyAgain = ftpPausedState(early);
    earlyAgain.blnResumeSet = true;
    earlyAgain.lngSegStart = 0;
    earlyAgain.lngSegPos = 1;
    QTest::newRow("resume never before 0") << "resume" << early << earlyAgain;
}

void TestFtpProtocol::positions()
{
    QFETCH(QString, action);
    QFETCH(FtpLoginState, before);
    QFETCH(FtpLoginState, after);
    FtpLoginState got;
    if (action == QLatin1String("start new"))
        got = ftpStartState(10000, false, 4096);
    else if (action.startsWith(QLatin1String("start ")))
        got = ftpStartState(action.mid(6).toLongLong(), true, 4096);
    else if (action == QLatin1String("pause"))
        got = ftpPausedState(before);
    else
        got = ftpResumedState(before, 4096);
    QCOMPARE(describe(got), describe(after));
}

// --- the reply state machine ---

void TestFtpProtocol::replyTable_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<FtpLoginState>("state");
    QTest::addColumn<FtpLoginContext>("context");
    QTest::addColumn<FtpLoginStep>("expected");

    const FtpLoginContext ctx = anonymous();
    using Step = FtpLoginStep;
    auto unchanged = [](const FtpLoginState &s) {
        Step step;
        step.next = s;
        return step;
    };

    {
        Step e = unchanged(atState(220));
        e.commands = {"USER anonymous\r\n"};
        e.status = e.rowStatus = tag("11049", "Logging In...");
        e.timeout = Step::Timeout::Rearm;
        e.stopEnabled = true;
        QTest::newRow("220 sends USER") << QByteArray("220 ready\r\n") << FtpLoginState{} << ctx << e;
        Step again = e;
        again.next = atState(220);
        QTest::newRow("220 again sends USER again") << QByteArray("220 ready\r\n") << atState(331) << ctx << again;
    }
    {
        Step e = unchanged(atState(331));
        e.commands = {"PASS tessel@localhost\r\n"};
        QTest::newRow("331 sends PASS") << QByteArray("331 Password\r\n") << atState(220) << ctx << e;
    }
    {
        FtpLoginState s = atState(331);
        s.blnPasvDone = true;
        Step e = unchanged(atState(230));
        e.next.blnPortSent = true;
        e.dataSide = Step::DataSide::Listen;
        e.sendPortCommand = true;
        e.showUrl = true;
        e.status = tag("11050", "Connected... Setting Up Transfer!");
        e.rowStatus = tag("11048", "Connected");
        e.timeout = Step::Timeout::Start;
        QTest::newRow("230 active: listen, then PORT") << QByteArray("230 Login successful.\r\n") << s << ctx << e;

        FtpLoginState sent = atState(331);
        sent.blnPortSent = true;
        sent.sngDataPort = 3150;
        Step reuse = e;
        reuse.next = atState(230);
        reuse.next.blnPortSent = true;
        reuse.next.sngDataPort = 3150;
        reuse.sendPortCommand = false;
        reuse.listenPort = 3150;
        QTest::newRow("230 active, PORT already sent: listen again") << QByteArray("230 ok\r\n") << sent << ctx << reuse;

        FtpLoginContext pasv = ctx;
        pasv.UsePASV = true;
        Step p = e;
        p.next = atState(230);
        p.dataSide = Step::DataSide::None;
        p.sendPortCommand = false;
        p.commands = {"PASV\r\n"};
        QTest::newRow("230 passive sends PASV") << QByteArray("230 ok\r\n") << s << pasv << p;
    }
    {
        FtpLoginContext pasv = ctx;
        pasv.UsePASV = true;
        Step e = unchanged(atState(227));
        e.next.blnPasvDone = true;
        e.next.sngDataPort = 47203;
        e.dataSide = Step::DataSide::ConnectPassive;
        e.passive = FtpPassiveTarget{QStringLiteral("10.9.8.7"), 47203};
        e.commands = {"TYPE I\r\n"};
        QTest::newRow("227 connects, sends TYPE I")
            << QByteArray("227 Entering Passive Mode (10,9,8,7,184,99).\r\n") << atState(230) << pasv << e;

        Step fail = unchanged(atState(227));
        fail.messageBox = tag("11036", "FTP Server could not build PASV Mode data connection!  Try Non-PASV mode!");
        fail.closeControl = true;
        fail.outcome = Step::Outcome::Failed;
        QTest::newRow("227 twice fails") << QByteArray("227 (127,0,0,1,4,1)\r\n") << atState(227) << pasv << fail;
        FtpLoginState done = atState(230);
        done.blnPasvDone = true;
        Step fail2 = fail;
        fail2.next = done;
        QTest::newRow("227 after a passive connection fails")
            << QByteArray("227 (127,0,0,1,4,1)\r\n") << done << pasv << fail2;
        Step fail3 = fail;
        fail3.next = atState(230);
        QTest::newRow("227 unreadable fails") << QByteArray("227 Entering Passive Mode\r\n") << atState(230) << pasv
                                              << fail3;
    }
    {
        Step e = unchanged(atState(200));
        e.commands = {"REST 0\r\n"};
        e.resumeLabel = tag("04018", "** Resume Supported **");
        e.pauseEnabled = false;
        QTest::newRow("200 fresh sends REST 0") << QByteArray("200 PORT ok\r\n") << atState(230) << ctx << e;
        QTest::newRow("200 repeated is ignored") << QByteArray("200 Binary\r\n") << atState(200) << ctx
                                                 << unchanged(atState(200));

        FtpLoginState resume = atState(227);
        resume.blnResumeSet = true;
        resume.lngSegStart = 5904;
        resume.lngSegPos = 5905;
        Step r = e;
        r.next = resume;
        r.next.intFTPState = 200;
        r.next.lngSegStart = 1809;
        r.next.lngSegPos = 1810;
        r.commands = {"REST 1809\r\n"};
        QTest::newRow("200 resume moves back by Rollback") << QByteArray("200 ok\r\n") << resume << ctx << r;

        FtpLoginState early = resume;
        early.lngSegStart = 99;
        early.lngSegPos = 100;
        Step c = r;
        c.next = early;
        c.next.intFTPState = 200;
        c.next.lngSegStart = 0;
        c.next.lngSegPos = 1;
        c.commands = {"REST 0\r\n"};
        QTest::newRow("200 resume never before 0") << QByteArray("200 ok\r\n") << early << ctx << c;

        FtpLoginContext sized = ctx;
        sized.askSize = true;
        Step s = e;
        s.commands = {"SIZE pub/file.bin\r\n", "REST 0\r\n"};
        QTest::newRow("200 with SIZE asks it before REST") << QByteArray("200 ok\r\n") << atState(230) << sized << s;
    }
    {
        Step e = unchanged(atState(200));
        e.next.announcedSize = 123456789012LL;
        QTest::newRow("213 keeps the size") << QByteArray("213 123456789012\r\n") << atState(200) << ctx << e;
        QTest::newRow("213 unreadable") << QByteArray("213 what\r\n") << atState(200) << ctx << unchanged(atState(200));
    }
    {
        Step e = unchanged(atState(350));
        e.commands = {"RETR pub/file.bin\r\n"};
        e.status = tag("13031", "Waiting For File...");
        QTest::newRow("350 sends RETR") << QByteArray("350 Restart position accepted (0).\r\n") << atState(200) << ctx << e;
        QTest::newRow("350 repeated is ignored") << QByteArray("350 again\r\n") << atState(350) << ctx
                                                 << unchanged(atState(350));
    }
    {
        Step e = unchanged(atState(550));
        e.beep = true;
        e.status = e.rowStatus = tag("11042", "File Not Found");
        e.stopShowsClose = true;
        e.stopEnabled = true;
        e.timeout = Step::Timeout::Stop;
        e.outcome = Step::Outcome::Failed;
        QTest::newRow("550 after RETR") << QByteArray("550 Failed to open file.\r\n") << atState(350) << ctx << e;
        QTest::newRow("550 before RETR is ignored") << QByteArray("550 Could not get file size.\r\n") << atState(200)
                                                    << ctx << unchanged(atState(200));
    }
    {
        Step e = unchanged(atState(504));
        e.resumeLabel = tag("04019", "**RESUME NOT SUPPORTED**");
        QTest::newRow("504 label only") << QByteArray("504 REST not supported\r\n") << atState(200) << ctx << e;
        FtpLoginContext stop = ctx;
        stop.StopResume = true;
        Step s = e;
        s.stall = Step::Stall::StartTimeNoResume;
        QTest::newRow("504 with StopResume arms the stall timer") << QByteArray("504 no\r\n") << atState(200) << stop
                                                                  << s;
    }
    {
        FtpLoginState s = atState(350);
        s.lngSegPos = 1810;
        Step e = unchanged(s);
        e.next.intFTPState = 150;
        e.beginTransfer = true;
        e.transferSize = 1048576;
        e.status = e.rowStatus = tag("11051", "Downloading");
        e.pauseEnabled = true;
        e.timeout = Step::Timeout::Stop;
        QTest::newRow("150 with size")
            << QByteArray("150 Opening BINARY mode data connection for f (1048576 bytes).\r\n") << s << ctx << e;

        FtpLoginContext stop = ctx;
        stop.StopResume = true;
        Step watched = e;
        watched.stall = Step::Stall::StartTimeResume;
        QTest::newRow("150 with StopResume watches for stalls")
            << QByteArray("150 Opening (1048576 bytes)\r\n") << s << stop << watched;

        Step unknown = e;
        unknown.transferSize = -1;
        QTest::newRow("150 without size") << QByteArray("150 Here comes the file\r\n") << s << ctx << unknown;

        FtpLoginState sized = s;
        sized.announcedSize = 777;
        Step fromSize = e;
        fromSize.next.announcedSize = 777;
        fromSize.transferSize = 777;
        QTest::newRow("150 without size after 213") << QByteArray("150 Here it comes\r\n") << sized << ctx << fromSize;

        QTest::newRow("125 starts the transfer too") << QByteArray("125 Transfer starting (1048576 bytes)\r\n") << s
                                                     << ctx << e;
    }
    {
        Step e = unchanged(atState(425));
        e.status = e.rowStatus = tag("11043", "Could Not Establish Data Connection");
        e.outcome = Step::Outcome::Failed;
        QTest::newRow("425") << QByteArray("425 Failed to establish connection.\r\n") << atState(350) << ctx << e;
    }
    {
        Step e = unchanged(atState(150));
        e.status = e.rowStatus = plain(QStringLiteral("Transfer interrupted."));
        e.outcome = Step::Outcome::Resume;
        QTest::newRow("426 while transferring resumes") << QByteArray("426 Failure writing network stream.\r\n")
                                                        << atState(150) << ctx << e;
        FtpLoginContext spent = ctx;
        spent.retryAllowed = false;
        Step g = e;
        g.outcome = Step::Outcome::Failed;
        QTest::newRow("426 without retries left fails") << QByteArray("426 broken\r\n") << atState(150) << spent << g;
        QTest::newRow("426 before the transfer is ignored") << QByteArray("426 broken\r\n") << atState(350) << ctx
                                                            << unchanged(atState(350));
    }
    {
        FtpLoginContext bob = ctx;
        bob.strUserName = QStringLiteral("bob");
        Step e = unchanged(atState(331));
        // A blank always stands between the name and the refusal text: it
        // travels outside the caption, whose default leaves it off.
        e.status = tag("11045", "can not log in.");
        e.status->prefixCaptionId = QStringLiteral("11047");
        e.status->prefixDefault = QStringLiteral("User ");
        e.status->prefix = QStringLiteral("bob ");
        e.rowStatus = tag("11045", "can not log in.");
        e.rowStatus->prefix = QStringLiteral(" ");
        e.outcome = Step::Outcome::Failed;
        QTest::newRow("530") << QByteArray("530 Login incorrect.\r\n") << atState(331) << bob << e;
    }
    {
        Step e = unchanged(atState(150));
        e.status = tag("11046", "Transfer Completed...");
        e.transferConfirmed = true;
        QTest::newRow("226") << QByteArray("226 Transfer complete.\r\n") << atState(150) << ctx << e;
    }
    QTest::newRow("421 is ignored") << QByteArray("421 Timeout.\r\n") << atState(230) << ctx << unchanged(atState(230));
    QTest::newRow("502 is ignored") << QByteArray("502 no\r\n") << atState(200) << ctx << unchanged(atState(200));
    QTest::newRow("229 is ignored") << QByteArray("229 (|||6446|)\r\n") << atState(230) << ctx
                                    << unchanged(atState(230));
}

void TestFtpProtocol::replyTable()
{
    QFETCH(QByteArray, reply);
    QFETCH(FtpLoginState, state);
    QFETCH(FtpLoginContext, context);
    QFETCH(FtpLoginStep, expected);

    FtpReplyReader reader;
    const QList<FtpReply> replies = reader.feed(reply);
    QCOMPARE(replies.size(), 1);
    const FtpLoginStep got = StartLoginFTP(replies.first(), state, context);
    QCOMPARE(describe(got), describe(expected));
    QVERIFY(got == expected);
}

void TestFtpProtocol::statusTexts_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<FtpLoginState>("state");
    QTest::addColumn<bool>("languageFile");
    // The texts the owner shows: status label, row status, resume label and
    // message box ("-": none).
    QTest::addColumn<QStringList>("texts");

    const auto row = [](const char *name, const char *reply, int state, bool language, QStringList texts) {
        QTest::newRow(name) << QByteArray(reply) << atState(state) << language << texts;
    };
    row("220", "220 ready\r\n", 0, false, {"Logging In...", "Logging In...", "-", "-"});
    row("230", "230 ok\r\n", 331, false, {"Connected... Setting Up Transfer!", "Connected", "-", "-"});
    row("227 unreadable", "227 no\r\n", 230, false,
        {"-", "-", "-", "FTP Server could not build PASV Mode data connection!  Try Non-PASV mode!"});
    row("200", "200 ok\r\n", 230, false, {"-", "-", "** Resume Supported **", "-"});
    row("350", "350 ok\r\n", 200, false, {"Waiting For File...", "-", "-", "-"});
    row("550", "550 no\r\n", 350, false, {"File Not Found", "File Not Found", "-", "-"});
    row("550, language file", "550 no\r\n", 350, true, {"Datei nicht gefunden", "Datei nicht gefunden", "-", "-"});
    row("504", "504 no\r\n", 200, false, {"-", "-", "**RESUME NOT SUPPORTED**", "-"});
    row("150", "150 go\r\n", 350, false, {"Downloading", "Downloading", "-", "-"});
    row("425", "425 no\r\n", 350, false,
        {"Could Not Establish Data Connection", "Could Not Establish Data Connection", "-", "-"});
    row("426", "426 broken\r\n", 150, false, {"Transfer interrupted.", "Transfer interrupted.", "-", "-"});
    row("426, language file", "426 broken\r\n", 150, true,
        {"Transfer interrupted.", "Transfer interrupted.", "-", "-"});
    row("530", "530 no\r\n", 331, false, {"User bob can not log in.", " can not log in.", "-", "-"});
    // The language file's text has no blank at its start; one is still there.
    row("530, language file", "530 no\r\n", 331, true,
        {"Benutzer bob kann sich nicht anmelden.", " kann sich nicht anmelden.", "-", "-"});
    row("226", "226 done\r\n", 150, false, {"Transfer Completed...", "-", "-", "-"});
}

void TestFtpProtocol::statusTexts()
{
    QFETCH(QByteArray, reply);
    QFETCH(FtpLoginState, state);
    QFETCH(bool, languageFile);

    FtpLoginContext context = anonymous();
    context.strUserName = QStringLiteral("bob");
    FtpReplyReader reader;
    const QList<FtpReply> replies = reader.feed(reply);
    QCOMPARE(replies.size(), 1);
    const FtpLoginStep step = StartLoginFTP(replies.first(), state, context);
    const CaptionLookup captions = languageFile ? CaptionLookup(translated) : defaultCaptions();
    const auto text = [&](const std::optional<TransferStatus> &status) {
        return status ? transferStatusText(*status, captions) : QStringLiteral("-");
    };
    QTEST((QStringList{text(step.status), text(step.rowStatus), text(step.resumeLabel), text(step.messageBox)}),
          "texts");
    // The identifiers reach the lookup as they are.
    if (step.status && !step.status->captionId.isEmpty())
        QVERIFY(transferStatusText(*step.status, taggedCaption).contains(step.status->captionId + QLatin1Char('|')));
}

void TestFtpProtocol::loginSequence_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<FtpLoginState>("start");
    QTest::addColumn<bool>("pasv");
    QTest::addColumn<bool>("perByte");
    QTest::addColumn<QStringList>("transcript");
    QTest::addColumn<qint64>("firstWriteOffset");

    const FtpLoginState fresh = ftpStartState(-1, false, 4096);
    QTest::newRow("fresh anonymous, active") << ActiveReplies << fresh << false << false << ActiveTranscript
                                             << qint64(0);
    QTest::newRow("fresh anonymous, active, per byte")
        << ActiveReplies << fresh << false << true << ActiveTranscript << qint64(0);
    QTest::newRow("all replies in one chunk")
        << QByteArrayList{ActiveReplies.join()} << fresh << false << false << ActiveTranscript << qint64(0);

    QByteArrayList banner = ActiveReplies;
    banner[0] = "220-Welcome to the test server\r\n220-Anonymous logins only\r\n220 \r\n";
    QTest::newRow("multi-line banner sends USER once")
        << banner << fresh << false << false << ActiveTranscript << qint64(0);
    QTest::newRow("multi-line banner per byte") << banner << fresh << false << true << ActiveTranscript << qint64(0);

    const QByteArrayList passive = {
        "220 ready\r\n",
        "331 Password\r\n",
        "230 OK\r\n",
        "227 Entering Passive Mode (127,0,0,1,184,99).\r\n",
        "200 Switching to Binary mode.\r\n",
        "350 Restart position accepted (0).\r\n",
        "150 Opening (10 bytes)\r\n226 Transfer complete.\r\n",
    };
    const QStringList passiveTranscript = {
        "220>USER anonymous", "331>PASS tessel@localhost", "230>PASV", "227>TYPE I", "200>REST 0",
        "350>RETR pub/file.bin", "150>", "226>",
    };
    QTest::newRow("passive") << passive << fresh << true << false << passiveTranscript << qint64(0);
    QTest::newRow("passive per byte") << passive << fresh << true << true << passiveTranscript << qint64(0);

    QStringList resumeTranscript = ActiveTranscript;
    resumeTranscript[3] = QStringLiteral("200>REST 1809");
    QTest::newRow("resume 10000 bytes, Rollback 4096")
        << ActiveReplies << ftpStartState(10000, true, 4096) << false << false << resumeTranscript << qint64(1809);

    // Paused after 100000 bytes: once back by Rollback at the resume, once
    // more at REST.
    FtpLoginState running = fresh;
    running.intFTPState = 150;
    running.blnPortSent = true;
    running.lngSegPos = 100001;
    QStringList pausedTranscript = ActiveTranscript;
    pausedTranscript[3] = QStringLiteral("200>REST %1").arg(100001 - 4096 + 1 - 4096);
    QTest::newRow("pause and resume goes back twice")
        << ActiveReplies << ftpResumedState(running, 4096) << false << false << pausedTranscript
        << qint64(100001 - 4096 + 1 - 4096);
}

void TestFtpProtocol::loginSequence()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(FtpLoginState, start);
    QFETCH(bool, pasv);
    QFETCH(bool, perByte);
    QFETCH(QStringList, transcript);
    QFETCH(qint64, firstWriteOffset);

    FtpLoginContext context = anonymous();
    context.UsePASV = pasv;
    const LoginRun run = runLogin(chunks, start, context, perByte);
    QCOMPARE(run.transcript, transcript);
    // The data phase began exactly once, at the reply that announced the file.
    int begins = 0;
    for (const FtpLoginStep &step : run.steps)
        begins += step.beginTransfer ? 1 : 0;
    QCOMPARE(begins, 1);
    QCOMPARE(run.state.intFTPState, 150);
    // The first data byte goes to 1-based position lngSegStart + 1.
    QCOMPARE(run.state.lngSegPos - 1, firstWriteOffset);
    QCOMPARE(run.state.lngSegStart, firstWriteOffset);
}

void TestFtpProtocol::transferEnd_data()
{
    QTest::addColumn<FtpTransferProgress>("progress");
    QTest::addColumn<FtpTransferEnd>("end");
    using P = FtpTransferProgress;

    QTest::newRow("known size reached") << P{100, 100, false, false} << FtpTransferEnd::Complete;
    QTest::newRow("known size short, still open") << P{100, 60, false, true} << FtpTransferEnd::Wait;
    QTest::newRow("known size short, closed, no 226") << P{100, 60, true, false} << FtpTransferEnd::Wait;
    QTest::newRow("known size short, closed and 226") << P{100, 60, true, true} << FtpTransferEnd::Resume;
    QTest::newRow("unknown size, 226 before the close") << P{-1, 60, false, true} << FtpTransferEnd::Wait;
    QTest::newRow("unknown size, close before 226") << P{-1, 60, true, false} << FtpTransferEnd::Wait;
    QTest::newRow("unknown size, closed and 226") << P{-1, 60, true, true} << FtpTransferEnd::Complete;
    QTest::newRow("unknown size, empty file") << P{-1, 0, true, true} << FtpTransferEnd::Complete;
    QTest::newRow("empty known file") << P{0, 0, false, false} << FtpTransferEnd::Complete;
}

void TestFtpProtocol::transferEnd()
{
    QFETCH(FtpTransferProgress, progress);
    QTEST(ftpTransferEnd(progress), "end");
}

QTEST_GUILESS_MAIN(TestFtpProtocol)
#include "tst_ftpprotocol.moc"
