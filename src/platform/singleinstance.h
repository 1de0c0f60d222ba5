#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>

class QLocalServer;
class QLockFile;

// Tells whether another instance of a program is running for this user.
// The lock is a file that records the owner's process id; a lock left behind
// by a process that no longer runs (a crash, a kill) is taken over.
class SingleInstance {
public:
    // name: the program's name; directory: where the lock lives (the user's
    // runtime directory by default).
    explicit SingleInstance(QString name, QString directory = defaultDirectory());
    ~SingleInstance();

    static QString defaultDirectory();

    // True when this process now holds the lock (it is the only instance).
    bool tryAcquire();
    bool isHeld() const;
    void release();

    QString lockPath() const { return m_path; }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};

// The channel between a running instance and a later start of the same
// program: the running one listens on a local socket beside its lock; a
// later start that finds the lock taken sends its request (for example "show"
// and URLs) and ends. Requests are short lines of text.
class InstanceChannel : public QObject {
    Q_OBJECT

public:
    // name and directory as for SingleInstance.
    InstanceChannel(const QString &name, const QString &directory, QObject *parent = nullptr);
    ~InstanceChannel() override;

    // The running instance starts listening; a socket left by a crashed
    // instance is replaced (the caller holds the lock). False on failure.
    bool listen();

    // A later start hands lines to the running instance. Waits at most
    // timeout for the connection and the write; false when nobody listens.
    static bool send(const QString &name, const QString &directory, const QStringList &lines,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

    QString socketPath() const { return m_path; }

Q_SIGNALS:
    // A later start asked for something: its lines, in order.
    void requestReceived(const QStringList &lines);

private:
    void accept();

    QString m_path;
    QLocalServer *m_server = nullptr;
};
