#include "platform/inifile.h"
#include "platform/textfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestIniFile : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString writeFile(const char *name, const QByteArray &content)
    {
        const QString path = m_dir.filePath(QLatin1String(name));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(content);
        return path;
    }

    QByteArray readFile(const QString &path)
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }

private Q_SLOTS:
    void reading_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("buffer");
        QTest::addColumn<QString>("expected");

        const QByteArray file = "; comment\r\n[DM]\r\n11031=Download Successful.\r\n02006=  padded  \r\n"
                                "[Other]\r\n11031=wrong section\r\n";
        QTest::newRow("plain") << file << "DM" << "11031" << 500 << "Download Successful.";
        QTest::newRow("section any case") << file << "dm" << "11031" << 500 << "Download Successful.";
        QTest::newRow("blanks kept") << file << "DM" << "02006" << 500 << "  padded  ";
        QTest::newRow("missing key") << file << "DM" << "99999" << 500 << "fallback";
        QTest::newRow("missing section") << file << "None" << "11031" << 500 << "fallback";
        QTest::newRow("buffer cuts") << file << "DM" << "11031" << 9 << "Download";
        QTest::newRow("buffer cuts default") << file << "DM" << "99999" << 4 << "fal";
        QTest::newRow("LF only") << QByteArray("[DM]\n1=one\n2=two\n") << "DM" << "2" << 500 << "two";
        QTest::newRow("blank around key") << QByteArray("[ DM ]\r\n  key  =v=w\r\n") << "DM" << "KEY" << 500 << "v=w";
        QTest::newRow("utf8") << QByteArray("[DM]\r\nk=Gr\xc3\xbc\xc3\x9f""e\r\n") << "DM" << "k" << 500
                              << QString::fromUtf8("Grüße");
        QTest::newRow("first of duplicate keys") << QByteArray("[DM]\r\nk=1\r\nk=2\r\n") << "DM" << "k" << 500 << "1";
    }

    void reading()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(int, buffer);
        QFETCH(QString, expected);
        const QString path = writeFile("read.ini", content);
        const auto result = ini::readString(path, section, key, QStringLiteral("fallback"), buffer);
        QVERIFY(result.ok);
        QCOMPARE(result.text, expected);
    }

    void missingFileGivesDefault()
    {
        const auto result = ini::readString(m_dir.filePath(QStringLiteral("none.ini")), QStringLiteral("DM"),
                                            QStringLiteral("1"), QStringLiteral("def"), 500);
        QVERIFY(result.ok);
        QCOMPARE(result.text, QStringLiteral("def"));
    }

    void unreadableFileIsAnError()
    {
        const QString path = m_dir.filePath(QStringLiteral("dir.ini"));
        QVERIFY(QDir().mkpath(path));
        const auto result = ini::readString(path, QStringLiteral("DM"), QStringLiteral("1"), QStringLiteral("def"), 500);
        QVERIFY(!result.ok);
        QVERIFY(!result.errorString.isEmpty());
    }

    void writingCreatesAndReplacesInPlace()
    {
        const QString path = m_dir.filePath(QStringLiteral("write.ini"));
        QVERIFY(ini::writeString(path, QStringLiteral("Site"), QStringLiteral("host"), QStringLiteral("a.example")));
        QCOMPARE(readFile(path), QByteArray("[Site]\r\nhost=a.example\r\n"));

        QVERIFY(ini::writeString(path, QStringLiteral("site"), QStringLiteral("port"), QStringLiteral("21")));
        QVERIFY(ini::writeString(path, QStringLiteral("Other"), QStringLiteral("x"), QStringLiteral("1")));
        QVERIFY(ini::writeString(path, QStringLiteral("SITE"), QStringLiteral("HOST"), QStringLiteral("b.example")));
        QCOMPARE(readFile(path), QByteArray("[Site]\r\nhost=b.example\r\nport=21\r\n\r\n[Other]\r\nx=1\r\n"));
        QCOMPARE(ini::keys(path, QStringLiteral("site")), (QStringList{QStringLiteral("host"), QStringLiteral("port")}));
        QCOMPARE(ini::sections(path), (QStringList{QStringLiteral("Site"), QStringLiteral("Other")}));
    }

    void writingKeepsCommentsAndConvertsLineEnds()
    {
        const QString path = writeFile("keep.ini", "; keep me\n[A]\nk=1\n\n[B]\nm=2\n");
        QVERIFY(ini::writeString(path, QStringLiteral("A"), QStringLiteral("n"), QStringLiteral("new")));
        QCOMPARE(readFile(path), QByteArray("; keep me\r\n[A]\r\nk=1\r\nn=new\r\n\r\n[B]\r\nm=2\r\n"));
    }

    void valueWithLineBreakStaysOnOneLine()
    {
        const QString path = m_dir.filePath(QStringLiteral("flat.ini"));
        QVERIFY(ini::writeString(path, QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("one\r\ntwo")));
        QCOMPARE(ini::keys(path, QStringLiteral("A")), QStringList{QStringLiteral("k")});
        QCOMPARE(ini::getString(path, QStringLiteral("A"), QStringLiteral("k"), {}), QStringLiteral("one  two"));
    }

    void deletingAKey()
    {
        const QString path = writeFile("del.ini", "[A]\r\nk=1\r\nm=2\r\n");
        QVERIFY(ini::deleteKey(path, QStringLiteral("a"), QStringLiteral("K")));
        QCOMPARE(readFile(path), QByteArray("[A]\r\nm=2\r\n"));
        QVERIFY(ini::deleteKey(path, QStringLiteral("A"), QStringLiteral("absent")));
    }

    void lineSplitting_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
        QTest::newRow("lf") << QByteArray("a\nb") << QStringList{"a", "b"};
        QTest::newRow("empty lines kept") << QByteArray("a\r\n\r\nb\r\n") << QStringList{"a", "", "b"};
        QTest::newRow("empty") << QByteArray() << QStringList{};
        QTest::newRow("lone cr inside") << QByteArray("a\rb\n") << QStringList{"a\rb"};
    }

    void lineSplitting()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, lines);
        QCOMPARE(textfile::splitLines(content), lines);
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
