#include "intake/capturereceiver.h"

#include "platform/programdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStringDecoder>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString Reserved = QStringLiteral("MENU");
const QStringList Schemes{QStringLiteral("http://"), QStringLiteral("https://"), QStringLiteral("ftp://"),
                          QStringLiteral("ftps://")};

// The user id of the process at the other end of a local socket; -1 when
// the system does not say.
long peerUid(const QLocalSocket *socket)
{
#ifdef SO_PEERCRED
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0)
        return long(credentials.uid);
#else
    Q_UNUSED(socket);
#endif
    return -1;
}

} // namespace

QString CaptureSocketDirectory()
{
    const QString runtime = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return joinPath(runtime, QStringLiteral("tessel"));
    return joinPath(QDir::tempPath(), QStringLiteral("tessel-%1").arg(::geteuid()));
}

CapturedText ClassifyCapturedText(const QByteArray &message)
{
    using Kind = CapturedText::Kind;
    if (message.size() > CaptureMessageLimit)
        return {Kind::TooLong, {}};
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString raw = decoder.decode(message);
    if (decoder.hasError())
        return {Kind::NotAUrl, {}};
    if (raw.startsWith(Reserved))
        return {Kind::Reserved, {}};
    const QString text = raw.trimmed();
    if (text.isEmpty())
        return {Kind::Empty, {}};
    // One URL: no blanks, line breaks or other control characters inside.
    for (const QChar c : text) {
        if (c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return {Kind::NotAUrl, {}};
    }
    for (const QString &scheme : Schemes) {
        if (text.startsWith(scheme, Qt::CaseInsensitive))
            return {Kind::Url, text};
    }
    return {Kind::NotAUrl, {}};
}

CaptureReceiver::CaptureReceiver(Options options, QObject *parent)
    : QObject(parent), m_options(std::move(options))
{
    m_directory = m_options.directory.isEmpty() ? CaptureSocketDirectory() : m_options.directory;
    m_path = joinPath(m_directory, QString::fromLatin1(CaptureSocketName));
}

CaptureReceiver::~CaptureReceiver()
{
    if (m_server)
        m_server->close();
}

bool CaptureReceiver::listen()
{
    if (isListening())
        return true;
    QString why;
    if (!PreparePrivateDirectory(m_directory, &why)) {
        m_error = why;
        log(QStringLiteral("Browser capture is off: ") + why);
        return false;
    }
    QLocalServer::removeServer(m_path);
    m_server = new QLocalServer(this);
    // The directory keeps others out; the socket itself is the user's too.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &CaptureReceiver::accept);
    if (!m_server->listen(m_path)) {
        m_error = m_server->errorString();
        log(QStringLiteral("Browser capture is off: cannot listen on %1: %2").arg(m_path, m_error));
        delete m_server;
        m_server = nullptr;
        return false;
    }
    m_error.clear();
    return true;
}

bool CaptureReceiver::isListening() const
{
    return m_server && m_server->isListening();
}

void CaptureReceiver::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        if (m_buffers.size() >= m_options.maxConnections) {
            log(QStringLiteral("Browser capture: too many connections at once; one was closed"));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const long uid = peerUid(socket);
        if (uid >= 0 && uid != long(::geteuid())) {
            log(QStringLiteral("Browser capture: refused a connection from user %1").arg(uid));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_buffers.insert(socket, {});
        auto *timer = new QTimer(socket);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, socket] {
            drop(socket, CapturedText::Kind::Unfinished,
                 QStringLiteral("Browser capture: a client did not finish its message in time; dropped"));
        });
        timer->start(m_options.messageTimeout);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            const auto it = m_buffers.find(socket);
            if (it == m_buffers.end())
                return;
            it->append(socket->readAll());
            if (it->size() > CaptureMessageLimit)
                drop(socket, CapturedText::Kind::TooLong,
                     QStringLiteral("Browser capture: a message longer than %1 bytes was dropped")
                         .arg(CaptureMessageLimit));
        });
        // The whole message is in once the client closes its end.
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { finish(socket); });
        if (socket->state() != QLocalSocket::ConnectedState)
            finish(socket);
    }
}

void CaptureReceiver::finish(QLocalSocket *socket)
{
    const auto it = m_buffers.find(socket);
    if (it == m_buffers.end())
        return;
    QByteArray message = it.value() + socket->readAll();
    m_buffers.erase(it);
    socket->deleteLater();
    handle(message);
}

void CaptureReceiver::drop(QLocalSocket *socket, CapturedText::Kind kind, const QString &why)
{
    if (!m_buffers.remove(socket))
        return;
    log(why);
    socket->abort();
    socket->deleteLater();
    Q_EMIT messageHandled(kind);
}

void CaptureReceiver::handle(const QByteArray &message)
{
    const CapturedText text = ClassifyCapturedText(message);
    switch (text.kind) {
    case CapturedText::Kind::Url:
        m_pending.append(text.url);
        deliverPending();
        break;
    case CapturedText::Kind::Empty:
    case CapturedText::Kind::Reserved:
    case CapturedText::Kind::Unfinished:
        break;
    case CapturedText::Kind::TooLong:
        log(QStringLiteral("Browser capture: a message longer than %1 bytes was dropped").arg(CaptureMessageLimit));
        break;
    case CapturedText::Kind::NotAUrl:
        log(QStringLiteral("Browser capture: a message of %1 bytes is not one http://, https://, ftp:// or "
                           "ftps:// URL; dropped")
                .arg(message.size()));
        break;
    }
    Q_EMIT messageHandled(text.kind);
}

void CaptureReceiver::deliverPending()
{
    if (m_delivering)
        return; // the loop below, further up the stack, takes it
    m_delivering = true;
    while (!m_pending.isEmpty())
        Q_EMIT urlReceived(m_pending.takeFirst());
    m_delivering = false;
}

void CaptureReceiver::log(const QString &line) const
{
    if (m_options.errorLog)
        m_options.errorLog(line);
}

bool CaptureReceiver::send(const QString &directory, const QByteArray &message, std::chrono::milliseconds timeout)
{
    QLocalSocket socket;
    socket.connectToServer(joinPath(directory, QString::fromLatin1(CaptureSocketName)));
    if (!socket.waitForConnected(int(timeout.count())))
        return false;
    socket.write(message);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(int(timeout.count())))
            return false;
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(int(timeout.count()));
    return true;
}
