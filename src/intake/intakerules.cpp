#include "intake/intakerules.h"

#include "download/downloadlist.h"

#include <QRegularExpression>
#include <QDir>
#include <QFileInfo>

namespace {

const QLatin1String HttpScheme("http://");
const QLatin1String HttpsScheme("https://");
const QLatin1String FtpScheme("ftp://");
const QLatin1String FtpsScheme("ftps://");

// Removes leading and trailing blanks (U+0020) only; tabs and line breaks stay.
QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

// A browser resource page ("res://...") or a local path ("C:\...") that
// embeds an address stands for that address; everything before it goes.
QString unwrapped(const QString &url)
{
    const QString lower = url.toLower();
    const bool wrapper = lower.startsWith(QLatin1String("res://")) || url.mid(1, 2) == QLatin1String(":\\");
    if (!wrapper)
        return url;
    qsizetype http = lower.indexOf(HttpScheme);
    const qsizetype https = lower.indexOf(HttpsScheme);
    if (https >= 0 && (http < 0 || https < http))
        http = https;
    qsizetype ftp = lower.indexOf(FtpScheme);
    const qsizetype ftps = lower.indexOf(FtpsScheme);
    if (ftps >= 0 && (ftp < 0 || ftps < ftp))
        ftp = ftps;
    qsizetype at = -1;
    if (http >= 0 && (ftp < 0 || http < ftp))
        at = http;
    else if (ftp >= 0)
        at = ftp;
    return at >= 0 ? url.mid(at) : url;
}

struct AddressParts {
    QString host; // with a port after a colon
    QString path; // from the "/" after the host on; empty without one
};

// Host and path of a URL. The authority ends at the first "/" after the
// scheme; user information is the authority's text up to its last "@" and
// belongs to neither part, so an "@" further on (in the path) cannot move
// the host.
AddressParts splitAddress(const QString &url)
{
    QString rest = unwrapped(url);
    const qsizetype scheme = rest.indexOf(QLatin1String("://"));
    if (scheme >= 0)
        rest = rest.mid(scheme + 3);
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    AddressParts parts;
    parts.host = slash < 0 ? rest : rest.left(slash);
    parts.path = slash < 0 ? QString() : rest.mid(slash);
    const qsizetype at = parts.host.lastIndexOf(QLatin1Char('@'));
    if (at >= 0)
        parts.host = parts.host.mid(at + 1);
    return parts;
}

QString afterLastSlash(const QString &text)
{
    return text.mid(text.lastIndexOf(QLatin1Char('/')) + 1);
}

// A folder name that would not lead out of its parent.
bool isSafeFolderName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

QString cellText(const DownloadListModel &list, int row, int column)
{
    return list.data(list.index(row, column)).toString();
}

} // namespace

QString CaptionText::lookUp(const CaptionLookup &captions) const
{
    if (id.isEmpty() && defaultText.isEmpty())
        return {};
    return captions ? captions(id, defaultText) : defaultText;
}

// ---------------------------------------------------------------------------
// URL parts

QString GetFileName(const QString &url)
{
    return afterLastSlash(splitAddress(url).path);
}

QString GetServerName(const QString &url)
{
    return splitAddress(url).host;
}

QString FileNameExtension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}

QString UrlExtension(const QString &url)
{
    return FileNameExtension(afterLastSlash(url));
}

