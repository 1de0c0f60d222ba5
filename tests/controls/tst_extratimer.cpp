#include "controls/extratimer.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

class TestExtraTimer : public QObject {
    Q_OBJECT

    // Drives the count directly, one call per second.
    static int ticksUntilEvent(ExtraTimer &timer, int limit)
    {
        QSignalSpy spy(&timer, &ExtraTimer::Timer);
        for (int i = 1; i <= limit; ++i) {
            timer.tick();
            if (spy.count() > 0)
                return i;
        }
        return -1;
    }

private Q_SLOTS:
    void thresholds_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("unit");
        QTest::addColumn<int>("seconds"); // -1: never within the limit
        QTest::newRow("109 minutes") << 109 << 1 << 6540;
        QTest::newRow("5 seconds") << 5 << 0 << 5;
        QTest::newRow("interval 0 fires every second") << 0 << 0 << 1;
        QTest::newRow("interval 1 fires every second") << 1 << 0 << 1;
        QTest::newRow("2 hours") << 2 << 2 << 7200;
        QTest::newRow("1 day") << 1 << 3 << 86400;
        QTest::newRow("unit 4 never fires") << 1 << 4 << -1;
        QTest::newRow("negative unit never fires") << 1 << -1 << -1;
    }

    void thresholds()
    {
        QFETCH(int, interval);
        QFETCH(int, unit);
        QFETCH(int, seconds);
        ExtraTimer timer;
        timer.setInterval(interval);
        timer.setIntervalUnit(unit);
        QCOMPARE(ticksUntilEvent(timer, 90000), seconds);
        if (seconds < 0)
            QCOMPARE(timer.tickCount(), qint64(90000)); // it counted all the same
    }

    void largeThresholdsDoNotOverflow()
    {
        ExtraTimer timer;
        timer.setInterval(30000);
        timer.setIntervalUnit(ExtraTimer::Days);
        QCOMPARE(timer.threshold(), qint64(30000) * 86400);
        QVERIFY(timer.threshold() > std::numeric_limits<qint32>::max());
        QSignalSpy spy(&timer, &ExtraTimer::Timer);
        for (int i = 0; i < 1000; ++i)
            timer.tick();
        QCOMPARE(spy.count(), 0);
    }

    void handlerThatReArms()
    {
        ExtraTimer timer;
        timer.setInterval(10);
        int events = 0;
        connect(&timer, &ExtraTimer::Timer, &timer, [&] {
            ++events;
            timer.setInterval(3); // the count starts again from 0
        });
        QCOMPARE(ticksUntilEvent(timer, 100), 10);
        QCOMPARE(ticksUntilEvent(timer, 100), 3);
        QCOMPARE(events, 2);
    }

    void changingTheIntervalKeepsTheCount()
    {
        ExtraTimer timer;
        timer.setInterval(10);
        for (int i = 0; i < 4; ++i)
            timer.tick();
        timer.setInterval(6);
        QCOMPARE(ticksUntilEvent(timer, 100), 2);
    }

    void disablingStopsWithoutResetting()
    {
        ExtraTimer timer(nullptr, 5ms);
        timer.setInterval(1000);
        QVERIFY(!timer.Enabled());
        timer.setEnabled(true);
        QVERIFY(timer.Enabled());
        QTRY_VERIFY_WITH_TIMEOUT(timer.tickCount() >= 3, 5000);
        timer.setEnabled(false);
        const qint64 count = timer.tickCount();
        QTest::qWait(50);
        QCOMPARE(timer.tickCount(), count);
        timer.setEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(timer.tickCount() > count, 5000);
    }

    void innerTimerRaisesTheEvent()
    {
        ExtraTimer timer(nullptr, 2ms);
        timer.setInterval(3);
        QSignalSpy spy(&timer, &ExtraTimer::Timer);
        timer.setEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 2, 5000);
    }

    void propertiesHaveTheirStoredNames()
    {
        ExtraTimer timer;
        QVERIFY(timer.setProperty("Interval", 42));
        QVERIFY(timer.setProperty("IntervalUnit", 2));
        QCOMPARE(timer.Interval(), 42);
        QCOMPARE(timer.IntervalUnit(), 2);
        QCOMPARE(timer.property("Enabled").toBool(), false);
    }

    void handlerMayDeleteTheTimer()
    {
        auto *timer = new ExtraTimer;
        QPointer<ExtraTimer> guard(timer);
        connect(timer, &ExtraTimer::Timer, timer, [timer] { delete timer; });
        timer->tick(); // interval 1: fires and is deleted inside the event; ASan checks the rest
        QVERIFY(guard.isNull());
    }
};

QTEST_GUILESS_MAIN(TestExtraTimer)
#include "tst_extratimer.moc"
