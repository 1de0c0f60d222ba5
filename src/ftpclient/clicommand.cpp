#include "ftpclient/clicommand.h"

#include "ftpclient/ftpcomponent.h"
#include "ftpclient/sync.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <QUrl>

#include <functional>

namespace {

struct CommandShape {
    const char *name;
    int minArgs;
    int maxArgs; // -1: the rest of the line
    bool resume; // takes --resume
    bool recursive; // takes -r
};

constexpr CommandShape Commands[] = {
    {"ls", 0, 1, false, false},     {"get", 2, 2, true, true},     {"put", 2, 2, true, true},
    {"rm", 1, 1, false, true},      {"mkdir", 1, 1, false, false}, {"rmdir", 1, 1, false, false},
    {"rename", 2, 2, false, false}, {"quote", 1, -1, false, false}, {"sync-local", 2, 2, false, false},
    {"sync-remote", 2, 2, false, false},
};

bool isSync(const QString &command)
{
    return command == QLatin1String("sync-local") || command == QLatin1String("sync-remote");
}

const CommandShape *findCommand(const QString &name)
{
    for (const CommandShape &c : Commands)
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

bool parseHostPort(const QString &text, QString &host, quint16 &port)
{
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return false;
    bool ok = false;
    const uint p = text.mid(colon + 1).toUInt(&ok);
    if (!ok || p == 0 || p > 65535)
        return false;
    host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    port = quint16(p);
    return !host.isEmpty();
}

CliParse refuse(const QString &why)
{
    return {std::nullopt, why};
}

bool parseUrl(const QString &text, CliOptions &o, QString &why)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("ftp") && scheme != QLatin1String("ftps"))) {
        why = QStringLiteral("not an ftp:// or ftps:// URL: %1").arg(text);
        return false;
    }
    if (url.host().isEmpty()) {
        why = QStringLiteral("no host in %1").arg(text);
        return false;
    }
    const bool implicit = scheme == QLatin1String("ftps");
    const int port = url.port(implicit ? 990 : 21);
    if (port < 1 || port > 65535) {
        why = QStringLiteral("invalid port in %1: a port is 1 to 65535").arg(text);
        return false;
    }
    if (implicit) {
        if (o.security == FtpSecurity::ExplicitTls) {
            why = QStringLiteral("--explicit-tls does not go with ftps:// (implicit TLS)");
            return false;
        }
        o.security = FtpSecurity::ImplicitTls;
    }
    o.host = url.host();
    o.port = quint16(port);
    o.user = url.userName(QUrl::FullyDecoded);
    o.password = url.password(QUrl::FullyDecoded);
    // The path names a folder relative to the login folder; "//x" is the
    // absolute "/x".
    QString path = url.path(QUrl::FullyDecoded);
    if (path.startsWith(u'/'))
        path.remove(0, 1);
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    o.folder = path;
    return true;
}

} // namespace

QString cliUsage()
{
    return QStringLiteral(
        "Usage: corvane-cli [--passive|--active] [--ascii|--binary] [--explicit-tls] [--cacert FILE]\n"
        "                   [--socks4 H:P | --socks5 H:P [--proxy-user U --proxy-pass P]] URL COMMAND [ARGS...]\n"
        "URL: ftp://[user[:password]@]host[:port][/folder] or ftps://... (implicit TLS)\n"
        "Commands:\n"
        "  ls [PATH]                       type (F, D or L), size, date, name; TAB-separated\n"
        "  get [--resume] REMOTE LOCAL     put [--resume] LOCAL REMOTE\n"
        "  get -r REMOTEDIR LOCALDIR       put -r LOCALDIR REMOTEDIR\n"
        "  rm NAME   rm -r DIR   mkdir NAME   rmdir NAME   rename OLD NEW   quote LINE\n"
        "  sync-local [--by-size|--by-date] LOCALDIR REMOTEDIR    the local folder receives\n"
        "  sync-remote [--by-size|--by-date] LOCALDIR REMOTEDIR   the remote folder receives\n"
        "     one folder level; without an option the comparison mode stored in Corvane's options\n");
}

