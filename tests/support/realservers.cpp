#include "realservers.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>

#include <csignal>
#include <memory>
#include <vector>
#include <sys/prctl.h>

bool realServersRequired()
{
    return qEnvironmentVariable("SUITE_REQUIRE_SERVERS") == QLatin1String("1");
}

// Ports below the system's range for outgoing connections (32768 and up on
// Linux): a port found free there cannot be taken by a client of another
// test before the server binds it, only by another test choosing the same.
constexpr int FirstPort = 20000;
constexpr int PastLastPort = 32768;

quint16 freeLoopbackPort(const QHostAddress &address)
{
    return freeLoopbackRange(1, address);
}

quint16 freeLoopbackRange(int count, const QHostAddress &address)
{
    for (int attempt = 0; attempt < 64; ++attempt) {
        const auto base = static_cast<quint16>(QRandomGenerator::global()->bounded(FirstPort, PastLastPort - count));
        std::vector<std::unique_ptr<QTcpServer>> held;
        bool allFree = true;
        for (int i = 0; i < count && allFree; ++i) {
            auto server = std::make_unique<QTcpServer>();
            allFree = server->listen(address, static_cast<quint16>(base + i));
            held.push_back(std::move(server));
        }
        if (allFree)
            return base;
    }
    return 0;
}

RealServer::RealServer(QString program)
    : m_program(std::move(program))
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // The server goes down with the test process, even when that one crashes.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

RealServer::~RealServer()
{
    stop();
}

bool RealServer::isInstalled() const
{
    const QFileInfo info(m_program);
    return info.isFile() && info.isExecutable();
}

QString RealServer::missingMessage() const
{
    const QString text = QStringLiteral("%1 is not installed (scripts/deps.sh test installs it)").arg(m_program);
    return realServersRequired() ? text + QStringLiteral("; servers are required (SUITE_REQUIRE_SERVERS=1)")
                                 : text + QStringLiteral("; set SUITE_REQUIRE_SERVERS=1 to make this a failure");
}

bool RealServer::start(int timeoutMs)
{
    m_error.clear();
    if (isRunning()) {
        m_error = QStringLiteral("already running");
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory: ") + m_dir.errorString();
        return false;
    }
    // Another test may bind the chosen port between the check and the
    // server's start: the server then exits, and another port is tried.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = freeLoopbackPort(listenAddress());
        if (m_port == 0) {
            m_error = QStringLiteral("no free loopback port");
            return false;
        }
        if (!writeConfig(&m_error))
            return false;
        m_output.clear();
        m_process.setWorkingDirectory(m_dir.path());
        m_process.start(m_program, arguments());
        if (!m_process.waitForStarted(timeoutMs)) {
            m_error = m_program + QStringLiteral(" did not start: ") + m_process.errorString();
            return false;
        }
        if (waitUntilListening(timeoutMs))
            return true;
        const bool exited = m_process.state() == QProcess::NotRunning;
        const QString reason = m_error;
        stop();
        m_error = reason + QStringLiteral("\n") + QString::fromLocal8Bit(m_output);
        if (!exited)
            return false;
    }
    return false;
}

bool RealServer::waitUntilListening(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (m_process.state() == QProcess::NotRunning) {
            m_output += m_process.readAll();
            m_error = QStringLiteral("%1 exited with code %2 before listening on port %3")
                          .arg(m_program)
                          .arg(m_process.exitCode())
                          .arg(m_port);
            return false;
        }
        QTcpSocket socket;
        socket.connectToHost(listenAddress(), m_port);
        if (socket.waitForConnected(200)) {
            socket.abort();
            return true;
        }
        QTest::qWait(20);
    }
    m_error = QStringLiteral("%1 did not listen on port %2 within %3 ms").arg(m_program).arg(m_port).arg(timeoutMs);
    return false;
}

void RealServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
    m_output += m_process.readAll();
}

bool RealServer::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

QByteArray RealServer::output()
{
    m_output += m_process.readAll();
    return m_output;
}

void RealServer::setEnvironmentVariable(const QString &name, const QString &value)
{
    QProcessEnvironment environment = m_process.processEnvironment();
    if (environment.isEmpty())
        environment = QProcessEnvironment::systemEnvironment();
    environment.insert(name, value);
    m_process.setProcessEnvironment(environment);
}

bool RealServer::writeFile(const QString &path, const QByteArray &text, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QByteArray RealServer::readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// --- nginx ---

NginxServer::NginxServer(QString documentRoot, QString program)
    : RealServer(std::move(program))
    , m_root(std::move(documentRoot))
{
}

QString NginxServer::url(const QString &path) const
{
    const QString scheme = m_certificate.isEmpty() ? QStringLiteral("http") : QStringLiteral("https");
    return QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme).arg(port()).arg(path);
}

