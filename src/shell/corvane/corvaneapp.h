#pragma once

#include "controls/ui/tray.h"
#include "shell/corvane/frmmain.h"

#include <QObject>
#include <QString>

#include <memory>

class CRegister;
class DesktopShell;
class FtpComponent;
class Prompts;
class SocketFactory;

// Corvane put together: the services built once and handed to the main
// window, started in the order of a start-up. main() creates one; tests
// create one over a scratch program directory and settings store.
class CorvaneApp : public QObject {
    Q_OBJECT

public:
    struct Options {
        QString programDir;   // empty: beside the executable (see ProgramDir)
        QString configDir;    // empty: the per-user settings store
        QString instanceDir;  // where the single-instance lock lives; empty: the runtime directory
        QString localPath;    // the first local folder; empty: the home folder
        Prompts *prompts = nullptr;    // empty: Qt dialogs
        DesktopShell *shell = nullptr; // empty: the desktop's
        std::unique_ptr<TrayHost> trayHost; // empty: the desktop's notification area
        // Sockets of the FTP component; empty: TLS sockets that check against
        // the trust store of the settings.
        std::shared_ptr<const SocketFactory> sockets;
        bool showSplash = true;
        // What later parts add to the window (options, synchronisation, the
        // console, log maintenance).
        frmMain::Services::Hooks hooks;
    };

    explicit CorvaneApp(Options options, QObject *parent = nullptr);
    ~CorvaneApp() override;

    // The start-up. False when another instance runs: the user is told
    // "There is running instance", and nothing else starts.
    bool start();

    frmMain &mainWindow();
    FtpComponent &ftp();
    CRegister &settings();
    Prompts &prompts();
    Tray &tray();
    QString programDir() const;

Q_SIGNALS:
    // The program should end.
    void quitRequested();

private:
    struct Parts;
    std::unique_ptr<Parts> m;
};
