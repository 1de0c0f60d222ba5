// Transfers: the automatic type, the per-file send decision, the status and
// rate texts as tables; against vsftpd the existing-file prompt's answers,
// Auto mode's bytes on the server and folder trees both ways; against a
// scripted server, hostile listing names; and the existing-file prompt.
#include "fakeserver.h"
#include "ftpfileserver.h"
#include "ftpservers.h"
#include "tst_remoteops_rig.h"

#include "ftpclient/ui/frmftpexist.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

Q_DECLARE_METATYPE(ExistAnswer)

namespace {

const QDateTime Noon(QDate(2026, 5, 4), QTime(12, 30, 0), Qt::UTC);

FtpListEntry entry(const QString &name, qint64 size, const QDateTime &date)
{
    FtpListEntry e;
    e.name = name;
    e.size = size;
    e.modified = date;
    return e;
}

// "O", "R", "S", "C" for the four answers; a trailing "*" checks Apply To All.
ExistReply reply(const QString &code)
{
    static const QHash<QChar, ExistAnswer> answers{{QLatin1Char('O'), ExistAnswer::Overwrite},
                                                   {QLatin1Char('R'), ExistAnswer::Resume},
                                                   {QLatin1Char('S'), ExistAnswer::Skip},
                                                   {QLatin1Char('C'), ExistAnswer::Cancel}};
    return {answers.value(code.at(0)), code.endsWith(QLatin1Char('*'))};
}

} // namespace

