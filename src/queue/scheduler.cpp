#include "queue/scheduler.h"

#include "config/conversions.h"
#include "config/cregister.h"
#include "download/urlmodel.h"

#include <cstdlib>

namespace {

constexpr int SecondsPerDay = 86400;
using Column = DownloadListModel::Column;

// The row markers a scheduled run leaves alone.
const QString RefusedMarker = QStringLiteral("0 %");
const QString FinishedMarker = QStringLiteral("100%");

qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

QString stored(const CRegister &reg, const QString &key, const QString &fallback)
{
    return reg.REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, key, fallback);
}

// A flag: "1"/"True" on, "0"/"False" off; anything else is the default.
bool storedFlag(const CRegister &reg, const QString &key, bool fallback)
{
    const QString text = stored(reg, key, QString());
    if (const std::optional<bool> b = conv::toBool(text))
        return *b;
    if (const std::optional<double> n = conv::toNumber(text); n && (*n == 0 || *n == 1))
        return *n == 1;
    return fallback;
}

QString storedEntry(const CRegister &reg, const QString &key, const QStringList &entries, const QString &fallback)
{
    const QString text = stored(reg, key, fallback);
    return entries.contains(text) ? text : fallback;
}

} // namespace

// ---------------------------------------------------------------- the stored schedule

QStringList Schedule::hourEntries()
{
    QStringList out;
    for (int h = 1; h <= 23; ++h)
        out.append(QString::number(h));
    out.append(QStringLiteral("00"));
    return out;
}

QStringList Schedule::minuteEntries()
{
    QStringList out;
    for (int m = 0; m < 60; m += 5)
        out.append(QStringLiteral(":%1").arg(m, 2, 10, QLatin1Char('0')));
    return out;
}

QStringList Schedule::typeEntries()
{
    return {QStringLiteral("AM"), QStringLiteral("PM"), QStringLiteral("24HR")};
}

const std::array<QString, 7> &Schedule::dayKeys()
{
    static const std::array<QString, 7> keys{QStringLiteral("Sat"), QStringLiteral("Sun"), QStringLiteral("Mon"),
                                             QStringLiteral("Tue"), QStringLiteral("Wed"), QStringLiteral("Thr"),
                                             QStringLiteral("fri")};
    return keys;
}

Schedule Schedule::load(const CRegister &reg)
{
    Schedule s;
    s.NoSchedule = storedFlag(reg, QStringLiteral("NoSchedule"), true);
    s.SchHour = storedEntry(reg, QStringLiteral("SchHour"), hourEntries(), s.SchHour);
    s.SchMinute = storedEntry(reg, QStringLiteral("SchMinute"), minuteEntries(), s.SchMinute);
    s.SchType = storedEntry(reg, QStringLiteral("SchType"), typeEntries(), s.SchType);
    s.Today = storedFlag(reg, QStringLiteral("Today"), true);
    s.SelectDay = storedFlag(reg, QStringLiteral("SelectDay"), false);
    for (int d = 0; d < 7; ++d)
        s.days[d] = storedFlag(reg, dayKeys()[d], false);
    s.OverWrite = storedFlag(reg, QStringLiteral("OverWrite"), true);
    s.Resume = storedFlag(reg, QStringLiteral("Resume"), false);
    s.Skip = storedFlag(reg, QStringLiteral("Skip"), false);
    return s;
}

void Schedule::save(CRegister &reg) const
{
    const auto put = [&reg](const QString &key, const QString &value) {
        reg.REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, key, value);
    };
    put(QStringLiteral("NoSchedule"), conv::boxText(NoSchedule));
    put(QStringLiteral("SchHour"), SchHour);
    put(QStringLiteral("SchMinute"), SchMinute);
    put(QStringLiteral("SchType"), SchType);
    put(QStringLiteral("Today"), conv::optionText(Today));
    put(QStringLiteral("SelectDay"), conv::optionText(SelectDay));
    for (int d = 0; d < 7; ++d)
        put(dayKeys()[d], conv::boxText(days[d]));
    put(QStringLiteral("OverWrite"), conv::optionText(OverWrite));
    put(QStringLiteral("Resume"), conv::optionText(Resume));
    put(QStringLiteral("Skip"), conv::optionText(Skip));
}

