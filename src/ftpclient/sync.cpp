#include "ftpclient/sync.h"

#include "ftp/listing.h"
#include "ftpclient/ftpcomponent.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace {

struct RemoteTime {
    QDateTime utc; // invalid when the server gives none
    DirectorySync::Precision precision = DirectorySync::Precision::Second;
};

QDateTime localTime(const QFileInfo &info)
{
    return info.fileTime(QFileDevice::FileModificationTime).toUTC();
}

// Gives a local file the remote side's time, so that the two compare equal
// at the remote side's precision.
bool setLocalTime(const QString &path, const QDateTime &utc)
{
    if (!utc.isValid())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return file.setFileTime(utc, QFileDevice::FileModificationTime);
}

} // namespace

DirectorySync::DirectorySync(FtpComponent &ftp, std::function<Mode()> modeReader, QObject *parent)
    : QObject(parent), m_ftp(ftp), m_modeReader(std::move(modeReader))
{
}

const QList<FtpListEntry> &DirectorySync::remoteEntries() const
{
    return m_remote;
}

QDateTime DirectorySync::truncated(const QDateTime &utc, Precision precision)
{
    if (!utc.isValid())
        return utc;
    const QDateTime t = utc.toUTC();
    switch (precision) {
    case Precision::Second:
        return QDateTime(t.date(), QTime(t.time().hour(), t.time().minute(), t.time().second()), Qt::UTC);
    case Precision::Minute:
        return QDateTime(t.date(), QTime(t.time().hour(), t.time().minute()), Qt::UTC);
    case Precision::Day:
        return QDateTime(t.date(), QTime(0, 0), Qt::UTC);
    }
    return t;
}

DirectorySync::Precision DirectorySync::listPrecision(const QDateTime &listed)
{
    const QTime t = listed.toUTC().time();
    return t.hour() == 0 && t.minute() == 0 && t.second() == 0 ? Precision::Day : Precision::Minute;
}

DirectorySync::Outcome DirectorySync::SyncLocalFromRemote(const QString &localFolder, const QString &remoteFolder)
{
    return run(Direction::LocalFromRemote, localFolder, remoteFolder);
}

DirectorySync::Outcome DirectorySync::SyncRemoteFromLocal(const QString &localFolder, const QString &remoteFolder)
{
    return run(Direction::RemoteFromLocal, localFolder, remoteFolder);
}

