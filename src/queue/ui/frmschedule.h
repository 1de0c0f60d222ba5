#pragma once

#include "platform/captionlookup.h"
#include "queue/scheduler.h"

#include <QDialog>

#include <array>

class Prompts;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

// The scheduler dialog: the time of day, today only or selected weekdays,
// what to do with existing files, and "Do not schdeule Downloads". Loading
// reads the stored schedule into the controls; "&Ok" runs the scheduler's
// OK step over them, warns of a time that cannot be (13023) or has passed
// (13024) and closes once the schedule is stored; "&Cancel" closes without
// storing.
class frmSchedule : public QDialog {
    Q_OBJECT

public:
    struct Services {
        Scheduler *scheduler = nullptr;
        CRegister *reg = nullptr; // the stored schedule; the scheduler's values when null
        Prompts *prompts = nullptr;
        CaptionLookup captions = defaultCaptions();
        QString appTitle = QStringLiteral("Tessel");
    };

    explicit frmSchedule(Services services, QWidget *parent = nullptr);

    // The controls' state as a schedule.
    Schedule controls() const;
    // Puts a schedule into the controls and applies the enabling rules.
    void showSchedule(const Schedule &schedule);

    // The OK step as "&Ok" runs it; the dialog closes when it stored.
    ScheduleStep OkStep();

    QLabel *const lblInfo;
    QGroupBox *const fraStart;
    QComboBox *const cboHour;
    QComboBox *const cboMinute;
    QComboBox *const cboType;
    QRadioButton *const optToday;
    QRadioButton *const optSelectDay;
    std::array<QCheckBox *, 7> chkDay; // Saturday ... Friday
    QGroupBox *const fraExisting;
    QRadioButton *const optSkip;
    QRadioButton *const optResume;
    QRadioButton *const optOverwrite;
    QCheckBox *const chkNoSchedule;
    QPushButton *const cmdOk;
    QPushButton *const cmdCancel;

private:
    void applyNoSchedule();
    void applyOptionRule();
    void onHourChosen();

    Services m_services;
};