qint16 Schedule::existChoice() const
{
    if (OverWrite)
        return 1;
    if (Resume)
        return 2;
    return 3;
}

Schedule::Day Schedule::dayOf(const QDate &date)
{
    // dayOfWeek: 1 Monday ... 6 Saturday, 7 Sunday.
    return Day((date.dayOfWeek() + 1) % 7);
}

// ---------------------------------------------------------------- the arithmetic

std::optional<int> scheduledSecond(const Schedule &schedule)
{
    bool ok = false;
    const int hour = schedule.SchHour.trimmed().toInt(&ok);
    if (!ok || hour < 0 || hour > 24)
        return std::nullopt;
    const bool am = schedule.SchType == QLatin1String("AM");
    const bool pm = schedule.SchType == QLatin1String("PM");
    if ((am || pm) && hour > 12)
        return std::nullopt;
    int h = hour;
    if ((am && hour == 12) || (!pm && hour == 0))
        h = 24; // midnight at the end of the day
    else if (pm && hour != 12)
        h = hour + 12; // "12" "PM" stays noon
    const int minute = schedule.SchMinute.right(2).toInt();
    return h * 3600 + std::clamp(minute, 0, 59) * 60;
}

ScheduleStep evaluateSchedule(const Schedule &schedule, const QDateTime &now, ScheduleMode mode,
                              const ScheduleMemory &memory)
{
    ScheduleStep step;
    if (schedule.NoSchedule) {
        step.kind = ScheduleStep::Kind::Off;
        return step;
    }
    const qint64 nowMs = now.time().msecsSinceStartOfDay();
    const bool weekly = !schedule.Today;
    const std::optional<int> target = scheduledSecond(schedule);
    // A time after midnight at the end of the day ("12:30 AM" is 24:30) is
    // still ahead in the first hour of the next day: it belongs to the day
    // before.
    step.day = now.date();
    if (target && *target > SecondsPerDay && nowMs < (*target - SecondsPerDay) * 1000LL)
        step.day = step.day.addDays(-1);

    // Wakes again just after midnight, when the next day is tested.
    const auto untilMidnight = [&] {
        // The hours and minutes to 23:59:59, plus one minute.
        const qint64 secs = floorDiv((SecondsPerDay - 1) * 1000LL - nowMs, 1000);
        step.kind = ScheduleStep::Kind::Arm;
        step.unit = ExtraTimer::Minutes;
        step.interval = secs < 0 ? 1 : int(secs / 3600 * 60 + secs % 3600 / 60 + 1);
        step.untilMidnight = true;
        return step;
    };

    if (weekly && !schedule.days[Schedule::dayOf(step.day)])
        return untilMidnight();
    if (!target) {
        step.kind = ScheduleStep::Kind::IncorrectTime;
        return step;
    }
    step.targetSecond = *target;
    const bool ranAlready = memory.ranOn == step.day && memory.ranSecond == *target;

    // Target minus now on the wall clock, borrowing like a clock: only the
    // hours go negative.
    const auto key = [](const QDate &day, qint64 ms) { return day.toJulianDay() * SecondsPerDay * 1000LL + ms; };
    const qint64 targetKey = key(step.day, *target * 1000LL);
    const qint64 secs = floorDiv(targetKey - key(now.date(), nowMs), 1000);
    step.hours = int(floorDiv(secs, 3600));
    step.minutes = int(floorDiv(secs, 60) - qint64(step.hours) * 60);
    step.seconds = int(secs - floorDiv(secs, 60) * 60);

    if (step.hours < 0) {
        // The wait began before the time that has now passed: the machine
        // slept or the clock moved, and the run is late, not lost.
        const QDateTime &armed = memory.armedAt;
        const bool waitedForIt = armed.isValid() && key(armed.date(), armed.time().msecsSinceStartOfDay()) < targetKey;
        if (mode == ScheduleMode::Tick && waitedForIt && !ranAlready) {
            step.kind = ScheduleStep::Kind::Fire;
            return step;
        }
        if (weekly)
            return untilMidnight(); // the next selected day
        step.kind = ScheduleStep::Kind::PreviousTime;
        step.warnOfPast = mode == ScheduleMode::Interactive && step.minutes < 56;
        return step;
    }
    if (step.hours == 0 && step.minutes == 0 && step.seconds == 0) {
        if (ranAlready) {
            if (weekly)
                return untilMidnight();
            step.kind = ScheduleStep::Kind::PreviousTime;
            return step;
        }
        step.kind = ScheduleStep::Kind::Fire;
        return step;
    }
    step.kind = ScheduleStep::Kind::Arm;
    if (step.hours > 0 || step.minutes > 0) {
        step.unit = ExtraTimer::Minutes;
        step.interval = step.hours * 60 + step.minutes;
    } else {
        step.unit = ExtraTimer::Seconds;
        step.interval = step.seconds - 1;
    }
    return step;
}

