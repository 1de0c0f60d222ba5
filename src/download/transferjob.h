#pragma once

#include "config/loginaccount.h"
#include "download/httprequest.h"
#include "download/urlmodel.h"
#include "platform/captionlookup.h"
#include "platform/socketchannel.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QString>

#include <array>
#include <chrono>
#include <functional>
#include <memory>

class QFile;
class SocketFactory;
class TrustStore;
struct SettingsRecord;

// ---------------------------------------------------------------- request

// What to do with a save file that already exists when a download starts.
// The intake decides it before every start (the user, or the scheduler's
// stored answer) and it travels with that start.
enum class ExistingFile {
    Overwrite, // 0 in the settings' intExistChoice
    Resume,    // -1
    Cancel,    // -2: the download does not start
};
ExistingFile existingFileFromChoice(int intExistChoice);
int existingFileChoice(ExistingFile choice);

// The settings a transfer reads, taken from the settings record when it
// starts (and again at every restart, so a changed option applies then).
struct TransferSettings {
    int timeout = 60;          // countdown ticks before "Connection has timed out."
    bool retry = true;         // restart after a time-out
    int retries = 30;          // restarts allowed over the job's life
    qint64 rollback = 4096;    // bytes fetched again before every resume point
    bool stopResume = false;   // the stall detector runs
    int timeResume = 300;      // its period in seconds
    int timeNoResume = 600;    // its period for a server that cannot resume
    // Seconds a running transfer may go without a byte before it is made
    // again (within the retry budget) and then fails; 0: never (the GUI has
    // the stall detector and a person to press Resume; tessel-get has not).
    int dataDeadline = 0;
    bool segment = false;      // large HTTP files may be split
    std::array<double, 9> segmentSize{}; // the size table of the segment decision
    bool passive = false;      // FTP data connections in passive mode (UsePASV)
    HttpProxySettings proxy;

    static TransferSettings fromRecord(const SettingsRecord &record);
};

// One start of a download.
struct TransferRequest {
    QString url;
    QString saveTo;
    ExistingFile existing = ExistingFile::Resume;
};

// ---------------------------------------------------------------- reports

enum class TransferState {
    Idle,       // not started
    Connecting, // probing (HTTP) or connecting the control connection (FTP)
    LoggingIn,  // FTP login until the transfer begins
    Asking,     // waiting for the owner's answer to a question
    Downloading,
    Paused,     // by the user or the stall detector; resume() continues
    Stopped,    // the user stopped it; resume() continues, the file is kept
    Complete,   // final
    Failed,     // final: waits with its failure
    Cancelled,  // final: closed by its owner, the file is kept
};

// A status text the owner shows, by caption identifier and English default,
// with text the job adds before or after it (a user name, a reason). The
// owner looks the caption up; the job never does.
struct TransferStatus {
    QString captionId;   // empty: `text` alone is the status
    QString defaultText; // the caption's English default
    QString prefix;
    QString suffix;
    QString text;        // used when captionId and defaultText are empty
    // A caption of its own before `prefix` ("User " before a user name).
    QString prefixCaptionId;
    QString prefixDefault;

    static TransferStatus caption(const QString &id, const QString &defaultText, const QString &suffix = {})
    {
        TransferStatus s;
        s.captionId = id;
        s.defaultText = defaultText;
        s.suffix = suffix;
        return s;
    }
    static TransferStatus plain(const QString &text)
    {
        TransferStatus s;
        s.text = text;
        return s;
    }
    bool operator==(const TransferStatus &) const = default;
};

// The text a status shows: [prefix caption] prefix, caption (or text), suffix.
QString transferStatusText(const TransferStatus &status, const CaptionLookup &captions);

// One connection's part of the file: bytes [start, end) of which the first
// `done` are written. A download over one connection has one entry.
struct SegmentProgress {
    qint64 start = 0;
    qint64 end = 0; // -1 while the size is unknown
    qint64 done = 0;
    bool operator==(const SegmentProgress &) const = default;
};

struct TransferProgress {
    qint64 received = 0;       // bytes of the file present (a resumed part counts)
    qint64 size = -1;          // -1 while unknown
    double rate = 0;           // bytes per second at the last rate tick; 0 when not running
    double secondsLeft = 0;    // at that rate
    double elapsed = 0;        // seconds of data phase
    int timeoutLeft = -1;      // time-out countdown ticks left; -1 when not counting
    bool resumable = false;    // the server honours ranges (HTTP) or REST (FTP)
    int connections = 0;       // planned connections (0: one without a plan)
    int retries = 0;           // restarts after time-outs so far
    int redirects = 0;
    QList<SegmentProgress> segments;
};

