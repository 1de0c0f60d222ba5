#pragma once

#include "platform/socketchannel.h"

#include <QString>
#include <QStringList>

// The question put to the user when a server's certificate did not verify:
// the host, each reason, subject, issuer, validity and SHA-256 fingerprint,
// ending in whether to trust it for that host. Both programs ask with it.
QString certificateQuestionText(const QString &host, const QStringList &errors, const PeerCertificate &certificate);
