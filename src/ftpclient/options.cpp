#include "ftpclient/options.h"

#include "config/cregister.h"
#include "ftpclient/ftpcomponent.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace {

QString get(const CRegister &reg, const QString &key, const QString &def)
{
    return reg.REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection, key, def);
}

void put(CRegister &reg, const QString &key, const QString &value)
{
    reg.REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection, key, value);
}

QString checkText(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

QString optionText(bool on)
{
    return on ? QStringLiteral("True") : QStringLiteral("False");
}

bool isExactlyOne(const QString &text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    return ok && v == 1.0;
}

} // namespace

bool optionIsOn(const QString &text)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    bool ok = false;
    const double v = t.toDouble(&ok);
    return ok && v != 0.0;
}

CorvaneOptions::CorvaneOptions()
    : autoModeTypes(splitAsciiExtensions(OptionDefaults::AutoModeTypes))
{
}

CorvaneOptions CorvaneOptions::load(const CRegister &reg)
{
    CorvaneOptions o;
    o.addToStartup = optionIsOn(get(reg, OptionKeys::AddToStartup, QStringLiteral("0")));
    o.logFileName = get(reg, OptionKeys::LogFileName, OptionDefaults::LogFileName);
    o.deleteLogOnStartup = optionIsOn(get(reg, OptionKeys::DeleteLogOnStartup, QStringLiteral("1")));
    o.deleteLogIfSizeExceeds = optionIsOn(get(reg, OptionKeys::DeleteLogIfSizeExceeds, QStringLiteral("0")));
    o.logFileSize = get(reg, OptionKeys::LogFileSize, OptionDefaults::LogFileSize);
    o.autoModeTypes = loadAsciiExtensions(reg);
    o.firewallUse = isExactlyOne(get(reg, OptionKeys::FirewallUse, QStringLiteral("0")));
    o.firewallHost = get(reg, OptionKeys::FirewallHost, QString());
    o.firewallPort = get(reg, OptionKeys::FirewallPort, OptionDefaults::FirewallPort);
    o.firewallUser = get(reg, OptionKeys::FirewallUser, QString());
    o.firewallPassword = get(reg, OptionKeys::FirewallPassword, QString());
    o.firewallType = get(reg, OptionKeys::FirewallType, OptionDefaults::FirewallType);
    o.language = get(reg, OptionKeys::Language, OptionDefaults::Language);
    o.syncBySize = ::syncBySize(reg);
    return o;
}

void CorvaneOptions::save(CRegister &reg) const
{
    saveGeneral(reg);
    saveFirewall(reg);
    saveLanguageAndSync(reg);
}

void CorvaneOptions::saveGeneral(CRegister &reg) const
{
    put(reg, OptionKeys::AddToStartup, checkText(addToStartup));
    put(reg, OptionKeys::LogFileName, logFileName);
    put(reg, OptionKeys::DeleteLogOnStartup, optionText(deleteLogOnStartup));
    put(reg, OptionKeys::DeleteLogIfSizeExceeds, optionText(deleteLogIfSizeExceeds));
    put(reg, OptionKeys::LogFileSize, logFileSize);
    put(reg, OptionKeys::AutoModeTypes, autoModeTypes.join(u';'));
}

void CorvaneOptions::saveFirewall(CRegister &reg) const
{
    put(reg, OptionKeys::FirewallHost, firewallHost);
    put(reg, OptionKeys::FirewallPort, firewallPort);
    put(reg, OptionKeys::FirewallUse, checkText(firewallUse));
    put(reg, OptionKeys::FirewallUser, firewallUser);
    put(reg, OptionKeys::FirewallPassword, firewallPassword);
    put(reg, OptionKeys::FirewallType, firewallType);
}

void CorvaneOptions::saveLanguageAndSync(CRegister &reg) const
{
    put(reg, OptionKeys::Language, language);
    put(reg, OptionKeys::DirSyncBySize, checkText(syncBySize));
}

QStringList splitAsciiExtensions(const QString &stored)
{
    return stored.split(u';', Qt::SkipEmptyParts);
}

QStringList loadAsciiExtensions(const CRegister &reg)
{
    return splitAsciiExtensions(get(reg, OptionKeys::AutoModeTypes, OptionDefaults::AutoModeTypes));
}

bool syncBySize(const CRegister &reg)
{
    return isExactlyOne(get(reg, OptionKeys::DirSyncBySize, QStringLiteral("0")));
}

void applyFirewallOptions(const CRegister &reg, FtpComponent &ftp)
{
    if (!isExactlyOne(get(reg, OptionKeys::FirewallUse, QStringLiteral("0")))) {
        ftp.proxyType = 0;
        ftp.proxyHost.clear();
        ftp.proxyUserName.clear();
        ftp.proxyPassword.clear();
        ftp.proxyPort = 1080;
        return;
    }
    ftp.proxyHost = get(reg, OptionKeys::FirewallHost, QString());
    ftp.proxyUserName = get(reg, OptionKeys::FirewallUser, QString());
    ftp.proxyPassword = get(reg, OptionKeys::FirewallPassword, QString());
    ftp.proxyType = get(reg, OptionKeys::FirewallType, QString()) == QLatin1String("SOCKS 4") ? 4 : 5;
    bool ok = false;
    const uint port = get(reg, OptionKeys::FirewallPort, QString()).trimmed().toUInt(&ok);
    ftp.proxyPort = ok && port >= 1 && port <= 65535 ? quint16(port) : quint16(1080);
}

QList<LanguageEntry> scanLanguages(const QString &langFolder, QString *error)
{
    QList<LanguageEntry> languages;
    const QDir dir(langFolder);
    if (!dir.exists()) {
        if (error)
            *error = QStringLiteral("Path not found: %1").arg(QDir::toNativeSeparators(langFolder));
        return languages;
    }
    const QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::Name);
    QHash<QString, QString> bitmaps;
    for (const QFileInfo &f : files)
        if (f.fileName().size() > 4 && f.fileName().endsWith(QLatin1String(".bmp"), Qt::CaseInsensitive))
            bitmaps.insert(f.fileName().chopped(4), f.filePath());
    for (const QFileInfo &f : files) {
        const QString name = f.fileName();
        if (name.size() <= 4 || !name.endsWith(QLatin1String(".ini"), Qt::CaseInsensitive))
            continue;
        const QString key = name.chopped(4);
        const auto bitmap = bitmaps.constFind(key);
        if (bitmap != bitmaps.constEnd())
            languages.append({key, f.filePath(), *bitmap});
    }
    return languages;
}
