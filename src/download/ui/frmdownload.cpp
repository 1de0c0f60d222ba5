#include "download/ui/frmdownload.h"

#include "download/ui/frmserverdata.h"
#include "platform/prompts.h"
#include "platform/ui/shell.h"
#include "platform/skinelements.h"
#include "platform/ui/skinform.h"

#include <QAction>
#include <QCloseEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

DownloadJob::Services withPrompts(DownloadJob::Services services, Prompts *prompts)
{
    if (!services.prompts)
        services.prompts = prompts;
    return services;
}

QLabel *valueLabel(QWidget *parent, const char *name)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QProgressBar *progressBar(QWidget *parent, const QString &name)
{
    auto *bar = new QProgressBar(parent);
    bar->setObjectName(name);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

std::array<QProgressBar *, DownloadJob::MaxSegments> segmentBars(QWidget *parent)
{
    std::array<QProgressBar *, DownloadJob::MaxSegments> bars{};
    for (int k = 0; k < DownloadJob::MaxSegments; ++k) {
        bars[k] = progressBar(parent, QStringLiteral("PVProgressBar%1").arg(k));
        bars[k]->setMaximumHeight(12);
    }
    return bars;
}

QPushButton *button(QWidget *parent, const QString &text, const char *name)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

QLineEdit *readOnlyBox(QWidget *parent, const char *name)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setReadOnly(true);
    return box;
}

void setTextIfChanged(QLabel *label, const QString &text)
{
    if (label->text() != text)
        label->setText(text);
}

void setTextIfChanged(QLineEdit *box, const QString &text)
{
    if (box->text() != text) {
        box->setText(text);
        box->setCursorPosition(0); // show the start of a long path or URL
    }
}

} // namespace

frmDownload::frmDownload(DownloadJob::Services services, DesktopShell *shell, Prompts *prompts, QWidget *parent)
    : QWidget(parent, Qt::Window),
      lblStatus(valueLabel(this, "lblStatus")),
      lblFileSize(valueLabel(this, "lblFileSize")),
      lblResume(valueLabel(this, "lblResume")),
      lblReceived(valueLabel(this, "lblReceived")),
      lblRate(valueLabel(this, "lblRate")),
      lblTimeLeft(valueLabel(this, "lblTimeLeft")),
      lblElapsed(valueLabel(this, "lblElapsed")),
      lblTimeout(valueLabel(this, "lblTimeout")),
      lblPercent(valueLabel(this, "lblPercent")),
      ProgressBar1(progressBar(this, QStringLiteral("ProgressBar1"))),
      PVProgressBar(segmentBars(this)),
      txtSaveTo(readOnlyBox(this, "txtSaveTo")),
      txtURL(readOnlyBox(this, "txtURL")),
      cmdPause(button(this, QString(), "cmdPause")),
      cmdStop(button(this, QString(), "cmdStop")),
      cmdOpen(button(this, QStringLiteral("&Open"), "cmdOpen")),
      cmdGoToDir(button(this, QStringLiteral("&Go To Dir"), "cmdGoToDir")),
      cmdHide(button(this, QStringLiteral("&Hide"), "cmdHide")),
      cmdMore(button(this, QStringLiteral("&More"), "cmdMore")),
      mnuMore(new QMenu(this)),
      mnuServerData(mnuMore->addAction(QStringLiteral("&Server Data"))),
      m_appTitle(services.appTitle),
      m_shell(shell),
      m_prompts(prompts ? prompts : services.prompts),
      m_job(withPrompts(std::move(services), prompts))
{
    setObjectName(QStringLiteral("frmDownload"));
    setAttribute(Qt::WA_DeleteOnClose);
    mnuServerData->setObjectName(QStringLiteral("mnuServerData"));
    cmdMore->setMenu(mnuMore);
    buildLayout();

    connect(cmdPause, &QPushButton::clicked, &m_job, &DownloadJob::Pause_Resume);
    connect(cmdStop, &QPushButton::clicked, &m_job, &DownloadJob::StopMe);
    connect(cmdOpen, &QPushButton::clicked, this, &frmDownload::OpenFile);
    connect(cmdGoToDir, &QPushButton::clicked, this, &frmDownload::GoToDir);
    connect(cmdHide, &QPushButton::clicked, this, &frmDownload::HideWindow);
    connect(mnuServerData, &QAction::triggered, this, &frmDownload::ShowServerData);

    connect(&m_job, &DownloadJob::displayChanged, this, &frmDownload::refresh);
    connect(&m_job, &DownloadJob::closeRequested, this, &QWidget::close);

    SkinForm(this, SecondWindowSkinName);
    refresh();
    resize(520, sizeHint().height());
}

frmDownload::~frmDownload()
{
    // The download member is destroyed after this body, when the window is
    // already partly gone: nothing it reports then may reach the window.
    disconnect(&m_job, nullptr, this, nullptr);
}

