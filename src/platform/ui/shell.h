#pragma once

#include <QString>
#include <QStringList>

// The desktop's shell: opening documents and folders and starting programs.
// Windows receive it through their constructors, so tests can record what
// would have been opened instead of launching anything.
class DesktopShell {
public:
    virtual ~DesktopShell() = default;

    // Opens a file with the program the desktop associates with it.
    virtual bool openFile(const QString &path) = 0;
    // Opens the folder that holds the file at path in the file manager.
    virtual bool showFolder(const QString &path) = 0;
    // Starts a program that runs on after this one ends.
    virtual bool startProgram(const QString &program, const QStringList &arguments = {}) = 0;
};

// The shell of the running desktop session.
class QtDesktopShell final : public DesktopShell {
public:
    bool openFile(const QString &path) override;
    bool showFolder(const QString &path) override;
    bool startProgram(const QString &program, const QStringList &arguments = {}) override;
};
