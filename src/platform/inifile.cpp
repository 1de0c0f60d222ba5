#include "platform/inifile.h"

#include "platform/textfile.h"

#include <QFile>
#include <QFileInfo>

namespace ini {
namespace {

// Returns the section name when line is a section header.
bool sectionHeader(const QString &line, QString *name)
{
    const QString t = line.trimmed();
    if (t.size() < 2 || !t.startsWith(QLatin1Char('[')))
        return false;
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    if (close < 0)
        return false;
    *name = t.mid(1, close - 1).trimmed();
    return true;
}

// Splits a "key=value" line. Comment lines and lines without "=" are not keys.
bool keyLine(const QString &line, QString *key, QString *value)
{
    const QString t = line.trimmed();
    if (t.isEmpty() || t.startsWith(QLatin1Char(';')))
        return false;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    *key = line.left(eq).trimmed();
    if (value)
        *value = line.mid(eq + 1);
    return !key->isEmpty();
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

struct Located {
    qsizetype sectionLine = -1; // index of the header, -1 when absent
    qsizetype keyLine = -1;     // index of the key's line, -1 when absent
    qsizetype lastLine = -1;    // last non-blank line of the section
};

Located locate(const QStringList &lines, const QString &section, const QString &key)
{
    Located where;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString name;
        if (sectionHeader(lines.at(i), &name)) {
            if (inSection)
                break; // the first matching section is the one that counts
            inSection = sameName(name, section);
            if (inSection) {
                where.sectionLine = i;
                where.lastLine = i;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (!lines.at(i).trimmed().isEmpty())
            where.lastLine = i;
        QString k;
        if (where.keyLine < 0 && keyLine(lines.at(i), &k, nullptr) && sameName(k, key))
            where.keyLine = i;
    }
    return where;
}

bool loadForEdit(const QString &file, QStringList *lines)
{
    if (!QFileInfo::exists(file)) {
        lines->clear();
        return true;
    }
    return textfile::readLines(file, lines);
}

bool save(const QString &file, const QStringList &lines)
{
    QFile::Permissions perms = QFileInfo::exists(file)
                                   ? QFile::permissions(file)
                                   : (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    return textfile::writeAtomically(file, textfile::joinLines(lines), perms);
}

} // namespace

ReadResult readString(const QString &file, const QString &section, const QString &key,
                      const QString &defaultText, int bufferLength)
{
    ReadResult result;
    result.text = defaultText;
    QFileInfo info(file);
    if (info.exists()) {
        QStringList lines;
        QString error;
        if (info.isDir() || !textfile::readLines(file, &lines, &error)) {
            result.ok = false;
            result.errorString = info.isDir() ? QStringLiteral("Is a directory") : error;
        } else {
            const Located where = locate(lines, section, key);
            if (where.keyLine >= 0) {
                QString k;
                keyLine(lines.at(where.keyLine), &k, &result.text);
            }
        }
    }
    if (bufferLength <= 0)
        result.text.clear();
    else if (result.text.size() > bufferLength - 1)
        result.text.truncate(bufferLength - 1);
    return result;
}

QString getString(const QString &file, const QString &section, const QString &key, const QString &defaultText,
                  int bufferLength)
{
    return readString(file, section, key, defaultText, bufferLength).text;
}

bool writeString(const QString &file, const QString &section, const QString &key, const QString &value)
{
    QStringList lines;
    if (!loadForEdit(file, &lines))
        return false;
    // A line break inside a value would split it into two lines.
    QString flat = value;
    flat.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString entry = key + QLatin1Char('=') + flat;
    const Located where = locate(lines, section, key);
    if (where.keyLine >= 0) {
        QString existing;
        keyLine(lines.at(where.keyLine), &existing, nullptr);
        lines[where.keyLine] = existing + QLatin1Char('=') + flat; // keeps the key's spelling
    } else if (where.sectionLine >= 0) {
        lines.insert(where.lastLine + 1, entry);
    } else {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines.append(QString());
        lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
        lines.append(entry);
    }
    return save(file, lines);
}

bool deleteKey(const QString &file, const QString &section, const QString &key)
{
    QStringList lines;
    if (!loadForEdit(file, &lines))
        return false;
    const Located where = locate(lines, section, key);
    if (where.keyLine < 0)
        return true;
    lines.removeAt(where.keyLine);
    return save(file, lines);
}

QStringList keys(const QString &file, const QString &section)
{
    QStringList lines;
    QStringList result;
    if (!textfile::readLines(file, &lines))
        return result;
    bool inSection = false;
    for (const QString &line : lines) {
        QString name;
        if (sectionHeader(line, &name)) {
            if (inSection)
                break;
            inSection = sameName(name, section);
            continue;
        }
        QString k;
        if (inSection && keyLine(line, &k, nullptr))
            result.append(k);
    }
    return result;
}

QStringList sections(const QString &file)
{
    QStringList lines;
    QStringList result;
    if (!textfile::readLines(file, &lines))
        return result;
    for (const QString &line : lines) {
        QString name;
        if (sectionHeader(line, &name))
            result.append(name);
    }
    return result;
}

} // namespace ini
