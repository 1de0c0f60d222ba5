#include "ftpclient/ui/filelistview.h"
#include "ftpclient/ui/frmfindfiles.h"
#include "ftpclient/ui/frmproperties.h"
#include "ftpclient/ui/localpane.h"
#include "platform/ui/shell.h"
#include "scriptedprompts.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>

namespace {

class RecordingShell final : public DesktopShell {
public:
    bool openFile(const QString &path) override
    {
        opened.append(path);
        return true;
    }
    bool showFolder(const QString &) override { return true; }
    bool startProgram(const QString &, const QStringList &) override { return true; }
    QStringList opened;
};

void makeFile(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("data");
}

} // namespace

class tst_LocalPane : public QObject {
    Q_OBJECT

    // The home folder, the trash and every test folder live here, on one
    // file system, so the desktop trash of this home is the one used.
    QTemporaryDir m_home;
    ScriptedPrompts *m_prompts = nullptr;
    RecordingShell m_shell;
    std::unique_ptr<ScriptedPrompts> m_ownPrompts;
    std::unique_ptr<LocalPane> m_pane;
    std::unique_ptr<QSignalSpy> m_status;

    // A fresh folder below the home with the given files ("x/" makes a folder).
    QString folderWith(const QString &name, const QStringList &entries)
    {
        const QString folder = m_home.path() + "/" + name + "/";
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        for (const QString &entry : entries) {
            if (entry.endsWith('/'))
                QDir().mkpath(folder + entry);
            else
                makeFile(folder + entry);
        }
        return folder;
    }
    LocalPane &paneAt(const QString &folder)
    {
        m_ownPrompts = std::make_unique<ScriptedPrompts>();
        m_prompts = m_ownPrompts.get();
        m_pane = std::make_unique<LocalPane>(LocalPane::Services{m_prompts, &m_shell, QStringLiteral("Corvane")});
        m_status = std::make_unique<QSignalSpy>(m_pane.get(), &LocalPane::statusText);
        m_pane->start(folder);
        return *m_pane;
    }
    QStringList rowNames() const
    {
        QStringList names;
        for (int row = 0; row < m_pane->localModel->rowCount(); ++row)
            names.append(m_pane->localModel->item(row)->data(LocalPane::RealNameRole).toString());
        return names;
    }
    int rowOf(const QString &name) const { return int(rowNames().indexOf(name)); }
    void select(const QStringList &names)
    {
        m_pane->lstLocalFileList->clearSelection();
        for (const QString &name : names)
            m_pane->lstLocalFileList->setRowSelected(rowOf(name), true);
    }
    QString lastStatus() const { return m_status->isEmpty() ? QString() : m_status->last().at(0).toString(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qRegisterMetaType<const QMimeData *>();
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path() + "/.local/share"));
    }
    void cleanup()
    {
        if (m_prompts)
            VERIFY_PROMPTS_DONE(*m_prompts);
        m_pane.reset();
    }

    void eraseThreeFilesAndAFolder()
    {
        const QString folder = folderWith("erase", {"a.txt", "b.txt", "c.txt", "sub/", "keep.txt"});
        paneAt(folder);
        select({"a.txt", "b.txt", "c.txt", "sub"});
        QVERIFY(m_pane->actErase->isEnabled());
        m_prompts->expectMessage("Are you sure you want to delete the selected local file(s)?", PromptAnswer::Yes)
            .expectMessage("Cannot delete " + folder + "sub");
        m_pane->Erase();
        QCOMPARE(rowNames(), (QStringList{"keep.txt", "sub"}));
        QVERIFY(QFileInfo(folder + "sub").isDir());
        QCOMPARE(lastStatus(), QStringLiteral("Local file(s) deleted."));

        select({"keep.txt"});
        m_prompts->expectMessage("Are you sure", PromptAnswer::No);
        m_pane->Erase();
        QVERIFY(QFileInfo::exists(folder + "keep.txt"));
        QCOMPARE(lastStatus(), QStringLiteral("Local file(s) not deleted."));
    }

    void recycleTwoFolders()
    {
        const QString folder = folderWith("recycle", {"one/inner.txt", "two/", "stay.txt"});
        paneAt(folder);
        select({"one", "two"});
        m_prompts->expectMessage("do u want to send this files to recycle bin", PromptAnswer::Yes);
        m_pane->DeleteToRecycleBin();
        QCOMPARE(rowNames(), QStringList{"stay.txt"});
        const QString trash = m_home.path() + "/.local/share/Trash/";
        QCOMPARE(localpath::trashFolder() + "/", trash);
        for (const QString &name : {QStringLiteral("one"), QStringLiteral("two")}) {
            QVERIFY2(QFileInfo(trash + "files/" + name).isDir(), qPrintable(name));
            QFile info(trash + "info/" + name + ".trashinfo");
            QVERIFY(info.open(QIODevice::ReadOnly));
            QVERIFY(info.readAll().contains("Path=" + QFile::encodeName(folder + name)));
        }
        QVERIFY(QFileInfo::exists(trash + "files/one/inner.txt"));
    }

    void emptyRecycleBin_data()
    {
        QTest::addColumn<PromptAnswer>("answer");
        QTest::addColumn<bool>("emptied");
        QTest::newRow("yes empties") << PromptAnswer::Yes << true;
        QTest::newRow("no keeps") << PromptAnswer::No << false;
    }
    void emptyRecycleBin()
    {
        QFETCH(PromptAnswer, answer);
        QFETCH(bool, emptied);
        const QString folder = folderWith("torecycle", {"old/a.txt", "note.txt"});
        QVERIFY(localpath::moveToTrash(folder + "old"));
        QVERIFY(localpath::moveToTrash(folder + "note.txt"));
        const QDir files(localpath::trashFolder() + "/files");
        const QDir info(localpath::trashFolder() + "/info");
        QVERIFY(files.count() >= 4); // with "." and ".."
        paneAt(folder);
        m_prompts->expectMessage("Empty the local recycle bin?", answer);
        m_pane->EmptyRecycleBin();
        const auto entries = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
        QCOMPARE(files.entryList(entries).isEmpty(), emptied);
        QCOMPARE(info.entryList(entries).isEmpty(), emptied);
        QVERIFY(QFileInfo(folder).isDir()); // the pane's own folder is untouched
    }

    void typedPathGetsSlashAndOneComboEntry()
    {
        const QString start = folderWith("typed", {"inner/x.txt"});
        paneAt(start);
        const int entries = m_pane->cboLocalPath->count();
        const QString typed = start + "inner";
        m_pane->GoToTypedPath(typed);
        QCOMPARE(m_pane->currentPath(), typed + "/");
        QCOMPARE(rowNames(), QStringList{"x.txt"});
        QCOMPARE(lastStatus(), "Local folder changed to " + typed + "/");
        m_pane->UpLevel();
        m_pane->GoToTypedPath(typed + "/");
        QCOMPARE(m_pane->cboLocalPath->count(), entries + 1);
        QCOMPARE(m_pane->cboLocalPath->currentData(LocalPane::RealPathRole).toString(), typed + "/");
        // Picking an entry whose text is upper case goes to its real folder.
        const int first = m_pane->cboLocalPath->findData(start, LocalPane::RealPathRole);
        QVERIFY(first >= 0);
        m_pane->cboLocalPath->setCurrentIndex(first);
        emit m_pane->cboLocalPath->activated(first);
        QCOMPARE(m_pane->currentPath(), start);

        QCOMPARE(m_pane->cboLocalPath->count(), entries + 1);
        m_pane->GoToTypedPath(start + "missing");
        QCOMPARE(m_pane->currentPath(), start);
        QCOMPARE(lastStatus(), QStringLiteral("Could not change current local folder."));
    }

    void upLevel_data()
    {
        QTest::addColumn<QString>("from"); // below the home; "/" is the root
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("status");
        QTest::newRow("two levels") << "up/a/b/" << "up/a/" << "Local folder changed to ";
        QTest::newRow("one level") << "up/" << "" << "Local folder changed to ";
        QTest::newRow("root") << "/" << "/" << "Local path already at root folder.";
    }
    void upLevel()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, status);
        const QString base = m_home.path() + "/";
        if (from != "/")
            QDir().mkpath(base + from);
        paneAt(from == "/" ? from : base + from);
        m_pane->UpLevel();
        const QString expected = to == "/" ? to : base + to;
        QCOMPARE(m_pane->currentPath(), expected);
        QVERIFY(lastStatus().startsWith(status));
        if (from != "/") // the rows are the new folder's
            QVERIFY(rowNames().contains(from.section('/', -2, -2)));
    }

    void definedTypeFilter_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("mask") << "*.txt" << QStringList{"a.txt", "c.TXT"};
        QTest::newRow("empty keeps the list") << "" << QStringList{"a.txt", "b.gif", "c.TXT", "d/"};
    }
    void definedTypeFilter()
    {
        QFETCH(QString, answer);
        QFETCH(QStringList, rows);
        paneAt(folderWith("filter", {"a.txt", "b.gif", "c.TXT", "d/"}));
        m_prompts->expectInput("Please enter the type ex: *.gif", answer);
        if (answer.isEmpty())
            m_prompts->expectMessage("No command entered, quiting");
        m_pane->DefineTypeFilter();
        QCOMPARE(m_prompts->records().first().title, QStringLiteral("Define Type For Local Server Directory Listing"));
        rows.replaceInStrings("/", "");
        QCOMPARE(rowNames(), rows);
        m_pane->ShowAllFiles();
        QCOMPARE(rowNames().size(), 4);
    }

    void renameFile_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("status");
        QTest::newRow("empty name does nothing") << "" << QStringList{"old.txt"} << "Local file not renamed.";
        QTest::newRow("renamed") << "new.txt" << QStringList{"new.txt"} << "Local file renamed.";
    }
    void renameFile()
    {
        QFETCH(QString, answer);
        QFETCH(QStringList, rows);
        QFETCH(QString, status);
        const QString folder = folderWith("rename", {"old.txt"});
        paneAt(folder);
        select({"old.txt"});
        m_prompts->expectMessage("Rename local file " + folder + "old.txt?", PromptAnswer::Yes)
            .expectInput("Enter the new name for " + folder + "old.txt", answer);
        m_pane->RenameFile();
        QCOMPARE(rowNames(), rows);
        QCOMPARE(lastStatus(), status);
    }

    // Folder rows read in upper case and keep their real name for every use.
    void folderRowsAndDoubleClick()
    {
        const QString folder = folderWith("dbl", {"docs/inner.txt", "file.txt"});
        paneAt(folder);
        const int row = rowOf("docs");
        QStandardItemModel *model = m_pane->localModel;
        QCOMPARE(model->item(row, LocalPane::ColName)->text(), QStringLiteral("DOCS"));
        QCOMPARE(model->item(row, LocalPane::ColName)->toolTip(), QStringLiteral("docs"));
        QCOMPARE(model->item(row, LocalPane::ColSize)->text(), QString());
        QCOMPARE(model->item(row, LocalPane::ColKind)->text(), QStringLiteral("D"));
        QCOMPARE(model->item(rowOf("file.txt"), LocalPane::ColSize)->text(), QStringLiteral("4"));
        QCOMPARE(model->item(rowOf("file.txt"), LocalPane::ColKind)->text(), QStringLiteral("F"));
        QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Size (bytes)"));
        m_pane->activateRow(row);
        QCOMPARE(m_pane->currentPath(), folder + "docs/");
        QCOMPARE(rowNames(), QStringList{"inner.txt"});
        QCOMPARE(lastStatus(), QStringLiteral("Local folder changed."));
    }

    void fileDoubleClick_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<PromptAnswer>("answer");
        QTest::addColumn<int>("sends");
        QTest::addColumn<QString>("status");
        QTest::newRow("not connected") << false << PromptAnswer::Ok << 0 << "Cannot upload file(s) when not connected.";
        QTest::newRow("yes sends") << true << PromptAnswer::Yes << 1 << "";
        QTest::newRow("no") << true << PromptAnswer::No << 0 << "File(s) not uploaded to FTP server.";
    }
    void fileDoubleClick()
    {
        QFETCH(bool, connected);
        QFETCH(PromptAnswer, answer);
        QFETCH(int, sends);
        QFETCH(QString, status);
        const QString folder = folderWith("send", {"up.txt"});
        paneAt(folder);
        m_pane->setConnected(connected);
        QSignalSpy send(m_pane.get(), &LocalPane::sendItemsRequested);
        m_status->clear();
        if (connected)
            m_prompts->expectMessage("Upload file 'up.txt'?", answer);
        m_pane->lstLocalFileList->selectRow(rowOf("up.txt"));
        m_pane->activateRow(rowOf("up.txt"));
        QCOMPARE(send.count(), sends);
        if (sends) {
            const auto items = send.first().at(0).value<QList<LocalItem>>();
            QCOMPARE(items, (QList<LocalItem>{{"up.txt", folder + "up.txt", LocalKind::File, false, "up.txt"}}));
        }
        QCOMPARE(lastStatus(), status);
    }

    void commands_data()
    {
        QTest::addColumn<QStringList>("selection");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("erase");
        QTest::addColumn<bool>("rename");
        QTest::addColumn<bool>("upload");
        QTest::newRow("nothing") << QStringList{} << true << false << false << false;
        QTest::newRow("one file") << QStringList{"f.txt"} << false << true << true << false;
        QTest::newRow("one folder") << QStringList{"dir"} << true << false << false << true;
        QTest::newRow("file and folder") << QStringList{"f.txt", "dir"} << true << true << false << true;
    }
    void commands()
    {
        QFETCH(QStringList, selection);
        QFETCH(bool, connected);
        QFETCH(bool, erase);
        QFETCH(bool, rename);
        QFETCH(bool, upload);
        paneAt(folderWith("cmds", {"f.txt", "dir/"}));
        m_pane->setConnected(connected);
        select(selection);
        QCOMPARE(m_pane->actErase->isEnabled(), erase);
        QCOMPARE(m_pane->actRename->isEnabled(), rename);
        QCOMPARE(m_pane->actUpload->isEnabled(), upload);
        QVERIFY(m_pane->actCreateFolder->isEnabled());
        // Busy: nothing that changes the folder or starts a call.
        m_pane->setBusy(true);
        for (QAction *a : {m_pane->actErase, m_pane->actRename, m_pane->actUpload, m_pane->actCreateFolder,
                           m_pane->actUpLevel, m_pane->actRefresh})
            QVERIFY2(!a->isEnabled(), qPrintable(a->text()));
        const QString before = m_pane->currentPath();
        m_pane->UpLevel();
        QCOMPARE(m_pane->currentPath(), before);
    }

    void fourViews()
    {
        paneAt(folderWith("views", {"a", "b", "c"}));
        select({"a", "c"});
        FileListView *list = m_pane->lstLocalFileList;
        for (int mode : {0, 1, 2, 3, 1}) {
            m_pane->setViewMode(mode);
            QCOMPARE(m_pane->viewMode(), mode);
            QVERIFY(m_pane->actViews.at(mode)->isChecked());
            QCOMPARE(list->currentView()->model(), m_pane->localModel);
            QCOMPARE(list->selectedRows(), (QList<int>{0, 2}));
        }
        m_pane->setViewMode(7);
        QCOMPARE(m_pane->viewMode(), 1);
        m_pane->actViews.at(3)->trigger();
        QCOMPARE(m_pane->viewMode(), 3);
    }

    void dragData()
    {
        const QString folder = folderWith("drag", {"f.txt", "dir/"});
        paneAt(folder);
        std::unique_ptr<QMimeData> data(m_pane->mimeDataForRows({rowOf("dir"), rowOf("f.txt")}));
        QVERIFY(data);
        const QList<LocalItem> items = LocalPane::itemsFromMimeData(data.get());
        QCOMPARE(items.size(), 2);
        QCOMPARE(items.at(0).path, folder + "dir");
        QCOMPARE(items.at(0).kind, LocalKind::Folder);
        QCOMPARE(items.at(0).text, QStringLiteral("DIR"));
        QCOMPARE(items.at(1).kind, LocalKind::File);
        // Files dragged from the desktop's file manager arrive as URLs.
        QMimeData desktop;
        desktop.setUrls({QUrl::fromLocalFile(folder + "dir/"), QUrl::fromLocalFile(folder + "f.txt"),
                         QUrl("http://example.org/x")});
        const QList<LocalItem> dropped = LocalPane::itemsFromMimeData(&desktop);
        QCOMPARE(dropped, (QList<LocalItem>{{"dir", folder + "dir", LocalKind::Folder, false, "dir"},
                                            {"f.txt", folder + "f.txt", LocalKind::File, false, "f.txt"}}));
    }

    // The list accepts only the MIME types its owner names.
    void dropsOfAcceptedTypesOnly()
    {
        paneAt(folderWith("drop", {"a", "b"}));
        FileListView *list = m_pane->lstLocalFileList;
        list->setAcceptedDropTypes({"application/x-remote"});
        QSignalSpy drops(list, &FileListView::dropReceived);
        QWidget *viewport = list->currentView()->viewport();
        auto drop = [&](const QString &type) {
            QMimeData data;
            data.setData(type, "x");
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(viewport, &enter);
            if (!enter.isAccepted())
                return false;
            QDropEvent event(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(viewport, &event);
            return event.isAccepted();
        };
        QVERIFY(!drop("text/plain"));
        QCOMPARE(drops.count(), 0);
        QVERIFY(drop("application/x-remote"));
        QCOMPARE(drops.count(), 1);
        QCOMPARE(drops.first().at(1).toInt(), 0); // dropped on the first row
    }

    void findAndProperties()
    {
        const QString folder = folderWith("find", {"deep/er/target.log", "top.txt"});
        paneAt(m_home.path());
        m_prompts->expectMessage("Properties of what, Please select an item?");
        m_pane->Properties(); // nothing selected

        frmFindFiles find(m_prompts, folder);
        connect(&find, &frmFindFiles::showFolderRequested, m_pane.get(),
                [this](const QString &f, const QString &n) { m_pane->showInFolder(f, n); });
        find.setMask("*.LOG");
        QCOMPARE(find.Find(), 1);
        find.ShowResultFolder(0);
        QCOMPARE(m_pane->currentPath(), folder + "deep/er/");
        QCOMPARE(m_pane->lstLocalFileList->selectedRows(), QList<int>{rowOf("target.log")});

        m_pane->Properties();
        auto *dialog = m_pane->findChild<frmProperties *>();
        QVERIFY(dialog);
        QCOMPARE(dialog->fieldText("Full path"), folder + "deep/er/target.log");
        QCOMPARE(dialog->fieldText("Kind"), QStringLiteral("File"));
        m_pane->OpenFile();
        QCOMPARE(m_shell.opened.last(), folder + "deep/er/target.log");
    }
};

QTEST_MAIN(tst_LocalPane)
#include "tst_localpane.moc"
