#include "platform/autostart.h"

#include "platform/programdir.h"
#include "platform/textfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

Autostart::Autostart(QString directory) : m_directory(std::move(directory)) {}

QString Autostart::defaultDirectory()
{
    QString configHome = QFile::decodeName(qgetenv("XDG_CONFIG_HOME"));
    if (configHome.isEmpty())
        configHome = joinPath(QDir::homePath(), QStringLiteral(".config"));
    return joinPath(configHome, QStringLiteral("autostart"));
}

QString Autostart::entryPath(const QString &name) const
{
    QString file = name;
    file.replace(QLatin1Char('/'), QLatin1Char('_'));
    return joinPath(m_directory, file + QStringLiteral(".desktop"));
}

QString Autostart::quoteExec(const QString &path)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (QChar c : path) {
        if (reserved.contains(c)) {
            needsQuotes = true;
            break;
        }
    }
    QString out;
    for (QChar c : path) {
        if (c == QLatin1Char('%'))
            out += QStringLiteral("%%"); // field codes start with %
        else if (needsQuotes && (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$')
                                 || c == QLatin1Char('\\')))
            out += QLatin1Char('\\') + QString(c);
        else
            out += c;
    }
    return needsQuotes ? QLatin1Char('"') + out + QLatin1Char('"') : out;
}

bool Autostart::install(const QString &name, const QString &executablePath)
{
    if (!QDir().mkpath(m_directory))
        return false;
    QString displayName = name;
    displayName.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    const QStringList lines = {
        QStringLiteral("[Desktop Entry]"),
        QStringLiteral("Type=Application"),
        QStringLiteral("Name=") + displayName,
        QStringLiteral("Exec=") + quoteExec(executablePath),
        QStringLiteral("X-GNOME-Autostart-enabled=true"),
        QStringLiteral("Terminal=false"),
    };
    QByteArray content;
    for (const QString &line : lines)
        content += line.toUtf8() + '\n'; // desktop entries use plain LF
    return textfile::writeAtomically(entryPath(name), content);
}

bool Autostart::remove(const QString &name)
{
    const QString path = entryPath(name);
    if (!QFileInfo::exists(path))
        return true;
    return QFile::remove(path);
}

bool Autostart::isInstalled(const QString &name) const
{
    return QFileInfo::exists(entryPath(name));
}

QString Autostart::installedExecutable(const QString &name) const
{
    QStringList lines;
    if (!textfile::readLines(entryPath(name), &lines))
        return {};
    for (const QString &line : lines) {
        if (!line.startsWith(QLatin1String("Exec=")))
            continue;
        QString exec = line.mid(5);
        if (exec.startsWith(QLatin1Char('"')) && exec.endsWith(QLatin1Char('"')) && exec.size() >= 2) {
            exec = exec.mid(1, exec.size() - 2);
            QString out;
            for (qsizetype i = 0; i < exec.size(); ++i) {
                if (exec.at(i) == QLatin1Char('\\') && i + 1 < exec.size())
                    ++i;
                out += exec.at(i);
            }
            exec = out;
        }
        exec.replace(QStringLiteral("%%"), QStringLiteral("%"));
        return exec;
    }
    return {};
}
