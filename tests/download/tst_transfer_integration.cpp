#include "realservers.h"
#include "testcertificates.h"
#include "transferrig.h"

#include "platform/tlssocketfactory.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>

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

bool isData(const NginxServer::Request &r)
{
    return r.userAgent.startsWith("NELV");
}

// A document root with nginx serving it, and one transfer job at a time.
struct IntegrationRig : TransferRig {
    QTemporaryDir www;
    NginxServer nginx{www.path()};

    IntegrationRig()
    {
        // Connection time-out of Timeout (60) periods of a second; the display
        // ticks often so completion is seen at once.
        timing = TransferTiming{50ms, 250ms, 1000ms, 1000ms};
    }

    QString servedPath(const QString &name) const { return www.filePath(name); }

    void useProxy(quint16 port)
    {
        settings.proxy.UseProxy = true;
        settings.proxy.ProxyServer = QStringLiteral("127.0.0.1");
        settings.proxy.ProxyPort = port;
    }

    void proxyLogin(const QString &user, const QString &password)
    {
        settings.proxy.LoginProxy = true;
        settings.proxy.UsePass = true;
        settings.proxy.UserID = user;
        settings.proxy.UserPass = password;
    }
};

// Certificates made once for every TLS case of the run.
TestCertificates &certificates()
{
    static TestCertificates made;
    static const bool ok = made.generate();
    if (!ok)
        qWarning("%s", qPrintable(made.errorString()));
    return made;
}

// The job's TLS factory trusting the test CA (or only the system's CAs).
std::shared_ptr<TlsSocketFactory> tlsFactory(bool trustTestCa = true)
{
    auto factory = std::make_shared<TlsSocketFactory>();
    if (trustTestCa)
        factory->addCaFile(certificates().caFile());
    return factory;
}

#define SUITE_NEED_CERTIFICATES()                                                                                     \
    do {                                                                                                               \
        if (!TestCertificates::isInstalled())                                                                          \
            QSKIP("openssl is not installed");                                                                         \
        QVERIFY2(QFile::exists(certificates().caFile()), qPrintable(certificates().errorString()));                  \
    } while (false)

} // namespace

class TestTransferIntegration : public QObject {
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
        TransferJob &job = rig.start(rig.nginx.url(QStringLiteral("/file.bin")));
        QVERIFY(rig.waitFinished(120000));
        qInfo("%lld bytes in %lld ms", size, clock.elapsed());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(job.status().defaultText, QStringLiteral("Transfer Completed..."));
        QCOMPARE(QFileInfo(rig.savePath()).size(), size);
        QCOMPARE(sha256Of(rig.savePath()), expected);
        QCOMPARE(job.progress().received, size);

