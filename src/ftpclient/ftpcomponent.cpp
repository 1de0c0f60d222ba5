#include "ftpclient/ftpcomponent.h"

#include "platform/socketchannel.h"
#include "platform/truststore.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
#include <QSet>

#include <functional>

namespace {

// Deepest folder nesting a recursive transfer walks into.
constexpr int MaxDepth = 64;


// Wildcard match with * (any run) and ? (one character), case-sensitive.
bool wildcardMatch(QStringView pattern, QStringView name)
{
    qsizetype p = 0, n = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

bool matchesMask(const QString &mask, const QString &name)
{
    return mask.isEmpty() || wildcardMatch(mask, name);
}

// "folder/*" -> ("folder", "*"); "*" -> ("", "*").
std::pair<QString, QString> splitMask(const QString &mask)
{
    const qsizetype slash = mask.lastIndexOf(u'/');
    if (slash < 0)
        return {QString(), mask};
    return {mask.left(slash), mask.mid(slash + 1)};
}

QString childPath(const QString &parent, const QString &name)
{
    return parent.endsWith(u'/') ? parent + name : parent + u'/' + name;
}

int entryType(FtpListEntry::Kind kind)
{
    switch (kind) {
    case FtpListEntry::Kind::Folder:
        return 1;
    case FtpListEntry::Kind::Link:
        return 2;
    default:
        return 0;
    }
}

} // namespace

class FtpComponent::Private {
public:
    Private(FtpComponent *q, std::shared_ptr<const SocketFactory> sockets, std::shared_ptr<TrustStore> trust)
        : q(q), sockets(std::move(sockets)), trust(std::move(trust))
    {
    }

    FtpComponent *q;
    std::shared_ptr<const SocketFactory> sockets;
    std::shared_ptr<TrustStore> trust; // none: an unverified certificate fails the connect
    FtpSession session;
    FtpComponentError error;
    QString lastReply;
    QString folder; // the last known remote path
    qint32 stateValue = FtpComponent::NotConnected;
    bool connected = false;
    bool running = false;
    bool abortPending = false; // set between calls: fails the next one
    bool abortRunning = false; // set during a call: fails it
    QPointer<FtpOperation> current;
    // Running totals of a transfer call for transferStatus.
    qint64 totalBytes = 0;
    qint64 totalDone = 0;

    // Starts a call: refuses a nested one, consumes an abort set between calls.
    bool begin(qint32 state)
    {
        if (running) {
            error = {FtpErrors::Busy, QStringLiteral("Another operation is in progress")};
            return false;
        }
        error = {};
        lastReply.clear();
        if (abortPending) {
            abortPending = false;
            error = {FtpErrors::Aborted, QStringLiteral("Aborted")};
            emit q->processFinished(error.number);
            return false;
        }
        running = true;
        abortRunning = false;
        totalBytes = totalDone = 0;
        if (connected)
            stateValue = state;
        return true;
    }

    // Ends a call: the state goes back to idle (or not connected) and the
    // result goes out as processFinished.
    bool end(bool ok)
    {
        running = false;
        abortRunning = false;
        stateValue = connected ? FtpComponent::Idle : FtpComponent::NotConnected;
        if (ok)
            error = {};
        emit q->processFinished(ok ? 0 : error.number);
        return ok;
    }

    bool fail(quint32 number, const QString &description)
    {
        error = {number, description};
        return false;
    }

    bool failFrom(const FtpResult &r, bool connecting = false)
    {
        switch (r.failure) {
        case FtpFailure::None:
            return true;
        case FtpFailure::Refused:
            return fail(FtpErrors::ServerRefused,
                        r.code > 0 && !r.text.startsWith(QString::number(r.code))
                            ? QStringLiteral("%1 %2").arg(r.code).arg(r.text)
                            : r.text);
        case FtpFailure::Connection:
            return fail(connecting ? FtpErrors::ConnectFailed : FtpErrors::ConnectionLost, r.text);
        case FtpFailure::Protocol:
            return fail(FtpErrors::Protocol, r.text);
        case FtpFailure::Timeout:
            return fail(FtpErrors::TimedOut, r.text);
        case FtpFailure::Tls:
            return fail(FtpErrors::TlsFailed, r.text);
        case FtpFailure::Aborted:
            return fail(FtpErrors::Aborted, QStringLiteral("Aborted"));
        case FtpFailure::Local:
            return fail(FtpErrors::LocalFile, r.text);
        case FtpFailure::NotConnected:
            return fail(FtpErrors::NotConnected, QStringLiteral("Not connected"));
        }
        return false;
    }

