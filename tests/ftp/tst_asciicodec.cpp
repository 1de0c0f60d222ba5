// ASCII-type line ends both ways, whole and cut at every byte.

#include "ftp/asciicodec.h"

#include <QTest>

class TestAsciiCodec : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void codec_data()
    {
        QTest::addColumn<QByteArray>("local");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArray>("decoded"); // what the wire form reads back as
        QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("no line end") << QByteArray("abc") << QByteArray("abc") << QByteArray("abc");
        QTest::newRow("bare LF") << QByteArray("a\nb\n") << QByteArray("a\r\nb\r\n") << QByteArray("a\nb\n");
        QTest::newRow("CR LF not doubled") << QByteArray("a\r\nb\r\n") << QByteArray("a\r\nb\r\n")
                                           << QByteArray("a\nb\n");
        QTest::newRow("mixed") << QByteArray("a\r\nb\nc") << QByteArray("a\r\nb\r\nc") << QByteArray("a\nb\nc");
        QTest::newRow("lone CR kept") << QByteArray("a\rb") << QByteArray("a\rb") << QByteArray("a\rb");
        QTest::newRow("ends on CR") << QByteArray("a\r") << QByteArray("a\r") << QByteArray("a\r");
        QTest::newRow("CR CR LF") << QByteArray("a\r\r\n") << QByteArray("a\r\r\n") << QByteArray("a\r\n");
        QTest::newRow("empty lines") << QByteArray("\n\n") << QByteArray("\r\n\r\n") << QByteArray("\n\n");
        QTest::newRow("binary bytes") << QByteArray("\x00\xff\n", 3) << QByteArray("\x00\xff\r\n", 4)
                                      << QByteArray("\x00\xff\n", 3);
    }

    void codec()
    {
        QFETCH(QByteArray, local);
        QFETCH(QByteArray, wire);
        QFETCH(QByteArray, decoded);

        // Whole, then cut at every position into two chunks, then a byte at
        // a time: the output never depends on where the chunks end.
        for (qsizetype cut = -1; cut <= local.size(); ++cut) {
            AsciiEncoder encoder;
            QByteArray out = encoder.feed(cut < 0 ? local : local.first(cut));
            if (cut >= 0)
                out += encoder.feed(local.sliced(cut));
            out += encoder.finish();
            QCOMPARE(out, wire);
        }
        for (qsizetype cut = -1; cut <= wire.size(); ++cut) {
            AsciiDecoder decoder;
            QByteArray out = decoder.feed(cut < 0 ? wire : wire.first(cut));
            if (cut >= 0)
                out += decoder.feed(wire.sliced(cut));
            out += decoder.finish();
            QCOMPARE(out, decoded);
        }
        AsciiDecoder bytewise;
        QByteArray out;
        for (const char c : wire)
            out += bytewise.feed(QByteArrayView(&c, 1));
        QCOMPARE(out + bytewise.finish(), decoded);
    }
};

QTEST_GUILESS_MAIN(TestAsciiCodec)
#include "tst_asciicodec.moc"