        // nginx refuses the open "bytes=-" probe; the second probe asks from
        // byte 0 and its reply is the whole file (an empty file has no byte
        // 0: nginx answers that with 200). No other request is needed.
        QVERIFY(rig.nginx.waitForRequests(2));
        const auto probes = withAgent(rig.nginx.requests(), ProbeAgent);
        QCOMPARE(probes.size(), 2);
        QCOMPARE(probes[0].status, 416);
        QCOMPARE(probes[1].status, size == 0 ? 200 : 206);
        QCOMPARE(probes[1].bodyBytesSent, size);
        QVERIFY(withAgent(rig.nginx.requests(), DataAgent).isEmpty());
    }

    void probeFlowAgainstNginx()
    {
        const qint64 size = 300000;
        IntegrationRig rig;
        const QByteArray expected = writeRandomFile(rig.servedPath(QStringLiteral("probe.bin")), size);
        SUITE_START_SERVER(rig.nginx);

        TransferJob &job = rig.start(rig.nginx.url(QStringLiteral("/probe.bin")));
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(sha256Of(rig.savePath()), expected);
        QVERIFY(job.progress().resumable);

        QVERIFY(rig.nginx.waitForRequests(2));
        const auto all = rig.nginx.requests();
        QCOMPARE(all.size(), 2);
        const QByteArray host = "127.0.0.1:" + QByteArray::number(rig.nginx.port());
        for (const auto &r : all) {
            QCOMPARE(r.requestLine, QByteArray("GET /probe.bin HTTP/1.1"));
            QCOMPARE(r.host, host);
            QCOMPARE(r.via, QByteArray("-"));
            QCOMPARE(r.proxyAuthorization, QByteArray("-"));
            QCOMPARE(r.userAgent, ProbeAgent);
        }
        // First the open range, which nginx cannot satisfy, then "0-",
        // whose partial content is the file from its first byte.
        QCOMPARE(all[0].range, QByteArray("bytes=-"));
        QCOMPARE(all[0].status, 416);
        QCOMPARE(all[1].range, QByteArray("bytes=0-"));
        QCOMPARE(all[1].status, 206);
        QCOMPARE(all[1].bodyBytesSent, size);

        // What the engine saw of it.
        QVERIFY(job.serverLog().contains("416 Requested Range Not Satisfiable"));
        QVERIFY(job.serverLog().contains("Content-Range: bytes */300000"));
        QVERIFY(job.serverLog().contains("Content-Range: bytes 0-299999/300000"));
    }

    void resumeAfterTheFileWasCut_data()
    {
        QTest::addColumn<qint64>("cut");
        QTest::addColumn<int>("rollback");
        QTest::addColumn<bool>("secure");
        QTest::newRow("default rollback") << qint64(400000) << 4096 << false;
        QTest::newRow("large rollback") << qint64(777777) << 65536 << false;
        QTest::newRow("over tls") << qint64(500001) << 4096 << true;
    }

    void resumeAfterTheFileWasCut()
    {
        QFETCH(qint64, cut);
        QFETCH(int, rollback);
        const qint64 size = MiB;
        IntegrationRig rig;
        rig.settings.rollback = rollback;
        const QByteArray expected = writeRandomFile(rig.servedPath(QStringLiteral("cut.bin")), size);
        QFETCH(bool, secure);
        if (secure) {
            SUITE_NEED_CERTIFICATES();
            rig.nginx.setTls(certificates().good().certificate, certificates().good().key);
            rig.sockets = tlsFactory();
        }
        SUITE_START_SERVER(rig.nginx);
        const QString url = rig.nginx.url(QStringLiteral("/cut.bin"));

        rig.start(url);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.job->outcome().kind, TransferOutcome::Kind::Success);
        QVERIFY(rig.nginx.waitForRequests(2));
        {
            QFile saved(rig.savePath());
            QVERIFY(saved.resize(cut));
        }
        QVERIFY(sha256Of(rig.savePath()) != expected);

        TransferJob &job = rig.start(url, ExistingFile::Resume);
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(QFileInfo(rig.savePath()).size(), size);
        QCOMPARE(sha256Of(rig.savePath()), expected);

        // The resume point is the kept length less Rollback, as a position
        // counted from one: the first byte asked for (counted from zero) is
        // one before it. Nothing before it is fetched again.
        QVERIFY(rig.nginx.waitForRequests(5));
        const auto data = withAgent(rig.nginx.requests(), DataAgent);
        QCOMPARE(data.size(), 1);
        const qint64 first = cut - rollback - 1;
        QCOMPARE(data[0].range, "bytes=" + QByteArray::number(first) + "-" + QByteArray::number(size - 1));
        QCOMPARE(data[0].status, 206);
        QCOMPARE(data[0].bodyBytesSent, size - first);
    }

    void pauseAndResumeAgainstAThrottledServer()
    {
        const qint64 size = 800000;
        IntegrationRig rig;
        const QByteArray expected = writeRandomFile(rig.servedPath(QStringLiteral("slow.bin")), size);
        rig.nginx.setLimitRate(400000);
        SUITE_START_SERVER(rig.nginx);

        TransferJob &job = rig.start(rig.nginx.url(QStringLiteral("/slow.bin")));
        QTRY_VERIFY_WITH_TIMEOUT(job.progress().received >= 150000, 20000);
        job.pause();
        QCOMPARE(job.state(), TransferState::Paused);
        const qint64 at = job.progress().received;
        QVERIFY(at < size);
        // nginx logs the interrupted request once it saw the close.
        QVERIFY(rig.nginx.waitForRequests(2));
        QCOMPARE(job.progress().received, at);

        job.resume();
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(sha256Of(rig.savePath()), expected);

        // The interrupted reply was the probe's; the new request asks for the
        // rest from Rollback bytes before where the pause stopped.
        QVERIFY(rig.nginx.waitForRequests(3));
        const auto probes = withAgent(rig.nginx.requests(), ProbeAgent);
        QCOMPARE(probes.size(), 2);
        QVERIFY(probes[1].bodyBytesSent < size);
        const auto data = withAgent(rig.nginx.requests(), DataAgent);
        QCOMPARE(data.size(), 1);
        QCOMPARE(data[0].range, "bytes=" + QByteArray::number(at - 4096) + "-799999");
        QCOMPARE(data[0].status, 206);
        QCOMPARE(data[0].bodyBytesSent, size - (at - 4096));
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

        TransferJob &job = rig.start(rig.nginx.url(QStringLiteral("/via.bin")));
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(sha256Of(rig.savePath()), expected);

        // Every request went to the proxy in absolute form, and every request
        // nginx served came through it.
        QVERIFY(rig.nginx.waitForRequests(2));
        const auto served = rig.nginx.requests();
        QCOMPARE(served.size(), 2);
        for (const auto &r : served)
            QVERIFY2(r.via.contains("tinyproxy"), r.via.constData());
        const QByteArrayList proxied = proxy.requests();
        QCOMPARE(proxied.size(), 2);
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
        rig.settings.proxy.UseProxy = throughProxy;
        if (!proxyServerSet)
            rig.settings.proxy.ProxyServer.clear();
        rig.proxyLogin(QStringLiteral("alice"), QStringLiteral("s3cret"));

        TransferJob &job = rig.start(rig.nginx.url(QStringLiteral("/auth.bin")));
        QVERIFY(rig.waitFinished());
        // Through the proxy this only completes when the credentials reached it.
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(sha256Of(rig.savePath()), expected);
        QVERIFY(!job.serverLog().contains("s3cret"));

        const bool proxied = throughProxy && proxyServerSet;
        QVERIFY(rig.nginx.waitForRequests(2));
        const auto served = rig.nginx.requests();
        QCOMPARE(served.size(), 2);
        for (const auto &r : served) {
            QCOMPARE(r.proxyAuthorization, QByteArray("-"));
            QCOMPARE(r.via.contains("tinyproxy"), proxied);
        }
        QCOMPARE(proxy.requests().size(), proxied ? 2 : 0);
    }

    void refusedProxyLoginFailsVisibly_data()
    {
        QTest::addColumn<bool>("login");
        QTest::addColumn<bool>("usePass");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QByteArray>("proxyStatus");
        QTest::addColumn<QString>("captionId");
        QTest::addColumn<QString>("shown");
        // tinyproxy asks for credentials with 407 when none come, and turns
        // wrong ones away with 401.
        const QString proxyAuth = QStringLiteral("HTTP 407 - Proxy Authentication Required");
        const QString unauthorized = QStringLiteral("HTTP 401.x-You are not authorized to view this page");
        QTest::newRow("no login") << false << true << QStringLiteral("s3cret") << QByteArray("407")
                                  << QStringLiteral("13038") << proxyAuth;
        QTest::newRow("wrong password") << true << true << QStringLiteral("wrong") << QByteArray("401")
                                        << QStringLiteral("13034") << unauthorized;
        QTest::newRow("password left out") << true << false << QStringLiteral("s3cret") << QByteArray("401")
                                           << QStringLiteral("13034") << unauthorized;
    }

    void refusedProxyLoginFailsVisibly()
    {
        QFETCH(bool, login);
        QFETCH(bool, usePass);
        QFETCH(QString, password);
        QFETCH(QByteArray, proxyStatus);
        QFETCH(QString, captionId);
        QFETCH(QString, shown);
        IntegrationRig rig;
        QVERIFY(!writeRandomFile(rig.servedPath(QStringLiteral("denied.bin")), 5000).isEmpty());
        SUITE_START_SERVER(rig.nginx);
        TinyProxy proxy;
        proxy.setBasicAuth(QStringLiteral("alice"), QStringLiteral("s3cret"));
        SUITE_START_SERVER(proxy);
        rig.useProxy(proxy.port());
        rig.proxyLogin(QStringLiteral("alice"), password);
        rig.settings.proxy.LoginProxy = login;
        rig.settings.proxy.UsePass = usePass;

        TransferJob &job = rig.start(rig.nginx.url(QStringLiteral("/denied.bin")));
        QVERIFY(rig.waitFinished());
        QVERIFY2(job.serverLog().contains("HTTP/1.0 " + proxyStatus + ' '), job.serverLog().constData());
        QCOMPARE(job.outcome().failure, FailureKind::HttpStatus);
        QCOMPARE(job.outcome().code, proxyStatus.toInt());
        QCOMPARE(job.status().captionId, captionId);
        QCOMPARE(job.status().defaultText, shown);
        QCOMPARE(QFileInfo(rig.savePath()).size(), qint64(0));

        // The proxy saw the request and answered it itself: nothing went on
        // to nginx.
        QCOMPARE(proxy.requests().size(), 1);
        QCOMPARE(rig.nginx.requests().size(), 0);
    }

    // A server whose connections run at different speeds: the connections
    // that finish early take over halves of what the slow ones have left.
    void unevenServerKeepsEveryConnectionBusy()
    {
        const qint64 size = 32 * MiB;
        IntegrationRig rig;
        const QByteArray expected = writeRandomFile(rig.servedPath(QStringLiteral("uneven.bin")), size);
        rig.nginx.setUnevenRates(2 * 1000 * 1000, 20 * 1000 * 1000);
        SUITE_START_SERVER(rig.nginx);
        rig.settings.segment = true;
        rig.script = {{TransferQuestion::Kind::UseSegments, true}};

        QElapsedTimer clock;
        clock.start();
        TransferJob &job = rig.start(rig.nginx.url(QStringLiteral("/uneven.bin")));
        QVERIFY(rig.waitFinished(120000));
        qInfo("%lld bytes in %lld ms", size, clock.elapsed());
        QVERIFY(rig.questionsDone());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(sha256Of(rig.savePath()), expected);
        QVERIFY(!QFile::exists(rig.sidecarPath()));

        QVERIFY(rig.nginx.waitForRequests(7));
        const auto all = rig.nginx.requests();
        const qsizetype data = std::count_if(all.begin(), all.end(), isData);
        // Five data requests of the first plan (the probe carries the
        // first range), then the splits.
        QVERIFY2(data > 5, qPrintable(QString::number(data)));
    }

    void sixSegmentsBeatOneOnAThrottledServer()
    {
        const qint64 size = 21 * MiB;
        qint64 elapsed[2] = {0, 0};
        for (int segmented = 0; segmented < 2; ++segmented) {
            IntegrationRig rig;
            const QByteArray expected = writeRandomFile(rig.servedPath(QStringLiteral("big.bin")), size);
            rig.nginx.setLimitRate(6 * 1024 * 1024);
            SUITE_START_SERVER(rig.nginx);
            rig.settings.segment = segmented == 1;
            if (segmented)
                rig.script = {{TransferQuestion::Kind::UseSegments, true}};
            QElapsedTimer clock;
            clock.start();
            TransferJob &job = rig.start(rig.nginx.url(QStringLiteral("/big.bin")));
            QVERIFY(rig.waitFinished(60000));
            elapsed[segmented] = clock.elapsed();
            QVERIFY(rig.questionsDone());
            QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
            QCOMPARE(job.progress().connections, segmented ? 6 : 0);
            QCOMPARE(sha256Of(rig.savePath()), expected);
        }
        QVERIFY2(elapsed[1] < elapsed[0],
                 qPrintable(QStringLiteral("six segments %1 ms, one connection %2 ms").arg(elapsed[1]).arg(elapsed[0])));
    }

    void tlsCertificatesAreChecked_data()
    {
        QTest::addColumn<QString>("served"); // which certificate nginx shows
        QTest::addColumn<bool>("trustTestCa");
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<QString>("reason"); // part of the failure status

        QTest::newRow("good, issuer trusted") << "good" << true << true << "";
        QTest::newRow("good, issuer unknown") << "good" << false << false << "issuer";
        QTest::newRow("self-signed") << "selfsigned" << true << false << "self-signed";
        QTest::newRow("wrong host name") << "wronghost" << true << false << "host name";
        QTest::newRow("expired") << "expired" << true << false << "expired";
    }

    void tlsCertificatesAreChecked()
    {
        QFETCH(QString, served);
        QFETCH(bool, trustTestCa);
        QFETCH(bool, succeeds);
        SUITE_NEED_CERTIFICATES();
        const TestCertificates::Pair pair = served == QLatin1String("good") ? certificates().good()
            : served == QLatin1String("selfsigned")                        ? certificates().selfSigned()
            : served == QLatin1String("wronghost")                         ? certificates().wrongHost()
                                                                           : certificates().expired();
        const qint64 size = MiB + 77;
        IntegrationRig rig;
        const QByteArray expected = writeRandomFile(rig.servedPath(QStringLiteral("tls.bin")), size);
        rig.nginx.setTls(pair.certificate, pair.key);
        SUITE_START_SERVER(rig.nginx);
        rig.sockets = tlsFactory(trustTestCa);

        const QString url = rig.nginx.url(QStringLiteral("/tls.bin"));
        QVERIFY(url.startsWith(QLatin1String("https://")));
        TransferJob &job = rig.start(url);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.outcomes.size(), 1);
        if (succeeds) {
            QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
            QCOMPARE(sha256Of(rig.savePath()), expected);
            return;
        }
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Failure);
        QCOMPARE(job.outcome().failure, FailureKind::Certificate);
        const QString status = transferStatusText(job.status(), CaptionLookup());
        QVERIFY2(status.contains(QLatin1String("127.0.0.1")), qPrintable(status));
        QFETCH(QString, reason);
        QVERIFY2(status.contains(reason, Qt::CaseInsensitive), qPrintable(status));
        // Nothing was asked of the server and nothing written.
        QVERIFY(!QFile::exists(rig.savePath()));
        QVERIFY(rig.nginx.requests().isEmpty());
    }

    void redirectsCrossBetweenHttpAndHttps_data()
    {
        QTest::addColumn<bool>("startSecure");
        QTest::newRow("http to https") << false;
        QTest::newRow("https to http") << true;
    }

    void redirectsCrossBetweenHttpAndHttps()
    {
        QFETCH(bool, startSecure);
        SUITE_NEED_CERTIFICATES();
        const qint64 size = 300 * 1024 + 5;
        IntegrationRig rig; // serves the file over TLS
        const QByteArray expected = writeRandomFile(rig.servedPath(QStringLiteral("moved.bin")), size);
        QTemporaryDir plainRoot;
        QVERIFY(QFile::copy(rig.servedPath(QStringLiteral("moved.bin")), plainRoot.filePath(QStringLiteral("moved.bin"))));
        NginxServer plain(plainRoot.path());
        rig.nginx.setTls(certificates().good().certificate, certificates().good().key);
        // Ports are known before start, so each server can point at the other.
        SUITE_START_SERVER(plain);
        rig.nginx.addRedirect(QStringLiteral("/go"), plain.url(QStringLiteral("/moved.bin")));
        SUITE_START_SERVER(rig.nginx);
        rig.sockets = tlsFactory();

        NginxServer forward(plainRoot.path());
        forward.addRedirect(QStringLiteral("/go"), rig.nginx.url(QStringLiteral("/moved.bin")));
        if (!startSecure)
            SUITE_START_SERVER(forward);

        const QString from = startSecure ? rig.nginx.url(QStringLiteral("/go")) : forward.url(QStringLiteral("/go"));
        TransferJob &job = rig.start(from);
        QVERIFY(rig.waitFinished());
        QVERIFY2(job.outcome().kind == TransferOutcome::Kind::Success,
                 qPrintable(transferStatusText(job.status(), CaptionLookup())));
        QCOMPARE(job.progress().redirects, 1);
        QVERIFY2(job.currentUrl().startsWith(startSecure ? QLatin1String("http://") : QLatin1String("https://")),
                 qPrintable(job.currentUrl()));
        QCOMPARE(job.url().secure, !startSecure);
        QCOMPARE(sha256Of(rig.savePath()), expected);
    }

    void sixSegmentsOverTlsResumeOneSession()
    {
        SUITE_NEED_CERTIFICATES();
        const qint64 size = 24 * MiB + 3;
        IntegrationRig rig;
        const QByteArray expected = writeRandomFile(rig.servedPath(QStringLiteral("six.bin")), size);
        rig.nginx.setTls(certificates().good().certificate, certificates().good().key);
        rig.nginx.setLimitRate(8 * 1024 * 1024);
        SUITE_START_SERVER(rig.nginx);
        const auto factory = tlsFactory();
        rig.sockets = factory;
        rig.settings.segment = true;
        rig.script = {{TransferQuestion::Kind::UseSegments, true}};

        TransferJob &job = rig.start(rig.nginx.url(QStringLiteral("/six.bin")));
        QVERIFY(rig.waitFinished(60000));
        QVERIFY(rig.questionsDone());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(job.progress().connections, 6);
        QCOMPARE(sha256Of(rig.savePath()), expected);

        // One full handshake; every later connection offered the session,
        // and nginx resumed it for each data request.
        QCOMPARE(factory->fullHandshakes(), 1);
        QVERIFY(factory->resumedHandshakes() >= 5);
        QVERIFY(rig.nginx.waitForRequests(6));
        const auto all = rig.nginx.requests();
        const qsizetype data = std::count_if(all.begin(), all.end(), isData);
        QVERIFY(data >= 5);
        for (const auto &r : all) {
            if (isData(r))
                QVERIFY2(r.sessionReused, r.userAgent.constData());
        }
    }

    void httpsThroughAProxyTunnel_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("proxy login accepted") << "proxypass" << true;
        QTest::newRow("proxy login refused") << "wrongpass" << false;
    }

    void httpsThroughAProxyTunnel()
    {
        QFETCH(QString, password);
        QFETCH(bool, succeeds);
        SUITE_NEED_CERTIFICATES();
        const qint64 size = MiB + 9;
        IntegrationRig rig;
        const QByteArray expected = writeRandomFile(rig.servedPath(QStringLiteral("tunnel.bin")), size);
        rig.nginx.setTls(certificates().good().certificate, certificates().good().key);
        SUITE_START_SERVER(rig.nginx);
        TinyProxy proxy;
        proxy.setBasicAuth(QStringLiteral("proxyuser"), QStringLiteral("proxypass"));
        SUITE_START_SERVER(proxy);
        rig.useProxy(proxy.port());
        rig.proxyLogin(QStringLiteral("proxyuser"), password);
        rig.sockets = tlsFactory();

        TransferJob &job = rig.start(rig.nginx.url(QStringLiteral("/tunnel.bin")));
        QVERIFY(rig.waitFinished());
        if (!succeeds) {
            // The refusal names the proxy's answer; nothing reached the origin.
            QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Failure);
            QCOMPARE(job.outcome().failure, FailureKind::HttpStatus);
            // tinyproxy answers a tunnel with a wrong login 401, others 407.
            const int code = job.outcome().code;
            QVERIFY2(code == 401 || code == 407, qPrintable(QString::number(code)));
            const QString status = transferStatusText(job.status(), CaptionLookup());
            QVERIFY2(status.contains(QStringLiteral("tunnel to 127.0.0.1: HTTP %1").arg(code)), qPrintable(status));
            QVERIFY(!QFile::exists(rig.savePath()));
            QVERIFY(rig.nginx.requests().isEmpty());
            return;
        }
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(sha256Of(rig.savePath()), expected);

        // The proxy saw only tunnels; the origin saw origin-form requests
        // and never the proxy's credentials.
        const QByteArrayList proxied = proxy.requests();
        QVERIFY(!proxied.isEmpty());
        const QByteArray tunnel = "CONNECT 127.0.0.1:" + QByteArray::number(rig.nginx.port()) + " HTTP/1.1";
        for (const QByteArray &r : proxied)
            QCOMPARE(r, tunnel);
        QVERIFY(rig.nginx.waitForRequests(1));
        for (const auto &r : rig.nginx.requests()) {
            QCOMPARE(r.proxyAuthorization, QByteArray("-"));
            QVERIFY2(r.requestLine.startsWith("GET /tunnel.bin "), r.requestLine.constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestTransferIntegration)
#include "tst_transfer_integration.moc"