    // Runs one session operation to its end in a local event loop.
    // An abort asked for during the call stops it before the next exchange
    // is even queued.
    FtpResult run(const std::function<FtpOperation *()> &make,
                  const std::function<void(qint64, qint64)> &progress = {})
    {
        if (abortRunning) {
            FtpResult aborted;
            aborted.failure = FtpFailure::Aborted;
            return aborted;
        }
        FtpOperation *op = make();
        if (!op) {
            FtpResult none;
            none.failure = FtpFailure::NotConnected;
            return none;
        }
        if (op->isFinished())
            return op->result();
        FtpResult result;
        bool done = false;
        QEventLoop loop;
        QObject::connect(op, &FtpOperation::finished, &loop, [&](const FtpResult &r) {
            result = r;
            done = true;
            loop.quit();
        });
        if (progress)
            QObject::connect(op, &FtpOperation::progress, &loop, progress);
        current = op;
        if (!done)
            loop.exec();
        current = nullptr;
        if (result.code > 0 || !result.text.isEmpty())
            lastReply = result.code > 0 ? QStringLiteral("%1 %2").arg(result.code).arg(result.text) : result.text;
        return result;
    }

    // A connect that failed on the server's certificate: asks the owner
    // whether to trust it and remembers a yes in the trust store, which the
    // socket factory then accepts. True when the connect should run again.
    bool askTrust(const FtpResult &r)
    {
        if (!trust || r.failure != FtpFailure::Tls || !r.tls || !r.tls->certificate || r.tls->peer.isNull()
            || abortRunning)
            return false;
        if (session.state() != FtpSession::State::Disconnected)
            session.close();
        bool yes = false;
        emit q->certificateRejected(*r.tls, &yes);
        if (!yes || abortRunning)
            return false;
        if (!trust->trust(r.tls->host, r.tls->peer.sha256)) {
            emit q->logLine(QStringLiteral("The certificate of %1 could not be stored as trusted").arg(r.tls->host));
            return false;
        }
        return true;
    }

    bool runOk(const std::function<FtpOperation *()> &make)
    {
        const FtpResult r = run(make);
        return r.ok() || failFrom(r);
    }

    bool requireConnected()
    {
        if (connected && session.state() != FtpSession::State::Disconnected)
            return true;
        return fail(FtpErrors::NotConnected, QStringLiteral("Not connected"));
    }

    FtpTransferType transferType() const
    {
        return q->representationType == 1 ? FtpTransferType::Ascii : FtpTransferType::Binary;
    }

    bool refreshFolder()
    {
        const FtpResult r = run([&] { return session.printWorkingDirectory(); });
        if (!r.ok())
            return failFrom(r);
        folder = r.path;
        return true;
    }

    bool list(const QString &mask, QList<FtpListEntry> &entries)
    {
        const bool mlsd = session.features().mlsd;
        const FtpSession::ListKind kind = mlsd ? FtpSession::ListKind::Mlsd : FtpSession::ListKind::List;
        const FtpResult r = run([&] { return session.list(kind); });
        if (!r.ok())
            return failFrom(r);
        entries.clear();
        const QList<FtpListEntry> all = parseListing(r.listing, mlsd, QDateTime::currentDateTimeUtc());
        for (const FtpListEntry &e : all)
            if (matchesMask(mask, e.name))
                entries.append(e);
        return true;
    }

