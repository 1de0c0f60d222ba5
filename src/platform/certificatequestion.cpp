#include "platform/certificatequestion.h"

QString certificateQuestionText(const QString &host, const QStringList &errors, const PeerCertificate &certificate)
{
    const QString when = QStringLiteral("yyyy-MM-dd HH:mm 'UTC'");
    // The fingerprint in two lines of 16 bytes, so the box never breaks
    // it at a random place.
    QString print = certificate.fingerprintText();
    if (print.size() > 48)
        print[47] = QLatin1Char('\n');
    return QStringLiteral("The certificate of %1 could not be verified:\n%2\n\n"
                          "Subject: %3\nIssuer: %4\nValid from: %5\nValid until: %6\n"
                          "SHA-256 fingerprint:\n%7\n\nTrust this certificate for %1?")
        .arg(host, errors.join(QLatin1Char('\n')), certificate.subject, certificate.issuer,
             certificate.effective.toUTC().toString(when), certificate.expires.toUTC().toString(when), print);
}