DirectorySync::Outcome DirectorySync::run(Direction direction, const QString &localFolder,
                                          const QString &remoteFolder)
{
    const bool receiving = direction == Direction::LocalFromRemote;
    Outcome outcome;
    emit busyChanged(true);
    if (!receiving)
        emit overlayChanged(true);
    emit progressChanged(0);
    const Mode mode = m_modeReader ? m_modeReader() : Mode::ByDate;

    // A run without a connection ends before it starts.
    if (m_ftp.currentState() == FtpComponent::NotConnected) {
        outcome.error = QStringLiteral("Not connected");
        if (receiving)
            emit connectionIndicatorOff();
        emit message(QStringLiteral("Error: ") + outcome.error);
        emit busyChanged(false);
        emit relistRequested();
        if (!receiving)
            emit overlayChanged(false);
        return outcome;
    }

    const bool machineListing = m_ftp.hasMachineListing();
    const bool mdtm = m_ftp.hasModificationTime();
    // The remote time of an entry, as precisely as the server gives it.
    const auto remoteTime = [&](const FtpListEntry &e) -> RemoteTime {
        if (machineListing && e.modified.isValid())
            return {e.modified.toUTC(), Precision::Second};
        QDateTime exact;
        if (mdtm && m_ftp.remoteModified(e.name, exact))
            return {exact, Precision::Second};
        return {e.modified.isValid() ? e.modified.toUTC() : QDateTime(), listPrecision(e.modified)};
    };
    const auto failed = [&](const QString &why) {
        outcome.error = why;
        return false;
    };

    QStringList sent;
    const auto steps = [&]() -> bool {
        if (!m_ftp.changeFolder(remoteFolder))
            return failed(m_ftp.lastError().description);
        m_ftp.listingOption = 1;
        if (!m_ftp.folderContents(QString(), m_remote))
            return failed(m_ftp.lastError().description);
        const QDir local(localFolder);
        if (!local.exists())
            return failed(QStringLiteral("No folder %1").arg(localFolder));
        const QFileInfoList localEntries = local.entryInfoList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);

        if (receiving) {
            QHash<QString, QFileInfo> byName;
            for (const QFileInfo &f : localEntries)
                byName.insert(f.fileName(), f);
            for (const FtpListEntry &e : std::as_const(m_remote)) {
                if (e.kind != FtpListEntry::Kind::File)
                    continue;
                if (!isSafeLocalName(e.name)) {
                    emit message(QStringLiteral("Skipped %1: the name cannot be a local file name").arg(e.name));
                    continue;
                }
                const auto found = byName.constFind(e.name);
                std::optional<RemoteTime> time;
                if (found != byName.constEnd()) {
                    if (found->isSymLink() || found->isDir()) {
                        emit message(QStringLiteral("Skipped %1: the local name is not a plain file").arg(e.name));
                        continue;
                    }
                    bool differs = false;
                    if (mode == Mode::BySize) {
                        differs = found->size() != e.size;
                    } else {
                        time = remoteTime(e);
                        differs = time->utc.isValid()
                                  && truncated(time->utc, time->precision)
                                         > truncated(localTime(*found), time->precision);
                    }
                    if (!differs)
                        continue;
                }
                const QString path = local.filePath(e.name);
                if (!m_ftp.receiveFile(e.name, 0, path))
                    return failed(m_ftp.lastError().description);
                if (!time)
                    time = remoteTime(e);
                setLocalTime(path, time->utc);
                outcome.copied.append(e.name);
                emit fileCopied(path, e.name);
            }
        } else {
            QHash<QString, FtpListEntry> byName;
            for (const FtpListEntry &e : std::as_const(m_remote))
                byName.insert(e.name, e);
            for (const QFileInfo &f : localEntries) {
                if (f.isDir() || !f.isFile())
                    continue;
                const QString name = f.fileName();
                const auto found = byName.constFind(name);
                if (found != byName.constEnd()) {
                    if (found->kind != FtpListEntry::Kind::File) {
                        emit message(QStringLiteral("Skipped %1: the remote name is not a plain file").arg(name));
                        continue;
                    }
                    bool differs = false;
                    if (mode == Mode::BySize) {
                        differs = f.size() != found->size;
                    } else {
                        const RemoteTime time = remoteTime(*found);
                        differs = !time.utc.isValid()
                                  || truncated(localTime(f), time.precision) > truncated(time.utc, time.precision);
                    }
                    if (!differs)
                        continue;
                }
                if (!m_ftp.sendFile(f.filePath(), 0, name, false))
                    return failed(m_ftp.lastError().description);
                sent.append(name);
                outcome.copied.append(name);
                emit fileCopied(f.filePath(), name);
            }
        }
        return true;
    };
    outcome.completed = steps();

    // A sent file takes the time the server gave it, so the next run in
    // either direction finds the two sides equal.
    if (!sent.isEmpty()) {
        QList<FtpListEntry> after;
        const bool relisted = (machineListing || !mdtm) && m_ftp.folderContents(QString(), after);
        QHash<QString, FtpListEntry> byName;
        for (const FtpListEntry &e : std::as_const(after))
            byName.insert(e.name, e);
        for (const QString &name : std::as_const(sent)) {
            FtpListEntry entry;
            entry.name = name;
            if (relisted)
                entry = byName.value(name, entry);
            const RemoteTime time = remoteTime(entry);
            setLocalTime(QDir(localFolder).filePath(name), time.utc);
        }
    }

    if (!outcome.completed) {
        if (receiving) {
            if (!outcome.error.isEmpty())
                emit message(outcome.error);
        } else {
            emit message(QStringLiteral("Cannot read the contents of ") + localFolder);
        }
    }
    emit busyChanged(false);
    emit relistRequested();
    emit progressChanged(0);
    emit status(receiving ? QStringLiteral("Local Directory Sync Complete")
                          : QStringLiteral("Remote Directory Sync Complete"));
    emit busyChanged(false);
    emit relistRequested();
    if (!receiving)
        emit overlayChanged(false);
    return outcome;
}
