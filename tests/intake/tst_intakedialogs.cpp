// The intake's dialogs on their own: the existing-file prompt, the folder
// chooser, the save prompt and the new-URL dialog's keys.
#include "intake/ui/frmdir.h"
#include "intake/ui/frmexist.h"
#include "intake/ui/frmfile.h"
#include "intake/ui/frmurl.h"
#include "platform/ui/skin.h"
#include "platform/skinelements.h"

#include "scriptedprompts.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <functional>

namespace {

// Runs action on the modal dialog of type T as soon as it is up; gives up
// after about two seconds.
template <typename T>
void whenModal(std::function<void(T *)> action)
{
    auto *timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, tries, action] {
        if (T *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            timer->deleteLater();
            timer->stop();
            action(dialog);
        } else if (++*tries > 200) {
            timer->deleteLater();
            timer->stop();
        }
    });
    timer->start();
}

} // namespace

class TestIntakeDialogs : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void existPromptAnswers_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("expected");
        QTest::newRow("overwrite") << "cmdOverwrite" << 0;
        QTest::newRow("resume") << "cmdResume" << -1;
        QTest::newRow("cancel") << "cmdCancel" << -2;
        QTest::newRow("frame close") << "close" << -2;
        QTest::newRow("escape") << "escape" << -2;
    }
    void existPromptAnswers()
    {
        QFETCH(QString, how);
        QFETCH(int, expected);
        QString shownText;
        QString shownTitle;
        whenModal<frmExist>([&](frmExist *prompt) {
            shownText = prompt->lblMessage->text();
            shownTitle = prompt->windowTitle();
            if (how == QLatin1String("close"))
                prompt->close();
            else if (how == QLatin1String("escape"))
                QTest::keyClick(prompt, Qt::Key_Escape);
            else
                prompt->findChild<QPushButton *>(how)->click();
        });
        QCOMPARE(int(frmExist::ask(nullptr)), expected);
        QCOMPARE(shownText, QStringLiteral("The file already exists at this location!  What would you like to do?"));
        QCOMPARE(shownTitle, QStringLiteral("File Already Exists!?"));
    }

    void dialogsAreSkinned()
    {
        ScriptedPrompts prompts;
        frmExist exist;
        frmURL url;
        frmFile file(defaultCaptions(), &prompts);
        frmDir dir(defaultCaptions(), &prompts);
        for (QWidget *w : std::initializer_list<QWidget *>{&exist, &url, &file, &dir})
            QCOMPARE(w->property(Skin::WindowProperty).toString(), SecondWindowSkinName);
        QCOMPARE(url.windowTitle(), QStringLiteral("Enter URL"));
        QCOMPARE(file.windowTitle(), QStringLiteral("Download File"));
        QCOMPARE(file.fraFileInfo->title(), QStringLiteral("&File Info"));
    }

    void folderChooserCaptions_data()
    {
        QTest::addColumn<bool>("languageFile");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("ok");
        QTest::addColumn<QString>("cancel");
        QTest::newRow("language file") << true << "Ordner" << "&Gut" << "&Nein";
        QTest::newRow("none: readable fallbacks") << false << "Select Directory" << "&Ok" << "&Cancel";
    }
    void folderChooserCaptions()
    {
        QFETCH(bool, languageFile);
        QFETCH(QString, title);
        QFETCH(QString, ok);
        QFETCH(QString, cancel);
        QStringList asked;
        const CaptionLookup captions = [&](const QString &id, const QString &defaultText) {
            asked.append(id);
            if (!languageFile)
                return defaultText;
            if (id == QLatin1String("03000"))
                return QStringLiteral("Ordner");
            if (id == QLatin1String("02006"))
                return QStringLiteral("&Gut");
            if (id == QLatin1String("05004"))
                return QStringLiteral("&Nein");
            return defaultText;
        };
        ScriptedPrompts prompts;
        frmDir dir(captions, &prompts);
        QCOMPARE(dir.windowTitle(), title);
        QCOMPARE(dir.cmdOk->text(), ok);
        QCOMPARE(dir.cmdCancel->text(), cancel);
        asked.sort();
        QCOMPARE(asked, (QStringList{"02006", "03000", "05004"}));
        QCOMPARE(dir.actNewFolder->objectName(), QStringLiteral("newfolder"));
        QCOMPARE(dir.actNewFolder->toolTip(), QStringLiteral("newfolder"));
    }

    void folderChooserOkCancelAndNewFolder()
    {
        QTemporaryDir tmp;
        QVERIFY(QDir(tmp.path()).mkpath(QStringLiteral("base/inner")));
        const QString base = tmp.filePath(QStringLiteral("base"));
        ScriptedPrompts prompts;
        frmDir dir(defaultCaptions(), &prompts);
        dir.strDirPath = QStringLiteral("/earlier");
        dir.show();

        dir.selectFolder(base);
        QTRY_COMPARE(dir.selectedFolder(), base);
        QCOMPARE(dir.txtPath->text(), base);

        // Cancel keeps the earlier value and hides.
        dir.cmdCancel->click();
        QVERIFY(!dir.isVisible());
        QCOMPARE(dir.strDirPath, QStringLiteral("/earlier"));

        // Two new folders under the selection get distinct names; each is
        // selected and the path box follows.
        dir.show();
        dir.selectFolder(base);
        dir.actNewFolder->trigger();
        QVERIFY(QFileInfo(base + QStringLiteral("/New Folder")).isDir());
        QCOMPARE(dir.txtPath->text(), base + QStringLiteral("/New Folder"));
        dir.selectFolder(base);
        QTRY_COMPARE(dir.selectedFolder(), base);
        dir.actNewFolder->trigger();
        QVERIFY(QFileInfo(base + QStringLiteral("/New Folder (2)")).isDir());
        QCOMPARE(dir.selectedFolder(), base + QStringLiteral("/New Folder (2)"));

        // Ok stores the path box's text, edited or not.
        dir.txtPath->setText(base + QStringLiteral("/inner"));
        dir.cmdOk->click();
        QVERIFY(!dir.isVisible());
        QCOMPARE(dir.strDirPath, base + QStringLiteral("/inner"));
        VERIFY_PROMPTS_DONE(prompts);
    }

    void folderChooserReportsAFolderItCannotCreate()
    {
        QTemporaryDir tmp;
        const QString gone = tmp.filePath(QStringLiteral("gone"));
        QVERIFY(QDir().mkpath(gone));
        ScriptedPrompts prompts;
        prompts.expectMessage(QStringLiteral("could not be created"));
        frmDir dir(defaultCaptions(), &prompts);
        dir.selectFolder(gone);
        QTRY_COMPARE(dir.selectedFolder(), gone);
        // The selected folder vanishes behind the tree's back.
        QVERIFY(QDir(tmp.path()).rmdir(QStringLiteral("gone")));
        dir.NewFolder();
        VERIFY_PROMPTS_DONE(prompts);
        QVERIFY(!QFileInfo::exists(gone));
    }

    void savePromptLoad()
    {
        ScriptedPrompts prompts;
        prompts.expectFile(QStringLiteral("[Save file to?]"), QStringLiteral("/dl/chosen.zip"));
        frmFile file(defaultCaptions(), &prompts);
        QSignalSpy chosen(&file, &frmFile::lastSavePathChosen);
        file.URL = QStringLiteral("http://h/dir/get.php?id=a.zip");
        file.startFolder = QStringLiteral("/dl");
        QVERIFY(file.load());
        const FileDialogRequest &request = prompts.last().fileRequest;
        QCOMPARE(request.kind, FileDialogKind::Save);
        QCOMPARE(request.filter, QStringLiteral("All Files(*.*)|*.*"));
        QCOMPARE(request.fileName, QStringLiteral("get.php?id=a.zip"));
        QCOMPARE(request.directory, QStringLiteral("/dl"));
        QVERIFY(request.stayOnTop);
        QCOMPARE(file.txtURL->text(), file.URL);
        QCOMPARE(file.txtSaveAs->text(), QStringLiteral("/dl/chosen.zip"));
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(chosen.at(0).at(0).toString(), QStringLiteral("/dl/chosen.zip"));

        // A cancelled file dialog leaves nothing to offer.
        prompts.expectFile(QStringLiteral("[Save file to?]"), QString());
        QVERIFY(!file.load());
        QVERIFY(file.txtSaveAs->text().isEmpty());
        QCOMPARE(chosen.count(), 1);
        VERIFY_PROMPTS_DONE(prompts);
    }

    void savePromptButtons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("begun");
        QTest::addColumn<int>("later");
        QTest::newRow("begin") << "cmdBegin" << "http://h/a.zip" << "/dl/a.zip" << 1 << 0;
        QTest::newRow("later") << "cmdLater" << "http://h/a.zip" << "/dl/a.zip" << 0 << 1;
        QTest::newRow("begin, empty path") << "cmdBegin" << "http://h/a.zip" << "" << 0 << 0;
        QTest::newRow("later, empty url") << "cmdLater" << "" << "/dl/a.zip" << 0 << 0;
        QTest::newRow("cancel") << "cmdCancel" << "http://h/a.zip" << "/dl/a.zip" << 0 << 0;
    }
    void savePromptButtons()
    {
        QFETCH(QString, button);
        QFETCH(QString, url);
        QFETCH(QString, path);
        QFETCH(int, begun);
        QFETCH(int, later);
        ScriptedPrompts prompts;
        frmFile file(defaultCaptions(), &prompts);
        QSignalSpy beginSpy(&file, &frmFile::beginRequested);
        QSignalSpy laterSpy(&file, &frmFile::laterRequested);
        file.show();
        file.txtURL->setText(url);
        file.txtSaveAs->setText(path);
        file.findChild<QPushButton *>(button)->click();
        QCOMPARE(beginSpy.count(), begun);
        QCOMPARE(laterSpy.count(), later);
        QSignalSpy &fired = begun ? beginSpy : laterSpy;
        if (begun || later) {
            QCOMPARE(fired.at(0).at(0).toString(), url);
            QCOMPARE(fired.at(0).at(1).toString(), path);
        }
        // An empty box leaves the prompt open; every other button closes it.
        const bool acted = begun || later || button == QLatin1String("cmdCancel");
        QCOMPARE(file.isVisible(), !acted);
    }

    void savePromptChange()
    {
        ScriptedPrompts prompts;
        prompts.expectFile(QStringLiteral("Save file to..."), QStringLiteral("/other/b.zip"));
        prompts.expectFile(QStringLiteral("Save file to..."), QString());
        frmFile file(defaultCaptions(), &prompts);
        QSignalSpy chosen(&file, &frmFile::lastSavePathChosen);
        file.txtURL->setText(QStringLiteral("http://h/a.zip"));
        file.txtSaveAs->setText(QStringLiteral("/dl/a.zip"));
        file.cmdChange->click();
        QCOMPARE(prompts.last().fileRequest.fileName, QStringLiteral("/dl/a.zip"));
        QCOMPARE(prompts.last().fileRequest.filter, QStringLiteral("All Files(*.*)|*.*"));
        QCOMPARE(file.txtSaveAs->text(), QStringLiteral("/other/b.zip"));
        // Cancelling the dialog keeps the path.
        file.cmdChange->click();
        QCOMPARE(file.txtSaveAs->text(), QStringLiteral("/other/b.zip"));
        QCOMPARE(chosen.count(), 0); // the last save path stays
        VERIFY_PROMPTS_DONE(prompts);
    }

    void urlDialogEnterIsOk_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("return") << int(Qt::Key_Return);
        QTest::newRow("enter") << int(Qt::Key_Enter);
    }
    void urlDialogEnterIsOk()
    {
        QFETCH(int, key);
        frmURL dialog;
        QSignalSpy ok(&dialog, &frmURL::okRequested);
        dialog.setHistory({QStringLiteral("http://a/1.zip"), QStringLiteral("http://a/1.zip")});
        dialog.show();
        QTest::keyClicks(dialog.cboURL->lineEdit(), QStringLiteral("http://h/x.zip"));
        QTest::keyClick(dialog.cboURL->lineEdit(), Qt::Key(key));
        QCOMPARE(ok.count(), 1);
        QCOMPARE(dialog.url(), QStringLiteral("http://h/x.zip"));
        // Typing never adds to the list; duplicates of the list stay.
        QCOMPARE(dialog.history(), (QStringList{"http://a/1.zip", "http://a/1.zip"}));
        dialog.cmdOk->click();
        QCOMPARE(ok.count(), 2);
    }

    // Enter takes exactly what was typed, wherever the focus is in the
    // dialog, even when an earlier URL begins with the typed text.
    void urlDialogEnterTakesTypedText_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::newRow("url box, return") << "cboURL" << int(Qt::Key_Return);
        QTest::newRow("url box, enter") << "cboURL" << int(Qt::Key_Enter);
        QTest::newRow("ok button") << "cmdOk" << int(Qt::Key_Return);
        QTest::newRow("cancel button") << "cmdCancel" << int(Qt::Key_Enter);
    }
    void urlDialogEnterTakesTypedText()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        frmURL dialog;
        QSignalSpy ok(&dialog, &frmURL::okRequested);
        QSignalSpy rejected(&dialog, &QDialog::rejected);
        dialog.setHistory({QStringLiteral("http://a/1.zip"), QStringLiteral("http://a/10.iso")});
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.activateWindow();
        dialog.cboURL->setFocus();
        QTest::keyClicks(dialog.cboURL->lineEdit(), QStringLiteral("http://a/1"));
        QCOMPARE(dialog.url(), QStringLiteral("http://a/1"));
        auto *target = dialog.findChild<QWidget *>(focus);
        QVERIFY(target);
        target->setFocus();
        QTest::keyClick(focus == QLatin1String("cboURL") ? dialog.cboURL->lineEdit() : target, Qt::Key(key));
        QCOMPARE(ok.count(), 1);
        QCOMPARE(rejected.count(), 0);
        QCOMPARE(dialog.url(), QStringLiteral("http://a/1"));
    }
};

QTEST_MAIN(TestIntakeDialogs)
#include "tst_intakedialogs.moc"
