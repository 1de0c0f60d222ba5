#include "ftpclient/remoteops.h"

#include "ftp/listing.h"
#include "ftpclient/ftpcomponent.h"
#include "platform/prompts.h"

namespace {

const QString ProgramTitle = QStringLiteral("FTP Client");
const QString ConfirmTitle = ProgramTitle + QStringLiteral("[Confirm]");

// Three octal digits written as a decimal number (755), or -1.
QString modeText(int mode)
{
    if (mode < 0 || mode > 777)
        return {};
    const QString digits = QString::number(mode).rightJustified(3, QLatin1Char('0'));
    for (QChar c : digits)
        if (c > QLatin1Char('7'))
            return {};
    return digits;
}

} // namespace

// Marks an operation as running for the hourglass; nested operations count.
class RemoteOps::BusyScope {
public:
    explicit BusyScope(RemoteOps *ops) : m_ops(ops)
    {
        if (m_ops->m_busyDepth++ == 0)
            emit m_ops->busyChanged(true);
    }
    ~BusyScope()
    {
        if (--m_ops->m_busyDepth == 0)
            emit m_ops->busyChanged(false);
    }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    RemoteOps *m_ops;
};

RemoteOps::RemoteOps(Services services, QObject *parent) : QObject(parent), m_services(std::move(services))
{
    connect(m_services.xFtp, &FtpComponent::listingEntry, &m_pane, &RemoteListModel::addEntry);
}

RemoteOps::~RemoteOps() = default;

QString RemoteOps::errorDescription() const
{
    return m_services.xFtp->lastError().description;
}

bool RemoteOps::abortedNow()
{
    if (m_services.xFtp->lastError().number == FtpErrors::Aborted)
        m_aborted = true;
    return m_aborted;
}

void RemoteOps::Abort()
{
    if (m_services.abort)
        m_services.abort();
    else
        m_services.xFtp->setAbort(true);
}

// ---- remote folder ----

QString RemoteOps::GetRemoteFolder()
{
    QString folder;
    if (!m_services.xFtp->currentFolder(folder)) {
        emit message(QStringLiteral("Error while querying current remote folder. Description: ") + errorDescription());
        return {};
    }
    return folder;
}

bool RemoteOps::ChangeCurrentRemoteFolder(const QString &sNewRemotePath, bool bInteractive)
{
    FtpComponent *ftp = m_services.xFtp;
    if (!ftp->changeFolder(sNewRemotePath)) {
        if (bInteractive) {
            emit message(QStringLiteral("Error while attempting to change current remote folder to '") + sNewRemotePath
                         + QStringLiteral("'. Description: ") + errorDescription());
            emit status(QStringLiteral("Could not change current remote folder."));
        }
        return false;
    }
    QString folder;
    if (!ftp->currentFolder(folder)) {
        if (bInteractive) {
            emit message(QStringLiteral("Error obtaining new current remote folder while attempting to change current "
                                        "remote folder to '")
                         + sNewRemotePath + QStringLiteral("'. Description: ") + errorDescription());
            emit status(QStringLiteral("Current folder changed but new path unknown."));
        }
        return false;
    }
    emit remotePathAdded(folder);
    emit status(QStringLiteral("Remote folder changed to ") + folder);
    return true;
}

bool RemoteOps::GoUpOneLevel()
{
    FtpComponent *ftp = m_services.xFtp;
    QString before;
    if (!ftp->currentFolder(before) || !ftp->changeToParentFolder()) {
        emit message(QStringLiteral("Error while attempting to change current remote folder to its parent folder. "
                                    "Description: ")
                     + errorDescription());
        emit status(QStringLiteral("Could not change to remote folder's parent."));
        return false;
    }
    const QString after = GetRemoteFolder();
    if (after == before) {
        emit status(QStringLiteral("Remote path already at a root folder."));
        return false;
    }
    if (!ChangeCurrentRemoteFolder(after, true))
        return false;
    ClearRemoteList();
    ListFilesOnServer();
    emit remoteCommandsChanged();
    emit status(QStringLiteral("Remote path now up one folder."));
    return true;
}

void RemoteOps::RemotePathEntered(const QString &text)
{
    if (text == GetRemoteFolder())
        return;
    EnterRemoteFolder(text, true);
}

bool RemoteOps::EnterRemoteFolder(const QString &name, bool bInteractive)
{
    if (!ChangeCurrentRemoteFolder(name, bInteractive))
        return false;
    ClearRemoteList();
    ListFilesOnServer();
    emit remoteCommandsChanged();
    return true;
}

// ---- listing ----

void RemoteOps::ClearRemoteList()
{
    m_pane.clear();
}

void RemoteOps::ListFilesOnServer()
{
    FtpComponent *ftp = m_services.xFtp;
    emit abortEnabled(true);
    ftp->listingOption = 1;
    emit status(QStringLiteral("Obtaining remote folder's contents..."));
    if (!ftp->listFolderContents(QString())) {
        emit message(QStringLiteral("Error while listing remote folder's contents. Description: ")
                     + errorDescription());
        emit status(QStringLiteral("Could not list remote folder's contents."));
        emit abortEnabled(false);
        return;
    }
    emit abortEnabled(false);
    emit status(QStringLiteral("Listing of remote folder completed."));
}

