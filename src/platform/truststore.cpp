#include "platform/truststore.h"

#include "platform/registrystore.h"

TrustStore::TrustStore(RegistryStore &store, QString key)
    : m_store(store)
    , m_key(std::move(key))
{
    while (m_key.endsWith(QLatin1Char('\\')))
        m_key.chop(1);
}

QString TrustStore::hostKey(const QString &host) const
{
    // A host name is one key component: no separators, one case.
    QString name = host.trimmed().toLower();
    name.remove(QLatin1Char('\\'));
    return m_key + QLatin1Char('\\') + name;
}

bool TrustStore::isTrusted(const QString &host, const QByteArray &sha256) const
{
    if (host.trimmed().isEmpty() || sha256.isEmpty())
        return false;
    return m_store.value(hostKey(host), QString::fromLatin1(sha256.toHex())).has_value();
}

bool TrustStore::trust(const QString &host, const QByteArray &sha256)
{
    if (host.trimmed().isEmpty() || sha256.isEmpty())
        return false;
    return m_store.setValue(hostKey(host), QString::fromLatin1(sha256.toHex()), QStringLiteral("1"));
}
