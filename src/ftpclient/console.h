#pragma once

// The FTP command console: the fixed commands of the "FTP Commands" menu,
// the manual receive and send of a typed file name, and the free command
// line of the custom command panel. Every command goes out through the
// component; its command and reply lines reach the message list as the
// component's log lines. Listing commands get a data connection from the
// component, and their lines are reported as messages. Nothing here relists
// a pane except the manual receive (local pane) and send (remote pane).
//
// Prompts go through Prompts (the simple input box and the notices) and the
// name prompt hook (the window's ShowInputDialog).

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class FtpComponent;
class Prompts;

class FtpConsole : public QObject {
    Q_OBJECT
public:
    // The entries of the "FTP Commands" sub-menu, in menu order.
    enum class Command { Help, Cwd, Pwd, Syst, Quote, List, Nlst, Retr, Stor };

    // The modal name prompt (prompt, title, default text); nothing when
    // cancelled.
    using NamePrompt = std::function<std::optional<QString>(const QString &, const QString &, const QString &)>;

    struct Services {
        FtpComponent *ftp = nullptr;
        Prompts *prompts = nullptr;
        NamePrompt namePrompt;
        QString appTitle = QStringLiteral("Corvane"); // title of the untitled notices
        // The current local path, asked for at each manual transfer.
        std::function<QString()> localPath;
    };

    // Texts of the console.
    static const QString Title;          // "Remote Server Custom Command"
    static const QString CwdPrompt;      // "Please enter the remote folder name"
    static const QString QuotePrompt;    // "Please enter command for remote site"
    static const QString ReceivePrompt;  // "Enter File Name to Receive (Make sure ..."
    static const QString SendPrompt;     // "Enter File Name to Send (Make sure ..."
    static const QString NothingEntered; // "No command entered, quiting"

    explicit FtpConsole(Services services, QObject *parent = nullptr);

    // The menu entry's caption ("HELP", "CWD", ...).
    static QString caption(Command command);
    static QList<Command> menuOrder();

    // Runs one entry of the "FTP Commands" sub-menu.
    void run(Command command);
    void ManualFileReceive();
    void ManualFileSend();
    // The command box's Enter key: sends a non-empty line unchanged. True
    // when the box is to be emptied (whenever something was sent).
    bool sendCustomLine(const QString &line);

Q_SIGNALS:
    void busyChanged(bool busy); // the hourglass
    void message(const QString &text);
    // After a manual receive: RefreshLocalList and UpdateLocalCommands.
    void localRelistRequested();
    // After a manual send: RefreshRemoteList and UpdateRemoteCommands.
    void remoteRelistRequested();

private:
    void sendPlain(const QString &line, const QString &errorPrefix);
    void sendListing(const QString &line);
    void promptAndSend(const QString &prompt, const QString &prefix, const QString &errorPrefix);
    void reportFailure(const QString &prefix);

    Services m_services;
};
