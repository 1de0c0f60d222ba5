#include "config/settingsmodel.h"

#include "config/conversions.h"
#include "config/scramble.h"
#include "platform/autostart.h"
#include "platform/programdir.h"
#include "platform/textfile.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

const QString DefaultMonitorTypes = QStringLiteral(
    ".ZIP; .EXE; .BIN; .GZ; .Z; .TAR; .ARJ; .LZH; .SIT; .HQX; .FML; .TGZ; .GRS; .MP3; .RAR; .R0?;.R1?; "
    ".ACE; .C0?; .C1?; .W0?;");
const QString RefillMonitorTypes = QStringLiteral(
    ".ZIP; .EXE; .BIN; .GZ; .Z; .TAR; .ARJ; .LZH; .SIT; .HQX; .FML; .TGZ; .GRS; .MP3; .RAR; .R0?; .R1?; "
    ".ACE; .C0?; .C1?; .W0?;");
const QString DefaultMonitorServer = QStringLiteral(
    "deb.debian.org ; security.debian.org ; *.archive.ubuntu.com ; *.windowsupdate.com ; "
    "download.documentfoundation.org");

namespace {

constexpr double MB = 1048576.0;

// A field that shows a stored number divided by a unit.
QString scaledText(const QString &stored, double unit, QString fallback)
{
    const auto n = conv::toNumber(stored);
    return n ? conv::number(*n / unit) : fallback;
}

// A field in units written back as a number of base units; text that is not
// a number is stored as typed.
QString unscaledText(const QString &field, double unit)
{
    const auto n = conv::toNumber(field);
    return n ? conv::number(*n * unit) : field;
}

} // namespace

SettingsModel::SettingsModel(Environment env) : m_env(std::move(env)) {}

QString SettingsModel::get(const char *key, const QString &defaultValue) const
{
    return m_env.reg->REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QLatin1String(key), defaultValue);
}

bool SettingsModel::save(const char *key, const QString &value)
{
    if (m_env.savedKey)
        m_env.savedKey(QLatin1String(key));
    return m_env.reg->REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QLatin1String(key), value);
}

QString SettingsModel::iniPath() const
{
    return joinPath(m_env.programDir, QStringLiteral("Settings.ini"));
}

QString SettingsModel::parentFolder(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0 || path == QLatin1String("/"))
        return {};
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

void SettingsModel::setClickCapture(bool on)
{
    chkClickCapture = on;
    // The record follows, so populating again before the next loader run
    // does not switch capture back.
    m_env.record->ClickCapture = on;
    save("ClickCapture", conv::optionText(on));
    if (m_env.applyBrowserCapture)
        m_env.applyBrowserCapture(on);
}

void SettingsModel::setClipboardMonitoring(bool on)
{
    chkClipboard = on;
    m_env.record->ClipboardMonitoring = on;
}

void SettingsModel::setStartupWithWindows(bool on)
{
    chkStartup = on;
    // The entry acts at once; the stored box and the record follow it, or
    // the next populate (from them) would undo the entry.
    m_env.record->StartupWithWindows = on;
    save("StartupWithWindows", conv::boxText(on));
    if (on)
        DoStartUp(m_env.programPath, m_env.appTitle);
    else
        DoNotStartUp(m_env.programPath, m_env.appTitle);
}

void SettingsModel::setSegment(bool on)
{
    chkSegment = on;
    m_env.record->Segment = on ? 1 : 0;
}

void SettingsModel::copyChoicesToRecord()
{
    SaveLocationRules &rules = m_env.record->saveLocation;
    rules.choice = saveChoice;
    rules.naming = naming;
    rules.sameDirectory = txtSameDir;
    rules.parentDirectory = txtParentDir;
}

