#include "ftpclient/localpaths.h"

#include "platform/prompts.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStorageInfo>

#include <algorithm>

namespace {

const QString NoticeTitle = QStringLiteral("FTP Client[Notice]");
const QString ErrorTitle = QStringLiteral("FTP Client[Error]");
const QString CannotRead = QStringLiteral("Cannot read the contents of ");

// Splits a mask such as "*.gif;*.jpg" into name filters. "*.*" means every
// name here, dot or not, as it did where the mask syntax comes from.
QStringList maskFilters(const QString &mask)
{
    QStringList filters;
    for (const QString &part : mask.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString pattern = part.trimmed();
        if (pattern.isEmpty())
            continue;
        filters.append(pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
    }
    return filters;
}

int attributesOf(const QFileInfo &info)
{
    if (!info.exists()) // a link whose target is gone: nothing to read beyond the name
        return -1;
    int attributes = 0;
    if (info.isDir())
        attributes |= LocalEntry::Directory;
    if (!info.isWritable())
        attributes |= LocalEntry::ReadOnly;
    if (info.isHidden())
        attributes |= LocalEntry::Hidden;
    return attributes;
}

// File systems that hold no user files: package images, memory, kernel views.
bool isUserVolume(const QStorageInfo &volume)
{
    if (!volume.isValid() || !volume.isReady())
        return false;
    static const QStringList skippedTypes{"squashfs", "tmpfs", "devtmpfs", "overlay", "proc", "sysfs",
                                          "cgroup", "cgroup2", "autofs", "efivarfs", "ramfs", "nsfs"};
    if (skippedTypes.contains(QString::fromLatin1(volume.fileSystemType())))
        return false;
    const QString root = volume.rootPath();
    static const QStringList skippedRoots{"/proc", "/sys", "/dev", "/run", "/snap", "/boot", "/var", "/etc",
                                          "/usr"};
    for (const QString &skipped : skippedRoots) {
        if (root == skipped || root.startsWith(skipped + QLatin1Char('/')))
            return false;
    }
    return true;
}

QString permissionText(QFile::Permissions p)
{
    const struct {
        QFile::Permission bit;
        char letter;
    } bits[] = {{QFile::ReadOwner, 'r'}, {QFile::WriteOwner, 'w'}, {QFile::ExeOwner, 'x'},
                {QFile::ReadGroup, 'r'}, {QFile::WriteGroup, 'w'}, {QFile::ExeGroup, 'x'},
                {QFile::ReadOther, 'r'}, {QFile::WriteOther, 'w'}, {QFile::ExeOther, 'x'}};
    QString text;
    int octal = 0;
    for (const auto &b : bits) {
        const bool set = p.testFlag(b.bit);
        text += set ? QLatin1Char(b.letter) : QLatin1Char('-');
        octal = octal * 2 + (set ? 1 : 0);
    }
    return text + QStringLiteral(" (") + QString::number(octal, 8) + QLatin1Char(')');
}

} // namespace

clsLocalPaths::clsLocalPaths(Prompts *prompts, QObject *parent) : QObject(parent), m_prompts(prompts)
{
    qRegisterMetaType<LocalEntry>();
}

bool clsLocalPaths::listFolder(const QString &sPath, const QStringList &nameFilters, bool reportLine)
{
    QDir dir(sPath);
    if (!dir.exists() || !QFileInfo(sPath).isReadable() || !QFileInfo(sPath).isExecutable()) {
        if (m_prompts)
            m_prompts->inform(CannotRead + sPath, ErrorTitle, PromptIcon::Error);
        if (reportLine)
            emit messageLine(CannotRead + QLatin1Char(' ') + sPath);
        return false;
    }
    dir.setFilter(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    dir.setSorting(QDir::Name | QDir::IgnoreCase);
    if (!nameFilters.isEmpty())
        dir.setNameFilters(nameFilters);
    const QFileInfoList infos = dir.entryInfoList();
    for (const QFileInfo &info : infos) {
        LocalEntry entry;
        entry.name = info.fileName();
        entry.attributes = attributesOf(info);
        entry.isLink = info.isSymLink();
        if (entry.isLink)
            entry.linkTarget = info.symLinkTarget();
        if (entry.attributes != -1) {
            entry.modified = info.lastModified();
            entry.size = info.isDir() ? 0 : info.size();
        }
        emit UpdateLocalEntry(entry);
    }
    emit AddToLocalPaths(sPath);
    return true;
}

bool clsLocalPaths::RetrieveLocalFolderContents(const QString &sPath)
{
    return listFolder(sPath, {}, false);
}

bool clsLocalPaths::RetrieveDefinedLocalFolderContents(const QString &sPath, const QString &definedType)
{
    QStringList filters = maskFilters(definedType);
    if (filters.isEmpty())
        filters.append(QStringLiteral("*"));
    return listFolder(sPath, filters, true);
}

void clsLocalPaths::RetrieveLogicalDrives()
{
    const QStringList found = drives();
    for (const QString &drive : found)
        emit LogicalDriveFound(drive);
}

QStringList clsLocalPaths::drives()
{
    QStringList result{QStringLiteral("/")};
    auto add = [&result](const QString &path) {
        const QString folder = localpath::withTrailingSlash(QDir::cleanPath(path));
        if (!folder.isEmpty() && !result.contains(folder))
            result.append(folder);
    };
    add(QDir::homePath());
    const QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &volume : volumes) {
        if (isUserVolume(volume))
            add(volume.rootPath());
    }
    return result;
}

void clsLocalPaths::fail(const QString &text)
{
    if (m_prompts)
        m_prompts->message({text, NoticeTitle, PromptIcon::Error, PromptButtons::OkCancel});
}

bool clsLocalPaths::DeleteLocalFile(const QString &sFileToDelete)
{
    const QFileInfo info(sFileToDelete);
    // A folder is not a file; a link (to anything) is removed as the link.
    const bool ok = (info.isSymLink() || !info.isDir()) && QFile::remove(sFileToDelete);
    if (!ok)
        fail(QStringLiteral("Cannot delete ") + sFileToDelete);
    return ok;
}

bool clsLocalPaths::RenameLocalFile(const QString &sCurrentName, const QString &sNewName)
{
    // The target must not exist: a rename never replaces another entry.
    const QFileInfo from(sCurrentName);
    const QFileInfo to(sNewName);
    const bool ok = (from.exists() || from.isSymLink()) && !to.exists() && !to.isSymLink()
                    && QDir().rename(sCurrentName, sNewName);
    if (!ok)
        fail(QStringLiteral("Cannot rename ") + sCurrentName);
    return ok;
}

bool clsLocalPaths::CreateLocalFolder(const QString &sFolderToCreate)
{
    const bool ok = QDir().mkdir(sFolderToCreate);
    if (!ok)
        fail(QStringLiteral("Cannot create ") + sFolderToCreate);
    return ok;
}

bool clsLocalPaths::RemoveLocalFolder(const QString &sFolderToDelete)
{
    const QFileInfo info(sFolderToDelete);
    const bool ok = info.isDir() && !info.isSymLink() && QDir().rmdir(sFolderToDelete);
    if (!ok)
        fail(QStringLiteral("Cannot remove ") + sFolderToDelete);
    return ok;
}

namespace localpath {

QString withTrailingSlash(const QString &path)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return path;
    return path + QLatin1Char('/');
}

QString fromTyped(const QString &typed, const QString &currentFolder)
{
    QString text = typed.trimmed();
    if (text.isEmpty())
        return {};
    if (text == QLatin1String("~"))
        text = QDir::homePath();
    else if (text.startsWith(QLatin1String("~/")))
        text = QDir::homePath() + text.mid(1);
    else if (!text.startsWith(QLatin1Char('/')))
        text = withTrailingSlash(currentFolder) + text;
    return withTrailingSlash(QDir::cleanPath(text));
}

QString parentFolder(const QString &folder)
{
    const QString path = withTrailingSlash(folder);
    if (path.size() < 2)
        return {};
    const qsizetype previous = path.lastIndexOf(QLatin1Char('/'), path.size() - 2);
    if (previous < 0)
        return {};
    return path.left(previous + 1);
}

bool removeTree(const QString &path, QString *error)
{
    const QFileInfo info(path);
    auto failed = [error](const QString &what) {
        if (error)
            *error = what;
        return false;
    };
    if (info.isSymLink() || !info.isDir()) {
        if (!info.exists() && !info.isSymLink())
            return failed(path);
        return QFile::remove(path) || failed(path);
    }
    // Depth first, one folder at a time. The walk stays inside path: links
    // are files here, so no link leads it anywhere else.
    QStringList pending{path};
    QStringList folders;
    while (!pending.isEmpty()) {
        const QString folder = pending.takeLast();
        folders.append(folder);
        const QFileInfoList entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                                 | QDir::NoDotAndDotDot);
        for (const QFileInfo &entry : entries) {
            if (entry.isDir() && !entry.isSymLink())
                pending.append(entry.filePath());
            else if (!QFile::remove(entry.filePath()))
                return failed(entry.filePath());
        }
    }
    // Every file is gone; the folders go from the deepest up.
    for (auto it = folders.crbegin(); it != folders.crend(); ++it) {
        if (!QDir().rmdir(*it))
            return failed(*it);
    }
    return true;
}

