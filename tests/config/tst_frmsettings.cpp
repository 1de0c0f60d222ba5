// The settings dialog through its widgets, over a scratch store, program
// directory and autostart folder; every box it shows is answered by a script.
#include "configfixture.h"
#include "scriptedprompts.h"

#include "config/ui/frmsettings.h"
#include "platform/ui/shell.h"
#include "platform/ui/skin.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>

namespace {

struct RecordingShell final : DesktopShell {
    QStringList opened;
    bool openFile(const QString &path) override { opened.append(path); return true; }
    bool showFolder(const QString &) override { return true; }
    bool startProgram(const QString &, const QStringList &) override { return true; }
};

// Captions without a default show their identifier, so a test sees which
// caption a box carries.
QString lookUp(const QString &id, const QString &defaultText)
{
    return defaultText.isEmpty() ? QLatin1Char('[') + id + QLatin1Char(']') : defaultText;
}

// A dialog opened over a fixture's store; storeSetup runs before opening.
struct Rig {
    ConfigFixture fx;
    ScriptedPrompts prompts;
    RecordingShell shell;
    std::unique_ptr<SettingsModel> model;
    std::unique_ptr<frmSettings> dialog;

    explicit Rig(const std::function<void(ConfigFixture &)> &storeSetup = {})
    {
        if (storeSetup)
            storeSetup(fx);
        LoadSettings(fx.record, fx.reg);
        model = fx.makeModel();
        dialog = std::make_unique<frmSettings>(services());
        fx.savedKeys.clear();
    }
    frmSettings::Services services()
    {
        frmSettings::Services s;
        s.model = model.get();
        s.loadSettings = [this] { LoadSettings(fx.record, fx.reg); };
        s.prompts = &prompts;
        s.shell = &shell;
        s.captions = lookUp;
        s.appTitle = QStringLiteral("Tessel");
        s.programDir = fx.programDir();
        s.version = QStringLiteral("4.0");
        s.helpFile = fx.programDir() + QStringLiteral("/help/settings.html");
        return s;
    }
    static void type(QLineEdit *edit, const QString &text)
    {
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    QStringList loginRows() const
    {
        QStringList rows;
        for (const LoginAccount &a : model->logins)
            rows.append(a.server + QLatin1Char('|') + a.user + QLatin1Char('|') + a.password);
        return rows;
    }
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The keys save-all writes, in the order it writes them.
const QStringList SaveOrder{
    "ClipboardMonitoring", "LimitHTTP", "LimitFTP", "ClickCapture", "StartupWithWindows", "PromptDone",
    "CloseDownloadWindowWhenDone", "DownloadNowOption", "DownloadLaterOption", "DownloadPromptOption",
    "MonitorTypes", "MonitorServer", "Timeout", "StopResume", "TimeResume", "TimeNoResume", "Retry", "RetryTime",
    "Retries", "Rollback", "Segment", "SegmentSize1", "SegmentSize2", "SegmentSize3", "SegmentSize4",
    "SegmentSize5", "SegmentSize6", "SegmentSize7", "SegmentSize8", "SegmentSize9", "SaveSameDir", "TextSameDir",
    "SaveLastDir", "SaveFileType", "SaveFileInfo", "ParentDir", "UseServer", "UseDate", "UseFileExt", "UsePASV",
    "UseProxy", "ProxyServer", "ProxyPort", "UseFTPProxy", "UserID", "UserPass", "LoginProxy", "UsePass"};

} // namespace

class TestFrmSettings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void openingShowsTheStoreAndIsUnchanged()
    {
        Rig rig([](ConfigFixture &fx) {
            fx.put("LimitHTTP", QStringLiteral("5"));
            fx.put("TimeNoResume", QStringLiteral("150"));
            fx.put("Downloads", QStringLiteral("12"));
            fx.put("AllBytes", QStringLiteral("2048"));
            fx.put("SaveFileType", QStringLiteral("True"));
            fx.put("UseProxy", QStringLiteral("1"));
        });
        frmSettings &d = *rig.dialog;
        QCOMPARE(d.txtLimitHTTP->text(), QStringLiteral("5"));
        QCOMPARE(d.txtTimeNoResume->text(), QStringLiteral("2.5"));
        QCOMPARE(d.txtRetries->text(), QStringLiteral("3"));
        QCOMPARE(d.lblDownloads->text(), QStringLiteral("12"));
        QCOMPARE(d.lblAllBytes->text(), QStringLiteral("2.00 KB"));
        QCOMPARE(d.lblVersion->text(), QStringLiteral("4.0"));
        QCOMPARE(d.lblLocation->text(), rig.fx.programDir());
        QVERIFY(d.optFileType->isChecked());
        QVERIFY(d.fraSaveTo->currentWidget()->isAncestorOf(d.lvwFileTypes));
        QVERIFY(d.chkUseProxy->isChecked());
        QCOMPARE(d.txtSegmentSize[2]->text(), QStringLiteral("5"));
        QVERIFY(!d.isChanged());
        QVERIFY(!d.cmdApply->isEnabled());
        // Each tab shows its own page.
        d.tabSettings->setCurrentIndex(frmSettings::Limits);
        QVERIFY(d.fraPages->currentWidget()->isAncestorOf(d.txtLimitHTTP));
    }

