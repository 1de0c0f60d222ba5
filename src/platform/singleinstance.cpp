#include "platform/singleinstance.h"

#include "platform/privatedir.h"
#include "platform/programdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include <unistd.h>

SingleInstance::SingleInstance(QString name, QString directory)
    : m_path(joinPath(directory, name + QStringLiteral(".instance.lock")))
{
    QDir().mkpath(directory);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultDirectory()
{
    const QString runtime = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return runtime;
    // Without a runtime directory: a private one of ours in the shared
    // temporary folder. Anyone can take that name first (a folder of theirs,
    // a link); the lock and the socket then live under the home folder.
    const QString shared = joinPath(QDir::tempPath(), QStringLiteral("tessel-suite-%1").arg(::getuid()));
    if (PreparePrivateDirectory(shared))
        return shared;
    const QString own = joinPath(QDir::homePath(), QStringLiteral(".cache/tessel-suite"));
    QDir().mkpath(QFileInfo(own).path());
    PreparePrivateDirectory(own);
    return own;
}

bool SingleInstance::tryAcquire()
{
    if (isHeld())
        return true;
    m_lock = std::make_unique<QLockFile>(m_path);
    // Never consider a live owner's lock stale however old it is; a lock whose
    // owner process is gone is stale at once.
    m_lock->setStaleLockTime(0);
    // tryLock takes over a lock whose recorded process is no longer running.
    if (m_lock->tryLock(0))
        return true;
    m_lock.reset();
    return false;
}

bool SingleInstance::isHeld() const
{
    return m_lock && m_lock->isLocked();
}

void SingleInstance::release()
{
    if (m_lock)
        m_lock->unlock();
    m_lock.reset();
}

namespace {

// A request is a few lines; anything longer is not from our own program.
constexpr qint64 MaxRequestBytes = 64 * 1024;

QString channelPath(const QString &name, const QString &directory)
{
    return joinPath(directory, name + QStringLiteral(".instance.sock"));
}

} // namespace

InstanceChannel::InstanceChannel(const QString &name, const QString &directory, QObject *parent)
    : QObject(parent), m_path(channelPath(name, directory))
{
}

InstanceChannel::~InstanceChannel()
{
    if (m_server)
        m_server->close();
}

bool InstanceChannel::listen()
{
    if (m_server && m_server->isListening())
        return true;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QLocalServer::removeServer(m_path);
    m_server = new QLocalServer(this);
    // Only this user may talk to the running instance.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &InstanceChannel::accept);
    return m_server->listen(m_path);
}

void InstanceChannel::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this, [socket, buffer] {
            buffer->append(socket->readAll());
            if (buffer->size() > MaxRequestBytes)
                socket->abort();
        });
        // The whole request is in once the sender closes its end.
        connect(socket, &QLocalSocket::disconnected, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            if (buffer->isEmpty() || buffer->size() > MaxRequestBytes)
                return;
            QStringList lines = QString::fromUtf8(*buffer).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            Q_EMIT requestReceived(lines);
        });
    }
}

bool InstanceChannel::send(const QString &name, const QString &directory, const QStringList &lines,
                           std::chrono::milliseconds timeout)
{
    QLocalSocket socket;
    socket.connectToServer(channelPath(name, directory));
    if (!socket.waitForConnected(int(timeout.count())))
        return false;
    QByteArray request;
    for (const QString &line : lines) {
        QString clean = line;
        clean.remove(QLatin1Char('\r'));
        clean.replace(QLatin1Char('\n'), QLatin1Char(' '));
        request += clean.toUtf8() + '\n';
    }
    socket.write(request);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(int(timeout.count())))
            return false;
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(int(timeout.count()));
    return true;
}