    void status(const QString &local, const QString &remote, qint64 fileSize, qint64 done)
    {
        const int percent = fileSize > 0 ? int(std::min<qint64>(100, done * 100 / fileSize)) : 0;
        emit q->transferStatus(local, remote, fileSize, done, percent, totalBytes, totalDone);
    }

    // One file from the server. offset > 0 continues the local file there;
    // offset 0 over an existing file goes to a temporary file beside it that
    // replaces the old one only when the whole file arrived.
    bool receiveOne(const QString &remote, qint64 offset, const QString &localPath, qint64 knownSize)
    {
        emit q->receivingFile(remote);
        const QFileInfo info(localPath);
        std::unique_ptr<QFileDevice> file;
        QSaveFile *replacing = nullptr;
        if (offset > 0) {
            auto f = std::make_unique<QFile>(localPath);
            if (!f->open(QIODevice::ReadWrite))
                return fail(FtpErrors::LocalFile, QStringLiteral("%1: %2").arg(localPath, f->errorString()));
            if (f->size() < offset)
                return fail(FtpErrors::LocalFile,
                            QStringLiteral("%1 is shorter than the offset %2").arg(localPath).arg(offset));
            if (!f->resize(offset) || !f->seek(offset))
                return fail(FtpErrors::LocalFile, QStringLiteral("%1: %2").arg(localPath, f->errorString()));
            file = std::move(f);
        } else if (info.exists()) {
            auto f = std::make_unique<QSaveFile>(localPath);
            if (!f->open(QIODevice::WriteOnly))
                return fail(FtpErrors::LocalFile, QStringLiteral("%1: %2").arg(localPath, f->errorString()));
            replacing = f.get();
            file = std::move(f);
        } else {
            auto f = std::make_unique<QFile>(localPath);
            if (!f->open(QIODevice::WriteOnly))
                return fail(FtpErrors::LocalFile, QStringLiteral("%1: %2").arg(localPath, f->errorString()));
            file = std::move(f);
        }
        const qint64 doneBefore = totalDone;
        qint64 fileSize = knownSize;
        const FtpResult r = run([&] { return session.retrieve(remote, offset, file.get(), transferType()); },
                                [&](qint64 done, qint64 total) {
            if (fileSize < 0 && total >= 0)
                fileSize = total;
            totalDone = doneBefore + done;
            status(localPath, remote, fileSize, offset + done);
        });
        if (!r.ok()) {
            if (replacing) {
                replacing->cancelWriting();
            } else if (offset == 0 && file->size() == 0) {
                // Nothing arrived: no empty file is left behind for a name
                // the server did not deliver.
                file->close();
                QFile::remove(localPath);
            }
            return failFrom(r);
        }
        if (replacing) {
            if (!replacing->commit())
                return fail(FtpErrors::LocalFile, QStringLiteral("%1: %2").arg(localPath, replacing->errorString()));
        } else {
            file->close();
            if (file->error() != QFileDevice::NoError)
                return fail(FtpErrors::LocalFile, QStringLiteral("%1: %2").arg(localPath, file->errorString()));
        }
        return true;
    }

    bool sendOne(const QString &localPath, qint64 offset, const QString &remote, bool continueFile)
    {
        emit q->sendingFile(localPath);
        QFile file(localPath);
        if (!file.open(QIODevice::ReadOnly))
            return fail(FtpErrors::LocalFile, QStringLiteral("%1: %2").arg(localPath, file.errorString()));
        const qint64 size = file.size();
        if (offset < 0 || offset > size)
            return fail(FtpErrors::InvalidArgument,
                        QStringLiteral("Offset %1 is outside %2").arg(offset).arg(localPath));
        if (offset > 0 && !file.seek(offset))
            return fail(FtpErrors::LocalFile, QStringLiteral("%1: %2").arg(localPath, file.errorString()));
        // Continuing appends what the server lacks; a fresh send from an
        // offset asks the server to restart there.
        const bool append = continueFile && offset > 0;
        const qint64 doneBefore = totalDone;
        const qint64 restart = append ? 0 : offset;
        const FtpResult r = run([&] { return session.store(&file, remote, restart, append, transferType()); },
                                [&](qint64 done, qint64) {
            totalDone = doneBefore + done;
            status(localPath, remote, size, offset + done);
        });
        return r.ok() || failFrom(r);
    }

