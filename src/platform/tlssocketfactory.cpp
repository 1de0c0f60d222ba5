#include "platform/tlssocketfactory.h"

#include "platform/truststore.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSslConfiguration>
#include <QSslSocket>

#include <memory>

namespace {

QString nameOf(const QSslCertificate &certificate, bool issuer)
{
    const QStringList parts = issuer ? certificate.issuerDisplayName().split(QLatin1Char('\n'))
                                     : certificate.subjectDisplayName().split(QLatin1Char('\n'));
    QString text = parts.join(QStringLiteral(", "));
    const QStringList org = issuer ? certificate.issuerInfo(QSslCertificate::Organization)
                                   : certificate.subjectInfo(QSslCertificate::Organization);
    if (!org.isEmpty() && !text.contains(org.first()))
        text += QStringLiteral(" (") + org.first() + QLatin1Char(')');
    return text;
}

} // namespace

TlsSocketFactory::TlsSocketFactory(std::shared_ptr<const TrustStore> trust)
    : m_trust(std::move(trust))
{
}

bool TlsSocketFactory::addCaFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QList<QSslCertificate> found = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
    if (found.isEmpty()) {
        if (error)
            *error = QStringLiteral("no PEM certificate in the file");
        return false;
    }
    addCaCertificates(found);
    return true;
}

void TlsSocketFactory::addCaCertificates(const QList<QSslCertificate> &certificates)
{
    m_extraCas += certificates;
}

QAbstractSocket *TlsSocketFactory::createSocket(QObject *parent) const
{
    return new QSslSocket(parent);
}

PeerCertificate TlsSocketFactory::describe(const QSslCertificate &certificate)
{
    PeerCertificate peer;
    if (certificate.isNull())
        return peer;
    peer.subject = nameOf(certificate, false);
    peer.issuer = nameOf(certificate, true);
    peer.effective = certificate.effectiveDate();
    peer.expires = certificate.expiryDate();
    peer.sha256 = certificate.digest(QCryptographicHash::Sha256);
    peer.pem = certificate.toPem();
    return peer;
}

QString TlsSocketFactory::sessionKeyFor(const QString &host, quint16 port)
{
    return host.toLower() + QLatin1Char(':') + QString::number(port);
}

void TlsSocketFactory::startEncryption(QAbstractSocket *socket, const QString &peerName, Ready ready,
                                       Failed failed) const
{
    startEncryption(socket, peerName, sessionKeyFor(peerName, socket->peerPort()), std::move(ready),
                    std::move(failed));
}

void TlsSocketFactory::startEncryption(QAbstractSocket *socket, const QString &peerName,
                                       const QString &sessionKey, Ready ready, Failed failed) const
{
    auto *ssl = qobject_cast<QSslSocket *>(socket);
    if (!ssl) {
        SocketFactory::startEncryption(socket, peerName, std::move(ready), std::move(failed));
        return;
    }

    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    if (!m_extraCas.isEmpty())
        config.addCaCertificates(m_extraCas);
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    config.setSslOption(QSsl::SslOptionDisableSessionPersistence, false);
    config.setSslOption(QSsl::SslOptionDisableSessionTickets, false);
    const QByteArray ticket = m_sessions.value(sessionKey);
    if (ticket.isEmpty()) {
        ++m_fullHandshakes;
    } else {
        config.setSessionTicket(ticket);
        ++m_resumed;
    }
    ssl->setSslConfiguration(config);
    ssl->setPeerVerifyName(peerName);

    // The reasons found while verifying; the handshake fails after them
    // unless the user's trust store holds exactly this certificate.
    auto failure = std::make_shared<TlsFailure>();
    failure->host = peerName;
    auto done = std::make_shared<bool>(false);
    auto fail = [failure, done, failed](const QString &fallback) {
        if (*done)
            return;
        *done = true;
        if (failure->errors.isEmpty())
            failure->errors << fallback;
        failed(*failure);
    };

    QObject::connect(ssl, &QSslSocket::sslErrors, ssl, [this, ssl, failure](const QList<QSslError> &errors) {
        const QSslCertificate presented = ssl->peerCertificate();
        failure->certificate = true;
        failure->peer = describe(presented);
        failure->errors.clear();
        for (const QSslError &error : errors)
            failure->errors << error.errorString();
        if (m_trust && !presented.isNull() && m_trust->isTrusted(failure->host, failure->peer.sha256)) {
            // Only this certificate, for this host: what the user accepted.
            ssl->ignoreSslErrors(errors);
        }
    });
    auto remember = [this, ssl, sessionKey] {
        const QByteArray session = ssl->sslConfiguration().sessionTicket();
        if (!session.isEmpty())
            m_sessions.insert(sessionKey, session);
    };
    QObject::connect(ssl, &QSslSocket::newSessionTicketReceived, ssl, remember);
    QObject::connect(ssl, &QSslSocket::encrypted, ssl, [remember, done, ready] {
        remember();
        if (*done)
            return;
        *done = true;
        ready();
    });
    QObject::connect(ssl, &QAbstractSocket::errorOccurred, ssl, [ssl, fail](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::SslHandshakeFailedError)
            fail(ssl->errorString());
    });
    QObject::connect(ssl, &QAbstractSocket::disconnected, ssl, [ssl, fail] {
        if (!ssl->isEncrypted())
            fail(QStringLiteral("The server closed the connection during the TLS handshake"));
    });
    ssl->startClientEncryption();
}
