#include "platform/registrystore.h"

#include "platform/programdir.h"
#include "platform/textfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>

#include <sys/stat.h>

namespace {

constexpr int FormatVersion = 1;

QString lowerName(const QString &name)
{
    return name.toLower();
}

} // namespace

RegistryStore::RegistryStore(QString filePath, ErrorSink errorSink)
    : m_path(std::move(filePath)), m_errorSink(std::move(errorSink))
{
}

QString RegistryStore::normalise(const QString &key)
{
    QStringList parts = key.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    return parts.join(QLatin1Char('\\'));
}

RegistryStore::FileStamp RegistryStore::stamp() const
{
    FileStamp s;
    struct stat st {};
    if (::stat(QFile::encodeName(m_path).constData(), &st) == 0) {
        s.exists = true;
        s.inode = st.st_ino;
        s.size = st.st_size;
        s.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    }
    return s;
}

void RegistryStore::addKeyPath(Tree &tree, const QString &path)
{
    // Creating a key creates every key above it, as a registry does.
    const QStringList parts = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    QString prefix;
    for (const QString &part : parts) {
        prefix = prefix.isEmpty() ? part : prefix + QLatin1Char('\\') + part;
        const QString id = lowerName(prefix);
        if (!tree.contains(id)) {
            Key key;
            key.name = prefix;
            tree.insert(id, key);
        }
    }
}

bool RegistryStore::parse(const QByteArray &data, Tree *tree) const
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject top = doc.object();
    if (!top.value(QLatin1String("keys")).isObject())
        return false;
    const QJsonObject keys = top.value(QLatin1String("keys")).toObject();
    Tree result;
    for (auto it = keys.begin(); it != keys.end(); ++it) {
        if (!it.value().isObject())
            return false;
        const QString path = normalise(it.key());
        if (path.isEmpty())
            continue;
        addKeyPath(result, path);
        Key &key = result[lowerName(path)];
        const QJsonObject values = it.value().toObject();
        for (auto v = values.begin(); v != values.end(); ++v) {
            if (!v.value().isString())
                return false;
            key.values.insert(lowerName(v.key()), {v.key(), v.value().toString()});
        }
    }
    *tree = result;
    return true;
}

QByteArray RegistryStore::serialise(const Tree &tree) const
{
    QJsonObject keys;
    for (const Key &key : tree) {
        QJsonObject values;
        for (const auto &[name, value] : key.values)
            values.insert(name, value);
        keys.insert(key.name, values);
    }
    QJsonObject top;
    top.insert(QLatin1String("format"), FormatVersion);
    top.insert(QLatin1String("keys"), keys);
    return QJsonDocument(top).toJson(QJsonDocument::Indented);
}

void RegistryStore::setAside(const QString &reason) const
{
    const QString aside = m_path + QStringLiteral(".corrupt-")
                          + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmsszzz"));
    const bool moved = QFile::rename(m_path, aside);
    if (m_errorSink) {
        m_errorSink(QStringLiteral("Settings store %1 could not be read (%2); %3. Defaults apply.")
                        .arg(m_path, reason,
                             moved ? QStringLiteral("it was set aside as ") + aside
                                   : QStringLiteral("it could not be set aside")));
    }
}

void RegistryStore::refresh() const
{
    const FileStamp now = stamp();
    if (m_loaded && now == m_stamp)
        return;
    m_loaded = true;
    m_stamp = now;
    m_tree.clear();
    if (!now.exists)
        return;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return; // unreadable: defaults apply, the file is left alone
    const QByteArray data = file.readAll();
    file.close();
    Tree tree;
    if (parse(data, &tree)) {
        m_tree = tree;
        return;
    }
    // Only one process may set the file aside; the lock also keeps a writer
    // from replacing it while it is being moved.
    QLockFile lock(m_path + QStringLiteral(".lock"));
    if (lock.tryLock(m_lockTimeoutMs)) {
        QFile again(m_path);
        if (again.open(QIODevice::ReadOnly)) {
            const QByteArray current = again.readAll();
            again.close();
            if (parse(current, &tree))
                m_tree = tree; // someone wrote a good file meanwhile
            else
                setAside(QStringLiteral("not a valid store file"));
        }
        lock.unlock();
    }
    m_stamp = stamp();
}

