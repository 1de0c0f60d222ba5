#include "platform/programdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace {

bool isWritableDir(const QString &dir)
{
    QFileInfo info(dir);
    return info.isDir() && ::access(QFile::encodeName(dir).constData(), W_OK) == 0;
}

void copyTree(const QString &from, const QString &to)
{
    QFileInfo src(from);
    if (src.isDir()) {
        QDir().mkpath(to);
        const auto entries = QDir(from).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        for (const QString &entry : entries)
            copyTree(joinPath(from, entry), joinPath(to, entry));
    } else if (src.isFile() && !QFileInfo::exists(to)) {
        QFile::copy(from, to);
        // Shipped files may be read-only; the copy belongs to the user.
        QFile::setPermissions(to, QFile::permissions(to) | QFile::WriteOwner | QFile::ReadOwner);
    }
}

} // namespace

QString joinPath(const QString &dir, const QString &name)
{
    QString left = dir;
    while (left.size() > 1 && left.endsWith(QLatin1Char('/')))
        left.chop(1);
    QString right = name;
    while (right.startsWith(QLatin1Char('/')) || right.startsWith(QLatin1Char('\\')))
        right.remove(0, 1);
    if (left.isEmpty())
        return right;
    if (right.isEmpty())
        return left;
    if (left == QLatin1String("/"))
        return left + right;
    return left + QLatin1Char('/') + right;
}

ProgramDir::ProgramDir(QString path) : m_path(std::move(path)) {}

ProgramDir ProgramDir::locate(const QString &executableDir)
{
    const QByteArray overridden = qgetenv(OverrideVariable);
    if (!overridden.isEmpty()) {
        const QString dir = QFile::decodeName(overridden);
        QDir().mkpath(dir);
        return ProgramDir(QDir(dir).absolutePath());
    }
    const QString shared = sharedDataDir(executableDir);
    if (shared.isEmpty() && isWritableDir(executableDir))
        return ProgramDir(QDir(executableDir).absolutePath());

    QString dataHome = QFile::decodeName(qgetenv("XDG_DATA_HOME"));
    if (dataHome.isEmpty())
        dataHome = joinPath(QDir::homePath(), QStringLiteral(".local/share"));
    const QString dir = joinPath(dataHome, QStringLiteral("tessel-suite"));
    QDir().mkpath(dir);
    ProgramDir result(dir);
    result.seedFrom(shared.isEmpty() ? executableDir : shared, {QStringLiteral("Lang-I"), QStringLiteral("Lang"),
                                    QStringLiteral("QFTP.skn"), QStringLiteral("varnodm.swf"),
                                    QStringLiteral("QFTP.swf"), QStringLiteral("DMSplash.spl"),
                                    QStringLiteral("FTPSplash.spl"), QStringLiteral("help")});
    return result;
}

QString ProgramDir::sharedDataDir(const QString &executableDir)
{
    const QString dir = QDir::cleanPath(joinPath(executableDir, QStringLiteral("../share/tessel-suite")));
    return QFileInfo(dir).isDir() ? dir : QString();
}

QString ProgramDir::file(const QString &name) const
{
    return joinPath(m_path, name);
}

void ProgramDir::seedFrom(const QString &sourceDir, const QStringList &names) const
{
    if (QDir(sourceDir).absolutePath() == QDir(m_path).absolutePath())
        return;
    for (const QString &name : names) {
        const QString from = joinPath(sourceDir, name);
        if (QFileInfo::exists(from))
            copyTree(from, file(name));
    }
}
