#include "fakeserver.h"

#include <QPointer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace {

// A send step hands the socket at most this much at a time and waits for it
// to drain below the mark, so large bodies do not sit in memory twice.
constexpr qint64 WriteChunk = 64 * 1024;
constexpr qint64 HighWater = 256 * 1024;

} // namespace

// ---- FakePlan ------------------------------------------------------------

FakePlan &FakePlan::send(const QByteArray &bytes)
{
    m_steps.push_back({Step::Send, bytes, 0, 0, {}});
    return *this;
}

FakePlan &FakePlan::sendInPieces(const QByteArray &bytes, qint64 pieceSize, int delayMs)
{
    m_steps.push_back({Step::Send, bytes, qMax<qint64>(1, pieceSize), qMax(0, delayMs), {}});
    return *this;
}

FakePlan &FakePlan::wait(int ms)
{
    m_steps.push_back({Step::Wait, {}, 0, qMax(0, ms), {}});
    return *this;
}

FakePlan &FakePlan::stall()
{
    m_steps.push_back({Step::Stall, {}, 0, 0, {}});
    return *this;
}

FakePlan &FakePlan::close()
{
    m_steps.push_back({Step::Close, {}, 0, 0, {}});
    return *this;
}

FakePlan &FakePlan::drop()
{
    m_steps.push_back({Step::Drop, {}, 0, 0, {}});
    return *this;
}

FakePlan &FakePlan::call(std::function<void()> action)
{
    m_steps.push_back({Step::Call, {}, 0, 0, std::move(action)});
    return *this;
}

// ---- FakeConnection ------------------------------------------------------

FakeConnection::FakeConnection(QTcpSocket *socket, QByteArray terminator, Responder responder,
                               QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_timer(new QTimer(this))
    , m_terminator(std::move(terminator))
    , m_responder(std::move(responder))
{
    m_socket->setParent(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_waiting = false;
        pump();
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &FakeConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &FakeConnection::onDisconnected);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &FakeConnection::pump);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
        if (m_socket->state() == QAbstractSocket::UnconnectedState)
            onDisconnected();
    });
}

bool FakeConnection::isOpen() const
{
    return !m_closed;
}

void FakeConnection::start(FakePlan greeting)
{
    m_started = true;
    run(std::move(greeting));
    // Bytes that came before the start (an outgoing connection's peer may
    // talk first) are handled now.
    if (m_socket->bytesAvailable() > 0)
        onReadyRead();
}

void FakeConnection::run(FakePlan plan)
{
    for (FakePlan::Step &step : plan.m_steps)
        m_steps.push_back(std::move(step));
    pump();
}

void FakeConnection::onReadyRead()
{
    if (!m_started)
        return;
    const QByteArray bytes = m_socket->readAll();
    m_received += bytes;
    if (m_terminator.isEmpty())
        return;
    m_pending += bytes;
    const QPointer<FakeConnection> self(this);
    for (qsizetype end = m_pending.indexOf(m_terminator); end >= 0;
         end = m_pending.indexOf(m_terminator)) {
        const QByteArray request = m_pending.left(end + m_terminator.size());
        m_pending.remove(0, request.size());
        m_requests.append(request);
        Q_EMIT requestReceived(request);
        if (!self)
            return;
        if (m_responder)
            run(m_responder(*this, request));
        if (!self || m_closed)
            return;
    }
}

void FakeConnection::onDisconnected()
{
    if (m_closed)
        return;
    if (m_started && m_socket->bytesAvailable() > 0)
        onReadyRead();
    m_closed = true;
    m_timer->stop();
    Q_EMIT finished();
}

void FakeConnection::pumpLater(int ms)
{
    m_waiting = true;
    m_timer->start(ms);
}

void FakeConnection::pump()
{
    // flush() reports bytesWritten at once; the running loop goes on by itself.
    if (m_pumping)
        return;
    m_pumping = true;
    const QPointer<FakeConnection> self(this);
    pumpSteps();
    if (self)
        m_pumping = false;
}

