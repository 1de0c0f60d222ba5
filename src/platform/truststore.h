#pragma once

#include <QByteArray>
#include <QString>

class RegistryStore;

// The certificates the user chose to trust although they did not verify:
// one entry per host and SHA-256 fingerprint, under a key of the settings
// store. A host whose certificate changes is not trusted for the new one.
class TrustStore {
public:
    // Entries live below `key` ("\Software\...\TrustedCertificates").
    TrustStore(RegistryStore &store, QString key);

    bool isTrusted(const QString &host, const QByteArray &sha256) const;
    // Remembers the certificate for host; false when the store refused.
    bool trust(const QString &host, const QByteArray &sha256);

private:
    QString hostKey(const QString &host) const;

    RegistryStore &m_store;
    QString m_key;
};
