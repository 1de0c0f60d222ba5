#include "shell/captions.h"
#include "shell/errorlog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestCaptions : public QObject {
    Q_OBJECT

    static QByteArray readAll(const QString &path)
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }

    static void writeLanguage(const QString &programDir, const QByteArray &content)
    {
        QDir().mkpath(programDir + QStringLiteral("/Lang-I"));
        QFile f(programDir + QStringLiteral("/Lang-I/English.ini"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }

private Q_SLOTS:
    void lookupRules_data()
    {
        QTest::addColumn<QByteArray>("file"); // empty: no Lang-I folder at all
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("defaultText");
        QTest::addColumn<QString>("expected");

        QTest::newRow("no folder, default") << QByteArray() << "11031" << "Download Successful." << "Download Successful.";
        QTest::newRow("no folder, no default") << QByteArray() << "11017" << "" << "";
        const QByteArray lang = "[DM]\r\n11031=Fertig.\r\n13029=   You block this server  \r\n[Other]\r\n11032=x\r\n";
        QTest::newRow("from file") << lang << "11031" << "Download Successful." << "Fertig.";
        QTest::newRow("missing key") << lang << "11032" << "Default" << "Default";
        QTest::newRow("leading blanks dropped, trailing kept") << lang << "13029" << "" << "You block this server  ";
        QTest::newRow("default loses leading blanks") << lang << "99999" << "  padded" << "padded";
        QTest::newRow("long value cut at 499") << QByteArray("[DM]\r\n00001=" + QByteArray(700, 'x') + "\r\n")
                                               << "00001" << "" << QString(499, QLatin1Char('x'));
    }

    void lookupRules()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, id);
        QFETCH(QString, defaultText);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        if (!file.isEmpty())
            writeLanguage(dir.path(), file);
        ErrorLog log(dir.filePath(QStringLiteral("errorlog.txt")));
        Captions captions(dir.path(), &log);
        QCOMPARE(captions.SetCaptionfromINI(id, defaultText), expected);
        QCOMPARE(captions.lookup()(id, defaultText), expected);
        QVERIFY(!QFile::exists(log.path())); // none of these is an error
    }

    void unreadableLanguageFileIsLoggedAndGivesEmptyText()
    {
        QTemporaryDir dir;
        // A folder where the file should be cannot be read as a file.
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("Lang-I/English.ini"))));
        const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7));
        ErrorLog log(dir.filePath(QStringLiteral("errorlog.txt")), [&] { return when; }, QLocale::c());
        Captions captions(dir.path(), &log);
        QCOMPARE(captions.SetCaptionfromINI(QStringLiteral("11031"), QStringLiteral("Download Successful.")), QString());
        const QByteArray logged = readAll(log.path());
        QVERIFY(logged.startsWith("\"\r\nDate: "));
        QVERIFY(logged.contains("Error Description: "));
        QVERIFY(logged.contains(", Error Number: "));
        QVERIFY(logged.endsWith(", Method: SetCaptionfromINI\"\r\n"));
    }

    void errorLogRecordForm()
    {
        const QDateTime when(QDate(2026, 12, 7), QTime(14, 5, 9));
        const QByteArray rec = ErrorLog::record(QStringLiteral("Something failed"), when, QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(rec, QByteArray("\"\r\nDate: 12/7/26\",\"Time: 2:05:09 PM\",\"Something failed\"\r\n"));
    }

    void errorLogAppends()
    {
        QTemporaryDir dir;
        ErrorLog log(dir.filePath(QStringLiteral("errorlog.txt")),
                     [] { return QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)); }, QLocale::c());
        log.write(QStringLiteral("one"));
        log.write(QStringLiteral("two"));
        const QByteArray text = readAll(log.path());
        QCOMPARE(text.count("\"\r\nDate: "), 2);
        QVERIFY(text.indexOf("\"one\"") < text.indexOf("\"two\""));
    }

    void unwritableErrorLogIsIgnored()
    {
        QTemporaryDir dir;
        ErrorLog log(dir.filePath(QStringLiteral("missing-folder/errorlog.txt")));
        log.write(QStringLiteral("lost")); // must not crash or throw
        QVERIFY(!QFile::exists(log.path()));
    }
};

QTEST_GUILESS_MAIN(TestCaptions)
#include "tst_captions.moc"
