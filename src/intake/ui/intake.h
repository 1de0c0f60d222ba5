#pragma once

#include "download/ui/frmdownload.h"
#include "download/downloadlist.h"
#include "platform/captionlookup.h"

#include <QDate>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class DesktopShell;
class DownloadWindowTable;
class Prompts;
class QWidget;
class SettingsModel;
class frmDownload;
class frmFile;
class frmURL;
struct SettingsRecord;

// The program-wide values of a run that the intake reads and writes and
// that other parts of the program share (the scheduler sets the two
// unattended values, the start-up clears blnSaveAsked).
struct IntakeRunValues {
    // Set once the first URL of the run got past the filters.
    bool blnSaveAsked = false;
    // True while a scheduled run starts downloads; intScheduleExistChoice
    // then answers for existing files: 1 overwrite, 2 resume, 3 skip.
    bool blnUnattended = false;
    qint16 intScheduleExistChoice = 3;
};

// Turns URLs into downloads: owns the new-URL dialog and the save prompt,
// runs the checks of a typed, dropped or delivered URL, and starts
// (BeginDownload) or queues (QueueDownload) downloads. Every other part of
// the program creates downloads through these two routines.
class Intake : public QObject {
    Q_OBJECT

public:
    struct Services {
        SettingsRecord *record = nullptr;      // options
        SettingsModel *settings = nullptr;     // limits, filters, file types, last save path
        DownloadListModel *downloads = nullptr;
        DownloadListModel *completed = nullptr;
        DownloadWindowTable *windows = nullptr;
        Prompts *prompts = nullptr;
        DesktopShell *shell = nullptr;
        CaptionLookup captions = defaultCaptions();
        IntakeRunValues *run = nullptr;
        // The owner of every download; it writes the download list's rows.
        DownloadManager *manager = nullptr;
        // What every new download window gets; its manager, shell and
        // prompts are taken from the fields above when left empty.
        frmDownload::Services window;
        // The clipboard's text; empty: the system clipboard.
        std::function<QString()> clipboardText;
        // The current local date; empty: the system's.
        std::function<QDate()> today;
        // Where files go while no save path was ever chosen; empty: home.
        QString fallbackFolder;
        QString appTitle = QStringLiteral("Tessel");
        // Owner of the dialogs; may be null.
        QWidget *mainWindow = nullptr;
    };

    explicit Intake(Services services, QObject *parent = nullptr);
    ~Intake() override;

    // Starts a download window for url, saving to savePath. rowIndex -1
    // adds a new row to the download list; a positive rowIndex (1-based)
    // restarts that existing row, which the window then updates. The window
    // takes the lowest free slot; when all are busy the user is told and
    // nothing is created (nullptr). An existing save file is decided by the
    // scheduler's answer during an unattended run, else by the user.
    frmDownload *BeginDownload(const QString &url, const QString &savePath, int rowIndex);

    // Appends a row that waits for a later start: text (a save path or a
    // refusal message), "0%", "N/A", "N/A", "Not Downloaded", url.
    DownloadListModel::RowId QueueDownload(const QString &url, const QString &text);

    // The entry for dropped URLs: puts the text into the (hidden) new-URL
    // dialog and runs the OK step, one URL a line.
    void DownLoadURL(const QString &url);

    // The entry for URLs that browser capture hands over: as DownLoadURL,
    // and the ignored-server and monitored-extension lists apply.
    void CaptureURL(const QString &url);

    // Fills the URL box's drop-down list with the URLs of both lists.
    void AddHistURL();

    // Opens the new-URL dialog modally, loading it when it is not loaded.
    void ShowURLDialog();

    // The OK step on the URL box's text, once for each of its lines. Lines
    // that draw a warning stay in the box; the others are taken.
    void OkStep();

    // The loaded new-URL dialog / the save prompt opened last while it is
    // open; nullptr when none.
    frmURL *urlDialog() const { return m_url; }
    frmFile *savePrompt() const { return m_file; }

Q_SIGNALS:
    // The save prompt began a download: the download list should be shown.
    void downloadListRequested();

private:
    enum class StepResult { Warned, Kept, Passed };
    void runOkSteps(bool captured);
    StepResult okStepFor(const QString &text, bool captured);
    void deliver(const QString &url, bool captured);
    frmURL *loadUrlDialog();
    void unloadUrlDialog();
    void openSavePrompt(const QString &url, const QString &defaultSavePath);
    // BeginDownload for a URL the intake itself took in: a URL that finds
    // no free window is queued instead of lost.
    void startOrKeep(const QString &url, const QString &savePath);
    qint16 existingFileChoice();
    DownloadListModel::RowId queueRow(const QString &url, const QString &text, bool refused);
    QString fallbackFolder() const;
    QDate today() const;
    QString clipboardText() const;

    Services m_services;
    QPointer<QWidget> m_mainWindow;
    QPointer<frmURL> m_url;
    QPointer<frmFile> m_file;
    QList<QPointer<frmFile>> m_openPrompts;
};
