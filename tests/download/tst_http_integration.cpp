#include "jobrig.h"
#include "realservers.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace std::chrono_literals;
using Column = DownloadListModel::Column;

namespace {

constexpr qint64 MiB = 1024 * 1024;

// Writes size bytes of pseudo-random content (splitmix64, seeded by the size)
// in chunks and returns their SHA-256.
QByteArray writeRandomFile(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    quint64 state = 0x9E3779B97F4A7C15ULL ^ quint64(size);
    QByteArray chunk;
    qint64 left = size;
    while (left > 0) {
        const qint64 n = std::min<qint64>(left, MiB);
        chunk.resize(n);
        char *out = chunk.data();
        for (qint64 i = 0; i < n; i += 8) {
            state += 0x9E3779B97F4A7C15ULL;
            quint64 z = state;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
            z ^= z >> 31;
            for (qint64 b = 0; b < 8 && i + b < n; ++b)
                out[i + b] = char(z >> (8 * b));
        }
        if (file.write(chunk) != n)
            return {};
        hash.addData(chunk);
        left -= n;
    }
    return hash.result();
}

QByteArray sha256Of(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return hash.addData(&file) ? hash.result() : QByteArray();
}

// The requests a download sent, told apart by their User-Agent.
QList<NginxServer::Request> withAgent(const QList<NginxServer::Request> &all, const QByteArray &agent)
{
    QList<NginxServer::Request> out;
    for (const auto &r : all)
        if (r.userAgent == agent)
            out.append(r);
    return out;
}

const QByteArray ProbeAgent = "DM";
const QByteArray DataAgent = "NELV Segment 0";

// A document root with nginx serving it, and one download at a time with
// everything it needs (store, record, lists, prompts) in a temporary
// directory.
struct IntegrationRig : JobRig {
    QTemporaryDir www;
    NginxServer nginx{www.path()};

    IntegrationRig()
    {
        // Connection time-out of Timeout (60) periods of a second; the display
        // ticks often so completion is seen at once.
        timing = DownloadJob::Timing{50ms, 250ms, 1000ms, 1000ms};
    }

    QString servedPath(const QString &name) const { return www.filePath(name); }

    void useProxy(quint16 port)
    {
        record.UseProxy = true;
        record.ProxyServer = QStringLiteral("127.0.0.1");
        record.ProxyPort = port;
    }

    void proxyLogin(const QString &user, const QString &password)
    {
        record.LoginProxy = true;
        record.UsePass = true;
        record.UserID = user;
        record.UserPass = password;
    }
};

} // namespace

