#include "intake/ui/intake.h"

#include "config/settingsmodel.h"
#include "config/settingsrecord.h"
#include "download/ui/downloadwindows.h"
#include "download/ui/frmdownload.h"
#include "download/urlmodel.h"
#include "intake/intakerules.h"
#include "intake/ui/frmexist.h"
#include "intake/ui/frmfile.h"
#include "intake/ui/frmurl.h"
#include "platform/prompts.h"

#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QWidget>

namespace {

const QString NoFreeWindow = QStringLiteral(
    "All 101 download windows are in use. Close a download window, then start the download again.");

} // namespace

Intake::Intake(Services services, QObject *parent)
    : QObject(parent),
      m_services(std::move(services)),
      m_mainWindow(m_services.mainWindow)
{
    if (!m_services.captions)
        m_services.captions = defaultCaptions();
    frmDownload::Services &window = m_services.window;
    if (!window.manager)
        window.manager = m_services.manager;
    if (!window.shell)
        window.shell = m_services.shell;
    if (!window.prompts)
        window.prompts = m_services.prompts;
    if (window.appTitle.isEmpty())
        window.appTitle = m_services.appTitle;
}

Intake::~Intake()
{
    for (const QPointer<frmFile> &prompt : std::as_const(m_openPrompts))
        delete prompt.data();
    delete m_url.data();
}

// ---------------------------------------------------------------- start and queue

frmDownload *Intake::BeginDownload(const QString &url, const QString &savePath, int rowIndex)
{
    DownloadWindowTable *windows = m_services.windows;
    DownloadListModel *list = m_services.downloads;
    DownloadManager *manager = m_services.manager;
    if (!windows || !list || !manager)
        return nullptr;

    // A restarted row is taken before the existing-file question, so a
    // download delivered while the question is open cannot take it.
    const DownloadListModel::RowId row = rowIndex > 0 ? list->idAt(rowIndex - 1) : DownloadListModel::NoRow;
    if (rowIndex > 0 && row == DownloadListModel::NoRow)
        return nullptr;
    // A row that is running already keeps its window.
    if (const DownloadId running = manager->idOfRow(row);
        running && manager->state(running) == DownloadState::Running) {
        frmDownload *open = windows->windowOf(running);
        if (open) {
            open->show();
            open->raise();
        }
        return open;
    }

    // 1-2. The lowest free slot, so a window that is still running is
    // never handed a second download.
    const DownloadId earlier = manager->idOfRow(row);
    if (windows->firstFreeSlot() < 0 && !(earlier && windows->windowOf(earlier))) {
        if (m_services.prompts)
            m_services.prompts->inform(NoFreeWindow, m_services.appTitle, PromptIcon::Warning, m_mainWindow);
        return nullptr;
    }

    // 3. What to do with a file that is there already; the answer travels
    // with this start only.
    ExistingFile existing = ExistingFile::Overwrite;
    if (FileExistsLen(savePath))
        existing = existingFileFromChoice(existingFileChoice());

    // 4-5. The download in its row (a new one for rowIndex -1), and its
    // window in the lowest free slot (or the window that showed that row).
    const TransferRequest request{url, savePath, existing};
    const QPointer<Intake> self(this);
    QPointer<frmDownload> window;
    const auto openWindow = [&](DownloadId started) {
        window = windows->windowOf(started);
        if (!window) {
            const int slot = windows->firstFreeSlot();
            window = windows->create(slot, m_services.window, started);
        }
    };
    // The window exists before the job starts, so it sees every report.
    const auto connection = connect(manager, &DownloadManager::started, this,
                                    [&](DownloadId started, TransferJob *) {
                                        if (!window)
                                            openWindow(started);
                                    });
    if (rowIndex > 0)
        manager->startRow(row, request);
    else
        manager->start(request);
    if (self)
        disconnect(connection);
    if (!self || !window)
        return nullptr; // a cancelled start shows no window

    // 6. The window with its paths, over the main window and on the screen.
    window->refresh();
    if (!window->isVisible())
        placeOver(window, m_mainWindow);
    window->show();
    return window;
}

