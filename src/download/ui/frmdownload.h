#pragma once

#include "platform/captionlookup.h"
#include "queue/downloadmanager.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>

class DesktopShell;
class Prompts;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class frmServerData;

// A download window: the view and controller of one download that the
// download manager owns. It shows the job's typed state, progress and status
// (status, sizes, rate, times, the time-out countdown, one bar per
// connection over that connection's current range, the save path and the
// URL) and its buttons steer the download through the manager. The window is
// deleted when it is closed; closing it stops the download (the job is
// cancelled, the file kept) and the row stays stopped, to be resumed later.
class frmDownload : public QWidget {
    Q_OBJECT

public:
    struct Services {
        DownloadManager *manager = nullptr;
        DesktopShell *shell = nullptr;   // opens the finished file or its folder
        Prompts *prompts = nullptr;      // completion, data errors, what the shell could not open
        CaptionLookup captions = defaultCaptions();
        QString appTitle = QStringLiteral("Tessel");
        // Whether a stored option ("PromptDone", "CloseDownloadWindowWhenDone")
        // is on; empty: every option is off.
        std::function<bool(const QString &key)> storedOption;
        // Whether nobody waits at the screen for a download (one a scheduled
        // run started): its completion and error boxes are left out, the
        // window's status tells the outcome. Empty: every download is watched.
        std::function<bool(DownloadId id)> unattended;
    };

    static constexpr int MaxSegments = TransferJob::MaxSegments;

    frmDownload(Services services, DownloadId id, QWidget *parent = nullptr);
    ~frmDownload() override;

    DownloadId downloadId() const { return m_id; }
    DownloadManager &manager() const { return *m_services.manager; }
    // The download's current job; nullptr before a start. A Re-Download
    // replaces it, and the window follows.
    TransferJob *job() const;

    // The window's slot in the window table (0 to 100).
    int intAssignedIndex = -1;

    // The server-data viewer while it is open, else nullptr.
    frmServerData *serverDataWindow() const;

    QLabel *const lblStatus;
    QLabel *const lblFileSize;
    QLabel *const lblResume;
    QLabel *const lblReceived;
    QLabel *const lblRate;
    QLabel *const lblTimeLeft;
    QLabel *const lblElapsed;
    QLabel *const lblTimeout; // the time-out countdown
    QLabel *const lblPercent;
    QProgressBar *const ProgressBar1; // the whole file, shown with more than one segment
    const std::array<QProgressBar *, MaxSegments> PVProgressBar; // one per segment
    QLineEdit *const txtSaveTo;
    QLineEdit *const txtURL;
    QPushButton *const cmdPause;
    QPushButton *const cmdStop;
    QPushButton *const cmdOpen;
    QPushButton *const cmdGoToDir;
    QPushButton *const cmdHide;
    QPushButton *const cmdMore;
    QMenu *const mnuMore;
    QAction *const mnuServerData;

public Q_SLOTS:
    // &Pause pauses, &Resume resumes.
    void Pause_Resume();
    // &Stop stops the download (a split one asks first); &Close closes the
    // window.
    void StopMe();
    void OpenFile();
    void GoToDir();
    // Takes the window off the screen while the download goes on; it stays
    // reachable from the task bar and comes back when the download completes.
    void HideWindow();
    void ShowServerData();
    // Copies the download's state into the controls.
    void refresh();

Q_SIGNALS:
    // The main window's mode entry of this window's slot ("Error" when an
    // FTP server has no such file).
    void modeEntryChanged(int slot, const QString &text);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildLayout();
    void reportShellFailure(const QString &path);
    void follow(TransferJob *job);
    void onFinished(const TransferOutcome &outcome);
    void onNotice(const TransferNotice &notice);
    QString caption(const char *id, const char *defaultText) const;
    QString statusText() const;
    bool storedOption(const char *key) const;
    bool unattended() const;

    Services m_services;
    DownloadId m_id;
    QPointer<TransferJob> m_job;
    QPointer<frmServerData> m_serverData;
    TransferState m_shownState = TransferState::Idle;
    bool m_refreshPending = false;
    int m_countFrom = -1; // where the time-out countdown started
};
