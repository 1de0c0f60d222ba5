#include "shell/maincommands.h"

#include <QHash>

MainCommand mainCommandFor(const QString &command)
{
    static const QHash<QString, MainCommand> table{
        {QStringLiteral("IDC_FS_tray"), MainCommand::HideToTray},
        {QStringLiteral("IDC_FS_minimize"), MainCommand::Minimize},
        {QStringLiteral("IDC_FS_close"), MainCommand::Close},
        {QStringLiteral("IDC_FS_drag"), MainCommand::Drag},
        {QStringLiteral("IDC_FS_launchFTP"), MainCommand::LaunchFtp},
        {QStringLiteral("IDC_FS_ShowB"), MainCommand::ShowDownloads},
        {QStringLiteral("IDC_FS_ShowC"), MainCommand::ShowCompleted},
        {QStringLiteral("IDC_FS_HideB"), MainCommand::HideDownloads},
        {QStringLiteral("IDC_FS_HideC"), MainCommand::HideCompleted},
        {QStringLiteral("IDC_FS_AddURL"), MainCommand::AddUrl},
        {QStringLiteral("IDC_FS_ReDownload"), MainCommand::ReDownload},
        {QStringLiteral("IDC_FS_PauseAll"), MainCommand::PauseAll},
        {QStringLiteral("IDC_FS_ResumeAll"), MainCommand::ResumeAll},
        {QStringLiteral("IDC_FS_StopAll"), MainCommand::StopAll},
        {QStringLiteral("IDC_FS_Schedule"), MainCommand::Schedule},
        {QStringLiteral("IDC_FS_Settings"), MainCommand::Settings},
        {QStringLiteral("IDC_FS_UserGuide"), MainCommand::UserGuide},
        {QStringLiteral("IDC_FS_openAbout"), MainCommand::OpenAbout},
        {QStringLiteral("IDC_FS_closeAbout"), MainCommand::CloseAbout},
    };
    return table.value(command, MainCommand::Unknown);
}
