#pragma once

#include "platform/privatedir.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

class QLocalServer;
class QLocalSocket;
class QTimer;

// The channel through which browser add-ins hand URLs to the running Tessel:
// a local socket named "CorvaneRecieveMessage" in a directory only this user
// can enter. A client connects, writes one URL and closes its end; each such
// message is one delivery.

inline constexpr const char *CaptureSocketName = "CorvaneRecieveMessage";
// The longest message taken; longer ones are dropped unread.
inline constexpr qint64 CaptureMessageLimit = 8 * 1024;

// The private directory the socket lives in: $XDG_RUNTIME_DIR/tessel, or
// tessel-<uid> in the temporary folder when there is no runtime directory.
QString CaptureSocketDirectory();

// What a received message is.
struct CapturedText {
    enum class Kind {
        Url,       // an http://, https://, ftp:// or ftps:// address: delivered
        Empty,     // nothing but blanks: nothing happens
        Reserved,  // begins with "MENU": ignored
        TooLong,   // more than CaptureMessageLimit bytes: dropped
        NotAUrl,   // anything else (another scheme, several lines, not UTF-8): dropped
        Unfinished, // the client did not close its end in time: dropped
    };
    Kind kind = Kind::Empty;
    QString url;  // for Url: the address, trimmed of surrounding white space
};
CapturedText ClassifyCapturedText(const QByteArray &message);

// Listens on the socket from listen() until it is destroyed and hands every
// URL on through urlReceived, one at a time: a URL that arrives while the
// receiver of the previous one is still busy (a prompt open in a nested
// event loop) waits until that one returns. Dropped messages become a line in
// the error log; the line never quotes the text, which may hold a password.
class CaptureReceiver : public QObject {
    Q_OBJECT

public:
    struct Options {
        QString directory;                               // empty: CaptureSocketDirectory()
        std::function<void(const QString &line)> errorLog;
        // A client that does not finish its message in this time is cut off.
        std::chrono::milliseconds messageTimeout{5000};
        // Connections served at once; more are closed at once.
        int maxConnections = 16;
    };

    explicit CaptureReceiver(Options options, QObject *parent = nullptr);
    ~CaptureReceiver() override;

    // Prepares the directory and starts listening; a socket left by a
    // crashed run is replaced. False (with errorString and an error-log
    // line) when the directory is refused or the socket cannot be made.
    bool listen();
    bool isListening() const;
    QString socketPath() const { return m_path; }
    QString errorString() const { return m_error; }

    // The client side: writes one URL to the receiver listening in directory.
    // Waits at most timeout; false when nobody listens there.
    static bool send(const QString &directory, const QByteArray &message,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

Q_SIGNALS:
    void urlReceived(const QString &url);
    // Every message, when it has been dealt with (after urlReceived for a
    // URL); kind says what it was.
    void messageHandled(CapturedText::Kind kind);

private:
    void accept();
    void finish(QLocalSocket *socket);
    void drop(QLocalSocket *socket, CapturedText::Kind kind, const QString &why);
    void handle(const QByteArray &message);
    void deliverPending();
    void log(const QString &line) const;

    Options m_options;
    QString m_directory;
    QString m_path;
    QString m_error;
    QLocalServer *m_server = nullptr;
    QHash<QLocalSocket *, QByteArray> m_buffers;
    QStringList m_pending;
    bool m_delivering = false;
};