    bool changeTo(const QString &path)
    {
        return runOk([&] { return session.changeDirectory(path); });
    }

    void skip(const QString &name, const QString &why, int reason)
    {
        emit q->skippingFile(name, QString(), reason);
        emit q->logLine(QStringLiteral("Skipped %1: %2").arg(name, why));
    }

    // Receives the entries of the current remote folder matching mask into
    // localFolder; here is the remote folder's path, visited the paths of the
    // folders above it.
    bool receiveTree(const QString &mask, const QString &localFolder, bool recurse, QString here,
                     QSet<QString> &visited, int depth)
    {
        if (!QDir().mkpath(localFolder))
            return fail(FtpErrors::LocalFile, QStringLiteral("Cannot create folder %1").arg(localFolder));
        QList<FtpListEntry> entries;
        if (!list(mask, entries))
            return false;
        QList<FtpListEntry> folders;
        for (const FtpListEntry &e : std::as_const(entries)) {
            if (!isSafeLocalName(e.name)) {
                skip(e.name, QStringLiteral("the name cannot be a local file name"), FtpSkipReasons::UnsafeName);
                continue;
            }
            if (e.kind == FtpListEntry::Kind::Folder) {
                folders.append(e);
                continue;
            }
            if (e.kind == FtpListEntry::Kind::Other)
                continue;
            const QString localPath = QDir(localFolder).filePath(e.name);
            const QFileInfo local(localPath);
            if (local.isSymLink()) {
                skip(e.name, QStringLiteral("the local name is a link"), FtpSkipReasons::LocalLink);
                continue;
            }
            if (local.exists()) {
                if (local.isDir()) {
                    skip(e.name, QStringLiteral("a local folder has that name"), FtpSkipReasons::NotReplaced);
                    continue;
                }
                bool replace = false;
                emit q->replacingFile(localPath, &replace);
                if (!replace) {
                    skip(e.name, QStringLiteral("the local file was kept"), FtpSkipReasons::NotReplaced);
                    continue;
                }
            }
            totalBytes += std::max<qint64>(0, e.size);
            if (!receiveOne(e.name, 0, localPath, e.size)) {
                // A link that is not a file (a folder, a dangling one) is
                // never followed; anything else ends the call.
                if (e.kind == FtpListEntry::Kind::Link && error.number == FtpErrors::ServerRefused) {
                    if (!local.exists())
                        QFile::remove(localPath);
                    skip(e.name, QStringLiteral("a link that is not a file"), FtpSkipReasons::Link);
                    error = {};
                    continue;
                }
                return false;
            }
        }
        if (!recurse)
            return true;
        if (depth >= MaxDepth && !folders.isEmpty())
            return fail(FtpErrors::InvalidArgument, QStringLiteral("Folders nested too deeply under %1").arg(here));
        for (const FtpListEntry &f : std::as_const(folders)) {
            const QString localSub = QDir(localFolder).filePath(f.name);
            if (QFileInfo(localSub).isSymLink()) {
                skip(f.name, QStringLiteral("the local name is a link"), FtpSkipReasons::LocalLink);
                continue;
            }
            emit q->scanningFolder(f.name);
            if (!changeTo(f.name))
                return false;
            if (!refreshFolder())
                return false;
            const QString there = folder;
            // A folder reached again, or one outside the tree, came through a
            // link the listing did not show as one.
            if (visited.contains(there) || !there.startsWith(childPath(here, QString()))) {
                skip(f.name, QStringLiteral("the folder is a link"), FtpSkipReasons::OutsideTree);
            } else {
                visited.insert(there);
                if (!receiveTree(QStringLiteral("*"), localSub, true, there, visited, depth + 1))
                    return false;
            }
            if (!changeTo(here))
                return false;
            folder = here;
        }
        return true;
    }

