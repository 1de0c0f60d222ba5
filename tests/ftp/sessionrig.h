#pragma once

// Runs FTP session operations to their end from a test: each helper waits
// (bounded) for the finished signal and hands back the result.

#include "ftp/ftpsession.h"

#include <QByteArray>
#include <QEventLoop>
#include <QTimer>
#include <QStringList>
#include <QTest>

#include <memory>

struct Outcome {
    bool finished = false;
    int finishCount = 0;
    FtpResult result;
};

// Watches an operation; the returned outcome fills in when it finishes.
inline std::shared_ptr<Outcome> watch(FtpOperation *op)
{
    auto outcome = std::make_shared<Outcome>();
    QObject::connect(op, &FtpOperation::finished, [outcome](const FtpResult &r) {
        outcome->finished = true;
        ++outcome->finishCount;
        outcome->result = r;
    });
    return outcome;
}

// Waits for the operation's end; a result of FtpFailure::None with code -1
// when it did not finish within ms.
inline FtpResult finish(FtpOperation *op, int ms = 15000)
{
    const auto outcome = watch(op);
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(op, &FtpOperation::finished, &loop, &QEventLoop::quit);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(ms);
    if (!outcome->finished)
        loop.exec();
    if (!outcome->finished) {
        FtpResult stuck;
        stuck.code = -1;
        stuck.text = QStringLiteral("the operation did not finish");
        return stuck;
    }
    return outcome->result;
}

// Every log line of a session, collected.
struct SessionLog {
    explicit SessionLog(FtpSession &session)
    {
        QObject::connect(&session, &FtpSession::logLine, [this](const QString &line) { lines << line; });
    }
    bool contains(const QString &text) const { return lines.join(QLatin1Char('\n')).contains(text); }
    QStringList lines;
};

inline FtpConnectSettings plainSettings(const QString &host, quint16 port, bool passive = true)
{
    FtpConnectSettings s;
    s.host = host;
    s.port = port;
    s.passive = passive;
    s.timing.connect = std::chrono::milliseconds(10000);
    s.timing.reply = std::chrono::milliseconds(10000);
    s.timing.dataIdle = std::chrono::milliseconds(10000);
    return s;
}
