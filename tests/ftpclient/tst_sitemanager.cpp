#include "scriptedprompts.h"

#include "config/scramble.h"
#include "ftpclient/profilestore.h"
#include "ftpclient/ui/frmConnectionInfo.h"
#include "platform/inifile.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

struct Rig {
    QTemporaryDir dir;
    ScriptedPrompts prompts;
    std::unique_ptr<frmConnectionInfo> form;

    Rig() { reload(); }
    void reload() { form = std::make_unique<frmConnectionInfo>(frmConnectionInfo::Services{dir.path(), &prompts}); }
    QString file(ProfileFolder folder, const QString &name) const
    {
        return profiles::folderPath(dir.path(), folder) + QLatin1Char('/') + name + profiles::Extension;
    }
    QTreeWidgetItem *node(QTreeWidget *tree, const QString &text) const
    {
        const QList<QTreeWidgetItem *> found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.first();
    }
    void type(const QString &name, const QString &host, const QString &user, const QString &password)
    {
        form->txtSiteName->setText(name);
        form->txtAddress->setText(host);
        form->txtUser->setText(user);
        form->txtPassword->setText(password);
    }
    QStringList privateFiles() const { return profiles::list(dir.path(), ProfileFolder::Private); }
};

} // namespace

class tst_SiteManager : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void loadCreatesFoldersAndTrees()
    {
        Rig rig;
        QVERIFY(QDir(profiles::folderPath(rig.dir.path(), ProfileFolder::Standard)).exists());
        QVERIFY(QDir(profiles::folderPath(rig.dir.path(), ProfileFolder::Private)).exists());
        QCOMPARE(rig.form->windowTitle(), QStringLiteral("Connection information"));
        QCOMPARE(rig.form->tabProfiles->tabText(0), QStringLiteral("Standard"));
        QCOMPARE(rig.form->tabProfiles->tabText(1), QStringLiteral("Private"));
        for (QTreeWidget *tree : {rig.form->tvlStandard, rig.form->tvlPrivate}) {
            QCOMPARE(tree->topLevelItemCount(), 1);
            QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("Profiles"));
            QVERIFY(tree->topLevelItem(0)->isExpanded());
        }
    }

    void saveRefusals_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("host");
        QTest::newRow("empty name") << "" << "ftp.example.org";
        QTest::newRow("empty host") << "Work" << "";
        QTest::newRow("slash") << "a/b" << "h";
        QTest::newRow("backslash") << "a\\b" << "h";
        QTest::newRow("dot dot") << "..x" << "h";
    }

    void saveRefusals()
    {
        QFETCH(QString, name);
        QFETCH(QString, host);
        Rig rig;
        rig.type(name, host, "u", "p");
        rig.prompts.expectMessage("Please check Site name and Server Address!");
        rig.form->SaveSite();
        VERIFY_PROMPTS_DONE(rig.prompts);
        QCOMPARE(rig.prompts.last().icon, PromptIcon::Warning);
        QCOMPARE(rig.privateFiles(), QStringList());
        QCOMPARE(QDir(rig.dir.path()).entryList(QDir::Files), QStringList());
        QCOMPARE(rig.form->tabProfiles->currentWidget(), rig.form->tvlPrivate);
    }

    void portRule_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("zero") << "0" << "21";
        QTest::newRow("negative") << "-5" << "21";
        QTest::newRow("letters") << "abc" << "21";
        QTest::newRow("cleared") << "" << "21";
        QTest::newRow("number") << "2121" << "2121";
    }

    void portRule()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        Rig rig;
        rig.form->txtPort->clear();
        rig.form->txtPort->setText(typed);
        QCOMPARE(rig.form->txtPort->text(), shown);
    }

    void encryptionChoiceMovesDefaultPort_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("after");
        QTest::newRow("implicit from 21") << "21" << 2 << "990";
        QTest::newRow("implicit keeps a typed port") << "2990" << 2 << "2990";
        QTest::newRow("explicit from 990") << "990" << 1 << "21";
        QTest::newRow("plain keeps 21") << "21" << 0 << "21";
    }

    void encryptionChoiceMovesDefaultPort()
    {
        QFETCH(QString, port);
        QFETCH(int, choice);
        QFETCH(QString, after);
        Rig rig;
        rig.form->txtPort->setText(port);
        rig.form->cboEncryption->setCurrentIndex(choice);
        emit rig.form->cboEncryption->activated(choice); // as a pick from the list does
        QCOMPARE(rig.form->txtPort->text(), after);
    }

    void anonymousSaveAndReload()
    {
        Rig rig;
        rig.type("Mirror", "ftp.example.org", "bob", "secret");
        rig.form->optAnonymous->click();
        QVERIFY(!rig.form->txtUser->isEnabled());
        QVERIFY(!rig.form->txtPassword->isEnabled());
        rig.form->chkPassive->setChecked(true);
        rig.prompts.expectMessage("Profile Saved");
        rig.form->SaveSite();
        VERIFY_PROMPTS_DONE(rig.prompts);

        const QString path = rig.file(ProfileFolder::Private, "Mirror");
        QCOMPARE(ini::getString(path, "PROFILE", "pass", "<missing>"), QString());
        QCOMPARE(ini::getString(path, "PROFILE", "ID", {}), ScramblePassword("anonymous"));
        QCOMPARE(ini::getString(path, "PROFILE", "Passive", {}), QStringLiteral("1"));

        rig.reload();
        QTreeWidgetItem *node = rig.node(rig.form->tvlPrivate, "Mirror.Profile");
        QVERIFY(node);
        QVERIFY(!rig.form->cmdDelete->isEnabled());
        rig.form->NodeClick(rig.form->tvlPrivate, node);
        QVERIFY(rig.form->optAnonymous->isChecked());
        QVERIFY(!rig.form->optNormal->isChecked());
        QVERIFY(!rig.form->txtUser->isEnabled());
        QCOMPARE(rig.form->txtUser->text(), QStringLiteral("anonymous"));
        QCOMPARE(rig.form->txtAddress->text(), QStringLiteral("ftp.example.org"));
        QVERIFY(rig.form->chkPassive->isChecked());
        QVERIFY(rig.form->cmdDelete->isEnabled());

        rig.form->NodeClick(rig.form->tvlPrivate, rig.form->tvlPrivate->topLevelItem(0));
        QVERIFY(!rig.form->cmdDelete->isEnabled());
    }

    void standardLoginType_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("normal");
        QTest::addColumn<bool>("anonymous");
        QTest::newRow("user and password") << "bob" << "pw" << true << false;
        QTest::newRow("user without password: neither") << "bob" << "" << false << false;
        QTest::newRow("anonymous") << "anonymous" << "" << false << true;
    }

    void standardLoginType()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, normal);
        QFETCH(bool, anonymous);
        Rig rig;
        const QString path = rig.file(ProfileFolder::Standard, "Std");
        QVERIFY(ini::writeString(path, "PROFILE", "sname", "Std"));
        QVERIFY(ini::writeString(path, "PROFILE", "ID", ScramblePassword(user)));
        QVERIFY(ini::writeString(path, "PROFILE", "pass", ScramblePassword(password)));
        rig.reload();
        rig.form->optAnonymous->click(); // a previous choice that must not leak through
        rig.form->NodeClick(rig.form->tvlStandard, rig.node(rig.form->tvlStandard, "Std.Profile"));
        QCOMPARE(rig.form->optNormal->isChecked(), normal);
        QCOMPARE(rig.form->optAnonymous->isChecked(), anonymous);
        QCOMPARE(rig.form->txtUser->isEnabled(), !anonymous);
        QCOMPARE(rig.form->txtUser->text(), user);
    }

    void newSiteSaveReplacesSilently()
    {
        Rig rig;
        QVERIFY(profiles::save(rig.dir.path(), SiteProfile{"Work", "old.example", "21", "u", "p", true,
                                                           FtpSecurity::Plain},
                               false)
                == profiles::SaveResult::Saved);
        rig.reload();
        rig.form->tabProfiles->setCurrentIndex(0);
        rig.form->NewSite();
        QCOMPARE(rig.form->tabProfiles->currentWidget(), rig.form->tvlPrivate);
        QCOMPARE(rig.form->txtPort->text(), QStringLiteral("21"));
        QVERIFY(!rig.form->chkPassive->isChecked());
        QVERIFY(rig.form->optNormal->isChecked());
        rig.type("Work", "new.example", "me", "pw");
        rig.form->cboEncryption->setCurrentIndex(rig.form->cboEncryption->findData(int(FtpSecurity::ExplicitTls)));
        rig.prompts.expectMessage("Profile Saved");
        rig.form->cmdSave->click();
        VERIFY_PROMPTS_DONE(rig.prompts);
        const SiteProfile back = profiles::read(rig.file(ProfileFolder::Private, "Work"));
        QCOMPARE(back, (SiteProfile{"Work", "new.example", "21", "me", "pw", false, FtpSecurity::ExplicitTls}));
        QCOMPARE(rig.privateFiles(), QStringList{"Work.Profile"});
    }

    void deleteSite_data()
    {
        QTest::addColumn<PromptAnswer>("answer");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("yes deletes") << PromptAnswer::Yes << QStringList{"B.Profile"};
        QTest::newRow("no keeps") << PromptAnswer::No << QStringList{"A.Profile", "B.Profile"};
    }

    void deleteSite()
    {
        QFETCH(PromptAnswer, answer);
        QFETCH(QStringList, left);
        Rig rig;
        for (const char *name : {"A", "B"})
            QVERIFY(profiles::save(rig.dir.path(), SiteProfile{name, "h", "21", "", "", false, FtpSecurity::Plain},
                                   false)
                    == profiles::SaveResult::Saved);
        rig.reload();
        rig.form->tvlPrivate->setCurrentItem(rig.form->tvlPrivate->topLevelItem(0));
        rig.form->DeleteSite(); // the root: no question, nothing deleted
        QCOMPARE(rig.privateFiles(), (QStringList{"A.Profile", "B.Profile"}));
        rig.form->tvlPrivate->setCurrentItem(rig.node(rig.form->tvlPrivate, "A.Profile"));
        rig.prompts.expectMessage("A.Profile", answer);
        rig.form->DeleteSite();
        VERIFY_PROMPTS_DONE(rig.prompts);
        QCOMPARE(rig.prompts.last().buttons, PromptButtons::YesNo);
        QCOMPARE(rig.privateFiles(), left);
        QCOMPARE(rig.form->tvlPrivate->topLevelItem(0)->childCount(), int(left.size()));

        // The file vanished behind the dialog's back: the error is shown.
        if (answer == PromptAnswer::No) {
            QVERIFY(QFile::remove(rig.file(ProfileFolder::Private, "A")));
            rig.form->tvlPrivate->setCurrentItem(rig.node(rig.form->tvlPrivate, "A.Profile"));
            rig.prompts.expectMessage("A.Profile", PromptAnswer::Yes).expectMessage("");
            rig.form->DeleteSite();
            VERIFY_PROMPTS_DONE(rig.prompts);
            QCOMPARE(rig.prompts.last().icon, PromptIcon::Information);
        }
    }

    void showFormConnectAndCancel_data()
    {
        QTest::addColumn<bool>("connect");
        QTest::newRow("connect") << true;
        QTest::newRow("cancel") << false;
    }

    void showFormConnectAndCancel()
    {
        QFETCH(bool, connect);
        Rig rig;
        QString host = "start.example", port, user = "me", password = "pw";
        bool anonymous = false, passive = false;
        FtpSecurity security = FtpSecurity::Plain;
        QTimer::singleShot(0, rig.form.get(), [&] {
            QCOMPARE(rig.form->txtPort->text(), QStringLiteral("21")); // an empty port shows as 21
            QCOMPARE(rig.form->txtAddress->text(), QStringLiteral("start.example"));
            rig.form->txtAddress->setText("other.example");
            rig.form->optAnonymous->click();
            rig.form->chkPassive->setChecked(true);
            rig.form->cboEncryption->setCurrentIndex(2);
            (connect ? rig.form->cmdConnect : rig.form->cmdCancel)->click();
        });
        const bool result = rig.form->ShowForm(host, port, user, password, anonymous, passive, &security);
        QCOMPARE(result, connect);
        QCOMPARE(host, connect ? QStringLiteral("other.example") : QStringLiteral("start.example"));
        QCOMPARE(port, connect ? QStringLiteral("21") : QString());
        QCOMPARE(user, connect ? QStringLiteral("anonymous") : QStringLiteral("me"));
        QCOMPARE(password, connect ? QString() : QStringLiteral("pw"));
        QCOMPARE(anonymous, connect);
        QCOMPARE(passive, connect);
        QCOMPARE(security, connect ? FtpSecurity::ImplicitTls : FtpSecurity::Plain);
    }
};

QTEST_MAIN(tst_SiteManager)
#include "tst_sitemanager.moc"
