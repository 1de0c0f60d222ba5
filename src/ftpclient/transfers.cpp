#include "ftpclient/transfers.h"

#include "config/cregister.h"
#include "ftpclient/ftpcomponent.h"
#include "ftpclient/remoteops.h"
#include "platform/prompts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

const QString ConfirmTitle = QStringLiteral("FTP Client[Confirm]");

bool sameDate(const QDateTime &remote, const QDateTime &local)
{
    if (!remote.isValid() || !local.isValid())
        return false;
    const QDateTime r = remote.toUTC();
    QDateTime l = local.toUTC();
    // A LIST date stops at the minute; MLSD gives seconds.
    const bool minutes = r.time().second() == 0 && r.time().msec() == 0;
    const QTime t = l.time();
    l.setTime(minutes ? QTime(t.hour(), t.minute()) : QTime(t.hour(), t.minute(), t.second()));
    return QDateTime(r.date(), QTime(r.time().hour(), r.time().minute(), r.time().second()), Qt::UTC) == l;
}

} // namespace

// ---- the pure rules ----

QStringList parseAutoTypes(const QString &value)
{
    return value.split(QLatin1Char(';'));
}

int automaticType(const QString &fileName, const QStringList &autoTypes)
{
    const QString name = QFileInfo(fileName).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : name.mid(dot + 1).toLower();
    int type = 0;
    for (const QString &entry : autoTypes)
        if (entry == extension)
            type = 1;
    return type;
}

std::optional<FtpListEntry> findConflictingEntry(const QString &name, qint64 localSize, const QDateTime &localDate,
                                                 const QList<FtpListEntry> &remote)
{
    for (const FtpListEntry &entry : remote) {
        if (entry.name != name)
            continue;
        if (entry.size != localSize || !sameDate(entry.modified, localDate))
            return entry;
    }
    return std::nullopt;
}

SendDecision decisionForAnswer(ExistAnswer answer, qint64 remoteSize)
{
    switch (answer) {
    case ExistAnswer::Overwrite:
        return {false, false, 0};
    case ExistAnswer::Resume:
        return {false, true, std::max<qint64>(0, remoteSize)};
    case ExistAnswer::Skip:
    case ExistAnswer::Cancel:
        break;
    }
    return {true, false, 0};
}

ExistRequest existRequest(const QString &name, const FtpListEntry &remote, qint64 localSize,
                          const QDateTime &localDate)
{
    return {name,
            QStringLiteral("Destination File Size:") + QLatin1Char(' ') + QString::number(std::max<qint64>(0, remote.size))
                + QStringLiteral(" Last Modified: ") + RemoteListModel::dateText(remote.modified),
            QStringLiteral("Source File Size:") + QLatin1Char(' ') + QString::number(localSize) + QLatin1Char(' ')
                + QStringLiteral("Last Modified:") + QLatin1Char(' ') + RemoteListModel::dateText(localDate)};
}

QString transferStatusText(qint32 state, const QString &name, qint64 fileSize, qint64 bytesDone)
{
    QString what = QStringLiteral("Processing file '");
    if (state == FtpComponent::SendingFiles || state == FtpComponent::Sending)
        what = QStringLiteral("Uploading file '");
    else if (state == FtpComponent::ReceivingFiles || state == FtpComponent::Receiving)
        what = QStringLiteral("Downloading file '");
    return what + name + QStringLiteral("' (") + QString::number(std::max<qint64>(0, bytesDone) / 1024)
           + QStringLiteral(" of ") + QString::number(std::max<qint64>(0, fileSize) / 1024) + QStringLiteral("K)");
}

QString rateText(qint64 bytesPerSecond, qint64 secondsLeft)
{
    if (bytesPerSecond < 0)
        return {};
    const double rate = double(bytesPerSecond);
    QString text;
    if (rate < 1024.0)
        text = QString::number(bytesPerSecond) + QStringLiteral(" Bytes/s");
    else if (rate < 1048576.0)
        text = QString::number(rate / 1024.0, 'f', 2) + QStringLiteral(" KB/s");
    else
        text = QString::number(rate / 1048576.0, 'f', 2) + QStringLiteral(" MB/s");
    if (secondsLeft >= 0)
        text += QStringLiteral(", %1:%2:%3 left")
                    .arg(secondsLeft / 3600, 2, 10, QLatin1Char('0'))
                    .arg(secondsLeft / 60 % 60, 2, 10, QLatin1Char('0'))
                    .arg(secondsLeft % 60, 2, 10, QLatin1Char('0'));
    return text;
}

