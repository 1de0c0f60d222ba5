#pragma once

// Corvane's transfers between the local folder and the remote pane: the
// transfer mode (ASCII, Binary, Auto), the automatic type by extension,
// sending the local selection with the existing-file question, sending
// whole folder trees in automatic mode, receiving the remote selection, and
// the status texts, progress, rate and time left of the component's
// transfer events. Blocking calls on the component; texts leave through the
// signals, questions through Prompts and the existing-file hook.
//
// Transfers answers the component's transferStatus, receivingFile,
// sendingFile, scanningFolder, skippingFile and replacingFile (the replace
// question) itself; a window connects status(), message(), progress(),
// rate(), abortEnabled(), busyChanged() and localRelistRequested() and must
// not handle those component events a second time.
//
// A remote name that could leave the local folder ("/", "\", NUL, "." or
// "..") is never made into a local path: receiving it is skipped with a
// message line.

#include "ftp/listing.h"
#include "ftpclient/localpaths.h"
#include "ftpclient/remotelistmodel.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class CRegister;
class FtpComponent;
class Prompts;
class RemoteOps;

enum class TransferMode { Ascii, Binary, Auto };

// The existing-file prompt's answer (eResumeFile).
enum class ExistAnswer : int { Overwrite = 0, Resume = -1, Cancel = -2, Skip = -3 };

// What the existing-file prompt shows.
struct ExistRequest {
    QString name;        // the file's name
    QString destination; // lblDestination: "Destination File Size: ..."
    QString source;      // lblSource: "Source File Size: ..."
};
struct ExistReply {
    ExistAnswer eResumeFile = ExistAnswer::Cancel; // closing the prompt is Cancel
    bool applyToAll = false;                       // "Apply To All"
};
using ExistPrompt = std::function<ExistReply(const ExistRequest &)>;

// The per-file send decision: skip, or send from offset with the continue flag.
struct SendDecision {
    bool skip = false;
    bool continueFile = false;
    qint64 offset = 0;
    bool operator==(const SendDecision &) const = default;
};

// A selected row of the local pane is a LocalItem (ftpclient/localpaths.h):
// its name on disk is read, and the server gets the row's text (folders are
// shown in capitals), or the name when there is no text.

// ---- the pure rules ----

// The default value of "Auto Mode Types".
inline constexpr auto DefaultAutoTypes = "txt;htm;html;php;cgi;asp;ini;inf;log";
// "Auto Mode Types" split at ";", entries kept as stored.
QStringList parseAutoTypes(const QString &value);
// The automatic representation type of a file: 1 (ASCII) when its extension
// in lower case equals an entry exactly, else 0 (binary). Entries are not
// lower-cased, so one in capitals never matches.
int automaticType(const QString &fileName, const QStringList &autoTypes);
// The first remote entry named exactly like the local file whose size or
// date differs from the local file's; nothing when there is none. Dates are
// compared at the precision the listing gives (to the minute when it has no
// seconds).
std::optional<FtpListEntry> findConflictingEntry(const QString &name, qint64 localSize, const QDateTime &localDate,
                                                 const QList<FtpListEntry> &remote);
// The decision an answer gives for a remote copy of remoteSize bytes
// (Cancel skips; the caller also aborts).
SendDecision decisionForAnswer(ExistAnswer answer, qint64 remoteSize);
// The existing-file prompt's two label texts.
ExistRequest existRequest(const QString &name, const FtpListEntry &remote, qint64 localSize,
                          const QDateTime &localDate);
// The transfer-status text for a component state: "Uploading file '" (17,
// 20), "Downloading file '" (11, 13), else "Processing file '", then
// name, "' (", done KB, " of ", size KB, "K)" (rounded down).
QString transferStatusText(qint32 state, const QString &name, qint64 fileSize, qint64 bytesDone);
// The status bar's rate: "512 Bytes/s", "1.50 KB/s" or "2.00 MB/s", then
// ", HH:MM:SS left" when the time left is known; empty when the rate is not.
QString rateText(qint64 bytesPerSecond, qint64 secondsLeft);
// The skipping-file message line (the first name, or the second when the
// first is empty; the code in upper-case hexadecimal).
QString skippedFileText(const QString &first, const QString &second, int reason);