void RemoteOps::ListDefinedFilesOnServer(const QString &defineString)
{
    BusyScope busy(this);
    FtpComponent *ftp = m_services.xFtp;
    ftp->listingOption = 1;
    emit status(QStringLiteral("Obtaining directory listing..."));
    if (!ftp->listFolderContents(defineString) && !errorDescription().isEmpty())
        emit message(QStringLiteral("Error ") + errorDescription());
}

void RemoteOps::RefreshRemoteList()
{
    BusyScope busy(this);
    ClearRemoteList();
    emit abortEnabled(true);
    ListFilesOnServer();
    emit abortEnabled(false);
    emit remotePathShown(GetRemoteFolder());
}

void RemoteOps::ShowAllFiles()
{
    BusyScope busy(this);
    ClearRemoteList();
    emit abortEnabled(true);
    ListFilesOnServer();
    emit abortEnabled(false);
}

void RemoteOps::DefineTypes()
{
    BusyScope busy(this);
    const QString mask = m_services.prompts
                             ->input({QStringLiteral("Please enter the type ex: *.gif"),
                                      QStringLiteral("Define Type For Remote Server Directory Listing"),
                                      QStringLiteral("*.*"), false, m_services.owner})
                             .value_or(QString());
    if (mask.isEmpty()) {
        m_services.prompts->inform(QStringLiteral("No command entered,quiting"), m_services.appTitle,
                                   PromptIcon::Information, m_services.owner);
        return;
    }
    ClearRemoteList();
    emit abortEnabled(true);
    ListDefinedFilesOnServer(mask);
    emit abortEnabled(false);
}

// ---- delete ----

void RemoteOps::DeleteSelectedRemoteItems(const QList<int> &selectedRows)
{
    BusyScope busy(this);
    const bool yes = m_services.prompts->ask(QStringLiteral("Are you sure you want to delete the selected remote items?"),
                                             ConfirmTitle, PromptButtons::YesNo, PromptIcon::Question,
                                             m_services.owner)
                     == PromptAnswer::Yes;
    // The overlay keeps showing the starting folder while the pane follows
    // the walk through the trees.
    CopyRemoteListToDelList(m_pane, m_overlay);
    emit overlayVisible(true);
    if (yes) {
        // The pane changes during the walk: take names and kinds first.
        const QList<RemoteRow> chosen = m_pane.rowsAt(selectedRows);
        QString start;
        m_services.xFtp->currentFolder(start);
        m_aborted = false;
        for (const RemoteRow &row : chosen) {
            if (row.kind == RemoteKind::Folder) {
                deleteTree(row.name);
                if (!m_aborted)
                    continue;
                // Stopped somewhere inside the tree: back to where the
                // delete began, and nothing more is deleted.
                emit message(QStringLiteral("Error: ") + errorDescription());
                if (!start.isEmpty())
                    ChangeCurrentRemoteFolder(start, false);
                RefreshRemoteList();
                emit overlayVisible(false);
                return;
            }
            // Files, and links as links: the link's own name is deleted.
            if (!m_services.xFtp->deleteFile(row.name)) {
                if (!errorDescription().isEmpty())
                    emit message(QStringLiteral("Error: ") + errorDescription());
                emit overlayVisible(false);
                return;
            }
        }
        if (!chosen.isEmpty())
            RefreshRemoteList();
    }
    emit overlayVisible(false);
}

void RemoteOps::DeleteRemoteFolderRec(const QString &Path)
{
    BusyScope busy(this);
    m_aborted = false;
    deleteTree(Path);
}

void RemoteOps::deleteTree(const QString &Path)
{
    // A name that is not one plain component could lead anywhere on the
    // server ("..", "a/b"): such a folder is never entered.
    if (m_aborted || !isSafeLocalName(Path))
        return;
    if (!ChangeCurrentRemoteFolder(Path, true)) {
        abortedNow();
        return;
    }
    ClearRemoteList();
    emit abortEnabled(true);
    ListFilesOnServer();
    emit abortEnabled(false);
    emit remoteCommandsChanged();

    QStringList folders;
    const QList<RemoteRow> rows = m_aborted || abortedNow() ? QList<RemoteRow>() : m_pane.rows();
    for (const RemoteRow &row : rows) {
        if (row.kind == RemoteKind::Folder) {
            folders.append(row.name);
            continue;
        }
        // A file, or a link removed as a link and never followed; a failure
        // here is passed over, an abort ends the walk.
        if (!m_services.xFtp->deleteFile(row.name) && abortedNow())
            break;
    }
    for (const QString &folder : std::as_const(folders)) {
        if (m_aborted)
            break;
        deleteTree(folder);
    }
    if (m_aborted)
        return;
    // Only once back in the parent is the folder itself removed; when the
    // way up fails, nothing of the same name below is touched.
    if (GoUpOneLevel()) {
        if (!m_services.xFtp->removeFolder(Path))
            abortedNow();
    } else {
        abortedNow();
    }
}