QString skippedFileText(const QString &first, const QString &second, int reason)
{
    return (first.isEmpty() ? second : first) + QStringLiteral(" was skipped. Reason code: 0x")
           + QString::number(quint32(reason), 16).toUpper();
}

// ---- Transfers ----

class Transfers::BusyScope {
public:
    explicit BusyScope(Transfers *t) : m_t(t)
    {
        if (m_t->m_busyDepth++ == 0)
            emit m_t->busyChanged(true);
    }
    ~BusyScope()
    {
        if (--m_t->m_busyDepth == 0)
            emit m_t->busyChanged(false);
    }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    Transfers *m_t;
};

Transfers::Transfers(Services services, QObject *parent)
    : QObject(parent), m_services(std::move(services)), m_autoTypes(parseAutoTypes(QString::fromLatin1(DefaultAutoTypes)))
{
    if (!m_services.clock) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        m_services.clock = [timer] { return timer->elapsed(); };
    }
    connectComponent();
}

Transfers::~Transfers() = default;

qint64 Transfers::now() const
{
    return m_services.clock();
}

QString Transfers::errorDescription() const
{
    return m_services.xFtp->lastError().description;
}

void Transfers::connectComponent()
{
    FtpComponent *ftp = m_services.xFtp;
    connect(ftp, &FtpComponent::transferStatus, this,
            [this](const QString &first, const QString &, qint64 fileSize, qint64 bytesDone, int percent, qint64,
                   qint64) { onTransferStatus(first, fileSize, bytesDone, percent); });
    connect(ftp, &FtpComponent::receivingFile, this,
            [this](const QString &name) { emit status(QStringLiteral("Receiving ") + name); });
    connect(ftp, &FtpComponent::sendingFile, this,
            [this](const QString &name) { emit status(QStringLiteral("Sending ") + name); });
    connect(ftp, &FtpComponent::scanningFolder, this,
            [this](const QString &name) { emit status(QStringLiteral("Scanning this folder ") + name); });
    connect(ftp, &FtpComponent::skippingFile, this, [this](const QString &first, const QString &second, int reason) {
        emit message(skippedFileText(first, second, reason));
    });
    // Answered while the component waits: a direct connection.
    connect(
        ftp, &FtpComponent::replacingFile, this,
        [this](const QString &name, bool *replace) {
            *replace = m_services.prompts->ask(name + QStringLiteral(" already exits. Do you want to replace it?"),
                                               ConfirmTitle, PromptButtons::YesNo, PromptIcon::Question,
                                               m_services.owner)
                       == PromptAnswer::Yes;
        },
        Qt::DirectConnection);
}

void Transfers::onTransferStatus(const QString &name, qint64 fileSize, qint64 bytesDone, int percent)
{
    emit status(transferStatusText(m_services.xFtp->currentState(), name, fileSize, bytesDone));
    emit progress(qBound(0, percent, 100));

    // The rate of the running file since its first status.
    const qint64 t = now();
    if (name != m_rateName || m_rateStart < 0 || bytesDone < m_rateLastBytes) {
        m_rateName = name;
        m_rateStart = t;
        m_rateStartBytes = bytesDone;
    }
    m_rateLastBytes = bytesDone;
    const qint64 elapsed = t - m_rateStart;
    if (elapsed <= 0 || bytesDone <= m_rateStartBytes) {
        emit rate(-1, -1);
        return;
    }
    const qint64 perSecond = (bytesDone - m_rateStartBytes) * 1000 / elapsed;
    const qint64 left = fileSize > bytesDone && perSecond > 0 ? (fileSize - bytesDone + perSecond - 1) / perSecond
                                                              : (fileSize > bytesDone ? -1 : 0);
    emit rate(perSecond, left);
}

void Transfers::resetRate()
{
    m_rateName.clear();
    m_rateStart = -1;
    m_rateStartBytes = m_rateLastBytes = 0;
    emit rate(0, 0);
}

