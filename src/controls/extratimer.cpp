#include "controls/extratimer.h"

ExtraTimer::ExtraTimer(QObject *parent, std::chrono::milliseconds tickPeriod) : QObject(parent)
{
    m_timer.setInterval(tickPeriod);
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ExtraTimer::tick);
}

void ExtraTimer::setEnabled(bool on)
{
    if (on && !m_timer.isActive())
        m_timer.start();
    else if (!on)
        m_timer.stop();
}

qint64 ExtraTimer::threshold() const
{
    const qint64 n = m_interval;
    switch (m_unit) {
    case Seconds: return n;
    case Minutes: return n * 60;
    case Hours: return n * 3600;
    case Days: return n * 86400;
    default: return -1;
    }
}

void ExtraTimer::tick()
{
    ++m_count;
    const qint64 limit = threshold();
    if (limit < 0 && (m_unit < Seconds || m_unit > Days))
        return; // an unknown unit counts but never fires
    if (m_count >= limit) {
        // Reset first: the handler may re-arm the timer or even delete it.
        m_count = 0;
        Q_EMIT Timer();
    }
}
