#pragma once

#include "config/cregister.h"
#include "download/downloadlist.h"
#include "platform/captionlookup.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>

class DownloadListModel;

// The history file "History.ini" in the program directory keeps the download
// list and the completed list across runs.
//
// File layout: UTF-8 text, one value per line, every line ended by CR LF
// (readers also accept a bare LF):
//   for each row of the download list: save path, progress, size, received,
//     status, URL, save date (seven lines);
//   the line "Complete List";
//   for each row of the completed list: the same seven lines;
//   the line "Finish History".
// The save date is the day of the save, the same for every row.
//
// Value encoding. An ordinary value is written exactly as it is, so files of
// earlier versions, which wrote every value unchanged, load unchanged. A value
// is encoded only when it could not survive as one line of its own: when it
// contains a CR or an LF, when it equals one of the two marker lines, or when
// it begins with the encoding prefix "\:" itself. An encoded value is the
// prefix "\:" followed by the value in which every "\" is written "\\", every
// CR "\r" and every LF "\n". Reading reverses this for lines that begin with
// "\:" (an unknown escape such as "\x", or a lone "\" at the end, stands for
// itself); every other line is taken literally. Backslashes in ordinary
// values (for example "C:\new\file.zip") are never touched, because the
// prefix, not the backslash, announces an encoded value.

namespace history {

inline const QString FileName = QStringLiteral("History.ini");
inline const QString CompleteMarker = QStringLiteral("Complete List");
inline const QString FinishMarker = QStringLiteral("Finish History");
inline const QString EncodedPrefix = QStringLiteral("\\:");

// Lines per row: the six row values and the save date.
constexpr int LinesPerRow = 7;

// One value as it is written to its line, and back.
QString encodeValue(const QString &value);
QString decodeValue(const QString &line);

// The save date as written to the file (ISO form, yyyy-MM-dd).
QString formatDate(const QDate &date);

// The lines of a history file. Each row gives its values 1 to 6 (save path,
// progress, size, received, status, URL); missing values are written empty,
// values beyond the sixth are ignored (the date line is always `date`).
QStringList formatLines(const QList<QStringList> &downloads, const QList<QStringList> &completed,
                        const QString &date);
// The same, as file content (CR LF after every line).
QByteArray formatFile(const QList<QStringList> &downloads, const QList<QStringList> &completed,
                      const QString &date);

// What a history file holds. Every row has seven decoded values, the date
// last. `cutShort` is set when the file ended before "Finish History", when a
// section was missing its marker, or when a marker interrupted a row; the
// rows that were complete up to that point are kept, a partial row is not.
struct Content {
    QList<QStringList> downloads;
    QList<QStringList> completed;
    bool cutShort = false;
};

Content parseLines(const QStringList &lines);
Content parseFile(const QByteArray &bytes);

} // namespace history

// Saves both lists to "History.ini" and restores them from it.
class HistoryStore {
public:
    enum class LoadStatus {
        NoFile,     // no history file; the lists were not touched
        Loaded,     // the file was read completely
        CutShort,   // the file was damaged; the complete rows were restored
        Unreadable, // the file exists but could not be opened; lists untouched
    };

    struct Services {
        DownloadListModel *mainList = nullptr;     // the download list
        DownloadListModel *completeList = nullptr; // the completed list
        QString programDir;
        CRegister *reg = nullptr;                  // for the language value; none written when null
        QString appTitle = QStringLiteral("Tessel");
        std::function<QString()> languageFile;     // the active language file name
        CaptionLookup captions = defaultCaptions();
        std::function<QDate()> today;              // local date; the system clock when empty
        std::function<void(const QString &)> status; // status-line reports of a damaged file
        // Whether the download of a download-list row is under way; such a
        // row is written as interrupted ("Paused/Stopped"), so after a crash
        // or a shutdown it never comes back as running. Empty: none is.
        std::function<bool(DownloadListModel::RowId)> running;
    };

    explicit HistoryStore(Services services);

    QString filePath() const;

    // The per-user section the active language file name is saved under, as
    // value "Name" (HKEY_CURRENT_USER "\Software\<title>\Language").
    static QString languageSection(const QString &appTitle);
    static inline const QString LanguageKey = QStringLiteral("Name");

    // Writes the language value, then the history file (see writeFile).
    // Returns false when the file could not be written; error gets the reason.
    bool SaveHistory(QString *error = nullptr);

    // Writes only the history file: replaced atomically (temporary file,
    // flush, rename) so the file on disk is always a complete old or new
    // history; deleted when both lists are empty.
    bool writeFile(QString *error = nullptr);

    // Empties both lists and fills them from the file: download rows with
    // icon 1, completed rows with icon 4, every row with its date as value 7.
    // Nothing runs yet: a download row written while it was downloading
    // (an older file) comes back "Paused/Stopped" with its received size.
    // A damaged file keeps the complete rows read and reports "File
    // corrupted:" (13026) with "History data or/and downloads will NOT be
    // Correct " (13027) through the status callback; the same text is
    // available from lastMessage().
    LoadStatus LoadHistory();

    QString lastMessage() const { return m_lastMessage; }

    DownloadListModel *mainList() const { return m_services.mainList; }
    DownloadListModel *completeList() const { return m_services.completeList; }

    // The status of a download that was cut short: "Paused/Stopped" (11055).
    QString interruptedStatus() const;

private:
    QDate today() const;
    void report(const QString &message);

    Services m_services;
    QString m_lastMessage;
};

// Writes the history file soon after either list changes: the first change
// (rows inserted or removed, values changed, list reset) starts the delay and
// the file is written when it runs out; changes within the delay are written
// together. The delay is not restarted by later changes, so rows that change
// all the time (a running download) are still saved at least once per delay.
class HistoryAutosaver : public QObject {
    Q_OBJECT

public:
    explicit HistoryAutosaver(HistoryStore &store, std::chrono::milliseconds delay = std::chrono::milliseconds(2000),
                              QObject *parent = nullptr);

    std::chrono::milliseconds delay() const { return m_delay; }
    // True while a change waits to be written (also after a failed write).
    bool pending() const { return m_dirty; }

    // Writes a pending change now (for shutdown). Returns false only when a
    // write was needed and failed.
    bool flush();

Q_SIGNALS:
    void saved();
    void saveFailed(const QString &error);

private:
    void changed();
    void structureChanged();
    bool write();

    HistoryStore &m_store;
    std::chrono::milliseconds m_delay;
    QTimer m_timer;
    bool m_dirty = false;
};
