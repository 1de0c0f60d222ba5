// The tray control: tip and balloon cutting, event modes, the busy flag and
// the silent path on a desktop without a notification area.
#include "controls/ui/tray.h"

#include <QEventLoop>
#include <QPixmap>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

namespace {

// Records what the control asks of the desktop; clicks are raised by hand.
class FakeTrayHost final : public TrayHost {
public:
    explicit FakeTrayHost(bool available) : available(available) {}

    bool isAvailable() const override { return available; }
    void showIcon(const QIcon &icon, const QString &tip) override
    {
        ++showCalls;
        shown = true;
        lastIcon = icon;
        lastTip = tip;
    }
    void hideIcon() override
    {
        ++hideCalls;
        shown = false;
    }
    void showMessage(const QString &title, const QString &text) override
    {
        ++messageCalls;
        lastTitle = title;
        lastText = text;
    }

    void click(QSystemTrayIcon::ActivationReason reason) { Q_EMIT activated(reason); }

    bool available;
    bool shown = false;
    int showCalls = 0;
    int hideCalls = 0;
    int messageCalls = 0;
    QIcon lastIcon;
    QString lastTip;
    QString lastTitle;
    QString lastText;
};

struct Fixture {
    explicit Fixture(bool available = true, std::chrono::milliseconds settle = 15ms)
    {
        auto fake = std::make_unique<FakeTrayHost>(available);
        host = fake.get();
        tray = std::make_unique<Tray>(std::move(fake), nullptr, settle);
    }
    FakeTrayHost *host = nullptr;
    std::unique_ptr<Tray> tray;
};

QPixmap solidPicture(int w, int h)
{
    QPixmap picture(w, h);
    picture.fill(Qt::red);
    return picture;
}

} // namespace