    void applyWritesEveryKeyInOrderAndTheRecordFollows_data()
    {
        QTest::addColumn<bool>("viaOk");
        QTest::newRow("Apply") << false;
        QTest::newRow("OK") << true;
    }
    void applyWritesEveryKeyInOrderAndTheRecordFollows()
    {
        QFETCH(bool, viaOk);
        Rig rig;
        frmSettings &d = *rig.dialog;
        d.show();
        Rig::type(d.txtRetries, QStringLiteral("7"));
        Rig::type(d.txtTimeResume, QStringLiteral("2.5"));
        Rig::type(d.txtRollback, QStringLiteral("8"));
        Rig::type(d.txtSegmentSize[8], QStringLiteral("30")); // ignored: the table is off
        d.chkSegment->click();
        Rig::type(d.txtSegmentSize[8], QStringLiteral("30"));
        Rig::type(d.txtLimitFTP, QStringLiteral("1"));
        d.chkUsePASV->click();
        d.optDownloadLater->click();
        d.optFileInfo->click();
        d.optDate->click();
        Rig::type(d.txtParentDir, QStringLiteral("/data/in"));
        d.txtFileType->setText(QStringLiteral(".iso"));
        d.txtFileTypeDir->setText(QStringLiteral("/isos"));
        d.cmdAddFileType->click();
        QVERIFY(d.isChanged());
        QVERIFY(d.cmdApply->isEnabled());

        (viaOk ? d.cmdOK : d.cmdApply)->click();

        QCOMPARE(rig.fx.savedKeys, SaveOrder);
        // Read back through a second store over the same file.
        Registry again(rig.fx.dir.filePath(QStringLiteral("config")));
        CRegister reg(again);
        const auto stored = [&reg](const char *key) {
            return reg.REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QLatin1String(key), "<missing>");
        };
        QCOMPARE(stored("Retries"), QStringLiteral("7"));
        QCOMPARE(stored("TimeResume"), QStringLiteral("150"));
        QCOMPARE(stored("Rollback"), QStringLiteral("8192"));
        QCOMPARE(stored("SegmentSize9"), QStringLiteral("31457280"));
        QCOMPARE(stored("LimitFTP"), QStringLiteral("1"));
        QCOMPARE(stored("UsePASV"), QStringLiteral("1"));
        QCOMPARE(stored("DownloadLaterOption"), QStringLiteral("True"));
        QCOMPARE(stored("DownloadPromptOption"), QStringLiteral("False"));
        QCOMPARE(stored("SaveFileInfo"), QStringLiteral("True"));
        QCOMPARE(stored("UseDate"), QStringLiteral("True"));
        QCOMPARE(stored("UseServer"), QStringLiteral("False"));
        QCOMPARE(stored("ParentDir"), QStringLiteral("/data/in"));
        QVERIFY(readAll(rig.model->iniPath()).contains(".iso\r\n/isos\r\nLogins:\r\n"));
        // The loader ran: the record has the saved values.
        QCOMPARE(rig.fx.record.Retries, 7);
        QCOMPARE(rig.fx.record.TimeResume, 150);
        QCOMPARE(rig.fx.record.Rollback, 8192);
        QCOMPARE(rig.fx.record.SegmentSize[8], 31457281.0);
        QVERIFY(rig.fx.record.UsePASV);
        QCOMPARE(rig.fx.record.newDownloadOption(), NewDownloadOption::AddToList);
        QCOMPARE(rig.fx.record.saveLocation.choice, SaveChoice::ByFileInfo);
        QVERIFY(!d.isChanged());
        QVERIFY(!d.cmdApply->isEnabled());
        QCOMPARE(d.isVisible(), !viaOk);
        QCOMPARE(d.result(), viaOk ? int(QDialog::Accepted) : 0);
        // After a save the dialog closes without asking.
        if (!viaOk)
            d.close();
        QVERIFY(!d.isVisible());
        VERIFY_PROMPTS_DONE(rig.prompts);
    }

