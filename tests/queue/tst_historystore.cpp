#include "historyfixture.h"

#include <QTest>

namespace {

QStringList row(const char *path, const char *progress, const char *size, const char *received, const char *status,
                const char *url, const char *date = nullptr)
{
    QStringList values{QString::fromUtf8(path),     QString::fromUtf8(progress), QString::fromUtf8(size),
                       QString::fromUtf8(received), QString::fromUtf8(status),   QString::fromUtf8(url)};
    if (date)
        values.append(QString::fromUtf8(date));
    return values;
}

const QString CorruptedText = QStringLiteral("File corrupted:");
const QString NotCorrectText = QStringLiteral("History data or/and downloads will NOT be Correct ");

} // namespace

class TestHistoryStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Two download rows and one completed row give the 23 lines of the
    // documented layout, byte for byte, and the language value is stored.
    void saveWritesExactLayout()
    {
        HistoryFixture fx;
        fx.language = QStringLiteral("Deutsch.ini");
        HistoryFixture::fill(fx.mainList,
                             {row("/home/u/Downloads/a.zip", "0%", "N/A", "N/A", "Not Downloaded", "http://example.com/a.zip"),
                              row("/home/u/Downloads/b.iso", "42%", "3.5 MB", "1.47 MB", "Downloading...",
                                  "ftp://ftp.example.com/pub/b.iso", "2020-01-01")},
                             1);
        HistoryFixture::fill(fx.completeList,
                             {row("/home/u/Downloads/c.txt", "100%", "12 KB", "12 KB", "Transfer Completed...",
                                  "http://example.com/c.txt")},
                             4);
        QString error;
        QVERIFY2(fx.store->SaveHistory(&error), qPrintable(error));

        const QByteArray expected = "/home/u/Downloads/a.zip\r\n0%\r\nN/A\r\nN/A\r\nNot Downloaded\r\n"
                                    "http://example.com/a.zip\r\n2026-12-06\r\n"
                                    "/home/u/Downloads/b.iso\r\n42%\r\n3.5 MB\r\n1.47 MB\r\nDownloading...\r\n"
                                    "ftp://ftp.example.com/pub/b.iso\r\n2026-12-06\r\n"
                                    "Complete List\r\n"
                                    "/home/u/Downloads/c.txt\r\n100%\r\n12 KB\r\n12 KB\r\nTransfer Completed...\r\n"
                                    "http://example.com/c.txt\r\n2026-12-06\r\n"
                                    "Finish History\r\n";
        const QByteArray actual = fx.fileBytes();
        QCOMPARE(actual, expected);
        QCOMPARE(actual.count("\r\n"), 23);

        QCOMPARE(fx.reg.REGGetSetting(CRegister::HKEY_CURRENT_USER, QStringLiteral("\\Software\\Tessel\\Language\\"),
                                      QStringLiteral("Name"), QStringLiteral("<missing>")),
                 QStringLiteral("Deutsch.ini"));
    }

    void loadHandWrittenFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<Rows>("downloads");
        QTest::addColumn<Rows>("completed");
        QTest::addColumn<bool>("cutShort");

        const QStringList a = row("/d/a.zip", "0%", "N/A", "N/A", "Not Downloaded", "http://h/a.zip", "6/12/2026");
        const QStringList b = row("/d/b.bin", "37%", "2 MB", "740 KB", "Paused/Stopped", "ftp://h/b.bin", "6/12/2026");
        const QStringList c = row("/d/c.txt", "100%", "1 KB", "1 KB", "Transfer Completed...", "http://h/c.txt", "6/12/2026");
        const QByteArray ra = "/d/a.zip\r\n0%\r\nN/A\r\nN/A\r\nNot Downloaded\r\nhttp://h/a.zip\r\n6/12/2026\r\n";
        const QByteArray rb = "/d/b.bin\r\n37%\r\n2 MB\r\n740 KB\r\nPaused/Stopped\r\nftp://h/b.bin\r\n6/12/2026\r\n";
        const QByteArray rc = "/d/c.txt\r\n100%\r\n1 KB\r\n1 KB\r\nTransfer Completed...\r\nhttp://h/c.txt\r\n6/12/2026\r\n";

        QTest::newRow("one queued row") << ra + "Complete List\r\nFinish History\r\n" << Rows{a} << Rows{} << false;
        QTest::newRow("both lists") << ra + rb + "Complete List\r\n" + rc + "Finish History\r\n" << Rows{a, b}
                                    << Rows{c} << false;
        QByteArray lf = ra + rb + "Complete List\r\n" + rc + "Finish History\r\n";
        lf.replace("\r\n", "\n");
        QTest::newRow("LF line ends") << lf << Rows{a, b} << Rows{c} << false;
        QTest::newRow("no final line break") << ra + "Complete List\r\nFinish History" << Rows{a} << Rows{} << false;
        QTest::newRow("only completed rows") << "Complete List\r\n" + rc + "Finish History\r\n" << Rows{} << Rows{c}
                                             << false;
        QTest::newRow("only download rows") << ra + "Complete List\r\nFinish History\r\n" + rc << Rows{a} << Rows{}
                                            << false;
        QTest::newRow("both empty") << QByteArray("Complete List\r\nFinish History\r\n") << Rows{} << Rows{} << false;
        QTest::newRow("markers compared by case")
            << QByteArray("x\r\ncomplete list\r\n3\r\n4\r\n5\r\n6\r\n7\r\nComplete List\r\nFinish History\r\n")
            << Rows{{"x", "complete list", "3", "4", "5", "6", "7"}} << Rows{} << false;
        QTest::newRow("earlier-version backslashes")
            << QByteArray("C:\\new\\file.zip\r\n0%\r\nN/A\r\nN/A\r\nN/A\r\nhttp://h/\\r\\n\r\n1/2/2003\r\n"
                          "Complete List\r\nFinish History\r\n")
            << Rows{{"C:\\new\\file.zip", "0%", "N/A", "N/A", "N/A", "http://h/\\r\\n", "1/2/2003"}} << Rows{} << false;
        QTest::newRow("encoded values")
            << QByteArray("\\:two\\r\\nlines\r\n0%\r\n\\:Complete List\r\n\\:\\\\:x\r\n\r\nhttp://h/\r\nd\r\n"
                          "Complete List\r\nFinish History\r\n")
            << Rows{{"two\r\nlines", "0%", "Complete List", "\\:x", "", "http://h/", "d"}} << Rows{} << false;

        // Damaged files: the complete rows before the damage are kept.
        QTest::newRow("empty file") << QByteArray() << Rows{} << Rows{} << true;
        QTest::newRow("cut in first row") << QByteArray("/d/a.zip\r\n0%\r\nN/A\r\n") << Rows{} << Rows{} << true;
        QTest::newRow("cut in second row") << ra + "/d/b.bin\r\n37%\r\n" << Rows{a} << Rows{} << true;
        QTest::newRow("cut before Complete List") << ra + rb << Rows{a, b} << Rows{} << true;
        QTest::newRow("cut after Complete List") << ra + "Complete List\r\n" << Rows{a} << Rows{} << true;
        QTest::newRow("cut in completed row") << ra + "Complete List\r\n" + rc + "/d/e\r\n100%\r\n" << Rows{a}
                                              << Rows{c} << true;
        QTest::newRow("Finish History missing") << ra + "Complete List\r\n" + rc << Rows{a} << Rows{c} << true;
        QTest::newRow("Complete List missing") << ra + "Finish History\r\n" << Rows{a} << Rows{} << true;
        QTest::newRow("marker inside a download row")
            << ra + "/d/b.bin\r\n37%\r\nComplete List\r\n" + rc + "Finish History\r\n" << Rows{a} << Rows{c} << true;
        QTest::newRow("marker inside a completed row")
            << "Complete List\r\n" + rc + "/d/e\r\nFinish History\r\n" << Rows{} << Rows{c} << true;
    }

    void loadHandWrittenFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(Rows, downloads);
        QFETCH(Rows, completed);
        QFETCH(bool, cutShort);

        HistoryFixture fx;
        // Rows from before the load are replaced.
        HistoryFixture::fill(fx.mainList, {row("old", "0%", "N/A", "N/A", "N/A", "http://old/")}, 1);
        HistoryFixture::fill(fx.completeList, {row("old", "100%", "1", "1", "done", "http://old/")}, 4);
        fx.writeBytes(file);

        const HistoryStore::LoadStatus status = fx.store->LoadHistory();
        QCOMPARE(status, cutShort ? HistoryStore::LoadStatus::CutShort : HistoryStore::LoadStatus::Loaded);
        QCOMPARE(HistoryFixture::rowsOf(fx.mainList), downloads);
        QCOMPARE(HistoryFixture::rowsOf(fx.completeList), completed);
        for (int i = 0; i < fx.mainList.count(); ++i)
            QCOMPARE(fx.mainList.icon(fx.mainList.idAt(i)), 1);
        for (int i = 0; i < fx.completeList.count(); ++i)
            QCOMPARE(fx.completeList.icon(fx.completeList.idAt(i)), 4);

        if (cutShort) {
            QCOMPARE(fx.statusLines.size(), 1);
            const QString line = fx.statusLines.first();
            QVERIFY2(line.startsWith(CorruptedText), qPrintable(line));
            QVERIFY2(line.contains(fx.historyPath()), qPrintable(line));
            QVERIFY2(line.endsWith(NotCorrectText), qPrintable(line));
            QCOMPARE(fx.store->lastMessage(), line);
        } else {
            QCOMPARE(fx.statusLines, QStringList{});
            QCOMPARE(fx.store->lastMessage(), QString());
        }
    }

    // The damage texts come from the active language.
    void damageReportUsesCaptions()
    {
        HistoryFixture fx;
        HistoryStore::Services s;
        s.mainList = &fx.mainList;
        s.completeList = &fx.completeList;
        s.programDir = fx.programDir();
        s.captions = [](const QString &id, const QString &) { return QStringLiteral("<%1>").arg(id); };
        s.status = [&fx](const QString &line) { fx.statusLines.append(line); };
        HistoryStore store(s);
        fx.writeBytes("a\r\nb\r\n");
        QCOMPARE(store.LoadHistory(), HistoryStore::LoadStatus::CutShort);
        QCOMPARE(fx.statusLines.size(), 1);
        QVERIFY2(fx.statusLines.first().startsWith(QStringLiteral("<13026> ")), qPrintable(fx.statusLines.first()));
        QVERIFY2(fx.statusLines.first().endsWith(QStringLiteral("<13027>")), qPrintable(fx.statusLines.first()));
    }

    void valueEncoding_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("written");

        // Values written as they are, so files of earlier versions read alike.
        QTest::newRow("path") << QStringLiteral("/home/u/Downloads/a b.zip") << true;
        QTest::newRow("backslashes") << QStringLiteral("C:\\new\\report.txt") << true;
        QTest::newRow("escape-like text") << QStringLiteral("http://h/\\r\\n\\\\") << true;
        QTest::newRow("trailing backslash") << QStringLiteral("C:\\") << true;
        QTest::newRow("refused marker") << QStringLiteral("0 %") << true;
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("non-ASCII") << QStringLiteral(u"/home/jürgen/下载/файл 🎉.zip") << true;
        QTest::newRow("prefix later in value") << QStringLiteral("a\\:b") << true;
        QTest::newRow("marker with blank") << QStringLiteral("Complete List ") << true;

        // Values that could not stand on a line of their own.
        QTest::newRow("LF") << QStringLiteral("first\nsecond") << false;
        QTest::newRow("CR") << QStringLiteral("first\rsecond") << false;
        QTest::newRow("CR LF at end") << QStringLiteral("line\r\n") << false;
        QTest::newRow("only line breaks") << QStringLiteral("\n\n\r") << false;
        QTest::newRow("break and backslashes") << QStringLiteral("C:\\n\\\nx\\") << false;
        QTest::newRow("break and non-ASCII") << QStringLiteral(u"grüße\n世界") << false;
        QTest::newRow("download marker") << QStringLiteral("Complete List") << false;
        QTest::newRow("finish marker") << QStringLiteral("Finish History") << false;
        QTest::newRow("starts with prefix") << QStringLiteral("\\:literal") << false;
        QTest::newRow("only prefix") << QStringLiteral("\\:") << false;
    }

    void valueEncoding()
    {
        QFETCH(QString, value);
        QFETCH(bool, written);

        const QString line = history::encodeValue(value);
        if (written)
            QCOMPARE(line, value);
        else
            QVERIFY(line != value);
        QVERIFY(!line.contains(QLatin1Char('\n')));
        QVERIFY(!line.contains(QLatin1Char('\r')));
        QCOMPARE(history::decodeValue(line), value);
    }

    // Every kind of value survives a save and a load in both lists, and each
    // row still takes exactly seven lines.
    void roundTrip()
    {
        const Rows downloads{
            row("/home/u/a.zip", "0%", "N/A", "N/A", "Not Downloaded", "http://example.com/a.zip"),
            {QStringLiteral("two\nlines"), QStringLiteral("12%"), QStringLiteral("C:\\new\\"),
             QStringLiteral("\r\n"), QStringLiteral("Complete List"), QStringLiteral("http://h/\\:x")},
            {QStringLiteral(u"/home/jürgen/下载/файл 🎉.zip"), QStringLiteral("0 %"), QString(), QString(),
             QStringLiteral("\\:Finish History"), QStringLiteral("Finish History")},
        };
        const Rows completed{
            {QStringLiteral("done\r"), QStringLiteral("100%"), QStringLiteral("\\"), QStringLiteral("\\\\n"),
             QStringLiteral(u"Übertragung\nfertig"), QStringLiteral("ftp://h/x")},
            row("/home/u/c", "100%", "1 KB", "1 KB", "Transfer Completed...", "http://h/c"),
        };

        HistoryFixture fx;
        HistoryFixture::fill(fx.mainList, downloads, 1);
        HistoryFixture::fill(fx.completeList, completed, 4);
        QVERIFY(fx.store->SaveHistory());
        QCOMPARE(fx.fileBytes().count('\n'), 7 * 5 + 2);

        HistoryFixture again;
        // Same program directory, fresh lists.
        HistoryStore::Services s;
        s.mainList = &again.mainList;
        s.completeList = &again.completeList;
        s.programDir = fx.programDir();
        HistoryStore reader(s);
        QCOMPARE(reader.LoadHistory(), HistoryStore::LoadStatus::Loaded);

        auto withDate = [](Rows rows) {
            for (QStringList &r : rows)
                r.append(QStringLiteral("2026-12-06"));
            return rows;
        };
        QCOMPARE(HistoryFixture::rowsOf(again.mainList), withDate(downloads));
        QCOMPARE(HistoryFixture::rowsOf(again.completeList), withDate(completed));
    }

    // A download that was under way when the history was written (an
    // autosave before a crash, the save at shutdown) comes back interrupted,
    // with its received size; rows that were not running keep their status.
    void interruptedDownloadsComeBackPaused_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("running"); // what the manager says at the save
        QTest::addColumn<QString>("restored");
        QTest::newRow("running at the save") << "Downloading..." << true << "Paused/Stopped";
        QTest::newRow("running, other text") << "Connecting to host" << true << "Paused/Stopped";
        QTest::newRow("older file, was downloading") << "Downloading..." << false << "Paused/Stopped";
        QTest::newRow("paused") << "Paused/Stopped" << false << "Paused/Stopped";
        QTest::newRow("failed") << "HTTP 404-Object Not Found" << false << "HTTP 404-Object Not Found";
        QTest::newRow("queued") << "Not Downloaded" << false << "Not Downloaded";
    }
    void interruptedDownloadsComeBackPaused()
    {
        QFETCH(QString, status);
        QFETCH(bool, running);
        QFETCH(QString, restored);
        HistoryFixture fx;
        const Rows before{row("/d/a.iso", "37%", "100 MB", "37 MB", status.toUtf8().constData(), "http://h/a.iso"),
                          row("/d/b.zip", "0%", "N/A", "N/A", "Not Downloaded", "http://h/b.zip")};
        HistoryFixture::fill(fx.mainList, before, 1);
        const DownloadListModel::RowId first = fx.mainList.idAt(0);
        HistoryStore::Services s;
        s.mainList = &fx.mainList;
        s.completeList = &fx.completeList;
        s.programDir = fx.programDir();
        s.today = [&fx] { return fx.today; };
        s.running = [&](DownloadListModel::RowId id) { return running && id == first; };
        HistoryStore writer(s);
        QVERIFY(writer.writeFile());
        // The list on screen keeps its texts; only the file says interrupted.
        QCOMPARE(fx.mainList.value(first, DownloadListModel::Status), status);

        QCOMPARE(writer.LoadHistory(), HistoryStore::LoadStatus::Loaded);
        Rows expected = before;
        expected[0][DownloadListModel::Status - 1] = restored;
        for (QStringList &r : expected)
            r.append(QStringLiteral("2026-12-06"));
        QCOMPARE(HistoryFixture::rowsOf(fx.mainList), expected);
    }

    // A restored row keeps the date of the save it came from until the next
    // save, which writes that day's date for every row.
    void restoredRowsCarryTheSaveDate()
    {
        HistoryFixture fx;
        HistoryFixture::fill(fx.mainList, {row("/d/a", "0%", "N/A", "N/A", "N/A", "http://h/a")}, 1);
        HistoryFixture::fill(fx.completeList, {row("/d/c", "100%", "1", "1", "done", "http://h/c")}, 4);
        fx.today = QDate(2025, 3, 9);
        QVERIFY(fx.store->SaveHistory());

        fx.today = QDate(2026, 1, 2);
        QCOMPARE(fx.store->LoadHistory(), HistoryStore::LoadStatus::Loaded);
        QCOMPARE(fx.mainList.value(fx.mainList.idAt(0), DownloadListModel::Date), QStringLiteral("2025-03-09"));
        QCOMPARE(fx.completeList.value(fx.completeList.idAt(0), DownloadListModel::Date), QStringLiteral("2025-03-09"));

        QVERIFY(fx.store->SaveHistory());
        const history::Content content = history::parseFile(fx.fileBytes());
        QCOMPARE(content.downloads.value(0).value(6), QStringLiteral("2026-01-02"));
        QCOMPARE(content.completed.value(0).value(6), QStringLiteral("2026-01-02"));
    }

    // Both lists empty: the file is removed and not recreated; the next load
    // finds nothing and leaves the lists alone.
    void emptyListsRemoveTheFile()
    {
        HistoryFixture fx;
        fx.writeBytes("x\r\n");
        QVERIFY(QFile::exists(fx.historyPath()));
        QVERIFY(fx.store->SaveHistory());
        QVERIFY(!QFile::exists(fx.historyPath()));
        QVERIFY(fx.store->SaveHistory());
        QVERIFY(!QFile::exists(fx.historyPath()));

        HistoryFixture::fill(fx.mainList, {row("/d/a", "0%", "N/A", "N/A", "N/A", "http://h/a")}, 1);
        QCOMPARE(fx.store->LoadHistory(), HistoryStore::LoadStatus::NoFile);
        QCOMPARE(fx.mainList.count(), 1);
        QCOMPARE(fx.statusLines, QStringList{});
    }

    // One list empty still writes both markers.
    void oneListEmpty()
    {
        HistoryFixture fx;
        HistoryFixture::fill(fx.completeList, {row("/d/c", "100%", "1", "1", "done", "http://h/c")}, 4);
        QVERIFY(fx.store->SaveHistory());
        QCOMPARE(fx.fileBytes(),
                 QByteArray("Complete List\r\n/d/c\r\n100%\r\n1\r\n1\r\ndone\r\nhttp://h/c\r\n2026-12-06\r\nFinish History\r\n"));
    }

    // A history path that cannot be opened is reported and the lists stay.
    void unreadableFileLeavesListsAlone()
    {
        HistoryFixture fx;
        QVERIFY(QDir().mkpath(fx.historyPath()));
        HistoryFixture::fill(fx.mainList, {row("/d/a", "0%", "N/A", "N/A", "N/A", "http://h/a")}, 1);
        QCOMPARE(fx.store->LoadHistory(), HistoryStore::LoadStatus::Unreadable);
        QCOMPARE(fx.mainList.count(), 1);
        QCOMPARE(fx.statusLines.size(), 1);
        QVERIFY(fx.statusLines.first().startsWith(fx.historyPath()));
    }

    void saveIntoMissingDirectoryFails()
    {
        HistoryFixture fx;
        HistoryStore::Services s;
        s.mainList = &fx.mainList;
        s.completeList = &fx.completeList;
        s.programDir = fx.dir.filePath(QStringLiteral("missing"));
        HistoryStore store(s);
        HistoryFixture::fill(fx.mainList, {row("/d/a", "0%", "N/A", "N/A", "N/A", "http://h/a")}, 1);
        QString error;
        QVERIFY(!store.SaveHistory(&error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFile::exists(store.filePath()));
    }
};

QTEST_GUILESS_MAIN(TestHistoryStore)
#include "tst_historystore.moc"
