#pragma once

// The remote engine (component, remote operations, transfers) with scripted
// prompts, every reported text collected, and helpers over local trees.

#include "scriptedprompts.h"

#include "ftpclient/ftpcomponent.h"
#include "ftpclient/remoteops.h"
#include "ftpclient/transfers.h"
#include "platform/socketchannel.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <deque>
#include <map>

using namespace std::chrono_literals;

struct EngineRig {
    ScriptedPrompts prompts;
    FtpComponent ftp{std::make_shared<const SocketFactory>()};
    RemoteOps ops{RemoteOps::Services{&ftp, &prompts, nullptr, QStringLiteral("Corvane"), {}}};
    // The existing-file prompt answers from existAnswers and records what it showed.
    std::deque<ExistReply> existAnswers;
    QList<ExistRequest> existShown;
    qint64 clockMs = 0;
    Transfers transfers{Transfers::Services{&ftp, &ops, &prompts, nullptr, nullptr,
                                            [this](const ExistRequest &r) {
                                                existShown.append(r);
                                                if (existAnswers.empty())
                                                    return ExistReply{};
                                                const ExistReply a = existAnswers.front();
                                                existAnswers.pop_front();
                                                return a;
                                            },
                                            [this] { return clockMs; }}};
    QStringList statuses;
    QStringList messages;
    QList<bool> overlay;
    int pathShown = 0; // refreshes of the path box: one per RefreshRemoteList
    int localRelists = 0;

    EngineRig()
    {
        ftp.timing = FtpTiming{5000ms, 5000ms, 5000ms};
        QObject::connect(&ops, &RemoteOps::status, [this](const QString &t) { statuses.append(t); });
        QObject::connect(&ops, &RemoteOps::message, [this](const QString &t) { messages.append(t); });
        QObject::connect(&transfers, &Transfers::status, [this](const QString &t) { statuses.append(t); });
        QObject::connect(&transfers, &Transfers::message, [this](const QString &t) { messages.append(t); });
        QObject::connect(&ops, &RemoteOps::overlayVisible, [this](bool v) { overlay.append(v); });
        QObject::connect(&ops, &RemoteOps::remotePathShown, [this](const QString &) { ++pathShown; });
        QObject::connect(&transfers, &Transfers::localRelistRequested, [this] { ++localRelists; });
    }
    ~EngineRig()
    {
        if (ftp.currentState() != FtpComponent::NotConnected)
            ftp.disconnectFromServer();
        // The collecting lambdas use members destroyed before the senders.
        QObject::disconnect(&ops, nullptr, nullptr, nullptr);
        QObject::disconnect(&transfers, nullptr, nullptr, nullptr);
    }

    bool connectTo(quint16 port, const QString &user, const QString &password)
    {
        ftp.serverAddress = QStringLiteral("127.0.0.1");
        ftp.serverPort = port;
        ftp.userName = user;
        ftp.password = password;
        ftp.passiveMode = true;
        return ftp.connectToServer();
    }
    // Changes into folder and lists it into the pane.
    bool enter(const QString &folder) { return ops.EnterRemoteFolder(folder, true); }

    QStringList paneNames() const
    {
        QStringList names;
        for (const RemoteRow &r : ops.pane()->rows())
            names.append(r.name);
        names.sort();
        return names;
    }
    QList<int> rowsOf(const QStringList &names) const
    {
        QList<int> rows;
        const QList<RemoteRow> &all = ops.pane()->rows();
        for (int i = 0; i < all.size(); ++i)
            if (names.contains(all.at(i).name))
                rows.append(i);
        return rows;
    }
    QString lastStatus() const { return statuses.value(statuses.size() - 1); }
};

// Every file under root, by path relative to it, with its bytes; folders
// appear as "path/" with empty content.
inline std::map<QString, QByteArray> snapshot(const QString &root)
{
    std::map<QString, QByteArray> files;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    const QDir base(root);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString rel = base.relativeFilePath(info.filePath());
        if (info.isDir() && !info.isSymLink()) {
            files[rel + QLatin1Char('/')] = {};
        } else {
            QFile f(info.filePath());
            files[rel] = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
        }
    }
    return files;
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A row of the local pane: a file or folder of folder, shown as text.
inline LocalItem localRow(const QString &folder, const QString &name, bool isFolder, const QString &text = {})
{
    LocalItem item;
    item.name = name;
    item.path = QDir(folder).filePath(name);
    item.kind = isFolder ? LocalKind::Folder : LocalKind::File;
    item.text = text.isEmpty() ? name : text;
    return item;
}

// Bytes that no line-end conversion leaves alone.
inline QByteArray binaryBytes(int size, int seed)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 131 + seed * 17 + i / 7) & 0xff);
    return b;
}