// ---- rename, create, move, go to, permissions ----

void RemoteOps::RenameRemoteItem(int row)
{
    if (row < 0 || row >= m_pane.rowCount())
        return;
    BusyScope busy(this);
    const QString name = m_pane.row(row).name;
    if (m_services.prompts->ask(QStringLiteral("Rename remote file ") + name + QLatin1Char('?'), ConfirmTitle,
                                PromptButtons::YesNo, PromptIcon::Question, m_services.owner)
        != PromptAnswer::Yes) {
        emit status(QStringLiteral("Remote file not renamed."));
        return;
    }
    const QString answer =
        m_services.prompts->input({QStringLiteral("Rename remote file to : "), ProgramTitle, {}, false, m_services.owner})
            .value_or(QString());
    if (answer.isEmpty()) {
        m_services.prompts->inform(QStringLiteral("You can not rename the folder/file to empty string"),
                                   m_services.appTitle, PromptIcon::Error, m_services.owner);
        return;
    }
    if (!m_services.xFtp->rename(name, answer)) {
        emit message(QStringLiteral("Error renaming remote file: ") + errorDescription());
        emit status(QStringLiteral("Remote file not renamed."));
        RefreshRemoteList();
        return;
    }
    RefreshRemoteList();
    emit status(QStringLiteral("Remote file renamed."));
}

void RemoteOps::CreateRemoteFolder()
{
    BusyScope busy(this);
    const QString answer = m_services.prompts
                               ->input({QStringLiteral("Enter the name of the folder you want to create."),
                                        ProgramTitle, {}, false, m_services.owner})
                               .value_or(QString());
    // An empty answer goes to the server too; its refusal is the failure path.
    if (!m_services.xFtp->createFolder(answer)) {
        emit message(QStringLiteral("Error creating remote folder: ") + errorDescription());
        emit status(QStringLiteral("Remote folder not created."));
        RefreshRemoteList();
        return;
    }
    emit status(QStringLiteral("Remote folder created."));
    RefreshRemoteList();
}

void RemoteOps::MoveSelectedRemoteItems(const QList<int> &selectedRows, int focusRow)
{
    if (m_services.xFtp->currentState() != FtpComponent::Idle)
        return;
    BusyScope busy(this);
    if (m_services.prompts->ask(QStringLiteral("Move remote files / folders") + QLatin1Char(' ')
                                    + m_pane.row(focusRow).name + QLatin1Char('?'),
                                ConfirmTitle, PromptButtons::YesNo, PromptIcon::Question, m_services.owner)
        != PromptAnswer::Yes)
        return;
    const QList<RemoteRow> rows = m_pane.rowsAt(selectedRows);
    for (const RemoteRow &row : rows) {
        const QString &name = row.name;
        const QString target = m_services.prompts
                                   ->input({QStringLiteral("Move ") + name + QStringLiteral(" to : "),
                                            QStringLiteral("Corvane"), {}, false, m_services.owner})
                                   .value_or(QString());
        if (target.isEmpty())
            continue;
        const QString destination =
            target.endsWith(QLatin1Char('/')) ? target + name : target + QLatin1Char('/') + name;
        // One entry that cannot be moved does not keep the others.
        if (!m_services.xFtp->rename(name, destination))
            emit message(QStringLiteral("Error moving remote file ") + name + QStringLiteral(" to ") + destination
                         + QStringLiteral(": ") + errorDescription());
    }
    RefreshRemoteList();
}

void RemoteOps::GoToRemoteDirectory()
{
    BusyScope busy(this);
    const QString answer =
        m_services.prompts
            ->input({QStringLiteral("Type Directory Name To Go TO ( WITHOUT THE WORD CD OR DIR IN THE BEGINNING! )"),
                     QStringLiteral("Remote Server Custom Command"), {}, false, m_services.owner})
            .value_or(QString());
    if (answer.isEmpty()) {
        m_services.prompts->inform(QStringLiteral("No command entered, quiting"), m_services.appTitle,
                                   PromptIcon::Information, m_services.owner);
        return;
    }
    EnterRemoteFolder(answer, true);
}

void RemoteOps::ChmodSelectedRemoteItems(const QList<int> &selectedRows, int mode)
{
    const QString digits = modeText(mode);
    if (digits.isEmpty()) {
        emit message(QStringLiteral("Error: %1 is not a permission number.").arg(mode));
        return;
    }
    BusyScope busy(this);
    const QList<RemoteRow> rows = m_pane.rowsAt(selectedRows);
    if (rows.isEmpty())
        return;
    for (const RemoteRow &row : rows) {
        const QString &name = row.name;
        if (!m_services.xFtp->sendCommand(QStringLiteral("SITE CHMOD ") + digits + QLatin1Char(' ') + name))
            emit message(QStringLiteral("Error changing the permissions of ") + name + QStringLiteral(": ")
                         + errorDescription());
    }
    RefreshRemoteList();
}