    bool sendTree(const QString &localFolder, const QString &mask, bool recurse, int depth)
    {
        const QDir dir(localFolder);
        if (!dir.exists())
            return fail(FtpErrors::LocalFile, QStringLiteral("No folder %1").arg(localFolder));
        QList<FtpListEntry> remote;
        if (!list(QString(), remote))
            return false;
        QHash<QString, FtpListEntry::Kind> remoteKinds;
        for (const FtpListEntry &e : std::as_const(remote))
            remoteKinds.insert(e.name, e.kind);
        const QFileInfoList local =
            dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                              QDir::Name | QDir::DirsLast);
        for (const QFileInfo &fi : local) {
            const QString name = fi.fileName();
            if (!matchesMask(mask, name))
                continue;
            if (fi.isDir()) {
                if (!recurse)
                    continue;
                if (fi.isSymLink()) {
                    skip(name, QStringLiteral("a link to a folder is not followed"), FtpSkipReasons::Link);
                    continue;
                }
                if (depth >= MaxDepth)
                    return fail(FtpErrors::InvalidArgument, QStringLiteral("Folders nested too deeply: %1").arg(name));
                emit q->scanningFolder(fi.filePath());
                const QString here = folder;
                if (!enterRemoteFolder(name, remoteKinds.contains(name)))
                    return false;
                if (!sendTree(fi.filePath(), QStringLiteral("*"), true, depth + 1))
                    return false;
                if (!changeTo(here))
                    return false;
                folder = here;
                continue;
            }
            if (!fi.isFile())
                continue;
            if (remoteKinds.contains(name)) {
                bool replace = false;
                emit q->replacingFile(name, &replace);
                if (!replace) {
                    skip(name, QStringLiteral("the remote file was kept"), FtpSkipReasons::NotReplaced);
                    continue;
                }
            }
            totalBytes += fi.size();
            if (!sendOne(fi.filePath(), 0, name, false))
                return false;
        }
        return true;
    }

    // CWD into a remote folder, made with MKD when it is missing.
    bool enterRemoteFolder(const QString &name, bool known)
    {
        if (!known) {
            const FtpResult made = run([&] { return session.makeDirectory(name); });
            if (!made.ok() && made.failure != FtpFailure::Refused)
                return failFrom(made);
        }
        if (!changeTo(name)) {
            if (!known || error.number != FtpErrors::ServerRefused)
                return false;
            if (!runOk([&] { return session.makeDirectory(name); }) || !changeTo(name))
                return false;
        }
        return refreshFolder();
    }

    // Brings the remote side back to where a recursive call started.
    void restoreFolder(const QString &start)
    {
        if (start.isEmpty() || !connected || folder == start)
            return;
        const bool wasAborted = abortRunning;
        abortRunning = false;
        const FtpComponentError kept = error;
        const FtpResult r = run([&] { return session.changeDirectory(start); });
        if (r.ok())
            folder = start;
        error = kept;
        abortRunning = wasAborted;
    }
};

FtpComponent::FtpComponent(std::shared_ptr<const SocketFactory> sockets, QObject *parent)
    : FtpComponent(std::move(sockets), nullptr, parent)
{
}

