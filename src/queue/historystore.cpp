#include "queue/historystore.h"

#include "download/downloadlist.h"
#include "platform/programdir.h"
#include "platform/textfile.h"

#include <QFile>

namespace history {

namespace {

bool needsEncoding(const QString &value)
{
    return value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('\n')) || value == CompleteMarker
           || value == FinishMarker || value.startsWith(EncodedPrefix);
}

QList<QStringList> rowsOf(const DownloadListModel *model)
{
    QList<QStringList> rows;
    if (!model)
        return rows;
    rows.reserve(model->count());
    for (int i = 0; i < model->count(); ++i)
        rows.append(model->values(model->idAt(i)));
    return rows;
}

void appendRows(QStringList &lines, const QList<QStringList> &rows, const QString &date)
{
    for (const QStringList &row : rows) {
        for (int k = 0; k < LinesPerRow - 1; ++k)
            lines.append(encodeValue(row.value(k)));
        lines.append(encodeValue(date));
    }
}

// Reads rows of seven lines from `at` until `endMarker`. Returns true when
// the marker was found; `at` is left after it. A raw `stopMarker` line also
// ends the section (it can never be a value, values equal to a marker are
// encoded), but counts as a missing `endMarker`.
bool readSection(const QStringList &lines, qsizetype &at, const QString &endMarker, const QString *stopMarker,
                 QList<QStringList> &rows, bool &partialRow)
{
    QStringList row;
    bool found = false;
    while (at < lines.size()) {
        const QString &line = lines.at(at++);
        if (line == endMarker) {
            found = true;
            break;
        }
        if (stopMarker && line == *stopMarker)
            break;
        row.append(decodeValue(line));
        if (row.size() == LinesPerRow) {
            rows.append(row);
            row.clear();
        }
    }
    partialRow = !row.isEmpty();
    return found;
}

} // namespace

QString encodeValue(const QString &value)
{
    if (!needsEncoding(value))
        return value;
    QString out = EncodedPrefix;
    out.reserve(value.size() + 8);
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else
            out += c;
    }
    return out;
}

QString decodeValue(const QString &line)
{
    if (!line.startsWith(EncodedPrefix))
        return line;
    QString out;
    out.reserve(line.size());
    const qsizetype n = line.size();
    for (qsizetype i = EncodedPrefix.size(); i < n; ++i) {
        const QChar c = line.at(i);
        if (c != QLatin1Char('\\') || i + 1 >= n) {
            out += c;
            continue;
        }
        const QChar next = line.at(i + 1);
        if (next == QLatin1Char('\\')) {
            out += QLatin1Char('\\');
            ++i;
        } else if (next == QLatin1Char('r')) {
            out += QLatin1Char('\r');
            ++i;
        } else if (next == QLatin1Char('n')) {
            out += QLatin1Char('\n');
            ++i;
        } else {
            out += c; // an unknown escape stands for itself
        }
    }
    return out;
}

QString formatDate(const QDate &date)
{
    return date.toString(Qt::ISODate);
}

QStringList formatLines(const QList<QStringList> &downloads, const QList<QStringList> &completed,
                        const QString &date)
{
    QStringList lines;
    lines.reserve((downloads.size() + completed.size()) * LinesPerRow + 2);
    appendRows(lines, downloads, date);
    lines.append(CompleteMarker);
    appendRows(lines, completed, date);
    lines.append(FinishMarker);
    return lines;
}

QByteArray formatFile(const QList<QStringList> &downloads, const QList<QStringList> &completed,
                      const QString &date)
{
    return textfile::joinLines(formatLines(downloads, completed, date));
}

Content parseLines(const QStringList &lines)
{
    Content content;
    qsizetype at = 0;
    bool partial = false;
    const bool haveComplete = readSection(lines, at, CompleteMarker, &FinishMarker, content.downloads, partial);
    if (partial || !haveComplete) {
        content.cutShort = true;
        if (!haveComplete)
            return content;
    }
    const bool haveFinish = readSection(lines, at, FinishMarker, nullptr, content.completed, partial);
    if (partial || !haveFinish)
        content.cutShort = true;
    return content;
}

Content parseFile(const QByteArray &bytes)
{
    return parseLines(textfile::splitLines(bytes));
}

} // namespace history

HistoryStore::HistoryStore(Services services) : m_services(std::move(services)) {}

QString HistoryStore::filePath() const
{
    return joinPath(m_services.programDir, history::FileName);
}

QString HistoryStore::languageSection(const QString &appTitle)
{
    return QStringLiteral("\\Software\\") + appTitle + QStringLiteral("\\Language\\");
}

QDate HistoryStore::today() const
{
    return m_services.today ? m_services.today() : QDate::currentDate();
}

void HistoryStore::report(const QString &message)
{
    m_lastMessage = message;
    if (m_services.status)
        m_services.status(message);
}