void Transfers::setMode(TransferMode mode)
{
    m_mode = mode;
    switch (mode) {
    case TransferMode::Ascii:
        m_services.xFtp->representationType = 1;
        m_auto = false;
        break;
    case TransferMode::Binary:
        m_services.xFtp->representationType = 0;
        m_auto = false;
        break;
    case TransferMode::Auto:
        m_auto = true;
        break;
    }
}

void Transfers::LoadAutoTypes()
{
    const QString fallback = QString::fromLatin1(DefaultAutoTypes);
    const QString value =
        m_services.reg ? m_services.reg->REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection,
                                                       QStringLiteral("Auto Mode Types"), fallback)
                       : fallback;
    m_autoTypes = parseAutoTypes(value);
}

// ---- sending ----

bool Transfers::SendFileAutoMode(const QString &file)
{
    if (m_mode == TransferMode::Auto)
        m_services.xFtp->representationType = automaticType(file, m_autoTypes);
    return m_services.xFtp->sendFile(file, 0, QFileInfo(file).fileName(), false);
}

bool Transfers::SendFolderTree(const QString &folderPath, const QString &remoteName, bool *entered)
{
    if (entered)
        *entered = false;
    QString path = folderPath;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    FtpComponent *ftp = m_services.xFtp;
    if (ftp->currentState() != FtpComponent::Idle)
        return true;
    const QString name = remoteName.isEmpty() ? QDir(path).dirName() : remoteName;

    QList<FtpListEntry> here;
    if (!ftp->folderContents(QString(), here))
        return false;
    bool exists = false;
    for (const FtpListEntry &e : std::as_const(here))
        exists = exists || e.name.toLower() == name.toLower();
    if (!exists && !ftp->createFolder(name))
        return false;
    if (!m_services.remote->ChangeCurrentRemoteFolder(name, true))
        return true; // nothing of this folder is sent; not a failure
    if (entered)
        *entered = true;

    QStringList folders;
    const QFileInfoList entries = QDir(path).entryInfoList(
        QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir()) {
            // A linked folder could lead back up the tree: never followed.
            if (!entry.isSymLink())
                folders.append(entry.fileName());
            continue;
        }
        if (!SendFileAutoMode(path + entry.fileName()))
            return false;
    }
    for (const QString &folder : std::as_const(folders)) {
        bool inside = false;
        if (!SendFolderTree(path + folder + QLatin1Char('/'), QString(), &inside))
            return false;
        if (inside)
            m_services.remote->GoUpOneLevel();
    }
    return true;
}

bool Transfers::sendFileRow(const QString &path, const QString &name)
{
    FtpComponent *ftp = m_services.xFtp;
    SendDecision decision;
    QList<FtpListEntry> remote;
    if (!ftp->folderContents(QString(), remote))
        return false;
    const QFileInfo local(path);
    if (const auto conflict = findConflictingEntry(name, local.size(), local.lastModified(), remote)) {
        ExistAnswer answer = m_lastAnswer;
        if (!m_checkAll) {
            const ExistRequest request = existRequest(name, *conflict, local.size(), local.lastModified());
            const ExistReply reply = m_services.existPrompt ? m_services.existPrompt(request) : ExistReply{};
            answer = reply.eResumeFile;
            m_lastAnswer = answer;
            m_checkAll = reply.applyToAll;
        }
        decision = decisionForAnswer(answer, conflict->size);
        if (answer == ExistAnswer::Cancel) {
            m_cancelled = true;
            m_services.remote->Abort();
        }
    }
    if (m_auto)
        ftp->representationType = automaticType(name, m_autoTypes);
    if (decision.skip) {
        emit message(QStringLiteral("Skiped sending file:") + QLatin1Char(' ') + name);
        return true;
    }
    return ftp->sendFile(path, decision.offset, name, decision.continueFile);
}

