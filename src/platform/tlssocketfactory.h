#pragma once

#include "platform/socketchannel.h"

#include <QHash>
#include <QList>
#include <QSslCertificate>

class TrustStore;

// Hands out QSslSocket: plain TCP until startEncryption, then TLS with the
// peer name sent (SNI) and checked against the certificate. Certificates
// verify against the system's CA store plus the extra CAs given here; one
// that does not verify is accepted only when the trust store holds it for
// that host, and nothing turns checking off. A later connection to the same
// host and port resumes the TLS session of an earlier one.
class TlsSocketFactory final : public SocketFactory {
public:
    explicit TlsSocketFactory(std::shared_ptr<const TrustStore> trust = {});

    // Adds the CA certificates of a PEM file; false (and why) when it holds none.
    bool addCaFile(const QString &path, QString *error = nullptr);
    void addCaCertificates(const QList<QSslCertificate> &certificates);

    QAbstractSocket *createSocket(QObject *parent) const override;
    void startEncryption(QAbstractSocket *socket, const QString &peerName, Ready ready,
                         Failed failed) const override;
    // The same, resuming the TLS session stored under sessionKey instead of
    // "host:port" of this socket's peer, and storing this connection's
    // session there: an FTP data connection resumes its control
    // connection's session, as servers that insist on it require.
    void startEncryption(QAbstractSocket *socket, const QString &peerName, const QString &sessionKey,
                         Ready ready, Failed failed) const;
    // The key startEncryption uses for a connection to host and port.
    static QString sessionKeyFor(const QString &host, quint16 port);

    // Handshakes that started without a session to resume, and those that
    // offered one; for tests and diagnostics.
    int fullHandshakes() const { return m_fullHandshakes; }
    int resumedHandshakes() const { return m_resumed; }

    static PeerCertificate describe(const QSslCertificate &certificate);

private:
    std::shared_ptr<const TrustStore> m_trust;
    QList<QSslCertificate> m_extraCas;
    mutable QHash<QString, QByteArray> m_sessions; // "host:port" -> session ticket
    mutable int m_fullHandshakes = 0;
    mutable int m_resumed = 0;
};
