#pragma once

#include "config/settingsmodel.h"
#include "config/settingsrecord.h"
#include "platform/captionlookup.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class DownloadListModel;

// The rules that take a typed, dropped or delivered URL to a started or
// queued download: the URL checks, the per-server limit, the two filter
// lists and the save-location rules. Everything here is free of widgets and
// of the file system (except CreateSaveFolder), so the new-URL dialog, the
// save prompt and the tests call the same functions.
//
// Paths use "/". A "folder, separator, name" join never doubles the "/".

// Markers of a download row's progress value.
inline const QString ProgressNotStarted = QStringLiteral("0%");
inline const QString ProgressFinished = QStringLiteral("100%");
inline const QString ProgressRefused = QStringLiteral("0 %");
// The status of a row added by QueueDownload.
inline const QString StatusNotDownloaded = QStringLiteral("Not Downloaded");

// A caption key and the text shown when the language file has none.
struct CaptionText {
    QString id;
    QString defaultText;
    QString lookUp(const CaptionLookup &captions) const;
};

inline const CaptionText CaptionInvalidUrl{QStringLiteral("11041"), QStringLiteral("Invalid URL")};
inline const CaptionText CaptionInvalidFileUrl{QStringLiteral("13028"), QStringLiteral("Invalid File URL...")};
// The title of the "Invalid File URL..." box shares the key of "Invalid URL"
// but has its own default text.
inline const CaptionText CaptionInvalidFileUrlTitle{QStringLiteral("11041"), QStringLiteral("Inavlid URL")};
inline const CaptionText CaptionServerBlocked{QStringLiteral("13029"), QStringLiteral("You block this server")};
inline const CaptionText CaptionExtensionBlocked{QStringLiteral("13030"), QStringLiteral("You block this Extenison")};

// ---------------------------------------------------------------------------
// URL parts

// The file name of a URL: the text of its path after the last "/". A query
// string stays part of the name; a URL that ends with "/" or has no path
// gives an empty name. A browser resource page ("res://...") or a local path
// ("C:\...") that embeds an "http://", "https://" or "ftp://" address is read as that
// address. User information (everything of the authority up to its last
// "@") is never part of the host, so an "@" in the path does not shift it.
// The result never holds a "/".
QString GetFileName(const QString &url);

// The host of a URL as GetFileName reads it, with a port after a colon
// included and user information dropped.
QString GetServerName(const QString &url);

// The text after the last "." of the URL's last "/"-separated segment, case
// kept; empty when that segment has no ".".
QString UrlExtension(const QString &url);

// The text after the last "." of a file name, case kept; empty without ".".
QString FileNameExtension(const QString &name);

// False when the extension holds any of : ? | " < > / and backslash.
bool IsValidExt(const QString &extension);

// ---------------------------------------------------------------------------
// Per-server limit

enum class LimitProtocol { Http, Ftp };

// Which limit applies: HTTP when the address (after a res:// or local-path
// wrapper) begins with "htt" in any case, FTP for everything else, the same
// split the download engine makes between its two protocols.
LimitProtocol LimitProtocolOf(const QString &url);

struct ConnectionLimits {
    int http = 3; // SettingsModel::limitHTTP()
    int ftp = 3;  // SettingsModel::limitFTP()
    int of(LimitProtocol protocol) const { return protocol == LimitProtocol::Http ? http : ftp; }
};

// The rows of the download list that hold a running download from server:
// every row whose progress is none of "0%" (not started), "100%" (finished)
// and "0 %" (refused by a filter or failed), and whose URL has that server.
// Host names are compared without regard to letter case.
int CountRunningFrom(const DownloadListModel &list, const QString &server);

// True while fewer than the limit of the URL's protocol are running from its
// server: a limit of 2 admits a second download, not a third. A limit of 0
// or below admits none, so every URL of that protocol is queued. `running`
// is the number of downloads from GetServerName(url) that hold a place: the
// download manager counts them by their state.
bool IsLimitOk(const QString &url, int running, const ConnectionLimits &limits);
// The same over the rows' progress texts (CountRunningFrom), for lists that
// no manager keeps.
bool IsLimitOk(const QString &url, const DownloadListModel &list, const ConnectionLimits &limits);