void SettingsModel::Populate()
{
    SettingsRecord &r = *m_env.record;

    // 1. The boxes that act at once, with their handlers.
    setClickCapture(r.ClickCapture);
    setClipboardMonitoring(r.ClipboardMonitoring);

    // 2. The filter lists.
    txtMonitorTypes = get("MonitorTypes", DefaultMonitorTypes);
    txtMonitorServer = get("MonitorServer", DefaultMonitorServer);

    // 3. Connection values from the record.
    txtTimeout = QString::number(r.Timeout);
    chkStopResume = r.StopResume;
    txtTimeResume = conv::number(r.TimeResume / 60.0);
    txtTimeNoResume = conv::number(r.TimeNoResume / 60.0);
    chkRetry = r.Retry;
    txtRetryTime = QString::number(r.RetryTime);
    txtRetries = QString::number(r.Retries);
    if (const auto v = conv::toBool(get("StopResume", QStringLiteral("1"))))
        r.StopResume = chkStopResume = *v;
    if (const auto v = conv::toBool(get("Retry", QStringLiteral("1"))))
        r.Retry = chkRetry = *v;

    // 4. Usage statistics.
    if (const auto v = conv::toInteger(get("Downloads", QStringLiteral("0")), 0, std::numeric_limits<std::int32_t>::max())) {
        r.Downloads = std::int32_t(*v);
        lblDownloads = QString::number(*v);
    }
    if (const auto v = conv::toNumber(get("AllBytes", QStringLiteral("0"))); v && *v >= 0 && *v < 9.0e18) {
        r.AllBytes = qint64(*v);
        lblAllBytes = QString::number(r.AllBytes);
    }

    // 5. Rollback and the segment table.
    txtRollback = scaledText(get("Rollback", QStringLiteral("4096")), 1024, txtRollback);
    chkSegment = r.Segment != 0;
    for (int i = 0; i < 9; ++i)
        txtSegmentSize[i] = QString::number(qRound64(r.SegmentSize[i] / MB));

    // 6. Values the dialog reads itself, with its own defaults.
    txtLimitHTTP = get("LimitHTTP", QStringLiteral("3"));
    txtLimitFTP = get("LimitFTP", QStringLiteral("3"));
    txtTimeout = get("Timeout", QStringLiteral("60"));
    txtTimeResume = scaledText(get("TimeResume", QString::number(r.TimeResume)), 60, txtTimeResume);
    txtTimeNoResume = scaledText(get("TimeNoResume", QString::number(r.TimeNoResume)), 60, txtTimeNoResume);
    txtRetryTime = get("RetryTime", QStringLiteral("60"));
    txtRetries = get("Retries", QStringLiteral("3"));

    // 7. Save location. A missing choice leaves the initial one in force.
    saveChoice = SaveChoice::LastDirectory;
    naming = SubFolderNaming::ServerName;
    const auto isTrue = [this](const char *key) { return conv::toBool(get(key, QString())).value_or(false); };
    if (isTrue("SaveSameDir"))
        saveChoice = SaveChoice::SameDirectory;
    if (isTrue("SaveFileType"))
        saveChoice = SaveChoice::ByFileType;
    if (isTrue("SaveFileInfo"))
        saveChoice = SaveChoice::ByFileInfo;
    txtSameDir = get("TextSameDir", QString());
    lblLastDir = get("SaveLastDir", QString());
    txtParentDir = get("ParentDir", QString());
    if (isTrue("UseServer"))
        naming = SubFolderNaming::ServerName;
    if (isTrue("UseDate"))
        naming = SubFolderNaming::CurrentDate;
    if (isTrue("UseFileExt"))
        naming = SubFolderNaming::FileExtension;
    copyChoicesToRecord();

    // 8. Completion behaviour and the new-download choice.
    newDownload = NewDownloadOption::Ask;
    r.PromptDone = chkPromptDone = get("PromptDone", QString()) == QLatin1String("1");
    r.CloseDownloadWindowWhenDone = chkCloseWhenDone = get("CloseDownloadWindowWhenDone", QString()) == QLatin1String("1");
    if (conv::toBool(get("DownloadNowOption", QStringLiteral("0"))).value_or(false))
        newDownload = NewDownloadOption::StartNow;
    if (conv::toBool(get("DownloadLaterOption", QStringLiteral("0"))).value_or(false))
        newDownload = NewDownloadOption::AddToList;
    if (conv::toBool(get("DownloadPromptOption", QStringLiteral("-1"))).value_or(false))
        newDownload = NewDownloadOption::Ask;

    // 9. The start-up entry follows the box.
    setStartupWithWindows(r.StartupWithWindows);

    // 10. Proxy values, read again into the record.
    const auto flagInto = [this](const char *key, bool &field, bool &box) {
        if (const auto v = conv::toBool(get(key, QStringLiteral("0"))))
            field = box = *v;
    };
    flagInto("UsePASV", r.UsePASV, chkUsePASV);
    flagInto("UseProxy", r.UseProxy, chkUseProxy);
    r.ProxyServer = txtProxyServer = get("ProxyServer", QString());
    txtProxyPort = get("ProxyPort", QStringLiteral("80"));
    if (const auto v = conv::toInteger(txtProxyPort, 0, 65535))
        r.ProxyPort = int(*v);
    flagInto("UseFTPProxy", r.UseFTPProxy, chkUseFTPProxy);
    r.UserID = txtUserID = get("UserID", QString());
    r.UserPass = txtUserPass = get("UserPass", QString());
    flagInto("LoginProxy", r.LoginProxy, chkLoginProxy);
    flagInto("UsePass", r.UsePass, chkUsePass);

    // 11. "Settings.ini".
    LoadfromINI();
    lblLastDir = parentFolder(lastSavePath);
}

