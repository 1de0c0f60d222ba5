#pragma once

#include "config/cregister.h"
#include "config/settingsmodel.h"
#include "config/settingsrecord.h"
#include "platform/autostart.h"
#include "platform/registrystore.h"

#include <QTemporaryDir>

#include <memory>

// A registry, program directory and autostart folder in a temporary
// directory, with a settings record and a model wired to them.
struct ConfigFixture {
    QTemporaryDir dir;
    Registry registry{dir.filePath(QStringLiteral("config"))};
    CRegister reg{registry};
    Autostart autostart{dir.filePath(QStringLiteral("autostart"))};
    SettingsRecord record;
    QList<bool> captureCalls;
    QStringList savedKeys; // every key a model wrote, in order

    QString programDir() const { return dir.filePath(QStringLiteral("program")); }
    QString programPath() const { return programDir() + QStringLiteral("/tessel"); }

    std::unique_ptr<SettingsModel> makeModel()
    {
        QDir().mkpath(programDir());
        SettingsModel::Environment env;
        env.record = &record;
        env.reg = &reg;
        env.autostart = &autostart;
        env.programDir = programDir();
        env.appTitle = QStringLiteral("Tessel");
        env.programPath = programPath();
        env.applyBrowserCapture = [this](bool on) { captureCalls.append(on); };
        env.savedKey = [this](const QString &key) { savedKeys.append(key); };
        return std::make_unique<SettingsModel>(env);
    }

    void put(const char *key, const QString &value)
    {
        reg.REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QLatin1String(key), value);
    }
    QString stored(const char *key) const
    {
        return reg.REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QLatin1String(key),
                                 QStringLiteral("<missing>"));
    }
};