void FakeConnection::pumpSteps()
{
    const QPointer<FakeConnection> self(this);
    while (self && !m_closed && !m_waiting && !m_stalled && !m_steps.empty()) {
        FakePlan::Step &step = m_steps.front();
        switch (step.kind) {
        case FakePlan::Step::Send: {
            const qint64 size = step.bytes.size();
            const qint64 piece = step.pieceSize > 0 ? step.pieceSize : WriteChunk;
            while (m_sendOffset < size) {
                if (m_socket->bytesToWrite() >= HighWater)
                    return; // bytesWritten resumes
                const qint64 n = qMin(piece, size - m_sendOffset);
                m_socket->write(step.bytes.constData() + m_sendOffset, n);
                m_sendOffset += n;
                m_bytesSent += n;
                if (step.pieceSize > 0) {
                    m_socket->flush();
                    if (step.ms > 0 && m_sendOffset < size) {
                        pumpLater(step.ms);
                        return;
                    }
                }
            }
            m_sendOffset = 0;
            m_steps.pop_front();
            break;
        }
        case FakePlan::Step::Wait: {
            const int ms = step.ms;
            m_steps.pop_front();
            pumpLater(ms);
            return;
        }
        case FakePlan::Step::Stall:
            m_steps.pop_front();
            m_stalled = true;
            return;
        case FakePlan::Step::Close:
            m_steps.pop_front();
            // Goes out after everything still buffered.
            m_socket->disconnectFromHost();
            return;
        case FakePlan::Step::Drop: {
            m_steps.pop_front();
            m_socket->flush();
            // A zero linger makes the close a reset instead of an orderly end.
            const linger reset{1, 0};
            ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset,
                         sizeof reset);
            m_socket->abort();
            onDisconnected();
            return;
        }
        case FakePlan::Step::Call: {
            const std::function<void()> action = std::move(step.action);
            m_steps.pop_front();
            if (action)
                action();
            break;
        }
        }
    }
}

// ---- FakeServer ----------------------------------------------------------

FakeServer::FakeServer(const QHostAddress &address, QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeServer::onNewConnection);
    m_server.listen(address, 0);
}

FakeServer::~FakeServer()
{
    m_server.close();
    // Connections are children; their sockets go with them.
}

void FakeServer::setReply(const FakePlan &plan)
{
    m_responder = [plan](FakeConnection &, const QByteArray &) { return plan; };
}

void FakeServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        // The responder is looked up per request, so one set later applies.
        auto *connection = new FakeConnection(
            socket, m_terminator,
            [this](FakeConnection &c, const QByteArray &request) {
                return m_responder ? m_responder(c, request) : FakePlan();
            },
            this);
        m_accepted.append(connection);
        Q_EMIT newConnection(connection);
        connection->start(m_greeting);
    }
}

FakeConnection *FakeServer::connectOut(const QString &host, quint16 port, const FakePlan &plan)
{
    auto *socket = new QTcpSocket;
    auto *connection = new FakeConnection(socket, m_terminator, {}, this);
    connect(socket, &QTcpSocket::connected, connection, [connection, plan] { connection->start(plan); });
    socket->connectToHost(host, port);
    return connection;
}

std::optional<QByteArray> FakeServer::headerValue(const QByteArray &request, const QByteArray &name)
{
    const QByteArray head = request.left(request.indexOf("\r\n\r\n"));
    const QList<QByteArray> lines = head.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return std::nullopt;
}

QByteArray FakeServer::httpHead(const QByteArray &statusLine, const QByteArrayList &headers)
{
    QByteArray head = statusLine + "\r\n";
    for (const QByteArray &header : headers)
        head += header + "\r\n";
    return head + "\r\n";
}

QByteArray FakeServer::ftpHostPort(const QHostAddress &address, quint16 port)
{
    const quint32 v4 = address.toIPv4Address();
    return QByteArray::number((v4 >> 24) & 0xff) + ',' + QByteArray::number((v4 >> 16) & 0xff) + ','
        + QByteArray::number((v4 >> 8) & 0xff) + ',' + QByteArray::number(v4 & 0xff) + ','
        + QByteArray::number(port >> 8) + ',' + QByteArray::number(port & 0xff);
}

std::optional<std::pair<QHostAddress, quint16>> FakeServer::parseFtpHostPort(const QByteArray &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("(\\d{1,3}),(\\d{1,3}),(\\d{1,3}),(\\d{1,3}),(\\d{1,3}),(\\d{1,3})"));
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(text));
    if (!match.hasMatch())
        return std::nullopt;
    quint32 parts[6];
    for (int i = 0; i < 6; ++i) {
        parts[i] = match.captured(i + 1).toUInt();
        if (parts[i] > 255)
            return std::nullopt;
    }
    const quint32 v4 = (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3];
    return std::make_pair(QHostAddress(v4), quint16((parts[4] << 8) | parts[5]));
}
