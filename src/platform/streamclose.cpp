#include "streamclose.h"

#include <QAbstractSocket>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The duplicated descriptor of a connection whose socket has let go of it.
class Drain : public QObject {
public:
    Drain(int descriptor, std::chrono::milliseconds limit, QObject *parent)
        : QObject(parent)
        , m_descriptor(descriptor)
        , m_limit(limit)
    {
    }

    ~Drain() override { closeDescriptor(); }

    // Called once the socket has written everything and closed its own
    // descriptor (or gave up on the connection); later calls do nothing.
    void start()
    {
        if (m_started || m_descriptor < 0)
            return;
        m_started = true;
        ::shutdown(m_descriptor, SHUT_WR);
        m_notifier = new QSocketNotifier(m_descriptor, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &Drain::readSome);
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &Drain::finish);
        m_timer.start(m_limit);
        readSome();
    }

private:
    void readSome()
    {
        // Bounded per wake-up; the notifier calls again while more waits.
        char buffer[16384];
        for (int round = 0; round < 64 && m_descriptor >= 0; ++round) {
            const ssize_t n = ::recv(m_descriptor, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                continue;
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            return finish(); // the peer closed, or the connection failed
        }
    }

    void finish()
    {
        closeDescriptor();
        deleteLater();
    }

    void closeDescriptor()
    {
        if (m_descriptor < 0)
            return;
        if (m_notifier)
            m_notifier->setEnabled(false);
        ::close(m_descriptor);
        m_descriptor = -1;
    }

    int m_descriptor;
    std::chrono::milliseconds m_limit;
    bool m_started = false;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_timer;
};

} // namespace

void closeAfterSending(QAbstractSocket *socket, std::chrono::milliseconds drainLimit, QObject *context)
{
    const qintptr descriptor = socket->socketDescriptor();
    const int copy = descriptor >= 0 ? ::fcntl(int(descriptor), F_DUPFD_CLOEXEC, 0) : -1;
    if (copy < 0) {
        socket->disconnectFromHost();
        return;
    }
    auto *drain = new Drain(copy, drainLimit, context);
    const QPointer<Drain> guard(drain);
    const auto begin = [guard] {
        if (guard)
            guard->start();
    };
    QObject::connect(socket, &QAbstractSocket::disconnected, drain, begin);
    QObject::connect(socket, &QAbstractSocket::errorOccurred, drain, begin);
    QObject::connect(socket, &QObject::destroyed, drain, begin);
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        begin();
}
