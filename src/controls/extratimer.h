#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>

// An interval timer that counts in seconds, minutes, hours or days, far
// beyond the range of a millisecond timer. Once a second while enabled it
// adds one to its count; when the count reaches Interval units it emits
// Timer() and starts counting again from 0.
//
// Disabling stops the count without resetting it, and changing Interval or
// IntervalUnit does not reset it either: the next event comes when the old
// count plus the new seconds reach the new threshold. Thresholds are computed
// in 64 bits, so any Interval in days fits.
class ExtraTimer : public QObject {
    Q_OBJECT
    Q_PROPERTY(int Interval READ Interval WRITE setInterval)
    Q_PROPERTY(int IntervalUnit READ IntervalUnit WRITE setIntervalUnit)
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabled)

public:
    enum Unit { Seconds = 0, Minutes = 1, Hours = 2, Days = 3 };

    // tickPeriod is one "second" of the count; tests pass a shorter one.
    explicit ExtraTimer(QObject *parent = nullptr,
                        std::chrono::milliseconds tickPeriod = std::chrono::milliseconds(1000));

    int Interval() const { return m_interval; }
    void setInterval(int value) { m_interval = value; }
    int IntervalUnit() const { return m_unit; }
    void setIntervalUnit(int value) { m_unit = value; }
    bool Enabled() const { return m_timer.isActive(); }
    void setEnabled(bool on);

    qint64 tickCount() const { return m_count; }
    // Starts counting from 0 again, so a newly set interval is counted whole.
    void resetCount() { m_count = 0; }
    // The number of seconds to count, or -1 for a unit that never fires.
    qint64 threshold() const;

    // One second of counting; the inner timer calls it.
    void tick();

Q_SIGNALS:
    void Timer();

private:
    QTimer m_timer;
    int m_interval = 1;
    int m_unit = Seconds;
    qint64 m_count = 0;
};