FtpComponent::FtpComponent(std::shared_ptr<const SocketFactory> sockets, std::shared_ptr<TrustStore> trust,
                           QObject *parent)
    : QObject(parent), d(std::make_unique<Private>(this, std::move(sockets), std::move(trust)))
{
    connect(&d->session, &FtpSession::logLine, this, [this](const QString &line) {
        // A password never reaches the log, whatever the session wrote:
        // the PASS line is masked, and so is any line that holds the
        // password or the proxy's password.
        if (line.startsWith(QLatin1String("PASS "), Qt::CaseInsensitive)) {
            emit logLine(QStringLiteral("PASS ****"));
            return;
        }
        QString shown = line;
        for (const QString *secret : {&password, &proxyPassword})
            if (!secret->isEmpty())
                shown.replace(*secret, QStringLiteral("****"));
        emit logLine(shown);
    });
    connect(&d->session, &FtpSession::accountRequired, this, [this] {
        QString account;
        emit accountRequired(&account);
        d->session.provideAccount(account.isEmpty() ? std::nullopt : std::optional<QString>(account));
    });
    connect(&d->session, &FtpSession::passwordRejected, this, [this] {
        QString newPassword;
        emit invalidPassword(&newPassword);
        d->session.providePassword(newPassword.isEmpty() ? std::nullopt : std::optional<QString>(newPassword));
    });
    connect(&d->session, &FtpSession::disconnected, this, [this](const FtpResult &) {
        const bool was = d->connected;
        d->connected = false;
        if (!d->running)
            d->stateValue = NotConnected;
        if (was)
            emit disconnected();
    });
}

FtpComponent::~FtpComponent()
{
    if (d->session.state() != FtpSession::State::Disconnected)
        d->session.close();
}

qint32 FtpComponent::currentState() const
{
    return d->stateValue;
}

bool FtpComponent::currentFolder(QString &folder)
{
    if (d->running) {
        folder = d->folder;
        return d->connected;
    }
    if (!d->begin(Busy))
        return false;
    const bool ok = d->requireConnected() && d->refreshFolder();
    if (ok)
        folder = d->folder;
    return d->end(ok);
}

void FtpComponent::setAbort(bool abort)
{
    if (!abort) {
        d->abortPending = false;
        return;
    }
    if (d->running) {
        d->abortRunning = true;
        if (d->current && !d->current->isFinished())
            d->session.abort();
    } else {
        d->abortPending = true;
    }
}

const FtpComponentError &FtpComponent::lastError() const
{
    return d->error;
}

const QString &FtpComponent::lastReply() const
{
    return d->lastReply;
}

FtpSession &FtpComponent::session()
{
    return d->session;
}

bool FtpComponent::connectToServer()
{
    if (serverPort == 0) {
        // Refused before anything starts, so no call is running.
        if (d->running)
            return d->fail(FtpErrors::Busy, QStringLiteral("Another operation is in progress"));
        d->error = {FtpErrors::InvalidArgument, QStringLiteral("Invalid port 0: a port is 1 to 65535")};
        emit processFinished(d->error.number);
        return false;
    }
    if (!d->begin(Connecting))
        return false;
    if (d->connected)
        return d->end(d->fail(FtpErrors::InvalidArgument, QStringLiteral("Already connected")));
    d->stateValue = Connecting;
    FtpConnectSettings settings;
    settings.host = serverAddress;
    settings.port = serverPort;
    if (!userName.isEmpty()) {
        settings.user = userName;
        settings.password = password;
    } else {
        settings.password = password.isEmpty() ? QStringLiteral("anonymous@") : password;
    }
    settings.security = security;
    settings.passive = passiveMode;
    settings.proxy.type = proxyType == 4   ? ProxySettings::Type::Socks4
                          : proxyType == 5 ? ProxySettings::Type::Socks5
                                           : ProxySettings::Type::None;
    settings.proxy.host = proxyHost;
    settings.proxy.port = proxyPort;
    settings.proxy.user = proxyUserName;
    settings.proxy.password = proxyPassword;
    settings.sockets = d->sockets;
    settings.timing = timing;
    FtpResult r = d->run([&] { return d->session.connectToHost(settings); });
    if (!r.ok() && d->askTrust(r))
        r = d->run([&] { return d->session.connectToHost(settings); }); // once: a second refusal fails
    if (!r.ok()) {
        d->failFrom(r, true);
        if (d->session.state() != FtpSession::State::Disconnected)
            d->session.close();
        d->connected = false;
        return d->end(false);
    }
    d->connected = true;
    d->stateValue = Busy;
    if (!d->refreshFolder())
        d->folder.clear();
    d->error = {};
    return d->end(true);
}

