#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>
#include <QStringList>

// Line-oriented text files as both programs store them: UTF-8, lines ended by
// CR LF when written, CR LF or LF accepted when read.
namespace textfile {

// Splits file content into lines. A trailing line break does not produce an
// empty last line.
QStringList splitLines(const QByteArray &content);

// Joins lines with CR LF after each line.
QByteArray joinLines(const QStringList &lines);

// Reads a whole file. Returns false when it does not exist or cannot be read.
bool readLines(const QString &path, QStringList *lines, QString *error = nullptr);

// Replaces a file atomically (temporary file, flush, rename). Permissions are
// applied to the new file before it replaces the old one.
bool writeAtomically(const QString &path, const QByteArray &content,
                     QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                            | QFileDevice::ReadGroup | QFileDevice::ReadOther,
                     QString *error = nullptr);

// Owner-only permissions, for files that hold credentials.
constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace textfile
