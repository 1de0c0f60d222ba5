#pragma once

// Helpers the FTP protocol and FTP job tests share: expected statuses and
// the verbs of the commands a server received.
#include "download/transferjob.h"

#include <QByteArrayList>

inline TransferStatus caption(const char *id, const char *text, const QString &prefix = {})
{
    TransferStatus status = TransferStatus::caption(QString::fromLatin1(id), QString::fromLatin1(text));
    status.prefix = prefix;
    return status;
}

// "User <name> can not log in.": both captions looked up, the name between.
inline TransferStatus refusedLogin(const QString &user)
{
    TransferStatus status = caption("11045", "can not log in.", user + QLatin1Char(' '));
    status.prefixCaptionId = QStringLiteral("11047");
    status.prefixDefault = QStringLiteral("User ");
    return status;
}

inline QByteArrayList verbs(const QByteArrayList &commands)
{
    QByteArrayList out;
    for (const QByteArray &c : commands)
        out.append(c.split(' ').value(0));
    return out;
}
