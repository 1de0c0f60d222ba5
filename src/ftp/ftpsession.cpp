#include "ftp/ftpsession.h"

#include "ftp/asciicodec.h"
#include "ftp/ftpreply.h"
#include "platform/streamclose.h"
#include "platform/tlssocketfactory.h"

#include <QIODevice>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cctype>
#include <deque>
#include <functional>

namespace {

// Bytes read from a sending source at a time, and the most that waits in the
// data socket before the next read.
constexpr qint64 SendChunk = 256 * 1024;
constexpr qint64 SendBacklog = 1024 * 1024;

enum class OpKind { Connect, Quit, Simple, Rename, Type, List, Retrieve, Store, Raw };

// The session's own operation: the owner sees only FtpOperation.
class Operation final : public FtpOperation {
public:
    explicit Operation(OpKind kind, QObject *parent) : FtpOperation(parent), kind(kind) {}

    FtpResult &out() { return m_result; }
    void finish(FtpResult result)
    {
        if (m_finished)
            return;
        m_finished = true;
        m_result = std::move(result);
        deleteLater();
        Q_EMIT finished(m_result);
    }
    void report(qint64 done, qint64 total) { Q_EMIT progress(done, total); }

    OpKind kind;
    QByteArray verb;   // Simple: the command
    QString argument;  // Simple, List, Retrieve, Store: the path; Raw: the line
    QString argument2; // Rename: the new name
    FtpTransferType type = FtpTransferType::Binary;
    FtpSession::ListKind listKind = FtpSession::ListKind::List;
    qint64 offset = 0;
    bool append = false;
    QPointer<QIODevice> device;
    FtpConnectSettings settings; // Connect
};

// The text of a reply without its codes and line ends, lines joined by a
// line feed.
QString replyText(const FtpReply &reply)
{
    QStringList lines;
    const QList<QByteArray> raw = reply.text.split('\n');
    for (QByteArray line : raw) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        if (line.size() >= 4 && line.left(3) == QByteArray::number(reply.code) && (line[3] == ' ' || line[3] == '-'))
            line = line.mid(4);
        else if (line.size() == 3 && line == QByteArray::number(reply.code))
            line.clear();
        lines << QString::fromUtf8(line);
    }
    return lines.join(QLatin1Char('\n')).trimmed();
}

FtpResult refused(const FtpReply &reply)
{
    FtpResult r;
    r.failure = FtpFailure::Refused;
    r.code = reply.code;
    r.text = replyText(reply);
    return r;
}

FtpResult failure(FtpFailure kind, const QString &text, int code = 0)
{
    FtpResult r;
    r.failure = kind;
    r.code = code;
    r.text = text;
    return r;
}

FtpResult success(const FtpReply &reply)
{
    FtpResult r;
    r.code = reply.code;
    r.text = replyText(reply);
    return r;
}

// "257 "/a ""quoted"" name" created": the path between the first quote and
// its closing quote, "" standing for one quote.
std::optional<QString> quotedPath(const QString &text)
{
    const qsizetype open = text.indexOf(QLatin1Char('"'));
    if (open < 0)
        return std::nullopt;
    QString path;
    for (qsizetype i = open + 1; i < text.size(); ++i) {
        if (text[i] != QLatin1Char('"')) {
            path += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
            path += QLatin1Char('"');
            ++i;
            continue;
        }
        return path;
    }
    return std::nullopt;
}

// "213 20240131123456[.123]": the time in UTC.
QDateTime parseMdtm(const QString &text)
{
    const QString stamp = text.trimmed().section(QLatin1Char(' '), -1);
    QDateTime t = QDateTime::fromString(stamp.left(14), QStringLiteral("yyyyMMddHHmmss"));
    if (!t.isValid())
        return {};
    t.setTimeSpec(Qt::UTC);
    const qsizetype dot = stamp.indexOf(QLatin1Char('.'));
    if (dot == 14) {
        const QString fraction = (stamp.mid(15) + QStringLiteral("000")).left(3);
        bool ok = false;
        const int ms = fraction.toInt(&ok);
        if (ok)
            t = t.addMSecs(ms);
    }
    return t;
}

// Lines of a FEAT reply, one feature each, in upper case without the code.
FtpFeatures parseFeatures(const FtpReply &reply)
{
    FtpFeatures f;
    for (QByteArray line : reply.text.split('\n')) {
        line = line.trimmed().toUpper();
        if (line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])))
            continue; // the first and last lines
        const QByteArray name = line.split(' ').value(0);
        if (name == "MLSD" || name == "MLST")
            f.mlsd = true;
        else if (name == "SIZE")
            f.size = true;
        else if (name == "MDTM")
            f.mdtm = true;
        else if (name == "EPSV")
            f.epsv = true;
        else if (name == "UTF8")
            f.utf8 = true;
        else if (name == "REST" && line.contains("STREAM"))
            f.restStream = true;
    }
    return f;
}

bool hasLineEnd(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

// A listener that hands its connections over by descriptor, so the socket
// factory can adopt them (as a TLS-capable socket when asked).
class DataListener final : public QTcpServer {
public:
    std::function<void(qintptr)> incoming;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (incoming)
            incoming(descriptor);
    }
};

} // namespace

class FtpSession::Private {
public:
    using Handler = std::function<void(const FtpReply &)>;

    // One transfer on the data connection.
    struct Transfer {
        bool upload = false;
        bool ascii = false;
        QPointer<QIODevice> device; // nullptr: a listing into the result
        AsciiDecoder decoder;
        AsciiEncoder encoder;
        qint64 done = 0;
        qint64 total = -1;
        bool commandSent = false;
        bool dataStarted = false;
        bool dataReady = false;  // connected (and encrypted when it should be)
        bool dataClosed = false;
        bool finalReply = false;
        bool preliminary = false; // the 1xx came: the server reads the data connection now
        bool sourceEnded = false;
        FtpReply reply;
    };

    explicit Private(FtpSession *session) : q(session)
    {
        replyTimer.setSingleShot(true);
        connectTimer.setSingleShot(true);
        idleTimer.setSingleShot(true);
        QObject::connect(&replyTimer, &QTimer::timeout, q, [this] {
            lose(failure(FtpFailure::Timeout, QStringLiteral("The server did not answer in time")));
        });
        QObject::connect(&connectTimer, &QTimer::timeout, q, [this] {
            lose(failure(FtpFailure::Timeout, QStringLiteral("The connection to the server timed out")));
        });
        QObject::connect(&idleTimer, &QTimer::timeout, q, [this] {
            abortCurrent(failure(FtpFailure::Timeout, QStringLiteral("The data connection stalled")));
        });
    }

