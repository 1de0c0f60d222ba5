#pragma once

#include "config/cregister.h"
#include "config/loginaccount.h"
#include "config/settingsrecord.h"

#include <QList>
#include <QString>

#include <array>
#include <functional>

class Autostart;

// One row of the file-type table: files of this type go into this folder.
struct FileTypeRow {
    QString type;
    QString folder;
    bool operator==(const FileTypeRow &) const = default;
};

// The default texts of the two filter lists.
extern const QString DefaultMonitorTypes;
extern const QString DefaultMonitorServer;
// The type list the dialog fills in when the field is empty on opening.
extern const QString RefillMonitorTypes;

// Why a login account was refused: the first of its fields that is blank.
enum class LoginRefusal { None, Server, User, Password };

// Which proxy controls take input, from the three boxes that govern them.
struct ProxyEnabling {
    bool proxyFrame = false;   // frame, server, port, FTP box, login box
    bool userName = false;     // user name and the "Password" box
    bool password = false;     // the password field
    bool operator==(const ProxyEnabling &) const = default;
};

// The settings dialog's state, kept for the whole run even while the dialog
// is not shown: the values only the dialog reads from the store (filter
// lists, limits, save-location choice and folders, file-type and login
// tables, last save path) and the text of every field as the dialog shows it.
// The dialog's widgets edit these members; the intake reads them.
class SettingsModel {
public:
    struct Environment {
        SettingsRecord *record = nullptr;
        CRegister *reg = nullptr;
        Autostart *autostart = nullptr;
        QString programDir;     // where "Settings.ini" lives
        QString appTitle;       // the name of the start-up entry
        QString programPath;    // the executable's full path
        // Switches browser capture on or off.
        std::function<void(bool)> applyBrowserCapture;
        // Told each key SaveAll writes, in the order written (may be empty).
        std::function<void(const QString &key)> savedKey;
    };

    explicit SettingsModel(Environment env);

    // Reads the store into the fields (and refreshes the record where the
    // dialog owns a value), runs the start-up entry update and reads
    // "Settings.ini".
    void Populate();
    // Writes every field to the store, then "Settings.ini"; clears changed.
    // The caller runs LoadSettings afterwards.
    void SaveAll();

    void LoadfromINI();
    bool SaveToINI();
    QString iniPath() const;

    bool DoStartUp(const QString &fileName, const QString &description);
    bool DoNotStartUp(const QString &fileName, const QString &description);
    bool WriteReg(CRegister::Root root, const QString &section, const QString &key, const QString &value);

    // Change handlers of the boxes that act before saving.
    void setClickCapture(bool on);
    void setClipboardMonitoring(bool on);
    void setStartupWithWindows(bool on);
    void setSegment(bool on);

    // The parent folder of a path, empty when it has none.
    static QString parentFolder(const QString &path);

    // --- rules of the dialog, free of widgets ---

    // True when the monitored-types text holds any of / \ : * " < > |.
    static bool HasInvalidTypeCharacter(const QString &types);
    // The URL test's server check: the list without blanks and line breaks,
    // lower-cased and split at ";". Found when the server equals an entry,
    // or when the entry's text after its last "*" is not empty, is shorter
    // than the server and equals the server's end. The server is compared
    // as given (not lower-cased).
    static bool TestServerInList(const QString &server, const QString &monitorServer);
    // The URL test's extension check (extension with its dot): the list
    // cleaned the same way. Found when the extension equals an entry, or
    // when an entry of the same length shares its first two characters and
    // has a "?" after them.
    static bool TestExtensionInList(const QString &extension, const QString &monitorTypes);
    // The extension of a file name from its last "." on, dot included;
    // empty without a ".".
    static QString TestExtensionOf(const QString &fileName);
    // The first blank field of a new login account (after trimming).
    static LoginRefusal CheckLogin(const QString &server, const QString &user, const QString &password);
    static ProxyEnabling proxyEnabling(bool useProxy, bool loginProxy, bool usePass);

    // Appends a login row (server and user trimmed) and sets the changed
    // flag; refused and unchanged when a field is blank.
    LoginRefusal AddLogin(const QString &server, const QString &user, const QString &password);
    // Appends a file-type row when both texts are non-empty. Does not set
    // the changed flag: the row is saved by the next save like the rest.
    bool AddFileType(const QString &type, const QString &folder);

    // --- dialog fields ---
    bool chkClickCapture = false;
    bool chkClipboard = false;
    QString txtMonitorTypes;
    QString txtMonitorServer;
    QString txtTimeout;
    bool chkStopResume = false;
    QString txtTimeResume;   // minutes
    QString txtTimeNoResume; // minutes
    bool chkRetry = false;
    QString txtRetryTime;
    QString txtRetries;
    QString lblDownloads;
    QString lblAllBytes;     // bytes, as a number
    QString txtRollback;     // KB
    bool chkSegment = false;
    std::array<QString, 9> txtSegmentSize; // MB
    QString txtLimitHTTP;
    QString txtLimitFTP;
    SaveChoice saveChoice = SaveChoice::LastDirectory;
    SubFolderNaming naming = SubFolderNaming::ServerName;
    QString txtSameDir;
    QString lblLastDir;
    QString txtParentDir;
    bool chkPromptDone = false;
    bool chkCloseWhenDone = false;
    NewDownloadOption newDownload = NewDownloadOption::Ask;
    bool chkStartup = false;
    bool chkUsePASV = false;
    bool chkUseProxy = false;
    QString txtProxyServer;
    QString txtProxyPort;
    bool chkUseFTPProxy = false;
    QString txtUserID;
    QString txtUserPass;
    bool chkLoginProxy = false;
    bool chkUsePass = false;

    QList<FileTypeRow> fileTypes;
    LoginTable logins;
    QString lastSavePath;
    bool changed = false;

    // The limits as numbers, for the intake.
    int limitHTTP() const;
    int limitFTP() const;

private:
    QString get(const char *key, const QString &defaultValue) const;
    bool save(const char *key, const QString &value);
    void copyChoicesToRecord();

    Environment m_env;
};
