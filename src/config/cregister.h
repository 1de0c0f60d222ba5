#pragma once

#include "platform/registrystore.h"

#include <QString>
#include <QStringList>

// The registry wrapper both programs use for their settings. Values are
// strings under a section (a key path); the value name "*" (and an empty
// name when saving) stands for the key's unnamed default value.
class CRegister {
public:
    enum Root { HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER };

    explicit CRegister(Registry &registry);

    // The stored text, or defaultValue when the section or the value is
    // missing or the value is empty.
    QString REGGetSetting(Root root, const QString &section, const QString &key, const QString &defaultValue) const;
    // True when the value was stored.
    bool REGSaveSetting(Root root, const QString &section, const QString &key, const QString &value);
    // With a key name, deletes that value; with an empty key name, deletes
    // the section key itself (and everything below it).
    bool REGDeleteSetting(Root root, const QString &section, const QString &key);
    // Names of the sub-keys of path, in enumeration order.
    QStringList GetAllKeys(Root root, const QString &path) const;

    // Strips one leading and one trailing separator.
    static QString sectionPath(const QString &section);

private:
    RegistryStore &store(Root root) const;
    static QString valueName(const QString &key);

    Registry &m_registry;
};

// The sections the two programs keep their settings in.
inline const QString TesselSection = QStringLiteral("\\Software\\QuorinCorvane\\DM4.0\\");
inline const QString CorvaneSection = QStringLiteral("\\Software\\VarnoCorvane\\FTP4.0\\");