void frmDownload::buildLayout()
{
    auto *info = new QGridLayout;
    info->setHorizontalSpacing(12);
    const auto caption = [this](const QString &text) {
        auto *label = new QLabel(text, this);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return label;
    };
    info->addWidget(caption(QStringLiteral("Status:")), 0, 0);
    info->addWidget(lblStatus, 0, 1, 1, 2);
    info->addWidget(lblTimeout, 0, 3); // the countdown shares the status line
    info->addWidget(caption(QStringLiteral("File Size:")), 1, 0);
    info->addWidget(lblFileSize, 1, 1);
    info->addWidget(lblResume, 1, 2, 1, 2);
    info->addWidget(caption(QStringLiteral("Received:")), 2, 0);
    info->addWidget(lblReceived, 2, 1);
    info->addWidget(caption(QStringLiteral("Transfer Rate:")), 2, 2);
    info->addWidget(lblRate, 2, 3);
    info->addWidget(caption(QStringLiteral("Time Left:")), 3, 0);
    info->addWidget(lblTimeLeft, 3, 1);
    info->addWidget(caption(QStringLiteral("Elapsed Time:")), 3, 2);
    info->addWidget(lblElapsed, 3, 3);
    info->setColumnStretch(1, 1);
    info->setColumnStretch(3, 1);

    auto *segments = new QHBoxLayout;
    segments->setSpacing(2);
    for (QProgressBar *bar : PVProgressBar)
        segments->addWidget(bar, 1);
    auto *bars = new QHBoxLayout;
    bars->addLayout(segments, 1);
    lblPercent->setMinimumWidth(lblPercent->fontMetrics().horizontalAdvance(QStringLiteral("100%")) + 6);
    lblPercent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    bars->addWidget(lblPercent);

    lblTimeout->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto *paths = new QFormLayout;
    paths->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    paths->addRow(QStringLiteral("Save To:"), txtSaveTo);
    paths->addRow(QStringLiteral("URL:"), txtURL);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(cmdPause);
    buttons->addWidget(cmdStop);
    buttons->addWidget(cmdOpen);
    buttons->addWidget(cmdGoToDir);
    buttons->addStretch(1);
    buttons->addWidget(cmdHide);
    buttons->addWidget(cmdMore);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(info);
    layout->addSpacing(4);
    layout->addWidget(ProgressBar1);
    layout->addLayout(bars);
    layout->addSpacing(4);
    layout->addLayout(paths);
    layout->addStretch(1);
    layout->addLayout(buttons);

    setMinimumWidth(460);
}

void frmDownload::refresh()
{
    const DownloadJob::Display &d = m_job.display();
    const DownloadJob::State state = m_job.state();

    setTextIfChanged(lblStatus, d.status);
    setTextIfChanged(lblFileSize, d.fileSize);
    setTextIfChanged(lblResume, d.resume);
    setTextIfChanged(lblReceived, d.received);
    setTextIfChanged(lblRate, d.rate);
    setTextIfChanged(lblTimeLeft, d.timeLeft);
    setTextIfChanged(lblElapsed, d.elapsed);
    setTextIfChanged(lblTimeout, d.countdown);
    lblTimeout->setVisible(d.countdownVisible);
    setTextIfChanged(lblPercent, QString::number(d.percent) + QLatin1Char('%'));

    ProgressBar1->setValue(d.percent);
    ProgressBar1->setVisible(d.mainBarVisible);
    const qsizetype shown = std::min<qsizetype>(std::max<qsizetype>(d.segmentBars.size(), 1), PVProgressBar.size());
    for (qsizetype k = 0; k < qsizetype(PVProgressBar.size()); ++k) {
        PVProgressBar[k]->setVisible(k < shown);
        PVProgressBar[k]->setValue(k < d.segmentBars.size() ? d.segmentBars[k] : 0);
    }

    setTextIfChanged(txtSaveTo, m_job.strSaveTo);
    setTextIfChanged(txtURL, m_job.strURL);

    if (cmdPause->text() != d.pauseText)
        cmdPause->setText(d.pauseText);
    cmdPause->setEnabled(d.pauseEnabled);
    if (cmdStop->text() != d.stopText)
        cmdStop->setText(d.stopText);
    cmdStop->setEnabled(d.stopEnabled);
    cmdOpen->setVisible(d.openVisible);
    cmdGoToDir->setVisible(d.openVisible);

    QString title = d.caption;
    if (title.isEmpty())
        title = m_job.url.fileName();
    if (title.isEmpty())
        title = m_appTitle;
    setWindowTitle(title);

    if (state != m_shownState) {
        // A new start puts the focus on Pause; a completed download that the
        // user put aside comes back to the screen.
        if (state == DownloadJob::State::Probing)
            cmdPause->setFocus();
        if (state == DownloadJob::State::Complete && d.restoreRequested && isMinimized())
            showNormal();
        m_shownState = state;
    }
}

void frmDownload::OpenFile()
{
    if (m_shell && !m_shell->openFile(m_job.strSaveTo))
        reportShellFailure(m_job.strSaveTo);
}

void frmDownload::GoToDir()
{
    if (m_shell && !m_shell->showFolder(m_job.strSaveTo))
        reportShellFailure(m_job.strSaveTo);
}

void frmDownload::reportShellFailure(const QString &path)
{
    if (m_prompts)
        m_prompts->inform(QStringLiteral("Could not open \"%1\".").arg(path), m_appTitle, PromptIcon::Warning, this);
}

void frmDownload::HideWindow()
{
    showMinimized();
}

frmServerData *frmDownload::serverDataWindow() const
{
    return m_serverData.data();
}

void frmDownload::ShowServerData()
{
    if (!m_serverData) {
        m_serverData = new frmServerData(this);
        m_serverData->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_serverData->setLog(m_job.strLog());
    m_serverData->show();
    m_serverData->raise();
    m_serverData->activateWindow();
}

void frmDownload::closeEvent(QCloseEvent *event)
{
    // Stops the transfer and keeps the file; the download reports finished().
    m_job.close();
    if (m_serverData)
        m_serverData->close();
    event->accept();
}
