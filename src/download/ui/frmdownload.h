#pragma once

#include "download/downloadjob.h"

#include <QPointer>
#include <QWidget>

#include <array>

class DesktopShell;
class Prompts;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class frmServerData;

// A download window: owns one download and shows its state (status, sizes,
// rate, times, the time-out countdown, the progress bars, the save path and
// the URL), with the buttons that steer it. The window is deleted when it
// is closed; closing it stops the transfer and keeps the file.
class frmDownload : public QWidget {
    Q_OBJECT

public:
    // services go to the download; shell opens the finished file or its
    // folder; prompts reports what the shell could not open (and is the
    // download's prompts when services names none).
    frmDownload(DownloadJob::Services services, DesktopShell *shell, Prompts *prompts,
                QWidget *parent = nullptr);
    ~frmDownload() override;

    DownloadJob &job() { return m_job; }
    const DownloadJob &job() const { return m_job; }

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
    const std::array<QProgressBar *, DownloadJob::MaxSegments> PVProgressBar; // one per segment
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
    void OpenFile();
    void GoToDir();
    // Takes the window off the screen while the download goes on; it stays
    // reachable from the task bar and comes back when the download completes.
    void HideWindow();
    void ShowServerData();
    // Copies the download's state into the controls.
    void refresh();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildLayout();
    void reportShellFailure(const QString &path);

    QString m_appTitle;
    DesktopShell *m_shell;
    Prompts *m_prompts;
    DownloadJob m_job;
    QPointer<frmServerData> m_serverData;
    DownloadJob::State m_shownState = DownloadJob::State::Idle;
};
