// The scheduler: the waiting arithmetic at fixed moments, the timer driven a
// second at a time on an injected clock, the unattended run over rows that
// download from the kit's HTTP file server, and the dialog's save and OK
// steps answered by scripted prompts.
#include "queue/scheduler.h"
#include "download/ui/downloadwindows.h"
#include "intake/ui/frmfile.h"
#include "intake/ui/frmurl.h"
#include "intake/ui/intake.h"
#include "queue/ui/frmschedule.h"
#include "queue/ui/queuecommands.h"

#include "httpfileserver.h"
#include "managerrig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>

#include <functional>

Q_DECLARE_METATYPE(Schedule)
Q_DECLARE_METATYPE(ScheduleMode)

namespace {

using Kind = ScheduleStep::Kind;
using Column = DownloadListModel::Column;

// Friday 4 December 2026; the 5th is a Saturday, the 6th a Sunday.
const QDate Friday(2026, 12, 4);

QDateTime at(const QDate &day, int h, int m, int s, int ms = 0) { return QDateTime(day, QTime(h, m, s, ms)); }

Schedule daily(const QString &hour, const QString &minute, const QString &type)
{
    Schedule s;
    s.NoSchedule = false;
    s.SchHour = hour;
    s.SchMinute = minute;
    s.SchType = type;
    return s;
}

Schedule weekly(const QString &hour, const QString &type, std::initializer_list<Schedule::Day> days)
{
    Schedule s = daily(hour, QStringLiteral(":00"), type);
    s.Today = false;
    s.SelectDay = true;
    for (Schedule::Day d : days)
        s.days[d] = true;
    return s;
}

// A scheduler over the rig's store and lists whose clock the test moves;
// its timer's own second is an hour, so only the test's ticks count.
struct Clocked {
    ManagerRig &rig;
    QDateTime clock;
    std::unique_ptr<Scheduler> scheduler;
    QList<QDateTime> runs;

    Clocked(ManagerRig &r, QDateTime start, std::chrono::milliseconds second = std::chrono::hours(1),
            Scheduler::Services s = {})
        : rig(r), clock(std::move(start))
    {
        s.reg = &rig.reg;
        s.manager = rig.manager.get();
        s.downloads = &rig.downloads;
        s.clock = [this] { return clock; };
        s.second = second;
        scheduler = std::make_unique<Scheduler>(s);
        QObject::connect(scheduler.get(), &Scheduler::scheduleRan, scheduler.get(),
                         [this](int) { runs.append(clock); });
    }

    // One second passes; the timer counts it.
    void tick()
    {
        clock = clock.addSecs(1);
        scheduler->ExtraTimer1.tick();
    }
};

} // namespace

