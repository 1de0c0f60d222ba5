#pragma once

#include "shell/corvane/frmmain.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class CRegister;
class CustomCommandPanel;
class FtpComponent;
class FtpConsole;
class Prompts;
class TransferLog;

// The main window's options, synchronisation, FTP console and transfer log:
// the hooks the window's menu entries and toolbar commands run. Made before
// the window (the log maintenance runs while it is built), bound to it once
// it exists.
class CorvaneFeatures : public QObject {
    Q_OBJECT

public:
    struct Services {
        QString programDir;
        QString appTitle = QStringLiteral("Corvane");
        Prompts *prompts = nullptr;
        CRegister *reg = nullptr;
        FtpComponent *ftp = nullptr;
        QString autostartDirectory; // empty: the desktop's autostart folder
        QString executablePath;     // what the autostart entry starts
    };

    explicit CorvaneFeatures(Services services, QObject *parent = nullptr);
    ~CorvaneFeatures() override;

    // The window's hooks; a hook already set in given is kept.
    frmMain::Services::Hooks hooks(frmMain::Services::Hooks given = {});
    // Binds the features to the window: the command panel goes into its
    // place, the console and synchronisation report to the window.
    void attach(frmMain &window);

    void maintainLog();
    void writeLog(const QString &message);
    void showOptions();
    void syncLocalFromRemote();
    void syncRemoteFromLocal();
    void showCustomCommand();
    void closeCustomCommand();
    void runFtpCommand(const QString &caption);

    CustomCommandPanel *commandPanel() const { return m_panel; }

private:
    void sync(bool receiving);
    void setWait(bool busy);
    void setProgress(int percent);

    Services m_services;
    std::unique_ptr<TransferLog> m_log;
    std::unique_ptr<FtpConsole> m_console;
    frmMain *m_window = nullptr;
    CustomCommandPanel *m_panel = nullptr;
    int m_waits = 0;
};
