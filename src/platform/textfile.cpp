#include "platform/textfile.h"

#include <QFile>
#include <QSaveFile>

namespace textfile {

QStringList splitLines(const QByteArray &content)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = content.size();
    while (start < n) {
        qsizetype end = content.indexOf('\n', start);
        qsizetype next;
        if (end < 0) {
            end = n;
            next = n;
        } else {
            next = end + 1;
        }
        qsizetype stop = end;
        if (stop > start && content.at(stop - 1) == '\r')
            --stop;
        lines.append(QString::fromUtf8(content.constData() + start, stop - start));
        start = next;
    }
    return lines;
}

QByteArray joinLines(const QStringList &lines)
{
    QByteArray out;
    for (const QString &line : lines) {
        out += line.toUtf8();
        out += "\r\n";
    }
    return out;
}

bool readLines(const QString &path, QStringList *lines, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    *lines = splitLines(file.readAll());
    return true;
}

bool writeAtomically(const QString &path, const QByteArray &content, QFileDevice::Permissions permissions,
                     QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    // The temporary file gets its final permissions before any byte is
    // written, so credentials are never readable by others, not even briefly.
    file.setPermissions(permissions);
    if (file.write(content) != content.size()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace textfile
