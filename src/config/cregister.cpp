#include "config/cregister.h"

CRegister::CRegister(Registry &registry) : m_registry(registry) {}

QString CRegister::sectionPath(const QString &section)
{
    QString path = section;
    if (path.startsWith(QLatin1Char('\\')))
        path.remove(0, 1);
    if (path.endsWith(QLatin1Char('\\')))
        path.chop(1);
    return path;
}

QString CRegister::valueName(const QString &key)
{
    return key == QLatin1String("*") ? QString() : key;
}

RegistryStore &CRegister::store(Root root) const
{
    return m_registry.root(root == HKEY_LOCAL_MACHINE ? RegistryRoot::LocalMachine : RegistryRoot::CurrentUser);
}

QString CRegister::REGGetSetting(Root root, const QString &section, const QString &key,
                                 const QString &defaultValue) const
{
    const auto value = store(root).value(sectionPath(section), valueName(key));
    if (!value || value->isEmpty())
        return defaultValue;
    return *value;
}

bool CRegister::REGSaveSetting(Root root, const QString &section, const QString &key, const QString &value)
{
    return store(root).setValue(sectionPath(section), valueName(key), value);
}

bool CRegister::REGDeleteSetting(Root root, const QString &section, const QString &key)
{
    if (key.isEmpty())
        return store(root).deleteKey(sectionPath(section));
    return store(root).deleteValue(sectionPath(section), valueName(key));
}

QStringList CRegister::GetAllKeys(Root root, const QString &path) const
{
    QStringList names = store(root).subKeys(sectionPath(path));
    for (QString &name : names) {
        const qsizetype nul = name.indexOf(QChar(0));
        if (nul >= 0)
            name.truncate(nul);
        name.truncate(255);
    }
    return names;
}
