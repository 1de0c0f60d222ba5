#pragma once

#include <QString>
#include <QStringList>

// Switching browser capture on and off: the browsers start Tessel's native
// messaging host (tessel-capture-host) for our extension only when they find
// the host's manifest in their per-user native-messaging folders. Capture on
// writes the manifests there; capture off removes them. The extension itself
// is installed by the user in the browser (see the README).

// The name under which the browsers know the host; also the manifests' file
// name without ".json".
inline constexpr const char *CaptureHostName = "org.tessel.capture";
// The Firefox extension's id (browser_specific_settings.gecko.id of its manifest).
inline constexpr const char *CaptureFirefoxExtensionId = "capture@tessel.invalid";
// The Chromium-family extension's id, fixed by the public key in its manifest.
inline constexpr const char *CaptureChromiumExtensionId = "pabaengmhbhflfbhneofdbkkahambpme";

// Where the manifests go and which executable they name.
struct CaptureInstallPaths {
    QString hostExecutable;  // absolute path of tessel-capture-host
    QString firefoxFolder;   // ~/.mozilla/native-messaging-hosts
    QString chromiumFolder;  // ~/.config/chromium/NativeMessagingHosts
    QString chromeFolder;    // ~/.config/google-chrome/NativeMessagingHosts

    // The user's folders: Firefox's under home, the Chromium-family ones
    // under configHome ($XDG_CONFIG_HOME, or ~/.config when empty).
    static CaptureInstallPaths forUser(const QString &hostExecutable, const QString &home,
                                       const QString &configHome = {});
    // The same for the current user, with the host beside the running program.
    static CaptureInstallPaths current();

    QStringList chromiumFamilyFolders() const { return {chromiumFolder, chromeFolder}; }
};

// The manifest texts (JSON) that tell a browser how to start the host.
QByteArray ChromiumHostManifest(const QString &hostExecutable);
QByteArray FirefoxHostManifest(const QString &hostExecutable);

// install true: writes the host manifests into the folders of paths whose
// browser has been run on this account (the folder's parent exists), making
// the last level; nothing is written when the host executable is not an
// absolute path to an executable file. install false: removes them (other
// files there stay). True when every write or removal succeeded; a missing
// manifest counts as removed. Nothing is reported to the user.
bool IECapClicks(bool install, const CaptureInstallPaths &paths);
