// The transfer log: records byte for byte, the file name taken from the
// stored LOG FILE NAME, owner-only files, and the start-up maintenance by
// the stored choices. (A login's lines in the log: tst_windowfeatures.)
#include "ftpclient/translog.h"

#include "config/cregister.h"
#include "ftpclient/options.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void setValue(CRegister &reg, const QString &key, const QString &value)
{
    reg.REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection, key, value);
}

} // namespace

class TestTransferLog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void recordsAreWrittenByteForByte_data()
    {
        QTest::addColumn<QString>("storedName"); // empty: nothing stored
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray stamp = "#2006-03-01 14:05:09#\r\n";
        QTest::newRow("default name") << QString() << "FTP.log" << QStringList{QStringLiteral("220 Ready")}
                                      << stamp + "\"220 Ready\"\r\n";
        QTest::newRow("txt name gives .log")
            << "transfers.txt" << "transfers.log" << QStringList{QStringLiteral("a"), QStringLiteral("b")}
            << stamp + "\"a\"\r\n" + stamp + "\"b\"\r\n";
        QTest::newRow("quotes kept as they are")
            << "x.LOG" << "x.log" << QStringList{QStringLiteral("257 \"/pub\" is current")}
            << stamp + "\"257 \"/pub\" is current\"\r\n";
        QTest::newRow("UTF-8") << "a.b.txt" << "a.b.log" << QStringList{QStringLiteral("Größe €")}
                               << stamp + "\"Gr\xc3\xb6\xc3\x9f\x65 \xe2\x82\xac\"\r\n";
        QTest::newRow("folders in the name stay out") << "../../etc/evil.txt" << "evil.log"
                                                      << QStringList{QStringLiteral("m")} << stamp + "\"m\"\r\n";
    }
    void recordsAreWrittenByteForByte()
    {
        QFETCH(QString, storedName);
        QFETCH(QString, fileName);
        QFETCH(QStringList, messages);
        QFETCH(QByteArray, expected);
        QTemporaryDir dir;
        Registry registry(dir.filePath(QStringLiteral("config")));
        CRegister reg(registry);
        if (!storedName.isEmpty())
            setValue(reg, OptionKeys::LogFileName, storedName);
        const QString program = dir.filePath(QStringLiteral("prog"));
        QDir().mkpath(program);
        TransferLog log(program, &reg, [] { return QDateTime(QDate(2006, 3, 1), QTime(14, 5, 9)); });
        for (const QString &m : messages) {
            QString why;
            QVERIFY2(log.write(m, &why), qPrintable(why));
        }
        const QString path = program + QStringLiteral("/log/") + fileName;
        QCOMPARE(log.filePath(), path);
        QCOMPARE(readAll(path), expected);
        QCOMPARE(QDir(program + QStringLiteral("/log")).entryList(QDir::Files), QStringList{fileName});
        QCOMPARE(QFile::permissions(path) & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup
                                             | QFileDevice::WriteOther),
                 QFileDevice::Permissions{});
    }

    void startupMaintenanceFollowsTheStoredChoices_data()
    {
        QTest::addColumn<QStringList>("settings"); // key=value pairs
        QTest::addColumn<qint64>("logSize");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<bool>("logKept");
        QTest::addColumn<bool>("folderKept");
        QTest::newRow("deleted on start-up by default") << QStringList{} << qint64(10) << false << false << false;
        QTest::newRow("no log at all") << QStringList{QStringLiteral("DELETE LOG ON STARTUP=False"),
                                                      QStringLiteral("DELETE LOG IF SIZE EXCEEDS=True")}
                                       << qint64(-1) << false << false << true;
        QTest::newRow("read-only log deleted too") << QStringList{} << qint64(10) << true << false << false;
        QTest::newRow("kept when neither choice is on")
            << QStringList{QStringLiteral("DELETE LOG ON STARTUP=False")} << qint64(5000) << false << true << true;
        QTest::newRow("limit 1000, 1000 bytes stay")
            << QStringList{QStringLiteral("DELETE LOG ON STARTUP=False"), QStringLiteral("DELETE LOG IF SIZE EXCEEDS=True")}
            << qint64(1000) << false << true << true;
        QTest::newRow("limit 1000, 1001 bytes go")
            << QStringList{QStringLiteral("DELETE LOG ON STARTUP=False"), QStringLiteral("DELETE LOG IF SIZE EXCEEDS=True")}
            << qint64(1001) << false << false << false;
        QTest::newRow("numeric flags, own limit")
            << QStringList{QStringLiteral("DELETE LOG ON STARTUP=0"), QStringLiteral("DELETE LOG IF SIZE EXCEEDS=1"),
                           QStringLiteral("LOG FILE SIZE=50")}
            << qint64(51) << false << false << false;
        QTest::newRow("a limit that is no number means 1000")
            << QStringList{QStringLiteral("DELETE LOG ON STARTUP=False"), QStringLiteral("DELETE LOG IF SIZE EXCEEDS=True"),
                           QStringLiteral("LOG FILE SIZE=abc")}
            << qint64(1000) << false << true << true;
    }
    void startupMaintenanceFollowsTheStoredChoices()
    {
        QFETCH(QStringList, settings);
        QFETCH(qint64, logSize);
        QFETCH(bool, readOnly);
        QFETCH(bool, logKept);
        QFETCH(bool, folderKept);
        QTemporaryDir dir;
        Registry registry(dir.filePath(QStringLiteral("config")));
        CRegister reg(registry);
        for (const QString &s : std::as_const(settings))
            setValue(reg, s.section(u'=', 0, 0), s.section(u'=', 1));
        const QString program = dir.filePath(QStringLiteral("prog"));
        QVERIFY(QDir().mkpath(program + QStringLiteral("/log")));
        const QString path = program + QStringLiteral("/log/FTP.log");
        QFile f(path);
        if (logSize >= 0) {
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(logSize, 'x'));
            f.close();
        }
        if (readOnly)
            QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
        QString why;
        QVERIFY2(TransferLog::maintain(program, reg, &why), qPrintable(why));
        QCOMPARE(QFileInfo::exists(path), logKept);
        QCOMPARE(QFileInfo(program + QStringLiteral("/log")).isDir(), folderKept);
    }
};

QTEST_GUILESS_MAIN(TestTransferLog)
#include "tst_translog.moc"