void Transfers::SendSelectedFiles(const QString &localPath, const QList<LocalItem> &selected)
{
    m_checkAll = false;
    m_cancelled = false;
    BusyScope busy(this);
    emit abortEnabled(true);
    FtpComponent *ftp = m_services.xFtp;
    QString base = localPath;
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');

    // A folder tree send that stops half-way leaves a folder inside the
    // tree current; the send returns to where it began.
    QString start;
    ftp->currentFolder(start);
    bool ok = true;
    for (const LocalItem &item : selected) {
        const QString path = base + item.name;
        const QString remoteName = item.text.isEmpty() ? item.name : item.text;
        if (item.kind == LocalKind::Folder) {
            const bool yes =
                m_services.prompts->ask(QStringLiteral("Do you want to send any subfolders that are contained in the '")
                                            + path + QStringLiteral("' folder?"),
                                        ConfirmTitle, PromptButtons::YesNo, PromptIcon::Question, m_services.owner)
                == PromptAnswer::Yes;
            if (yes && m_auto) {
                bool entered = false;
                ok = SendFolderTree(path, remoteName, &entered);
                // Back to the starting remote folder for the next rows.
                if (ok && entered)
                    m_services.remote->GoUpOneLevel();
            } else {
                ok = ftp->sendFiles(path + QStringLiteral("/*"), remoteName, true, yes);
            }
        } else {
            ok = sendFileRow(path, remoteName);
        }
        if (!ok)
            break;
    }
    if (ok && m_cancelled) {
        // "&Cancel" on the last conflicting file: no later call used up the
        // abort, so the send ends as aborted here and the abort is cleared.
        ftp->setAbort(false);
        emit message(QStringLiteral("Upload successfully aborted."));
        emit status(QStringLiteral("Upload aborted."));
    } else if (ok) {
        emit status(QStringLiteral("Upload complete"));
    } else if (ftp->lastError().number == FtpErrors::Aborted) {
        emit message(QStringLiteral("Upload successfully aborted."));
        emit status(QStringLiteral("Upload aborted."));
    } else {
        emit message(QStringLiteral("Error while uploading file(s). Description: ") + errorDescription());
        emit status(QStringLiteral("Error while uploading file(s)."));
    }
    QString now;
    if (!ok && !start.isEmpty() && ftp->currentFolder(now) && now != start)
        m_services.remote->ChangeCurrentRemoteFolder(start, false);
    finishSend();
}

void Transfers::finishSend()
{
    emit progress(0);
    resetRate();
    emit abortEnabled(false);
    m_services.remote->RefreshRemoteList();
}

// ---- receiving ----

void Transfers::ReceiveSelectedFiles(const QString &localPath, const QList<int> &selectedRows)
{
    BusyScope busy(this);
    emit abortEnabled(true);
    FtpComponent *ftp = m_services.xFtp;
    QString base = localPath;
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');

    const QList<RemoteRow> rows = m_services.remote->pane()->rowsAt(selectedRows);

    bool ok = true;
    QString description;
    quint32 number = 0;
    for (const RemoteRow &row : std::as_const(rows)) {
        if (!isSafeLocalName(row.name)) {
            // A listing name never becomes a path outside the local folder.
            emit message(row.name + QStringLiteral(" was skipped: the name cannot be used as a local file name."));
            continue;
        }
        if (row.kind == RemoteKind::Folder) {
            const QString folder = base + row.name + QLatin1Char('/');
            // Fails when the folder exists already, which ends the receive.
            if (::mkdir(QFile::encodeName(base + row.name).constData(), 0777) != 0) {
                ok = false;
                description = QString::fromLocal8Bit(std::strerror(errno));
                break;
            }
            const bool recurse =
                m_services.prompts->ask(QStringLiteral("Do you want to receive any subfolders that are contained in "
                                                       "the '")
                                            + row.name + QStringLiteral("' folder?"),
                                        ConfirmTitle, PromptButtons::YesNo, PromptIcon::Question, m_services.owner)
                == PromptAnswer::Yes;
            ok = ftp->receiveFiles(row.name + QStringLiteral("/*"), folder, recurse);
        } else {
            ok = ftp->receiveFile(row.name, 0, base + row.name);
        }
        if (!ok) {
            number = ftp->lastError().number;
            description = errorDescription();
            break;
        }
    }
    if (ok) {
        emit status(QStringLiteral("File download(s) complete."));
    } else if (number == FtpErrors::Aborted) {
        emit message(QStringLiteral("Download successfully aborted."));
        emit status(QStringLiteral("Download aborted."));
    } else {
        emit message(QStringLiteral("Error while downloading file(s). Description: ") + description);
        emit status(QStringLiteral("Error downloading file(s)."));
    }
    emit progress(0);
    resetRate();
    emit abortEnabled(false);
    emit localRelistRequested();
}
