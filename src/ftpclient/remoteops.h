#pragma once

// The remote operations of Corvane's remote pane that are not transfers:
// listing (whole or by a mask), the remote-folder steps they need (change
// folder, up one level, refresh), delete of a selection and of whole folder
// trees, rename, create folder, move, go to a typed folder and the change of
// permissions. Every server step is a blocking call on the FTP component;
// every text the user sees leaves through the signals below, and every
// question goes through the injected Prompts. The class keeps the pane's
// rows (pane()) and the overlay's snapshot (overlay()).
//
// Wiring for a window: connect status() to its status line, message() to its
// message list, abortEnabled() to its Abort button, busyChanged() to the
// hourglass, remotePathAdded() to AddPathToComboBox, remotePathShown() to the
// path box's text, overlayVisible() to the overlay, remoteCommandsChanged()
// to UpdateRemoteCommands. RemoteOps fills pane() from the component's
// listingEntry itself; the window must not add rows of its own.
//
// Recursive delete never follows a link: a link row is deleted as a file
// (delete on the link's own name) and never entered.

#include "ftpclient/remotelistmodel.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class FtpComponent;
class Prompts;

class RemoteOps : public QObject {
    Q_OBJECT
public:
    struct Services {
        FtpComponent *xFtp = nullptr;
        Prompts *prompts = nullptr;
        QObject *owner = nullptr; // the window the prompts belong to
        QString appTitle = QStringLiteral("Corvane"); // title of untitled boxes
        // Abort of the session (the window's Abort: sets the component's
        // abort and arms its refresh). Empty: the component's abort only.
        std::function<void()> abort;
    };

    explicit RemoteOps(Services services, QObject *parent = nullptr);
    ~RemoteOps() override;

    RemoteListModel *pane() { return &m_pane; }
    RemoteListModel *overlay() { return &m_overlay; }
    const RemoteListModel *pane() const { return &m_pane; }
    const RemoteListModel *overlay() const { return &m_overlay; }
    FtpComponent *component() const { return m_services.xFtp; }

    // The session's Abort (the hook, else the component's abort property).
    void Abort();

    // ---- remote folder ----
    // The component's current folder; empty (with a message line) on failure.
    QString GetRemoteFolder();
    // Changes folder; on success emits remotePathAdded(new folder) and the
    // status "Remote folder changed to " + folder.
    bool ChangeCurrentRemoteFolder(const QString &sNewRemotePath, bool bInteractive);
    // Up one level; relists the pane when the folder changed. True when it
    // changed.
    bool GoUpOneLevel();
    // Enter in the path box / an entry picked: changes folder and relists
    // when the text differs (exactly) from the current folder.
    void RemotePathEntered(const QString &text);
    // A typed folder (a double click on a folder row, "Go To Remote
    // Directory"): change, clear, list, remoteCommandsChanged. True on success.
    bool EnterRemoteFolder(const QString &name, bool bInteractive = true);

    // ---- listing ----
    void ClearRemoteList();
    // Lists the current folder into the pane (the caller clears it first).
    void ListFilesOnServer();
    void ListDefinedFilesOnServer(const QString &defineString);
    // Clear, list, and show the current folder in the path box.
    void RefreshRemoteList();
    // "All Files (*.*)".
    void ShowAllFiles();
    // "Define Types (*.?)": asks for a mask, lists only what matches.
    void DefineTypes();

    // ---- operations on rows of pane() ----
    // "Delete": the selected rows (indexes into pane(), any order; taken in
    // list order) after the question; the overlay shows the starting folder
    // meanwhile; one relist at the end. An abort stops the whole delete and
    // returns to the starting folder.
    void DeleteSelectedRemoteItems(const QList<int> &selectedRows);
    // Deletes the folder tree Path (a folder name in the current folder),
    // depth first; links inside are deleted as links, never entered. Ends
    // with the starting folder current again. Failures of single deletions
    // are passed over; an abort stops the walk (aborted() tells).
    void DeleteRemoteFolderRec(const QString &Path);
    // Whether the last recursive delete was stopped by an abort.
    bool aborted() const { return m_aborted; }
    // "Rename File" for one row.
    void RenameRemoteItem(int row);
    // "Create Folder".
    void CreateRemoteFolder();
    // "Move File(s) / Folder(s)": asks about focusRow's name, then one target
    // folder per selected row. A failed move is a message line and the
    // remaining rows are still moved.
    void MoveSelectedRemoteItems(const QList<int> &selectedRows, int focusRow);
    // "Go To Remote Directory".
    void GoToRemoteDirectory();
    // "Chmod File(s) or Folders(s)": SITE CHMOD mode (the permission
    // dialog's number, such as 755) for each selected row, then a relist.
    void ChmodSelectedRemoteItems(const QList<int> &selectedRows, int mode);

Q_SIGNALS:
    void status(const QString &text);
    void message(const QString &text);
    void abortEnabled(bool enabled);
    // True while an operation runs (the hourglass).
    void busyChanged(bool busy);
    // A folder became current: add it to the path box's history.
    void remotePathAdded(const QString &path);
    // The path box's text after a refresh.
    void remotePathShown(const QString &path);
    // The overlay (a snapshot in overlay()) is shown / hidden.
    void overlayVisible(bool visible);
    // The window should run UpdateRemoteCommands.
    void remoteCommandsChanged();

private:
    class BusyScope;
    QString errorDescription() const;
    // After a failed call: whether it failed because of an abort, which
    // then stops the recursive delete.
    bool abortedNow();
    // One step of a recursive delete: the tree Path, depth first.
    void deleteTree(const QString &Path);

    Services m_services;
    RemoteListModel m_pane;
    RemoteListModel m_overlay;
    int m_busyDepth = 0;
    bool m_aborted = false;
};
