// The Options dialog: what it shows from the stored values, the enabling
// rules, the extension list editor, the question on closing with changes,
// and what "&Save" writes (values, autostart entry, ASCII list, language).
#include "ftpclient/ui/frmoptions.h"

#include "config/cregister.h"
#include "platform/autostart.h"
#include "scriptedprompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Rig {
    QTemporaryDir dir;
    Registry registry{dir.filePath(QStringLiteral("config"))};
    CRegister reg{registry};
    Autostart autostart{dir.filePath(QStringLiteral("autostart"))};
    ScriptedPrompts prompts;
    QStringList ascii{QStringLiteral("old")};

    Rig()
    {
        QDir().mkpath(dir.filePath(QStringLiteral("Lang")));
        // The shipped English pair, and a second language without a picture.
        QFile::copy(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../../resources/Lang/English.bmp"),
                    dir.filePath(QStringLiteral("Lang/English.bmp")));
        for (const char *name : {"English.ini", "Deutsch.ini", "Deutsch.bmp", "Orphan.ini"}) {
            QFile f(dir.filePath(QStringLiteral("Lang/")) + QString::fromLatin1(name));
            f.open(QIODevice::WriteOnly);
        }
    }
    void set(const QString &key, const QString &value)
    {
        reg.REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection, key, value);
    }
    QString value(const QString &key) const
    {
        return reg.REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection, key, QStringLiteral("<none>"));
    }
    std::unique_ptr<frmOptions> open()
    {
        auto d = std::make_unique<frmOptions>(frmOptions::Services{dir.path(), &prompts, &reg, &autostart,
                                                                   QStringLiteral("/opt/suite/corvane"), &ascii});
        d->show();
        return d;
    }
};

QStringList rows(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

} // namespace

