#pragma once

#include <QString>

#include <memory>

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