    FtpSession *q;
    State state = State::Disconnected;
    FtpConnectSettings settings;
    std::shared_ptr<const SocketFactory> factory;
    FtpFeatures features;
    QPointer<QAbstractSocket> control;
    QPointer<SocksConnector> controlProxy;
    bool controlTunnelling = false; // the proxy's handshake owns the bytes
    bool dataTunnelling = false;
    bool controlHandshake = false; // the TLS handshake reports its own end
    bool dataHandshake = false;
    FtpReplyReader reader;
    QHostAddress peer;

    std::deque<QPointer<Operation>> queue;
    QPointer<Operation> current;
    Handler onReply;        // waits for the reply to the command sent last
    bool wantsPreliminary = false; // onReply hears 1xx replies too (transfers)
    // Commands written whose final reply is still to come. An operation that
    // ends early (aborted, failed) leaves them owed: they are read and
    // dropped before the next operation sends anything, so no reply is ever
    // paired with a later command.
    int unanswered = 0;
    bool startScheduled = false;

    QTimer replyTimer;
    QTimer connectTimer;
    QTimer idleTimer;

    bool epsvRefused = false;
    bool bindRefused = false; // the proxy cannot BIND: active mode goes passive
    bool protectData = false; // PROT P in force
    std::optional<FtpTransferType> type;
    std::function<void(const std::optional<QString> &)> accountAnswer;
    std::function<void(const std::optional<QString> &)> passwordAnswer;

    std::unique_ptr<Transfer> transfer;
    QPointer<QAbstractSocket> data;
    QPointer<DataListener> listener;
    QPointer<SocksConnector> dataProxy;

    // --- state and queue ---

    void setState(State s)
    {
        if (state == s)
            return;
        state = s;
        Q_EMIT q->stateChanged(s);
    }

    bool connected() const { return control && state != State::Disconnected; }

    Operation *enqueue(Operation *op)
    {
        queue.push_back(op);
        scheduleNext();
        return op;
    }

    void scheduleNext()
    {
        if (startScheduled)
            return;
        startScheduled = true;
        QTimer::singleShot(0, q, [this] {
            startScheduled = false;
            startNext();
        });
    }

    void startNext()
    {
        QPointer<FtpSession> alive(q); // a finished handler may delete the session
        while (alive && !current && unanswered == 0 && !queue.empty()) {
            QPointer<Operation> op = queue.front();
            queue.pop_front();
            if (!op || op->isFinished())
                continue;
            if (op->kind == OpKind::Connect) {
                if (state != State::Disconnected) {
                    op->finish(failure(FtpFailure::Protocol, QStringLiteral("The session is already connected")));
                    continue;
                }
            } else if (!connected() || state == State::Connecting || state == State::LoggingIn) {
                op->finish(failure(FtpFailure::NotConnected, QStringLiteral("Not connected")));
                continue;
            }
            current = op;
            run(op);
        }
    }

    // The running operation ends; the next one starts from the event loop.
    void complete(FtpResult result)
    {
        QPointer<Operation> op = current;
        current = nullptr;
        onReply = nullptr;
        waitForOwedReplies();
        closeData();
        transfer.reset();
        if (connected() && (state == State::Busy || state == State::LoggingIn || state == State::Connecting))
            setState(State::Idle);
        scheduleNext();
        if (op)
            op->finish(std::move(result));
    }