class TestTray : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void tipIsPaddedAndCut_data()
    {
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QString>("tip");
        const QString x125(125, QLatin1Char('a'));
        const QString x126(126, QLatin1Char('b'));
        const QString x130 = QString(126, QLatin1Char('c')) + QStringLiteral("WXYZ");
        QTest::newRow("empty tooltip gives no tip") << QString() << QString();
        QTest::newRow("short tooltip between blanks") << QStringLiteral("Tessel") << QStringLiteral(" Tessel ");
        QTest::newRow("125 characters fit with both blanks")
            << x125 << QLatin1Char(' ') + x125 + QLatin1Char(' ');
        QTest::newRow("126 characters lose the closing blank") << x126 << QLatin1Char(' ') + x126;
        QTest::newRow("130 characters are cut to 127 in all")
            << x130 << QLatin1Char(' ') + QString(126, QLatin1Char('c'));
    }

    void tipIsPaddedAndCut()
    {
        QFETCH(QString, toolTip);
        QFETCH(QString, tip);
        Fixture f;
        f.tray->setTrayImage(solidPicture(16, 16));
        f.tray->setTrayToolTip(toolTip);
        f.tray->Show(true);
        QCOMPARE(f.host->lastTip, tip);
        QVERIFY(f.host->lastTip.size() < TrayTipCapacity);
        QCOMPARE(f.tray->TrayToolTip(), toolTip); // the property keeps the whole text
    }

    void balloonUsesToolTipAsTitleAndIsCut()
    {
        Fixture f;
        f.tray->setTrayToolTip(QString(70, QLatin1Char('t')));
        f.tray->setTrayBalloonToolTip(QString(300, QLatin1Char('m')));

        f.tray->showBalloonoolTip(true); // no icon shown yet: nothing to attach it to
        QCOMPARE(f.host->messageCalls, 0);

        f.tray->Show(true);
        f.tray->showBalloonoolTip(false);
        QCOMPARE(f.host->messageCalls, 0);

        f.tray->showBalloonoolTip(true);
        QCOMPARE(f.host->messageCalls, 1);
        QCOMPARE(f.host->lastTitle, QString(63, QLatin1Char('t')));
        QCOMPARE(f.host->lastText, QString(255, QLatin1Char('m')));
    }

    void eventModeIsClamped_data()
    {
        QTest::addColumn<int>("set");
        QTest::addColumn<int>("read");
        QTest::newRow("5 becomes 1") << 5 << 1;
        QTest::newRow("1 stays") << 1 << 1;
        QTest::newRow("0 stays") << 0 << 0;
        QTest::newRow("-3 becomes 0") << -3 << 0;
        QTest::newRow("lowest int becomes 0") << std::numeric_limits<int>::min() << 0;
        QTest::newRow("highest int becomes 1") << std::numeric_limits<int>::max() << 1;
    }

    void eventModeIsClamped()
    {
        QFETCH(int, set);
        QFETCH(int, read);
        Fixture f;
        f.tray->setEventMode(set);
        QCOMPARE(f.tray->EventMode(), read);
        QCOMPARE(f.tray->property("EventMode").toInt(), read);
    }

    void showAddsOnceAndRemoves()
    {
        Fixture f;
        f.tray->setTrayImage(solidPicture(16, 16));
        f.tray->setTrayToolTip(QStringLiteral("one"));
        f.tray->Show(true);
        QVERIFY(f.tray->IsVisible());
        f.tray->setTrayToolTip(QStringLiteral("two"));
        f.tray->Show(true); // updates the icon that is there
        QVERIFY(f.host->shown);
        QCOMPARE(f.host->lastTip, QStringLiteral(" two "));
        QCOMPARE(f.host->hideCalls, 0);

        f.tray->Show(false);
        QVERIFY(!f.tray->IsVisible());
        QVERIFY(!f.host->shown);
        f.tray->Show(false); // nothing left to remove
        QCOMPARE(f.host->hideCalls, 1);
    }

    void pictureBecomesA32PixelIcon()
    {
        Fixture f;
        f.tray->setTrayImage(solidPicture(64, 20));
        const QIcon icon = f.tray->TrayImage();
        QVERIFY(!icon.isNull());
        QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(32, 32)});
        // kept in proportion: 64 x 20 becomes 32 x 10, centred
        const QImage image = icon.pixmap(QSize(32, 32)).toImage();
        QCOMPARE(image.pixelColor(16, 16), QColor(Qt::red));
        QCOMPARE(image.pixelColor(16, 2).alpha(), 0);

        f.tray->Show(true);
        f.tray->setTrayImage(QPixmap()); // an empty picture clears the icon
        QVERIFY(f.tray->TrayImage().isNull());
        QVERIFY(f.host->lastIcon.isNull());
    }

    void clicksBecomeEvents_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("reason");
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("right");
        QTest::addColumn<int>("button"); // MouseClick argument, 0: none
        QTest::newRow("mode 0 left") << 0 << int(QSystemTrayIcon::Trigger) << 1 << 0 << 0;
        QTest::newRow("mode 0 right") << 0 << int(QSystemTrayIcon::Context) << 0 << 1 << 0;
        QTest::newRow("mode 1 left") << 1 << int(QSystemTrayIcon::Trigger) << 0 << 0 << 1;
        QTest::newRow("mode 1 right") << 1 << int(QSystemTrayIcon::Context) << 0 << 0 << 2;
        QTest::newRow("double click ignored") << 0 << int(QSystemTrayIcon::DoubleClick) << 0 << 0 << 0;
        QTest::newRow("middle click ignored") << 1 << int(QSystemTrayIcon::MiddleClick) << 0 << 0 << 0;
    }

    void clicksBecomeEvents()
    {
        QFETCH(int, mode);
        QFETCH(int, reason);
        QFETCH(int, left);
        QFETCH(int, right);
        QFETCH(int, button);
        Fixture f;
        f.tray->setEventMode(mode);
        QSignalSpy lefts(f.tray.get(), &Tray::LeftClick);
        QSignalSpy rights(f.tray.get(), &Tray::RightClick);
        QSignalSpy mouse(f.tray.get(), &Tray::MouseClick);
        f.host->click(QSystemTrayIcon::ActivationReason(reason));
        QCOMPARE(lefts.count(), left);
        QCOMPARE(rights.count(), right);
        QCOMPARE(mouse.count(), button ? 1 : 0);
        if (button)
            QCOMPARE(mouse.first().first().toInt(), button);
        QCOMPARE(f.tray->isBusy(), left + right + (button ? 1 : 0) > 0);
    }

    // A handler that keeps a popup menu open runs a nested event loop; clicks
    // that arrive meanwhile, directly or through the loop, are dropped, and
    // the settle period only starts once the handler has returned.
    void clicksWhileAHandlerRunsAreDropped()
    {
        Fixture f(true, 20ms);
        int events = 0;
        bool wasBusyAfterLoop = false;
        QObject::connect(f.tray.get(), &Tray::RightClick, f.tray.get(), [&] {
            ++events;
            f.host->click(QSystemTrayIcon::Context); // a click re-entering at once
            QEventLoop menuLoop;
            QTimer::singleShot(30ms, [&] { f.host->click(QSystemTrayIcon::Context); });
            QTimer::singleShot(70ms, &menuLoop, &QEventLoop::quit); // the menu closes
            menuLoop.exec();
            wasBusyAfterLoop = f.tray->isBusy();
        });
        f.host->click(QSystemTrayIcon::Context);
        QCOMPARE(events, 1);
        QVERIFY(wasBusyAfterLoop); // the 70 ms loop outlasted the 20 ms period: not armed inside
        QVERIFY(f.tray->isBusy());
        f.host->click(QSystemTrayIcon::Trigger); // still settling
        QCOMPARE(events, 1);

        QTRY_VERIFY_WITH_TIMEOUT(!f.tray->isBusy(), 2000);
        QSignalSpy lefts(f.tray.get(), &Tray::LeftClick);
        f.host->click(QSystemTrayIcon::Trigger);
        QCOMPARE(lefts.count(), 1);
    }

    void aHandlerMayDeleteTheControl()
    {
        auto fake = std::make_unique<FakeTrayHost>(true);
        FakeTrayHost *host = fake.get();
        QPointer<Tray> tray = new Tray(std::move(fake));
        QObject::connect(tray.data(), &Tray::LeftClick, [&] { delete tray.data(); });
        host->click(QSystemTrayIcon::Trigger); // host is deleted with the tray
        QVERIFY(tray.isNull());
    }

    void noTrayDoesNothing()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        Fixture f(false);
        f.tray->setTrayImage(solidPicture(16, 16));
        f.tray->setTrayToolTip(QStringLiteral("Tessel"));
        f.tray->setTrayBalloonToolTip(QStringLiteral("done"));
        f.tray->Show(true);
        f.tray->showBalloonoolTip(true);
        QVERIFY(!f.tray->isAvailable());
        QVERIFY(!f.tray->IsVisible()); // the holder can see that no icon brings a window back
        QCOMPARE(f.host->showCalls, 0);
        QCOMPARE(f.host->messageCalls, 0);
        f.tray->Show(false);
        QCOMPARE(f.host->hideCalls, 0);

        // A tray that appears later is used from then on.
        f.host->available = true;
        f.tray->Show(true);
        QVERIFY(f.tray->IsVisible());
        QCOMPARE(f.host->showCalls, 1);
    }

    void desktopWithoutTrayIsSilent()
    {
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("this desktop has a notification area");
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        Tray tray;
        tray.setTrayToolTip(QStringLiteral("Tessel"));
        tray.Show(true);
        tray.setTrayImage(solidPicture(16, 16));
        tray.setTrayBalloonToolTip(QStringLiteral("Transfer Completed..."));
        tray.showBalloonoolTip(true);
        QVERIFY(!tray.isAvailable());
        QVERIFY(!tray.IsVisible());
        tray.Show(false);
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
