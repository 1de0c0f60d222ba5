#include "queue/ui/frmschedule.h"

#include "config/cregister.h"
#include "platform/prompts.h"
#include "platform/skinelements.h"
#include "platform/ui/skinform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

template <typename W>
W *named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QComboBox *box(QWidget *parent, const QStringList &entries, const char *name)
{
    auto *combo = named(new QComboBox(parent), name);
    combo->addItems(entries);
    return combo;
}

const std::array<const char *, 7> DayCaptions{"Saturday", "Sunday",   "Monday", "Tuesday",
                                              "Wednesday", "Thursday", "Friday"};

} // namespace

frmSchedule::frmSchedule(Services services, QWidget *parent)
    : QDialog(parent),
      lblInfo(named(new QLabel(QStringLiteral("The program will start downloading leftover files in the Downloads "
                                              "list at this time"),
                               this),
                    "lblInfo")),
      fraStart(named(new QGroupBox(QStringLiteral("Start downloading at: "), this), "fraStart")),
      cboHour(box(fraStart, Schedule::hourEntries(), "cboHour")),
      cboMinute(box(fraStart, Schedule::minuteEntries(), "cboMinute")),
      cboType(box(fraStart, Schedule::typeEntries(), "cboType")),
      optToday(named(new QRadioButton(QStringLiteral("Today Only"), this), "optToday")),
      optSelectDay(
          named(new QRadioButton(QStringLiteral("Download at this time in selected days:"), this), "optSelectDay")),
      fraExisting(named(new QGroupBox(QStringLiteral("Existing Files:- "), this), "fraExisting")),
      optSkip(named(new QRadioButton(QStringLiteral("Do not download"), fraExisting), "optSkip")),
      optResume(named(new QRadioButton(QStringLiteral("Resume"), fraExisting), "optResume")),
      optOverwrite(named(new QRadioButton(QStringLiteral("Overwrite"), fraExisting), "optOverwrite")),
      chkNoSchedule(named(new QCheckBox(QStringLiteral("Do not schdeule Downloads"), this), "chkNoSchedule")),
      cmdOk(named(new QPushButton(QStringLiteral("&Ok"), this), "cmdOk")),
      cmdCancel(named(new QPushButton(QStringLiteral("&Cancel"), this), "cmdCancel")),
      m_services(std::move(services))
{
    setObjectName(QStringLiteral("frmSchedule"));
    setWindowTitle(QStringLiteral("Schedule Downloads"));
    setModal(true);
    lblInfo->setWordWrap(true);
    for (int d = 0; d < 7; ++d) {
        chkDay[d] = new QCheckBox(QString::fromLatin1(DayCaptions[d]), this);
        chkDay[d]->setObjectName(QStringLiteral("chkDay%1").arg(d));
    }

    auto *time = new QHBoxLayout(fraStart);
    time->addWidget(cboHour);
    time->addWidget(cboMinute);
    time->addWidget(cboType);
    time->addStretch();

    auto *days = new QGridLayout;
    days->setContentsMargins(24, 0, 0, 0);
    for (int d = 0; d < 7; ++d)
        days->addWidget(chkDay[d], d / 4, d % 4);

    auto *existing = new QHBoxLayout(fraExisting);
    existing->addWidget(optSkip);
    existing->addWidget(optResume);
    existing->addWidget(optOverwrite);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(chkNoSchedule);
    buttons->addStretch();
    buttons->addWidget(cmdOk);
    buttons->addWidget(cmdCancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblInfo);
    layout->addWidget(fraStart);
    layout->addWidget(optToday);
    layout->addWidget(optSelectDay);
    layout->addLayout(days);
    layout->addWidget(fraExisting);
    layout->addLayout(buttons);

    connect(chkNoSchedule, &QCheckBox::toggled, this, &frmSchedule::applyNoSchedule);
    connect(optToday, &QRadioButton::toggled, this, &frmSchedule::applyOptionRule);
    connect(optSelectDay, &QRadioButton::toggled, this, &frmSchedule::applyOptionRule);
    connect(cboHour, &QComboBox::activated, this, &frmSchedule::onHourChosen);
    connect(cmdOk, &QPushButton::clicked, this, [this] { OkStep(); });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    // Loading: the stored schedule into the controls, the save step, the
    // no-schedule rule, the skin.
    Schedule stored;
    if (m_services.reg)
        stored = Schedule::load(*m_services.reg);
    else if (m_services.scheduler)
        stored = m_services.scheduler->schedule();
    showSchedule(stored);
    if (m_services.scheduler)
        m_services.scheduler->setSchedule(controls());
    SkinForm(this, SecondWindowSkinName);
}

