#include "config/scramble.h"
#include "ftpclient/profilestore.h"
#include "platform/inifile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class tst_ProfileStore : public QObject {
    Q_OBJECT

private:
    QString privateFile(const QTemporaryDir &dir, const QString &name) const
    {
        return profiles::folderPath(dir.path(), ProfileFolder::Private) + QLatin1Char('/') + name
               + profiles::Extension;
    }
    QString key(const QTemporaryDir &dir, const QString &name, const QString &k) const
    {
        return ini::getString(privateFile(dir, name), profiles::Section, k, QStringLiteral("<missing>"));
    }

private Q_SLOTS:
    void savedKeys_data()
    {
        QTest::addColumn<SiteProfile>("profile");
        QTest::addColumn<bool>("anonymous");
        QTest::addColumn<QStringList>("expected"); // sname, adresa, ID, pass, port, Passive, Encryption

        SiteProfile work{QStringLiteral("Work"), QStringLiteral("ftp.example.org"), QStringLiteral("2121"),
                         QStringLiteral("abc"), QStringLiteral("abc"), true, FtpSecurity::ExplicitTls};
        QTest::newRow("normal, scrambled credentials")
            << work << false
            << QStringList{"Work", "ftp.example.org", "klm", "klm", "2121", "1", "explicit"};

        SiteProfile anon{QStringLiteral("Mirror"), QStringLiteral("10.0.0.1"), QStringLiteral("21"),
                         QStringLiteral("anonymous"), QStringLiteral("secret"), false, FtpSecurity::Plain};
        QTest::newRow("anonymous keeps no password")
            << anon << true
            << QStringList{"Mirror", "10.0.0.1", ScramblePassword("anonymous"), "", "21", "0", "plain"};

        SiteProfile empty{QStringLiteral("Bare"), QStringLiteral("h"), QString(), QStringLiteral("u"), QString(),
                          false, FtpSecurity::ImplicitTls};
        QTest::newRow("empty password and port")
            << empty << false << QStringList{"Bare", "h", "\x7f", "", "", "0", "implicit"};
    }

    void savedKeys()
    {
        QFETCH(SiteProfile, profile);
        QFETCH(bool, anonymous);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        QCOMPARE(profiles::save(dir.path(), profile, anonymous), profiles::SaveResult::Saved);
        const QStringList keys{"sname", "adresa", "ID", "pass", "port", "Passive", "Encryption"};
        for (int i = 0; i < keys.size(); ++i)
            QCOMPARE(key(dir, profile.name, keys.at(i)), expected.at(i));
        // Saved in the classic key order, encryption last.
        QCOMPARE(ini::keys(privateFile(dir, profile.name), profiles::Section),
                 (QStringList{"sname", "adresa", "ID", "Passive", "pass", "port", "Encryption"}));

        const SiteProfile back = profiles::read(privateFile(dir, profile.name));
        QCOMPARE(back.name, profile.name);
        QCOMPARE(back.host, profile.host);
        QCOMPARE(back.user, profile.user);
        QCOMPARE(back.password, anonymous ? QString() : profile.password);
        QCOMPARE(back.passive, profile.passive);
        QCOMPARE(back.security, profile.security);
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
        QCOMPARE(QFile::permissions(privateFile(dir, profile.name)) & others, QFile::Permissions());
        QVERIFY(QFile::permissions(privateFile(dir, profile.name)).testFlags(QFile::ReadOwner | QFile::WriteOwner));
    }

    void readsClassicFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<SiteProfile>("expected");

        const QByteArray longHost(80, 'h');
        QTest::newRow("no encryption key is plain; Passive by its numeric value")
            << QByteArray("[PROFILE]\r\nsname=Old\r\nadresa=host\r\nID=klm\r\npass=\r\nport=21\r\nPassive= 2x\r\n")
            << SiteProfile{"Old", "host", "21", "abc", "", true, FtpSecurity::Plain};
        QTest::newRow("values cut to the read buffers")
            << QByteArray("[PROFILE]\nsname=" + QByteArray(60, 'n') + "\nadresa=" + longHost + "\nID="
                          + QByteArray(60, 'k') + "\nPassive=0\n")
            << SiteProfile{QString(49, 'n'), QString(74, 'h'), "", QString(49, 'a'), "", false, FtpSecurity::Plain};
        QTest::newRow("missing keys read empty, unknown encryption is plain")
            << QByteArray("[PROFILE]\nEncryption=rot13\n") << SiteProfile{};
        QTest::newRow("non-ASCII password round trip")
            << QByteArray("[PROFILE]\nID=") + QStringLiteral("ü").toUtf8() + "\npass=" + QStringLiteral("Ωz").toUtf8()
                   + "\n"
            << SiteProfile{"", "", "", QString(QChar(0xFC - 10)), QString(QChar(0x3A9 - 10)) + QChar('z' - 10),
                           false, FtpSecurity::Plain};
    }

    void readsClassicFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(SiteProfile, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("x.Profile"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        QCOMPARE(profiles::read(path), expected);
    }

    void unsafeNamesRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("host");
        QTest::newRow("slash") << "a/b" << "h";
        QTest::newRow("backslash") << "a\\b" << "h";
        QTest::newRow("parent inside") << "x..y" << "h";
        QTest::newRow("empty name") << "" << "h";
        QTest::newRow("empty host") << "Work" << "";
    }

    void unsafeNamesRefused()
    {
        QFETCH(QString, name);
        QFETCH(QString, host);
        QTemporaryDir dir;
        QCOMPARE(profiles::save(dir.path(), SiteProfile{name, host, "21", "u", "p", false, FtpSecurity::Plain}, false),
                 profiles::SaveResult::Refused);
        QDir tree(dir.path());
        QCOMPARE(tree.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }

    void saveReplacesKeysInPlace()
    {
        QTemporaryDir dir;
        QVERIFY(profiles::ensureFolders(dir.path()));
        const QString path = privateFile(dir, QStringLiteral("Work"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[PROFILE]\r\nNote=keep me\r\nadresa=old\r\n[OTHER]\r\nadresa=untouched\r\n");
        f.close();
        QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));

        QCOMPARE(profiles::save(dir.path(), SiteProfile{"Work", "new", "21", "u", "", false, FtpSecurity::Plain}, false),
                 profiles::SaveResult::Saved);
        QCOMPARE(ini::keys(path, profiles::Section),
                 (QStringList{"Note", "adresa", "sname", "ID", "Passive", "pass", "port", "Encryption"}));
        QCOMPARE(key(dir, "Work", "adresa"), QStringLiteral("new"));
        QCOMPARE(key(dir, "Work", "Note"), QStringLiteral("keep me"));
        QCOMPARE(ini::getString(path, "OTHER", "adresa", {}), QStringLiteral("untouched"));
        // A file that was readable by others becomes owner-only.
        QCOMPARE(QFile::permissions(path) & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
    }

    void listAndRemove()
    {
        QTemporaryDir dir;
        QVERIFY(profiles::ensureFolders(dir.path()));
        QVERIFY(QDir(profiles::folderPath(dir.path(), ProfileFolder::Standard)).exists());
        for (const char *name : {"b", "a"})
            QCOMPARE(profiles::save(dir.path(), SiteProfile{name, "h", "21", "", "", false, FtpSecurity::Plain}, false),
                     profiles::SaveResult::Saved);
        QFile other(profiles::folderPath(dir.path(), ProfileFolder::Private) + "/notes.txt");
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();
        QCOMPARE(profiles::list(dir.path(), ProfileFolder::Private), (QStringList{"a.Profile", "b.Profile"}));
        QCOMPARE(profiles::list(dir.path(), ProfileFolder::Standard), QStringList());

        QString error;
        QVERIFY(profiles::remove(dir.path(), "a.Profile", &error));
        QCOMPARE(profiles::list(dir.path(), ProfileFolder::Private), QStringList{"b.Profile"});
        QVERIFY(!profiles::remove(dir.path(), "a.Profile", &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!profiles::remove(dir.path(), "../b.Profile", &error));
        QCOMPARE(profiles::list(dir.path(), ProfileFolder::Private), QStringList{"b.Profile"});
    }
};

QTEST_GUILESS_MAIN(tst_ProfileStore)
#include "tst_profilestore.moc"