CliParse parseCliArguments(const QStringList &arguments)
{
    CliOptions o;
    qsizetype i = 0;
    bool sawMode = false, sawType = false;
    auto value = [&](const QString &option, QString &out) {
        if (i + 1 >= arguments.size())
            return false;
        out = arguments.at(++i);
        Q_UNUSED(option)
        return true;
    };
    // Global options, up to the URL.
    for (; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (!a.startsWith(QLatin1String("--")))
            break;
        QString v;
        if (a == QLatin1String("--help")) {
            o.help = true;
            return {o, {}};
        } else if (a == QLatin1String("--passive") || a == QLatin1String("--active")) {
            if (sawMode && o.passive != (a == QLatin1String("--passive")))
                return refuse(QStringLiteral("--passive and --active exclude each other"));
            sawMode = true;
            o.passive = a == QLatin1String("--passive");
        } else if (a == QLatin1String("--ascii") || a == QLatin1String("--binary")) {
            if (sawType && o.ascii != (a == QLatin1String("--ascii")))
                return refuse(QStringLiteral("--ascii and --binary exclude each other"));
            sawType = true;
            o.ascii = a == QLatin1String("--ascii");
        } else if (a == QLatin1String("--explicit-tls")) {
            o.security = FtpSecurity::ExplicitTls;
        } else if (a == QLatin1String("--cacert")) {
            if (!value(a, v))
                return refuse(QStringLiteral("--cacert needs a file"));
            o.caCertificates.append(v);
        } else if (a == QLatin1String("--socks4") || a == QLatin1String("--socks5")) {
            if (o.proxyType != 0)
                return refuse(QStringLiteral("only one of --socks4 and --socks5"));
            if (!value(a, v) || !parseHostPort(v, o.proxyHost, o.proxyPort))
                return refuse(QStringLiteral("%1 needs HOST:PORT with a port of 1 to 65535").arg(a));
            o.proxyType = a == QLatin1String("--socks4") ? 4 : 5;
        } else if (a == QLatin1String("--proxy-user")) {
            if (!value(a, o.proxyUser))
                return refuse(QStringLiteral("--proxy-user needs a name"));
        } else if (a == QLatin1String("--proxy-pass")) {
            if (!value(a, o.proxyPassword))
                return refuse(QStringLiteral("--proxy-pass needs a password"));
        } else {
            return refuse(QStringLiteral("unknown option %1").arg(a));
        }
    }
    if ((!o.proxyUser.isEmpty() || !o.proxyPassword.isEmpty()) && o.proxyType != 5)
        return refuse(QStringLiteral("--proxy-user and --proxy-pass go with --socks5"));
    if (i >= arguments.size())
        return refuse(QStringLiteral("no URL"));
    QString why;
    if (!parseUrl(arguments.at(i++), o, why))
        return refuse(why);
    if (i >= arguments.size())
        return refuse(QStringLiteral("no command"));
    o.command = arguments.at(i++);
    const CommandShape *shape = findCommand(o.command);
    if (!shape)
        return refuse(QStringLiteral("unknown command %1").arg(o.command));
    // The command's own options come right after its name.
    for (; i < arguments.size() && o.command != QLatin1String("quote"); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--resume") && shape->resume)
            o.resume = true;
        else if (a == QLatin1String("-r") && shape->recursive)
            o.recursive = true;
        else if ((a == QLatin1String("--by-size") || a == QLatin1String("--by-date")) && isSync(o.command)) {
            const bool bySize = a == QLatin1String("--by-size");
            if (o.syncBySize && *o.syncBySize != bySize)
                return refuse(QStringLiteral("--by-size and --by-date exclude each other"));
            o.syncBySize = bySize;
        }
        else if (a.startsWith(u'-') && a.size() > 1)
            return refuse(QStringLiteral("%1 does not take %2").arg(o.command, a));
        else
            break;
    }
    if (o.resume && o.recursive)
        return refuse(QStringLiteral("--resume and -r exclude each other"));
    o.arguments = arguments.mid(i);
    const qsizetype n = o.arguments.size();
    if (n < shape->minArgs || (shape->maxArgs >= 0 && n > shape->maxArgs))
        return refuse(QStringLiteral("wrong number of arguments for %1").arg(o.command));
    if (o.command == QLatin1String("quote"))
        o.arguments = {o.arguments.join(u' ')};
    return {o, {}};
}

