#pragma once

#include "config/loginaccount.h"
#include "download/downloadlist.h"
#include "download/ftpprotocol.h"
#include "download/httpmessage.h"
#include "download/httprequest.h"
#include "download/urlmodel.h"
#include "platform/captionlookup.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <chrono>
#include <memory>

class CRegister;
class ChannelGroup;
class ExtraTimer;
class Prompts;
class SocketArray;
class SocketChannel;
class SocketFactory;
struct SettingsRecord;

// One download: the transfer a download window runs and shows. It probes the
// server, plans the data phase, writes each arriving chunk where its range
// belongs, watches the transfer with four timers (display, rate, connection
// time-out, stall) and moves its row to the completed list when done.
//
// The window only observes it (display(), displayChanged()) and commands it
// (StartDownload, Pause_Resume, StopMe, close). finished() is emitted exactly
// once: when the file is complete, when the download gives up with a
// message, or when it is cancelled or closed.
class DownloadJob : public QObject {
    Q_OBJECT

public:
    enum class State { Idle, Probing, Downloading, Paused, Stopped, Waiting, Complete, Closed };
    Q_ENUM(State)
    enum class Outcome { Completed, Failed, Cancelled };
    Q_ENUM(Outcome)

    // Timer periods; tests shorten them.
    struct Timing {
        std::chrono::milliseconds update{500};
        std::chrono::milliseconds rate{2500};
        std::chrono::milliseconds timeout{1500};
        std::chrono::milliseconds stallSecond{1000}; // one second of the stall detector
    };

    struct Services {
        SettingsRecord *record = nullptr;
        CRegister *reg = nullptr;              // statistics and the completion options
        CaptionLookup captions = defaultCaptions();
        Prompts *prompts = nullptr;
        DownloadListModel *mainList = nullptr;     // the download list
        DownloadListModel *completeList = nullptr; // the completed list
        const LoginTable *logins = nullptr;
        QString appTitle = QStringLiteral("Tessel");
        Timing timing;
        std::shared_ptr<const SocketFactory> sockets; // plain TCP when empty
    };

    // What the window shows.
    struct Display {
        QString status;
        QString fileSize;
        QString resume;
        QString received;
        QString rate;
        QString timeLeft;
        QString elapsed;
        QString countdown;
        bool countdownVisible = false;
        int percent = 0;
        bool mainBarVisible = false;
        QList<int> segmentBars; // percent per segment bar
        QString caption;
        QString pauseText;
        QString stopText;
        bool pauseEnabled = true;
        bool stopEnabled = true;
        bool openVisible = false; // Open and Go To Dir
        bool restoreRequested = false; // the window should come back from the tray
    };

    static constexpr int MaxSegments = 6;

    explicit DownloadJob(Services services, QObject *parent = nullptr);
    ~DownloadJob() override;

    // --- public fields of a download window ---
    qint64 intRecievedBytes = 0;
    qint64 intFileSize = 0;
    double intTransferRate = 0;
    int intAssignedIndex = -1;
    QString strSaveTo;
    QString strURL;
    UrlFields url; // strServer, strFile, strFilePath, strUserName, strPassword, intPort, HTTPMODE, FTPMODE
    DownloadListModel::RowId lstItem = DownloadListModel::NoRow;

    // Fills the URL fields from text (logins from the login table).
    void ParseURL(const QString &text);
    // Starts or restarts the download with the program-wide existing-file
    // answer (0 overwrite, -1 resume, -2 cancel) as it stands now.
    void StartDownload();
    void Pause_Resume();
    void StopMe();
    void StopDown();
    void CloseAll();
    void LayoutBars(int bars);
    // The window closes: stops the transfer and keeps the file.
    void close();

    // The number of segments the table gives a file of `size` bytes;
    // `current` when the size falls in a gap of the table.
    static int segmentsForSize(qint64 size, const std::array<double, 9> &thresholds, int current);

    qint64 TotalReceived() const;
    bool isFileDownloaded() const;

    State state() const { return m_state; }
    bool isFinished() const { return m_finished; }
    Outcome outcome() const { return m_outcome; }
    const Display &display() const { return m_display; }
    // Every response header received, for the server-data viewer.
    QByteArray strLog() const { return m_log; }