bool IsValidExt(const QString &extension)
{
    static const QString forbidden = QStringLiteral(":?|\"<>/\\");
    for (const QChar c : extension) {
        if (forbidden.contains(c))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Per-server limit

LimitProtocol LimitProtocolOf(const QString &url)
{
    return unwrapped(url).left(3).toLower() == QLatin1String("htt") ? LimitProtocol::Http : LimitProtocol::Ftp;
}

int CountRunningFrom(const DownloadListModel &list, const QString &server)
{
    int count = 0;
    for (int row = 0; row < list.rowCount(); ++row) {
        const QString progress = cellText(list, row, DownloadListModel::Progress);
        if (progress == ProgressNotStarted || progress == ProgressFinished || progress == ProgressRefused)
            continue;
        if (GetServerName(cellText(list, row, DownloadListModel::Url)).compare(server, Qt::CaseInsensitive) == 0)
            ++count;
    }
    return count;
}

bool IsLimitOk(const QString &url, int running, const ConnectionLimits &limits)
{
    return running < limits.of(LimitProtocolOf(url));
}

bool IsLimitOk(const QString &url, const DownloadListModel &list, const ConnectionLimits &limits)
{
    return IsLimitOk(url, CountRunningFrom(list, GetServerName(url)), limits);
}

// ---------------------------------------------------------------------------
// Filters

bool IsServerPermitted(const QString &url, const QString &monitorServer)
{
    const QString server = GetServerName(url);
    const QString lowerServer = server.toLower();
    const QStringList entries = monitorServer.split(QLatin1Char(';'));
    for (const QString &raw : entries) {
        if (raw.contains(QLatin1Char('*'))) {
            QString pattern = raw;
            pattern.replace(QLatin1Char('*'), QLatin1Char(' '));
            if (lowerServer.contains(trimBlanks(pattern).toLower()))
                return false;
        } else {
            const QString entry = trimBlanks(raw);
            if (!entry.isEmpty() && entry.compare(server, Qt::CaseInsensitive) == 0)
                return false;
        }
    }
    return true;
}

bool IsExtPermitted(const QString &url, const QString &monitorTypes)
{
    const QString ext = QLatin1Char('.') + FileNameExtension(GetFileName(url));
    const QString lowerExt = ext.toLower();
    const QStringList entries = monitorTypes.split(QLatin1Char(';'));
    for (const QString &raw : entries) {
        if (raw.contains(QLatin1Char('?'))) {
            QString pattern = raw;
            pattern.replace(QLatin1Char('?'), QLatin1Char(' '));
            if (lowerExt.contains(trimBlanks(pattern).toLower()))
                return true;
        } else if (trimBlanks(raw).compare(ext, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Save locations

QString JoinPath(const QString &folder, const QString &name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

QString DefaultSaveFolder(const SaveLocationSettings &settings)
{
    const QString parent = SettingsModel::parentFolder(settings.lastSavePath);
    return parent.isEmpty() ? settings.fallbackFolder : parent;
}

QString DefaultSavePath(const SaveLocationSettings &settings, const QString &name)
{
    return JoinPath(DefaultSaveFolder(settings), name);
}

QString GetPathFromList(const QString &url, const SaveLocationSettings &settings)
{
    if (settings.fileTypes.isEmpty())
        return DefaultSaveFolder(settings);
    const QString ext = UrlExtension(url);
    for (const FileTypeRow &row : settings.fileTypes) {
        if (row.type == ext)
            return row.folder;
    }
    return settings.fileTypes.constLast().folder;
}

QString DateFolderName(const QDate &date)
{
    return QStringLiteral("%1-%2-%3").arg(date.day()).arg(date.month()).arg(date.year(), 4, 10, QLatin1Char('0'));
}

QString ServerFolderName(const QString &server)
{
    if (server.startsWith(QLatin1String("www."), Qt::CaseInsensitive)
        || server.startsWith(QLatin1String("ftp."), Qt::CaseInsensitive))
        return server.mid(4);
    return server;
}

QString SubFolderName(const QString &url, SubFolderNaming naming, const QDate &today)
{
    QString name;
    switch (naming) {
    case SubFolderNaming::ServerName:
        name = ServerFolderName(GetServerName(url));
        break;
    case SubFolderNaming::CurrentDate:
        name = DateFolderName(today);
        break;
    case SubFolderNaming::FileExtension:
        name = UrlExtension(url);
        break;
    }
    return isSafeFolderName(name) ? name : QString();
}

SaveLocation ApplySaveLocationRules(const QString &url, const QString &name,
                                    const SaveLocationSettings &settings, const QDate &today)
{
    const SaveLocationRules &rules = settings.rules;
    switch (rules.choice) {
    case SaveChoice::LastDirectory:
        break;
    case SaveChoice::SameDirectory:
        if (!rules.sameDirectory.isEmpty())
            return {true, JoinPath(rules.sameDirectory, name), {}};
        break;
    case SaveChoice::ByFileType:
        return {true, JoinPath(GetPathFromList(url, settings), name), {}};
    case SaveChoice::ByFileInfo: {
        if (rules.parentDirectory.isEmpty())
            return {false, DefaultSavePath(settings, name), {}};
        const QString sub = SubFolderName(url, rules.naming, today);
        if (sub.isEmpty())
            return {true, JoinPath(rules.parentDirectory, name), {}};
        const QString folder = JoinPath(rules.parentDirectory, sub);
        return {true, JoinPath(folder, name), folder};
    }
    }
    return {true, DefaultSavePath(settings, name), {}};
}

bool CreateSaveFolder(const QString &folder)
{
    if (folder.isEmpty())
        return false;
    QDir().mkdir(folder); // only the last level; an existing folder or a missing parent is not an error here
    return QFileInfo(folder).isDir();
}

// ---------------------------------------------------------------------------
// The OK step

namespace {

OkStepOutcome warn(const OkStepInput &input, OkStepOutcome::Reason reason, const CaptionText &text,
                   const CaptionText &title, const CaptionLookup &captions)
{
    OkStepOutcome out;
    out.action = OkStepOutcome::Action::Warn;
    out.reason = reason;
    out.url = input.text;
    out.warning = {text, title};
    out.warningText = text.lookUp(captions);
    out.warningTitle = title.lookUp(captions);
    return out;
}

} // namespace

OkStepOutcome RunOkStep(const OkStepInput &input, const DownloadListModel &list, const CaptionLookup &captions)
{
    using Action = OkStepOutcome::Action;
    using Reason = OkStepOutcome::Reason;
    const QString &text = input.text;
    const QString lower = text.toLower();

    // 1-2. The scheme, and an FTP address long enough to name a host.
    if (!lower.startsWith(HttpScheme) && !lower.startsWith(HttpsScheme) && !lower.startsWith(FtpScheme)
        && !lower.startsWith(FtpsScheme))
        return warn(input, Reason::Scheme, CaptionInvalidUrl, {}, captions);
    if ((lower.startsWith(FtpScheme) && text.size() < 8) || (lower.startsWith(FtpsScheme) && text.size() < 9))
        return warn(input, Reason::Length, CaptionInvalidUrl, {}, captions);

    // 3. A file name with an extension that can be part of a file name.
    const QString name = GetFileName(text);
    const QString extension = FileNameExtension(name).toLower();
    if (extension.isEmpty() || !IsValidExt(extension))
        return warn(input, Reason::FileName, CaptionInvalidFileUrl, CaptionInvalidFileUrlTitle, captions);

    OkStepOutcome out;
    out.url = text;
    out.name = name;
    out.defaultSavePath = DefaultSavePath(input.save, name);
    out.hideDialog = true;

    // 4. The per-server limit queues the URL as it is.
    const bool limitOk = input.runningFrom ? IsLimitOk(text, input.runningFrom(GetServerName(text)), input.limits)
                                           : IsLimitOk(text, list, input.limits);
    if (!limitOk) {
        out.action = Action::Queue;
        out.reason = Reason::Limit;
        out.savePath = out.defaultSavePath;
        return out;
    }

    // 5-6. The filters choose what browser capture takes over; a refused
    // captured URL becomes a row that carries their message.
    if (input.captured && !IsServerPermitted(text, input.monitorServer)) {
        out.action = Action::Queue;
        out.reason = Reason::ServerFilter;
        out.savePath = CaptionServerBlocked.lookUp(captions);
        out.markRefused = true;
        return out;
    }
    if (input.captured && !IsExtPermitted(text, input.monitorTypes)) {
        out.action = Action::Queue;
        out.reason = Reason::ExtensionFilter;
        out.savePath = CaptionExtensionBlocked.lookUp(captions);
        out.markRefused = true;
        return out;
    }

    // 7. The disposition. The first URL of a run always goes through the
    // save prompt, which establishes a last save path.
    out.reason = Reason::Disposition;
    out.passedFilters = true;
    if (!input.saveAsked) {
        out.action = Action::AskSave;
        return out;
    }
    switch (input.newDownload) {
    case NewDownloadOption::Ask:
        out.action = Action::AskSave;
        break;
    case NewDownloadOption::AddToList:
        out.action = Action::Queue;
        out.savePath = out.defaultSavePath;
        break;
    case NewDownloadOption::StartNow: {
        const SaveLocation where = ApplySaveLocationRules(text, name, input.save, input.today);
        out.action = where.startNow ? Action::Start : Action::Queue;
        out.savePath = where.path;
        out.folderToCreate = where.folderToCreate;
        break;
    }
    }
    return out;
}

// ---------------------------------------------------------------------------
// Smaller rules

QStringList HistoryUrls(const DownloadListModel &downloads, const DownloadListModel &completed)
{
    QStringList urls;
    urls.reserve(downloads.rowCount() + completed.rowCount());
    for (const DownloadListModel *list : {&downloads, &completed}) {
        for (int row = 0; row < list->rowCount(); ++row)
            urls.append(cellText(*list, row, DownloadListModel::Url));
    }
    return urls;
}

std::optional<QString> ClipboardPrefill(const QString &clipboardText)
{
    const QString text = clipboardText.trimmed();
    if (text.contains(FtpScheme) || text.contains(FtpsScheme) || text.contains(HttpScheme) || text.contains(HttpsScheme))
        return text;
    return std::nullopt;
}

QStringList UrlLines(const QString &text)
{
    static const QRegularExpression lineBreak(QStringLiteral("[\\r\\n\\x{2028}\\x{2029}]"));
    if (!text.contains(lineBreak))
        return text.trimmed().isEmpty() ? QStringList{} : QStringList{text};
    QStringList urls;
    for (const QString &line : text.split(lineBreak, Qt::SkipEmptyParts)) {
        if (const QString url = line.trimmed(); !url.isEmpty())
            urls.append(url);
    }
    return urls;
}

QString ProposedSaveName(const QString &url)
{
    return afterLastSlash(url);
}

qint16 ScheduledExistChoice(int scheduleChoice)
{
    switch (scheduleChoice) {
    case 1:
        return 0;
    case 2:
        return -1;
    default:
        return -2;
    }
}

int DownloadSlot(int rowCount, int rowIndex)
{
    return rowIndex > 0 ? rowIndex - 1 : rowCount;
}