// ---------------------------------------------------------------- unattended answers

bool UnattendedAnswerer::answer(DownloadId id, const TransferQuestion &question)
{
    // A stop is always a person's doing, so the person answers it.
    if (m_ids.contains(id) && question.kind != TransferQuestion::Kind::StopSegmented)
        return m_fixed.answer(id, question);
    return m_person ? m_person->answer(id, question) : false;
}

// ---------------------------------------------------------------- the scheduler

Scheduler::Scheduler(Services services, QObject *parent)
    : QObject(parent), ExtraTimer1(nullptr, services.second), m_services(std::move(services))
{
    if (m_services.blnUnattended)
        m_unattended = m_services.blnUnattended;
    if (m_services.intScheduleExistChoice)
        m_existChoice = m_services.intScheduleExistChoice;
    if (m_services.reg)
        setSchedule(Schedule::load(*m_services.reg));
    connect(&ExtraTimer1, &ExtraTimer::Timer, this, [this] {
        m_countSince = now(); // the timer counts from 0 again
        onTick();
    });
    m_watch.setInterval(m_services.second);
    connect(&m_watch, &QTimer::timeout, this, &Scheduler::checkWallClock);
    if (m_services.manager && m_services.answerer) {
        // A download the run started answers for itself only until it ends.
        // Queued, so the download's window still sees it as unattended when
        // it handles the same end; a run that stopped a download to restart
        // it has it running again by then, and it stays.
        connect(
            m_services.manager, &DownloadManager::finished, this,
            [this, manager = QPointer<DownloadManager>(m_services.manager)](DownloadId id, const TransferOutcome &) {
                if (!manager || manager->state(id) != DownloadState::Running)
                    m_services.answerer->remove(id);
            },
            Qt::QueuedConnection);
    }
}

Scheduler::~Scheduler() = default;

QDateTime Scheduler::now() const
{
    return m_services.clock ? m_services.clock() : QDateTime::currentDateTime();
}

void Scheduler::setSchedule(const Schedule &schedule)
{
    m_schedule = schedule;
    *m_existChoice = schedule.existChoice();
}

ScheduleStep Scheduler::OkStep(const Schedule &controls, ScheduleMode mode)
{
    setSchedule(controls);
    RunMode = mode != ScheduleMode::Interactive;
    TimeOn = false;
    const QDateTime at = now();
    const ScheduleStep step = evaluateSchedule(m_schedule, at, mode, m_memory);
    switch (step.kind) {
    case ScheduleStep::Kind::Off:
        ExtraTimer1.setEnabled(false);
        m_watch.stop();
        m_memory.armedAt = {};
        break;
    case ScheduleStep::Kind::Arm:
        ExtraTimer1.setIntervalUnit(step.unit);
        ExtraTimer1.setInterval(step.interval);
        // The new interval is counted whole from now.
        ExtraTimer1.resetCount();
        ExtraTimer1.setEnabled(true);
        m_memory.armedAt = at;
        m_countSince = at;
        m_watch.start();
        break;
    case ScheduleStep::Kind::Fire:
        TimeOn = true;
        break;
    case ScheduleStep::Kind::IncorrectTime:
    case ScheduleStep::Kind::PreviousTime:
        break;
    }
    if (step.stores() && m_services.reg) {
        m_schedule.save(*m_services.reg);
        setSchedule(m_schedule);
    }
    m_lastTarget = step.targetSecond;
    m_lastDay = step.day;
    return step;
}

