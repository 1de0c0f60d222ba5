#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QHostAddress>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

// Real server programs that integration tests start on loopback, each on a
// free port with its own configuration in a temporary directory. A server is
// stopped (by its process id) when the object goes away.

// True when SUITE_REQUIRE_SERVERS=1: a missing server program then fails the
// test instead of skipping it, so a CI machine cannot silently skip them.
bool realServersRequired();

// A loopback port that could be bound a moment ago, chosen below the range the
// system gives outgoing connections, so no client can take it meanwhile.
quint16 freeLoopbackPort(const QHostAddress &address = QHostAddress(QHostAddress::LocalHost));
// The first of `count` consecutive ports on `address` that could all be bound
// a moment ago (passive data ports of an FTP server), 0 when a bounded number
// of tries found none.
quint16 freeLoopbackRange(int count, const QHostAddress &address = QHostAddress(QHostAddress::LocalHost));

class RealServer {
public:
    explicit RealServer(QString program);
    virtual ~RealServer();
    RealServer(const RealServer &) = delete;
    RealServer &operator=(const RealServer &) = delete;

    QString program() const { return m_program; }
    bool isInstalled() const;
    QString missingMessage() const;

    // Writes the configuration, starts the program and waits (bounded) until
    // its port accepts connections. On failure errorString() says why.
    bool start(int timeoutMs = 10000);
    // Terminates the process and waits for it; kills it when it lingers.
    void stop();
    bool isRunning() const;

    quint16 port() const { return m_port; }
    QString errorString() const { return m_error; }
    // Everything the program wrote to stdout and stderr so far.
    QByteArray output();

protected:
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    QString dirPath() const { return m_dir.path(); }
    virtual bool writeConfig(QString *error) = 0;
    virtual QStringList arguments() const = 0;
    // The address the server listens on: its port is picked free there and
    // start() waits until a connection to it succeeds.
    virtual QHostAddress listenAddress() const { return QHostAddress(QHostAddress::LocalHost); }
    // Sets a variable in the environment the program starts with.
    void setEnvironmentVariable(const QString &name, const QString &value);
    static bool writeFile(const QString &path, const QByteArray &text, QString *error);
    static QByteArray readFile(const QString &path);

private:
    bool waitUntilListening(int timeoutMs);

    QString m_program;
    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_output;
    quint16 m_port = 0;
    QString m_error;
};

// nginx serving a document root over HTTP on 127.0.0.1. Its access log
// records, per request, the fields the tests look at.
class NginxServer : public RealServer {
public:
    struct Request {
        QByteArray requestLine; // "GET /file HTTP/1.1"
        QByteArray range;       // the Range header, "-" when absent
        int status = 0;
        qint64 bodyBytesSent = 0;
        QByteArray userAgent;
        QByteArray via;                // "-" when absent
        QByteArray proxyAuthorization; // "-" when absent
        QByteArray host;
        bool sessionReused = false; // a TLS request whose connection resumed a session
    };

    explicit NginxServer(QString documentRoot, QString program = QStringLiteral("/usr/sbin/nginx"));

    // Caps each connection at bytesPerSecond (0: no cap). Set before start().
    void setLimitRate(qint64 bytesPerSecond) { m_limitRate = bytesPerSecond; }
    // Requests of the download's connections 1 and 2 (user agent ending in
    // "Segment 1" or "Segment 2") run at slowRate, all others at fastRate
    // (bytes per second): a server whose connections run at different
    // speeds, the same ones every run. Set before start(); replaces
    // setLimitRate.
    void setUnevenRates(qint64 slowRate, qint64 fastRate)
    {
        m_slowRate = slowRate;
        m_limitRate = fastRate;
    }

    // Serves over TLS with this certificate and key (PEM files), with
    // session tickets and a session cache. Set before start().
    void setTls(const QString &certificateFile, const QString &keyFile)
    {
        m_certificate = certificateFile;
        m_key = keyFile;
    }
    // Answers path with a 302 to target. Set before start().
    void addRedirect(const QString &path, const QString &target) { m_redirects.append({path, target}); }

    // "http://127.0.0.1:port/path", or https:// when serving TLS.
    QString url(const QString &path) const;
    QString accessLogPath() const { return filePath(QStringLiteral("access.log")); }
    // The access log so far, one entry per finished request.
    QList<Request> requests() const;
    // Waits (bounded) until at least count requests are logged: nginx writes
    // an entry once it is done with a request, which may be a moment after the
    // client has everything it needs.
    bool waitForRequests(qsizetype count, int timeoutMs = 5000) const;

protected:
    bool writeConfig(QString *error) override;
    QStringList arguments() const override;

private:
    QString m_root;
    qint64 m_limitRate = 0;
    qint64 m_slowRate = 0;
    QString m_certificate;
    QString m_key;
    QList<std::pair<QString, QString>> m_redirects;
};

// tinyproxy in the foreground on 127.0.0.1, accepting loopback clients only,
// optionally requiring Basic proxy authentication.
class TinyProxy : public RealServer {
public:
    explicit TinyProxy(QString program = QStringLiteral("/usr/bin/tinyproxy"));

    // User and password are single words. Set before start().
    void setBasicAuth(const QString &user, const QString &password);

    QString logPath() const { return filePath(QStringLiteral("tinyproxy.log")); }
    QByteArray log() const { return readFile(logPath()); }
    // The request lines the proxy received ("GET http://host:port/path HTTP/1.1").
    QByteArrayList requests() const;

protected:
    bool writeConfig(QString *error) override;
    QStringList arguments() const override;

private:
    QString m_user;
    QString m_password;
};

// Starts a real server inside a test function: skips the test when the
// program is not installed (fails instead when servers are required) and
// fails when it does not come up.
#define SUITE_START_SERVER(server)                                                                                    \
    do {                                                                                                               \
        if (!(server).isInstalled()) {                                                                                 \
            const QByteArray suiteMissing_ = (server).missingMessage().toLocal8Bit();                                  \
            if (realServersRequired())                                                                                 \
                QFAIL(suiteMissing_.constData());                                                                      \
            QSKIP(suiteMissing_.constData());                                                                          \
        }                                                                                                              \
        QVERIFY2((server).start(), qPrintable((server).errorString()));                                                \
    } while (false)