class TestTransfers : public QObject {
    Q_OBJECT

private:
    bool connectUpload(EngineRig &rig, VsftpdServer &server)
    {
        return rig.connectTo(server.port(), QStringLiteral("anonymous"), QStringLiteral("x@y"))
               && rig.enter(VsftpdServer::uploadFolder());
    }

private Q_SLOTS:
    void automaticType_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("types");
        QTest::addColumn<int>("type");
        const QString def = QString::fromLatin1(DefaultAutoTypes);
        QTest::newRow("report.TXT: the extension is lower-cased") << "report.TXT" << def << 1;
        QTest::newRow("image.gif") << "image.gif" << def << 0;
        QTest::newRow("last dot counts") << "page.gif.html" << def << 1;
        QTest::newRow("archive.txt.gz") << "archive.txt.gz" << def << 0;
        QTest::newRow("no extension") << "Makefile" << def << 0;
        QTest::newRow("a dot in the folder only") << "/data/logs.txt/Makefile" << def << 0;
        QTest::newRow("entry in capitals never matches") << "report.txt" << "TXT;LOG" << 0;
        QTest::newRow("nor for a capital extension") << "report.TXT" << "TXT" << 0;
        QTest::newRow("other list") << "main.cpp" << "cpp;h" << 1;
    }
    void automaticType()
    {
        QFETCH(QString, file);
        QFETCH(QString, types);
        QFETCH(int, type);
        QCOMPARE(::automaticType(file, parseAutoTypes(types)), type);
    }

    void sendDecision_data()
    {
        QTest::addColumn<QList<FtpListEntry>>("remote");
        QTest::addColumn<int>("conflict"); // index into remote, -1 for none
        const QDateTime minuteOnly(Noon.date(), QTime(12, 30), Qt::UTC);
        QTest::newRow("not on the server") << QList<FtpListEntry>{entry("other.bin", 10, Noon)} << -1;
        QTest::newRow("same name, size and date") << QList<FtpListEntry>{entry("f.bin", 100, Noon)} << -1;
        QTest::newRow("a LIST date to the minute") << QList<FtpListEntry>{entry("f.bin", 100, minuteOnly)} << -1;
        QTest::newRow("size differs") << QList<FtpListEntry>{entry("f.bin", 99, Noon)} << 0;
        QTest::newRow("date differs") << QList<FtpListEntry>{entry("f.bin", 100, Noon.addSecs(60))} << 0;
        QTest::newRow("no date given") << QList<FtpListEntry>{entry("f.bin", 100, QDateTime())} << 0;
        QTest::newRow("name compared exactly") << QList<FtpListEntry>{entry("F.BIN", 1, Noon)} << -1;
        QTest::newRow("first differing entry")
            << QList<FtpListEntry>{entry("f.bin", 100, Noon), entry("f.bin", 5, Noon), entry("f.bin", 6, Noon)} << 1;
    }
    void sendDecision()
    {
        QFETCH(QList<FtpListEntry>, remote);
        QFETCH(int, conflict);
        // The local file: 100 bytes, 12:30:17 local time.
        const QDateTime localDate = Noon.addSecs(17).toLocalTime();
        const auto found = findConflictingEntry(QStringLiteral("f.bin"), 100, localDate, remote);
        QCOMPARE(found.has_value(), conflict >= 0);
        if (found)
            QCOMPARE(*found, remote.at(conflict));
    }

    void answerDecision_data()
    {
        QTest::addColumn<ExistAnswer>("answer");
        QTest::addColumn<bool>("skip");
        QTest::addColumn<bool>("continueFile");
        QTest::addColumn<qint64>("offset");
        QTest::newRow("overwrite from 0") << ExistAnswer::Overwrite << false << false << qint64(0);
        QTest::newRow("resume at the remote size") << ExistAnswer::Resume << false << true << qint64(4096);
        QTest::newRow("skip") << ExistAnswer::Skip << true << false << qint64(0);
        QTest::newRow("cancel skips") << ExistAnswer::Cancel << true << false << qint64(0);
    }
    void answerDecision()
    {
        QFETCH(ExistAnswer, answer);
        QFETCH(bool, skip);
        QFETCH(bool, continueFile);
        QFETCH(qint64, offset);
        QCOMPARE(decisionForAnswer(answer, 4096), (SendDecision{skip, continueFile, offset}));
    }

    void eventTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("upload, rounded down")
            << transferStatusText(FtpComponent::Sending, "a.bin", 10000, 5000) << "Uploading file 'a.bin' (4 of 9K)";
        QTest::newRow("folder upload") << transferStatusText(FtpComponent::SendingFiles, "a", 2048, 1024)
                                       << "Uploading file 'a' (1 of 2K)";
        QTest::newRow("download") << transferStatusText(FtpComponent::Receiving, "b", 1023, 0)
                                  << "Downloading file 'b' (0 of 0K)";
        QTest::newRow("other state") << transferStatusText(FtpComponent::Busy, "c", 4096, 4096)
                                     << "Processing file 'c' (4 of 4K)";
        QTest::newRow("rate in bytes, time unknown") << rateText(512, -1) << "512 Bytes/s";
        QTest::newRow("rate in KB, time left") << rateText(1536, 3725) << "1.50 KB/s, 01:02:05 left";
        QTest::newRow("rate in MB") << rateText(2 * 1048576, 0) << "2.00 MB/s, 00:00:00 left";
        QTest::newRow("no rate yet") << rateText(-1, -1) << "";
        QTest::newRow("skipped, first name") << skippedFileText("x", "", 0x2a) << "x was skipped. Reason code: 0x2A";
        QTest::newRow("skipped, second name") << skippedFileText("", "y", 255) << "y was skipped. Reason code: 0xFF";
    }
    void eventTexts()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }

    void progressRateAndTimeLeft()
    {
        EngineRig rig;
        QList<QList<qint64>> rates;
        QList<int> percents;
        QObject scope; // ends the connections below before the locals they use
        connect(&rig.transfers, &Transfers::rate, &scope, [&](qint64 r, qint64 left) { rates.append({r, left}); });
        connect(&rig.transfers, &Transfers::progress, &scope, [&](int p) { percents.append(p); });
        const auto step = [&](qint64 ms, const QString &name, qint64 done, int percent) {
            rig.clockMs = ms;
            emit rig.ftp.transferStatus(name, name, 10000, done, percent, 0, 0);
        };
        step(0, "a", 0, 0);
        step(1000, "a", 4000, 40);
        step(2000, "a", 8000, 80);
        step(2500, "a", 10000, 100);
        step(3000, "b", 500, 5); // a new file starts its own count
        step(4000, "b", 2500, 25);
        QCOMPARE(rates, (QList<QList<qint64>>{{-1, -1}, {4000, 2}, {4000, 1}, {4000, 0}, {-1, -1}, {2000, 4}}));
        QCOMPARE(percents, (QList<int>{0, 40, 80, 100, 5, 25}));
        QCOMPARE(rig.statuses.last(), QStringLiteral("Processing file 'b' (2 of 9K)"));
    }

    void sendWithExistingFiles_data()
    {
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<int>("prompts");
        QTest::addColumn<QStringList>("result"); // conflict1, conflict2, fresh: "local", "server", "absent"
        QTest::addColumn<QStringList>("skipped");
        QTest::addColumn<QString>("status");
        const QString done = QStringLiteral("Upload complete");
        QTest::newRow("overwrite each") << QStringList{"O", "O"} << 2 << QStringList{"local", "local", "local"}
                                        << QStringList{} << done;
        QTest::newRow("overwrite, apply to all") << QStringList{"O*"} << 1 << QStringList{"local", "local", "local"}
                                                 << QStringList{} << done;
        QTest::newRow("resume, then skip") << QStringList{"R", "S"} << 2 << QStringList{"local", "server", "local"}
                                           << QStringList{"conflict2.bin"} << done;
        QTest::newRow("skip, apply to all") << QStringList{"S*"} << 1 << QStringList{"server", "server", "local"}
                                            << QStringList{"conflict1.bin", "conflict2.bin"} << done;
        QTest::newRow("cancel") << QStringList{"C"} << 1 << QStringList{"server", "server", "absent"}
                                << QStringList{"conflict1.bin"} << QStringLiteral("Upload aborted.");
    }
    void sendWithExistingFiles()
    {
        QFETCH(QStringList, answers);
        QFETCH(int, prompts);
        QFETCH(QStringList, result);
        QFETCH(QStringList, skipped);
        QFETCH(QString, status);
        const QByteArray local1 = binaryBytes(3000, 1);
        const QByteArray local2 = binaryBytes(2000, 2);
        const QByteArray server1 = local1.left(1000); // an interrupted upload: resumable
        const QByteArray server2 = binaryBytes(5000, 9);
        VsftpdServer server;
        server.setWritableArea(true);
        QVERIFY(server.addFile(QStringLiteral("upload/same.bin"), "same bytes"));
        QVERIFY(server.addFile(QStringLiteral("upload/conflict1.bin"), server1));
        QVERIFY(server.addFile(QStringLiteral("upload/conflict2.bin"), server2));
        SUITE_START_SERVER(server);

        QTemporaryDir dir;
        const QString from = dir.filePath(QStringLiteral("from/"));
        QVERIFY(writeFile(from + QStringLiteral("same.bin"), "same bytes"));
        QVERIFY(writeFile(from + QStringLiteral("conflict1.bin"), local1));
        QVERIFY(writeFile(from + QStringLiteral("conflict2.bin"), local2));
        QVERIFY(writeFile(from + QStringLiteral("fresh.bin"), "fresh"));
        // same.bin: the server's size and date, so it raises no prompt.
        QFile same(from + QStringLiteral("same.bin"));
        QVERIFY(same.open(QIODevice::ReadWrite));
        QVERIFY(same.setFileTime(QFileInfo(server.uploadPath() + QStringLiteral("/same.bin")).lastModified(),
                                 QFileDevice::FileModificationTime));
        same.close();

        EngineRig rig;
        QVERIFY(connectUpload(rig, server));
        for (const QString &a : answers)
            rig.existAnswers.push_back(reply(a));
        rig.transfers.SendSelectedFiles(from, {localRow(from, "same.bin", false), localRow(from, "conflict1.bin", false),
                                               localRow(from, "conflict2.bin", false),
                                               localRow(from, "fresh.bin", false)});

        QCOMPARE(int(rig.existShown.size()), prompts);
        QCOMPARE(rig.existShown.first().name, QStringLiteral("conflict1.bin"));
        QVERIFY2(rig.existShown.first().destination.startsWith(
                     QStringLiteral("Destination File Size: 1000 Last Modified: ")),
                 qPrintable(rig.existShown.first().destination));
        QVERIFY2(rig.existShown.first().source.startsWith(QStringLiteral("Source File Size: 3000 Last Modified: ")),
                 qPrintable(rig.existShown.first().source));
        const QString up = server.uploadPath() + QLatin1Char('/');
        const QList<std::tuple<QString, QByteArray, QByteArray>> files{{"conflict1.bin", local1, server1},
                                                                       {"conflict2.bin", local2, server2},
                                                                       {"fresh.bin", "fresh", {}}};
        for (int i = 0; i < files.size(); ++i) {
            const auto &[name, mine, theirs] = files.at(i);
            const QString expected = result.at(i);
            if (expected == QLatin1String("absent"))
                QVERIFY2(!QFile::exists(up + name), qPrintable(name));
            else
                QVERIFY2(readFile(up + name) == (expected == QLatin1String("local") ? mine : theirs), qPrintable(name));
        }
        QCOMPARE(readFile(up + QStringLiteral("same.bin")), QByteArray("same bytes"));
        QStringList skippedLines;
        for (const QString &name : skipped)
            skippedLines.append(QStringLiteral("Skiped sending file: ") + name);
        QCOMPARE(rig.messages.filter(QStringLiteral("Skiped sending file:")), skippedLines);
        QVERIFY(rig.statuses.contains(status));
        if (status == QLatin1String("Upload aborted."))
            QVERIFY(rig.messages.contains(QStringLiteral("Upload successfully aborted.")));
        // The pane is relisted at the end, and the next call is not aborted.
        QCOMPARE(rig.pathShown, 1);
        QVERIFY(rig.paneNames().contains(QStringLiteral("same.bin")));
        QVERIFY(rig.ftp.changeFolder(QStringLiteral(".")));
    }

    void transferMode_data()
    {
        QTest::addColumn<int>("mode"); // TransferMode
        QTest::addColumn<QString>("types");
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("ascii"); // the server holds CR LF line ends
        const QString def = QString::fromLatin1(DefaultAutoTypes);
        QTest::newRow("auto: report.TXT is ASCII") << int(TransferMode::Auto) << def << "report.TXT" << true;
        QTest::newRow("auto: image.gif is binary") << int(TransferMode::Auto) << def << "image.gif" << false;
        QTest::newRow("auto: capital entry never matches") << int(TransferMode::Auto) << "TXT" << "report.TXT"
                                                           << false;
        QTest::newRow("ASCII: image.gif too") << int(TransferMode::Ascii) << def << "image.gif" << true;
        QTest::newRow("binary: report.txt too") << int(TransferMode::Binary) << def << "report.txt" << false;
    }
    void transferMode()
    {
        QFETCH(int, mode);
        QFETCH(QString, types);
        QFETCH(QString, file);
        QFETCH(bool, ascii);
        VsftpdServer server;
        server.setWritableArea(true);
        SUITE_START_SERVER(server);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(file), "one\ntwo\n"));
        EngineRig rig;
        QVERIFY(connectUpload(rig, server));
        rig.transfers.setMode(TransferMode(mode));
        rig.transfers.setAutoTypes(parseAutoTypes(types));
        rig.transfers.SendSelectedFiles(dir.path(), {localRow(dir.path(), file, false)});
        QCOMPARE(rig.lastStatus(), QStringLiteral("Listing of remote folder completed."));
        QVERIFY(rig.statuses.contains(QStringLiteral("Upload complete")));
        QCOMPARE(readFile(server.uploadPath() + QLatin1Char('/') + file),
                 ascii ? QByteArray("one\r\ntwo\r\n") : QByteArray("one\ntwo\n"));
    }

    void folderTreesBothWays()
    {
        VsftpdServer server;
        server.setWritableArea(true);
        SUITE_START_SERVER(server);
        QTemporaryDir dir;
        const QString from = dir.filePath(QStringLiteral("from/"));
        // Binary content under names Auto mode sends as binary; one text
        // file without line ends, the same in either type.
        const std::map<QString, QByteArray> tree{{"tree/", {}},
                                                 {"tree/a.bin", binaryBytes(70000, 3)},
                                                 {"tree/note.txt", "no line ends"},
                                                 {"tree/sub/", {}},
                                                 {"tree/sub/b.dat", binaryBytes(1234, 4)},
                                                 {"tree/sub/deeper/", {}},
                                                 {"tree/sub/deeper/c.gif", binaryBytes(99, 5)},
                                                 {"tree/empty/", {}}};
        for (const auto &[path, bytes] : tree)
            QVERIFY(path.endsWith(QLatin1Char('/')) ? QDir().mkpath(from + path) : writeFile(from + path, bytes));

        EngineRig rig;
        QVERIFY(connectUpload(rig, server));
        rig.prompts.expectMessage(QStringLiteral("Do you want to send any subfolders that are contained in the '")
                                      + from + QStringLiteral("tree' folder?"),
                                  PromptAnswer::Yes);
        rig.transfers.SendSelectedFiles(from, {localRow(from, "tree", true)});
        VERIFY_PROMPTS_DONE(rig.prompts);
        QVERIFY2(rig.statuses.contains(QStringLiteral("Upload complete")), qPrintable(rig.messages.join('\n')));
        QCOMPARE(snapshot(server.uploadPath()), tree);
        QString folder;
        QVERIFY(rig.ftp.currentFolder(folder));
        QCOMPARE(folder, QStringLiteral("/upload"));
        QCOMPARE(rig.paneNames(), QStringList{"tree"});

        // And back into another local folder.
        const QString back = dir.filePath(QStringLiteral("back/"));
        QVERIFY(QDir().mkpath(back));
        rig.prompts.expectMessage(
            QStringLiteral("Do you want to receive any subfolders that are contained in the 'tree' folder?"),
            PromptAnswer::Yes);
        rig.transfers.ReceiveSelectedFiles(back, rig.rowsOf({"tree"}));
        VERIFY_PROMPTS_DONE(rig.prompts);
        QCOMPARE(rig.lastStatus(), QStringLiteral("File download(s) complete."));
        QCOMPARE(snapshot(back), tree);
        QCOMPARE(rig.localRelists, 1);

        // A folder that exists locally makes the receive fail.
        rig.transfers.ReceiveSelectedFiles(back, rig.rowsOf({"tree"}));
        QCOMPARE(rig.messages.last(), QStringLiteral("Error while downloading file(s). Description: File exists"));
        QCOMPARE(rig.lastStatus(), QStringLiteral("Error downloading file(s)."));
        QCOMPARE(rig.localRelists, 2);
        QCOMPARE(snapshot(back), tree);
    }

    void abortedTreeSendReturnsToTheStartingFolder()
    {
        VsftpdServer server;
        server.setWritableArea(true);
        SUITE_START_SERVER(server);
        QTemporaryDir dir;
        const QString from = dir.filePath(QStringLiteral("from/"));
        for (const char *name : {"tree/a.bin", "tree/sub/b.bin", "tree/sub/c.bin", "tree/sub/deeper/d.bin"})
            QVERIFY(writeFile(from + QLatin1String(name), binaryBytes(100, 1)));
        EngineRig rig;
        QVERIFY(connectUpload(rig, server));
        // Abort pressed as the send enters tree/sub.
        int stores = 0;
        QObject scope; // ends the connections below before the locals they use
        connect(&rig.ftp, &FtpComponent::logLine, &scope, [&](const QString &line) {
            stores += line.startsWith(QLatin1String("STOR ")) ? 1 : 0;
        });
        connect(&rig.ops, &RemoteOps::status, &scope, [&](const QString &text) {
            if (text == QLatin1String("Remote folder changed to /upload/tree/sub"))
                rig.ftp.setAbort(true);
        });
        rig.prompts.expectMessage(QStringLiteral("Do you want to send any subfolders"), PromptAnswer::Yes);
        rig.transfers.SendSelectedFiles(from, {localRow(from, "tree", true)});
        VERIFY_PROMPTS_DONE(rig.prompts);

        QCOMPARE(stores, 1);
        QVERIFY(rig.messages.contains(QStringLiteral("Upload successfully aborted.")));
        QVERIFY(rig.statuses.contains(QStringLiteral("Upload aborted.")));
        QCOMPARE(snapshot(server.uploadPath()), (std::map<QString, QByteArray>{{"tree/", {}},
                                                                              {"tree/a.bin", binaryBytes(100, 1)},
                                                                              {"tree/sub/", {}}}));
        QString folder;
        QVERIFY(rig.ftp.currentFolder(folder));
        QCOMPARE(folder, QStringLiteral("/upload"));
        QCOMPARE(rig.paneNames(), QStringList{"tree"});
    }

    void folderArrivesUnderItsRealName_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("subfolders");
        QTest::newRow("auto, with subfolders") << int(TransferMode::Auto) << true;
        QTest::newRow("binary, with subfolders") << int(TransferMode::Binary) << true;
        QTest::newRow("auto, without subfolders") << int(TransferMode::Auto) << false;
    }
    void folderArrivesUnderItsRealName()
    {
        QFETCH(int, mode);
        QFETCH(bool, subfolders);
        VsftpdServer server;
        server.setWritableArea(true);
        SUITE_START_SERVER(server);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(QStringLiteral("docs/a.bin")), binaryBytes(300, 1)));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("docs/sub/b.bin")), binaryBytes(200, 2)));
        EngineRig rig;
        QVERIFY(connectUpload(rig, server));
        rig.transfers.setMode(TransferMode(mode));
        // The pane lists the folder docs as DOCS; the question names the
        // folder on disk, and the server gets the folder's real name.
        rig.prompts.expectMessage(QStringLiteral("contained in the '") + dir.filePath(QStringLiteral("docs"))
                                      + QStringLiteral("' folder?"),
                                  subfolders ? PromptAnswer::Yes : PromptAnswer::No);
        rig.transfers.SendSelectedFiles(dir.path(), {localRow(dir.path(), "docs", true, "DOCS")});
        VERIFY_PROMPTS_DONE(rig.prompts);
        std::map<QString, QByteArray> expected{{"docs/", {}}, {"docs/a.bin", binaryBytes(300, 1)}};
        if (subfolders) {
            expected["docs/sub/"] = {};
            expected["docs/sub/b.bin"] = binaryBytes(200, 2);
        }
        QCOMPARE(snapshot(server.uploadPath()), expected);
        QString folder;
        QVERIFY(rig.ftp.currentFolder(folder));
        QCOMPARE(folder, QStringLiteral("/upload"));
    }

    void hostileListingNamesWriteNothingOutside()
    {
        FtpFileServer ftp(10);
        QByteArray listing = "-rw-r--r--   1 ftp ftp 10 Jan 02  2024 ../x\r\n"
                             "-rw-r--r--   1 ftp ftp 10 Jan 02  2024 a/b\r\n"
                             "drwxr-xr-x   2 ftp ftp 4096 Jan 02  2024 ../up\r\n"
                             "-rw-r--r--   1 ftp ftp 10 Jan 02  2024 ok.txt\r\n";
        ftp.override = [&](const QByteArray &command, FakePlan &plan) {
            if (command == "PWD") {
                plan.send("257 \"/\" is the current directory\r\n");
                return true;
            }
            if (command.startsWith("LIST") || command.startsWith("NLST")) {
                plan.send("150 Here comes the listing\r\n");
                FakePlan data;
                data.send(listing).close();
                plan.call([&ftp, data] {
                    if (FakeConnection *c = ftp.passiveData.connection(ftp.passiveData.connectionCount() - 1))
                        c->run(data);
                });
                plan.wait(50);
                plan.send("226 Directory send OK\r\n");
                return true;
            }
            return false;
        };
        QVERIFY(ftp.control.isListening());
        QVERIFY(ftp.passiveData.isListening());

        QTemporaryDir dir;
        const QString into = dir.filePath(QStringLiteral("into/"));
        QVERIFY(QDir().mkpath(into));
        EngineRig rig;
        QVERIFY(rig.connectTo(ftp.control.port(), QStringLiteral("u"), QStringLiteral("p")));
        rig.ops.RefreshRemoteList();
        QCOMPARE(rig.paneNames(), (QStringList{"../up", "../x", "a/b", "ok.txt"}));

        rig.transfers.ReceiveSelectedFiles(into, {0, 1, 2, 3});
        QCOMPARE(snapshot(dir.path()),
                 (std::map<QString, QByteArray>{{"into/", {}}, {"into/ok.txt", HttpFileServer::bytes(0, 10)}}));
        for (const QByteArray &c : std::as_const(ftp.commands))
            QVERIFY2(!c.contains("..") && !c.contains("a/b"), c.constData());
        QCOMPARE(rig.messages.filter(QStringLiteral("was skipped: the name cannot be used as a local file name.")).size(),
                 3);
        QCOMPARE(rig.lastStatus(), QStringLiteral("File download(s) complete."));
    }

    void existingFilePrompt_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("all");
        QTest::addColumn<ExistAnswer>("answer");
        QTest::newRow("overwrite") << "cmdOverwrite" << false << ExistAnswer::Overwrite;
        QTest::newRow("resume, to all") << "cmdResume" << true << ExistAnswer::Resume;
        QTest::newRow("skip, to all") << "cmdSkip" << true << ExistAnswer::Skip;
        QTest::newRow("cancel") << "cmdCancel" << false << ExistAnswer::Cancel;
        QTest::newRow("closed") << "" << false << ExistAnswer::Cancel;
    }
    void existingFilePrompt()
    {
        QFETCH(QString, button);
        QFETCH(bool, all);
        QFETCH(ExistAnswer, answer);
        corvane::frmExist prompt;
        QCOMPARE(prompt.windowTitle(), QStringLiteral("File Exists!"));
        QCOMPARE(prompt.chkAll->text(), QStringLiteral("Apply To All"));
        QTimer::singleShot(0, &prompt, [&] {
            QCOMPARE(prompt.lblDestination->text(), QStringLiteral("Destination File Size: 1"));
            QCOMPARE(prompt.lblSource->text(), QStringLiteral("Source File Size: 2"));
            prompt.chkAll->setChecked(all);
            if (button.isEmpty())
                prompt.close();
            else
                prompt.findChild<QPushButton *>(button)->click();
        });
        const ExistReply r =
            prompt.ask({QStringLiteral("f"), QStringLiteral("Destination File Size: 1"), QStringLiteral("Source File Size: 2")});
        QCOMPARE(r.eResumeFile, answer);
        QCOMPARE(r.applyToAll, all);
        QVERIFY(!prompt.isVisible());
    }
};

QTEST_MAIN(TestTransfers)
#include "tst_transfers.moc"
