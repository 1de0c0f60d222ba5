#pragma once

// Corvane's FTP component: one instance for the whole run, over one FTP
// session. Every call blocks its caller while a local event loop keeps the
// window live; a second call while one runs is refused with the busy error
// instead of nesting. A failing call returns false and leaves its number and
// description in lastError(). Events are signals; the questions (replace a
// file, an account, a new password) are signals whose handler, connected
// directly, writes the answer through the pointer it is given.

#include "ftp/ftpsession.h"
#include "ftp/listing.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class SocketFactory;
class TrustStore;

struct FtpComponentError {
    quint32 number = 0;
    QString description;
};

// The component's error numbers.
namespace FtpErrors {
inline constexpr quint32 Aborted = 0x8004201E;
inline constexpr quint32 Busy = 0x80042001;         // a call while another runs
inline constexpr quint32 NotConnected = 0x80042002;
inline constexpr quint32 ConnectFailed = 0x80042003;
inline constexpr quint32 ServerRefused = 0x80042004; // 4xx/5xx; the description holds the reply
inline constexpr quint32 ConnectionLost = 0x80042005;
inline constexpr quint32 TimedOut = 0x80042006;
inline constexpr quint32 TlsFailed = 0x80042007;
inline constexpr quint32 LocalFile = 0x80042008;
inline constexpr quint32 Protocol = 0x80042009;
inline constexpr quint32 InvalidArgument = 0x8004200A;
} // namespace FtpErrors

// Reason codes of skippingFile.
namespace FtpSkipReasons {
inline constexpr int UnsafeName = 1;  // a remote name that cannot be a local file name
inline constexpr int Link = 2;        // a link that is not a file; links are never followed into folders
inline constexpr int NotReplaced = 3; // the replacing question said no
inline constexpr int LocalLink = 4;   // the local name is a link; nothing is written through it
inline constexpr int OutsideTree = 5; // a folder that leads back up or out of the tree
} // namespace FtpSkipReasons

class FtpComponent : public QObject {
    Q_OBJECT
public:
    // Values of currentState().
    enum StateValue : qint32 {
        NotConnected = 0,
        Connecting = 1,
        Idle = 2,
        Receiving = 11,
        ReceivingFiles = 13,
        Sending = 17,
        SendingFiles = 20,
        Busy = 30, // any other exchange
    };

    explicit FtpComponent(std::shared_ptr<const SocketFactory> sockets, QObject *parent = nullptr);
    // With a trust store, a connect whose server certificate does not verify
    // asks through certificateRejected; a certificate the answer trusts is
    // remembered there (host and SHA-256) and the connect tries once more.
    // The socket factory must check against the same store.
    FtpComponent(std::shared_ptr<const SocketFactory> sockets, std::shared_ptr<TrustStore> trust,
                 QObject *parent = nullptr);
    ~FtpComponent() override;

    // Properties.
    QString userName, password, serverAddress;
    quint16 serverPort = 21;
    bool passiveMode = true;
    int proxyType = 0; // 0 none, 4 SOCKS 4, 5 SOCKS 5
    QString proxyHost;
    quint16 proxyPort = 1080;
    QString proxyUserName, proxyPassword;
    FtpSecurity security = FtpSecurity::Plain;
    int representationType = 0; // 1 ASCII, 0 binary
    int listingOption = 0;
    FtpTiming timing;

    qint32 currentState() const;
    // The remote path (PWD, answered from the last known folder when a call runs).
    bool currentFolder(QString &folder);
    // Set true: the running call fails with Aborted (ABOR, data connection
    // closed); set between calls: the next call fails with it.
    void setAbort(bool abort);
    const FtpComponentError &lastError() const;
    // The deciding reply ("code text") of the last call's last exchange.
    const QString &lastReply() const;
    FtpSession &session();

    // Methods.
    bool connectToServer();
    bool disconnectFromServer();
    bool changeFolder(const QString &path);
    bool changeToParentFolder();
    bool createFolder(const QString &name);
    bool removeFolder(const QString &name);
    bool deleteFile(const QString &name);
    bool rename(const QString &oldName, const QString &newName);
    // One listingEntry per entry matching mask (wildcards * and ?; empty: all).
    bool listFolderContents(const QString &mask);
    bool folderContents(const QString &mask, QList<FtpListEntry> &entries);
    bool receiveFile(const QString &remoteName, qint64 offset, const QString &localPath);
    bool sendFile(const QString &localPath, qint64 offset, const QString &remoteName, bool continueFile);
    // remoteMask: a folder name followed by "/*" (or "*" for the current folder).
    bool receiveFiles(const QString &remoteMask, const QString &localFolder, bool recurse);
    // localMask: a folder path followed by "/*".
    bool sendFiles(const QString &localMask, const QString &remoteFolder, bool processSubfolders, bool recurse);
    bool sendCommand(const QString &line);
    // SIZE of a remote file, in binary type.
    bool remoteSize(const QString &name, qint64 &size);
    // MDTM of a remote file: its last change as a UTC instant, to the second.
    bool remoteModified(const QString &name, QDateTime &modified);
    // Whether the server lists with MLSD facts and answers MDTM (known after
    // the login).
    bool hasMachineListing() const;
    bool hasModificationTime() const;
    // A listing command typed by hand ("LIST", "NLST", either with an
    // argument) run over a data connection of its own; the lines of the
    // listing, as the server sent them, in lines.
    bool listingCommand(const QString &line, QStringList &lines);

Q_SIGNALS:
    void listingEntry(const QString &name, const QDateTime &date, qint64 size, int type, const QString &extra);
    void logLine(const QString &text);
    void transferStatus(const QString &localName, const QString &remoteName, qint64 fileSize, qint64 bytesDone,
                        int percent, qint64 totalBytes, qint64 totalDone);
    void receivingFile(const QString &name);
    void sendingFile(const QString &name);
    void scanningFolder(const QString &name);
    // Direct connection: set *replace (default false).
    void replacingFile(const QString &name, bool *replace);
    void skippingFile(const QString &name, const QString &other, int reason);
    // Direct connection: set *account (empty: none).
    void accountRequired(QString *account);
    // Direct connection: set *newPassword (empty: give up).
    void invalidPassword(QString *newPassword);
    // Direct connection: set *trust (default false) to trust the server's
    // certificate, which did not verify, for this host from now on.
    void certificateRejected(const TlsFailure &failure, bool *trust);
    void processFinished(quint32 result);
    void disconnected();

private:
    class Private;
    std::unique_ptr<Private> d;
};
