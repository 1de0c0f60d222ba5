#pragma once

#include <QString>

// What a toolbar command string of the main window asks for. Strings are
// compared exactly; anything else is Unknown and does nothing.
enum class MainCommand {
    Unknown,
    HideToTray,
    Minimize,
    Close,
    Drag,
    LaunchFtp,
    ShowDownloads,
    ShowCompleted,
    HideDownloads,
    HideCompleted,
    AddUrl,
    ReDownload,
    PauseAll,
    ResumeAll,
    StopAll,
    Schedule,
    Settings,
    UserGuide,
    OpenAbout,
    CloseAbout,
};

MainCommand mainCommandFor(const QString &command);