DownloadListModel::RowId Intake::QueueDownload(const QString &url, const QString &text)
{
    return queueRow(url, text, false);
}

DownloadListModel::RowId Intake::queueRow(const QString &url, const QString &text, bool refused)
{
    if (m_services.manager)
        return m_services.manager->row(m_services.manager->queue(url, text, StatusNotDownloaded, refused));
    if (!m_services.downloads)
        return DownloadListModel::NoRow;
    return m_services.downloads->addRow({text, refused ? ProgressRefused : ProgressNotStarted, QStringLiteral("N/A"),
                                         QStringLiteral("N/A"), StatusNotDownloaded, url});
}

qint16 Intake::existingFileChoice()
{
    const IntakeRunValues *run = m_services.run;
    if (run && run->blnUnattended)
        return ScheduledExistChoice(run->intScheduleExistChoice);
    return frmExist::ask(m_mainWindow);
}

void Intake::startOrKeep(const QString &url, const QString &savePath)
{
    if (!BeginDownload(url, savePath, -1) && m_services.windows && m_services.windows->firstFreeSlot() < 0)
        QueueDownload(url, savePath);
}

// ---------------------------------------------------------------- new-URL dialog

frmURL *Intake::loadUrlDialog()
{
    if (m_url)
        return m_url;
    m_url = new frmURL(m_mainWindow);
    connect(m_url, &frmURL::okRequested, this, &Intake::OkStep);
    // Cancel or the frame: the dialog goes; the next opening loads it anew.
    connect(m_url, &QDialog::rejected, this, &Intake::unloadUrlDialog);
    AddHistURL();
    if (m_services.record && m_services.record->ClipboardMonitoring) {
        if (const std::optional<QString> prefill = ClipboardPrefill(clipboardText()))
            m_url->setUrl(*prefill, true);
    }
    return m_url;
}

void Intake::unloadUrlDialog()
{
    if (!m_url)
        return;
    frmURL *dialog = m_url;
    m_url = nullptr;
    dialog->hide();
    dialog->deleteLater();
}

void Intake::AddHistURL()
{
    if (m_url && m_services.downloads && m_services.completed)
        m_url->setHistory(HistoryUrls(*m_services.downloads, *m_services.completed));
}

void Intake::ShowURLDialog()
{
    frmURL *dialog = loadUrlDialog();
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    dialog->cboURL->setFocus();
}

void Intake::DownLoadURL(const QString &url)
{
    deliver(url, false);
}

void Intake::CaptureURL(const QString &url)
{
    deliver(url, true);
}

void Intake::deliver(const QString &url, bool captured)
{
    frmURL *dialog = loadUrlDialog();
    dialog->hide();
    dialog->setUrl(url);
    runOkSteps(captured);
}

void Intake::OkStep()
{
    runOkSteps(false);
}

void Intake::runOkSteps(bool captured)
{
    if (!m_url)
        return;
    const QStringList urls = UrlLines(m_url->url());
    if (urls.isEmpty()) {
        okStepFor(m_url->url(), captured); // warns about the empty text
        return;
    }
    QStringList warned;
    bool passed = false;
    for (const QString &url : urls) {
        switch (okStepFor(url, captured)) {
        case StepResult::Warned:
            warned.append(url);
            break;
        case StepResult::Kept:
            break;
        case StepResult::Passed:
            passed = true;
            break;
        }
        if (!m_url)
            return; // the dialog went while a prompt was open
    }
    if (!warned.isEmpty()) {
        // What still needs the user's attention stays in the box.
        if (urls.size() > 1)
            m_url->setUrl(warned.join(QLatin1Char('\n')));
        return;
    }
    if (passed)
        unloadUrlDialog();
}

