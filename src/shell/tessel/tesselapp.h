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
    };

    explicit TesselApp(Options options, QObject *parent = nullptr);
    ~TesselApp() override;

    // The start-up. False when another instance runs: the user is told, and
    // the running instance is asked to bring its window to the front (and
    // to take this start's URLs).
    bool start();

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

Q_SIGNALS:
    // The program should end.
    void quitRequested();

private:
    struct Parts;
    std::unique_ptr<Parts> m;
};