bool FtpComponent::disconnectFromServer()
{
    if (!d->begin(Busy))
        return false;
    if (!d->connected)
        return d->end(d->fail(FtpErrors::NotConnected, QStringLiteral("Not connected")));
    const FtpResult r = d->run([&] { return d->session.quit(); });
    if (d->session.state() != FtpSession::State::Disconnected)
        d->session.close();
    d->connected = false;
    d->folder.clear();
    return d->end(r.ok() || r.failure == FtpFailure::Connection || d->failFrom(r));
}

bool FtpComponent::changeFolder(const QString &path)
{
    if (!d->begin(Busy))
        return false;
    return d->end(d->requireConnected() && d->changeTo(path) && d->refreshFolder());
}

bool FtpComponent::changeToParentFolder()
{
    if (!d->begin(Busy))
        return false;
    return d->end(d->requireConnected() && d->runOk([&] { return d->session.changeToParent(); })
                  && d->refreshFolder());
}

bool FtpComponent::createFolder(const QString &name)
{
    if (!d->begin(Busy))
        return false;
    return d->end(d->requireConnected() && d->runOk([&] { return d->session.makeDirectory(name); }));
}

bool FtpComponent::removeFolder(const QString &name)
{
    if (!d->begin(Busy))
        return false;
    return d->end(d->requireConnected() && d->runOk([&] { return d->session.removeDirectory(name); }));
}

bool FtpComponent::deleteFile(const QString &name)
{
    if (!d->begin(Busy))
        return false;
    return d->end(d->requireConnected() && d->runOk([&] { return d->session.deleteFile(name); }));
}

bool FtpComponent::rename(const QString &oldName, const QString &newName)
{
    if (!d->begin(Busy))
        return false;
    return d->end(d->requireConnected() && d->runOk([&] { return d->session.rename(oldName, newName); }));
}

bool FtpComponent::remoteSize(const QString &name, qint64 &size)
{
    if (!d->begin(Busy))
        return false;
    if (!d->requireConnected() || !d->runOk([&] { return d->session.setType(FtpTransferType::Binary); }))
        return d->end(false);
    const FtpResult r = d->run([&] { return d->session.size(name); });
    if (!r.ok())
        return d->end(d->failFrom(r));
    size = r.size;
    return d->end(true);
}

bool FtpComponent::listFolderContents(const QString &mask)
{
    if (!d->begin(Busy))
        return false;
    QList<FtpListEntry> entries;
    const bool ok = d->requireConnected() && d->list(mask, entries);
    if (ok) {
        for (const FtpListEntry &e : std::as_const(entries)) {
            const QString extra = e.kind == FtpListEntry::Kind::Link ? e.linkTarget : e.permissions;
            emit listingEntry(e.name, e.modified, std::max<qint64>(0, e.size), entryType(e.kind), extra);
        }
    }
    return d->end(ok);
}

bool FtpComponent::folderContents(const QString &mask, QList<FtpListEntry> &entries)
{
    if (!d->begin(Busy))
        return false;
    return d->end(d->requireConnected() && d->list(mask, entries));
}

bool FtpComponent::receiveFile(const QString &remoteName, qint64 offset, const QString &localPath)
{
    if (!d->begin(Receiving))
        return false;
    if (offset < 0)
        return d->end(d->fail(FtpErrors::InvalidArgument, QStringLiteral("Negative offset")));
    return d->end(d->requireConnected() && d->receiveOne(remoteName, offset, localPath, -1));
}

bool FtpComponent::sendFile(const QString &localPath, qint64 offset, const QString &remoteName, bool continueFile)
{
    if (!d->begin(Sending))
        return false;
    bool ok = d->requireConnected();
    if (ok) {
        d->totalBytes = QFileInfo(localPath).size() - offset;
        ok = d->sendOne(localPath, offset, remoteName, continueFile);
    }
    return d->end(ok);
}

