#include "ftpclient/translog.h"

#include "config/cregister.h"
#include "ftpclient/options.h"
#include "platform/programdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr QFileDevice::Permissions OwnerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions OwnerOnlyFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

QString logFolder(const QString &programDir)
{
    return joinPath(programDir, QStringLiteral("log"));
}

QString storedName(const CRegister *reg)
{
    return reg ? reg->REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection, OptionKeys::LogFileName,
                                    OptionDefaults::LogFileName)
               : OptionDefaults::LogFileName;
}

// Makes everything in a folder writable so that read-only files go too.
void makeWritable(const QString &folder)
{
    const QDir dir(folder);
    const QFileInfoList all = dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo &f : all) {
        if (f.isSymLink())
            continue;
        QFile::setPermissions(f.filePath(), f.permissions() | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        if (f.isDir())
            makeWritable(f.filePath());
    }
}

} // namespace

TransferLog::TransferLog(QString programDir, const CRegister *reg, Clock clock)
    : m_programDir(std::move(programDir)), m_reg(reg), m_clock(std::move(clock))
{
    if (!m_clock)
        m_clock = [] { return QDateTime::currentDateTime(); };
}

QString TransferLog::folderPath() const
{
    return logFolder(m_programDir);
}

QString TransferLog::fileNameFor(const QString &logFileName)
{
    // The name may carry "\" from a hand-edited value; only its last part counts.
    QString name = logFileName;
    name.replace(u'\\', u'/');
    QString base = QFileInfo(name).completeBaseName();
    if (base.isEmpty() || base == QLatin1String(".") || base == QLatin1String(".."))
        base = QFileInfo(OptionDefaults::LogFileName).completeBaseName();
    return base + QStringLiteral(".log");
}

QString TransferLog::filePath() const
{
    return joinPath(folderPath(), fileNameFor(storedName(m_reg)));
}

QByteArray TransferLog::record(const QDateTime &localTime, const QString &message)
{
    QByteArray out = "#" + localTime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toUtf8() + "#\r\n";
    out += '"' + message.toUtf8() + "\"\r\n";
    return out;
}

bool TransferLog::write(const QString &message, QString *error) const
{
    const QString folder = folderPath();
    if (!QFileInfo(folder).isDir()) {
        if (!QDir().mkpath(folder)) {
            if (error)
                *error = QStringLiteral("Path not found: %1").arg(folder);
            return false;
        }
        QFile::setPermissions(folder, OwnerOnlyFolder);
    }
    const QString path = filePath();
    QFile file(path);
    // A new file is created owner-only from the start; an existing one is
    // appended to as it is.
    const bool opened = QFileInfo::exists(path) ? file.open(QIODevice::WriteOnly | QIODevice::Append)
                                                : file.open(QIODevice::WriteOnly | QIODevice::Append, OwnerOnlyFile);
    if (!opened) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = record(m_clock(), message);
    const bool ok = file.write(bytes) == bytes.size();
    file.close();
    if (!ok || file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool TransferLog::maintain(const QString &programDir, const CRegister &reg, QString *error, int *errorNumber)
{
    const CorvaneOptions options = CorvaneOptions::load(reg);
    const QString folder = logFolder(programDir);
    if (options.deleteLogOnStartup) {
        if (!QFileInfo(folder).isDir())
            return true;
        makeWritable(folder);
        if (!QDir(folder).removeRecursively()) {
            if (error)
                *error = QStringLiteral("Permission denied: %1").arg(folder);
            if (errorNumber)
                *errorNumber = int(QFileDevice::RemoveError);
            return false;
        }
        return true;
    }
    if (!options.deleteLogIfSizeExceeds)
        return true;
    bool numeric = false;
    qint64 limit = options.logFileSize.trimmed().toLongLong(&numeric);
    if (!numeric)
        limit = OptionDefaults::LogFileSize.toLongLong();
    const QFileInfo log(joinPath(folder, fileNameFor(options.logFileName)));
    if (!log.exists() || log.size() <= limit)
        return true;
    QFile file(log.filePath());
    file.setPermissions(file.permissions() | QFileDevice::WriteOwner);
    if (!file.remove()) {
        if (error)
            *error = file.errorString();
        if (errorNumber)
            *errorNumber = int(file.error());
        return false;
    }
    // The folder goes when the log was all it held.
    QDir().rmdir(folder);
    return true;
}