// Counts the downloads from a server that hold a place against the limit.
using RunningCounter = std::function<int(const QString &server)>;

// ---------------------------------------------------------------------------
// Filters

// The ignored-server list (entries separated by ";"). An entry without "*"
// refuses exactly that server name in any letter case (blanks around it do
// not count). In an entry with "*" every star becomes a blank and the entry
// is trimmed of blanks; it refuses every server whose name contains the
// rest, in any letter case: "*.example.com" refuses "dl.example.com" and
// "a.example.com.other.net" but not "example.com", and "*" alone refuses
// every server. Empty entries refuse nothing. False at the first refusal.
bool IsServerPermitted(const QString &url, const QString &monitorServer);

// The monitored-extension list (entries separated by ";"), tested against
// "." followed by the extension of GetFileName(url). An entry without "?"
// matches when, trimmed of blanks, it equals that text in any letter case.
// In an entry with "?" every "?" becomes a blank and the entry is trimmed;
// it matches when the extension contains the rest in any letter case, so
// ".R0?" matches ".r0", ".r01" and ".r0x9" alike: the "?" stands for any
// run of characters at the end (or none), not for exactly one. Only blanks
// are trimmed, so an entry carrying a line break never matches. True at the
// first match, false when none matches.
bool IsExtPermitted(const QString &url, const QString &monitorTypes);

// ---------------------------------------------------------------------------
// Save locations

// Everything the save-location rules read from the settings.
struct SaveLocationSettings {
    SaveLocationRules rules;         // from the settings record
    QList<FileTypeRow> fileTypes;    // the file-type table
    QString lastSavePath;            // full path of the file last chosen in the save prompt
    // The folder used where the last save path has no parent folder (no
    // file was ever chosen): the user's home folder.
    QString fallbackFolder;
};

// folder + "/" + name, with a single "/" between them.
QString JoinPath(const QString &folder, const QString &name);

// The parent folder of the last save path, or the fallback folder when that
// path has none.
QString DefaultSaveFolder(const SaveLocationSettings &settings);

// The default save path of a file name: DefaultSaveFolder + "/" + name.
QString DefaultSavePath(const SaveLocationSettings &settings, const QString &name);

// The folder of the file-type table for the URL's extension (UrlExtension,
// compared with each row's type exactly, letter case included): the first
// matching row's folder, the last row's folder when none matches (the last
// row takes every new extension), the default save folder when the table is
// empty.
QString GetPathFromList(const QString &url, const SaveLocationSettings &settings);

// "6-12-2026": day, month and four-digit year without leading zeros.
QString DateFolderName(const QDate &date);

// The server name without one leading "www." or "ftp." (any letter case).
QString ServerFolderName(const QString &server);

// The sub-folder of the "By File Info" choice for a URL. A name that would
// leave the parent folder ("", "." or "..") comes back empty: the file then
// goes into the parent folder itself.
QString SubFolderName(const QString &url, SubFolderNaming naming, const QDate &today);

struct SaveLocation {
    // True: BeginDownload(url, path, -1). False: QueueDownload(url, path).
    bool startNow = false;
    QString path;
    // When not empty, the one folder level to create before the start; a
    // failure (it exists, its parent is missing) is ignored.
    QString folderToCreate;
    bool operator==(const SaveLocation &) const = default;
};

// Where a download that starts at once is saved, by the save-location
// choice:
// - Last Directory Used: the default save path;
// - Same Directory: its folder + "/" + name, or the default save path when
//   that folder is empty;
// - By File Type: GetPathFromList + "/" + name;
// - By File Info: parent folder + "/" + sub-folder + "/" + name, with that
//   sub-folder to be created; an empty parent folder queues the URL with the
//   default save path instead.
SaveLocation ApplySaveLocationRules(const QString &url, const QString &name,
                                    const SaveLocationSettings &settings, const QDate &today);

// Creates the last level of folder (not its parents). Failure is ignored;
// returns whether the folder exists afterwards.
bool CreateSaveFolder(const QString &folder);

// ---------------------------------------------------------------------------
// The OK step of the new-URL dialog

struct IntakeWarning {
    CaptionText text;
    // Empty id and text: the box carries the program's title.
    CaptionText title;
};

