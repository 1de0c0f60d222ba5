#include "ftp/ftpreply.h"

#include <QRandomGenerator>
#include <QTest>

#include <limits>

Q_DECLARE_METATYPE(std::optional<FtpPassiveTarget>)
Q_DECLARE_METATYPE(std::optional<qint64>)

namespace {

// Replies as "code:text" lines, so a mismatch shows what was read.
QByteArrayList describe(const QList<FtpReply> &replies)
{
    QByteArrayList out;
    for (const FtpReply &r : replies)
        out.append(QByteArray::number(r.code) + ':' + r.text);
    return out;
}

} // namespace

class TestFtpReply : public QObject {
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
};

void TestFtpReply::replyReader_data()
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

void TestFtpReply::replyReader()
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

void TestFtpReply::replyReaderSplitAnywhere()
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

void TestFtpReply::replyReaderCap_data()
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

void TestFtpReply::replyReaderCap()
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

void TestFtpReply::replyReaderNoise()
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

void TestFtpReply::command_data()
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

void TestFtpReply::command()
{
    QFETCH(QByteArray, verb);
    QFETCH(QString, argument);
    const QByteArray line = ftpCommand(verb, argument);
    QTEST(line, "line");
    QCOMPARE(line.count("\r\n"), 1);
}

void TestFtpReply::passiveReply_data()
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

void TestFtpReply::passiveReply()
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

void TestFtpReply::size150_data()
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

void TestFtpReply::size150()
{
    QFETCH(QByteArray, text);
    QTEST(parse150Size(text), "size");
}

void TestFtpReply::size213_data()
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

void TestFtpReply::size213()
{
    QFETCH(QByteArray, text);
    QTEST(parse213Size(text), "size");
}

QTEST_GUILESS_MAIN(TestFtpReply)
#include "tst_ftpreply.moc"