bool RegistryStore::modify(const std::function<bool(Tree &)> &change)
{
    const QString dir = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(dir))
        return false;
    QLockFile lock(m_path + QStringLiteral(".lock"));
    if (!lock.tryLock(m_lockTimeoutMs))
        return false;
    m_loaded = false;
    refresh(); // another process may have written since our last read
    Tree tree = m_tree;
    if (!change(tree))
        return false;
    const bool written = textfile::writeAtomically(m_path, serialise(tree), textfile::OwnerOnly);
    if (written) {
        m_tree = tree;
        m_stamp = stamp();
    }
    return written;
}

bool RegistryStore::keyExists(const QString &key) const
{
    refresh();
    return m_tree.contains(lowerName(normalise(key)));
}

std::optional<QString> RegistryStore::value(const QString &key, const QString &name) const
{
    refresh();
    const auto it = m_tree.constFind(lowerName(normalise(key)));
    if (it == m_tree.constEnd())
        return std::nullopt;
    const auto v = it->values.constFind(lowerName(name));
    if (v == it->values.constEnd())
        return std::nullopt;
    return v->second;
}

QStringList RegistryStore::valueNames(const QString &key) const
{
    refresh();
    QStringList names;
    const auto it = m_tree.constFind(lowerName(normalise(key)));
    if (it != m_tree.constEnd()) {
        for (const auto &[name, value] : it->values)
            names.append(name);
    }
    return names;
}

QStringList RegistryStore::subKeys(const QString &key) const
{
    refresh();
    const QString base = lowerName(normalise(key));
    const QString prefix = base.isEmpty() ? QString() : base + QLatin1Char('\\');
    QStringList names;
    for (auto it = m_tree.constBegin(); it != m_tree.constEnd(); ++it) {
        if (!it.key().startsWith(prefix) || it.key() == base)
            continue;
        const QString rest = it.key().mid(prefix.size());
        if (rest.contains(QLatin1Char('\\')))
            continue; // deeper than one level
        names.append(it->name.section(QLatin1Char('\\'), -1));
    }
    return names;
}

bool RegistryStore::createKey(const QString &key)
{
    const QString path = normalise(key);
    if (path.isEmpty())
        return false;
    return modify([&](Tree &tree) {
        addKeyPath(tree, path);
        return true;
    });
}

bool RegistryStore::setValue(const QString &key, const QString &name, const QString &value)
{
    const QString path = normalise(key);
    if (path.isEmpty())
        return false;
    return modify([&](Tree &tree) {
        addKeyPath(tree, path);
        Key &k = tree[lowerName(path)];
        const QString id = lowerName(name);
        const auto existing = k.values.constFind(id);
        const QString stored = existing == k.values.constEnd() ? name : existing->first;
        k.values.insert(id, {stored, value});
        return true;
    });
}

bool RegistryStore::deleteValue(const QString &key, const QString &name)
{
    const QString path = lowerName(normalise(key));
    return modify([&](Tree &tree) {
        auto it = tree.find(path);
        if (it == tree.end())
            return false;
        return it->values.remove(lowerName(name)) > 0;
    });
}

bool RegistryStore::deleteKey(const QString &key)
{
    const QString path = lowerName(normalise(key));
    if (path.isEmpty())
        return false;
    return modify([&](Tree &tree) {
        if (!tree.contains(path))
            return false;
        const QString prefix = path + QLatin1Char('\\');
        for (auto it = tree.begin(); it != tree.end();) {
            if (it.key() == path || it.key().startsWith(prefix))
                it = tree.erase(it);
            else
                ++it;
        }
        return true;
    });
}

Registry::Registry(QString directory, RegistryStore::ErrorSink errorSink)
    : m_directory(std::move(directory)),
      m_localMachine(joinPath(m_directory, QStringLiteral("HKEY_LOCAL_MACHINE.json")), errorSink),
      m_currentUser(joinPath(m_directory, QStringLiteral("HKEY_CURRENT_USER.json")), errorSink)
{
}

QString Registry::defaultDirectory()
{
    const QByteArray overridden = qgetenv(OverrideVariable);
    if (!overridden.isEmpty())
        return QFile::decodeName(overridden);
    QString configHome = QFile::decodeName(qgetenv("XDG_CONFIG_HOME"));
    if (configHome.isEmpty())
        configHome = joinPath(QDir::homePath(), QStringLiteral(".config"));
    return joinPath(configHome, QStringLiteral("tessel-suite"));
}

RegistryStore &Registry::root(RegistryRoot root)
{
    return root == RegistryRoot::LocalMachine ? m_localMachine : m_currentUser;
}
