#pragma once

#include <QString>
#include <QStringList>

// INI files with the semantics of the classic profile calls: sections in
// brackets, "key=value" lines, section and key names compared without regard
// to case. Files are UTF-8; readers accept CR LF and LF; writers write CR LF.
namespace ini {

struct ReadResult {
    QString text;
    bool ok = true;          // false when the file exists but could not be read
    QString errorString;     // why it could not be read
};

// Reads key of section from file. A missing file, section or key gives
// defaultText. The value is returned as stored after the "=" (blanks kept);
// like a caller-supplied buffer of bufferLength characters, at most
// bufferLength - 1 characters are returned.
ReadResult readString(const QString &file, const QString &section, const QString &key,
                      const QString &defaultText, int bufferLength);

// Convenience form that ignores read errors.
QString getString(const QString &file, const QString &section, const QString &key,
                  const QString &defaultText, int bufferLength = 32768);

// Writes key=value into section, creating the file and the section when
// needed and replacing an existing key in place. Atomic. Returns false when
// the file could not be written.
bool writeString(const QString &file, const QString &section, const QString &key, const QString &value);

// Removes key from section. Returns false when the file could not be written.
bool deleteKey(const QString &file, const QString &section, const QString &key);

// Names of the keys of a section, in file order.
QStringList keys(const QString &file, const QString &section);

// Names of the sections of a file, in file order.
QStringList sections(const QString &file);

} // namespace ini
