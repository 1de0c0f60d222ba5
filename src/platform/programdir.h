#pragma once

#include <QString>
#include <QStringList>

// The directory that holds the executables and the data files both programs
// read and write (history, settings, language files, skin, toolbar, logs).
//
// A portable install (a build tree) keeps everything beside the executables.
// An installed one (executables in <prefix>/bin, the shipped files in
// <prefix>/share/tessel-suite), or one whose directory is not writable, uses a
// per-user directory under the XDG data home instead, into which the shipped
// files are copied on first use. SUITE_PROGRAM_DIR overrides both.
class ProgramDir {
public:
    ProgramDir() = default;
    explicit ProgramDir(QString path);

    // Finds the program directory for an executable living in executableDir.
    // Creates the per-user directory when it is the one chosen.
    static ProgramDir locate(const QString &executableDir);

    // Where an installed program's shipped files are: <prefix>/share/
    // tessel-suite for executables in <prefix>/bin; empty when there is no
    // such directory.
    static QString sharedDataDir(const QString &executableDir);

    // The environment variable that overrides the location.
    static constexpr const char *OverrideVariable = "SUITE_PROGRAM_DIR";

    QString path() const { return m_path; }
    bool isValid() const { return !m_path.isEmpty(); }

    // The full path of a file in the program directory.
    QString file(const QString &name) const;

    // Copies the given files and folders (relative names) from sourceDir when
    // they are missing here; existing files are never overwritten.
    void seedFrom(const QString &sourceDir, const QStringList &names) const;

private:
    QString m_path;
};

// Joins a directory and a name with exactly one "/" between them.
QString joinPath(const QString &dir, const QString &name);