Schedule frmSchedule::controls() const
{
    Schedule s;
    s.NoSchedule = chkNoSchedule->isChecked();
    s.SchHour = cboHour->currentText();
    s.SchMinute = cboMinute->currentText();
    s.SchType = cboType->currentText();
    s.Today = optToday->isChecked();
    s.SelectDay = optSelectDay->isChecked();
    for (int d = 0; d < 7; ++d)
        s.days[d] = chkDay[d]->isChecked();
    s.OverWrite = optOverwrite->isChecked();
    s.Resume = optResume->isChecked();
    s.Skip = optSkip->isChecked();
    return s;
}

void frmSchedule::showSchedule(const Schedule &s)
{
    cboHour->setCurrentText(s.SchHour);
    cboMinute->setCurrentText(s.SchMinute);
    cboType->setCurrentText(s.SchType);
    // Options of one group: the one stored as on wins; none on leaves the
    // first of the group.
    optToday->setChecked(s.Today || !s.SelectDay);
    optSelectDay->setChecked(!s.Today && s.SelectDay);
    for (int d = 0; d < 7; ++d)
        chkDay[d]->setChecked(s.days[d]);
    if (s.OverWrite)
        optOverwrite->setChecked(true);
    else if (s.Resume)
        optResume->setChecked(true);
    else
        optSkip->setChecked(true);
    chkNoSchedule->setChecked(s.NoSchedule);
    applyNoSchedule();
}

void frmSchedule::applyNoSchedule()
{
    const bool on = !chkNoSchedule->isChecked();
    for (QWidget *w : {static_cast<QWidget *>(cboHour), static_cast<QWidget *>(cboMinute),
                       static_cast<QWidget *>(cboType), static_cast<QWidget *>(optToday),
                       static_cast<QWidget *>(optSelectDay)})
        w->setEnabled(on);
    if (on) {
        applyOptionRule();
    } else {
        for (QCheckBox *day : chkDay)
            day->setEnabled(false);
    }
}

void frmSchedule::applyOptionRule()
{
    const bool days = optSelectDay->isChecked() && !chkNoSchedule->isChecked();
    for (QCheckBox *day : chkDay)
        day->setEnabled(days);
}

void frmSchedule::onHourChosen()
{
    bool ok = false;
    if (cboHour->currentText().toInt(&ok) > 12 && ok)
        cboType->setCurrentText(QStringLiteral("24HR"));
}

ScheduleStep frmSchedule::OkStep()
{
    if (!m_services.scheduler)
        return {};
    const ScheduleStep step = m_services.scheduler->OkStep(controls(), ScheduleMode::Interactive);
    const auto warn = [this](const char *key, const char *text) {
        if (m_services.prompts)
            m_services.prompts->inform(m_services.captions(QString::fromLatin1(key), QString::fromLatin1(text)),
                                       m_services.appTitle, PromptIcon::Warning, this);
    };
    if (step.kind == ScheduleStep::Kind::IncorrectTime)
        warn("13023", "Incorrect Time!!...");
    else if (step.kind == ScheduleStep::Kind::PreviousTime && step.warnOfPast)
        warn("13024", "This is a previous time!!...");
    if (step.stores())
        accept();
    return step;
}
