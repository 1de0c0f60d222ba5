#pragma once

#include "controls/ui/tray.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

class DesktopShell;
class DownloadListModel;
class DownloadManager;
class DownloadWindowTable;
class HistoryStore;
class CaptureReceiver;
class Intake;
class Prompts;
class QueueCommands;
class Scheduler;
class frmMain;

// Tessel put together: every service built once and handed to the parts
// that use it, then started in the order of a start-up. main() creates one;
// tests create one over a scratch program directory and settings store.
class TesselApp : public QObject {
    Q_OBJECT

public:
    struct Options {
        QString programDir;   // empty: beside the executable (see ProgramDir)
        QString configDir;    // empty: the per-user settings store
        QString instanceDir;  // where the single-instance lock lives; empty: the runtime directory
        Prompts *prompts = nullptr;   // empty: Qt dialogs
        DesktopShell *shell = nullptr; // empty: the desktop's
        std::unique_ptr<TrayHost> trayHost; // empty: the desktop's notification area
        std::chrono::milliseconds historyDelay{2000};
        bool showSplash = true;
        // The scheduler's clock (empty: the local date and time) and the
        // length of its timer's second.
        std::function<QDateTime()> clock;
        std::chrono::milliseconds schedulerSecond{1000};
        // URLs given on the command line: taken by this instance, or handed
        // to the running one.
        QStringList urls;
        // URLs a browser handed over (tessel --capture URL, as the capture
        // host starts Tessel): as urls, but they take the captured path,
        // where the ignored-server and monitored-extension lists apply.
        QStringList capturedUrls;
        // Where the receiver of browser capture listens; empty: the user's
        // private runtime directory.
        QString captureDir;
        // Switches browser capture on or off (writes or removes the browsers'
        // host manifests); empty: the current user's browser folders.
        std::function<bool(bool on)> browserCapture;
    };

    explicit TesselApp(Options options, QObject *parent = nullptr);
    ~TesselApp() override;

    // The start-up. False when another instance runs: the user is told, and
    // the running instance is asked to bring its window to the front (and
    // to take this start's URLs).
    bool start();
    // After a start() that found another instance: true when that instance
    // took this start's URLs (nothing to tell the user).
    bool handedOver() const;

    frmMain &mainWindow();
    Intake &intake();
    QueueCommands &queue();
    DownloadListModel &downloads();
    DownloadListModel &completed();
    DownloadWindowTable &windows();
    DownloadManager &manager();
    HistoryStore &history();
    Scheduler &scheduler();
    QString programDir() const;
    CaptureReceiver &captureReceiver();

Q_SIGNALS:
    // The program should end.
    void quitRequested();

private:
    struct Parts;
    std::unique_ptr<Parts> m;
};
