#include "intake/captureinstall.h"

#include "platform/programdir.h"
#include "platform/textfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString Description = QStringLiteral("Hands links and downloads from the browser to Tessel");

QString manifestName()
{
    return QString::fromLatin1(CaptureHostName) + QStringLiteral(".json");
}

QByteArray manifest(const QString &hostExecutable, const char *allowKey, const QString &allowed)
{
    QJsonObject o;
    o.insert(QStringLiteral("name"), QString::fromLatin1(CaptureHostName));
    o.insert(QStringLiteral("description"), Description);
    o.insert(QStringLiteral("path"), hostExecutable);
    o.insert(QStringLiteral("type"), QStringLiteral("stdio"));
    o.insert(QString::fromLatin1(allowKey), QJsonArray{allowed});
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

// Writes one manifest into folder when the browser that reads it is there:
// the folder's parent is the browser's own configuration folder, and a
// browser that was never run on this account gets no folders from us.
bool install(const QString &folder, const QByteArray &content)
{
    if (folder.isEmpty() || !QFileInfo(QFileInfo(folder).absolutePath()).isDir())
        return true;
    if (!QDir().mkpath(folder))
        return false;
    return textfile::writeAtomically(joinPath(folder, manifestName()), content);
}

bool remove(const QString &folder)
{
    if (folder.isEmpty())
        return true;
    const QString path = joinPath(folder, manifestName());
    return !QFileInfo::exists(path) || QFile::remove(path);
}

} // namespace

CaptureInstallPaths CaptureInstallPaths::forUser(const QString &hostExecutable, const QString &home,
                                                 const QString &configHome)
{
    const QString config = configHome.isEmpty() ? joinPath(home, QStringLiteral(".config")) : configHome;
    CaptureInstallPaths paths;
    paths.hostExecutable = hostExecutable;
    paths.firefoxFolder = joinPath(home, QStringLiteral(".mozilla/native-messaging-hosts"));
    paths.chromiumFolder = joinPath(config, QStringLiteral("chromium/NativeMessagingHosts"));
    paths.chromeFolder = joinPath(config, QStringLiteral("google-chrome/NativeMessagingHosts"));
    return paths;
}

CaptureInstallPaths CaptureInstallPaths::current()
{
    return forUser(joinPath(QCoreApplication::applicationDirPath(), QStringLiteral("tessel-capture-host")),
                   QDir::homePath(), QFile::decodeName(qgetenv("XDG_CONFIG_HOME")));
}

QByteArray ChromiumHostManifest(const QString &hostExecutable)
{
    return manifest(hostExecutable, "allowed_origins",
                    QStringLiteral("chrome-extension://%1/").arg(QLatin1String(CaptureChromiumExtensionId)));
}

QByteArray FirefoxHostManifest(const QString &hostExecutable)
{
    return manifest(hostExecutable, "allowed_extensions", QString::fromLatin1(CaptureFirefoxExtensionId));
}

bool IECapClicks(bool install, const CaptureInstallPaths &paths)
{
    bool ok = true;
    if (install) {
        // The browsers start the host by this path: it must be absolute, and
        // a manifest naming a host that is not there only breaks capture.
        const QFileInfo host(paths.hostExecutable);
        if (paths.hostExecutable.isEmpty() || QDir::isRelativePath(paths.hostExecutable) || !host.isFile()
            || !host.isExecutable())
            return false;
        ok = ::install(paths.firefoxFolder, FirefoxHostManifest(paths.hostExecutable));
        for (const QString &folder : paths.chromiumFamilyFolders())
            ok = ::install(folder, ChromiumHostManifest(paths.hostExecutable)) && ok;
    } else {
        for (const QString &folder : {paths.firefoxFolder, paths.chromiumFolder, paths.chromeFolder})
            ok = remove(folder) && ok;
    }
    return ok;
}
