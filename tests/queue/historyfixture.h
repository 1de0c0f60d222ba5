#pragma once

#include "config/cregister.h"
#include "download/downloadlist.h"
#include "platform/registrystore.h"
#include "queue/historystore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

using Rows = QList<QStringList>;

// Two lists, a registry and a program directory in a temporary directory,
// with a history store wired to them and a fixed "today".
struct HistoryFixture {
    QTemporaryDir dir;
    Registry registry{dir.filePath(QStringLiteral("config"))};
    CRegister reg{registry};
    DownloadListModel mainList;
    DownloadListModel completeList;
    QDate today{2026, 12, 6};
    QString language = QStringLiteral("English.ini");
    QStringList statusLines;
    std::unique_ptr<HistoryStore> store;

    HistoryFixture()
    {
        QDir().mkpath(programDir());
        HistoryStore::Services s;
        s.mainList = &mainList;
        s.completeList = &completeList;
        s.programDir = programDir();
        s.reg = &reg;
        s.appTitle = QStringLiteral("Tessel");
        s.languageFile = [this] { return language; };
        s.today = [this] { return today; };
        s.status = [this](const QString &line) { statusLines.append(line); };
        store = std::make_unique<HistoryStore>(s);
    }

    QString programDir() const { return dir.filePath(QStringLiteral("program")); }
    QString historyPath() const { return programDir() + QStringLiteral("/History.ini"); }

    QByteArray fileBytes() const
    {
        QFile f(historyPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void writeBytes(const QByteArray &bytes) const
    {
        QFile f(historyPath());
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(bytes);
    }

    static void fill(DownloadListModel &model, const Rows &rows, int icon)
    {
        model.clear();
        for (const QStringList &row : rows)
            model.addRow(row, icon);
    }
    static Rows rowsOf(const DownloadListModel &model)
    {
        Rows rows;
        for (int i = 0; i < model.count(); ++i)
            rows.append(model.values(model.idAt(i)));
        return rows;
    }
};