    // A socket this session is done with: no more of its events reach the
    // session, and it closes from the event loop (a TLS socket may be inside
    // one of its own signals now and must not be torn down under itself).
    void discard(QAbstractSocket *socket)
    {
        socket->disconnect(q);
        QTimer::singleShot(0, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
    }

    // --- the control connection ---

    void log(const QString &text) { Q_EMIT q->logLine(text); }

    // Sends one command of the running operation. The log line goes out
    // first; an owner that aborts on seeing it has ended the operation, and
    // then the command is not sent at all.
    void send(const QByteArray &line, Handler handler, const QString &shown = {})
    {
        const QPointer<Operation> op = current;
        if (!control || !op)
            return;
        QPointer<FtpSession> alive(q);
        log(shown.isEmpty() ? QString::fromUtf8(line).trimmed() : shown);
        if (!alive || !control || current != op)
            return;
        control->write(line);
        ++unanswered;
        onReply = std::move(handler);
        wantsPreliminary = false;
        replyTimer.start(settings.timing.reply);
    }

    void command(QByteArrayView verb, const QString &argument, Handler handler)
    {
        send(ftpCommand(verb, argument), std::move(handler));
    }

    void onControlData()
    {
        if (!control || controlTunnelling)
            return; // the proxy's handshake reads its own replies
        QPointer<FtpSession> alive(q);
        const QList<FtpReply> replies = reader.feed(control->readAll());
        for (const FtpReply &reply : replies) {
            for (const QByteArray &line : reply.text.split('\n')) {
                const QByteArray shown = line.endsWith('\r') ? line.chopped(1) : line;
                if (!shown.isEmpty())
                    log(QString::fromUtf8(shown));
            }
            if (!alive || !control)
                return;
            Q_EMIT q->replyReceived(reply);
            if (!alive || !control)
                return;
            if (reply.code == 421) {
                lose(failure(FtpFailure::Connection, replyText(reply), reply.code));
                return;
            }
            dispatch(reply);
            if (!alive || !control)
                return;
        }
        if (reader.failed())
            lose(failure(FtpFailure::Protocol, QStringLiteral("The server sent a reply too long to be one")));
    }

    void dispatch(const FtpReply &reply)
    {
        const bool final = reply.code >= 200;
        if (final && unanswered > 0)
            --unanswered;
        if (!onReply && !current && state != State::Disconnected) {
            // The rest of an exchange that ended early: consumed, never
            // paired with a later command.
            waitForOwedReplies();
            if (unanswered == 0)
                scheduleNext();
            return;
        }
        if (!onReply)
            return; // unasked: shown in the log, nothing else
        if (!final && !wantsPreliminary) {
            replyTimer.start(settings.timing.reply); // the final reply is still to come
            return;
        }
        Handler handler = onReply;
        if (final) {
            onReply = nullptr;
            replyTimer.stop();
        } else {
            replyTimer.start(settings.timing.reply);
        }
        handler(reply);
    }

    // The control connection is gone (421, dropped, time-out, close()):
    // everything running or queued finishes with why.
    void lose(FtpResult why, FtpFailure opFailure = FtpFailure::None)
    {
        if (state == State::Disconnected && !control && !current)
            return;
        connectTimer.stop();
        replyTimer.stop();
        idleTimer.stop();
        closeData();
        controlTunnelling = false;
        controlHandshake = false;
        onReply = nullptr;
        unanswered = 0;
        accountAnswer = nullptr;
        passwordAnswer = nullptr;
        if (controlProxy)
            controlProxy->deleteLater();
        if (control)
            discard(control);
        control = nullptr;
        type.reset();
        protectData = false;

        FtpResult opResult = why;
        if (opFailure != FtpFailure::None)
            opResult.failure = opFailure;
        else if (opResult.failure == FtpFailure::None)
            opResult.failure = FtpFailure::Connection;

        QPointer<FtpSession> alive(q);
        setState(State::Disconnected);
        Q_EMIT q->disconnected(why);
        if (!alive)
            return;
        QPointer<Operation> op = current;
        current = nullptr;
        transfer.reset();
        if (op)
            op->finish(opResult);
        if (!alive)
            return;
        auto dropped = std::move(queue);
        queue.clear();
        std::deque<QPointer<Operation>> reconnects; // a new session may start after this one
        for (const QPointer<Operation> &next : dropped) {
            if (next && next->kind == OpKind::Connect)
                reconnects.push_back(next);
            else if (next)
                next->finish(failure(FtpFailure::NotConnected, QStringLiteral("Not connected")));
        }
        if (!alive)
            return;
        for (const QPointer<Operation> &next : reconnects)
            queue.push_back(next);
        if (!queue.empty())
            scheduleNext();
    }

    // Starts TLS on a connected socket; the name checked is the host the
    // user named, the session resumed is the control connection's.
    void encrypt(QAbstractSocket *socket, std::function<void()> ready,
                 std::function<void(const TlsFailure &)> failed)
    {
        QPointer<QAbstractSocket> guard(socket);
        const bool isControl = socket == control;
        if (isControl)
            controlHandshake = true;
        auto onReady = [this, guard, ready, isControl] {
            if (isControl && guard == control)
                controlHandshake = false;
            if (guard)
                ready();
        };
        auto onFailed = [this, guard, failed, isControl](const TlsFailure &f) {
            if (isControl && guard == control)
                controlHandshake = false;
            if (guard)
                failed(f);
        };
        if (const auto *tls = dynamic_cast<const TlsSocketFactory *>(factory.get()))
            tls->startEncryption(socket, settings.host, TlsSocketFactory::sessionKeyFor(settings.host, settings.port),
                                 onReady, onFailed);
        else
            factory->startEncryption(socket, settings.host, onReady, onFailed);
    }

    static FtpResult tlsResult(const TlsFailure &f)
    {
        FtpResult r = failure(FtpFailure::Tls, f.errors.join(QStringLiteral("; ")));
        r.tls = f;
        return r;
    }

    // --- operations ---

    void run(Operation *op)
    {
        if (op->kind != OpKind::Connect)
            setState(State::Busy);
        switch (op->kind) {
        case OpKind::Connect:
            settings = op->settings;
            return startConnect();
        case OpKind::Quit:
            return command("QUIT", {}, [this](const FtpReply &reply) {
                FtpResult r = success(reply);
                setState(State::Closing);
                QPointer<FtpSession> alive(q);
                complete(r);
                if (alive)
                    lose(r);
            });
        case OpKind::Simple:
            return runSimple(op);
        case OpKind::Rename:
            return command("RNFR", op->argument, [this, op](const FtpReply &reply) {
                if (reply.code < 300 || reply.code >= 400)
                    return complete(reply.code >= 400 ? refused(reply) : unexpected(reply));
                command("RNTO", op->argument2, finalOk([this](const FtpReply &r) { complete(success(r)); }));
            });
        case OpKind::Type:
            if (type == op->type)
                return complete(FtpResult{});
            return sendType(op->type, [this](const FtpReply &r) { complete(success(r)); });
        case OpKind::Raw:
            if (hasLineEnd(op->argument))
                return complete(failure(FtpFailure::Protocol, QStringLiteral("A command cannot hold a line end")));
            return send(op->argument.toUtf8() + "\r\n", [this](const FtpReply &reply) {
                if (reply.code < 200)
                    return;
                complete(reply.code >= 400 ? refused(reply) : success(reply));
            }, shownCommand(op->argument));
        case OpKind::List:
        case OpKind::Retrieve:
        case OpKind::Store:
            return startTransfer(op);
        }
    }

    // What the log shows of a raw command: never a password.
    static QString shownCommand(const QString &line)
    {
        const QString verb = line.trimmed().section(QLatin1Char(' '), 0, 0).toUpper();
        if (verb == QLatin1String("PASS") || verb == QLatin1String("ACCT"))
            return verb + QStringLiteral(" ****");
        return line;
    }

    static FtpResult unexpected(const FtpReply &reply)
    {
        FtpResult r = failure(FtpFailure::Protocol, QStringLiteral("Unexpected reply: ") + replyText(reply), reply.code);
        return r;
    }

    // A handler for commands whose answer is one 2xx: 1xx waits, 2xx goes
    // on, 3xx makes no sense, 4xx/5xx refused.
    Handler finalOk(Handler next)
    {
        return [this, next](const FtpReply &reply) {
            if (reply.code < 200)
                return;
            if (reply.code >= 400)
                return complete(refused(reply));
            if (reply.code >= 300)
                return complete(unexpected(reply));
            next(reply);
        };
    }

    void runSimple(Operation *op)
    {
        const QByteArray verb = op->verb;
        command(verb, op->argument, finalOk([this, verb](const FtpReply &reply) {
                    FtpResult r = success(reply);
                    if (verb == "PWD") {
                        const std::optional<QString> path = quotedPath(r.text);
                        if (!path)
                            return complete(unexpected(reply));
                        r.path = *path;
                    } else if (verb == "SIZE") {
                        const std::optional<qint64> size = parse213Size(reply.text);
                        if (!size)
                            return complete(unexpected(reply));
                        r.size = *size;
                    } else if (verb == "MDTM") {
                        r.modified = parseMdtm(r.text);
                        if (!r.modified.isValid())
                            return complete(unexpected(reply));
                    }
                    complete(r);
                }));
    }

    void sendType(FtpTransferType t, std::function<void(const FtpReply &)> next)
    {
        send(t == FtpTransferType::Ascii ? QByteArray("TYPE A\r\n") : QByteArray("TYPE I\r\n"),
             finalOk([this, t, next](const FtpReply &reply) {
                 type = t;
                 next(reply);
             }));
    }

    // --- connect and log in ---

    void startConnect()
    {
        setState(State::Connecting);
        features = FtpFeatures{};
        epsvRefused = false;
        bindRefused = false;
        protectData = false;
        type.reset();
        reader.reset();
        unanswered = 0;
        factory = settings.sockets ? settings.sockets : std::make_shared<const SocketFactory>();
        if (settings.host.isEmpty() || settings.port == 0) {
            setState(State::Disconnected);
            return complete(failure(FtpFailure::Connection, QStringLiteral("No server to connect to")));
        }

        QAbstractSocket *socket = factory->createSocketFor(q, settings.security != FtpSecurity::Plain);
        control = socket;
        QObject::connect(socket, &QIODevice::readyRead, q, [this] { onControlData(); });
        QObject::connect(socket, &QAbstractSocket::disconnected, q, [this] {
            if (controlHandshake)
                return;
            FtpResult why = failure(FtpFailure::Connection, QStringLiteral("The server closed the connection"));
            if (current && current->kind == OpKind::Quit) {
                why = FtpResult{};
                why.text = QStringLiteral("Disconnected");
                setState(State::Closing);
                QPointer<FtpSession> alive(q);
                complete(why);
                if (!alive)
                    return;
            }
            lose(why);
        });
        QObject::connect(socket, &QAbstractSocket::errorOccurred, q, [this, socket](QAbstractSocket::SocketError e) {
            if (socket != control || controlHandshake || e == QAbstractSocket::SslHandshakeFailedError)
                return; // a handshake failure is reported by encrypt()
            lose(failure(FtpFailure::Connection, socket->errorString()));
        });
        connectTimer.start(settings.timing.connect);
        onReply = [this](const FtpReply &reply) { greeting(reply); };

        const bool proxied = settings.proxy.type != ProxySettings::Type::None;
        const QString host = proxied ? settings.proxy.host : settings.host;
        const quint16 port = proxied ? settings.proxy.port : settings.port;
        log(proxied ? QStringLiteral("Connecting to %1:%2 through the proxy %3:%4")
                          .arg(settings.host).arg(settings.port).arg(host).arg(port)
                    : QStringLiteral("Connecting to %1:%2").arg(host).arg(port));
        factory->startConnection(socket, host, port, [this, socket, proxied] {
            if (socket != control)
                return;
            if (!proxied)
                return controlReady();
            auto *socks = new SocksConnector(socket, settings.proxy, q);
            controlProxy = socks;
            controlTunnelling = true;
            QObject::connect(socks, &SocksConnector::ready, q, [this, socks] {
                socks->deleteLater();
                controlTunnelling = false;
                controlReady();
            });
            QObject::connect(socks, &SocksConnector::failed, q, [this, socks](const QString &reason) {
                socks->deleteLater();
                controlTunnelling = false;
                failConnect(failure(FtpFailure::Connection, QStringLiteral("Proxy: ") + reason));
            });
            socks->connectTo(settings.host, settings.port);
        });
    }

    void controlReady()
    {
        if (!control)
            return;
        peer = control->peerAddress();
        QPointer<FtpSession> alive(q);
        Q_EMIT q->controlConnected();
        if (!alive || !control)
            return;
        if (settings.security == FtpSecurity::ImplicitTls) {
            encrypt(control, [this] { onControlData(); }, [this](const TlsFailure &f) { failConnect(tlsResult(f)); });
            return;
        }
        if (control->bytesAvailable() > 0)
            onControlData(); // the greeting came right behind the proxy's reply
    }

    void failConnect(FtpResult why) { lose(why, why.failure); }

    // A failure during the login: the session closes with it.
    void loginFailed(FtpResult why) { lose(why, why.failure); }

    void greeting(const FtpReply &reply)
    {
        if (reply.code < 200) {
            onReply = [this](const FtpReply &r) { greeting(r); };
            return;
        }
        if (reply.code != 220)
            return loginFailed(refused(reply));
        connectTimer.stop();
        setState(State::LoggingIn);
        if (settings.security == FtpSecurity::ExplicitTls)
            return authTls("TLS");
        user();
    }

    void authTls(const QByteArray &mechanism)
    {
        send("AUTH " + mechanism + "\r\n", [this, mechanism](const FtpReply &reply) {
            if (reply.code == 234 || reply.code == 334) {
                reader.reset();
                encrypt(control, [this] { user(); }, [this](const TlsFailure &f) { loginFailed(tlsResult(f)); });
                return;
            }
            if (reply.code == 504 && mechanism == "TLS")
                return authTls("SSL");
            loginFailed(refused(reply));
        });
    }

    void user()
    {
        const QString name = settings.user.isEmpty() ? QStringLiteral("anonymous") : settings.user;
        command("USER", name, [this](const FtpReply &reply) {
            if (reply.code == 230 || reply.code == 202)
                return loggedIn();
            if (reply.code == 331)
                return password(settings.password);
            if (reply.code == 332)
                return account(reply);
            loginFailed(refused(reply));
        });
    }

    void password(const QString &secret)
    {
        send(ftpCommand("PASS", secret), [this](const FtpReply &reply) {
            if (reply.code == 230 || reply.code == 202)
                return loggedIn();
            if (reply.code == 332)
                return account(reply);
            if (reply.code == 530) {
                passwordAnswer = [this, reply](const std::optional<QString> &answer) {
                    if (!answer)
                        return loginFailed(refused(reply));
                    settings.password = *answer;
                    user();
                };
                Q_EMIT q->passwordRejected();
                return;
            }
            loginFailed(refused(reply));
        }, QStringLiteral("PASS ****"));
    }

    void account(const FtpReply &asked)
    {
        accountAnswer = [this, asked](const std::optional<QString> &answer) {
            if (!answer)
                return loginFailed(refused(asked));
            send(ftpCommand("ACCT", *answer), [this](const FtpReply &reply) {
                if (reply.code == 230 || reply.code == 202)
                    return loggedIn();
                loginFailed(refused(reply));
            }, QStringLiteral("ACCT ****"));
        };
        Q_EMIT q->accountRequired();
    }

    void loggedIn()
    {
        if (settings.security == FtpSecurity::Plain)
            return settings.readFeatures ? readFeatures() : loginDone();
        send("PBSZ 0\r\n", [this](const FtpReply &reply) {
            if (reply.code >= 300)
                return loginFailed(refused(reply));
            send("PROT P\r\n", [this](const FtpReply &r) {
                if (r.code >= 300)
                    return loginFailed(refused(r));
                protectData = true;
                if (!settings.readFeatures)
                    return loginDone();
                readFeatures();
            });
        });
    }

    void readFeatures()
    {
        send("FEAT\r\n", [this](const FtpReply &reply) {
            if (reply.code < 200)
                return;
            if (reply.code < 300)
                features = parseFeatures(reply);
            if (!features.utf8)
                return loginDone();
            features.utf8 = false;
            send("OPTS UTF8 ON\r\n", [this](const FtpReply &r) {
                if (r.code < 200)
                    return;
                features.utf8 = r.code < 300;
                loginDone();
            });
        });
    }

    void loginDone()
    {
        FtpResult r;
        r.code = 230;
        r.text = QStringLiteral("Logged in");
        setState(State::Idle);
        complete(r);
    }

    // --- transfers ---

    void startTransfer(Operation *op)
    {
        transfer = std::make_unique<Transfer>();
        transfer->upload = op->kind == OpKind::Store;
        transfer->ascii = op->kind != OpKind::List && op->type == FtpTransferType::Ascii;
        transfer->device = op->device;
        if (op->kind != OpKind::List) {
            if (!op->device || !op->device->isOpen()) {
                return complete(failure(FtpFailure::Local, QStringLiteral("No open file for the transfer")));
            }
            if (transfer->upload && !op->device->isSequential())
                transfer->total = op->device->size() - op->device->pos();
            if (transfer->upload && op->device->isSequential())
                QObject::connect(op->device, &QIODevice::readyRead, op, [this] { pumpUpload(); });
            const FtpTransferType wanted = op->type;
            if (type != wanted && !settings.typeAfterDataSetup)
                return sendType(wanted, [this](const FtpReply &) { openData(); });
        }
        openData();
    }

    void openData()
    {
        const bool proxied = settings.proxy.type != ProxySettings::Type::None;
        if (!settings.passive && !proxied)
            return listenForData();
        if (!settings.passive && !bindRefused)
            return bindThroughProxy();
        if (!epsvRefused && (settings.extendedPassive || peer.protocol() == QAbstractSocket::IPv6Protocol)) {
            send("EPSV\r\n", [this](const FtpReply &reply) {
                if (reply.code < 200)
                    return;
                if (reply.code >= 400) {
                    epsvRefused = true;
                    return sendPasv();
                }
                passiveReply(reply);
            });
            return;
        }
        sendPasv();
    }

    void sendPasv()
    {
        send("PASV\r\n", finalOk([this](const FtpReply &reply) { passiveReply(reply); }));
    }

    void passiveReply(const FtpReply &reply)
    {
        const std::optional<FtpPassiveTarget> target = parse227(reply.text);
        if (!target || target->port == 0)
            return complete(failure(FtpFailure::Protocol,
                                    QStringLiteral("The server's passive reply names no usable port: ")
                                        + replyText(reply),
                                    reply.code));
        if (!target->host.isEmpty() && QHostAddress(target->host) != peer
            && settings.proxy.type == ProxySettings::Type::None)
            log(QStringLiteral("The server named %1 for the data connection; connecting to %2 instead")
                    .arg(target->host, peer.toString()));
        connectData(target->port);
    }

    void adoptDataSocket(QAbstractSocket *socket)
    {
        data = socket;
        QObject::connect(socket, &QIODevice::readyRead, q, [this, socket] {
            if (socket == data)
                readData();
        });
        QObject::connect(socket, &QIODevice::bytesWritten, q, [this, socket] {
            if (socket == data) {
                idleTimer.start(settings.timing.dataIdle);
                pumpUpload();
            }
        });
        // While the proxy's or the TLS handshake runs, it reports how it ended.
        QObject::connect(socket, &QAbstractSocket::disconnected, q, [this, socket] {
            if (socket == data && !dataTunnelling && !dataHandshake)
                dataEnded();
        });
        QObject::connect(socket, &QAbstractSocket::errorOccurred, q, [this, socket](QAbstractSocket::SocketError e) {
            if (socket != data || !transfer || dataTunnelling || dataHandshake)
                return;
            if (e == QAbstractSocket::RemoteHostClosedError)
                return dataEnded();
            if (e == QAbstractSocket::SslHandshakeFailedError)
                return;
            FtpResult why = failure(FtpFailure::Connection, QStringLiteral("Data connection: ") + socket->errorString());
            why.socketError = int(e);
            abortCurrent(why);
        });
    }

    void connectData(quint16 port)
    {
        const bool proxied = settings.proxy.type != ProxySettings::Type::None;
        QAbstractSocket *socket = factory->createSocketFor(q, protectData);
        adoptDataSocket(socket);
        idleTimer.start(settings.timing.dataIdle);
        const QString host = proxied ? settings.proxy.host : peer.toString();
        const quint16 to = proxied ? settings.proxy.port : port;
        factory->startConnection(socket, host, to, [this, socket, proxied, port] {
            if (socket != data || !transfer)
                return;
            if (!proxied)
                return sendTransferCommand();
            auto *socks = new SocksConnector(socket, settings.proxy, q);
            dataProxy = socks;
            dataTunnelling = true;
            QObject::connect(socks, &SocksConnector::ready, q, [this, socks] {
                socks->deleteLater();
                dataTunnelling = false;
                sendTransferCommand();
            });
            QObject::connect(socks, &SocksConnector::failed, q, [this, socks](const QString &reason) {
                socks->deleteLater();
                dataTunnelling = false;
                abortCurrent(failure(FtpFailure::Connection, QStringLiteral("Proxy: ") + reason));
            });
            socks->connectTo(settings.host, port);
        });
    }

    void listenForData()
    {
        bool isV4 = false;
        const quint32 v4 = control->localAddress().toIPv4Address(&isV4);
        const QHostAddress local = isV4 ? QHostAddress(v4) : control->localAddress();
        auto *server = new DataListener;
        server->setParent(q);
        listener = server;
        if (!server->listen(local, 0)) {
            return complete(failure(FtpFailure::Local,
                                    QStringLiteral("Cannot listen for the data connection: ") + server->errorString()));
        }
        server->incoming = [this, server](qintptr descriptor) { incomingData(server, descriptor); };
        send(portCommand(local, server->serverPort()), finalOk([this](const FtpReply &) { sendTransferCommand(); }));
    }

    // Active mode through the proxy: it listens for the server (BIND) and
    // PORT names where. A proxy that cannot BIND makes the session go
    // passive, and says so.
    void bindThroughProxy()
    {
        QAbstractSocket *socket = factory->createSocketFor(q, protectData);
        adoptDataSocket(socket);
        dataTunnelling = true;
        idleTimer.start(settings.timing.dataIdle);
        factory->startConnection(socket, settings.proxy.host, settings.proxy.port, [this, socket] {
            if (socket != data || !transfer)
                return;
            auto *socks = new SocksConnector(socket, settings.proxy, q);
            dataProxy = socks;
            auto portSent = std::make_shared<bool>(false);
            QObject::connect(socks, &SocksConnector::bound, q,
                             [this, socket, portSent](const QHostAddress &address, quint16 port) {
                                 if (socket != data)
                                     return;
                                 *portSent = true;
                                 send(portCommand(address, port),
                                      finalOk([this](const FtpReply &) { sendTransferCommand(); }));
                             });
            QObject::connect(socks, &SocksConnector::ready, q, [this, socks, socket] {
                socks->deleteLater();
                if (socket != data || !transfer)
                    return;
                dataTunnelling = false;
                dataConnected();
                if (data && data->bytesAvailable() > 0)
                    readData();
            });
            QObject::connect(socks, &SocksConnector::failed, q, [this, socks, socket, portSent](const QString &reason) {
                socks->deleteLater();
                if (socket != data || !transfer)
                    return;
                dataTunnelling = false;
                if (*portSent)
                    return (void)abortCurrent(failure(FtpFailure::Connection, QStringLiteral("Proxy: ") + reason));
                log(QStringLiteral("The proxy cannot take the server's data connection (%1); using passive mode")
                        .arg(reason));
                bindRefused = true;
                closeData();
                openData();
            });
            const QHostAddress server(settings.host);
            socks->bindFor(server.isNull() ? peer : server, 0);
        });
    }

    // "PORT h1,h2,h3,h4,p1,p2" for IPv4 (also IPv4-mapped), "EPRT |2|addr|port|"
    // for IPv6.
    static QByteArray portCommand(const QHostAddress &address, quint16 port)
    {
        bool isV4 = false;
        const quint32 v4 = address.toIPv4Address(&isV4);
        if (isV4)
            return "PORT " + QByteArray::number((v4 >> 24) & 0xff) + ',' + QByteArray::number((v4 >> 16) & 0xff) + ','
                   + QByteArray::number((v4 >> 8) & 0xff) + ',' + QByteArray::number(v4 & 0xff) + ','
                   + QByteArray::number(port >> 8) + ',' + QByteArray::number(port & 0xff) + "\r\n";
        QHostAddress plain = address;
        plain.setScopeId(QString());
        return "EPRT |2|" + plain.toString().toLatin1() + '|' + QByteArray::number(port) + "|\r\n";
    }

    void incomingData(DataListener *server, qintptr descriptor)
    {
        if (server != listener || !transfer || data) {
            QTcpSocket refuse;
            refuse.setSocketDescriptor(descriptor);
            refuse.abort();
            return;
        }
        QAbstractSocket *socket = factory->createSocketFor(q, protectData);
        if (!factory->adoptConnection(socket, descriptor, [] {})) {
            delete socket;
            QTcpSocket refuse;
            refuse.setSocketDescriptor(descriptor);
            refuse.abort();
            return;
        }
        if (!socket->peerAddress().isEqual(peer, QHostAddress::TolerantConversion)) {
            log(QStringLiteral("Refused a data connection from %1: not the server").arg(socket->peerAddress().toString()));
            socket->abort();
            socket->deleteLater();
            return;
        }
        listener->close();
        listener->deleteLater();
        listener = nullptr;
        adoptDataSocket(socket);
        idleTimer.start(settings.timing.dataIdle);
        dataConnected();
    }

    void sendTransferCommand()
    {
        Operation *op = current;
        if (!op || !transfer)
            return;
        if (op->kind != OpKind::List && settings.typeAfterDataSetup && type != op->type)
            return sendType(op->type, [this](const FtpReply &) { sendTransferCommand(); });
        const bool rest = op->offset > 0 || (settings.restAtZero && op->kind == OpKind::Retrieve);
        if (op->kind != OpKind::List && rest && !op->append) {
            send("REST " + QByteArray::number(op->offset) + "\r\n", [this, atZero = op->offset == 0](const FtpReply &reply) {
                if (reply.code < 200)
                    return;
                if (atZero && reply.code >= 400)
                    return sendTransferVerb(); // nothing to skip: the whole file comes anyway
                if (reply.code != 350)
                    return complete(reply.code >= 400 ? refused(reply) : unexpected(reply));
                sendTransferVerb();
            });
            return;
        }
        sendTransferVerb();
    }

    void sendTransferVerb()
    {
        Operation *op = current;
        QByteArray verb;
        switch (op->kind) {
        case OpKind::List:
            verb = op->listKind == ListKind::Mlsd ? "MLSD" : op->listKind == ListKind::Nlst ? "NLST" : "LIST";
            break;
        case OpKind::Retrieve:
            verb = "RETR";
            break;
        default:
            verb = op->append ? "APPE" : "STOR";
            break;
        }
        transfer->commandSent = true;
        command(verb, op->argument, [this](const FtpReply &reply) { transferReply(reply); });
        wantsPreliminary = true;
        idleTimer.start(settings.timing.dataIdle);
        if (data && !dataTunnelling)
            dataConnected(); // passive: connected before the command
    }

    // The data connection carries bytes: encrypt it first when the data
    // channel is protected.
    void dataConnected()
    {
        if (!transfer || transfer->dataStarted)
            return;
        transfer->dataStarted = true;
        if (!protectData) {
            transfer->dataReady = true;
            return afterDataReady();
        }
        QAbstractSocket *socket = data;
        dataHandshake = true;
        encrypt(socket,
                [this, socket] {
                    if (socket != data || !transfer)
                        return;
                    dataHandshake = false;
                    transfer->dataReady = true;
                    afterDataReady();
                    if (transfer && !transfer->upload && data && data->state() != QAbstractSocket::ConnectedState)
                        dataEnded(); // closed while the handshake ended
                },
                [this, socket](const TlsFailure &f) {
                    if (socket != data)
                        return;
                    dataHandshake = false;
                    abortCurrent(tlsResult(f));
                });
    }

    void afterDataReady()
    {
        if (transfer->upload)
            pumpUpload();
        else if (data && data->bytesAvailable() > 0)
            readData();
    }

    void transferReply(const FtpReply &reply)
    {
        if (!transfer)
            return;
        if (reply.code < 200) {
            // The transfer runs: the data connection's idle time governs now.
            replyTimer.stop();
            transfer->preliminary = true;
            if (transfer->upload) {
                // Some servers take a data connection before the command and
                // lose what came on it before: the data goes out only now.
                pumpUpload();
                return;
            }
            Operation *op = current;
            if (!transfer->upload && op && op->offset == 0 && transfer->total < 0 && op->kind == OpKind::Retrieve) {
                if (const std::optional<qint64> announced = parse150Size(reply.text)) {
                    transfer->total = *announced;
                    // Bytes may have come before the reply did.
                    if (transfer->done > 0)
                        current->report(transfer->done, transfer->total);
                }
            }
            return;
        }
        if (reply.code >= 400)
            return complete(refused(reply));
        if (reply.code >= 300)
            return complete(unexpected(reply));
        transfer->finalReply = true;
        transfer->reply = reply;
        if (!data && !listener)
            transfer->dataClosed = true;
        checkTransferDone();
    }

    void readData()
    {
        if (!data || !transfer || transfer->upload || dataTunnelling)
            return;
        const QByteArray chunk = data->readAll();
        if (chunk.isEmpty())
            return;
        idleTimer.start(settings.timing.dataIdle);
        deliver(transfer->ascii ? transfer->decoder.feed(chunk) : chunk, chunk.size());
    }

    // Writes received bytes where they go; false when the transfer ended.
    bool deliver(const QByteArray &bytes, qint64 wireBytes)
    {
        Operation *op = current;
        if (!op)
            return false;
        if (!transfer->device) {
            if (op->kind != OpKind::List) {
                abortCurrent(failure(FtpFailure::Local, QStringLiteral("The file was closed")));
                return false;
            }
            op->out().listing += bytes;
        } else if (!bytes.isEmpty() && transfer->device->write(bytes) != bytes.size()) {
            abortCurrent(failure(FtpFailure::Local, transfer->device->errorString()));
            return false;
        }
        transfer->done += wireBytes;
        op->report(transfer->done, transfer->total);
        return transfer != nullptr; // the owner may have aborted from the progress signal
    }

    void pumpUpload()
    {
        if (!transfer || !transfer->upload || !transfer->dataReady || !transfer->preliminary || transfer->sourceEnded
            || !data)
            return;
        QIODevice *source = transfer->device;
        if (!source)
            return (void)abortCurrent(failure(FtpFailure::Local, QStringLiteral("The file was closed")));
        // Bounded: each round either fills the backlog or ends the source.
        while (data && data->bytesToWrite() < SendBacklog) {
            const QByteArray chunk = source->read(SendChunk);
            if (chunk.isEmpty()) {
                if (!source->atEnd()) {
                    if (source->isSequential())
                        return; // more comes later: the source's readyRead
                    abortCurrent(failure(FtpFailure::Local, source->errorString()));
                    return;
                }
                transfer->sourceEnded = true;
                // The end of the file: the server must get every byte and a
                // clean end of stream, also when it sent something unread.
                closeAfterSending(data, settings.timing.dataIdle, q);
                return;
            }
            data->write(transfer->ascii ? transfer->encoder.feed(chunk) : chunk);
            transfer->done += chunk.size();
            if (current)
                current->report(transfer->done, transfer->total);
            if (!transfer)
                return; // aborted from the progress signal
        }
    }

    void dataEnded()
    {
        if (!transfer)
            return;
        if (!transfer->upload && data) {
            const QByteArray rest = data->readAll();
            if (!rest.isEmpty() && !deliver(transfer->ascii ? transfer->decoder.feed(rest) : rest, rest.size()))
                return;
        }
        if (!transfer->upload && transfer->ascii) {
            const QByteArray tail = transfer->decoder.finish();
            if (!tail.isEmpty() && !deliver(tail, 0))
                return;
        }
        if (transfer->upload && !transfer->sourceEnded) {
            // The server closed before the whole file went: its reply says why.
            transfer->sourceEnded = true;
        }
        transfer->dataClosed = true;
        idleTimer.stop();
        if (data) {
            data->disconnect(q);
            data->deleteLater();
            data = nullptr;
        }
        if (!transfer->finalReply)
            replyTimer.start(settings.timing.reply);
        checkTransferDone();
    }

    void checkTransferDone()
    {
        if (!transfer || !transfer->dataClosed || !transfer->finalReply)
            return;
        FtpResult r = success(transfer->reply);
        r.size = transfer->done;
        if (current && current->kind == OpKind::List)
            r.listing = current->out().listing;
        complete(r);
    }

    // While replies are owed, the reply time-out bounds the wait for them.
    void waitForOwedReplies()
    {
        if (unanswered > 0 && control)
            replyTimer.start(settings.timing.reply);
        else
            replyTimer.stop();
    }

    void closeData()
    {
        idleTimer.stop();
        dataTunnelling = false;
        dataHandshake = false;
        if (dataProxy)
            dataProxy->deleteLater();
        dataProxy = nullptr;
        if (data)
            discard(data);
        data = nullptr;
        if (listener) {
            listener->close();
            listener->deleteLater();
        }
        listener = nullptr;
    }

    // Ends the running operation with why; a transfer is stopped with ABOR.
    // The replies still owed are consumed before the next operation starts.
    bool abortCurrent(FtpResult why)
    {
        if (!current)
            return false;
        if (current->kind == OpKind::Connect || state == State::Connecting || state == State::LoggingIn) {
            lose(why, why.failure);
            return true;
        }
        const bool transferring = transfer != nullptr;
        closeData();
        onReply = nullptr;
        QPointer<Operation> op = current;
        current = nullptr;
        transfer.reset();
        if (transferring && control) {
            // Answered with 225/226, after a 426 for a transfer it cut
            // short (that one is the transfer command's own final reply).
            control->write("ABOR\r\n");
            ++unanswered;
            log(QStringLiteral("ABOR"));
        }
        waitForOwedReplies();
        if (connected())
            setState(State::Idle);
        scheduleNext();
        if (op)
            op->finish(std::move(why));
        return true;
    }
};

FtpSession::FtpSession(QObject *parent) : QObject(parent), d(std::make_unique<Private>(this)) {}

FtpSession::~FtpSession()
{
    d->replyTimer.stop();
    d->idleTimer.stop();
    d->connectTimer.stop();
    d->closeData();
    if (d->control) {
        d->control->disconnect(this);
        d->control->abort();
    }
    const FtpResult gone = failure(FtpFailure::NotConnected, QStringLiteral("The session ended"));
    QPointer<Operation> op = d->current;
    d->current = nullptr;
    if (op)
        op->finish(gone);
    auto queued = std::move(d->queue);
    for (const QPointer<Operation> &next : queued) {
        if (next)
            next->finish(gone);
    }
}

FtpSession::State FtpSession::state() const
{
    return d->state;
}

const FtpFeatures &FtpSession::features() const
{
    return d->features;
}

QHostAddress FtpSession::peerAddress() const
{
    return d->peer;
}

FtpOperation *FtpSession::connectToHost(const FtpConnectSettings &settings)
{
    auto *op = new Operation(OpKind::Connect, this);
    op->settings = settings;
    return d->enqueue(op);
}

FtpOperation *FtpSession::quit()
{
    return d->enqueue(new Operation(OpKind::Quit, this));
}

namespace {
Operation *simple(QObject *parent, const char *verb, const QString &argument = {})
{
    auto *op = new Operation(OpKind::Simple, parent);
    op->verb = verb;
    op->argument = argument;
    return op;
}
} // namespace

FtpOperation *FtpSession::printWorkingDirectory()
{
    return d->enqueue(simple(this, "PWD"));
}

FtpOperation *FtpSession::changeDirectory(const QString &path)
{
    return d->enqueue(simple(this, "CWD", path));
}

FtpOperation *FtpSession::changeToParent()
{
    return d->enqueue(simple(this, "CDUP"));
}

FtpOperation *FtpSession::makeDirectory(const QString &name)
{
    return d->enqueue(simple(this, "MKD", name));
}

FtpOperation *FtpSession::removeDirectory(const QString &name)
{
    return d->enqueue(simple(this, "RMD", name));
}

FtpOperation *FtpSession::deleteFile(const QString &name)
{
    return d->enqueue(simple(this, "DELE", name));
}

FtpOperation *FtpSession::rename(const QString &from, const QString &to)
{
    auto *op = new Operation(OpKind::Rename, this);
    op->argument = from;
    op->argument2 = to;
    return d->enqueue(op);
}

FtpOperation *FtpSession::size(const QString &name)
{
    return d->enqueue(simple(this, "SIZE", name));
}

FtpOperation *FtpSession::modificationTime(const QString &name)
{
    return d->enqueue(simple(this, "MDTM", name));
}

FtpOperation *FtpSession::setType(FtpTransferType type)
{
    auto *op = new Operation(OpKind::Type, this);
    op->type = type;
    return d->enqueue(op);
}

FtpOperation *FtpSession::list(ListKind kind, const QString &path)
{
    auto *op = new Operation(OpKind::List, this);
    op->listKind = kind;
    op->argument = path;
    return d->enqueue(op);
}

FtpOperation *FtpSession::retrieve(const QString &remote, qint64 offset, QIODevice *sink, FtpTransferType type)
{
    auto *op = new Operation(OpKind::Retrieve, this);
    op->argument = remote;
    op->offset = std::max<qint64>(offset, 0);
    op->device = sink;
    op->type = type;
    return d->enqueue(op);
}

FtpOperation *FtpSession::store(QIODevice *source, const QString &remote, qint64 offset, bool append,
                                FtpTransferType type)
{
    auto *op = new Operation(OpKind::Store, this);
    op->argument = remote;
    op->offset = std::max<qint64>(offset, 0);
    op->append = append;
    op->device = source;
    op->type = type;
    return d->enqueue(op);
}

FtpOperation *FtpSession::raw(const QString &line)
{
    auto *op = new Operation(OpKind::Raw, this);
    op->argument = line;
    return d->enqueue(op);
}

void FtpSession::abort()
{
    const FtpResult aborted = failure(FtpFailure::Aborted, QStringLiteral("Aborted"));
    auto queued = std::move(d->queue);
    d->queue.clear();
    QPointer<FtpSession> alive(this);
    if (d->current)
        d->abortCurrent(aborted);
    for (const QPointer<Operation> &op : queued) {
        if (op)
            op->finish(aborted);
    }
}

void FtpSession::close()
{
    FtpResult why;
    why.text = QStringLiteral("Connection closed");
    d->lose(why, FtpFailure::Aborted);
}

void FtpSession::provideAccount(const std::optional<QString> &account)
{
    auto answer = std::move(d->accountAnswer);
    d->accountAnswer = nullptr;
    if (answer)
        answer(account);
}

void FtpSession::providePassword(const std::optional<QString> &password)
{
    auto answer = std::move(d->passwordAnswer);
    d->passwordAnswer = nullptr;
    if (answer)
        answer(password);
}