void SettingsModel::SaveAll()
{
    save("ClipboardMonitoring", conv::boxText(chkClipboard));
    save("LimitHTTP", txtLimitHTTP);
    save("LimitFTP", txtLimitFTP);
    save("ClickCapture", conv::boxText(chkClickCapture));
    save("StartupWithWindows", conv::boxText(chkStartup));
    save("PromptDone", conv::boxText(chkPromptDone));
    save("CloseDownloadWindowWhenDone", conv::boxText(chkCloseWhenDone));
    save("DownloadNowOption", conv::optionText(newDownload == NewDownloadOption::StartNow));
    save("DownloadLaterOption", conv::optionText(newDownload == NewDownloadOption::AddToList));
    save("DownloadPromptOption", conv::optionText(newDownload == NewDownloadOption::Ask));
    save("MonitorTypes", txtMonitorTypes);
    save("MonitorServer", txtMonitorServer);
    save("Timeout", txtTimeout);
    save("StopResume", conv::boxText(chkStopResume));
    save("TimeResume", unscaledText(txtTimeResume, 60));
    save("TimeNoResume", unscaledText(txtTimeNoResume, 60));
    save("Retry", conv::boxText(chkRetry));
    save("RetryTime", txtRetryTime);
    save("Retries", txtRetries);
    save("Rollback", unscaledText(txtRollback, 1024));
    save("Segment", conv::boxText(chkSegment));
    for (int i = 0; i < 9; ++i) {
        const QByteArray key = "SegmentSize" + QByteArray::number(i + 1);
        save(key.constData(), unscaledText(txtSegmentSize[i], MB));
    }
    save("SaveSameDir", conv::optionText(saveChoice == SaveChoice::SameDirectory));
    save("TextSameDir", txtSameDir);
    save("SaveLastDir", lblLastDir);
    save("SaveFileType", conv::optionText(saveChoice == SaveChoice::ByFileType));
    save("SaveFileInfo", conv::optionText(saveChoice == SaveChoice::ByFileInfo));
    save("ParentDir", txtParentDir);
    save("UseServer", conv::optionText(naming == SubFolderNaming::ServerName));
    save("UseDate", conv::optionText(naming == SubFolderNaming::CurrentDate));
    save("UseFileExt", conv::optionText(naming == SubFolderNaming::FileExtension));
    save("UsePASV", conv::boxText(chkUsePASV));
    save("UseProxy", conv::boxText(chkUseProxy));
    save("ProxyServer", txtProxyServer);
    save("ProxyPort", txtProxyPort);
    save("UseFTPProxy", conv::boxText(chkUseFTPProxy));
    save("UserID", txtUserID);
    save("UserPass", txtUserPass);
    save("LoginProxy", conv::boxText(chkLoginProxy));
    save("UsePass", conv::boxText(chkUsePass));
    SaveToINI();
    copyChoicesToRecord();
    changed = false;
}

void SettingsModel::LoadfromINI()
{
    fileTypes.clear();
    logins.clear();
    QStringList lines;
    if (!textfile::readLines(iniPath(), &lines))
        return;
    qsizetype i = 0;
    const auto atEnd = [&] { return i >= lines.size(); };
    const auto next = [&]() -> QString { return atEnd() ? QString() : lines.at(i++); };

    if (!atEnd()) {
        const QString first = next();
        if (!first.isEmpty())
            lastSavePath = first;
    }
    while (!atEnd() && !lines.at(i).isEmpty()) {
        const QString type = next();
        if (type == QLatin1String("Logins:")) {
            // An entry cut short by the end of the file keeps what it has.
            while (!atEnd() && !lines.at(i).isEmpty()) {
                LoginAccount account;
                account.server = next();
                account.user = next();
                account.password = UnscramblePassword(next());
                logins.append(account);
            }
            break;
        }
        fileTypes.append({type, next()});
    }
}

