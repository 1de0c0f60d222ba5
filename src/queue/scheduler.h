#pragma once

#include "controls/extratimer.h"
#include "download/downloadlist.h"
#include "download/transferjob.h"
#include "queue/downloadmanager.h"

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>
#include <chrono>
#include <functional>
#include <optional>

class CRegister;

// The schedule as the scheduler dialog shows it and the settings store keeps
// it: the time of day, today only or selected weekdays, and what a scheduled
// run does with a file that exists already.
struct Schedule {
    // The weekdays in the dialog's order; the stored value names are
    // "Sat", "Sun", "Mon", "Tue", "Wed", "Thr" and "fri".
    enum Day { Saturday, Sunday, Monday, Tuesday, Wednesday, Thursday, Friday };

    bool NoSchedule = true;
    QString SchHour = QStringLiteral("1");
    QString SchMinute = QStringLiteral(":00");
    QString SchType = QStringLiteral("AM");
    bool Today = true;
    bool SelectDay = false;
    std::array<bool, 7> days{};
    bool OverWrite = true;
    bool Resume = false;
    bool Skip = false;

    // The entries of the three boxes of the dialog.
    static QStringList hourEntries();   // "1" to "23", then "00"
    static QStringList minuteEntries(); // ":00", ":05", ... ":55"
    static QStringList typeEntries();   // "AM", "PM", "24HR"
    static const std::array<QString, 7> &dayKeys();

    // Reads the stored schedule; a missing or unreadable value (a number
    // that is not 0 or 1, a box text that is not one of the box's entries)
    // gives that value's default.
    static Schedule load(const CRegister &reg);
    // Writes every value, in the order of the stored-schedule table.
    void save(CRegister &reg) const;

    // The existing-file answer of a scheduled run: 1 overwrite, 2 resume,
    // 3 do not download.
    qint16 existChoice() const;
    // The weekday of a date in the dialog's order.
    static Day dayOf(const QDate &date);

    bool operator==(const Schedule &) const = default;
};

// What the OK step decided.
struct ScheduleStep {
    enum class Kind {
        Off,           // "Do not schdeule Downloads": the timer is off; stored
        Arm,           // the timer waits interval units; stored
        Fire,          // the scheduled moment has come (TimeOn); nothing stored
        IncorrectTime, // "AM"/"PM" with an hour above 12 (13023); nothing stored
        PreviousTime,  // the time has passed (13024 when warnOfPast); nothing stored
    };
    Kind kind = Kind::Off;
    int unit = ExtraTimer::Minutes; // Arm
    int interval = 0;               // Arm
    bool untilMidnight = false;     // Arm: waiting for the next day, not for the time
    bool warnOfPast = false;        // PreviousTime: the interactive run warns
    // The scheduled time in seconds from the start of day (86400 and
    // above are after midnight at its end); -1 when there is none.
    int targetSecond = -1;
    QDate day; // the day whose scheduled time it is
    int hours = 0, minutes = 0, seconds = 0; // target minus now, borrowed like a clock

    bool stores() const { return kind == Kind::Off || kind == Kind::Arm; }
};

// Who runs the OK step: the person pressing OK, the start-up or the timer.
enum class ScheduleMode { Interactive, StartUp, Tick };

// What the scheduler remembers between steps.
struct ScheduleMemory {
    QDateTime armedAt; // when the timer was last armed for a wait; invalid: not waiting
    QDate ranOn;       // the day the schedule last ran, and at which time of day
    int ranSecond = -1;
};

// The scheduled time in seconds from the start of the day: "AM" hours 1 to
// 11 are the morning and "12" "AM" is midnight at the end of the day (24:00,
// so "12:30 AM" is 24:30); "PM" adds 12 hours and "12" "PM" is noon; "24HR"
// takes the hour as it is, "00" again being midnight at the end of the day. Nothing for an hour that is
// not a number, or above 12 with "AM" or "PM".
std::optional<int> scheduledSecond(const Schedule &schedule);

// The OK step's decision at now, a pure function of its arguments.
ScheduleStep evaluateSchedule(const Schedule &schedule, const QDateTime &now, ScheduleMode mode,
                              const ScheduleMemory &memory = {});