bool NginxServer::writeConfig(QString *error)
{
    // One process and no "user" directive: nginx then runs as whoever runs
    // the test and can read the private temporary directories, as root too
    // (a root master would hand requests to unprivileged workers). Every path
    // nginx would otherwise take from its build (temp files, logs) points
    // into the temporary directory, so no privileges are needed.
    const QByteArray dir = dirPath().toUtf8();
    QByteArray conf;
    conf += "worker_processes 1;\n"
            "master_process off;\n"
            "events { worker_connections 128; }\n"
            "http {\n"
            "  default_type application/octet-stream;\n"
            "  client_body_temp_path \"" + dir + "/client_body\";\n"
            "  proxy_temp_path \"" + dir + "/proxy\";\n"
            "  fastcgi_temp_path \"" + dir + "/fastcgi\";\n"
            "  uwsgi_temp_path \"" + dir + "/uwsgi\";\n"
            "  scgi_temp_path \"" + dir + "/scgi\";\n"
            "  log_format suite escape=default "
            "'$request\\t$http_range\\t$status\\t$body_bytes_sent\\t$http_user_agent\\t$http_via\\t"
            "$http_proxy_authorization\\t$http_host\\t$ssl_session_reused';\n"
            "  access_log \"" + accessLogPath().toUtf8() + "\" suite;\n";
    if (m_slowRate > 0) {
        conf += "  map $http_user_agent $suite_rate { \"~Segment [12]$\" " + QByteArray::number(m_slowRate)
                + "; default " + QByteArray::number(m_limitRate) + "; }\n";
    }
    conf += "  server {\n"
            "    listen 127.0.0.1:" + QByteArray::number(port()) + (m_certificate.isEmpty() ? "" : " ssl") + ";\n"
            "    root \"" + m_root.toUtf8() + "\";\n";
    if (!m_certificate.isEmpty()) {
        conf += "    ssl_certificate \"" + m_certificate.toUtf8() + "\";\n"
                "    ssl_certificate_key \"" + m_key.toUtf8() + "\";\n"
                "    ssl_session_cache shared:suite:1m;\n"
                "    ssl_session_tickets on;\n";
    }
    for (const auto &[path, target] : m_redirects)
        conf += "    location = " + path.toUtf8() + " { return 302 " + target.toUtf8() + "; }\n";
    if (m_slowRate > 0)
        conf += "    limit_rate $suite_rate;\n";
    else if (m_limitRate > 0)
        conf += "    limit_rate " + QByteArray::number(m_limitRate) + ";\n";
    conf += "  }\n"
            "}\n";
    return writeFile(filePath(QStringLiteral("nginx.conf")), conf, error);
}

QStringList NginxServer::arguments() const
{
    return {QStringLiteral("-e"), QStringLiteral("stderr"), QStringLiteral("-p"), dirPath() + QLatin1Char('/'),
            QStringLiteral("-c"), filePath(QStringLiteral("nginx.conf")), QStringLiteral("-g"),
            QStringLiteral("daemon off; error_log stderr; pid %1;").arg(filePath(QStringLiteral("nginx.pid")))};
}

QList<NginxServer::Request> NginxServer::requests() const
{
    QList<Request> out;
    const QByteArrayList lines = readFile(accessLogPath()).split('\n');
    for (const QByteArray &line : lines) {
        const QByteArrayList f = line.split('\t');
        if (f.size() != 8 && f.size() != 9)
            continue;
        Request r;
        r.requestLine = f[0];
        r.range = f[1];
        r.status = f[2].toInt();
        r.bodyBytesSent = f[3].toLongLong();
        r.userAgent = f[4];
        r.via = f[5];
        r.proxyAuthorization = f[6];
        r.host = f[7];
        r.sessionReused = f.value(8) == "r";
        out.append(r);
    }
    return out;
}

bool NginxServer::waitForRequests(qsizetype count, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    while (requests().size() < count) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

// --- tinyproxy ---

TinyProxy::TinyProxy(QString program)
    : RealServer(std::move(program))
{
}

void TinyProxy::setBasicAuth(const QString &user, const QString &password)
{
    m_user = user;
    m_password = password;
}

bool TinyProxy::writeConfig(QString *error)
{
    const auto oneWord = [](const QString &s) {
        return !s.isEmpty() && !s.contains(QLatin1Char(' ')) && !s.contains(QLatin1Char('\t'))
            && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\n'));
    };
    QByteArray conf;
    conf += "Port " + QByteArray::number(port()) + "\n"
            "Listen 127.0.0.1\n"
            "Timeout 60\n"
            "MaxClients 32\n"
            "Allow 127.0.0.1\n"
            "LogLevel Info\n"
            "LogFile \"" + logPath().toUtf8() + "\"\n"
            "PidFile \"" + filePath(QStringLiteral("tinyproxy.pid")).toUtf8() + "\"\n";
    if (!m_user.isEmpty() || !m_password.isEmpty()) {
        if (!oneWord(m_user) || !oneWord(m_password)) {
            *error = QStringLiteral("tinyproxy credentials must be single words");
            return false;
        }
        conf += "BasicAuth " + m_user.toUtf8() + ' ' + m_password.toUtf8() + '\n';
    }
    return writeFile(filePath(QStringLiteral("tinyproxy.conf")), conf, error);
}

QStringList TinyProxy::arguments() const
{
    return {QStringLiteral("-d"), QStringLiteral("-c"), filePath(QStringLiteral("tinyproxy.conf"))};
}

QByteArrayList TinyProxy::requests() const
{
    // Log lines look like "CONNECT   <date> [pid]: Request (file descriptor 5): GET http://... HTTP/1.1".
    static const QByteArray marker = "]: Request (file descriptor ";
    QByteArrayList out;
    const QByteArrayList lines = log().split('\n');
    for (const QByteArray &line : lines) {
        const qsizetype at = line.indexOf(marker);
        if (at < 0)
            continue;
        const qsizetype colon = line.indexOf("): ", at + marker.size());
        if (colon >= 0)
            out.append(line.mid(colon + 3).trimmed());
    }
    return out;
}
