#include "ftpclient/localpaths.h"
#include "scriptedprompts.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

void makeFile(const QString &path, const QByteArray &data = "x")
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
}

} // namespace

class tst_LocalPaths : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parentFolder_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("parent");
        QTest::newRow("root has none") << "/" << "";
        QTest::newRow("one level") << "/a/" << "/";
        QTest::newRow("two levels") << "/a/b/" << "/a/";
        QTest::newRow("deep") << "/home/user/docs/x/" << "/home/user/docs/";
        QTest::newRow("missing trailing slash") << "/a/b" << "/a/";
    }
    void parentFolder()
    {
        QFETCH(QString, folder);
        QFETCH(QString, parent);
        QCOMPARE(localpath::parentFolder(folder), parent);
    }

    void fromTyped_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("expected");
        QTest::newRow("slash added") << "/tmp/x" << "/" << "/tmp/x/";
        QTest::newRow("kept") << "/tmp/x/" << "/" << "/tmp/x/";
        QTest::newRow("relative to current") << "docs" << "/a/" << "/a/docs/";
        QTest::newRow("dot-dot cleaned") << "/a/b/../c" << "/" << "/a/c/";
        QTest::newRow("home") << "~" << "/" << QDir::homePath() + "/";
        QTest::newRow("blank") << "  " << "/a/" << "";
    }
    void fromTyped()
    {
        QFETCH(QString, typed);
        QFETCH(QString, current);
        QFETCH(QString, expected);
        QCOMPARE(localpath::fromTyped(typed, current), expected);
    }

    // Entries come in name order with folders, hidden names and broken links,
    // and the folder is announced last.
    void listing()
    {
        QTemporaryDir dir;
        const QString root = dir.path() + "/";
        makeFile(root + "b.txt", "12345");
        makeFile(root + ".hidden");
        QDir().mkdir(root + "Docs");
        QFile::link("/nonexistent-target", root + "broken");
        QFile::link(root + "Docs", root + "linkdocs");

        ScriptedPrompts prompts;
        clsLocalPaths paths(&prompts);
        QStringList order;
        QList<LocalEntry> entries;
        connect(&paths, &clsLocalPaths::UpdateLocalEntry, this, [&](const LocalEntry &e) {
            entries.append(e);
            order.append(e.name);
        });
        connect(&paths, &clsLocalPaths::AddToLocalPaths, this, [&](const QString &p) { order.append("add:" + p); });
        QVERIFY(paths.RetrieveLocalFolderContents(root));
        QCOMPARE(order, (QStringList{".hidden", "b.txt", "broken", "Docs", "linkdocs", "add:" + root}));
        auto entry = [&](const QString &name) {
            return *std::find_if(entries.cbegin(), entries.cend(), [&](const LocalEntry &e) { return e.name == name; });
        };
        QCOMPARE(entry("b.txt").size, 5);
        QCOMPARE(entry("b.txt").kind(), LocalKind::File);
        QCOMPARE(entry("Docs").kind(), LocalKind::Folder);
        QCOMPARE(entry("broken").attributes, -1);
        QCOMPARE(entry("broken").kind(), LocalKind::File);
        QVERIFY(entry("linkdocs").isLink);
        QCOMPARE(entry("linkdocs").kind(), LocalKind::Folder);
        QVERIFY(entry(".hidden").attributes & LocalEntry::Hidden);
    }

    void unreadableFolder_data()
    {
        QTest::addColumn<bool>("defined");
        QTest::addColumn<int>("messageLines");
        QTest::newRow("all files") << false << 0;
        QTest::newRow("defined type also writes a line") << true << 1;
    }
    void unreadableFolder()
    {
        QFETCH(bool, defined);
        QFETCH(int, messageLines);
        const QString missing = QStringLiteral("/nonexistent-corvane-folder/");
        ScriptedPrompts prompts;
        prompts.expectMessage("Cannot read the contents of " + missing);
        clsLocalPaths paths(&prompts);
        QSignalSpy added(&paths, &clsLocalPaths::AddToLocalPaths);
        QSignalSpy lines(&paths, &clsLocalPaths::messageLine);
        const bool ok = defined ? paths.RetrieveDefinedLocalFolderContents(missing, "*.txt")
                                : paths.RetrieveLocalFolderContents(missing);
        QVERIFY(!ok);
        QCOMPARE(added.count(), 0);
        QCOMPARE(lines.count(), messageLines);
        QCOMPARE(prompts.last().title, QStringLiteral("FTP Client[Error]"));
        VERIFY_PROMPTS_DONE(prompts);
    }

    void definedType_data()
    {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("extension, ignoring case") << "*.txt" << QStringList{"a.txt", "R.TXT"};
        QTest::newRow("capitals match too") << "*.TXT" << QStringList{"a.txt", "R.TXT"};
        QTest::newRow("no match") << "*.zip" << QStringList{};
        QTest::newRow("star dot star is everything") << "*.*" << QStringList{"a.txt", "b.gif", "noext", "R.TXT"};
        QTest::newRow("two masks") << "*.gif;noe*" << QStringList{"b.gif", "noext"};
    }
    void definedType()
    {
        QFETCH(QString, mask);
        QFETCH(QStringList, names);
        QTemporaryDir dir;
        for (const char *name : {"a.txt", "b.gif", "noext", "R.TXT"})
            makeFile(dir.path() + "/" + name);
        clsLocalPaths paths(nullptr);
        QStringList listed;
        connect(&paths, &clsLocalPaths::UpdateLocalEntry, this, [&](const LocalEntry &e) { listed.append(e.name); });
        QVERIFY(paths.RetrieveDefinedLocalFolderContents(dir.path() + "/", mask));
        QCOMPARE(listed, names);
    }

    // Each failed operation shows its own box and leaves the disk as it was.
    void failedOperations_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("message");
        QTest::newRow("delete a folder") << "delete" << "Cannot delete ";
        QTest::newRow("rename onto an existing file") << "rename" << "Cannot rename ";
        QTest::newRow("create an existing folder") << "create" << "Cannot create ";
        QTest::newRow("remove a folder that is not empty") << "remove" << "Cannot remove ";
    }
    void failedOperations()
    {
        QFETCH(QString, operation);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString folder = dir.path() + "/full";
        const QString file = dir.path() + "/a.txt";
        const QString other = dir.path() + "/b.txt";
        makeFile(folder + "/inside");
        makeFile(file, "aaa");
        makeFile(other, "bbb");
        ScriptedPrompts prompts;
        prompts.expectMessage(message, PromptAnswer::Cancel);
        clsLocalPaths paths(&prompts);
        bool ok = true;
        if (operation == "delete")
            ok = paths.DeleteLocalFile(folder);
        else if (operation == "rename")
            ok = paths.RenameLocalFile(file, other);
        else if (operation == "create")
            ok = paths.CreateLocalFolder(folder);
        else
            ok = paths.RemoveLocalFolder(folder);
        QVERIFY(!ok);
        VERIFY_PROMPTS_DONE(prompts);
        QCOMPARE(prompts.last().title, QStringLiteral("FTP Client[Notice]"));
        QCOMPARE(prompts.last().buttons, PromptButtons::OkCancel);
        QVERIFY(QFileInfo::exists(folder + "/inside"));
        QFile b(other);
        QVERIFY(b.open(QIODevice::ReadOnly));
        QCOMPARE(b.readAll(), QByteArray("bbb"));
        QVERIFY(QFileInfo::exists(file));
    }

    // A link inside the tree is removed as a link; what it points to stays.
    void removeTreeKeepsLinkTargets()
    {
        QTemporaryDir dir;
        const QString outside = dir.path() + "/outside";
        makeFile(outside + "/keep.txt");
        const QString tree = dir.path() + "/tree";
        makeFile(tree + "/sub/deeper/f1");
        makeFile(tree + "/f2");
        QVERIFY(QFile::link(outside, tree + "/sub/link"));
        QVERIFY(localpath::removeTree(tree));
        QVERIFY(!QFileInfo::exists(tree));
        QVERIFY(QFileInfo::exists(outside + "/keep.txt"));
    }

    void findFiles()
    {
        QTemporaryDir dir;
        makeFile(dir.path() + "/a/Report.TXT");
        makeFile(dir.path() + "/a/b/notes.txt");
        makeFile(dir.path() + "/c.gif");
        makeFile(dir.path() + "/elsewhere/hidden.txt");
        QVERIFY(QFile::link(dir.path() + "/elsewhere", dir.path() + "/a/link"));
        bool truncated = true;
        QStringList found = localpath::findFiles(dir.path(), "*.txt", {}, &truncated);
        found.sort();
        QCOMPARE(found, (QStringList{dir.path() + "/a/Report.TXT", dir.path() + "/a/b/notes.txt",
                                     dir.path() + "/elsewhere/hidden.txt"}));
        QVERIFY(!truncated);
        // Below a: the link's folder is not searched.
        QCOMPARE(localpath::findFiles(dir.path() + "/a", "*.txt").size(), 2);
        QCOMPARE(localpath::findFiles(dir.path(), "*.txt", {1, 100}, &truncated).size(), 1);
        QVERIFY(truncated);
    }

    void properties()
    {
        QTemporaryDir dir;
        const QString file = dir.path() + "/p.bin";
        makeFile(file, "123456");
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QVERIFY(QFile::link(file, dir.path() + "/plink"));
        const LocalProperties p = localpath::properties(file);
        QCOMPARE(p.name, QStringLiteral("p.bin"));
        QCOMPARE(p.kind, QStringLiteral("File"));
        QCOMPARE(p.size, 6);
        QCOMPARE(p.permissions, QStringLiteral("rw-r----- (640)"));
        QCOMPARE(p.fullPath, file);
        QVERIFY(!p.owner.isEmpty());
        QVERIFY(p.modified.isValid());
        QCOMPARE(localpath::properties(dir.path() + "/plink").kind, QStringLiteral("Link to file"));
        QCOMPARE(localpath::properties(dir.path()).kind, QStringLiteral("Folder"));
    }
};

QTEST_GUILESS_MAIN(tst_LocalPaths)
#include "tst_localpaths.moc"