bool SettingsModel::SaveToINI()
{
    QStringList lines;
    lines.append(parentFolder(lastSavePath).isEmpty() ? m_env.programDir : lastSavePath);
    for (const FileTypeRow &row : fileTypes) {
        lines.append(row.type);
        lines.append(row.folder);
    }
    lines.append(QStringLiteral("Logins:"));
    for (const LoginAccount &account : logins) {
        lines.append(account.server);
        lines.append(account.user);
        lines.append(ScramblePassword(account.password));
    }
    // A value with a line break would shift every later line.
    for (QString &line : lines)
        line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    // The file holds login passwords: owner-only, replaced atomically.
    return textfile::writeAtomically(iniPath(), textfile::joinLines(lines), textfile::OwnerOnly);
}

bool SettingsModel::WriteReg(CRegister::Root, const QString &, const QString &key, const QString &value)
{
    // The start-up "Run" value is, on this desktop, an autostart entry.
    return m_env.autostart && m_env.autostart->install(key, value);
}

bool SettingsModel::DoStartUp(const QString &fileName, const QString &description)
{
    return WriteReg(CRegister::HKEY_LOCAL_MACHINE,
                    QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run"), description, fileName);
}

bool SettingsModel::DoNotStartUp(const QString &, const QString &description)
{
    return m_env.autostart && m_env.autostart->remove(description);
}

int SettingsModel::limitHTTP() const
{
    return int(conv::toInteger(txtLimitHTTP, 0, 1000000).value_or(3));
}

int SettingsModel::limitFTP() const
{
    return int(conv::toInteger(txtLimitFTP, 0, 1000000).value_or(3));
}

namespace {

// A filter list as the URL test reads it: blanks and line breaks removed,
// lower-cased, split at ";".
QStringList testEntries(QString list)
{
    list.remove(QLatin1Char(' ')).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    return list.toLower().split(QLatin1Char(';'));
}

} // namespace

bool SettingsModel::HasInvalidTypeCharacter(const QString &types)
{
    static const QString invalid = QStringLiteral("/\\:*\"<>|");
    return std::any_of(types.begin(), types.end(), [](QChar c) { return invalid.contains(c); });
}

bool SettingsModel::TestServerInList(const QString &server, const QString &monitorServer)
{
    for (const QString &entry : testEntries(monitorServer)) {
        // The empty entry after a closing ";" names no server.
        if (entry.isEmpty())
            continue;
        if (entry == server)
            return true;
        const QString tail = entry.mid(entry.lastIndexOf(QLatin1Char('*')) + 1);
        if (!tail.isEmpty() && tail.size() < server.size() && server.endsWith(tail))
            return true;
    }
    return false;
}

bool SettingsModel::TestExtensionInList(const QString &extension, const QString &monitorTypes)
{
    for (const QString &entry : testEntries(monitorTypes)) {
        // The list ends with ";": its empty last entry must not claim a URL
        // without an extension.
        if (entry.isEmpty())
            continue;
        if (entry == extension)
            return true;
        if (entry.size() == extension.size() && entry.size() > 2 && entry.left(2) == extension.left(2)
            && entry.indexOf(QLatin1Char('?'), 2) >= 0)
            return true;
    }
    return false;
}

QString SettingsModel::TestExtensionOf(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : fileName.mid(dot);
}

LoginRefusal SettingsModel::CheckLogin(const QString &server, const QString &user, const QString &password)
{
    if (server.trimmed().isEmpty())
        return LoginRefusal::Server;
    if (user.trimmed().isEmpty())
        return LoginRefusal::User;
    if (password.trimmed().isEmpty())
        return LoginRefusal::Password;
    return LoginRefusal::None;
}

ProxyEnabling SettingsModel::proxyEnabling(bool useProxy, bool loginProxy, bool usePass)
{
    ProxyEnabling e;
    e.proxyFrame = useProxy;
    e.userName = useProxy && loginProxy;
    e.password = e.userName && usePass;
    return e;
}

LoginRefusal SettingsModel::AddLogin(const QString &server, const QString &user, const QString &password)
{
    const LoginRefusal refusal = CheckLogin(server, user, password);
    if (refusal != LoginRefusal::None)
        return refusal;
    logins.append({server.trimmed(), user.trimmed(), password});
    changed = true;
    return refusal;
}

bool SettingsModel::AddFileType(const QString &type, const QString &folder)
{
    if (type.isEmpty() || folder.isEmpty())
        return false;
    fileTypes.append({type, folder});
    return true;
}