bool FtpComponent::receiveFiles(const QString &remoteMask, const QString &localFolder, bool recurse)
{
    if (!d->begin(ReceivingFiles))
        return false;
    if (!d->requireConnected() || !d->refreshFolder())
        return d->end(false);
    const QString start = d->folder;
    const auto [remoteFolder, mask] = splitMask(remoteMask);
    bool ok = true;
    if (!remoteFolder.isEmpty())
        ok = d->changeTo(remoteFolder) && d->refreshFolder();
    if (ok) {
        QSet<QString> visited{d->folder};
        ok = d->receiveTree(mask, localFolder, recurse, d->folder, visited, 0);
    }
    d->restoreFolder(start);
    return d->end(ok);
}

bool FtpComponent::sendFiles(const QString &localMask, const QString &remoteFolder, bool processSubfolders,
                             bool recurse)
{
    // The window always passes true; whether subfolders go too is recurse.
    Q_UNUSED(processSubfolders)
    if (!d->begin(SendingFiles))
        return false;
    if (!d->requireConnected() || !d->refreshFolder())
        return d->end(false);
    const QString start = d->folder;
    const auto [localFolder, mask] = splitMask(localMask);
    bool ok = true;
    if (!remoteFolder.isEmpty()) {
        QList<FtpListEntry> here;
        ok = d->list(QString(), here);
        bool known = false;
        for (const FtpListEntry &e : std::as_const(here))
            known = known || e.name == remoteFolder;
        ok = ok && d->enterRemoteFolder(remoteFolder, known);
    }
    ok = ok && d->sendTree(localFolder.isEmpty() ? QStringLiteral(".") : localFolder, mask, recurse, 0);
    d->restoreFolder(start);
    return d->end(ok);
}

bool FtpComponent::sendCommand(const QString &line)
{
    if (!d->begin(Busy))
        return false;
    return d->end(d->requireConnected() && d->runOk([&] { return d->session.raw(line); }));
}

bool FtpComponent::remoteModified(const QString &name, QDateTime &modified)
{
    if (!d->begin(Busy))
        return false;
    if (!d->requireConnected())
        return d->end(false);
    const FtpResult r = d->run([&] { return d->session.modificationTime(name); });
    if (!r.ok())
        return d->end(d->failFrom(r));
    if (!r.modified.isValid())
        return d->end(d->fail(FtpErrors::Protocol, QStringLiteral("No time in the reply to MDTM %1").arg(name)));
    modified = r.modified.toUTC();
    return d->end(true);
}

bool FtpComponent::hasMachineListing() const
{
    return d->connected && d->session.features().mlsd;
}

bool FtpComponent::hasModificationTime() const
{
    return d->connected && d->session.features().mdtm;
}

bool FtpComponent::listingCommand(const QString &line, QStringList &lines)
{
    if (!d->begin(Busy))
        return false;
    if (!d->requireConnected())
        return d->end(false);
    const QString trimmed = line.trimmed();
    const QString verb = trimmed.section(u' ', 0, 0).toUpper();
    const QString argument = trimmed.section(u' ', 1).trimmed();
    FtpSession::ListKind kind = FtpSession::ListKind::List;
    if (verb == QLatin1String("NLST"))
        kind = FtpSession::ListKind::Nlst;
    else if (verb == QLatin1String("MLSD"))
        kind = FtpSession::ListKind::Mlsd;
    else if (verb != QLatin1String("LIST"))
        return d->end(d->fail(FtpErrors::InvalidArgument, QStringLiteral("Not a listing command: %1").arg(verb)));
    const FtpResult r = d->run([&] { return d->session.list(kind, argument); });
    if (!r.ok())
        return d->end(d->failFrom(r));
    lines.clear();
    const QList<QByteArray> raw = r.listing.split('\n');
    for (QByteArray l : raw) {
        if (l.endsWith('\r'))
            l.chop(1);
        if (l.isEmpty())
            continue;
        const QString text = QString::fromUtf8(l);
        // Names that are not UTF-8 are shown as Latin-1 rather than mangled.
        lines.append(text.contains(QChar::ReplacementCharacter) ? QString::fromLatin1(l) : text);
    }
    return d->end(true);
}