class TestOptionsDialog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void showsTheStoredValuesAndSavesTheEdits()
    {
        Rig rig;
        rig.set(OptionKeys::FirewallUse, QStringLiteral("1"));
        rig.set(OptionKeys::FirewallType, QStringLiteral("SOCKS 5"));
        rig.set(OptionKeys::FirewallHost, QStringLiteral("proxy"));
        rig.set(OptionKeys::AutoModeTypes, QStringLiteral("txt;md;ini"));
        rig.set(OptionKeys::Language, QStringLiteral("deutsch.INI"));
        auto d = rig.open();
        QCOMPARE(rows(d->lstLanguages), (QStringList{QStringLiteral("Deutsch"), QStringLiteral("English")}));
        QCOMPARE(d->lstLanguages->currentItem()->text(), QStringLiteral("Deutsch"));
        QCOMPARE(rows(d->lstExtensions), (QStringList{QStringLiteral("txt"), QStringLiteral("md"), QStringLiteral("ini")}));
        QCOMPARE(rig.ascii, rows(d->lstExtensions)); // replaced when the dialog loads
        QCOMPARE(d->cboFirewallType->currentText(), QStringLiteral("SOCKS 5"));
        QVERIFY(d->txtFirewallHost->isEnabled());
        QVERIFY(d->optDeleteOnStartup->isChecked());
        QVERIFY(!d->txtLogSize->isEnabled());
        QVERIFY(!d->cmdSave->isEnabled());
        // The documentation's picture of the dialog, when asked for.
        if (const QString shots = qEnvironmentVariable("SUITE_SCREENSHOT_DIR"); !shots.isEmpty()) {
            d->resize(560, 480);
            QVERIFY(d->grab().save(QDir(shots).filePath(QStringLiteral("corvane-options.png"))));
        }

        d->chkUseFirewall->setChecked(false);
        for (QWidget *w : std::initializer_list<QWidget *>{d->txtFirewallHost, d->txtFirewallPort, d->txtFirewallUser,
                                                           d->txtFirewallPassword, d->cboFirewallType})
            QVERIFY(!w->isEnabled());
        QVERIFY(d->cmdSave->isEnabled());
        d->chkStartup->setChecked(true);
        d->optDeleteIfExceeds->setChecked(true);
        QVERIFY(d->txtLogSize->isEnabled());
        d->txtLogFileName->setText(QStringLiteral("transfers.txt"));
        d->lstExtensions->setCurrentRow(1);
        d->cmdRemoveExtension->click();
        d->lstLanguages->setCurrentRow(1);
        d->chkSyncBySize->setChecked(true);
        d->cmdSave->click();
        QVERIFY(!d->isVisible());
        VERIFY_PROMPTS_DONE(rig.prompts);

        const QList<std::pair<QString, QString>> stored = {
            {OptionKeys::AddToStartup, QStringLiteral("1")},
            {OptionKeys::LogFileName, QStringLiteral("transfers.txt")},
            {OptionKeys::DeleteLogOnStartup, QStringLiteral("False")},
            {OptionKeys::DeleteLogIfSizeExceeds, QStringLiteral("True")},
            {OptionKeys::AutoModeTypes, QStringLiteral("txt;ini")},
            {OptionKeys::FirewallUse, QStringLiteral("0")},
            {OptionKeys::FirewallType, QStringLiteral("SOCKS 5")},
            {OptionKeys::Language, QStringLiteral("English.ini")},
            {OptionKeys::DirSyncBySize, QStringLiteral("1")},
        };
        for (const auto &[key, value] : stored)
            QCOMPARE(rig.value(key), value);
        QCOMPARE(rig.ascii, (QStringList{QStringLiteral("txt"), QStringLiteral("ini")}));
        QCOMPARE(rig.autostart.installedExecutable(CorvaneAutostartName), QStringLiteral("/opt/suite/corvane"));

        // Unchecking the box removes the entry again.
        auto again = rig.open();
        again->chkStartup->setChecked(false);
        again->cmdSave->click();
        QVERIFY(!rig.autostart.isInstalled(CorvaneAutostartName));
    }

    void sizeFieldTakesOnlyNumbers()
    {
        Rig rig;
        rig.set(OptionKeys::DeleteLogOnStartup, QStringLiteral("False"));
        rig.set(OptionKeys::DeleteLogIfSizeExceeds, QStringLiteral("True"));
        rig.set(OptionKeys::LogFileSize, QStringLiteral("2500"));
        auto d = rig.open();
        QVERIFY(d->txtLogSize->isEnabled());
        d->txtLogSize->clear();
        QTest::keyClicks(d->txtLogSize, QStringLiteral("abc"));
        QCOMPARE(d->txtLogSize->text(), QStringLiteral("2500"));
        d->txtLogSize->selectAll();
        QTest::keyClicks(d->txtLogSize, QStringLiteral("42"));
        QCOMPARE(d->txtLogSize->text(), QStringLiteral("42"));
        d->optDeleteOnStartup->setChecked(true);
        QVERIFY(!d->txtLogSize->isEnabled());
    }

    void extensionEditsRefuseEmptyText()
    {
        Rig rig;
        auto d = rig.open();
        const QStringList before = rows(d->lstExtensions);
        d->cmdAddExtension->click();
        QCOMPARE(d->lstExtensions->currentRow(), 0);
        QCOMPARE(d->lstExtensions->item(0)->text(), QString());
        // Typing an extension keeps the new row.
        d->lstExtensions->item(0)->setText(QStringLiteral("xml"));
        QCOMPARE(rows(d->lstExtensions), QStringList{QStringLiteral("xml")} + before);
        // A blank edit is refused and the old text comes back.
        rig.prompts.expectMessage(QStringLiteral("Please enter extention"));
        d->lstExtensions->item(1)->setText(QStringLiteral(" "));
        QCOMPARE(rows(d->lstExtensions), QStringList{QStringLiteral("xml")} + before);
        // A new row left empty goes again.
        d->cmdAddExtension->click();
        rig.prompts.expectMessage(QStringLiteral("Please enter extention"));
        d->lstExtensions->item(0)->setText(QStringLiteral(" "));
        QCOMPARE(rows(d->lstExtensions), QStringList{QStringLiteral("xml")} + before);
        VERIFY_PROMPTS_DONE(rig.prompts);
    }

    // Closing with changes asks; No keeps the dialog, Yes closes it without
    // storing anything. Without changes nothing is asked.
    void closingWithChangesAsks()
    {
        Rig rig;
        auto d = rig.open();
        d->cmdCancel->click();
        QVERIFY(!d->isVisible());

        auto e = rig.open();
        e->txtFirewallHost->setText(QStringLiteral("changed"));
        rig.prompts.expectMessage(QStringLiteral("Do you want quit??"), PromptAnswer::No);
        e->cmdCancel->click();
        QVERIFY(e->isVisible());
        QCOMPARE(rig.prompts.last().icon, PromptIcon::Error);
        rig.prompts.expectMessage(QStringLiteral("Do you want quit??"), PromptAnswer::Yes);
        e->close();
        QVERIFY(!e->isVisible());
        QCOMPARE(rig.value(OptionKeys::FirewallHost), QStringLiteral("<none>"));
        VERIFY_PROMPTS_DONE(rig.prompts);
    }
};

QTEST_MAIN(TestOptionsDialog)
#include "tst_options_dialog.moc"