void applyCliOptions(const CliOptions &o, FtpComponent &c)
{
    c.serverAddress = o.host;
    c.serverPort = o.port;
    c.userName = o.user;
    c.password = o.password;
    c.passiveMode = o.passive;
    c.security = o.security;
    c.representationType = o.ascii ? 1 : 0;
    c.proxyType = o.proxyType;
    c.proxyHost = o.proxyHost;
    c.proxyPort = o.proxyPort;
    c.proxyUserName = o.proxyUser;
    c.proxyPassword = o.proxyPassword;
}

namespace {

QString describe(const FtpComponent &c)
{
    const FtpComponentError &e = c.lastError();
    return QStringLiteral("%1 (0x%2)").arg(e.description).arg(e.number, 8, 16, QLatin1Char('0'));
}

QChar typeLetter(FtpListEntry::Kind kind)
{
    switch (kind) {
    case FtpListEntry::Kind::Folder:
        return u'D';
    case FtpListEntry::Kind::Link:
        return u'L';
    default:
        return u'F';
    }
}

// Removes a remote folder with everything in it; links are deleted, never
// followed.
bool removeTree(FtpComponent &c, const QString &name, int depth)
{
    if (depth > 64)
        return false;
    QString here;
    if (!c.currentFolder(here) || !c.changeFolder(name))
        return false;
    QList<FtpListEntry> entries;
    bool ok = c.folderContents(QString(), entries);
    for (const FtpListEntry &e : std::as_const(entries)) {
        if (!ok)
            break;
        if (!isSafeLocalName(e.name))
            continue;
        ok = e.kind == FtpListEntry::Kind::Folder ? removeTree(c, e.name, depth + 1) : c.deleteFile(e.name);
    }
    // On a failure the run ends here; the folder is left as it is.
    if (!ok || !c.changeFolder(here))
        return false;
    return c.removeFolder(name);
}

} // namespace