Intake::StepResult Intake::okStepFor(const QString &text, bool captured)
{
    if (!m_url || !m_services.record || !m_services.settings || !m_services.downloads)
        return StepResult::Kept;
    const SettingsRecord &record = *m_services.record;
    const SettingsModel &settings = *m_services.settings;

    OkStepInput input;
    input.text = text;
    input.saveAsked = m_services.run && m_services.run->blnSaveAsked;
    input.newDownload = record.newDownloadOption();
    input.save.rules = record.saveLocation;
    input.save.fileTypes = settings.fileTypes;
    input.save.lastSavePath = settings.lastSavePath;
    input.save.fallbackFolder = fallbackFolder();
    input.limits = {settings.limitHTTP(), settings.limitFTP()};
    if (DownloadManager *manager = m_services.manager) {
        // The limit counts downloads by their state, not by their rows' texts.
        input.runningFrom = [manager](const QString &server) {
            return manager->runningWhere([&server](const QString &url) {
                return GetServerName(url).compare(server, Qt::CaseInsensitive) == 0;
            });
        };
    }
    input.captured = captured;
    input.monitorServer = settings.txtMonitorServer;
    input.monitorTypes = settings.txtMonitorTypes;
    input.today = today();

    const OkStepOutcome out = RunOkStep(input, *m_services.downloads, m_services.captions);
    using Action = OkStepOutcome::Action;
    if (out.action == Action::Warn) {
        if (m_services.prompts) {
            const QString title = out.warningTitle.isEmpty() ? m_services.appTitle : out.warningTitle;
            m_services.prompts->inform(out.warningText, title, PromptIcon::Warning, m_url);
        }
        return StepResult::Warned;
    }
    if (out.hideDialog && m_url)
        m_url->hide();

    switch (out.action) {
    case Action::Warn:
        break;
    case Action::Queue: {
        queueRow(out.url, out.savePath, out.markRefused);
        break;
    }
    case Action::Start:
        if (!out.folderToCreate.isEmpty())
            CreateSaveFolder(out.folderToCreate); // a failure does not stop the start
        startOrKeep(out.url, out.savePath);
        break;
    case Action::AskSave:
        openSavePrompt(out.url, out.defaultSavePath);
        break;
    }

    if (!out.passedFilters)
        return StepResult::Kept;
    if (m_services.run)
        m_services.run->blnSaveAsked = true;
    return StepResult::Passed;
}

// ---------------------------------------------------------------- save prompt

void Intake::openSavePrompt(const QString &url, const QString &defaultSavePath)
{
    // A URL delivered while another save prompt is open gets a prompt of
    // its own; the open one keeps its URL.
    auto *prompt = new frmFile(m_services.captions, m_services.prompts, m_mainWindow);
    m_file = prompt;
    m_openPrompts.removeIf([](const QPointer<frmFile> &open) { return open.isNull(); });
    m_openPrompts.append(prompt);
    prompt->URL = url;
    prompt->startFolder = SettingsModel::parentFolder(defaultSavePath);
    connect(prompt, &frmFile::lastSavePathChosen, this, [this](const QString &path) {
        // Kept in "Settings.ini" at once, so the next start offers it too.
        if (m_services.settings) {
            m_services.settings->lastSavePath = path;
            m_services.settings->SaveToINI();
        }
    });
    connect(prompt, &frmFile::beginRequested, this, [this](const QString &url, const QString &path) {
        Q_EMIT downloadListRequested();
        startOrKeep(url, path);
    });
    connect(prompt, &frmFile::laterRequested, this,
            [this](const QString &url, const QString &path) { QueueDownload(url, path); });
    connect(prompt, &QDialog::finished, prompt, &QObject::deleteLater);
    if (!prompt->load()) {
        // No file chosen: nothing is started or queued.
        m_openPrompts.removeAll(prompt);
        delete prompt;
        return;
    }
    prompt->setWindowModality(Qt::ApplicationModal);
    prompt->show();
    prompt->raise();
}

// ---------------------------------------------------------------- sources

QString Intake::fallbackFolder() const
{
    return m_services.fallbackFolder.isEmpty() ? QDir::homePath() : m_services.fallbackFolder;
}

QDate Intake::today() const
{
    return m_services.today ? m_services.today() : QDate::currentDate();
}

QString Intake::clipboardText() const
{
    if (m_services.clipboardText)
        return m_services.clipboardText();
    const QClipboard *clipboard = QGuiApplication::clipboard();
    return clipboard ? clipboard->text() : QString();
}