struct OkStepInput {
    QString text;                    // the URL box's text, used unchanged
    bool saveAsked = false;          // blnSaveAsked
    NewDownloadOption newDownload = NewDownloadOption::Ask; // SettingsRecord::newDownloadOption()
    SaveLocationSettings save;
    ConnectionLimits limits;
    // The running downloads from a server by their state; empty: counted
    // from the list's progress texts.
    RunningCounter runningFrom;
    // Handed over by browser capture: only then do the two filter lists
    // apply. Typed, pasted and dropped URLs are the user's own choice.
    bool captured = false;
    QString monitorServer;
    QString monitorTypes;
    QDate today;                     // the current local date
};

struct OkStepOutcome {
    enum class Action {
        Warn,     // show the warning box; the dialog stays open
        Queue,    // QueueDownload(url, savePath)
        Start,    // create folderToCreate (ignore failure), then BeginDownload(url, savePath, -1)
        AskSave,  // show the save prompt with URL = url (it proposes its own path)
    };
    // Which check decided the outcome.
    enum class Reason { Scheme, Length, FileName, Limit, ServerFilter, ExtensionFilter, Disposition };

    Action action = Action::Warn;
    Reason reason = Reason::Scheme;
    IntakeWarning warning;           // Warn
    QString warningText;             // Warn: the looked-up texts
    QString warningTitle;
    QString url;                     // the text
    QString name;                    // GetFileName(text), from the file-name check on
    QString defaultSavePath;         // from the file-name check on
    QString savePath;                // Queue: the row's first value (a path or a refusal message); Start: the save path
    QString folderToCreate;          // Start
    // Queue by a filter: the new row's progress becomes "0 %".
    bool markRefused = false;
    // The dialog is hidden (every outcome after the URL checks).
    bool hideDialog = false;
    // The URL got past the limit and both filters: blnSaveAsked becomes true
    // and the dialog is unloaded. Otherwise a hidden dialog stays loaded.
    bool passedFilters = false;
};

// The checks of the OK step in their order; the first that decides ends the
// step:
// 1. the lower-cased text begins with "http://", "https://" or "ftp://", else
//    "Invalid URL";
// 2. an "ftp://" text has at least 8 characters, else "Invalid URL";
// 3. the lower-cased extension of GetFileName is not empty and IsValidExt,
//    else "Invalid File URL..." titled "Inavlid URL";
// 4. IsLimitOk, else queue with the default save path;
// 5. for a captured URL, IsServerPermitted, else queue refused with
//    "You block this server";
// 6. for a captured URL, IsExtPermitted, else queue refused with
//    "You block this Extenison";
// 7. the first URL of a run (saveAsked false) always asks with the save
//    prompt; later ones ask, start by the save-location rules, or queue with
//    the default save path, as the new-download option says.
OkStepOutcome RunOkStep(const OkStepInput &input, const DownloadListModel &list, const CaptionLookup &captions);

// ---------------------------------------------------------------------------
// Smaller rules of the intake's dialogs

// The drop-down list of the URL box: the URL of every row of the download
// list, then of the completed list, in order, duplicates kept.
QStringList HistoryUrls(const DownloadListModel &downloads, const DownloadListModel &completed);

// The clipboard text that prefills the URL box: the text trimmed of white
// space when it contains "ftp://", "http://" or "https://" (exact case), else
// nothing.
// Line breaks are trimmed too, so a copied line does not carry its newline
// into the URL.
std::optional<QString> ClipboardPrefill(const QString &clipboardText);

// The URLs of a text, one a line: each line trimmed, empty lines left out.
// A text without a line break comes back as it is (when not blank).
QStringList UrlLines(const QString &text);

// The file name the save prompt proposes: the URL after its last "/".
QString ProposedSaveName(const QString &url);

// The existing-file answer of a scheduled run: 1 (overwrite) gives 0,
// 2 (resume) gives -1, anything else (3, do not download) gives -2.
qint16 ScheduledExistChoice(int scheduleChoice);

// The window slot of a download: the number of rows the download list holds
// before its row is added, or rowIndex - 1 for a row being restarted
// (rowIndex 1-based, > 0). The caller checks the slot against the window
// table's range.
int DownloadSlot(int rowCount, int rowIndex);