int runCliCommand(const CliOptions &o, FtpComponent &c, QTextStream &out, QTextStream &err)
{
    // Nobody is there to answer: no account, no new password; replacing is
    // what get and put are for.
    QObject::connect(&c, &FtpComponent::accountRequired, &c, [](QString *account) { account->clear(); },
                     Qt::DirectConnection);
    QObject::connect(&c, &FtpComponent::invalidPassword, &c, [](QString *pw) { pw->clear(); }, Qt::DirectConnection);
    QObject::connect(&c, &FtpComponent::replacingFile, &c, [](const QString &, bool *replace) { *replace = true; },
                     Qt::DirectConnection);
    QObject::connect(&c, &FtpComponent::skippingFile, &c, [&err](const QString &a, const QString &b, int reason) {
        err << "corvane-cli: skipped " << (a.isEmpty() ? b : a) << " (reason " << reason << ")\n";
        err.flush();
    });

    applyCliOptions(o, c);
    const auto failed = [&](const QString &what) {
        err << "corvane-cli: " << what << ": " << describe(c) << "\n";
        err.flush();
        if (c.currentState() != FtpComponent::NotConnected)
            c.disconnectFromServer();
        return 1;
    };
    if (!c.connectToServer())
        return failed(QStringLiteral("connect to %1:%2").arg(o.host).arg(o.port));
    if (!o.folder.isEmpty() && !c.changeFolder(o.folder))
        return failed(QStringLiteral("change to %1").arg(o.folder));

    const QString &cmd = o.command;
    const QStringList &a = o.arguments;
    bool ok = true;
    if (cmd == QLatin1String("ls")) {
        // PATH is a folder, or else a name (or mask) in a folder.
        QString mask;
        if (!a.isEmpty() && !c.changeFolder(a.at(0))) {
            const FtpComponentError notFolder = c.lastError();
            const qsizetype slash = a.at(0).lastIndexOf(u'/');
            mask = a.at(0).mid(slash + 1);
            if (notFolder.number != FtpErrors::ServerRefused || mask.isEmpty()
                || (slash > 0 && !c.changeFolder(a.at(0).left(slash))))
                return failed(QStringLiteral("ls %1").arg(a.at(0)));
        }
        QList<FtpListEntry> entries;
        if (!c.folderContents(mask, entries))
            return failed(QStringLiteral("ls"));
        if (!mask.isEmpty() && entries.isEmpty()) {
            err << "corvane-cli: ls " << a.at(0) << ": no such file or folder\n";
            c.disconnectFromServer();
            return 1;
        }
        for (const FtpListEntry &e : std::as_const(entries)) {
            const QString date =
                e.modified.isValid() ? e.modified.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) : QString();
            out << typeLetter(e.kind) << '\t' << std::max<qint64>(0, e.size) << '\t' << date << '\t' << e.name
                << '\n';
        }
    } else if (cmd == QLatin1String("get") && o.recursive) {
        if (!QDir().mkpath(a.at(1))) {
            err << "corvane-cli: cannot create " << a.at(1) << "\n";
            c.disconnectFromServer();
            return 1;
        }
        ok = c.receiveFiles(a.at(0) + QStringLiteral("/*"), a.at(1), true);
    } else if (cmd == QLatin1String("get")) {
        QString local = a.at(1);
        if (QFileInfo(local).isDir())
            local = QDir(local).filePath(QFileInfo(a.at(0)).fileName());
        const qint64 offset = o.resume && QFileInfo::exists(local) ? QFileInfo(local).size() : 0;
        ok = c.receiveFile(a.at(0), offset, local);
    } else if (cmd == QLatin1String("put") && o.recursive) {
        if (!QFileInfo(a.at(0)).isDir()) {
            err << "corvane-cli: not a folder: " << a.at(0) << "\n";
            c.disconnectFromServer();
            return 1;
        }
        ok = c.sendFiles(a.at(0) + QStringLiteral("/*"), a.at(1), true, true);
    } else if (cmd == QLatin1String("put")) {
        qint64 offset = 0;
        if (o.resume) {
            qint64 size = 0;
            // A file not on the server is sent whole.
            if (c.remoteSize(a.at(1), size))
                offset = size;
            else if (c.lastError().number != FtpErrors::ServerRefused)
                return failed(QStringLiteral("size of %1").arg(a.at(1)));
        }
        ok = c.sendFile(a.at(0), offset, a.at(1), offset > 0);
    } else if (cmd == QLatin1String("rm")) {
        ok = o.recursive ? removeTree(c, a.at(0), 0) : c.deleteFile(a.at(0));
    } else if (cmd == QLatin1String("mkdir")) {
        ok = c.createFolder(a.at(0));
    } else if (cmd == QLatin1String("rmdir")) {
        ok = c.removeFolder(a.at(0));
    } else if (cmd == QLatin1String("rename")) {
        ok = c.rename(a.at(0), a.at(1));
    } else if (isSync(cmd)) {
        const bool receiving = cmd == QLatin1String("sync-local");
        if (!QFileInfo(a.at(0)).isDir()) {
            err << "corvane-cli: not a folder: " << a.at(0) << "\n";
            c.disconnectFromServer();
            return 1;
        }
        const bool bySize = o.syncBySize.value_or(o.storedSyncBySize);
        DirectorySync sync(c, [bySize] { return bySize ? DirectorySync::Mode::BySize : DirectorySync::Mode::ByDate; });
        QObject::connect(&sync, &DirectorySync::fileCopied, &sync, [&](const QString &, const QString &name) {
            out << (receiving ? "received " : "sent ") << name << '\n';
            out.flush();
        });
        QObject::connect(&sync, &DirectorySync::message, &sync, [&](const QString &text) {
            err << "corvane-cli: " << text << "\n";
            err.flush();
        });
        const QString localFolder = QDir(a.at(0)).absolutePath() + u'/';
        const DirectorySync::Outcome outcome =
            receiving ? sync.SyncLocalFromRemote(localFolder, a.at(1)) : sync.SyncRemoteFromLocal(localFolder, a.at(1));
        const qsizetype n = outcome.copied.size();
        out << n << (n == 1 ? " file copied" : " files copied") << '\n';
        out.flush();
        if (!outcome.completed) {
            err << "corvane-cli: " << cmd << ": " << outcome.error << "\n";
            err.flush();
            c.disconnectFromServer();
            return 1;
        }
    } else if (cmd == QLatin1String("quote")) {
        ok = c.sendCommand(a.at(0));
        if (ok)
            out << c.lastReply() << '\n';
    }
    out.flush();
    if (!ok)
        return failed(QStringLiteral("%1 %2").arg(cmd, a.join(u' ')));
    c.disconnectFromServer();
    return 0;
}
