#pragma once

#include <QString>

// Start-with-the-desktop entries: one XDG autostart file per program,
// "<name>.desktop" in $XDG_CONFIG_HOME/autostart, whose Exec line starts the
// program by its full path. The entry exists exactly while it is installed.
class Autostart {
public:
    explicit Autostart(QString directory = defaultDirectory());

    static QString defaultDirectory();

    QString entryPath(const QString &name) const;
    bool install(const QString &name, const QString &executablePath);
    bool remove(const QString &name);
    bool isInstalled(const QString &name) const;
    // The program path of an installed entry, empty when there is none.
    QString installedExecutable(const QString &name) const;

    // Quotes a path for an Exec line of a desktop entry.
    static QString quoteExec(const QString &path);

private:
    QString m_directory;
};
