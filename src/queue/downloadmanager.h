#pragma once

#include "download/downloadlist.h"
#include "download/transferjob.h"
#include "platform/captionlookup.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>

class CRegister;
class Prompts;
struct SettingsRecord;

// A download's place in the lists, as the program's logic reads it. The
// rows' texts only show it.
enum class DownloadState {
    Queued,   // waits for a start ("0%")
    Refused,  // refused by a filter ("0 %")
    Running,  // connecting, logging in, asking or transferring, at any percent
    Paused,
    Stopped,  // stopped or its window closed; Re-Download resumes it
    Failed,   // gave up with a message ("0 %")
    Complete, // moved to the completed list
};

using DownloadId = quint64;

// Answers the questions a download asks (split the file? really stop a
// split download?). The manager passes the answer on to the job.
class DownloadAnswerer {
public:
    virtual ~DownloadAnswerer() = default;
    virtual bool answer(DownloadId id, const TransferQuestion &question) = 0;
};

// The person at the screen answers through message boxes, with the texts the
// download windows have always shown.
class PromptAnswerer final : public DownloadAnswerer {
public:
    PromptAnswerer(Prompts &prompts, CaptionLookup captions, QString appTitle = QStringLiteral("Tessel"));
    bool answer(DownloadId id, const TransferQuestion &question) override;

    // The question's text as the box shows it.
    static QString questionText(const TransferQuestion &question, const CaptionLookup &captions);

private:
    Prompts &m_prompts;
    CaptionLookup m_captions;
    QString m_appTitle;
};

// Fixed answers: the command line's options, a scheduled run's stored answer.
class FixedAnswerer final : public DownloadAnswerer {
public:
    FixedAnswerer(bool useSegments, bool stopSegmented) : m_segments(useSegments), m_stop(stopSegmented) {}
    bool answer(DownloadId id, const TransferQuestion &question) override;

private:
    bool m_segments;
    bool m_stop;
};

// The one owner of every download: it starts each as a TransferJob under a
// stable id, keeps the download's typed state, writes the row texts of the
// download list (when it is given the lists), moves completed rows to the
// completed list, adds to the statistics (when given the settings store),
// and answers the jobs' questions through its answerer.
class DownloadManager : public QObject {
    Q_OBJECT

public:
    struct Services {
        TransferServices transfer;      // settings, logins, sockets, timing of every job
        CaptionLookup captions = defaultCaptions();
        DownloadListModel *downloads = nullptr; // optional: the download list
        DownloadListModel *completed = nullptr; // optional: the completed list
        // Statistics (Downloads, AllBytes) are added only when both are given.
        SettingsRecord *record = nullptr;
        CRegister *reg = nullptr;
        DownloadAnswerer *answerer = nullptr; // none: every question is answered No
    };

    explicit DownloadManager(Services services, QObject *parent = nullptr);
    // Jobs still running are cancelled; their files are kept.
    ~DownloadManager() override;

    // A row that waits for a later start: text (a save path or a refusal
    // message), "0%" or "0 %" when refused, "N/A", "N/A", status, url.
    DownloadId queue(const QString &url, const QString &text, const QString &status, bool refused = false);
    // Takes an existing row of the download list (one restored from the
    // history) as a download in state, with the row's URL and save path;
    // the row's texts stay. A row that has a download already keeps it.
    DownloadId adopt(DownloadListModel::RowId row, DownloadState state);
    // A new row and its job. A request whose existing file is Cancel adds
    // the row and starts nothing (the download stays Queued).
    DownloadId start(const TransferRequest &request);
    // Starts a new job in an existing row of the download list (a queued
    // row, a row from the history, a stopped or failed download).
    DownloadId startRow(DownloadListModel::RowId row, const TransferRequest &request);
    // Starts the download again in its own row as a new job; false when it
    // is running or gone.
    bool redownload(DownloadId id, ExistingFile existing = ExistingFile::Resume);

    void pause(DownloadId id);
    void resume(DownloadId id);   // a stopped download resumes in its own job
    void stop(DownloadId id);     // may ask the stop question
    // Ends the job at once without asking (its window was closed); the file
    // is kept and the download is Stopped, to be resumed later.
    void cancel(DownloadId id);

    void pauseAll();
    // Resumes paused and stopped jobs (not a download whose window closed).
    void resumeAll();
    // Stops the running downloads; paused ones stay paused.
    void stopAll();
    // Cancels every job (the program ends).
    void cancelAll();

    bool contains(DownloadId id) const;
    QList<DownloadId> ids() const;
    DownloadState state(DownloadId id) const;
    TransferJob *job(DownloadId id) const; // nullptr before a start
    // The download's row in the download list (or, once complete, in the
    // completed list).
    DownloadListModel::RowId row(DownloadId id) const;
    DownloadId idOfRow(DownloadListModel::RowId row) const; // 0 when none
    QString url(DownloadId id) const;
    QString savePath(DownloadId id) const;

    // Downloads from server (letter case ignored) that hold their place
    // against the per-server limit: running or paused.
    int runningFrom(const QString &server) const;
    // The same count over the downloads whose URL (as started) matches.
    int runningWhere(const std::function<bool(const QString &url)> &match) const;
    int runningCount() const;
    // The sum of the running jobs' rates in bytes per second.
    double totalRate() const;

    // The exact row texts.
    static QString progressText(qint64 received, qint64 size);

Q_SIGNALS:
    void started(DownloadId id, TransferJob *job);
    void stateChanged(DownloadId id, DownloadState state);
    void progressChanged(DownloadId id);
    void noticeRaised(DownloadId id, const TransferNotice &notice);
    // Once per job, after the rows and statistics are written; the last
    // thing the manager does for that job (a slot may delete the manager).
    void finished(DownloadId id, const TransferOutcome &outcome);

private:
    struct Download;

    Download *find(DownloadId id) const;
    DownloadId add(const QString &url, const QString &savePath, DownloadListModel::RowId row, DownloadState state);
    void launch(Download &d, const TransferRequest &request);
    void setState(Download &d, DownloadState state);
    void setRow(const Download &d, int column, const QString &text);
    QString lookup(const TransferStatus &status) const;
    void onJobState(DownloadId id, TransferState state);
    void onJobProgress(DownloadId id);
    void onJobStatus(DownloadId id, const TransferStatus &status);
    void onJobQuestion(DownloadId id, const TransferQuestion &question);
    void onJobFinished(DownloadId id, const TransferOutcome &outcome);
    void complete(Download &d);
    void addStatistics(qint64 bytes);

    Services m_services;
    std::map<DownloadId, std::unique_ptr<Download>> m_downloads;
    DownloadId m_nextId = 1;
};

Q_DECLARE_METATYPE(DownloadState)
