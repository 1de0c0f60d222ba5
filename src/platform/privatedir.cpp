#include "platform/privatedir.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

bool PreparePrivateDirectory(const QString &dir, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QByteArray path = QFile::encodeName(dir);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return fail(QStringLiteral("cannot create %1: %2").arg(dir, systemError()));
    // lstat, so a symbolic link planted in our place is seen as what it is.
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0)
        return fail(QStringLiteral("cannot examine %1: %2").arg(dir, systemError()));
    if (!S_ISDIR(info.st_mode))
        return fail(QStringLiteral("%1 is not a directory").arg(dir));
    if (info.st_uid != ::geteuid())
        return fail(QStringLiteral("%1 belongs to another user").arg(dir));
    if ((info.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0)
        return fail(QStringLiteral("cannot make %1 private: %2").arg(dir, systemError()));
    return true;
}
