#include "download/ui/frmdownload.h"

#include "download/ui/frmserverdata.h"
#include "download/urlmodel.h"
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
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

int percentOf(qint64 part, qint64 whole)
{
    if (whole <= 0)
        return part > 0 ? 100 : 0;
    return int(std::clamp<qint64>(part * 100 / whole, 0, 100));
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

std::array<QProgressBar *, frmDownload::MaxSegments> segmentBars(QWidget *parent)
{
    std::array<QProgressBar *, frmDownload::MaxSegments> bars{};
    for (int k = 0; k < frmDownload::MaxSegments; ++k) {
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

frmDownload::frmDownload(Services services, DownloadId id, QWidget *parent)
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
      m_services(std::move(services)),
      m_id(id)
{
    Q_ASSERT(m_services.manager);
    setObjectName(QStringLiteral("frmDownload"));
    setAttribute(Qt::WA_DeleteOnClose);
    mnuServerData->setObjectName(QStringLiteral("mnuServerData"));
    cmdMore->setMenu(mnuMore);
    buildLayout();

    connect(cmdPause, &QPushButton::clicked, this, &frmDownload::Pause_Resume);
    connect(cmdStop, &QPushButton::clicked, this, &frmDownload::StopMe);
    connect(cmdOpen, &QPushButton::clicked, this, &frmDownload::OpenFile);
    connect(cmdGoToDir, &QPushButton::clicked, this, &frmDownload::GoToDir);
    connect(cmdHide, &QPushButton::clicked, this, &frmDownload::HideWindow);
    connect(mnuServerData, &QAction::triggered, this, &frmDownload::ShowServerData);

    DownloadManager *manager = m_services.manager;
    connect(manager, &DownloadManager::started, this, [this](DownloadId started, TransferJob *job) {
        if (started == m_id)
            follow(job);
    });
    connect(manager, &DownloadManager::finished, this, [this](DownloadId done, const TransferOutcome &outcome) {
        if (done == m_id)
            onFinished(outcome);
    });
    connect(manager, &DownloadManager::noticeRaised, this, [this](DownloadId from, const TransferNotice &notice) {
        if (from == m_id)
            onNotice(notice);
    });
    follow(manager->job(id));

    SkinForm(this, SecondWindowSkinName);
    refresh();
    resize(520, sizeHint().height());
}

frmDownload::~frmDownload() = default;

TransferJob *frmDownload::job() const
{
    return m_job.data();
}

void frmDownload::follow(TransferJob *job)
{
    if (m_job)
        disconnect(m_job, nullptr, this, nullptr);
    m_job = job;
    m_shownState = TransferState::Idle;
    m_countFrom = -1;
    if (job) {
        // A job reports far more often than a window can repaint: one
        // refresh per turn of the event loop.
        const auto later = [this] {
            if (m_refreshPending)
                return;
            m_refreshPending = true;
            QTimer::singleShot(0, this, [this] {
                m_refreshPending = false;
                refresh();
            });
        };
        connect(job, &TransferJob::stateChanged, this, later);
        connect(job, &TransferJob::progressChanged, this, later);
        connect(job, &TransferJob::statusChanged, this, later);
    }
    refresh();
}

QString frmDownload::caption(const char *id, const char *defaultText) const
{
    return m_services.captions(QLatin1String(id), QString::fromUtf8(defaultText));
}

bool frmDownload::storedOption(const char *key) const
{
    return m_services.storedOption && m_services.storedOption(QLatin1String(key));
}

bool frmDownload::unattended() const
{
    return m_services.unattended && m_services.unattended(m_id);
}

void frmDownload::Pause_Resume()
{
    const TransferJob *job = m_job.data();
    if (!job || job->isFinished())
        return;
    if (job->state() == TransferState::Paused)
        manager().resume(m_id);
    else
        manager().pause(m_id);
}

void frmDownload::StopMe()
{
    const TransferJob *job = m_job.data();
    if (!job || job->isFinished() || job->state() == TransferState::Stopped) {
        close();
        return;
    }
    manager().stop(m_id);
}

void frmDownload::onFinished(const TransferOutcome &outcome)
{
    refresh();
    if (outcome.kind == TransferOutcome::Kind::Failure && outcome.failure == FailureKind::FtpReply
        && outcome.code == 550)
        Q_EMIT modeEntryChanged(intAssignedIndex, QStringLiteral("Error"));
    if (outcome.kind != TransferOutcome::Kind::Success)
        return;
    // A completed download that the user put aside comes back to the screen.
    if (isMinimized())
        showNormal();
    const QPointer<frmDownload> self(this);
    if (storedOption("PromptDone") && m_services.prompts && !unattended())
        m_services.prompts->inform(caption("11031", "Download Successful."), m_services.appTitle,
                                   PromptIcon::Information);
    if (self && storedOption("CloseDownloadWindowWhenDone"))
        close();
}

void frmDownload::onNotice(const TransferNotice &notice)
{
    if (!m_services.prompts || unattended())
        return;
    switch (notice.kind) {
    case TransferNotice::Kind::DataError: {
        const QString text = caption("11033", "Error was occurred.") + QLatin1Char('\n') + caption("11034", "")
                             + QString::number(notice.number) + QLatin1Char('\n') + notice.description;
        m_services.prompts->message({text, caption("11035", "Error"), PromptIcon::Warning, PromptButtons::Ok});
        break;
    }
    case TransferNotice::Kind::FtpDataError:
        m_services.prompts->inform(caption("11032", "FTP Downloading error:") + QLatin1Char(' ')
                                       + notice.description,
                                   m_services.appTitle);
        break;
    }
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
    // The window never gets narrower than its contents: when Open and Go To
    // Dir appear it grows instead of squeezing the buttons over each other.
    layout->setSizeConstraint(QLayout::SetMinimumSize);
}

QString frmDownload::statusText() const
{
    const TransferJob *job = m_job.data();
    if (!job)
        return {};
    switch (job->state()) {
    case TransferState::Complete: return caption("11046", "Transfer Completed...");
    case TransferState::Stopped:
    case TransferState::Cancelled: return caption("11056", "Transfer Stopped");
    // A paused download says so, not the last thing it did before.
    case TransferState::Paused: return caption("11055", "Paused/Stopped");
    default: break;
    }
    const TransferStatus &s = job->isFinished() && job->outcome().kind == TransferOutcome::Kind::Failure
                                  ? job->outcome().status
                                  : job->status();
    return transferStatusText(s, m_services.captions);
}

void frmDownload::refresh()
{
    const TransferJob *job = m_job.data();
    const TransferState state = job ? job->state() : TransferState::Idle;
    const TransferProgress progress = job ? job->progress() : TransferProgress{};
    const bool known = progress.size >= 0;
    const int percent = known ? percentOf(progress.received, progress.size) : 0;
    const bool running = state == TransferState::Downloading;

    setTextIfChanged(lblStatus, statusText());
    setTextIfChanged(lblFileSize, known ? FormatSize(progress.size) : QString());
    setTextIfChanged(lblResume, progress.resumable ? caption("04018", "** Resume Supported **") : QString());
    setTextIfChanged(lblReceived, FormatSize(progress.received));
    setTextIfChanged(lblRate, running && progress.rate > 0 ? FormatSize(progress.rate) + QStringLiteral(" /Second")
                                                          : QStringLiteral("0 Bytes/Second"));
    setTextIfChanged(lblTimeLeft, FormatTime(running ? progress.secondsLeft : 0));
    setTextIfChanged(lblElapsed, FormatTime(double(qint64(progress.elapsed))));
    // The countdown shows from its first tick: a count that starts (or
    // starts again from the top) is not shown until it goes down.
    if (progress.timeoutLeft < 0 || progress.timeoutLeft > m_countFrom)
        m_countFrom = progress.timeoutLeft;
    const bool counting = progress.timeoutLeft >= 0 && progress.timeoutLeft < m_countFrom && job
                          && !job->isFinished();
    setTextIfChanged(lblTimeout, counting ? QStringLiteral("Timeout: %1 sec.").arg(progress.timeoutLeft) : QString());
    lblTimeout->setVisible(counting);
    setTextIfChanged(lblPercent, QString::number(percent) + QLatin1Char('%'));

    // One bar per connection over the range it has now; the whole file
    // above them when there is more than one.
    const auto &segments = progress.segments;
    ProgressBar1->setValue(percent);
    ProgressBar1->setVisible(segments.size() > 1);
    const qsizetype shown = std::clamp<qsizetype>(segments.size(), 1, PVProgressBar.size());
    for (qsizetype k = 0; k < qsizetype(PVProgressBar.size()); ++k) {
        PVProgressBar[k]->setVisible(k < shown);
        int value = 0;
        if (state == TransferState::Complete)
            value = 100;
        else if (k < segments.size() && segments[k].end >= 0)
            value = percentOf(segments[k].done, segments[k].end - segments[k].start);
        else if (k == 0)
            value = percent;
        PVProgressBar[k]->setValue(value);
    }

    setTextIfChanged(txtSaveTo, manager().savePath(m_id));
    setTextIfChanged(txtURL, manager().url(m_id));

    // The buttons: &Pause / &Resume, &Stop / &Close.
    QString pauseText = caption("04012", "&Pause");
    QString stopText = caption("04014", "&Stop");
    bool pauseEnabled = true;
    bool stopEnabled = true;
    bool openVisible = false;
    switch (state) {
    case TransferState::Paused:
        pauseText = caption("04013", "&Resume");
        stopEnabled = false;
        break;
    case TransferState::Stopped:
    case TransferState::Cancelled:
        pauseText = caption("04013", "&Resume");
        pauseEnabled = false;
        stopText = caption("04015", "&Close");
        openVisible = true;
        break;
    case TransferState::Complete:
        pauseEnabled = false;
        stopText = caption("04015", "&Close");
        openVisible = true;
        break;
    case TransferState::Failed:
        // The download waits with its message; the window's own close ends it.
        pauseEnabled = false;
        stopEnabled = false;
        break;
    default:
        break;
    }
    if (cmdPause->text() != pauseText)
        cmdPause->setText(pauseText);
    cmdPause->setEnabled(pauseEnabled && job);
    if (cmdStop->text() != stopText)
        cmdStop->setText(stopText);
    cmdStop->setEnabled(stopEnabled);
    cmdOpen->setVisible(openVisible);
    cmdGoToDir->setVisible(openVisible);

    QString name = job ? job->url().fileName() : QString();
    QString title = name.isEmpty() ? QString() : name + QStringLiteral(" [") + QString::number(percent)
                                                     + QStringLiteral("%]");
    if (title.isEmpty())
        title = m_services.appTitle;
    setWindowTitle(title);

    // A new start puts the focus on Pause.
    if (state != m_shownState) {
        if (state == TransferState::Connecting)
            cmdPause->setFocus();
        m_shownState = state;
    }
}

void frmDownload::OpenFile()
{
    const QString path = manager().savePath(m_id);
    if (m_services.shell && !m_services.shell->openFile(path))
        reportShellFailure(path);
}

void frmDownload::GoToDir()
{
    const QString path = manager().savePath(m_id);
    if (m_services.shell && !m_services.shell->showFolder(path))
        reportShellFailure(path);
}

void frmDownload::reportShellFailure(const QString &path)
{
    if (m_services.prompts)
        m_services.prompts->inform(QStringLiteral("Could not open \"%1\".").arg(path), m_services.appTitle,
                                   PromptIcon::Warning, this);
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
    m_serverData->setLog(m_job ? m_job->serverLog() : QByteArray());
    m_serverData->show();
    m_serverData->raise();
    m_serverData->activateWindow();
}

void frmDownload::closeEvent(QCloseEvent *event)
{
    // Stops the download and keeps the file; the row stays stopped, and a
    // Re-Download resumes it.
    if (m_job && !m_job->isFinished())
        manager().cancel(m_id);
    if (m_serverData)
        m_serverData->close();
    event->accept();
}