class TestScheduler : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void okStepArithmetic_data()
    {
        QTest::addColumn<Schedule>("schedule");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<ScheduleMode>("mode");
        QTest::addColumn<QDateTime>("armedAt");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("unit");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("flag"); // warnOfPast for PreviousTime, untilMidnight for Arm

        const auto I = ScheduleMode::Interactive;
        const auto T = ScheduleMode::Tick;
        const auto U = ScheduleMode::StartUp;
        const int min = ExtraTimer::Minutes, sec = ExtraTimer::Seconds;
        const Schedule two = daily("14", ":00", "24HR");
        const Schedule ten = daily("10", ":00", "AM");
        const QDateTime none;

        QTest::newRow("12:10:20 waits 109 minutes") << two << at(Friday, 12, 10, 20, 5) << I << none
                                                    << int(Kind::Arm) << min << 109 << false;
        QTest::newRow("13:59:20 waits 38 seconds") << two << at(Friday, 13, 59, 20, 5) << T << none
                                                   << int(Kind::Arm) << sec << 38 << false;
        QTest::newRow("13:59:58 ticks every second") << two << at(Friday, 13, 59, 58, 5) << T << none
                                                     << int(Kind::Arm) << sec << 0 << false;
        QTest::newRow("last second fires") << two << at(Friday, 13, 59, 59, 5) << T << none << int(Kind::Fire)
                                           << 0 << 0 << false;
        QTest::newRow("12 PM is noon") << daily("12", ":00", "PM") << at(Friday, 11, 0, 0) << I << none
                                       << int(Kind::Arm) << min << 60 << false;
        QTest::newRow("12 AM is the end of the day") << daily("12", ":00", "AM") << at(Friday, 23, 0, 0) << I
                                                     << none << int(Kind::Arm) << min << 60 << false;
        QTest::newRow("12:30 AM is not this morning") << daily("12", ":30", "AM") << at(Friday, 11, 0, 0) << I
                                                      << none << int(Kind::Arm) << min << 810 << false;
        QTest::newRow("12:30 AM, ten past midnight") << daily("12", ":30", "AM") << at(Friday, 0, 10, 0) << I
                                                     << none << int(Kind::Arm) << min << 20 << false;
        Schedule fridayNight = weekly("12", "AM", {Schedule::Friday});
        fridayNight.SchMinute = QStringLiteral(":30");
        QTest::newRow("Friday's 12:30 AM falls on Saturday") << fridayNight << at(Friday.addDays(1), 0, 10, 0) << U
                                                             << none << int(Kind::Arm) << min << 20 << false;
        QTest::newRow("Friday's 12:30 AM, on Thursday at ten past midnight")
            << fridayNight << at(Friday.addDays(-1), 0, 10, 0) << U << none << int(Kind::Arm) << min << 1430
            << true;
        QTest::newRow("00:30 is half past midnight tonight") << daily("00", ":30", "24HR") << at(Friday, 23, 0, 0)
                                                             << I << none << int(Kind::Arm) << min << 90 << false;
        QTest::newRow("13 PM is incorrect") << daily("13", ":00", "PM") << at(Friday, 9, 0, 0) << I << none
                                            << int(Kind::IncorrectTime) << 0 << 0 << false;
        QTest::newRow("previous time warns") << ten << at(Friday, 11, 0, 0) << I << none
                                             << int(Kind::PreviousTime) << 0 << 0 << true;
        QTest::newRow("three minutes past ends quietly") << ten << at(Friday, 10, 3, 0) << I << none
                                                         << int(Kind::PreviousTime) << 0 << 0 << false;
        QTest::newRow("previous time at start-up is quiet") << ten << at(Friday, 11, 0, 0) << U << none
                                                            << int(Kind::PreviousTime) << 0 << 0 << false;
        QTest::newRow("no schedule switches off") << Schedule{} << at(Friday, 11, 0, 0) << I << none
                                                  << int(Kind::Off) << 0 << 0 << false;
        QTest::newRow("Friday only, on Friday") << weekly("14", "24HR", {Schedule::Friday}) << at(Friday, 12, 0, 0)
                                                << U << none << int(Kind::Arm) << min << 120 << false;
        QTest::newRow("Friday only, on Saturday") << weekly("14", "24HR", {Schedule::Friday})
                                                  << at(Friday.addDays(1), 10, 0, 0) << U << none << int(Kind::Arm)
                                                  << min << 840 << true;
        QTest::newRow("Sunday only, on Sunday") << weekly("14", "24HR", {Schedule::Sunday})
                                                << at(Friday.addDays(2), 12, 0, 0) << U << none << int(Kind::Arm)
                                                << min << 120 << false;
        QTest::newRow("Sunday only, on Friday") << weekly("14", "24HR", {Schedule::Sunday}) << at(Friday, 10, 0, 0)
                                                << U << none << int(Kind::Arm) << min << 840 << true;
        QTest::newRow("weekly, time passed today: next day")
            << weekly("2", "PM", {Schedule::Friday}) << at(Friday, 16, 30, 0) << I << none << int(Kind::Arm) << min
            << 450 << true;
        QTest::newRow("slept past the time while waiting") << two << at(Friday, 16, 30, 0) << T
                                                           << at(Friday, 10, 0, 0) << int(Kind::Fire) << 0 << 0
                                                           << false;
        QTest::newRow("clock moved past the time overnight") << two << at(Friday, 16, 30, 0) << T
                                                             << at(Friday.addDays(-1), 22, 0, 0) << int(Kind::Fire)
                                                             << 0 << 0 << false;
        QTest::newRow("armed after the time: no late run") << two << at(Friday, 16, 30, 0) << T
                                                           << at(Friday, 15, 0, 0) << int(Kind::PreviousTime) << 0
                                                           << 0 << false;
        QTest::newRow("start-up after the time: no late run") << two << at(Friday, 16, 30, 0) << U
                                                              << at(Friday, 10, 0, 0) << int(Kind::PreviousTime)
                                                              << 0 << 0 << false;
    }

    void okStepArithmetic()
    {
        QFETCH(Schedule, schedule);
        QFETCH(QDateTime, now);
        QFETCH(ScheduleMode, mode);
        QFETCH(QDateTime, armedAt);
        QFETCH(int, kind);
        QFETCH(int, unit);
        QFETCH(int, interval);
        QFETCH(bool, flag);

        ScheduleMemory memory;
        memory.armedAt = armedAt;
        const ScheduleStep step = evaluateSchedule(schedule, now, mode, memory);
        QCOMPARE(int(step.kind), kind);
        QCOMPARE(step.stores(), step.kind == Kind::Off || step.kind == Kind::Arm);
        if (step.kind == Kind::Arm) {
            QCOMPARE(step.unit, unit);
            QCOMPARE(step.interval, interval);
            QCOMPARE(step.untilMidnight, flag);
        }
        if (step.kind == Kind::PreviousTime)
            QCOMPARE(step.warnOfPast, flag);
    }

    // OK at 12:10:20 and a few milliseconds for 14:00: 1 h 49 min 39 s to
    // go; the timer waits 109 minutes, then 38 seconds, then a second at a
    // time, and the run comes within the last second before 14:00.
    void timerClosesInOnTheTime()
    {
        const ScheduleStep first =
            evaluateSchedule(daily("14", ":00", "24HR"), at(Friday, 12, 10, 20, 5), ScheduleMode::Interactive);
        QCOMPARE(QList<int>({first.hours, first.minutes, first.seconds}), QList<int>({1, 49, 39}));

        ManagerRig rig;
        Clocked c(rig, at(Friday, 12, 10, 20, 5));
        QCOMPARE(int(c.scheduler->OkStep(daily("14", ":00", "24HR"), ScheduleMode::Interactive).kind),
                 int(Kind::Arm));
        QList<QPair<int, int>> arms{{c.scheduler->ExtraTimer1.IntervalUnit(), c.scheduler->ExtraTimer1.Interval()}};
        for (int i = 0; i < 3 * 3600 && c.runs.isEmpty(); ++i) {
            c.tick();
            const QPair<int, int> now{c.scheduler->ExtraTimer1.IntervalUnit(), c.scheduler->ExtraTimer1.Interval()};
            if (c.runs.isEmpty() && now != arms.constLast())
                arms.append(now);
        }
        QCOMPARE(arms, (QList<QPair<int, int>>{{ExtraTimer::Minutes, 109}, {ExtraTimer::Seconds, 38},
                                               {ExtraTimer::Seconds, 0}}));
        QCOMPARE(c.runs.size(), 1);
        QVERIFY2(c.runs[0] >= at(Friday, 13, 59, 59) && c.runs[0] < at(Friday, 14, 0, 0),
                 qPrintable(c.runs[0].toString()));
        // "Today Only" fires once.
        QVERIFY(!c.scheduler->ExtraTimer1.Enabled());
        QVERIFY(!c.scheduler->blnUnattended());
        // The stored schedule is the one OK stored, with Friday's value in lower case.
        QCOMPARE(Schedule::load(rig.reg), daily("14", ":00", "24HR"));
        QCOMPARE(rig.stored("fri"), QStringLiteral("0"));
        QCOMPARE(rig.stored("NoSchedule"), QStringLiteral("0"));
        QCOMPARE(rig.stored("Today"), QStringLiteral("True"));
    }

    // Friday and Sunday selected: from Thursday night to Monday the run
    // comes on Friday and on Sunday, in the last second before 2 PM, and on
    // no other day; after each run the schedule waits for the next day.
    void weeklyScheduleFiresOnSelectedDaysAndReArms()
    {
        ManagerRig rig;
        Clocked c(rig, at(Friday.addDays(-1), 22, 0, 0, 250));
        weekly("2", "PM", {Schedule::Friday, Schedule::Sunday}).save(rig.reg);
        QVERIFY(!c.scheduler->InitTimer(true));
        QVERIFY(c.scheduler->ExtraTimer1.Enabled());
        const QDateTime end = at(Friday.addDays(3), 1, 0, 0);
        while (c.clock < end)
            c.tick();
        QCOMPARE(c.runs.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const QDateTime expected = at(Friday.addDays(2 * i), 13, 59, 59);
            QVERIFY2(c.runs[i] >= expected && c.runs[i] < expected.addSecs(1), qPrintable(c.runs[i].toString()));
        }
        QVERIFY(c.scheduler->ExtraTimer1.Enabled()); // waiting for next Friday
    }

    // The timer waits from 10:00 for 2 PM while the wall clock leaps: the
    // wall clock, checked every second, runs the step again at once. A
    // sleep past the time runs the schedule; a clock set forward short of
    // it shortens the wait.
    void wallClockLeapWhileWaiting_data()
    {
        QTest::addColumn<QTime>("leapTo");
        QTest::addColumn<int>("runs");
        QTest::addColumn<int>("interval");
        QTest::newRow("slept past the time") << QTime(16, 30) << 1 << 240;
        QTest::newRow("clock set forward") << QTime(13, 0) << 0 << 60;
    }

    void wallClockLeapWhileWaiting()
    {
        QFETCH(QTime, leapTo);
        QFETCH(int, runs);
        QFETCH(int, interval);
        ManagerRig rig;
        Clocked c(rig, at(Friday, 10, 0, 0), std::chrono::milliseconds(10));
        daily("2", ":00", "PM").save(rig.reg);
        c.scheduler->InitTimer(true);
        QCOMPARE(c.scheduler->ExtraTimer1.Interval(), 240);
        c.clock = QDateTime(Friday, leapTo);
        QTRY_COMPARE_WITH_TIMEOUT(c.scheduler->ExtraTimer1.Interval(), interval, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(c.runs.size(), runs, 5000);
        QCOMPARE(c.scheduler->ExtraTimer1.Enabled(), runs == 0);
    }

    // At the scheduled time every leftover row starts again in its own row
    // and its own download window, as Re-Download starts it, with nobody at
    // the screen: refused and finished rows stay as they are, a download
    // still running goes on, a queued row downloads (its split question
    // answered by the schedule, its completion box left out), and a paused
    // row's existing file is handled as the schedule's choice says.
    void runRestartsLeftoverRowsInWindowsUnattended_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<bool>("restarted");
        QTest::addColumn<bool>("resumed");
        QTest::newRow("resume") << "Resume" << true << true;
        QTest::newRow("overwrite") << "OverWrite" << true << false;
        QTest::newRow("do not download") << "Skip" << false << false;
    }

    void runRestartsLeftoverRowsInWindowsUnattended()
    {
        QFETCH(QString, choice);
        QFETCH(bool, restarted);
        QFETCH(bool, resumed);

        ManagerRig rig;
        PromptAnswerer person(rig.prompts, rig.captions);
        auto own = std::make_unique<UnattendedAnswerer>(&person);
        UnattendedAnswerer *answerer = own.get();
        rig.answerer = std::move(own);
        rig.build();
        // The program's path from a row to its window: the list's
        // Re-Download hands the row to the intake, which opens the window.
        IntakeRunValues run;
        DownloadWindowTable windows;
        Intake::Services is;
        is.downloads = &rig.downloads;
        is.completed = &rig.completed;
        is.windows = &windows;
        is.prompts = &rig.prompts;
        is.run = &run;
        is.manager = rig.manager.get();
        is.window.storedOption = [](const QString &key) { return key == QLatin1String("PromptDone"); };
        is.window.unattended = [answerer](DownloadId id) { return answerer->contains(id); };
        Intake intake(is);
        QueueCommands::Callbacks callbacks;
        callbacks.restartRow = [&](const QueueCommands::RestartRequest &r) {
            intake.BeginDownload(r.url, r.savePath, rig.downloads.indexOf(r.row) + 1);
        };
        QueueCommands queue(rig.downloads, rig.completed, windows, *rig.manager, rig.captions, callbacks);

        // The slow files are too small to be split, so their requests show
        // where each start began.
        const qint64 size = 3 << 20, slowSize = 1536 * 1024;
        HttpFileServer running(slowSize), paused(slowSize), queued(size), untouched(1000);
        for (HttpFileServer *slow : {&running, &paused}) {
            slow->pieceSize = 64 * 1024;
            slow->pieceDelayMs = 15;
        }
        const DownloadId refused = rig.manager->queue(untouched.url(), QStringLiteral("You block this Extenison"),
                                                      QStringLiteral("N/A"), true);
        rig.downloads.addRow({rig.savePath("done.bin"), QStringLiteral("100%"), QStringLiteral("1000 Bytes"),
                              QStringLiteral("1000 Bytes"), QStringLiteral("Download Success"),
                              untouched.url(QStringLiteral("/done.bin"))});
        const DownloadId waiting = rig.manager->queue(queued.url(), rig.savePath("queued.bin"),
                                                      QStringLiteral("Not Downloaded"));
        const QPointer<frmDownload> busyWindow = intake.BeginDownload(running.url(), rig.savePath("running.bin"), -1);
        const QPointer<frmDownload> pausedWindow = intake.BeginDownload(paused.url(), rig.savePath("paused.bin"), -1);
        QVERIFY(busyWindow && pausedWindow);
        const DownloadId busy = busyWindow->downloadId(), resting = pausedWindow->downloadId();
        QVERIFY(rig.waitReceived(resting, 64 * 1024));
        rig.manager->pause(resting);
        QVERIFY(rig.waitState(resting, DownloadState::Paused));
        const qsizetype requestsBefore = paused.ranges.size();
        rig.record.Segment = 1; // downloads started from now on ask whether to split

        Schedule s = daily("14", ":00", "24HR");
        s.OverWrite = choice == "OverWrite";
        s.Resume = choice == "Resume";
        s.Skip = choice == "Skip";
        s.save(rig.reg);
        Scheduler::Services ss;
        ss.answerer = answerer;
        ss.blnUnattended = &run.blnUnattended;
        ss.intScheduleExistChoice = &run.intScheduleExistChoice;
        ss.restartRow = [&queue](const QString &url, const QString &path, int index, DownloadListModel::RowId row) {
            queue.RedownloadRow(url, path, index, row);
        };
        Clocked c(rig, at(Friday, 13, 59, 58, 500), std::chrono::hours(1), ss);
        QVERIFY(!c.scheduler->InitTimer(true));
        QList<bool> unattendedAtStart;
        QList<DownloadId> startedIds;
        connect(rig.manager.get(), &DownloadManager::started, c.scheduler.get(), [&](DownloadId id) {
            unattendedAtStart.append(c.scheduler->blnUnattended());
            startedIds.append(id);
        });
        // Only the download a person started tells its completion.
        rig.prompts.expectMessage(QStringLiteral("Download Successful."));
        c.tick();
        QCOMPARE(c.runs.size(), 1);
        QVERIFY(!c.scheduler->blnUnattended());
        QCOMPARE(unattendedAtStart, QList<bool>(restarted ? 2 : 1, true));
        QCOMPARE(startedIds, (restarted ? QList<DownloadId>{waiting, resting} : QList<DownloadId>{waiting}));

        // Every restarted row has a window of its own; the running one and
        // a paused one left alone keep theirs.
        QVERIFY(windows.windowOf(waiting));
        QVERIFY(windows.windowOf(resting));
        QVERIFY(windows.windowOf(waiting) != windows.windowOf(resting));
        QCOMPARE(windows.windowOf(busy), busyWindow.data());
        QCOMPARE(windows.windowOf(resting) == pausedWindow.data(), !restarted);
        QCOMPARE(rig.manager->state(resting), restarted ? DownloadState::Running : DownloadState::Paused);

        QVERIFY(rig.waitState(waiting, DownloadState::Complete));
        QCOMPARE(rig.saved("queued.bin"), HttpFileServer::bytes(0, size));
        QVERIFY(rig.waitState(busy, DownloadState::Complete));
        QCOMPARE(rig.saved("running.bin"), HttpFileServer::bytes(0, slowSize));
        if (restarted) {
            QVERIFY(rig.waitState(resting, DownloadState::Complete));
            QCOMPARE(rig.saved("paused.bin"), HttpFileServer::bytes(0, slowSize));
        }
        bool resumedFromOffset = false;
        static const QRegularExpression fromOffset(QStringLiteral("^bytes=([1-9][0-9]*)-"));
        for (qsizetype i = requestsBefore; i < paused.ranges.size(); ++i)
            resumedFromOffset |= fromOffset.match(QString::fromLatin1(paused.ranges[i])).hasMatch();
        QCOMPARE(resumedFromOffset, resumed);
        QCOMPARE(paused.ranges.size() > requestsBefore, restarted);

        // Left alone: the refused row and the finished row.
        QCOMPARE(rig.downloads.value(rig.manager->row(refused), Column::Progress), QStringLiteral("0 %"));
        QVERIFY(!rig.manager->job(refused));
        QVERIFY(untouched.requests.isEmpty());
        QCOMPARE(rig.prompts.records().size(), 1);
        VERIFY_PROMPTS_DONE(rig.prompts);
    }

    // The dialog shows the stored schedule; what cannot be read shows the
    // defaults.
    void dialogShowsStoredSchedule_data()
    {
        QTest::addColumn<QStringList>("stored"); // key, value, key, value...
        QTest::addColumn<Schedule>("shown");
        QTest::newRow("nothing stored") << QStringList{} << Schedule{};
        Schedule w = weekly("14", "24HR", {Schedule::Friday, Schedule::Sunday});
        w.SchMinute = QStringLiteral(":35");
        w.OverWrite = false;
        w.Resume = true;
        QTest::newRow("weekly") << QStringList{"NoSchedule", "0",    "SchHour", "14",    "SchMinute", ":35",
                                               "SchType",    "24HR", "Today",   "False", "SelectDay", "True",
                                               "fri",        "1",    "Sun",     "1",     "OverWrite", "False",
                                               "Resume",     "True"}
                                << w;
        QTest::newRow("unreadable") << QStringList{"NoSchedule", "2", "SchHour", "99", "SchMinute", ":07",
                                                   "SchType", "XM", "Today", "maybe"}
                                    << Schedule{};
    }

    void dialogShowsStoredSchedule()
    {
        QFETCH(QStringList, stored);
        QFETCH(Schedule, shown);
        ManagerRig rig;
        for (qsizetype i = 0; i + 1 < stored.size(); i += 2)
            rig.reg.REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, stored[i], stored[i + 1]);
        Clocked c(rig, at(Friday, 12, 0, 0));
        frmSchedule dialog({c.scheduler.get(), &rig.reg, &rig.prompts});
        QCOMPARE(dialog.controls(), shown);
        QCOMPARE(c.scheduler->schedule(), shown); // the save step ran
        QCOMPARE(dialog.cboHour->isEnabled(), !shown.NoSchedule);
        QCOMPARE(dialog.chkDay[Schedule::Friday]->isEnabled(), !shown.NoSchedule && shown.SelectDay);
    }

    void dialogControlRules()
    {
        ManagerRig rig;
        Clocked c(rig, at(Friday, 12, 0, 0));
        frmSchedule dialog({c.scheduler.get(), &rig.reg, &rig.prompts});
        const QList<QWidget *> timeControls{dialog.cboHour, dialog.cboMinute, dialog.cboType, dialog.optToday,
                                            dialog.optSelectDay};
        const auto enabled = [](const QList<QWidget *> &widgets) {
            QList<bool> out;
            for (QWidget *w : widgets)
                out.append(w->isEnabled());
            return out;
        };
        const QList<QWidget *> days(dialog.chkDay.begin(), dialog.chkDay.end());
        QCOMPARE(enabled(timeControls), QList<bool>(5, false));
        QCOMPARE(enabled(days), QList<bool>(7, false));

        dialog.chkNoSchedule->setChecked(false);
        QCOMPARE(enabled(timeControls), QList<bool>(5, true));
        QCOMPARE(enabled(days), QList<bool>(7, false)); // "Today Only"
        dialog.optSelectDay->setChecked(true);
        QCOMPARE(enabled(days), QList<bool>(7, true));
        dialog.chkNoSchedule->setChecked(true);
        QCOMPARE(enabled(days), QList<bool>(7, false));
        dialog.chkNoSchedule->setChecked(false);
        QCOMPARE(enabled(days), QList<bool>(7, true));

        // An hour above 12 is a 24-hour time.
        dialog.cboType->setCurrentText(QStringLiteral("PM"));
        dialog.cboHour->setCurrentText(QStringLiteral("13"));
        Q_EMIT dialog.cboHour->activated(dialog.cboHour->currentIndex());
        QCOMPARE(dialog.cboType->currentText(), QStringLiteral("24HR"));

        if (const QString out = qEnvironmentVariable("SUITE_SCREENSHOT_DIR"); !out.isEmpty()) {
            dialog.cboHour->setCurrentText(QStringLiteral("2"));
            dialog.cboMinute->setCurrentText(QStringLiteral(":30"));
            dialog.cboType->setCurrentText(QStringLiteral("AM"));
            dialog.chkDay[Schedule::Saturday]->setChecked(true);
            dialog.chkDay[Schedule::Sunday]->setChecked(true);
            dialog.optResume->setChecked(true);
            dialog.adjustSize();
            QDir().mkpath(out);
            QVERIFY(dialog.grab().save(out + QStringLiteral("/tessel-scheduler.png")));
        }

        // "&Cancel" stores nothing.
        dialog.cmdCancel->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(rig.stored("SchHour"), QString());
    }

    // "&Ok": a time that cannot be or has passed is refused with a warning
    // and nothing is stored; otherwise the schedule is stored and the timer
    // set, and the dialog closes.
    void dialogOkStep_data()
    {
        QTest::addColumn<Schedule>("schedule");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<bool>("timer");
        QTest::newRow("13 PM") << daily("13", ":00", "PM") << "Incorrect Time!!..." << false;
        QTest::newRow("previous time") << daily("10", ":00", "AM") << "This is a previous time!!..." << false;
        QTest::newRow("2 PM") << daily("2", ":00", "PM") << QString() << true;
        QTest::newRow("Fridays") << weekly("14", "24HR", {Schedule::Friday}) << QString() << true;
        QTest::newRow("no schedule") << Schedule{} << QString() << false;
    }

    void dialogOkStep()
    {
        QFETCH(Schedule, schedule);
        QFETCH(QString, warning);
        QFETCH(bool, timer);
        ManagerRig rig;
        Clocked c(rig, at(Friday, 12, 10, 20));
        frmSchedule dialog({c.scheduler.get(), &rig.reg, &rig.prompts});
        dialog.showSchedule(schedule);
        dialog.show();
        if (!warning.isEmpty())
            rig.prompts.expectMessage(warning);
        dialog.cmdOk->click();
        VERIFY_PROMPTS_DONE(rig.prompts);
        QCOMPARE(dialog.result(), int(warning.isEmpty() ? QDialog::Accepted : QDialog::Rejected));
        QCOMPARE(dialog.isVisible(), !warning.isEmpty()); // a warning keeps it open
        if (warning.isEmpty())
            QCOMPARE(Schedule::load(rig.reg), schedule);
        else
            QCOMPARE(rig.stored("SchHour"), QString());
        QCOMPARE(rig.stored("fri"), warning.isEmpty() ? (schedule.days[Schedule::Friday] ? "1" : "0") : "");
        QCOMPARE(c.scheduler->ExtraTimer1.Enabled(), timer);
        QCOMPARE(c.scheduler->intScheduleExistChoice(), qint16(1));
    }
};

QTEST_MAIN(TestScheduler)
#include "tst_scheduler.moc"