bool moveToTrash(const QString &path, QString *error)
{
    // A new account may have no data folder yet; the trash goes inside it.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    QFile file(path);
    if (file.moveToTrash())
        return true;
    if (error)
        *error = file.errorString().isEmpty() ? QStringLiteral("Cannot move ") + path + QStringLiteral(" to the trash")
                                              : file.errorString();
    return false;
}

QString trashFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash");
}

bool emptyTrash(QString *error)
{
    const QString trash = trashFolder();
    for (const QString &sub : {QStringLiteral("files"), QStringLiteral("info"), QStringLiteral("expunged")}) {
        const QDir dir(trash + QLatin1Char('/') + sub);
        if (!dir.exists())
            continue;
        const QFileInfoList entries =
            dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo &entry : entries) {
            if (!removeTree(entry.filePath(), error))
                return false;
        }
    }
    const QString sizes = trash + QStringLiteral("/directorysizes");
    if (QFileInfo::exists(sizes) && !QFile::remove(sizes)) {
        if (error)
            *error = sizes;
        return false;
    }
    return true;
}

QStringList findFiles(const QString &folder, const QString &mask, FindLimits limits, bool *truncated)
{
    if (truncated)
        *truncated = false;
    QList<QRegularExpression> patterns;
    for (const QString &filter : maskFilters(mask))
        patterns.append(QRegularExpression(QRegularExpression::wildcardToRegularExpression(filter),
                                           QRegularExpression::CaseInsensitiveOption));
    if (patterns.isEmpty())
        patterns.append(QRegularExpression(QStringLiteral(".*")));

    QStringList found;
    QStringList pending{QDir::cleanPath(folder)};
    int searched = 0;
    while (!pending.isEmpty()) {
        if (searched >= limits.maxFolders) {
            if (truncated)
                *truncated = true;
            break;
        }
        ++searched;
        QDir dir(pending.takeFirst());
        dir.setSorting(QDir::Name | QDir::IgnoreCase);
        const QFileInfoList entries =
            dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo &entry : entries) {
            const QString name = entry.fileName();
            const bool matches = std::any_of(patterns.cbegin(), patterns.cend(), [&name](const auto &re) {
                return re.match(name).hasMatch();
            });
            if (matches) {
                if (found.size() >= limits.maxResults) {
                    if (truncated)
                        *truncated = true;
                    return found;
                }
                found.append(entry.filePath());
            }
            if (entry.isDir() && !entry.isSymLink())
                pending.append(entry.filePath());
        }
    }
    return found;
}