class TestHttpIntegration : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void downloadsAreByteIdentical_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::newRow("0 bytes") << qint64(0);
        QTest::newRow("1 byte") << qint64(1);
        QTest::newRow("1 MiB") << MiB;
        QTest::newRow("100 MiB") << 100 * MiB;
    }

    void downloadsAreByteIdentical()
    {
        QFETCH(qint64, size);
        IntegrationRig rig;
        const QByteArray expected = writeRandomFile(rig.servedPath(QStringLiteral("file.bin")), size);
        QVERIFY(!expected.isEmpty());
        SUITE_START_SERVER(rig.nginx);

        QElapsedTimer clock;
        clock.start();
        DownloadJob &job = rig.start(rig.nginx.url(QStringLiteral("/file.bin")));
        QVERIFY(rig.waitFinished(120000));
        qInfo("%lld bytes in %lld ms", size, clock.elapsed());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(job.display().status, QStringLiteral("Transfer Completed..."));
        QCOMPARE(QFileInfo(rig.savePath()).size(), size);
        QCOMPARE(sha256Of(rig.savePath()), expected);
        QCOMPARE(job.TotalReceived(), size);
        QCOMPARE(rig.record.AllBytes, size);
        QCOMPARE(rig.record.Downloads, 1);
        QCOMPARE(rig.completeList.count(), 1);
        QCOMPARE(rig.mainList.count(), 0);

        // nginx refuses the open "bytes=-" probe; the second probe asks from
        // byte 0. An empty file has no byte 0: nginx answers that with 200
        // and the download ends there, anything else goes on to a data
        // request for the whole file.
        QVERIFY(rig.nginx.waitForRequests(size == 0 ? 2 : 3));
        const auto probes = withAgent(rig.nginx.requests(), ProbeAgent);
        QCOMPARE(probes.size(), 2);
        QCOMPARE(probes[0].status, 416);
        QCOMPARE(probes[1].status, size == 0 ? 200 : 206);
        const auto data = withAgent(rig.nginx.requests(), DataAgent);
        if (size == 0) {
            QVERIFY(data.isEmpty());
        } else {
            QCOMPARE(data.size(), 1);
            QCOMPARE(data[0].status, 206);
            QCOMPARE(data[0].bodyBytesSent, size);
        }
    }

    void probeFlowAgainstNginx()
    {
        const qint64 size = 300000;
        IntegrationRig rig;
        const QByteArray expected = writeRandomFile(rig.servedPath(QStringLiteral("probe.bin")), size);
        SUITE_START_SERVER(rig.nginx);

        DownloadJob &job = rig.start(rig.nginx.url(QStringLiteral("/probe.bin")));
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(sha256Of(rig.savePath()), expected);
        QCOMPARE(job.display().resume, QStringLiteral("** Resume Supported **"));

        QVERIFY(rig.nginx.waitForRequests(3));
        const auto all = rig.nginx.requests();
        QCOMPARE(all.size(), 3);
        const QByteArray host = "127.0.0.1:" + QByteArray::number(rig.nginx.port());
        for (const auto &r : all) {
            QCOMPARE(r.requestLine, QByteArray("GET /probe.bin HTTP/1.1"));
            QCOMPARE(r.host, host);
            QCOMPARE(r.via, QByteArray("-"));
            QCOMPARE(r.proxyAuthorization, QByteArray("-"));
        }
        // First the open range, which nginx cannot satisfy ...
        QCOMPARE(all[0].userAgent, ProbeAgent);
        QCOMPARE(all[0].range, QByteArray("bytes=-"));
        QCOMPARE(all[0].status, 416);
        // ... then "0-", answered with partial content, which puts the data
        // phase on the partial-content path: an explicit range for the file.
        const auto probes = withAgent(all, ProbeAgent);
        QCOMPARE(probes.size(), 2);
        QCOMPARE(probes[1].range, QByteArray("bytes=0-"));
        QCOMPARE(probes[1].status, 206);
        const auto data = withAgent(all, DataAgent);
        QCOMPARE(data.size(), 1);
        QCOMPARE(data[0].range, QByteArray("bytes=0-299999"));
        QCOMPARE(data[0].status, 206);
        QCOMPARE(data[0].bodyBytesSent, size);

        // What the engine saw of it.
        QVERIFY(job.strLog().contains("416 Requested Range Not Satisfiable"));
        QVERIFY(job.strLog().contains("Content-Range: bytes */300000"));
        QVERIFY(job.strLog().contains("Content-Range: bytes 0-299999/300000"));
    }

    void resumeAfterTheFileWasCut_data()
    {
        QTest::addColumn<qint64>("cut");
        QTest::addColumn<int>("rollback");
        QTest::newRow("default rollback") << qint64(400000) << 4096;
        QTest::newRow("large rollback") << qint64(777777) << 65536;
    }

    void resumeAfterTheFileWasCut()
    {
        QFETCH(qint64, cut);
        QFETCH(int, rollback);
        const qint64 size = MiB;
        IntegrationRig rig;
        rig.record.Rollback = rollback;
        const QByteArray expected = writeRandomFile(rig.servedPath(QStringLiteral("cut.bin")), size);
        SUITE_START_SERVER(rig.nginx);
        const QString url = rig.nginx.url(QStringLiteral("/cut.bin"));

        rig.start(url);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome(), DownloadJob::Outcome::Completed);
        QVERIFY(rig.nginx.waitForRequests(3));
        {
            QFile saved(rig.savePath());
            QVERIFY(saved.resize(cut));
        }
        QVERIFY(sha256Of(rig.savePath()) != expected);

        DownloadJob &job = rig.start(url, -1);
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(QFileInfo(rig.savePath()).size(), size);
        QCOMPARE(sha256Of(rig.savePath()), expected);

        // The resume point is the kept length less Rollback, as a position
        // counted from one: the first byte asked for (counted from zero) is
        // one before it. Nothing before it is fetched again.
        QVERIFY(rig.nginx.waitForRequests(6));
        const auto data = withAgent(rig.nginx.requests(), DataAgent);
        QCOMPARE(data.size(), 2);
        const qint64 first = cut - rollback - 1;
        QCOMPARE(data[1].range, "bytes=" + QByteArray::number(first) + "-" + QByteArray::number(size - 1));
        QCOMPARE(data[1].status, 206);
        QCOMPARE(data[1].bodyBytesSent, size - first);
    }

    void pauseAndResumeAgainstAThrottledServer()
    {
        const qint64 size = 800000;
        IntegrationRig rig;
        const QByteArray expected = writeRandomFile(rig.servedPath(QStringLiteral("slow.bin")), size);
        rig.nginx.setLimitRate(400000);
        SUITE_START_SERVER(rig.nginx);

        DownloadJob &job = rig.start(rig.nginx.url(QStringLiteral("/slow.bin")));
        QTRY_VERIFY_WITH_TIMEOUT(job.TotalReceived() >= 150000, 20000);
        job.Pause_Resume();
        QCOMPARE(job.state(), DownloadJob::State::Paused);
        const qint64 at = job.TotalReceived();
        QVERIFY(at < size);
        QTest::qWait(150);
        QCOMPARE(job.TotalReceived(), at);

        job.Pause_Resume();
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(sha256Of(rig.savePath()), expected);

        // The interrupted request is logged as cut short; the new one asks for
        // the rest from Rollback bytes before where the pause stopped.
        QVERIFY(rig.nginx.waitForRequests(4));
        const auto data = withAgent(rig.nginx.requests(), DataAgent);
        QCOMPARE(data.size(), 2);
        // nginx logs the interrupted request once it notices the close, which
        // may come after the new request began: tell them apart by range.
        const bool firstIsCut = data[0].range == "bytes=0-799999";
        const NginxServer::Request &cutShort = data[firstIsCut ? 0 : 1];
        const NginxServer::Request &resumed = data[firstIsCut ? 1 : 0];
        QCOMPARE(cutShort.range, QByteArray("bytes=0-799999"));
        QVERIFY(cutShort.bodyBytesSent < size);
        QCOMPARE(resumed.range, "bytes=" + QByteArray::number(at - 4096) + "-799999");
        QCOMPARE(resumed.status, 206);
        QCOMPARE(resumed.bodyBytesSent, size - (at - 4096));
    }

    void downloadThroughAProxy()
    {
        const qint64 size = MiB + 123;
        IntegrationRig rig;
        const QByteArray expected = writeRandomFile(rig.servedPath(QStringLiteral("via.bin")), size);
        SUITE_START_SERVER(rig.nginx);
        TinyProxy proxy;
        SUITE_START_SERVER(proxy);
        rig.useProxy(proxy.port());

        DownloadJob &job = rig.start(rig.nginx.url(QStringLiteral("/via.bin")));
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(sha256Of(rig.savePath()), expected);

        // Every request went to the proxy in absolute form, and every request
        // nginx served came through it.
        QVERIFY(rig.nginx.waitForRequests(3));
        const auto served = rig.nginx.requests();
        QCOMPARE(served.size(), 3);
        for (const auto &r : served)
            QVERIFY2(r.via.contains("tinyproxy"), r.via.constData());
        QCOMPARE(withAgent(served, DataAgent).size(), 1);
        const QByteArrayList proxied = proxy.requests();
        QCOMPARE(proxied.size(), 3);
        const QByteArray line = "GET " + rig.nginx.url(QStringLiteral("/via.bin")).toUtf8() + " HTTP/1.1";
        for (const QByteArray &r : proxied)
            QCOMPARE(r, line);
    }

    void proxyCredentialsNeverReachTheOrigin_data()
    {
        QTest::addColumn<bool>("throughProxy");
        QTest::addColumn<bool>("proxyServerSet");
        QTest::newRow("through the proxy") << true << true;
        QTest::newRow("proxy off") << false << true;
        QTest::newRow("proxy on without a server") << true << false;
    }

    void proxyCredentialsNeverReachTheOrigin()
    {
        QFETCH(bool, throughProxy);
        QFETCH(bool, proxyServerSet);
        const qint64 size = 200000;
        IntegrationRig rig;
        const QByteArray expected = writeRandomFile(rig.servedPath(QStringLiteral("auth.bin")), size);
        SUITE_START_SERVER(rig.nginx);
        TinyProxy proxy;
        proxy.setBasicAuth(QStringLiteral("alice"), QStringLiteral("s3cret"));
        SUITE_START_SERVER(proxy);
        rig.useProxy(proxy.port());
        rig.record.UseProxy = throughProxy;
        if (!proxyServerSet)
            rig.record.ProxyServer.clear();
        rig.proxyLogin(QStringLiteral("alice"), QStringLiteral("s3cret"));

        DownloadJob &job = rig.start(rig.nginx.url(QStringLiteral("/auth.bin")));
        QVERIFY(rig.waitFinished());
        // Through the proxy this only completes when the credentials reached it.
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Completed);
        QCOMPARE(sha256Of(rig.savePath()), expected);

        const bool proxied = throughProxy && proxyServerSet;
        QVERIFY(rig.nginx.waitForRequests(3));
        const auto served = rig.nginx.requests();
        QCOMPARE(served.size(), 3);
        for (const auto &r : served) {
            QCOMPARE(r.proxyAuthorization, QByteArray("-"));
            QCOMPARE(r.via.contains("tinyproxy"), proxied);
        }
        QCOMPARE(proxy.requests().size(), proxied ? 3 : 0);
    }

    void refusedProxyLoginFailsVisibly_data()
    {
        QTest::addColumn<bool>("login");
        QTest::addColumn<bool>("usePass");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QByteArray>("proxyStatus");
        QTest::addColumn<QString>("shown");
        // tinyproxy asks for credentials with 407 when none come, and turns
        // wrong ones away with 401.
        const QString proxyAuth = QStringLiteral("HTTP 407 - Proxy Authentication Required");
        const QString unauthorized = QStringLiteral("HTTP 401.x-You are not authorized to view this page");
        QTest::newRow("no login") << false << true << QStringLiteral("s3cret") << QByteArray("407") << proxyAuth;
        QTest::newRow("wrong password") << true << true << QStringLiteral("wrong") << QByteArray("401")
                                        << unauthorized;
        QTest::newRow("password left out") << true << false << QStringLiteral("s3cret") << QByteArray("401")
                                           << unauthorized;
    }

    void refusedProxyLoginFailsVisibly()
    {
        QFETCH(bool, login);
        QFETCH(bool, usePass);
        QFETCH(QString, password);
        QFETCH(QByteArray, proxyStatus);
        QFETCH(QString, shown);
        IntegrationRig rig;
        QVERIFY(!writeRandomFile(rig.servedPath(QStringLiteral("denied.bin")), 5000).isEmpty());
        SUITE_START_SERVER(rig.nginx);
        TinyProxy proxy;
        proxy.setBasicAuth(QStringLiteral("alice"), QStringLiteral("s3cret"));
        SUITE_START_SERVER(proxy);
        rig.useProxy(proxy.port());
        rig.proxyLogin(QStringLiteral("alice"), password);
        rig.record.LoginProxy = login;
        rig.record.UsePass = usePass;

        DownloadJob &job = rig.start(rig.nginx.url(QStringLiteral("/denied.bin")));
        QVERIFY(rig.waitFinished());
        QVERIFY2(job.strLog().contains("HTTP/1.0 " + proxyStatus + ' '), job.strLog().constData());
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Failed);
        QCOMPARE(job.display().status, shown);
        QCOMPARE(rig.mainList.value(job.lstItem, Column::Status), shown);
        QCOMPARE(rig.completeList.count(), 0);
        QCOMPARE(QFileInfo(rig.savePath()).size(), qint64(0));

        // The proxy saw the request and turned it away; nginx saw nothing.
        QCOMPARE(proxy.requests().size(), 1);
        QTest::qWait(100);
        QCOMPARE(rig.nginx.requests().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestHttpIntegration)
#include "tst_http_integration.moc"
