#include "config/cregister.h"
#include "config/conversions.h"
#include "config/scramble.h"

#include <QTemporaryDir>
#include <QTest>

class TestCRegister : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void storeRules()
    {
        QTemporaryDir dir;
        Registry registry(dir.path());
        CRegister reg(registry);
        const auto HKLM = CRegister::HKEY_LOCAL_MACHINE;

        // Missing section, missing value and empty value all give the default.
        QCOMPARE(reg.REGGetSetting(HKLM, QStringLiteral("\\Software\\None\\"), QStringLiteral("k"), QStringLiteral("d")),
                 QStringLiteral("d"));
        QVERIFY(reg.REGSaveSetting(HKLM, QStringLiteral("\\Software\\Q\\DM4.0\\"), QStringLiteral("Empty"), QString()));
        QCOMPARE(reg.REGGetSetting(HKLM, QStringLiteral("Software\\Q\\DM4.0"), QStringLiteral("Empty"), QStringLiteral("d")),
                 QStringLiteral("d"));
        QCOMPARE(reg.REGGetSetting(HKLM, QStringLiteral("Software\\Q\\DM4.0"), QStringLiteral("Absent"), QStringLiteral("d")),
                 QStringLiteral("d"));

        // One leading and one trailing separator do not matter.
        QVERIFY(reg.REGSaveSetting(HKLM, QStringLiteral("\\Software\\Q\\DM4.0\\"), QStringLiteral("Timeout"), QStringLiteral("90")));
        QCOMPARE(reg.REGGetSetting(HKLM, QStringLiteral("Software\\Q\\DM4.0"), QStringLiteral("Timeout"), {}),
                 QStringLiteral("90"));

        // "*" is the key's default value, which an empty name also writes.
        QVERIFY(reg.REGSaveSetting(HKLM, QStringLiteral("Software\\Q\\Key"), QString(), QStringLiteral("dv")));
        QCOMPARE(reg.REGGetSetting(HKLM, QStringLiteral("Software\\Q\\Key"), QStringLiteral("*"), {}), QStringLiteral("dv"));
        QVERIFY(reg.REGSaveSetting(HKLM, QStringLiteral("Software\\Q\\Key"), QStringLiteral("*"), QStringLiteral("dv2")));
        QCOMPARE(reg.REGGetSetting(HKLM, QStringLiteral("Software\\Q\\Key"), QStringLiteral("*"), {}), QStringLiteral("dv2"));

        // Sub-keys in enumeration order.
        QStringList keys = reg.GetAllKeys(HKLM, QStringLiteral("\\Software\\Q\\"));
        keys.sort();
        QCOMPARE(keys, (QStringList{QStringLiteral("DM4.0"), QStringLiteral("Key")}));

        // A value name deletes the value; an empty name deletes the key.
        QVERIFY(reg.REGDeleteSetting(HKLM, QStringLiteral("\\Software\\Q\\DM4.0\\"), QStringLiteral("Timeout")));
        QCOMPARE(reg.REGGetSetting(HKLM, QStringLiteral("Software\\Q\\DM4.0"), QStringLiteral("Timeout"), QStringLiteral("d")),
                 QStringLiteral("d"));
        QVERIFY(reg.REGDeleteSetting(HKLM, QStringLiteral("\\Software\\Q\\Key\\"), QString()));
        QCOMPARE(reg.GetAllKeys(HKLM, QStringLiteral("Software\\Q")), QStringList{QStringLiteral("DM4.0")});
        QVERIFY(!reg.REGDeleteSetting(HKLM, QStringLiteral("Software\\Q\\Key"), QString()));

        // The two roots are separate.
        QCOMPARE(reg.REGGetSetting(CRegister::HKEY_CURRENT_USER, QStringLiteral("Software\\Q\\DM4.0"),
                                   QStringLiteral("Empty"), QStringLiteral("d")),
                 QStringLiteral("d"));
    }

    void sectionPathStripsOneSeparatorEachSide_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("path");
        QTest::newRow("both") << "\\A\\B\\" << "A\\B";
        QTest::newRow("none") << "A\\B" << "A\\B";
        QTest::newRow("double") << "\\\\A\\\\" << "\\A\\";
    }

    void sectionPathStripsOneSeparatorEachSide()
    {
        QFETCH(QString, section);
        QFETCH(QString, path);
        QCOMPARE(CRegister::sectionPath(section), path);
    }

    void flagAndNumberForms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("flag"); // -1: does not convert
        QTest::newRow("True") << "True" << 1;
        QTest::newRow("true") << "true" << 1;
        QTest::newRow("False") << "False" << 0;
        QTest::newRow("1") << "1" << 1;
        QTest::newRow("0") << "0" << 0;
        QTest::newRow("-1") << "-1" << 1;
        QTest::newRow("2") << "2" << 1;
        QTest::newRow("0.0") << "0.0" << 0;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("word") << "yes" << -1;
    }

    void flagAndNumberForms()
    {
        QFETCH(QString, text);
        QFETCH(int, flag);
        const auto value = conv::toBool(text);
        if (flag < 0)
            QVERIFY(!value.has_value());
        else
            QCOMPARE(value.value_or(!flag), bool(flag));
    }

    void shortestNumbers()
    {
        QCOMPARE(conv::number(300.0), QStringLiteral("300"));
        QCOMPARE(conv::number(2.5 * 60), QStringLiteral("150"));
        QCOMPARE(conv::number(20.0 * 1048576), QStringLiteral("20971520"));
        QCOMPARE(conv::number(0.5), QStringLiteral("0.5"));
        QCOMPARE(conv::toInteger(QStringLiteral("70000"), -32768, 32767), std::nullopt);
        QCOMPARE(conv::toInteger(QStringLiteral(" 42 "), 0, 100).value_or(-1), 42);
    }

    void scramblingShiftsByTen()
    {
        QCOMPARE(ScramblePassword(QStringLiteral("abc")), QStringLiteral("klm"));
        QCOMPARE(UnscramblePassword(QStringLiteral("klm")), QStringLiteral("abc"));
        QCOMPARE(ScramblePassword(QString()), QString());
    }

    void scramblingRoundTrips_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::newRow("ascii") << QStringLiteral("p@ss w0rd!~");
        QTest::newRow("latin") << QString::fromUtf8("Grüße-ñ");
        QTest::newRow("below surrogates") << QString(QChar(0xD7F8)) + QChar(0xD7FF);
        QTest::newRow("emoji") << QString::fromUtf8("\xF0\x9F\x94\x91key");
        QTest::newRow("top of code space") << QString::fromUcs4(U"\U0010FFFF\U0010FFF9");
        QTest::newRow("low controls") << QString::fromUcs4(U"\u0001\u0009");
        QTest::newRow("cjk") << QString::fromUtf8("密码");
    }

    void scramblingRoundTrips()
    {
        QFETCH(QString, plain);
        const QString scrambled = ScramblePassword(plain);
        QCOMPARE(scrambled.toUcs4().size(), plain.toUcs4().size());
        QVERIFY(scrambled != plain);
        // The scrambled text is valid text: it survives UTF-8.
        QCOMPARE(QString::fromUtf8(scrambled.toUtf8()), scrambled);
        QCOMPARE(UnscramblePassword(scrambled), plain);
    }

    void scramblingSkipsSurrogates()
    {
        // U+D7FF + 10 would land among the surrogates; it moves past them.
        const QString s = ScramblePassword(QString(QChar(0xD7FF)));
        QCOMPARE(s.toUcs4().value(0), uint(0xE009));
    }
};

QTEST_GUILESS_MAIN(TestCRegister)
#include "tst_cregister.moc"