LocalProperties properties(const QString &path)
{
    LocalProperties p;
    const QString clean = path.endsWith(QLatin1Char('/')) && path.size() > 1 ? path.chopped(1) : path;
    const QFileInfo info(clean);
    p.fullPath = info.isDir() && !info.isSymLink() ? withTrailingSlash(info.absoluteFilePath())
                                                   : info.absoluteFilePath();
    p.name = info.fileName().isEmpty() ? QStringLiteral("/") : info.fileName();
    p.exists = info.exists() || info.isSymLink();
    if (info.isSymLink()) {
        p.linkTarget = info.symLinkTarget();
        p.kind = !info.exists() ? QStringLiteral("Broken link")
                 : info.isDir()  ? QStringLiteral("Link to folder")
                                 : QStringLiteral("Link to file");
    } else {
        p.kind = info.isDir() ? QStringLiteral("Folder") : QStringLiteral("File");
    }
    if (!info.exists())
        return p;
    if (info.isDir()) {
        const QFileInfoList files = QDir(clean).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QFileInfo &f : files)
            p.size += f.size();
    } else {
        p.size = info.size();
    }
    p.created = info.birthTime();
    p.modified = info.lastModified();
    p.accessed = info.lastRead();
    p.permissions = permissionText(info.permissions());
    p.owner = info.owner().isEmpty() ? QString::number(info.ownerId()) : info.owner();
    p.group = info.group().isEmpty() ? QString::number(info.groupId()) : info.group();
    return p;
}

LocalItem itemForPath(const QString &path)
{
    QString clean = path;
    while (clean.size() > 1 && clean.endsWith(QLatin1Char('/')))
        clean.chop(1);
    const QFileInfo info(clean);
    LocalItem item;
    item.path = clean;
    item.name = info.fileName();
    item.isLink = info.isSymLink();
    item.kind = info.isDir() ? LocalKind::Folder : LocalKind::File;
    item.text = item.name; // not a row of the pane: shown as the file manager shows it
    return item;
}

} // namespace localpath