class Transfers : public QObject {
    Q_OBJECT
public:
    struct Services {
        FtpComponent *xFtp = nullptr;
        RemoteOps *remote = nullptr; // the remote pane and its folder steps
        Prompts *prompts = nullptr;
        QObject *owner = nullptr;
        CRegister *reg = nullptr; // "Auto Mode Types"; none: the default
        // The existing-file prompt; empty: every conflict is Cancel.
        ExistPrompt existPrompt;
        // Milliseconds of a monotonic clock, for rate and time left; empty:
        // a steady clock.
        std::function<qint64()> clock;
    };

    explicit Transfers(Services services, QObject *parent = nullptr);
    ~Transfers() override;

    // "ASCII" sets type 1 and clears the auto flag; "Binary" type 0 and
    // clears it; "Auto" only sets it. Auto at start.
    void setMode(TransferMode mode);
    TransferMode mode() const { return m_mode; }
    bool autoFlag() const { return m_auto; }

    // Reads "Auto Mode Types" once (the registry of the connection options).
    void LoadAutoTypes();
    QStringList autoTypes() const { return m_autoTypes; }
    void setAutoTypes(const QStringList &types) { m_autoTypes = types; }

    // Sends the selected local rows of the folder localPath, in the order
    // given (each read from localPath + its name on disk); relists the
    // remote pane at the end.
    void SendSelectedFiles(const QString &localPath, const QList<LocalItem> &selected);
    // Sends a local folder tree into a remote folder of the same name in the
    // current remote folder (made when missing), each file in automatic
    // mode, and stays in that remote folder (the caller goes up). False when
    // a call failed (lastError of the component says why); a folder that
    // cannot be entered sends nothing and is not a failure (entered() false).
    // remoteName: the remote folder's name, empty for the last element of path.
    bool SendFolderTree(const QString &path, const QString &remoteName = {}, bool *entered = nullptr);
    // Sends one file under its own name from offset 0, replacing the remote
    // copy, in the automatic type when Auto is the mode. False on failure.
    bool SendFileAutoMode(const QString &file);
    // Receives the selected rows of the remote pane (indexes, taken in list
    // order) into localPath; localRelistRequested() at the end.
    void ReceiveSelectedFiles(const QString &localPath, const QList<int> &selectedRows);

    // "Apply To All" of the current send.
    bool checkAll() const { return m_checkAll; }

Q_SIGNALS:
    void status(const QString &text);
    void message(const QString &text);
    void abortEnabled(bool enabled);
    void busyChanged(bool busy);
    // The progress bar, 0 to 100.
    void progress(int percent);
    // The running file's rate in bytes per second and seconds left (-1
    // when not known yet); both 0 when no transfer runs.
    void rate(qint64 bytesPerSecond, qint64 secondsLeft);
    // The window should run RefreshLocalList.
    void localRelistRequested();

private:
    class BusyScope;
    void connectComponent();
    void onTransferStatus(const QString &name, qint64 fileSize, qint64 bytesDone, int percent);
    bool sendFileRow(const QString &path, const QString &name);
    void finishSend();
    void resetRate();
    qint64 now() const;
    QString errorDescription() const;

    Services m_services;
    TransferMode m_mode = TransferMode::Auto;
    bool m_auto = true;
    bool m_checkAll = false;
    ExistAnswer m_lastAnswer = ExistAnswer::Cancel;
    QStringList m_autoTypes;
    bool m_cancelled = false; // "&Cancel" answered during this send
    QString m_rateName;
    qint64 m_rateStart = -1;
    qint64 m_rateStartBytes = 0;
    qint64 m_rateLastBytes = 0;
    int m_busyDepth = 0;
};