    qint64 lngContentSize() const { return m_contentSize; }
    int bytSegments() const { return m_segments; }
    qint64 lngSegStart(int i) const { return m_segStart.at(i); }
    qint64 lngSegPos(int i) const { return m_segPos.at(i); }
    int intRetries() const { return m_retries; }
    int intRedirects() const { return m_redirects; }
    int intTimeLeft() const { return m_timeLeft; }
    int intFTPState() const { return m_ftp.intFTPState; }
    // The last complete reply of an FTP control connection.
    int strReplyCode() const { return m_lastReply.code; }
    QByteArray strReply() const { return m_lastReply.text; }

Q_SIGNALS:
    void displayChanged();
    void finished(DownloadJob::Outcome outcome);
    // The window should close itself (cancelled start, close-when-done).
    void closeRequested();
    // The main window's mode entry of this download's slot ("Error" when an
    // FTP server has no such file).
    void modeEntryChanged(int slot, const QString &text);
    // The user should hear that something went wrong.
    void beepRequested();

private:
    enum class SocketSet { Full, Partial }; // wsHTTP after a 200 probe, wsHTTP1 after a 206
    struct Connection {
        std::unique_ptr<HttpResponseParser> parser;
        HttpByteRange requested;
        qint64 written = 0;   // body bytes of this reply written
        qint64 maxBytes = -1; // body bytes this reply may write
        bool accepted = false;
        bool done = false;    // its range is complete
    };

    void startInternal();
    bool applyExistChoice();
    void resetButtons();
    void SetCaptions();
    QString caption(const char *id, const char *defaultText) const;
    void setRow(int column, const QString &text);
    void changed();
    void failWith(const QString &text);
    void finish(Outcome outcome);
    void stopTimers();

    // probe
    void connectProbe();
    void onProbeConnected();
    void onProbeData();
    void onProbeClosed();
    void handlePageBody();
    void RestartWith(const QString &newUrl);

    // data phase
    void Check_Create(qint64 size, SocketSet set);
    bool openSaveFile();
    void SetSegIndecies();
    SocketArray *activeSet() const;
    void connectElement(int i);
    void onDataConnected(int i);
    void onDataArrived(int i);
    void onDataClosed(int i);
    void onDataError(int i, int number, const QString &description);
    void writeBody(int i, QByteArray body);
    void fallBackToFull(int i);
    int decideSegments(qint64 size, SocketSet set);
    QString sidecarPath() const;
    void saveSidecar() const;
    bool loadSidecar(qint64 size);
    void removeSidecar() const;
    void Update(int i);
    void completeDownload();
    void closeFiles();

    // FTP
    void startFtp();
    void forgetTransfer();
    void onControlConnected();
    void onControlData();
    void onControlClosed();
    void applyFtpStep(const FtpLoginStep &step);
    bool openActiveDataSide(quint16 preferred, bool sendPort);
    void onFtpDataRequest(qintptr request);
    void onFtpDataArrived();
    void onFtpDataClosed();
    void writeFtpData(const QByteArray &bytes);
    void checkFtpEnd();
    void resumeFtp();
    void syncFtpPositions();

    // timers
    void onUpdateTick();
    void onRateTick();
    void onTimeoutTick();
    void onStallTick();
    void pauseTransfer();
    void resumeTransfer();

    Services m_services;
    State m_state = State::Idle;
    Display m_display;
    bool m_finished = false;
    Outcome m_outcome = Outcome::Cancelled;
    bool m_changePending = false;

    std::shared_ptr<ChannelGroup> m_group;
    SocketChannel *m_probe = nullptr;
    SocketArray *m_wsHTTP = nullptr;
    SocketArray *m_wsHTTP1 = nullptr;
    SocketChannel *m_wsFTPData = nullptr;
    FtpReplyReader m_replies;
    FtpReply m_lastReply;
    FtpLoginState m_ftp;
    QByteArray m_ftpPending;   // data that arrived before the server's "150"
    bool m_ftpTransferring = false;
    bool m_ftpDataClosed = false;
    bool m_ftpConfirmed = false;
    bool m_sizeKnown = true;
    SocketSet m_set = SocketSet::Full;
    HttpResponseParser m_probeParser;
    QByteArray m_pageBody;

    QTimer m_tmrUpdate;
    QTimer m_tmrUpdate2;
    QTimer m_tmrTimeOut;
    ExtraTimer *m_tmrReconnect = nullptr;

    qint16 m_existChoice = -2;
    qint64 m_contentSize = 0;
    int m_segments = 0;
    std::array<qint64, MaxSegments + 1> m_segStart{};
    std::array<qint64, MaxSegments> m_segPos{};
    std::array<bool, MaxSegments> m_segResume{};
    std::array<Connection, MaxSegments> m_conn;
    QFile m_file;
    bool m_fullRange = false;
    bool m_pageMode = false;
    bool m_resumeSet = false;
    bool m_planned = false;
    int m_redirects = 0;
    int m_retries = 0;
    int m_timeLeft = 0;
    int m_emptyCloses = 0;
    quint64 m_generation = 0; // advanced whenever the connections are closed
    bool m_pausedByStall = false;
    qint64 m_stallTotal = -1; // the total at the stall detector's last tick
    double m_elapsed = 0;
    qint64 m_lastTotal = 0;
    QElapsedTimer m_rateClock;
    QByteArray m_log;
    QString m_pauseCaption, m_resumeCaption, m_stopCaption, m_closeCaption;
};
