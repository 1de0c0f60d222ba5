// The FTP component against vsftpd serving explicit FTPS with a certificate
// whose CA the client does not know: the trust question decides whether the
// connect fails or the certificate is remembered and the connect goes on.
#include "ftpclient/ftpcomponent.h"

#include "ftpservers.h"

#include "platform/registrystore.h"
#include "platform/tlssocketfactory.h"
#include "platform/truststore.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const QString Host = QStringLiteral("127.0.0.1");
const QString TrustKey = QStringLiteral("\\Software\\Corvane\\TrustedCertificates");

// A component over TLS sockets that check against one trust store, and the
// questions it asked. Each question is answered from the front of answers;
// one more question than answers fails the test.
struct TrustRig {
    QTemporaryDir dir;
    Registry registry{dir.filePath(QStringLiteral("config"))};
    std::shared_ptr<TrustStore> trust =
        std::make_shared<TrustStore>(registry.root(RegistryRoot::LocalMachine), TrustKey);
    FtpComponent ftp;
    QList<bool> answers;
    QList<TlsFailure> asked;

    explicit TrustRig(bool withStore)
        : ftp(std::make_shared<const TlsSocketFactory>(trust), withStore ? trust : nullptr)
    {
        ftp.timing = FtpTiming{5000ms, 5000ms, 5000ms};
        ftp.security = FtpSecurity::ExplicitTls;
        ftp.serverAddress = Host;
        QObject::connect(
            &ftp, &FtpComponent::certificateRejected, &ftp,
            [this](const TlsFailure &failure, bool *yes) {
                asked.append(failure);
                QVERIFY2(!answers.isEmpty(), "an unexpected certificate question");
                *yes = answers.takeFirst();
            },
            Qt::DirectConnection);
    }
    ~TrustRig()
    {
        if (ftp.currentState() != FtpComponent::NotConnected)
            ftp.disconnectFromServer();
    }
};

QByteArray sha256Of(const QString &pemFile)
{
    QFile f(pemFile);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QList<QSslCertificate> found = QSslCertificate::fromData(f.readAll(), QSsl::Pem);
    return found.isEmpty() ? QByteArray() : found.first().digest(QCryptographicHash::Sha256);
}

} // namespace

class TestFtpComponentTls : public QObject {
    Q_OBJECT

private:
    // Serves explicit FTPS with one of the test certificates; the client
    // is never given their CA, so none of them verifies.
    void configure(VsftpdServer &server, const TestCertificates::Pair &pair,
                   VsftpdServer::Tls mode = VsftpdServer::Tls::Explicit)
    {
        server.setTls(mode);
        server.setTlsRequired(true);
        server.setCertificate(pair.certificate, pair.key);
        server.addFile(QStringLiteral("top.txt"), "top level\n");
    }

    TestCertificates m_certificates;

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestCertificates::isInstalled())
            QSKIP("openssl is not installed");
        QVERIFY2(m_certificates.generate(), qPrintable(m_certificates.errorString()));
    }

    void untrustedCertificateAsks_data()
    {
        QTest::addColumn<bool>("implicit");
        QTest::addColumn<bool>("withStore");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("questions");
        QTest::newRow("no: the connect fails") << false << true << false << 1;
        QTest::newRow("yes: trusted and connected") << false << true << true << 1;
        QTest::newRow("implicit TLS, no") << true << true << false << 1;
        QTest::newRow("implicit TLS, yes") << true << true << true << 1;
        QTest::newRow("no trust store: nobody is asked") << false << false << true << 0;
    }

    void untrustedCertificateAsks()
    {
        QFETCH(bool, implicit);
        QFETCH(bool, withStore);
        QFETCH(bool, answer);
        QFETCH(int, questions);
        VsftpdServer server;
        configure(server, m_certificates.good(), implicit ? VsftpdServer::Tls::Implicit : VsftpdServer::Tls::Explicit);
        SUITE_START_SERVER(server);
        TrustRig rig(withStore);
        rig.ftp.security = implicit ? FtpSecurity::ImplicitTls : FtpSecurity::ExplicitTls;
        rig.ftp.serverPort = server.port();
        rig.answers = {answer};

        const bool connected = rig.ftp.connectToServer();
        QCOMPARE(rig.asked.size(), questions);
        const bool trusted = withStore && answer;
        QCOMPARE(connected, trusted);
        // The certificate asked about is the server's, for the host dialled.
        const QByteArray served = sha256Of(m_certificates.good().certificate);
        QVERIFY(!served.isEmpty());
        if (questions > 0) {
            QCOMPARE(rig.asked.first().host, Host);
            QVERIFY(rig.asked.first().certificate);
            QVERIFY(!rig.asked.first().errors.isEmpty());
            QCOMPARE(rig.asked.first().peer.sha256, served);
        }
        QCOMPARE(rig.trust->isTrusted(Host, served), trusted);
        if (!trusted) {
            QCOMPARE(rig.ftp.lastError().number, FtpErrors::TlsFailed);
            QCOMPARE(rig.ftp.currentState(), qint32(FtpComponent::NotConnected));
            return;
        }
        QCOMPARE(rig.ftp.currentState(), qint32(FtpComponent::Idle));
        QList<FtpListEntry> entries;
        QVERIFY2(rig.ftp.folderContents(QString(), entries), qPrintable(rig.ftp.lastError().description));
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().name, QStringLiteral("top.txt"));

        // Once trusted, a later connect asks nothing.
        QVERIFY(rig.ftp.disconnectFromServer());
        QVERIFY2(rig.ftp.connectToServer(), qPrintable(rig.ftp.lastError().description));
        QCOMPARE(rig.asked.size(), 1);
    }

    void changedCertificateAsksAgain()
    {
        const QByteArray firstPrint = sha256Of(m_certificates.good().certificate);
        const QByteArray secondPrint = sha256Of(m_certificates.other().certificate);
        QVERIFY(!firstPrint.isEmpty() && !secondPrint.isEmpty() && firstPrint != secondPrint);
        VsftpdServer first;
        configure(first, m_certificates.good());
        SUITE_START_SERVER(first);
        TrustRig rig(true);
        rig.ftp.serverPort = first.port();
        rig.answers = {true};
        QVERIFY2(rig.ftp.connectToServer(), qPrintable(rig.ftp.lastError().description));
        QVERIFY(rig.ftp.disconnectFromServer());

        // Another server on the same host with another certificate: the
        // trust given to the first one does not cover it.
        VsftpdServer second;
        configure(second, m_certificates.other());
        SUITE_START_SERVER(second);
        rig.ftp.serverPort = second.port();
        rig.answers = {false};
        QVERIFY(!rig.ftp.connectToServer());
        QCOMPARE(rig.asked.size(), 2);
        QCOMPARE(rig.asked.last().peer.sha256, secondPrint);
        QCOMPARE(rig.ftp.lastError().number, FtpErrors::TlsFailed);
        QVERIFY(rig.trust->isTrusted(Host, firstPrint));
        QVERIFY(!rig.trust->isTrusted(Host, secondPrint));
    }
};

QTEST_GUILESS_MAIN(TestFtpComponentTls)
#include "tst_ftpcomponent_tls.moc"