// Answers the questions of the downloads a scheduled run started, so none of
// them waits for a person: segmenting is used (the Segment setting that made
// the download ask is the stored answer) and a certificate that does not
// verify is not trusted. Every other download, and a stop a person asked
// for, is answered by the person's answerer.
class UnattendedAnswerer final : public DownloadAnswerer {
public:
    explicit UnattendedAnswerer(DownloadAnswerer *person) : m_person(person) {}
    bool answer(DownloadId id, const TransferQuestion &question) override;

    void add(DownloadId id) { m_ids.insert(id); }
    void remove(DownloadId id) { m_ids.remove(id); }
    bool contains(DownloadId id) const { return m_ids.contains(id); }

private:
    DownloadAnswerer *m_person;
    FixedAnswerer m_fixed{true, false};
    QSet<DownloadId> m_ids;
};

// The scheduler: keeps the run-time schedule, runs the OK step, arms its
// interval timer ExtraTimer1, and at the scheduled moment restarts every
// leftover row of the download list in its own row, unattended.
//
// A weekly schedule re-arms itself for the next selected day after a run.
// Waiting is also checked against the wall clock once a second: when the
// machine slept or the clock was set while the timer counted, the step runs
// again at once, and a time passed while waiting runs late instead of never.
class Scheduler : public QObject {
    Q_OBJECT

public:
    struct Services {
        CRegister *reg = nullptr;
        DownloadManager *manager = nullptr;
        DownloadListModel *downloads = nullptr;
        UnattendedAnswerer *answerer = nullptr; // optional
        // Restarts a row of the download list in its own row, as the list's
        // Re-Download does for one row: the download runs in a window of its
        // own. rowIndex is the row's position (from 0). A run restarts
        // nothing without it.
        std::function<void(const QString &url, const QString &savePath, int rowIndex, DownloadListModel::RowId row)>
            restartRow;
        std::function<QDateTime()> clock;       // empty: the local date and time
        std::chrono::milliseconds second{1000}; // one second of the timer and the watch
        // The program-wide run values the intake shares; the scheduler's
        // own when null.
        bool *blnUnattended = nullptr;
        qint16 *intScheduleExistChoice = nullptr;
    };

    explicit Scheduler(Services services, QObject *parent = nullptr);
    ~Scheduler() override;

    // The run-time values (the save step copies the dialog's state here).
    const Schedule &schedule() const { return m_schedule; }
    void setSchedule(const Schedule &schedule);

    // The OK step over the given control state: the save step, the
    // decision, the timer, and (when the decision stores) the store.
    ScheduleStep OkStep(const Schedule &controls, ScheduleMode mode);

    // Reads the stored schedule, runs the OK step for the timer and returns
    // TimeOn. startUp only tells a start-up from a tick.
    bool InitTimer(bool startUp);

    // Restarts every row of the download list that is neither refused
    // ("0 %") nor finished ("100%") in its own row through restartRow; with
    // blnUnattended set, the existing-file answer of the schedule decides
    // about a file that is there. Returns how many downloads it started.
    int RunSchedule();

    bool RunMode = false; // true while the OK step runs for the timer
    bool TimeOn = false;  // the scheduled moment has come
    bool blnUnattended() const { return *m_unattended; }
    qint16 intScheduleExistChoice() const { return *m_existChoice; }
    const ScheduleMemory &memory() const { return m_memory; }

    // The timer whose event drives the tick.
    ExtraTimer ExtraTimer1;

Q_SIGNALS:
    // A scheduled run restarted started rows (the main window repaints).
    void scheduleRan(int started);

private:
    void onTick();
    void checkWallClock();
    QDateTime now() const;

    Services m_services;
    Schedule m_schedule;
    ScheduleMemory m_memory;
    QDateTime m_countSince; // the wall-clock time the timer's count was last 0
    QTimer m_watch;
    bool m_ownUnattended = false;
    qint16 m_ownExistChoice = 3;
    bool *m_unattended = &m_ownUnattended;
    qint16 *m_existChoice = &m_ownExistChoice;
    int m_lastTarget = -1; // the time the last step aimed at, and its day
    QDate m_lastDay;
    bool m_inTick = false;
};
