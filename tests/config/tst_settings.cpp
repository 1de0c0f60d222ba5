#include "configfixture.h"

#include "config/scramble.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestSettings : public QObject {
    Q_OBJECT

    static QByteArray readAll(const QString &path)
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
    static void writeAll(const QString &path, const QByteArray &data)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(data);
    }

private Q_SLOTS:
    void loaderDefaultsOnAnEmptyStore()
    {
        ConfigFixture fx;
        fx.record.intExistChoice = 0;
        LoadSettings(fx.record, fx.reg);
        const SettingsRecord &r = fx.record;
        QCOMPARE(r.Timeout, 60);
        QCOMPARE(r.TimeResume, 300);
        QCOMPARE(r.TimeNoResume, 600);
        QCOMPARE(r.Retries, 30);
        QCOMPARE(r.RetryTime, 300);
        QCOMPARE(r.Rollback, 4096);
        QCOMPARE(int(r.Segment), 0);
        QVERIFY(r.ClickCapture);
        QVERIFY(r.ClipboardMonitoring);
        QVERIFY(r.StopResume);
        QVERIFY(r.Retry);
        QVERIFY(!r.UsePASV);
        QCOMPARE(r.ProxyPort, 80);
        QCOMPARE(r.newDownloadOption(), NewDownloadOption::Ask);
        const std::array<double, 9> thresholds{2097152, 5242880, 5242881, 10485760, 10485761,
                                               15728640, 15728641, 20971520, 20971521};
        QCOMPARE(r.SegmentSize, thresholds);
        QCOMPARE(int(r.intExistChoice), -2);
    }

    void loaderConvertsStoredForms()
    {
        ConfigFixture fx;
        fx.put("UsePASV", QStringLiteral("True"));      // option-button form
        fx.put("UseProxy", QStringLiteral("1"));        // check-box form
        fx.put("StopResume", QStringLiteral("False"));
        fx.put("Retry", QStringLiteral("0"));
        fx.put("ClipboardMonitoring", QStringLiteral("-1")); // on only when it equals 1
        fx.put("SegmentSize3", QStringLiteral("5242880"));
        fx.put("SegmentSize4", QStringLiteral("7340032"));
        fx.put("Timeout", QStringLiteral("abc"));       // does not convert: default
        fx.put("Retries", QStringLiteral("99999"));     // out of range: default
        fx.put("AllBytes", QStringLiteral("5368709120")); // 5 GiB stays exact
        fx.put("Downloads", QStringLiteral("12"));
        fx.put("DownloadNowOption", QStringLiteral("True"));
        fx.put("DownloadPromptOption", QStringLiteral("False"));
        LoadSettings(fx.record, fx.reg);
        const SettingsRecord &r = fx.record;
        QVERIFY(r.UsePASV);
        QVERIFY(r.UseProxy);
        QVERIFY(!r.StopResume);
        QVERIFY(!r.Retry);
        QVERIFY(!r.ClipboardMonitoring);
        QCOMPARE(r.SegmentSize[2], 5242881.0);
        QCOMPARE(r.SegmentSize[3], 7340032.0);
        QCOMPARE(r.Timeout, 60);
        QCOMPARE(r.Retries, 30);
        QCOMPARE(r.AllBytes, Q_INT64_C(5368709120));
        QCOMPARE(r.Downloads, 12);
        QCOMPARE(r.newDownloadOption(), NewDownloadOption::StartNow);
    }

    void dialogShowsItsOwnDefaultsUntilSaved()
    {
        ConfigFixture fx;
        LoadSettings(fx.record, fx.reg);
        auto model = fx.makeModel();
        model->Populate();
        QCOMPARE(model->txtRetries, QStringLiteral("3"));
        QCOMPARE(model->txtRetryTime, QStringLiteral("60"));
        QCOMPARE(model->txtLimitHTTP, QStringLiteral("3"));
        QCOMPARE(model->txtLimitFTP, QStringLiteral("3"));
        QCOMPARE(model->txtTimeout, QStringLiteral("60"));
        QCOMPARE(model->txtTimeResume, QStringLiteral("5"));
        QCOMPARE(model->txtTimeNoResume, QStringLiteral("10"));
        QCOMPARE(model->txtRollback, QStringLiteral("4"));
        QVERIFY(!model->chkPromptDone);
        QVERIFY(!model->chkCloseWhenDone);
        QCOMPARE(model->txtMonitorTypes, DefaultMonitorTypes);
        QCOMPARE(model->txtMonitorServer.split(QStringLiteral(" ; ")).size(), 5);
        QCOMPARE(model->txtMonitorServer.count(QStringLiteral("*.")), 2);
        const std::array<QString, 9> mb{"2", "5", "5", "10", "10", "15", "15", "20", "20"};
        QCOMPARE(model->txtSegmentSize, mb);
        QCOMPARE(model->saveChoice, SaveChoice::LastDirectory);
        QCOMPARE(model->naming, SubFolderNaming::ServerName);
        QCOMPARE(model->newDownload, NewDownloadOption::Ask);
        // The record still has the engine's values.
        QCOMPARE(fx.record.Retries, 30);

        // After saving, the store and the record agree with the dialog.
        model->SaveAll();
        LoadSettings(fx.record, fx.reg);
        QCOMPARE(fx.record.Retries, 3);
        QCOMPARE(fx.record.RetryTime, 60);
        QCOMPARE(fx.stored("LimitHTTP"), QStringLiteral("3"));
        QCOMPARE(fx.stored("Rollback"), QStringLiteral("4096"));
        QCOMPARE(fx.stored("SegmentSize9"), QStringLiteral("20971520"));
        QCOMPARE(fx.record.SegmentSize[8], 20971521.0);
        QCOMPARE(fx.stored("PromptDone"), QStringLiteral("0"));
        QCOMPARE(fx.stored("DownloadPromptOption"), QStringLiteral("True"));
        QCOMPARE(fx.stored("DownloadNowOption"), QStringLiteral("False"));
        QCOMPARE(fx.stored("UseServer"), QStringLiteral("True"));
        QVERIFY(!model->changed);
    }

    void minutesRoundTripThroughSeconds()
    {
        ConfigFixture fx;
        LoadSettings(fx.record, fx.reg);
        auto model = fx.makeModel();
        model->Populate();
        model->txtTimeResume = QStringLiteral("2.5");
        model->txtSegmentSize[0] = QStringLiteral("3");
        model->txtRollback = QStringLiteral("not a number");
        model->SaveAll();
        QCOMPARE(fx.stored("TimeResume"), QStringLiteral("150"));
        QCOMPARE(fx.stored("SegmentSize1"), QStringLiteral("3145728"));
        QCOMPARE(fx.stored("Rollback"), QStringLiteral("not a number")); // stored as typed
        LoadSettings(fx.record, fx.reg);
        QCOMPARE(fx.record.TimeResume, 150);
        QCOMPARE(fx.record.Rollback, 4096); // does not convert: the default stands

        auto again = fx.makeModel();
        again->Populate();
        QCOMPARE(again->txtTimeResume, QStringLiteral("2.5"));
        QCOMPARE(again->txtSegmentSize[0], QStringLiteral("3"));
    }

    void populateReadsChoicesAndCopiesThem()
    {
        ConfigFixture fx;
        fx.put("SaveFileInfo", QStringLiteral("True"));
        fx.put("SaveSameDir", QStringLiteral("False"));
        fx.put("ParentDir", QStringLiteral("/data/dl"));
        fx.put("TextSameDir", QStringLiteral("/data/same"));
        fx.put("UseDate", QStringLiteral("True"));
        fx.put("PromptDone", QStringLiteral("1"));
        fx.put("CloseDownloadWindowWhenDone", QStringLiteral("True")); // only "1" counts
        fx.put("DownloadLaterOption", QStringLiteral("True"));
        fx.put("DownloadPromptOption", QStringLiteral("False"));
        fx.put("ClickCapture", QStringLiteral("False"));
        fx.put("ProxyServer", QStringLiteral("proxy.local"));
        fx.put("ProxyPort", QStringLiteral("3128"));
        LoadSettings(fx.record, fx.reg);
        auto model = fx.makeModel();
        model->Populate();
        QCOMPARE(model->saveChoice, SaveChoice::ByFileInfo);
        QCOMPARE(model->naming, SubFolderNaming::CurrentDate);
        QCOMPARE(fx.record.saveLocation.choice, SaveChoice::ByFileInfo);
        QCOMPARE(fx.record.saveLocation.naming, SubFolderNaming::CurrentDate);
        QCOMPARE(fx.record.saveLocation.parentDirectory, QStringLiteral("/data/dl"));
        QCOMPARE(fx.record.saveLocation.sameDirectory, QStringLiteral("/data/same"));
        QVERIFY(fx.record.PromptDone);
        QVERIFY(!fx.record.CloseDownloadWindowWhenDone);
        QCOMPARE(model->newDownload, NewDownloadOption::AddToList);
        QCOMPARE(fx.record.ProxyServer, QStringLiteral("proxy.local"));
        QCOMPARE(fx.record.ProxyPort, 3128);
        // The browser-capture handler ran with the stored state.
        QCOMPARE(fx.captureCalls, QList<bool>{false});
        QCOMPARE(fx.stored("ClickCapture"), QStringLiteral("False"));
    }

    void startupEntryFollowsTheBox()
    {
        ConfigFixture fx;
        LoadSettings(fx.record, fx.reg);
        auto model = fx.makeModel();
        model->Populate();
        QVERIFY(!fx.autostart.isInstalled(QStringLiteral("Tessel")));
        model->setStartupWithWindows(true);
        QVERIFY(fx.autostart.isInstalled(QStringLiteral("Tessel")));
        QCOMPARE(fx.autostart.installedExecutable(QStringLiteral("Tessel")), fx.programPath());
        model->setStartupWithWindows(false);
        QVERIFY(!fx.autostart.isInstalled(QStringLiteral("Tessel")));

        // Populating with the stored box on writes the entry.
        fx.put("StartupWithWindows", QStringLiteral("1"));
        LoadSettings(fx.record, fx.reg);
        fx.makeModel()->Populate();
        QVERIFY(fx.autostart.isInstalled(QStringLiteral("Tessel")));
    }

    void settingsIniRoundTrip()
    {
        ConfigFixture fx;
        auto model = fx.makeModel();
        model->lastSavePath = QStringLiteral("/home/u/Downloads/file.zip");
        model->fileTypes = {{QStringLiteral(".zip"), QStringLiteral("/home/u/zips")},
                            {QStringLiteral(".mp3"), QStringLiteral("/home/u/music")}};
        model->logins = {{QStringLiteral("ftp.example.org"), QStringLiteral("me"), QStringLiteral("abc")},
                         {QStringLiteral("host2"), QStringLiteral("you"), QString::fromUtf8("pässwörd")}};
        QVERIFY(model->SaveToINI());

        const QByteArray expected = "/home/u/Downloads/file.zip\r\n.zip\r\n/home/u/zips\r\n.mp3\r\n/home/u/music\r\n"
                                    "Logins:\r\nftp.example.org\r\nme\r\nklm\r\nhost2\r\nyou\r\n"
                                    + ScramblePassword(QString::fromUtf8("pässwörd")).toUtf8() + "\r\n";
        QCOMPARE(readAll(model->iniPath()), expected);
        const auto perms = QFile::permissions(model->iniPath());
        QVERIFY(!(perms & (QFile::ReadGroup | QFile::ReadOther)));

        auto loaded = fx.makeModel();
        loaded->LoadfromINI();
        QCOMPARE(loaded->lastSavePath, model->lastSavePath);
        QCOMPARE(loaded->fileTypes, model->fileTypes);
        QCOMPARE(loaded->logins, model->logins);
    }

    void settingsIniEdgeCases_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("lastPath");
        QTest::addColumn<int>("types");
        QTest::addColumn<QStringList>("logins"); // server|user|password

        QTest::newRow("lf line ends") << QByteArray("/a/b.zip\n.zip\n/z\nLogins:\ns\nu\nklm\n") << "/a/b.zip" << 1
                                      << QStringList{"s|u|abc"};
        QTest::newRow("cut-short login") << QByteArray("/a/b.zip\r\nLogins:\r\nsrv\r\nusr") << "/a/b.zip" << 0
                                         << QStringList{"srv|usr|"};
        QTest::newRow("empty server ends logins") << QByteArray("/a/b\r\nLogins:\r\ns1\r\nu1\r\nklm\r\n\r\nu2\r\nklm\r\n")
                                                  << "/a/b" << 0 << QStringList{"s1|u1|abc"};
        QTest::newRow("empty line ends types") << QByteArray("/a/b\r\n.zip\r\n/z\r\n\r\n.mp3\r\n/m\r\nLogins:\r\ns\r\nu\r\nklm\r\n")
                                               << "/a/b" << 1 << QStringList{};
        QTest::newRow("empty first line") << QByteArray("\r\n.zip\r\n/z\r\n") << "unchanged" << 1 << QStringList{};
        QTest::newRow("type without folder") << QByteArray("/p\r\n.zip") << "/p" << 1 << QStringList{};
        QTest::newRow("empty file") << QByteArray() << "unchanged" << 0 << QStringList{};
    }

    void settingsIniEdgeCases()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, lastPath);
        QFETCH(int, types);
        QFETCH(QStringList, logins);
        ConfigFixture fx;
        auto model = fx.makeModel();
        model->lastSavePath = QStringLiteral("unchanged");
        model->fileTypes = {{QStringLiteral("stale"), QStringLiteral("stale")}};
        writeAll(model->iniPath(), content);
        model->LoadfromINI();
        QCOMPARE(model->lastSavePath, lastPath);
        QCOMPARE(model->fileTypes.size(), types);
        QStringList got;
        for (const LoginAccount &a : model->logins)
            got.append(a.server + QLatin1Char('|') + a.user + QLatin1Char('|') + a.password);
        QCOMPARE(got, logins);
    }

    void missingIniClearsTablesAndKeepsLastPath()
    {
        ConfigFixture fx;
        auto model = fx.makeModel();
        model->lastSavePath = QStringLiteral("/kept/file");
        model->logins = {{QStringLiteral("s"), QStringLiteral("u"), QStringLiteral("p")}};
        model->LoadfromINI();
        QVERIFY(model->logins.isEmpty());
        QCOMPARE(model->lastSavePath, QStringLiteral("/kept/file"));
    }

    void lastPathWithoutParentFolderWritesProgramDirectory_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("empty") << "";
        QTest::newRow("root") << "/";
        QTest::newRow("bare name") << "file.zip";
    }

    void lastPathWithoutParentFolderWritesProgramDirectory()
    {
        QFETCH(QString, path);
        ConfigFixture fx;
        auto model = fx.makeModel();
        model->lastSavePath = path;
        QVERIFY(model->SaveToINI());
        QCOMPARE(readAll(model->iniPath()), fx.programDir().toUtf8() + "\r\nLogins:\r\n");
    }

    void lineBreaksInValuesDoNotShiftTheFile()
    {
        ConfigFixture fx;
        auto model = fx.makeModel();
        model->lastSavePath = QStringLiteral("/a/b");
        model->fileTypes = {{QStringLiteral(".zip\nx"), QStringLiteral("/z")}};
        model->logins = {{QStringLiteral("s"), QStringLiteral("u\r\nv"), QStringLiteral("p")}};
        QVERIFY(model->SaveToINI());
        auto loaded = fx.makeModel();
        loaded->LoadfromINI();
        QCOMPARE(loaded->fileTypes.size(), 1);
        QCOMPARE(loaded->fileTypes.first().folder, QStringLiteral("/z"));
        QCOMPARE(loaded->logins.size(), 1);
        QCOMPARE(loaded->logins.first().password, QStringLiteral("p"));
    }

    void populateSetsLastDirectoryLabelFromIni()
    {
        ConfigFixture fx;
        QDir().mkpath(fx.programDir());
        writeAll(fx.programDir() + QStringLiteral("/Settings.ini"), "/srv/files/pkg.tar\r\nLogins:\r\n");
        LoadSettings(fx.record, fx.reg);
        auto model = fx.makeModel();
        model->Populate();
        QCOMPARE(model->lblLastDir, QStringLiteral("/srv/files"));
        QCOMPARE(model->lastSavePath, QStringLiteral("/srv/files/pkg.tar"));
    }

    void immediateBoxes()
    {
        ConfigFixture fx;
        LoadSettings(fx.record, fx.reg);
        auto model = fx.makeModel();
        model->Populate();
        model->setClipboardMonitoring(false);
        QVERIFY(!fx.record.ClipboardMonitoring);
        model->setSegment(true);
        QCOMPARE(int(fx.record.Segment), 1);
        model->setClickCapture(true);
        QCOMPARE(fx.stored("ClickCapture"), QStringLiteral("True"));
        QCOMPARE(fx.captureCalls.last(), true);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
