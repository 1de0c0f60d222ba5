#pragma once

#include "fakeserver.h"
#include "httpfileserver.h"

#include <QHostAddress>

#include <functional>

// A scripted FTP server for one file (bytes from HttpFileServer::pattern),
// answering the commands of a download and serving the data actively (it
// connects to the PORT address) or passively (a second server listens).
class FtpFileServer {
public:
    explicit FtpFileServer(qint64 size) : m_size(size)
    {
        control.setTerminator("\r\n");
        control.setGreeting(FakePlan().send(banner));
        control.setResponder([this](FakeConnection &c, const QByteArray &request) { return answer(c, request); });
    }

    QString url(const QString &path = QStringLiteral("/pub/file.bin")) const
    {
        return QStringLiteral("ftp://127.0.0.1:%1%2").arg(control.port()).arg(path);
    }
    void setBanner(const QByteArray &text) { control.setGreeting(FakePlan().send(text)); }

    FakeServer control;
    FakeServer passiveData;
    QByteArray banner = "220 Test server ready\r\n";
    QByteArray passiveHost = "127,0,0,1"; // what the 227 reply names
    bool sizeInReply = true;               // "150 ... (N bytes)"
    qint64 stopDataAfter = -1;             // the first transfer ends after this many bytes
    QByteArray replyAfterShortData = "226 Transfer complete\r\n"; // or a 426
    int pieceDelayMs = 0;                  // pace of the data
    qint64 replyPieceSize = 0;             // replies in pieces of this many bytes (0: whole)
    qint64 pieceSize = 0;
    // Answers a command before the logic below; return true when handled.
    std::function<bool(const QByteArray &command, FakePlan &plan)> override;

    QByteArrayList commands; // every command, without its line end
    int transfers = 0;

private:
    // A reply, whole or a byte at a time (replyPieceSize).
    FakePlan &say(FakePlan &plan, const QByteArray &reply) const
    {
        return replyPieceSize > 0 ? plan.sendInPieces(reply, replyPieceSize, 1) : plan.send(reply);
    }

    FakePlan answer(FakeConnection &, const QByteArray &request)
    {
        const QByteArray command = request.trimmed();
        commands.append(command);
        FakePlan plan;
        if (override && override(command, plan))
            return plan;
        const QByteArray verb = command.split(' ').value(0).toUpper();
        const QByteArray arg = command.mid(verb.size()).trimmed();
        if (verb == "USER")
            return say(plan, "331 Password required\r\n");
        if (verb == "PASS")
            return say(plan, "230 Logged in\r\n");
        if (verb == "TYPE")
            return say(plan, "200 Type set to I\r\n");
        if (verb == "PORT") {
            m_active = FakeServer::parseFtpHostPort(arg);
            return say(plan, "200 PORT command successful\r\n");
        }
        if (verb == "PASV") {
            m_active.reset();
            const quint16 p = passiveData.port();
            return say(plan, "227 Entering Passive Mode (" + passiveHost + "," + QByteArray::number(p / 256) + ","
                             + QByteArray::number(p % 256) + ")\r\n");
        }
        if (verb == "REST") {
            m_offset = arg.toLongLong();
            return say(plan, "350 Restarting at " + arg + "\r\n");
        }
        if (verb == "RETR") {
            ++transfers;
            const qint64 count = m_size - m_offset;
            qint64 send = count;
            bool shortened = false;
            if (stopDataAfter >= 0 && transfers == 1) {
                send = std::min(count, stopDataAfter);
                shortened = true;
            }
            QByteArray reply = "150 Opening BINARY mode data connection for file.bin";
            if (sizeInReply)
                reply += " (" + QByteArray::number(m_size) + " bytes)";
            say(plan, reply + "\r\n");
            FakePlan data;
            const QByteArray body = HttpFileServer::bytes(m_offset, send);
            if (pieceSize > 0)
                data.sendInPieces(body, pieceSize, pieceDelayMs);
            else
                data.send(body);
            data.close();
            if (m_active) {
                plan.call([this, data] { control.connectOut(m_active->first.toString(), m_active->second, data); });
            } else {
                // The client connected right after the 227; by now it is accepted.
                plan.call([this, data] {
                    if (FakeConnection *c = passiveData.connection(passiveData.connectionCount() - 1))
                        c->run(data);
                });
            }
            plan.wait(50);
            return say(plan, shortened ? replyAfterShortData : QByteArray("226 Transfer complete\r\n"));
        }
        if (verb == "SIZE")
            return say(plan, "213 " + QByteArray::number(m_size) + "\r\n");
        if (verb == "QUIT")
            return say(plan, "221 Bye\r\n").close();
        return say(plan, "502 Command not implemented\r\n");
    }

    qint64 m_size;
    qint64 m_offset = 0;
    std::optional<std::pair<QHostAddress, quint16>> m_active;
};