QString HistoryStore::interruptedStatus() const
{
    return m_services.captions(QStringLiteral("11055"), QStringLiteral("Paused/Stopped"));
}

bool HistoryStore::SaveHistory(QString *error)
{
    if (m_services.reg && m_services.languageFile)
        m_services.reg->REGSaveSetting(CRegister::HKEY_CURRENT_USER, languageSection(m_services.appTitle),
                                       LanguageKey, m_services.languageFile());
    return writeFile(error);
}

bool HistoryStore::writeFile(QString *error)
{
    QList<QStringList> downloads = history::rowsOf(m_services.mainList);
    if (m_services.running) {
        for (int i = 0; i < downloads.size(); ++i) {
            if (m_services.running(m_services.mainList->idAt(i)))
                downloads[i][DownloadListModel::Status - 1] = interruptedStatus();
        }
    }
    const QList<QStringList> completed = history::rowsOf(m_services.completeList);
    const QString path = filePath();

    if (downloads.isEmpty() && completed.isEmpty()) {
        // Nothing to keep: no file is left behind.
        QFile file(path);
        if (!file.exists() || file.remove())
            return true;
        if (error)
            *error = file.errorString();
        return false;
    }

    const QByteArray content = history::formatFile(downloads, completed, history::formatDate(today()));
    return textfile::writeAtomically(path, content, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                        | QFileDevice::ReadGroup | QFileDevice::ReadOther,
                                     error);
}

HistoryStore::LoadStatus HistoryStore::LoadHistory()
{
    m_lastMessage.clear();
    const QString path = filePath();
    QFile file(path);
    if (!file.exists())
        return LoadStatus::NoFile;
    if (!file.open(QIODevice::ReadOnly)) {
        report(path + QStringLiteral(": ") + file.errorString());
        return LoadStatus::Unreadable;
    }
    const history::Content content = history::parseFile(file.readAll());
    file.close();

    auto fill = [](DownloadListModel *model, const QList<QStringList> &rows, int icon) {
        if (!model)
            return;
        model->clear();
        for (const QStringList &row : rows)
            model->addRow(row, icon);
    };
    fill(m_services.mainList, content.downloads, 1);
    if (DownloadListModel *list = m_services.mainList) {
        const QString running = m_services.captions(QStringLiteral("11051"), QStringLiteral("Downloading..."));
        for (int i = 0; i < list->count(); ++i) {
            const DownloadListModel::RowId id = list->idAt(i);
            if (list->value(id, DownloadListModel::Status).startsWith(running))
                list->setValue(id, DownloadListModel::Status, interruptedStatus());
        }
    }
    fill(m_services.completeList, content.completed, 4);

    if (!content.cutShort)
        return LoadStatus::Loaded;
    const CaptionLookup &text = m_services.captions;
    report(text(QStringLiteral("13026"), QStringLiteral("File corrupted:")) + QLatin1Char(' ') + path
           + QStringLiteral(" - ")
           + text(QStringLiteral("13027"), QStringLiteral("History data or/and downloads will NOT be Correct ")));
    return LoadStatus::CutShort;
}

HistoryAutosaver::HistoryAutosaver(HistoryStore &store, std::chrono::milliseconds delay, QObject *parent)
    : QObject(parent), m_store(store), m_delay(delay)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(m_delay);
    connect(&m_timer, &QTimer::timeout, this, [this] { write(); });

    for (DownloadListModel *model : {store.mainList(), store.completeList()}) {
        if (!model)
            continue;
        // A row added or removed is written at the next turn of the event
        // loop (many at once are written together), so even a kill right
        // after adding a URL keeps it; the frequent progress updates of
        // running rows wait for the delay.
        connect(model, &QAbstractItemModel::rowsInserted, this, &HistoryAutosaver::structureChanged);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &HistoryAutosaver::structureChanged);
        connect(model, &QAbstractItemModel::rowsMoved, this, &HistoryAutosaver::structureChanged);
        connect(model, &QAbstractItemModel::dataChanged, this, &HistoryAutosaver::changed);
        connect(model, &QAbstractItemModel::layoutChanged, this, &HistoryAutosaver::structureChanged);
        connect(model, &QAbstractItemModel::modelReset, this, &HistoryAutosaver::structureChanged);
    }
}

void HistoryAutosaver::changed()
{
    m_dirty = true;
    if (!m_timer.isActive())
        m_timer.start(m_delay);
}

void HistoryAutosaver::structureChanged()
{
    m_dirty = true;
    m_timer.start(0);
}

bool HistoryAutosaver::write()
{
    m_timer.stop();
    QString error;
    if (!m_store.writeFile(&error)) {
        // Stays dirty: the next change or flush() tries again.
        Q_EMIT saveFailed(error);
        return false;
    }
    m_dirty = false;
    Q_EMIT saved();
    return true;
}

bool HistoryAutosaver::flush()
{
    if (!m_dirty)
        return true;
    return write();
}