bool Scheduler::InitTimer(bool startUp)
{
    RunMode = true;
    const Schedule controls = m_services.reg ? Schedule::load(*m_services.reg) : m_schedule;
    OkStep(controls, startUp ? ScheduleMode::StartUp : ScheduleMode::Tick);
    return TimeOn;
}

void Scheduler::onTick()
{
    if (m_inTick)
        return;
    m_inTick = true;
    if (InitTimer(false)) {
        *m_unattended = true;
        const int started = RunSchedule();
        *m_unattended = false;
        ExtraTimer1.setEnabled(false);
        m_watch.stop();
        m_memory.armedAt = {};
        m_memory.ranOn = m_lastDay;
        m_memory.ranSecond = m_lastTarget;
        // A weekly schedule waits for its next selected day.
        if (!m_schedule.Today)
            OkStep(m_schedule, ScheduleMode::Tick);
        Q_EMIT scheduleRan(started);
    }
    m_inTick = false;
}

void Scheduler::checkWallClock()
{
    // The timer counts the seconds the program was awake; the wall clock
    // also counts a sleep and moves when the clock is set. When the two
    // disagree by more than two seconds, the step runs again at once: it
    // re-arms for the time still ahead, or runs a time already passed.
    if (!ExtraTimer1.Enabled() || !m_countSince.isValid())
        return;
    const qint64 wall = m_countSince.secsTo(now());
    if (std::abs(wall - ExtraTimer1.tickCount()) <= 2)
        return;
    ExtraTimer1.resetCount();
    m_countSince = now();
    onTick();
}

int Scheduler::RunSchedule()
{
    DownloadManager *manager = m_services.manager;
    DownloadListModel *list = m_services.downloads;
    if (!manager || !list || !m_services.restartRow)
        return 0;
    // Every download the run starts answers its own questions from the
    // moment it starts, before its job can ask anything.
    QList<DownloadId> startedIds;
    const QPointer<DownloadManager> alive(manager);
    const QMetaObject::Connection connection =
        connect(manager, &DownloadManager::started, this, [this, &startedIds](DownloadId id, TransferJob *) {
            startedIds.append(id);
            if (m_services.answerer)
                m_services.answerer->add(id);
        });
    // The rows are taken first: a start may add or remove rows.
    QList<DownloadListModel::RowId> rows;
    for (int i = 0; i < list->count(); ++i)
        rows.append(list->idAt(i));
    for (const DownloadListModel::RowId row : std::as_const(rows)) {
        if (!alive)
            break;
        if (!list->contains(row))
            continue;
        const QString progress = list->value(row, Column::Progress);
        if (progress == RefusedMarker || progress == FinishedMarker)
            continue;
        const DownloadId known = manager->idOfRow(row);
        if (known && manager->state(known) == DownloadState::Refused)
            continue;
        const QString url = UrlFromScheme(list->value(row, Column::Url)).trimmed();
        if (url.isEmpty())
            continue;
        const QString savePath = list->value(row, Column::SavePath);
        // "Do not download" leaves a row whose file is there as it is: a
        // restart would only stop a paused download and close its window.
        if (*m_existChoice == 3 && FileExistsLen(savePath))
            continue;
        m_services.restartRow(url, savePath, list->indexOf(row), row);
    }
    if (!alive)
        return 0;
    disconnect(connection);
    int started = 0;
    for (qsizetype i = 0; i < startedIds.size(); ++i) {
        if (startedIds.indexOf(startedIds[i]) == i && manager->state(startedIds[i]) == DownloadState::Running)
            ++started;
    }
    return started;
}
