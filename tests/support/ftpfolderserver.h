#pragma once

#include "fakeserver.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <functional>
#include <map>

// A scripted FTP server over one flat folder "/data" whose LIST gives times
// to the minute and which offers no FEAT, MLSD or MDTM, as small servers do.
// Files stored by a client take the current minute. Every command is
// recorded as received. HELP, SYST and NOOP get their usual positive
// replies, NLST the names; anything else is "502".
class FtpFolderServer {
public:
    FtpFolderServer()
    {
        control.setTerminator("\r\n");
        control.setGreeting(FakePlan().send("220 Minute server\r\n"));
        control.setResponder([this](FakeConnection &c, const QByteArray &r) { return answer(c, r.trimmed()); });
        QObject::connect(&data, &FakeServer::newConnection, &data, [this](FakeConnection *c) {
            if (m_onData) {
                auto use = std::move(m_onData);
                m_onData = nullptr;
                use(c);
            } else {
                m_fresh = c;
            }
        });
    }

    struct File {
        QByteArray bytes;
        QDateTime modified;
    };
    FakeServer control;
    FakeServer data;
    std::map<QString, File> files;
    QByteArrayList commands;

    void put(const QString &name, const QByteArray &bytes, const QDateTime &modified) { files[name] = {bytes, modified}; }
    int count(const QByteArray &verb) const
    {
        int n = 0;
        for (const QByteArray &c : commands)
            n += c.startsWith(verb + ' ') || c == verb;
        return n;
    }

private:
    void withData(std::function<void(FakeConnection *)> use)
    {
        if (m_fresh) {
            FakeConnection *c = m_fresh;
            m_fresh = nullptr;
            use(c);
        } else {
            m_onData = std::move(use);
        }
    }

    QByteArray listing() const
    {
        QByteArray out;
        for (const auto &[name, f] : files) {
            const QString date = QLocale::c().toString(f.modified.toUTC(), QStringLiteral("MMM dd hh:mm"));
            out += "-rw-r--r--   1 ftp      ftp      " + QByteArray::number(f.bytes.size()).rightJustified(8, ' ') + ' '
                   + date.toLatin1() + ' ' + name.toUtf8() + "\r\n";
        }
        return out;
    }

    FakePlan answer(FakeConnection &controlConnection, const QByteArray &command)
    {
        commands.append(command);
        const QByteArray verb = command.split(' ').value(0).toUpper();
        const QString arg = QString::fromUtf8(command.mid(verb.size()).trimmed());
        FakePlan plan;
        if (verb == "USER")
            return plan.send("331 Password required\r\n");
        if (verb == "PASS")
            return plan.send("230 Logged in\r\n");
        if (verb == "TYPE")
            return plan.send("200 Type set\r\n");
        if (verb == "PWD")
            return plan.send("257 \"" + m_cwd + "\" is the current directory\r\n");
        if (verb == "CWD") {
            if (arg != QLatin1String("/data") && arg != QLatin1String("data") && arg != QLatin1String("/"))
                return plan.send("550 No such folder\r\n");
            m_cwd = arg == QLatin1String("/") ? "/" : "/data";
            return plan.send("250 Directory changed\r\n");
        }
        if (verb == "EPSV")
            return plan.send("229 Entering Extended Passive Mode (|||" + QByteArray::number(data.port()) + "|)\r\n");
        if (verb == "LIST") {
            const QByteArray body = m_cwd == "/data" ? listing() : QByteArray();
            withData([body](FakeConnection *c) { c->run(FakePlan().send(body).close()); });
            return plan.send("150 Here comes the listing\r\n").wait(30).send("226 Done\r\n");
        }
        if (verb == "RETR") {
            const auto it = files.find(arg);
            if (it == files.end())
                return plan.send("550 No such file\r\n");
            const QByteArray body = it->second.bytes;
            withData([body](FakeConnection *c) { c->run(FakePlan().send(body).close()); });
            return plan.send("150 Opening data connection\r\n").wait(30).send("226 Transfer complete\r\n");
        }
        if (verb == "STOR") {
            FakeConnection *ctl = &controlConnection;
            withData([this, ctl, arg](FakeConnection *c) {
                const auto store = [this, ctl, c, arg] {
                    const QDateTime now = QDateTime::currentDateTimeUtc();
                    put(arg, c->received(), QDateTime(now.date(), QTime(now.time().hour(), now.time().minute()), Qt::UTC));
                    ctl->run(FakePlan().send("226 Transfer complete\r\n"));
                };
                if (!c->isOpen())
                    store();
                else
                    QObject::connect(c, &FakeConnection::finished, c, store);
            });
            return plan.send("150 Ok to send data\r\n");
        }
        if (verb == "NLST") {
            QByteArray body;
            if (m_cwd == "/data")
                for (const auto &entry : files)
                    body += entry.first.toUtf8() + "\r\n";
            withData([body](FakeConnection *c) { c->run(FakePlan().send(body).close()); });
            return plan.send("150 Here comes the list\r\n").wait(30).send("226 Done\r\n");
        }
        if (verb == "HELP")
            return plan.send("214-The following commands are recognized.\r\n USER PASS CWD LIST\r\n214 Help OK.\r\n");
        if (verb == "SYST")
            return plan.send("215 UNIX Type: L8\r\n");
        if (verb == "NOOP")
            return plan.send("200 NOOP ok.\r\n");
        if (verb == "QUIT")
            return plan.send("221 Bye\r\n").close();
        return plan.send("502 Not implemented\r\n");
    }

    QByteArray m_cwd = "/";
    FakeConnection *m_fresh = nullptr;
    std::function<void(FakeConnection *)> m_onData;
};
