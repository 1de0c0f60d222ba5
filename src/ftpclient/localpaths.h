#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class Prompts;

// Kinds of local rows, as the row's icon and fourth column carry them.
enum class LocalKind { None = 0, File = 1, Folder = 2 };

// One entry of a local folder listing.
struct LocalEntry {
    // Attribute bits of nAttrib; Directory makes a folder row.
    enum Attribute { ReadOnly = 1, Hidden = 2, Directory = 16 };

    QString name;       // as the file system spells it
    QDateTime modified; // last-modified date and time, local time
    qint64 size = 0;    // length in bytes; 0 for folders
    int attributes = 0; // Attribute bits, -1 when they could not be read
    bool isLink = false;
    QString linkTarget; // where a link points, empty otherwise

    // A folder row needs readable attributes with the directory bit; an
    // entry whose attributes are unreadable is shown as a file.
    LocalKind kind() const
    {
        return attributes != -1 && (attributes & Directory) ? LocalKind::Folder : LocalKind::File;
    }
};

// A local file or folder handed from the pane to a transfer.
struct LocalItem {
    QString name; // the real name on disk, without folder
    QString path; // the full path; folders without a trailing "/"
    LocalKind kind = LocalKind::File;
    bool isLink = false;
    QString text; // the row's text as the pane shows it (folders in capitals)

    bool operator==(const LocalItem &) const = default;
};

// What the properties dialog shows about one local path.
struct LocalProperties {
    QString name;
    QString fullPath;
    QString kind;        // "File", "Folder", "Link to file", "Link to folder", "Broken link"
    QString linkTarget;  // for links
    qint64 size = 0;     // bytes; for a folder, of its direct files
    QDateTime created;   // invalid when the file system does not keep it
    QDateTime modified;
    QDateTime accessed;
    QString permissions; // "rwxr-x---" and the octal number, e.g. "rwxr-x--- (750)"
    QString owner;
    QString group;
    bool exists = false;
};

// The local file system side of Corvane's window. It lists folders and
// drives and reports what it finds through its three events, and performs
// the single-entry file operations. A failed operation shows its own box
// (OK / Cancel, error icon, the notice title) and returns false.
class clsLocalPaths : public QObject {
    Q_OBJECT

public:
    explicit clsLocalPaths(Prompts *prompts, QObject *parent = nullptr);

    // Lists sPath (ending in "/"): hidden entries included, "." and ".."
    // left out, in name order. Raises UpdateLocalEntry per entry and, at the
    // end, AddToLocalPaths(sPath). An unreadable folder shows "Cannot read the
    // contents of " + sPath and returns false without AddToLocalPaths.
    bool RetrieveLocalFolderContents(const QString &sPath);
    // The same, limited to names that match definedType (wildcards, several
    // separated by ";", ignoring case). "*.*" means every name, as "*" does. A failure also
    // reports "Cannot read the contents of " + sPath as a message line.
    bool RetrieveDefinedLocalFolderContents(const QString &sPath, const QString &definedType);
    // Raises LogicalDriveFound for each of drives(), in order.
    void RetrieveLogicalDrives();

    bool DeleteLocalFile(const QString &sFileToDelete);   // a file or link; a folder fails
    bool RenameLocalFile(const QString &sCurrentName, const QString &sNewName); // never replaces
    bool CreateLocalFolder(const QString &sFolderToCreate); // one level
    bool RemoveLocalFolder(const QString &sFolderToDelete); // an empty folder

    // The drives of this system: "/", the home folder and the mounted
    // volumes a user keeps files on, each ending in "/", without duplicates.
    static QStringList drives();

signals:
    void UpdateLocalEntry(const LocalEntry &entry);
    void AddToLocalPaths(const QString &sPathToAdd);
    void LogicalDriveFound(const QString &sDriveToAdd);
    // A line for the window's message list.
    void messageLine(const QString &text);

private:
    bool listFolder(const QString &sPath, const QStringList &nameFilters, bool reportLine);
    void fail(const QString &text);

    Prompts *m_prompts;
};

// Path rules of the local pane.
namespace localpath {

// path with one "/" at its end ("" stays "").
QString withTrailingSlash(const QString &path);
// A path typed by the user, made absolute against currentFolder ("~" is the
// home folder), cleaned of "." and ".." parts, ending in "/".
QString fromTyped(const QString &typed, const QString &currentFolder);
// The folder one level up: cut after the "/" that precedes the final one.
// Empty at the root "/" (and for paths without two slashes).
QString parentFolder(const QString &folder);

// Removes path; a folder is emptied first, depth first. Links are removed as
// links and never entered. Stops at the first entry that cannot be removed
// and names it in *error.
bool removeTree(const QString &path, QString *error = nullptr);

// Moves path to the user's trash (the desktop's freedesktop trash).
bool moveToTrash(const QString &path, QString *error = nullptr);
// The user's trash folder ($XDG_DATA_HOME/Trash, ~/.local/share/Trash when unset).
QString trashFolder();
// Deletes everything in the user's trash: its files/ and info/ folders (and
// the size cache). Returns false and names the first failure in *error.
bool emptyTrash(QString *error = nullptr);

// Full paths of the entries below folder (sub-folders included, links never
// entered) whose names match mask (wildcards, several separated by ";",
// ignoring case), in the order found. At most maxResults paths; at most
// maxFolders folders are searched. *truncated tells whether a bound cut the search.
struct FindLimits {
    int maxResults = 5000;
    int maxFolders = 20000;
};
QStringList findFiles(const QString &folder, const QString &mask, FindLimits limits = {},
                      bool *truncated = nullptr);

LocalProperties properties(const QString &path);

// The item a full path names, read from the file system (a missing path is a file).
LocalItem itemForPath(const QString &path);

} // namespace localpath

Q_DECLARE_METATYPE(LocalEntry)
