#include "platform/ui/skin.h"
#include "platform/ui/skinform.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

class TestSkinForm : public QObject {
    Q_OBJECT

    static QString element(const QWidget *w) { return w->property(Skin::ElementProperty).toString(); }

private Q_SLOTS:
    void elementNamesByKind_data()
    {
        QTest::addColumn<int>("flavour");
        QTest::addColumn<QStringList>("names"); // button, label, frame, borderless frame, check, radio, status, tab, edit
        QTest::newRow("tessel") << int(SkinFlavour::Tessel)
                                << QStringList{"Button", "Label", "Frame", "Frame", "checkBox", "radioBox", "StatusBar", "Tab", ""};
        QTest::newRow("corvane main") << int(SkinFlavour::CorvaneMain)
                                      << QStringList{"Button", "Label", "Frame", "Frame", "checkBox", "radioBox", "", "Tab", ""};
        QTest::newRow("corvane dialog") << int(SkinFlavour::CorvaneDialog)
                                        << QStringList{"Button", "Label", "Frame", "NoFrame", "checkBox", "radioBox", "StatusBar", "Tab", ""};
    }

    void elementNamesByKind()
    {
        QFETCH(int, flavour);
        QFETCH(QStringList, names);
        QWidget form;
        auto *layout = new QVBoxLayout(&form);
        QList<QWidget *> controls{new QPushButton(QStringLiteral("OK")), new QLabel(QStringLiteral("Label")),
                                  new QGroupBox(QStringLiteral("Framed")), new QGroupBox(QStringLiteral("Flat")),
                                  new QCheckBox(QStringLiteral("Check")), new QRadioButton(QStringLiteral("Option")),
                                  new QStatusBar, new QTabBar, new QLineEdit};
        static_cast<QGroupBox *>(controls[3])->setFlat(true);
        for (QWidget *w : controls)
            layout->addWidget(w);
        SkinForm(&form, MainWindowSkinName, SkinFlavour(flavour));
        QCOMPARE(form.property(Skin::WindowProperty).toString(), QStringLiteral("Main"));
        for (int i = 0; i < controls.size(); ++i)
            QCOMPARE(element(controls[i]), names[i]);
    }

    void skinSheetSelectsOnElementNames()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("QFTP.skn"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("QPushButton[skinElement=\"Button\"] { min-height: 41px; }");
        file.close();

        QWidget form;
        auto *layout = new QVBoxLayout(&form);
        auto *skinned = new QPushButton(QStringLiteral("Skinned"));
        layout->addWidget(skinned);
        Skin skin(path);
        QVERIFY(skin.load());
        SkinForm(&form, SecondWindowSkinName);
        auto *unregistered = new QPushButton(QStringLiteral("Plain"));
        layout->addWidget(unregistered);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(skinned->minimumSizeHint().height() >= 41, true);
        QVERIFY(unregistered->sizeHint().height() < 41);
        qApp->setStyleSheet(QString());
    }

    void missingSkinFileMeansNoSkin()
    {
        Skin skin(QStringLiteral("/nonexistent/QFTP.skn"));
        QVERIFY(!skin.load());
        QVERIFY(!skin.isLoaded());
        QVERIFY(qApp->styleSheet().isEmpty());
    }
};

QTEST_MAIN(TestSkinForm)
#include "tst_skinform.moc"
