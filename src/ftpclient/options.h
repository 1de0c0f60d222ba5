#pragma once

// Corvane's options: the values the Options dialog edits, kept as strings
// in Corvane's registry section. Reading never fails: a missing or empty
// value reads as its default. The connect step reads the firewall values,
// the transfers the ASCII extension list and the synchronisation its
// comparison mode, each time they start.

#include <QString>
#include <QStringList>

class CRegister;
class FtpComponent;

namespace OptionKeys {
inline const QString AddToStartup = QStringLiteral("ADD TO STARTUP");
inline const QString LogFileName = QStringLiteral("LOG FILE NAME");
inline const QString DeleteLogOnStartup = QStringLiteral("DELETE LOG ON STARTUP");
inline const QString DeleteLogIfSizeExceeds = QStringLiteral("DELETE LOG IF SIZE EXCEEDS");
inline const QString LogFileSize = QStringLiteral("LOG FILE SIZE");
inline const QString AutoModeTypes = QStringLiteral("Auto Mode Types");
inline const QString FirewallUse = QStringLiteral("Firewall Use");
inline const QString FirewallHost = QStringLiteral("Firewall Host Name");
inline const QString FirewallPort = QStringLiteral("Firewall Proxy Port");
inline const QString FirewallUser = QStringLiteral("Firewall User Name");
inline const QString FirewallPassword = QStringLiteral("Firewall Password");
inline const QString FirewallType = QStringLiteral("Firewall Type");
inline const QString Language = QStringLiteral("Language");
inline const QString DirSyncBySize = QStringLiteral("DIR SYNC BY FILE SIZE");
} // namespace OptionKeys

namespace OptionDefaults {
inline const QString LogFileName = QStringLiteral("FTP.LOG");
inline const QString LogFileSize = QStringLiteral("1000");
inline const QString AutoModeTypes = QStringLiteral("txt;htm;html;php;cgi;asp;ini;inf;log");
inline const QString FirewallPort = QStringLiteral("1080");
inline const QString FirewallType = QStringLiteral("SOCKS 4");
inline const QString Language = QStringLiteral("English.ini");
} // namespace OptionDefaults

// The autostart entry's name for Corvane.
inline const QString CorvaneAutostartName = QStringLiteral("corvane");

// A Boolean text is on for "True" or a non-zero number.
bool optionIsOn(const QString &text);

struct CorvaneOptions {
    bool addToStartup = false;
    QString logFileName = OptionDefaults::LogFileName;
    bool deleteLogOnStartup = true;
    bool deleteLogIfSizeExceeds = false;
    QString logFileSize = OptionDefaults::LogFileSize; // bytes, as typed
    QStringList autoModeTypes;                          // in stored order
    bool firewallUse = false;
    QString firewallHost;
    QString firewallPort = OptionDefaults::FirewallPort;
    QString firewallUser;
    QString firewallPassword; // stored in plain, as the proxy needs it
    QString firewallType = OptionDefaults::FirewallType;
    QString language = OptionDefaults::Language;
    bool syncBySize = false;

    CorvaneOptions();

    static CorvaneOptions load(const CRegister &reg);
    // Writes every value: the general ones, the extension list, the firewall
    // ones, then the language and the comparison mode.
    void save(CRegister &reg) const;
    // The parts of save(), for a caller that does more in between.
    void saveGeneral(CRegister &reg) const;   // start-up box, log values, extension list
    void saveFirewall(CRegister &reg) const;
    void saveLanguageAndSync(CRegister &reg) const;
};

// "Auto Mode Types" split at ";" (empty parts left out); the default list
// when nothing is stored.
QStringList loadAsciiExtensions(const CRegister &reg);
QStringList splitAsciiExtensions(const QString &stored);

// The comparison mode of directory synchronisation: by size when the stored
// number is exactly 1, else by date.
bool syncBySize(const CRegister &reg);

// Tells the component about the SOCKS firewall, as stored now: without
// "Firewall Use" exactly 1 no proxy (port 1080); otherwise the stored host,
// user and password, type 4 for exactly "SOCKS 4" and 5 for anything else,
// and the port (1080 when it is not a port number).
void applyFirewallOptions(const CRegister &reg, FtpComponent &ftp);

// A language of the "Lang" folder: an ini file with a bitmap of the same
// base name.
struct LanguageEntry {
    QString name;       // base name, "English"
    QString iniPath;
    QString bitmapPath;
};

// Scans a "Lang" folder: every *.bmp (any case) is an image keyed by its
// name without the extension; every *.ini whose base name is such a key is
// a language, in file-name order. error is set when the folder cannot be read.
QList<LanguageEntry> scanLanguages(const QString &langFolder, QString *error = nullptr);
