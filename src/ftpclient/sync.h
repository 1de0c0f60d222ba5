#pragma once

// Directory synchronisation: one folder level brought up to date in either
// direction between a local folder and a remote one, over the FTP component.
// A file missing on the receiving side, or differing from its namesake, is
// copied whole; names are compared exactly, letter case included; folders
// and links are never copied. Whether files differ by size or by date is
// read at the start of every run.
//
// Dates are compared as UTC instants at the precision the remote side gives
// them: MLSD's modify fact and MDTM to the second, a LIST time (the server's
// clock as listed) to the minute, or to the day when the listing shows a year
// instead of a time. After a file is received its local time is set to the
// remote time, and after a file is sent the remote time is read back and
// given to the local file, so that running either direction again copies
// nothing. A received file replaces an existing one only when it arrived
// whole (the component writes it beside the old one first).
//
// The run reports through signals in the order the window shows them; the
// window turns them into the pointer, the Abort button, the message list,
// the status line, the progress bar, the overlay and the two relistings.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class FtpComponent;
struct FtpListEntry;

class DirectorySync : public QObject {
    Q_OBJECT
public:
    enum class Mode { BySize, ByDate };
    enum class Direction { LocalFromRemote, RemoteFromLocal };

    // How precisely a remote time is known.
    enum class Precision { Second, Minute, Day };

    struct Outcome {
        QStringList copied;   // names, in the order they were copied
        bool completed = false; // every file compared and, where needed, copied
        QString error;         // the failure that ended the run, when one did
    };

    // modeReader is asked at the start of every run (the stored option).
    DirectorySync(FtpComponent &ftp, std::function<Mode()> modeReader, QObject *parent = nullptr);

    // The local folder receives. localFolder is the current local path,
    // remoteFolder the folder the remote pane shows.
    Outcome SyncLocalFromRemote(const QString &localFolder, const QString &remoteFolder);
    // The remote folder receives.
    Outcome SyncRemoteFromLocal(const QString &localFolder, const QString &remoteFolder);

    // The remote entries fetched by the last run.
    const QList<FtpListEntry> &remoteEntries() const;

    // Helpers the comparison rests on, public for their own sake.
    static QDateTime truncated(const QDateTime &utc, Precision precision);
    // A LIST time without seconds that falls on midnight came from a listing
    // that gave a year instead of a time.
    static Precision listPrecision(const QDateTime &listed);

Q_SIGNALS:
    // Hourglass and Abort button on (true) or off (false).
    void busyChanged(bool busy);
    void progressChanged(int percent);
    // A line for the message list.
    void message(const QString &text);
    // The status line.
    void status(const QString &text);
    // Both panes are to be listed again (remote first, then local).
    void relistRequested();
    // The remote list is copied under the overlay and the overlay shown
    // (true), or hidden (false); sending to the server only.
    void overlayChanged(bool shown);
    // A run that could not start: the connection indicator goes to "0".
    void connectionIndicatorOff();
    // One file copied (the local path and the remote name).
    void fileCopied(const QString &localPath, const QString &remoteName);

private:
    class Private;
    Outcome run(Direction direction, const QString &localFolder, const QString &remoteFolder);

    FtpComponent &m_ftp;
    std::function<Mode()> m_modeReader;
    QList<FtpListEntry> m_remote;
};
