#pragma once

#include "download/downloadlist.h"
#include "queue/ui/downloadlistview.h"
#include "queue/ui/modelist.h"
#include "platform/captionlookup.h"

#include <QLocale>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>

class DownloadManager;
class DownloadWindowTable;
class QMenu;
class QWidget;

// The commands of the main window's download list and completed list:
// pause, resume and stop of every download, re-download, remove,
// clear, select, refresh, the context menus, text dropped on the window and
// the total transfer rate.
//
// The lists themselves (lstMain, lstComplete) and the hidden mode list
// (lstMode) are made here over the two row models the rest of the program
// shares; the main window places the two lists in its layout.
class QueueCommands : public QObject {
    Q_OBJECT

public:
    // A row of the download list to be started again in its own row.
    struct RestartRequest {
        QString url;      // the row's URL from its scheme on
        QString savePath; // the row's save path
        int slot = -1;    // the download-window slot to start it in (0 to 100)
        DownloadListModel::RowId row = DownloadListModel::NoRow;
    };

    struct Callbacks {
        // Starts a download in an existing row of the download list; no
        // row is added.
        std::function<void(const RestartRequest &)> restartRow;
        // Starts a new download (a row is added to the download list).
        std::function<void(const QString &url, const QString &savePath)> beginDownload;
        // Takes text that reached the window from outside (a drop) as a URL.
        std::function<void(const QString &text)> downloadUrl;
        // Open a downloaded file, or the folder that holds it.
        std::function<bool(const QString &path)> openFile;
        std::function<bool(const QString &path)> showFolder;
    };

    struct Options {
        std::chrono::milliseconds ratePeriod{250};
        int yieldsPerSide = 14; // pending-event passes before and after Pause All and Resume All
        QLocale locale;         // for the total rate and for reading size texts back
    };

    // viewParent becomes the parent of the two lists (they are deleted with
    // this object while they have no parent).
    // Pause All, Resume All, Stop All and the total rate go through the
    // manager; Re-Download picks the window slot from the table.
    QueueCommands(DownloadListModel &mainList, DownloadListModel &completeList, DownloadWindowTable &windows,
                  DownloadManager &manager, CaptionLookup captions, Callbacks callbacks, Options options,
                  QWidget *viewParent = nullptr, QObject *parent = nullptr);
    QueueCommands(DownloadListModel &mainList, DownloadListModel &completeList, DownloadWindowTable &windows,
                  DownloadManager &manager, CaptionLookup captions, Callbacks callbacks,
                  QWidget *viewParent = nullptr);
    ~QueueCommands() override;

    DownloadListView *const lstMain;
    DownloadListView *const lstComplete;
    ModeList lstMode;

    // The total of every running download's transfer rate in bytes per second, as
    // last computed, and the status-bar text that shows it.
    double totalRate() const { return m_totalRate; }
    QString totalRateText() const;

    // Menus wired to the commands; the caller owns them (through parent).
    QMenu *buildQueueMenu(QWidget *parent = nullptr);
    QMenu *buildCompleteMenu(QWidget *parent = nullptr);
    QMenu *buildDownloadsMenu(QWidget *parent = nullptr);

    // Lets another area of the main window take dropped text and open the
    // Queue Menu on a right button press, as the download list does.
    void addDropArea(QWidget *area);

    // Runs the toolbar command strings that act on the lists; false for any
    // other string.
    bool runToolbarCommand(const QString &command);

    // Starts a row of the download list again in its own row. rowIndex is
    // the row's position in the list (from 0).
    void RedownloadRow(const QString &url, const QString &savePath, int rowIndex, DownloadListModel::RowId row);

    // The part of a row's URL from its first "http://", "https://" or
    // "ftp://" on (either case); the whole text when it has none.
    static QString urlFromScheme(const QString &text);

public Q_SLOTS:
    void PauseAll();
    void ResumeAll();
    void StopAll();
    void ReDownload();
    void ReDownloadCompleted();
    void RemoveSelection();
    void ClearQueue();
    void SelectAll();
    void DeSelectAll();
    void Refresh();
    void RemoveCompletedSelection();
    void RemoveAllCompleted();
    // Text dropped on the window.
    void dropText(const QString &text);
    // The selected rows of the download list: pause, resume.
    void PauseSelection();
    void ResumeSelection();
    // The selected rows of a list: open the files, open their folders, copy
    // their URLs (one a line) to the clipboard.
    void OpenSelection(DownloadListView *view);
    void OpenSelectionFolder(DownloadListView *view);
    void CopySelectionUrls(DownloadListView *view);
    // A double click: a row of the download list brings its download's
    // window to the front; a completed row opens its file.
    void activateRow(DownloadListView *view, DownloadListModel::RowId row);
    // Repaints both lists.
    void RefreshControls();
    // Recomputes the total rate now (the timer does so every period).
    void updateTotalRate();

Q_SIGNALS:
    void totalRateChanged(double bytesPerSecond, const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct SelectedUrl {
        DownloadListModel::RowId row;
        QString url;
        QString savePath;
    };
    // The selected rows' URLs in the order shown, up to the first row without one.
    QList<SelectedUrl> selectedUrls(DownloadListView *view, DownloadListModel &list) const;

    void walk(void (DownloadManager::*command)());
    void yieldEvents();
    void showMenu(QMenu *menu, const QPoint &globalPos);
    void removeSelected(DownloadListView &view);

    DownloadListModel &m_mainList;
    DownloadListModel &m_completeList;
    QPointer<DownloadWindowTable> m_windows;
    QPointer<DownloadManager> m_manager;
    CaptionLookup m_captions;
    Callbacks m_callbacks;
    Options m_options;
    QTimer m_rateTimer;
    double m_totalRate = 0;
    QPointer<DownloadListView> m_mainView; // lstMain while it exists
    QPointer<DownloadListView> m_completeView;
};