    void closingWithChangesAsks_data()
    {
        QTest::addColumn<bool>("edit");
        QTest::addColumn<bool>("applyFirst");
        QTest::addColumn<bool>("viaCancel");
        QTest::addColumn<int>("answer"); // PromptAnswer, -1: no question
        QTest::addColumn<bool>("closed");

        QTest::newRow("no edit closes") << false << false << false << -1 << true;
        QTest::newRow("edit, No keeps it open") << true << false << false << int(PromptAnswer::No) << false;
        QTest::newRow("edit, Yes closes") << true << false << false << int(PromptAnswer::Yes) << true;
        QTest::newRow("Cancel asks too") << true << false << true << int(PromptAnswer::No) << false;
        QTest::newRow("after Apply no question") << true << true << false << -1 << true;
    }
    void closingWithChangesAsks()
    {
        QFETCH(bool, edit);
        QFETCH(bool, applyFirst);
        QFETCH(bool, viaCancel);
        QFETCH(int, answer);
        QFETCH(bool, closed);
        Rig rig;
        frmSettings &d = *rig.dialog;
        d.show();
        if (edit)
            Rig::type(d.txtLimitHTTP, QStringLiteral("9"));
        if (applyFirst)
            d.cmdApply->click();
        if (answer >= 0)
            rig.prompts.expectMessage(QStringLiteral("settings changed , Are you sure you want to quit with out saving??"),
                                      PromptAnswer(answer));
        if (viaCancel)
            d.cmdCancel->click();
        else
            d.close();
        QCOMPARE(!d.isVisible(), closed);
        if (answer >= 0) {
            QCOMPARE(rig.prompts.last().text,
                     QStringLiteral("settings changed , Are you sure you want to quit with out saving??"));
            QCOMPARE(rig.prompts.last().buttons, PromptButtons::YesNo);
            QCOMPARE(rig.prompts.last().icon, PromptIcon::None);
        }
        // Leaving without saving puts the stored value back into the model
        // (the intake reads the model).
        if (closed)
            QCOMPARE(rig.model->txtLimitHTTP, applyFirst ? QStringLiteral("9") : QStringLiteral("3"));
        else
            QCOMPARE(rig.model->txtLimitHTTP, QStringLiteral("9"));
        VERIFY_PROMPTS_DONE(rig.prompts);
    }

    void resetToDefaultsAsks_data()
    {
        QTest::addColumn<bool>("types");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("question");
        QTest::newRow("types, Yes") << true << int(PromptAnswer::Yes) << "[11023]\n\n[11021]";
        QTest::newRow("types, No") << true << int(PromptAnswer::No) << "[11023]\n\n[11021]";
        QTest::newRow("servers, Yes") << false << int(PromptAnswer::Yes) << "[11020]\n\n[11021]";
        QTest::newRow("servers, No") << false << int(PromptAnswer::No) << "[11020]\n\n[11021]";
    }
    void resetToDefaultsAsks()
    {
        QFETCH(bool, types);
        QFETCH(int, answer);
        QFETCH(QString, question);
        Rig rig([](ConfigFixture &fx) {
            fx.put("MonitorTypes", QStringLiteral(".iso;"));
            fx.put("MonitorServer", QStringLiteral("mine.example"));
        });
        frmSettings &d = *rig.dialog;
        rig.prompts.expectMessage(question, PromptAnswer(answer));
        (types ? d.cmdResetTypes : d.cmdResetServers)->click();
        QCOMPARE(rig.prompts.last().title, QStringLiteral("[11022]"));
        QCOMPARE(rig.prompts.last().text, question);
        QCOMPARE(rig.prompts.last().buttons, PromptButtons::YesNo);
        const bool yes = answer == int(PromptAnswer::Yes);
        QCOMPARE(rig.model->txtMonitorTypes, yes && types ? DefaultMonitorTypes : QStringLiteral(".iso;"));
        QCOMPARE(rig.model->txtMonitorServer, yes && !types ? DefaultMonitorServer : QStringLiteral("mine.example"));
        QCOMPARE(d.txtMonitorTypes->toPlainText(), rig.model->txtMonitorTypes);
        QCOMPARE(d.isChanged(), yes);
        VERIFY_PROMPTS_DONE(rig.prompts);
    }

