#include "ftpclient/console.h"

#include "ftpclient/ftpcomponent.h"
#include "platform/prompts.h"

#include <QDir>

const QString FtpConsole::Title = QStringLiteral("Remote Server Custom Command");
const QString FtpConsole::CwdPrompt = QStringLiteral("Please enter the remote folder name");
const QString FtpConsole::QuotePrompt = QStringLiteral("Please enter command for remote site");
const QString FtpConsole::ReceivePrompt =
    QStringLiteral("Enter File Name to Receive (Make sure you are in the Remote directory where the file ");
const QString FtpConsole::SendPrompt =
    QStringLiteral("Enter File Name to Send (Make sure you are in the local directory where the file resides, ");
const QString FtpConsole::NothingEntered = QStringLiteral("No command entered, quiting");

FtpConsole::FtpConsole(Services services, QObject *parent) : QObject(parent), m_services(std::move(services)) {}

QString FtpConsole::caption(Command command)
{
    switch (command) {
    case Command::Help:
        return QStringLiteral("HELP");
    case Command::Cwd:
        return QStringLiteral("CWD");
    case Command::Pwd:
        return QStringLiteral("PWD");
    case Command::Syst:
        return QStringLiteral("SYST");
    case Command::Quote:
        return QStringLiteral("QUOTE");
    case Command::List:
        return QStringLiteral("LIST");
    case Command::Nlst:
        return QStringLiteral("NLST");
    case Command::Retr:
        return QStringLiteral("RETR");
    case Command::Stor:
        return QStringLiteral("STOR");
    }
    return {};
}

QList<FtpConsole::Command> FtpConsole::menuOrder()
{
    return {Command::Help, Command::Cwd,  Command::Pwd,  Command::Syst, Command::Quote,
            Command::List, Command::Nlst, Command::Retr, Command::Stor};
}

void FtpConsole::run(Command command)
{
    switch (command) {
    case Command::Help:
    case Command::Pwd:
    case Command::Syst:
        emit busyChanged(true);
        sendPlain(caption(command), QStringLiteral("Error"));
        emit busyChanged(false);
        return;
    case Command::List:
    case Command::Nlst:
        emit busyChanged(true);
        sendListing(caption(command));
        emit busyChanged(false);
        return;
    case Command::Cwd:
        promptAndSend(CwdPrompt, QStringLiteral("CWD "), QStringLiteral("Error:"));
        return;
    case Command::Quote:
        // "QUOTE" is no FTP command: the line the user typed is the command.
        promptAndSend(QuotePrompt, QString(), QStringLiteral("Error"));
        return;
    case Command::Retr:
        ManualFileReceive();
        emit busyChanged(false);
        return;
    case Command::Stor:
        ManualFileSend();
        emit busyChanged(false);
        return;
    }
}

void FtpConsole::reportFailure(const QString &prefix)
{
    const QString description = m_services.ftp->lastError().description;
    if (!description.isEmpty())
        emit message(prefix + QStringLiteral(" ") + description);
}

void FtpConsole::sendPlain(const QString &line, const QString &errorPrefix)
{
    if (!m_services.ftp->sendCommand(line))
        reportFailure(errorPrefix);
}

void FtpConsole::sendListing(const QString &line)
{
    QStringList lines;
    if (!m_services.ftp->listingCommand(line, lines)) {
        reportFailure(QStringLiteral("Error"));
        return;
    }
    for (const QString &l : std::as_const(lines))
        emit message(l);
}

void FtpConsole::promptAndSend(const QString &prompt, const QString &prefix, const QString &errorPrefix)
{
    const std::optional<QString> answer = m_services.prompts->input({prompt, Title, QString(), false, nullptr});
    if (!answer || answer->isEmpty()) {
        m_services.prompts->inform(NothingEntered, m_services.appTitle, PromptIcon::Information);
        return;
    }
    emit busyChanged(true);
    sendPlain(prefix + *answer, errorPrefix);
    emit busyChanged(false);
}

void FtpConsole::ManualFileReceive()
{
    const std::optional<QString> name =
        m_services.namePrompt ? m_services.namePrompt(ReceivePrompt, Title, QString()) : std::nullopt;
    if (!name || name->isEmpty()) {
        m_services.prompts->inform(NothingEntered, m_services.appTitle, PromptIcon::Information);
        return;
    }
    emit busyChanged(true);
    const QString local = QDir(m_services.localPath ? m_services.localPath() : QDir::currentPath()).filePath(*name);
    if (m_services.ftp->receiveFile(*name, 0, local))
        emit localRelistRequested();
    else
        reportFailure(QStringLiteral("Error:"));
    emit busyChanged(false);
}

void FtpConsole::ManualFileSend()
{
    const std::optional<QString> name =
        m_services.namePrompt ? m_services.namePrompt(SendPrompt, Title, QString()) : std::nullopt;
    if (!name || name->isEmpty()) {
        m_services.prompts->inform(NothingEntered, m_services.appTitle, PromptIcon::Information);
        return;
    }
    emit busyChanged(true);
    const QString local = QDir(m_services.localPath ? m_services.localPath() : QDir::currentPath()).filePath(*name);
    if (m_services.ftp->sendFile(local, 0, *name, false))
        emit remoteRelistRequested();
    else
        reportFailure(QStringLiteral("Error:"));
    emit busyChanged(false);
}

bool FtpConsole::sendCustomLine(const QString &line)
{
    if (line.isEmpty())
        return false;
    const QString verb = line.trimmed().section(u' ', 0, 0).toUpper();
    // A listing typed by hand needs a data connection, which the component
    // opens; its lines go to the message list like the menu's LIST.
    const bool listing = verb == QLatin1String("LIST") || verb == QLatin1String("NLST");
    const bool ok = listing ? [&] {
        QStringList lines;
        if (!m_services.ftp->listingCommand(line, lines))
            return false;
        for (const QString &l : std::as_const(lines))
            emit message(l);
        return true;
    }()
                            : m_services.ftp->sendCommand(line);
    if (!ok)
        reportFailure(QStringLiteral("Error no"));
    return true;
}
