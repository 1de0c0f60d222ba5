// The remote operations against real servers on loopback: recursive delete
// (links removed, never followed), rename, move, create, go to, the filters,
// permissions; and the permission dialog's number.
#include "ftpservers.h"
#include "pyftpdserver.h"
#include "tst_remoteops_rig.h"

#include "ftpclient/ui/frmremotechangemode.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

namespace {

int occurrences(const QByteArray &log, const QByteArray &what)
{
    return int(log.count(what));
}

} // namespace

class TestRemoteOps : public QObject {
    Q_OBJECT

private:
    // vsftpd with a writable "upload" folder holding files; the rig is
    // connected and lists "upload".
    bool startWritable(VsftpdServer &server, const std::map<QString, QByteArray> &files)
    {
        server.setWritableArea(true);
        for (const auto &[path, bytes] : files) {
            if (path.endsWith(QLatin1Char('/')) ? !server.addFolder(path) : !server.addFile(path, bytes))
                return false;
        }
        return true;
    }
    bool connectUpload(EngineRig &rig, VsftpdServer &server)
    {
        return rig.connectTo(server.port(), QStringLiteral("anonymous"), QStringLiteral("x@y"))
               && rig.enter(VsftpdServer::uploadFolder());
    }

private Q_SLOTS:
    void deleteSelection_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("yes removes files and trees") << true;
        QTest::newRow("no removes nothing") << false;
    }
    void deleteSelection()
    {
        QFETCH(bool, yes);
        VsftpdServer server;
        QVERIFY(startWritable(server, {{"upload/a.txt", "a"},
                                       {"upload/b.txt", "bb"},
                                       {"upload/tree/f1.txt", "one"},
                                       {"upload/tree/sub/f2.bin", binaryBytes(5000, 2)},
                                       {"upload/tree/sub/f3.bin", "three"},
                                       {"upload/keep.txt", "keep"}}));
        SUITE_START_SERVER(server);
        EngineRig rig;
        QVERIFY(connectUpload(rig, server));
        const auto before = snapshot(server.uploadPath());
        const QList<RemoteRow> shown = rig.ops.pane()->rows();
        QCOMPARE(rig.paneNames(), (QStringList{"a.txt", "b.txt", "keep.txt", "tree"}));

        rig.prompts.expectMessage(QStringLiteral("Are you sure you want to delete the selected remote items?"),
                                  yes ? PromptAnswer::Yes : PromptAnswer::No);
        rig.ops.DeleteSelectedRemoteItems(rig.rowsOf({"tree", "a.txt", "b.txt"}));
        VERIFY_PROMPTS_DONE(rig.prompts);

        // The overlay showed the starting folder and is hidden again.
        QCOMPARE(rig.overlay, (QList<bool>{true, false}));
        QCOMPARE(rig.ops.overlay()->rows(), shown);
        if (yes) {
            QCOMPARE(snapshot(server.uploadPath()), (std::map<QString, QByteArray>{{"keep.txt", "keep"}}));
            QCOMPARE(rig.paneNames(), QStringList{"keep.txt"});
            QCOMPARE(rig.pathShown, 1); // one relist at the end
        } else {
            QCOMPARE(snapshot(server.uploadPath()), before);
            QCOMPARE(rig.pathShown, 0);
        }
        QString folder;
        QVERIFY(rig.ftp.currentFolder(folder));
        QCOMPARE(folder, QStringLiteral("/upload"));
    }

    void recursiveDeleteRemovesLinksWithoutFollowingThem()
    {
        VsftpdServer server;
        QVERIFY(startWritable(server, {{"target/precious.txt", "keep me"},
                                       {"target/inner/deep.txt", "deep"},
                                       {"upload/tree/f.txt", "f"},
                                       {"upload/other.txt", "o"}}));
        // Links to a folder outside the selection: one selected, one inside
        // the selected tree; and a link to a file.
        QVERIFY(QFile::link(QStringLiteral("../target"), server.uploadPath() + QStringLiteral("/outside-link")));
        QVERIFY(QFile::link(QStringLiteral("../../target"), server.uploadPath() + QStringLiteral("/tree/inner-link")));
        QVERIFY(QFile::link(QStringLiteral("other.txt"), server.uploadPath() + QStringLiteral("/file-link")));
        SUITE_START_SERVER(server);
        const QString target = QDir(server.rootPath()).filePath(QStringLiteral("target"));
        const auto targetBefore = snapshot(target);
        EngineRig rig;
        QVERIFY(connectUpload(rig, server));
        QCOMPARE(rig.ops.pane()->row(rig.rowsOf({"outside-link"}).value(0)).kind, RemoteKind::Link);

        rig.prompts.expectMessage(QStringLiteral("delete the selected remote items"), PromptAnswer::Yes);
        rig.ops.DeleteSelectedRemoteItems(rig.rowsOf({"outside-link", "tree", "file-link"}));
        VERIFY_PROMPTS_DONE(rig.prompts);

        QCOMPARE(snapshot(server.uploadPath()), (std::map<QString, QByteArray>{{"other.txt", "o"}}));
        QCOMPARE(snapshot(target), targetBefore);
        QVERIFY(!server.log().contains("CWD outside-link"));
        QVERIFY(!server.log().contains("CWD inner-link"));
    }

    void abortStopsTheRecursiveDelete()
    {
        VsftpdServer server;
        QVERIFY(startWritable(server, {{"upload/tree/a.txt", "a"},
                                       {"upload/tree/b.txt", "b"},
                                       {"upload/tree/sub/c.txt", "c"},
                                       {"upload/tree/sub/deeper/d.txt", "d"}}));
        SUITE_START_SERVER(server);
        EngineRig rig;
        QVERIFY(connectUpload(rig, server));
        QStringList commands;
        QObject scope; // ends the connections below before the locals they use
        connect(&rig.ftp, &FtpComponent::logLine, &scope, [&](const QString &line) { commands.append(line); });
        // The user presses Abort as the walk enters the sub-folder.
        connect(&rig.ops, &RemoteOps::status, &scope, [&](const QString &text) {
            if (text == QLatin1String("Remote folder changed to /upload/tree/sub"))
                rig.ftp.setAbort(true);
        });
        rig.prompts.expectMessage(QStringLiteral("delete the selected remote items"), PromptAnswer::Yes);
        rig.ops.DeleteSelectedRemoteItems(rig.rowsOf({"tree"}));
        VERIFY_PROMPTS_DONE(rig.prompts);

        // The files of tree went; nothing after the abort did.
        QVERIFY(rig.ops.aborted());
        QCOMPARE(commands.filter(QRegularExpression(QStringLiteral("^DELE "))).size(), 2);
        QCOMPARE(commands.filter(QRegularExpression(QStringLiteral("^RMD "))), QStringList());
        QCOMPARE(snapshot(server.uploadPath()),
                 (std::map<QString, QByteArray>{{"tree/", {}},
                                                {"tree/sub/", {}},
                                                {"tree/sub/c.txt", "c"},
                                                {"tree/sub/deeper/", {}},
                                                {"tree/sub/deeper/d.txt", "d"}}));
        QCOMPARE(rig.messages.filter(QRegularExpression(QStringLiteral("^Error: .+"))).size(), 1);
        QCOMPARE(rig.overlay, (QList<bool>{true, false}));
        QString folder;
        QVERIFY(rig.ftp.currentFolder(folder));
        QCOMPARE(folder, QStringLiteral("/upload"));
        QCOMPARE(rig.paneNames(), QStringList{"tree"});
    }

    void rename_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<std::optional<QString>>("answer");
        QTest::addColumn<QString>("box");       // the message box expected, empty for none
        QTest::addColumn<QString>("status");    // a status shown, empty for none
        QTest::addColumn<QString>("message");   // start of a message line, empty for none
        QTest::addColumn<QStringList>("names"); // the folder afterwards
        const QString empty = QStringLiteral("You can not rename the folder/file to empty string");
        QTest::newRow("no") << false << std::optional<QString>() << QString()
                            << QStringLiteral("Remote file not renamed.") << QString() << QStringList{"old.txt"};
        QTest::newRow("empty name") << true << std::optional<QString>(QString()) << empty << QString() << QString()
                                    << QStringList{"old.txt"};
        QTest::newRow("cancelled") << true << std::optional<QString>() << empty << QString() << QString()
                                   << QStringList{"old.txt"};
        QTest::newRow("renamed") << true << std::optional<QString>(QStringLiteral("new.txt")) << QString()
                                 << QStringLiteral("Remote file renamed.") << QString() << QStringList{"new.txt"};
        QTest::newRow("refused") << true << std::optional<QString>(QStringLiteral("nowhere/new.txt")) << QString()
                                 << QStringLiteral("Remote file not renamed.")
                                 << QStringLiteral("Error renaming remote file: ") << QStringList{"old.txt"};
    }
    void rename()
    {
        QFETCH(bool, confirm);
        QFETCH(std::optional<QString>, answer);
        QFETCH(QString, box);
        QFETCH(QString, status);
        QFETCH(QString, message);
        QFETCH(QStringList, names);
        VsftpdServer server;
        QVERIFY(startWritable(server, {{"upload/old.txt", "old"}}));
        SUITE_START_SERVER(server);
        EngineRig rig;
        QVERIFY(connectUpload(rig, server));
        const int renamesBefore = occurrences(server.log(), "RNFR");

        rig.prompts.expectMessage(QStringLiteral("Rename remote file old.txt?"),
                                  confirm ? PromptAnswer::Yes : PromptAnswer::No);
        if (confirm)
            rig.prompts.expectInput(QStringLiteral("Rename remote file to : "), answer);
        if (!box.isEmpty())
            rig.prompts.expectMessage(box);
        rig.statuses.clear();
        rig.ops.RenameRemoteItem(rig.rowsOf({"old.txt"}).value(0));
        VERIFY_PROMPTS_DONE(rig.prompts);

        QStringList onDisk = QDir(server.uploadPath()).entryList(QDir::Files);
        QCOMPARE(onDisk, names);
        QCOMPARE(rig.paneNames(), names);
        if (status.isEmpty())
            QCOMPARE(rig.statuses.filter(QStringLiteral("Remote file")), QStringList());
        else
            QVERIFY2(rig.statuses.contains(status), qPrintable(rig.statuses.join(QLatin1Char('\n'))));
        if (message.isEmpty())
            QCOMPARE(rig.messages.filter(QStringLiteral("renaming")), QStringList());
        else
            QVERIFY2(!rig.messages.filter(message).isEmpty(), qPrintable(rig.messages.join(QLatin1Char('\n'))));
        // Nothing goes to the server without a name.
        if (!answer || answer->isEmpty())
            QCOMPARE(occurrences(server.log(), "RNFR"), renamesBefore);
    }

    void moveGoesOnAfterAFailedEntry()
    {
        VsftpdServer server;
        QVERIFY(startWritable(server, {{"upload/a.txt", "a"},
                                       {"upload/b.txt", "b"},
                                       {"upload/c.txt", "c"},
                                       {"upload/dest/", {}}}));
        SUITE_START_SERVER(server);
        EngineRig rig;
        QVERIFY(connectUpload(rig, server));
        rig.prompts.expectMessage(QStringLiteral("Move remote files / folders b.txt?"), PromptAnswer::Yes)
            .expectInput(QStringLiteral("Move a.txt to : "), QStringLiteral("missing"))
            .expectInput(QStringLiteral("Move b.txt to : "), QStringLiteral("dest"))
            .expectInput(QStringLiteral("Move c.txt to : "), QString()); // left where it is
        const QList<int> rows = rig.rowsOf({"a.txt", "b.txt", "c.txt"});
        rig.ops.MoveSelectedRemoteItems(rows, rig.rowsOf({"b.txt"}).value(0));
        VERIFY_PROMPTS_DONE(rig.prompts);

        QCOMPARE(snapshot(server.uploadPath()), (std::map<QString, QByteArray>{
                                                    {"a.txt", "a"}, {"c.txt", "c"}, {"dest/", {}}, {"dest/b.txt", "b"}}));
        QCOMPARE(rig.messages.filter(QStringLiteral("Error moving remote file")).size(), 1);
        QVERIFY(rig.messages.filter(QStringLiteral("Error moving remote file"))[0].contains(QStringLiteral("a.txt")));
        QCOMPARE(rig.paneNames(), (QStringList{"a.txt", "c.txt", "dest"}));
    }

    void createFolderGoToAndFilters()
    {
        VsftpdServer server;
        QVERIFY(startWritable(server, {{"upload/one.gif", "g"}, {"upload/two.gif", "gg"}, {"upload/text.txt", "t"}}));
        SUITE_START_SERVER(server);
        EngineRig rig;
        QVERIFY(connectUpload(rig, server));

        // Create: a name makes the folder; an empty answer takes the failure path.
        rig.prompts.expectInput(QStringLiteral("Enter the name of the folder you want to create."),
                                QStringLiteral("made"));
        rig.ops.CreateRemoteFolder();
        QVERIFY(QFileInfo(server.uploadPath() + QStringLiteral("/made")).isDir());
        QVERIFY(rig.statuses.contains(QStringLiteral("Remote folder created.")));
        QVERIFY(rig.paneNames().contains(QStringLiteral("made")));
        rig.prompts.expectInput(QStringLiteral("Enter the name of the folder"), std::nullopt);
        rig.ops.CreateRemoteFolder();
        QVERIFY(rig.statuses.contains(QStringLiteral("Remote folder not created.")));
        QCOMPARE(rig.messages.filter(QStringLiteral("Error creating remote folder: ")).size(), 1);

        // Filters: a mask shows only what matches; "All Files" shows all again.
        rig.prompts.expectInput(QStringLiteral("Please enter the type ex: *.gif"), QStringLiteral("*.gif"));
        rig.ops.DefineTypes();
        QCOMPARE(rig.paneNames(), (QStringList{"one.gif", "two.gif"}));
        rig.ops.ShowAllFiles();
        QCOMPARE(rig.paneNames(), (QStringList{"made", "one.gif", "text.txt", "two.gif"}));
        rig.prompts.expectInput(QStringLiteral("Please enter the type"), QString())
            .expectMessage(QStringLiteral("No command entered,quiting"));
        rig.ops.DefineTypes();
        QCOMPARE(rig.paneNames().size(), 4);

        // Go to a typed folder.
        rig.prompts.expectInput(QStringLiteral("Type Directory Name To Go TO"), QString())
            .expectMessage(QStringLiteral("No command entered, quiting"));
        rig.ops.GoToRemoteDirectory();
        rig.prompts.expectInput(QStringLiteral("Type Directory Name To Go TO"), QStringLiteral("made"));
        rig.ops.GoToRemoteDirectory();
        QString folder;
        QVERIFY(rig.ftp.currentFolder(folder));
        QCOMPARE(folder, QStringLiteral("/upload/made"));
        QCOMPARE(rig.paneNames(), QStringList());
        QCOMPARE(rig.lastStatus(), QStringLiteral("Listing of remote folder completed."));
        VERIFY_PROMPTS_DONE(rig.prompts);
    }

    void chmodSetsThePermissionsOfEachSelectedRow()
    {
        PyftpdlibServer server;
        const QString home = server.addUser(QStringLiteral("alice"), QStringLiteral("secret"));
        QVERIFY(server.addFile(QStringLiteral("alice"), QStringLiteral("a.sh"), "a"));
        QVERIFY(server.addFile(QStringLiteral("alice"), QStringLiteral("b.sh"), "b"));
        QVERIFY(server.addFile(QStringLiteral("alice"), QStringLiteral("c.txt"), "c"));
        SUITE_START_SERVER(server);
        EngineRig rig;
        QVERIFY(rig.connectTo(server.port(), QStringLiteral("alice"), QStringLiteral("secret")));
        rig.ops.RefreshRemoteList();
        const auto mode = [&](const char *name) {
            return QFile::permissions(home + QLatin1Char('/') + QLatin1String(name))
                   & (QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::WriteGroup
                      | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther);
        };
        const auto cBefore = mode("c.txt");

        rig.ops.ChmodSelectedRemoteItems(rig.rowsOf({"a.sh", "b.sh"}), 740);
        const QFileDevice::Permissions rwxr = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup;
        QCOMPARE(mode("a.sh"), rwxr);
        QCOMPARE(mode("b.sh"), rwxr);
        QCOMPARE(mode("c.txt"), cBefore);
        QVERIFY(server.log().contains("SITE CHMOD 740 a.sh"));
        QCOMPARE(rig.paneNames(), (QStringList{"a.sh", "b.sh", "c.txt"}));

        // A number that is not three octal digits sends nothing.
        rig.ops.ChmodSelectedRemoteItems(rig.rowsOf({"c.txt"}), 789);
        QVERIFY(!server.log().contains("SITE CHMOD 789"));
        QCOMPARE(mode("c.txt"), cBefore);
        QCOMPARE(rig.messages.filter(QStringLiteral("789")).size(), 1);
    }

    void paneRowsAndOverlay()
    {
        RemoteListModel pane;
        RemoteListModel overlay;
        overlay.addRow({QStringLiteral("old"), 1, {}, RemoteKind::File});
        // An empty pane leaves the overlay as it was.
        QVERIFY(!CopyRemoteListToDelList(pane, overlay));
        QCOMPARE(overlay.rowCount(), 1);

        const QDateTime date(QDate(2026, 1, 2), QTime(3, 4), Qt::UTC);
        pane.addEntry(QStringLiteral("f.txt"), date, 12, 0);
        pane.addEntry(QStringLiteral("dir"), date, 4096, 1);
        pane.addEntry(QStringLiteral("odd"), date, 1, 7); // not a kind: no row
        pane.addEntry(QStringLiteral("link"), QDateTime(), -1, 2);
        QCOMPARE(pane.rowCount(), 3);
        QStringList headers;
        for (int c = 0; c < pane.columnCount(); ++c)
            headers.append(pane.headerData(c, Qt::Horizontal).toString());
        QCOMPARE(headers, (QStringList{"Name", "Size (bytes)", "Date", ""}));
        const auto cell = [&](int r, int c, int role = Qt::DisplayRole) { return pane.data(pane.index(r, c), role); };
        QCOMPARE((QStringList{cell(0, 3).toString(), cell(1, 3).toString(), cell(2, 3).toString()}),
                 (QStringList{"F", "D", "E"}));
        QCOMPARE(cell(1, 0, RemoteListModel::KindRole).toInt(), int(RemoteKind::Folder));
        QCOMPARE(cell(1, 1).toString(), QStringLiteral("4096"));
        QCOMPARE(cell(2, 1).toString(), QStringLiteral("0"));
        QCOMPARE(cell(0, 2).toString(), RemoteListModel::dateText(date));
        QVERIFY(!cell(0, 2).toString().isEmpty());
        QCOMPARE(cell(2, 2).toString(), QString());

        QVERIFY(CopyRemoteListToDelList(pane, overlay));
        QCOMPARE(overlay.rows(), pane.rows());
        pane.clear();
        QCOMPARE(overlay.rowCount(), 3); // a snapshot, not a view

        QList<RemoteRow> picked = overlay.rowsAt({2, 0, 2, 9, -1});
        QCOMPARE(picked.size(), 2);
        QCOMPARE(picked.at(0).name, QStringLiteral("f.txt"));
        QCOMPARE(picked.at(1).name, QStringLiteral("link"));
        std::unique_ptr<QMimeData> drag(overlay.mimeData({overlay.index(2, 0), overlay.index(0, 0)}));
        QCOMPARE(drag->text(), QStringLiteral("f.txt\nlink"));
    }

    void permissionDialogNumber_data()
    {
        QTest::addColumn<QList<QPoint>>("boxes"); // (who, what) toggled in order
        QTest::addColumn<int>("number");
        QTest::newRow("owner rwx, group and other read") << QList<QPoint>{{0, 0}, {0, 1}, {0, 2}, {1, 0}, {2, 0}} << 744;
        QTest::newRow("rwxr-xr-x") << QList<QPoint>{{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 2}, {2, 0}, {2, 2}} << 755;
        QTest::newRow("checked and cleared again") << QList<QPoint>{{1, 1}, {2, 2}, {1, 1}} << 1;
        QTest::newRow("nothing") << QList<QPoint>{} << 0;
    }
    void permissionDialogNumber()
    {
        QFETCH(QList<QPoint>, boxes);
        QFETCH(int, number);
        frmRemoteChangeMode dialog;
        QCOMPARE(dialog.txtNumericValue->text(), QStringLiteral("0"));
        for (const QPoint &p : boxes)
            dialog.chk[p.x()][p.y()]->click();
        QCOMPARE(dialog.numericValue(), number);
        QCOMPARE(dialog.txtNumericValue->text(), QString::number(number));

        // A number sets the boxes back; OK hands it out, Cancel nothing.
        QTimer::singleShot(0, &dialog, [&] { dialog.cmdOK->click(); });
        QCOMPARE(dialog.ask(number), std::optional<int>(number));
        QCOMPARE(dialog.chmodResult, 1);
        int fromBoxes = 0;
        static constexpr int weights[3][3] = {{400, 200, 100}, {40, 20, 10}, {4, 2, 1}};
        for (int w = 0; w < 3; ++w)
            for (int x = 0; x < 3; ++x)
                fromBoxes += dialog.chk[w][x]->isChecked() ? weights[w][x] : 0;
        QCOMPARE(fromBoxes, number);
        QTimer::singleShot(0, &dialog, [&] { dialog.cmdCancel->click(); });
        QCOMPARE(dialog.ask(number), std::optional<int>());
        QCOMPARE(dialog.chmodResult, 0);
        QVERIFY(!dialog.setNumericValue(780));
        QCOMPARE(dialog.numericValue(), number);
    }
};

QTEST_MAIN(TestRemoteOps)
#include "tst_remoteops.moc"