    void monitoredTypesCheck_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("refused");
        QTest::newRow("clean list") << ".zip; .r0?; .tar.gz" << false;
        for (const char *c : {"/", "\\", ":", "*", "\"", "<", ">", "|"})
            QTest::newRow(c) << QStringLiteral(".zip; .e%1e").arg(QLatin1String(c)) << true;
    }
    void monitoredTypesCheck()
    {
        QFETCH(QString, text);
        QFETCH(bool, refused);
        Rig rig;
        frmSettings &d = *rig.dialog;
        d.txtMonitorTypes->setPlainText(text);
        if (refused)
            rig.prompts.expectMessage(QStringLiteral("[11029]"));
        QFocusEvent leave(QEvent::FocusOut);
        QApplication::sendEvent(d.txtMonitorTypes, &leave);
        if (refused) {
            QCOMPARE(rig.prompts.last().text, QStringLiteral("[11029]"));
            QCOMPARE(rig.prompts.last().title, QStringLiteral("[11029]"));
            QCOMPARE(rig.prompts.last().icon, PromptIcon::Error);
        }
        // The text stays as typed, in the field and in the model.
        QCOMPARE(d.txtMonitorTypes->toPlainText(), text);
        QCOMPARE(rig.model->txtMonitorTypes, text);
        VERIFY_PROMPTS_DONE(rig.prompts);
    }

    void urlTestReportsBothLists_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("servers");
        QTest::addColumn<QString>("types");
        QTest::addColumn<bool>("serverFound");
        QTest::addColumn<bool>("extFound");

        const QString types = QStringLiteral(".ZIP; .R0?;");
        QTest::newRow("*.suffix, longer host") << "http://dl.example.org/a.zip" << "*.example.org" << types << true << true;
        QTest::newRow("*.suffix, host is the suffix") << "http://example.org/a.zip" << "*.example.org" << types << false << true;
        QTest::newRow("*.suffix, deeper host") << "http://a.b.example.org/a.zip" << "x.net ; *.EXAMPLE.org" << types << true << true;
        QTest::newRow("exact entry among blanks and breaks") << "ftp://ftp.x.org/f.r05" << " deb.debian.org ;\r\n ftp.x.org " << types << true << true;
        QTest::newRow("host compared as typed") << "http://DL.EXAMPLE.ORG/a.zip" << "*.example.org" << types << false << true;
        QTest::newRow("other host") << "http://dl.example.com/a.zip" << "*.example.org" << types << false << true;
        QTest::newRow(".R0? takes .rar") << "http://h.net/f.rar" << "" << types << false << true;
        QTest::newRow(".R0? not a shorter ext") << "http://h.net/f.r5" << "" << types << false << false;
        QTest::newRow("ext compared as typed") << "http://h.net/f.ZIP" << "" << types << false << false;
        QTest::newRow("no file name") << "http://h.net/dir/" << "" << types << false << false;
        QTest::newRow("last dot counts") << "http://h.net/pkg.tar.zip" << "" << types << false << true;
    }
    void urlTestReportsBothLists()
    {
        QFETCH(QString, url);
        QFETCH(QString, servers);
        QFETCH(QString, types);
        QFETCH(bool, serverFound);
        QFETCH(bool, extFound);
        Rig rig;
        frmSettings &d = *rig.dialog;
        d.txtMonitorServer->setPlainText(servers);
        d.txtMonitorTypes->setPlainText(types);
        d.txtTestURL->setText(url);
        rig.prompts.expectMessage(QStringLiteral("The following results were returned:"));
        d.cmdTest->click();
        const auto word = [](bool b) { return b ? QStringLiteral("True") : QStringLiteral("False"); };
        QCOMPARE(rig.prompts.last().text,
                 QStringLiteral("The following results were returned:\n\nServers(if server exist in ignore list) =%1\n"
                                "Extensions(if extension exsit in download list) =%2\n\n"
                                "True means it was found. False means it was not.")
                     .arg(word(serverFound), word(extFound)));
        QCOMPARE(rig.prompts.last().title, QStringLiteral("URL Server & EXT Test"));
        QCOMPARE(rig.prompts.last().icon, PromptIcon::None);
        VERIFY_PROMPTS_DONE(rig.prompts);
    }

    void loginAccountWarnings_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("warning"); // empty: added

        QTest::newRow("server only blanks") << "   " << "me" << "pw" << "[11017]";
        QTest::newRow("server first of all") << "" << "" << "" << "[11017]";
        QTest::newRow("user missing") << "ftp.x.org" << "" << "pw" << "[11018]";
        QTest::newRow("user before password") << "ftp.x.org" << " " << "" << "[11018]";
        QTest::newRow("password blanks") << "ftp.x.org" << "me" << "  " << "[11019]";
        QTest::newRow("complete") << " ftp.x.org " << "me" << "p w" << "";
    }
    void loginAccountWarnings()
    {
        QFETCH(QString, server);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, warning);
        Rig rig;
        frmSettings &d = *rig.dialog;
        d.cmdAddLogin->click(); // the frame is closed until "Login Required" is checked
        QVERIFY(rig.prompts.records().isEmpty());
        d.chkLoginRequired->click();
        d.txtLoginServer->setText(server);
        d.txtLoginUser->setText(user);
        d.txtLoginPass->setText(password);
        QVERIFY(!d.isChanged());
        if (!warning.isEmpty())
            rig.prompts.expectMessage(warning);
        d.cmdAddLogin->click();
        if (warning.isEmpty()) {
            QCOMPARE(rig.loginRows(), QStringList{"ftp.x.org|me|p w"});
            QCOMPARE(d.lvwLogins->topLevelItemCount(), 1);
            QVERIFY(d.txtLoginServer->text().isEmpty() && d.txtLoginUser->text().isEmpty()
                    && d.txtLoginPass->text().isEmpty());
            QVERIFY(d.isChanged());
            QVERIFY(d.cmdApply->isEnabled());
            // The table shows no password in clear.
            QVERIFY(!d.lvwLogins->topLevelItem(0)->text(2).contains(QStringLiteral("p w")));
        } else {
            QCOMPARE(rig.prompts.records().size(), 1);
            QCOMPARE(rig.prompts.last().title, QStringLiteral("Tessel"));
            QCOMPARE(rig.prompts.last().icon, PromptIcon::Warning);
            QVERIFY(rig.model->logins.isEmpty());
            QCOMPARE(d.txtLoginServer->text(), server); // nothing cleared
            QVERIFY(!d.isChanged());
        }
        VERIFY_PROMPTS_DONE(rig.prompts);
    }

    void loginTableSortsDeletesAndSavesInShownOrder()
    {
        Rig rig;
        frmSettings &d = *rig.dialog;
        d.chkLoginRequired->click();
        QVERIFY(d.fraLogin->isEnabled());
        for (const auto &[s, u] : {std::pair{"beta.net", "b"}, {"alpha.net", "a"}, {"gamma.net", "g"}}) {
            d.txtLoginServer->setText(QLatin1String(s));
            d.txtLoginUser->setText(QLatin1String(u));
            d.txtLoginPass->setText(QStringLiteral("abc"));
            d.cmdAddLogin->click();
        }
        QCOMPARE(rig.loginRows(), (QStringList{"beta.net|b|abc", "alpha.net|a|abc", "gamma.net|g|abc"}));
        d.lvwLogins->header()->setSortIndicator(0, Qt::AscendingOrder);
        QCOMPARE(rig.loginRows(), (QStringList{"alpha.net|a|abc", "beta.net|b|abc", "gamma.net|g|abc"}));
        d.lvwLogins->header()->setSortIndicator(0, Qt::DescendingOrder);
        QCOMPARE(rig.loginRows(), (QStringList{"gamma.net|g|abc", "beta.net|b|abc", "alpha.net|a|abc"}));
        // Delete removes every selected row.
        d.lvwLogins->topLevelItem(0)->setSelected(true);
        d.lvwLogins->topLevelItem(2)->setSelected(true);
        d.cmdDeleteLogin->click();
        QCOMPARE(rig.loginRows(), QStringList{"beta.net|b|abc"});
        d.cmdApply->click();
        QVERIFY(readAll(rig.model->iniPath()).endsWith("Logins:\r\nbeta.net\r\nb\r\nklm\r\n"));
        VERIFY_PROMPTS_DONE(rig.prompts);
    }

    // Which actions mark the dialog changed, and what they leave behind.
    void changedFlag_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("changed");
        QTest::newRow("typing a number") << "type" << true;
        QTest::newRow("a box") << "box" << true;
        QTest::newRow("a choice") << "choice" << true;
        QTest::newRow("parent folder Browse") << "parent" << true;
        QTest::newRow("same-directory Browse") << "same" << false;
        QTest::newRow("file-type Add") << "addType" << false;
        QTest::newRow("file-type Remove") << "removeType" << false;
        QTest::newRow("URL test") << "test" << false;
        QTest::newRow("file-type Add refused") << "addTypeEmpty" << false;
    }
    void changedFlag()
    {
        QFETCH(QString, action);
        QFETCH(bool, changed);
        Rig rig;
        frmSettings &d = *rig.dialog;
        if (action == QLatin1String("type")) {
            Rig::type(d.txtTimeout, QStringLiteral("90"));
            QCOMPARE(rig.model->txtTimeout, QStringLiteral("90"));
        } else if (action == QLatin1String("box")) {
            d.chkPromptDone->click();
            QVERIFY(rig.model->chkPromptDone);
        } else if (action == QLatin1String("choice")) {
            d.optSameDir->click();
            QCOMPARE(rig.model->saveChoice, SaveChoice::SameDirectory);
            QVERIFY(d.fraSaveTo->currentWidget()->isAncestorOf(d.txtSameDir));
        } else if (action == QLatin1String("parent")) {
            rig.prompts.expectFolder(QString(), QStringLiteral("/srv/parent"));
            d.cmdBrowseParent->click();
            QCOMPARE(rig.model->txtParentDir, QStringLiteral("/srv/parent"));
        } else if (action == QLatin1String("same")) {
            rig.prompts.expectFolder(QString(), QStringLiteral("/srv/same"));
            d.cmdBrowseSameDir->click();
            QCOMPARE(d.txtSameDir->text(), QStringLiteral("/srv/same"));
            QCOMPARE(rig.model->txtSameDir, QStringLiteral("/srv/same"));
        } else if (action == QLatin1String("addType")) {
            d.txtFileType->setText(QStringLiteral(".mp3"));
            rig.prompts.expectFolder(QString(), QStringLiteral("/music"));
            d.cmdBrowseFileType->click();
            d.cmdAddFileType->click();
            QCOMPARE(rig.model->fileTypes, (QList<FileTypeRow>{{".mp3", "/music"}}));
            QVERIFY(d.txtFileType->text().isEmpty() && d.txtFileTypeDir->text().isEmpty());
            QCOMPARE(d.lvwFileTypes->topLevelItemCount(), 1);
        } else if (action == QLatin1String("addTypeEmpty")) {
            d.txtFileType->setText(QStringLiteral(".mp3"));
            d.cmdAddFileType->click();
            QCOMPARE(d.lvwFileTypes->topLevelItemCount(), 0);
            QCOMPARE(d.txtFileType->text(), QStringLiteral(".mp3"));
        } else if (action == QLatin1String("removeType")) {
            d.txtFileType->setText(QStringLiteral(".a"));
            d.txtFileTypeDir->setText(QStringLiteral("/a"));
            d.cmdAddFileType->click();
            d.txtFileType->setText(QStringLiteral(".b"));
            d.txtFileTypeDir->setText(QStringLiteral("/b"));
            d.cmdAddFileType->click();
            d.lvwFileTypes->setCurrentItem(d.lvwFileTypes->topLevelItem(0));
            d.cmdRemoveFileType->click();
            QCOMPARE(rig.model->fileTypes, (QList<FileTypeRow>{{".b", "/b"}}));
            QCOMPARE(d.lvwFileTypes->topLevelItemCount(), 1);
        } else if (action == QLatin1String("test")) {
            rig.prompts.expectMessage(QStringLiteral("returned"));
            d.cmdTest->click();
        }
        QCOMPARE(d.isChanged(), changed);
        QCOMPARE(d.cmdApply->isEnabled(), changed);
        VERIFY_PROMPTS_DONE(rig.prompts);
    }

    void proxyEnablingRules_data()
    {
        QTest::addColumn<bool>("useProxy");
        QTest::addColumn<bool>("login");
        QTest::addColumn<bool>("usePass");
        QTest::addColumn<bool>("frame");
        QTest::addColumn<bool>("user");
        QTest::addColumn<bool>("password");
        QTest::newRow("all off") << false << false << false << false << false << false;
        QTest::newRow("proxy off, login and password on") << false << true << true << false << false << false;
        QTest::newRow("proxy only") << true << false << false << true << false << false;
        QTest::newRow("proxy, password box without login") << true << false << true << true << false << false;
        QTest::newRow("proxy and login") << true << true << false << true << true << false;
        QTest::newRow("all on") << true << true << true << true << true << true;
    }
    void proxyEnablingRules()
    {
        QFETCH(bool, useProxy);
        QFETCH(bool, login);
        QFETCH(bool, usePass);
        QFETCH(bool, frame);
        QFETCH(bool, user);
        QFETCH(bool, password);
        // Every order of clicks ends in the same state: from all on, then
        // switched to the row's state.
        Rig rig([](ConfigFixture &fx) {
            fx.put("UseProxy", QStringLiteral("1"));
            fx.put("LoginProxy", QStringLiteral("1"));
            fx.put("UsePass", QStringLiteral("1"));
        });
        frmSettings &d = *rig.dialog;
        QVERIFY(d.txtUserPass->isEnabled());
        d.chkUseProxy->setChecked(useProxy);
        d.chkUsePass->setChecked(usePass);
        d.chkLoginProxy->setChecked(login);
        for (QWidget *w : std::initializer_list<QWidget *>{d.fraProxy, d.txtProxyServer, d.txtProxyPort,
                                                            d.chkUseFTPProxy, d.chkLoginProxy})
            QCOMPARE(w->isEnabled(), frame);
        QCOMPARE(d.txtUserID->isEnabled(), user);
        QCOMPARE(d.chkUsePass->isEnabled(), user);
        QCOMPARE(d.txtUserPass->isEnabled(), password);
        QCOMPARE(rig.model->chkUseProxy, useProxy);
        QVERIFY(d.chkUsePASV->isEnabled());
    }

    void boxesThatActBeforeSaving()
    {
        Rig rig;
        frmSettings &d = *rig.dialog;
        const QString entry = QStringLiteral("Tessel");
        // Start-up: the entry at once, both ways.
        QVERIFY(!rig.fx.autostart.isInstalled(entry));
        d.chkStartup->click();
        QVERIFY(rig.fx.autostart.isInstalled(entry));
        QCOMPARE(rig.fx.autostart.installedExecutable(entry), rig.fx.programPath());
        // Clipboard: the record's flag at once.
        QVERIFY(rig.fx.record.ClipboardMonitoring);
        d.chkClipboard->click();
        QVERIFY(!rig.fx.record.ClipboardMonitoring);
        // Capture: stored and switched through the hook at once.
        rig.fx.captureCalls.clear();
        d.chkClickCapture->click();
        QCOMPARE(rig.fx.captureCalls, QList<bool>{false});
        QCOMPARE(rig.fx.stored("ClickCapture"), QStringLiteral("False"));
        // The segment box: the record's flag and the table's enabling.
        QVERIFY(!d.fraSegment->isEnabled());
        d.chkSegment->click();
        QCOMPARE(int(rig.fx.record.Segment), 1);
        QVERIFY(d.fraSegment->isEnabled());
        for (QLabel *l : std::as_const(d.lblSegmentRows))
            QVERIFY(l->isEnabled());
        QCOMPARE(d.lblSegmentRows.size(), 14);

        // Cancel keeps what already took effect: populating the model again
        // does not switch capture back on or remove the start-up entry.
        rig.prompts.expectMessage(QStringLiteral("settings changed"), PromptAnswer::Yes);
        d.cmdCancel->click();
        QVERIFY(rig.fx.autostart.isInstalled(entry));
        QCOMPARE(rig.fx.captureCalls.last(), false);
        QVERIFY(!rig.fx.record.ClipboardMonitoring);
        // ...and at the next start (loader, then populate) too.
        LoadSettings(rig.fx.record, rig.fx.reg);
        rig.fx.makeModel()->Populate();
        QVERIFY(rig.fx.autostart.isInstalled(entry));
        QCOMPARE(rig.fx.captureCalls.last(), false);
        VERIFY_PROMPTS_DONE(rig.prompts);
    }

    void helpOpensTheGuidesSettingsPage()
    {
        Rig rig;
        rig.dialog->cmdHelp->click();
        QCOMPARE(rig.shell.opened, QStringList{rig.fx.programDir() + QStringLiteral("/help/settings.html")});
    }

    // The shipped guide has a section for every tab, and its links between
    // the pages land on sections that exist.
    void guideDescribesEveryPageAndItsLinksResolve()
    {
        const QString dir = qEnvironmentVariable("SUITE_SOURCE_DIR") + QStringLiteral("/resources/help/");
        const QString settings = QString::fromUtf8(readAll(dir + QStringLiteral("settings.html")));
        const QString index = QString::fromUtf8(readAll(dir + QStringLiteral("index.html")));
        QVERIFY(!settings.isEmpty() && !index.isEmpty());
        Rig rig;
        for (int i = 0; i < rig.dialog->tabSettings->count(); ++i) {
            const QString heading = QStringLiteral("\">%1</h2>").arg(rig.dialog->tabSettings->tabText(i));
            QVERIFY2(settings.contains(heading), qPrintable(heading));
        }
        const QRegularExpression link(QStringLiteral("href=\"([a-z]+\\.html)?(#([a-z]+))?\""));
        for (const auto &[page, text] : {std::pair{QStringLiteral("index.html"), index}, {QStringLiteral("settings.html"), settings}}) {
            for (auto it = link.globalMatch(text); it.hasNext();) {
                const QRegularExpressionMatch m = it.next();
                const QString target = m.captured(1).isEmpty() ? page : m.captured(1);
                const QString body = target == QLatin1String("index.html") ? index : settings;
                QVERIFY2(target == QLatin1String("index.html") || target == QLatin1String("settings.html"),
                         qPrintable(target));
                if (!m.captured(3).isEmpty())
                    QVERIFY2(body.contains(QStringLiteral("id=\"%1\"").arg(m.captured(3))),
                             qPrintable(page + QStringLiteral(" -> ") + m.captured(0)));
            }
        }
    }

    // Pictures of the pages for the documentation; only when
    // SUITE_SCREENSHOT_DIR is set.
    void screenshots()
    {
        const QString out = qEnvironmentVariable("SUITE_SCREENSHOT_DIR");
        if (out.isEmpty())
            QSKIP("SUITE_SCREENSHOT_DIR is not set");
        // The program's own skin, as the dialog looks in Tessel.
        Skin skin(qEnvironmentVariable("SUITE_SOURCE_DIR") + QStringLiteral("/resources/skin/QFTP.skn"));
        QVERIFY(skin.load());
        Rig rig([](ConfigFixture &fx) {
            fx.put("Downloads", QStringLiteral("42"));
            fx.put("UseProxy", QStringLiteral("1"));
            fx.put("ProxyServer", QStringLiteral("proxy.lan"));
            fx.put("ProxyPort", QStringLiteral("3128"));
            fx.put("Segment", QStringLiteral("1"));
            fx.put("SaveFileType", QStringLiteral("True"));
        });
        rig.model->fileTypes = {{QStringLiteral(".iso"), QStringLiteral("/home/me/Images")},
                                {QStringLiteral(".mp3"), QStringLiteral("/home/me/Music")}};
        rig.model->logins = {{QStringLiteral("ftp.example.org"), QStringLiteral("me"), QStringLiteral("secret")}};
        QVERIFY(rig.model->SaveToINI());
        rig.dialog = std::make_unique<frmSettings>(rig.services());
        frmSettings &e = *rig.dialog;
        e.show();
        QVERIFY(QTest::qWaitForWindowExposed(&e));
        const std::array<std::pair<frmSettings::Page, const char *>, 10> pages{
            {{frmSettings::Information, "information"}, {frmSettings::Startup, "startup"},
             {frmSettings::Monitor, "monitor"}, {frmSettings::SaveTo, "saveto"}, {frmSettings::Proxy, "proxy"},
             {frmSettings::Connections, "connections"}, {frmSettings::Limits, "limits"},
             {frmSettings::Login, "login"}, {frmSettings::Download, "download"},
             {frmSettings::AutoSegment, "segments"}}};
        for (const auto &[page, name] : pages) {
            e.showPage(page);
            QTest::qWait(100);
            QVERIFY(e.grab().save(out + QStringLiteral("/tessel-settings-%1.png").arg(QLatin1String(name))));
        }
    }
};

QTEST_MAIN(TestFrmSettings)
#include "tst_frmsettings.moc"