enum class FailureKind {
    None,
    HttpStatus,       // code and the server's reason phrase
    FtpReply,         // code and the reply text (login refused, no such file)
    Timeout,          // no reply within the countdown, no retries left
    TooManyRedirects,
    PageWithoutLink,  // page mode found no link to the file
    ServerKeepsClosing,
    FileError,        // the save file could not be opened or written (detail: why)
    Protocol,         // a reply that could not be parsed (detail: why)
    Certificate,      // the server's TLS certificate did not verify (detail: why)
};

struct TransferOutcome {
    enum class Kind { Success, Failure, Cancelled };
    Kind kind = Kind::Cancelled;
    FailureKind failure = FailureKind::None;
    int code = 0;            // HTTP status or FTP reply code
    QByteArray serverText;   // the status line's reason or the reply text
    TransferStatus status;   // what the download shows for it
};

// How a connection that did not become secure as it should ends the
// download, HTTP or FTP alike: a certificate failure or another TLS
// failure, with the host and the reasons shown.
TransferOutcome tlsFailureOutcome(const TlsFailure &failure);

// A question the job needs answered before it goes on. The owner answers
// with answer(id, yes), at once or later; the job waits in Asking.
struct TransferQuestion {
    enum class Kind {
        UseSegments,   // split this file? (afterPartialReply picks the wording)
        StopSegmented, // stopping a segmented download: really stop?
        TrustCertificate, // the server's certificate did not verify: trust it?
    };
    quint64 id = 0;
    Kind kind = Kind::UseSegments;
    bool afterPartialReply = false;
    int segments = 0; // how many the table gives
    // TrustCertificate: the host, its certificate and why it did not verify.
    QString host;
    PeerCertificate certificate;
    QStringList errors;
};

// Something the owner should tell the user without stopping the download
// (the Part's message boxes on a data-connection error).
struct TransferNotice {
    enum class Kind { DataError, FtpDataError };
    Kind kind = Kind::DataError;
    int number = 0;
    QString description;
};

// Timer periods; tests shorten them.
struct TransferTiming {
    std::chrono::milliseconds update{500};
    std::chrono::milliseconds rate{2500};
    std::chrono::milliseconds timeout{1500};
    std::chrono::milliseconds stallSecond{1000}; // one second of the stall detector
};

// Writes bytes at an offset of an open save file: 0 when all were written,
// else the errno of the failure (ENOSPC for a full disk). Tests put a full
// disk in its place.
using FileWriter = std::function<int(QFile &file, qint64 offset, QByteArrayView bytes)>;
int writeFileAt(QFile &file, qint64 offset, QByteArrayView bytes);

struct TransferServices {
    // Read at every start; empty: the defaults of TransferSettings.
    std::function<TransferSettings()> settings;
    const LoginTable *logins = nullptr;
    std::shared_ptr<const SocketFactory> sockets; // TLS-capable, system CAs only, when empty
    // Certificates the user accepted. With it a certificate that does not
    // verify is a TrustCertificate question; without it the download fails.
    // The socket factory must consult the same store (the default one does).
    std::shared_ptr<TrustStore> trust;
    TransferTiming timing;
    FileWriter writer; // writeFileAt when empty
};

// ---------------------------------------------------------------- job

class TransferProtocol;

// One download without a window: HTTP or FTP by its URL. The owner starts,
// pauses, resumes, stops and cancels it, answers its questions, and watches
// its typed state and progress. A job runs once: finished() is emitted
// exactly once in its life, after Complete, Failed or Cancelled was entered,
// and is the last thing the job does in that call (a slot may delete it).
// A time-out retry or a redirect restarts it inside; a new start of the same
// row is a new job.
class TransferJob : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxSegments = 6;

    explicit TransferJob(TransferServices services, QObject *parent = nullptr);
    ~TransferJob() override;

    void start(const TransferRequest &request);
    void pause();
    void resume();
    // Stops the transfer and keeps the file and the segment plan; a
    // segmented download asks StopSegmented first.
    void stop();
    // Stops without asking and ends the job Cancelled (a closed window).
    void cancel();
    void answer(quint64 questionId, bool yes);

    TransferState state() const;
    bool isFinished() const;
    bool isRunning() const; // connecting, logging in, asking or downloading
    const TransferProgress &progress() const;
    const TransferOutcome &outcome() const;   // meaningful once finished
    const TransferRequest &request() const;
    const UrlFields &url() const;             // after redirects, the current target
    QString currentUrl() const;               // the URL after redirects
    const TransferStatus &status() const;     // the last status
    QByteArray serverLog() const;             // every reply header received

Q_SIGNALS:
    void stateChanged(TransferState state);
    void progressChanged();                    // at most once per event-loop turn
    void statusChanged(const TransferStatus &status);
    void questionAsked(const TransferQuestion &question);
    void noticeRaised(const TransferNotice &notice);
    void finished(const TransferOutcome &outcome);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
