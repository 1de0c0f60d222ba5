#pragma once

#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include <sys/types.h>

// A tree of keys holding named string values, persisted in one file: the
// stand-in for one root of a system registry.
//
// Key paths use "\" between components; components and value names are
// compared without regard to case and stored as first written. The empty
// value name is the key's default value.
//
// Several processes share the file. Every read notices a newer file written
// by another process; every write re-reads the file, applies its change and
// replaces the file atomically while holding an inter-process lock, so two
// writers never lose each other's values. A file that cannot be parsed is set
// aside (renamed) and reported through the error sink; the store then starts
// empty. The file is readable by its owner only.
class RegistryStore {
public:
    using ErrorSink = std::function<void(const QString &message)>;

    explicit RegistryStore(QString filePath, ErrorSink errorSink = {});

    QString filePath() const { return m_path; }

    bool keyExists(const QString &key) const;
    std::optional<QString> value(const QString &key, const QString &name) const;
    QStringList valueNames(const QString &key) const;
    QStringList subKeys(const QString &key) const;

    bool createKey(const QString &key);
    bool setValue(const QString &key, const QString &name, const QString &value);
    bool deleteValue(const QString &key, const QString &name);
    // Deletes the key with everything below it.
    bool deleteKey(const QString &key);

    // How long a writer waits for another process to release the lock.
    void setLockTimeout(int milliseconds) { m_lockTimeoutMs = milliseconds; }

private:
    struct Key {
        QString name;                              // path as first written
        QMap<QString, std::pair<QString, QString>> values; // lower-case name -> (name, value)
    };
    using Tree = QMap<QString, Key>; // lower-case normalised path -> key

    struct FileStamp {
        bool exists = false;
        ino_t inode = 0;
        qint64 size = -1;
        qint64 mtimeNs = 0;
        bool operator==(const FileStamp &) const = default;
    };

    static QString normalise(const QString &key);
    FileStamp stamp() const;
    void refresh() const;
    bool parse(const QByteArray &data, Tree *tree) const;
    QByteArray serialise(const Tree &tree) const;
    bool modify(const std::function<bool(Tree &)> &change);
    void setAside(const QString &reason) const;
    static void addKeyPath(Tree &tree, const QString &path);

    QString m_path;
    ErrorSink m_errorSink;
    int m_lockTimeoutMs = 10000;
    mutable Tree m_tree;
    mutable FileStamp m_stamp;
    mutable bool m_loaded = false;
};

// The roots of the registry, each kept in a file of its own in one directory.
enum class RegistryRoot { LocalMachine, CurrentUser };

class Registry {
public:
    explicit Registry(QString directory, RegistryStore::ErrorSink errorSink = {});

    // The per-user configuration directory; SUITE_CONFIG_DIR overrides it.
    static QString defaultDirectory();
    static constexpr const char *OverrideVariable = "SUITE_CONFIG_DIR";

    QString directory() const { return m_directory; }
    RegistryStore &root(RegistryRoot root);

private:
    QString m_directory;
    RegistryStore m_localMachine;
    RegistryStore m_currentUser;
};
