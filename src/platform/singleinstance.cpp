#include "platform/singleinstance.h"

#include "platform/programdir.h"

#include <QDir>
#include <QFile>
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
    return joinPath(QDir::tempPath(), QStringLiteral("tessel-suite-%1").arg(::getuid()));
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
