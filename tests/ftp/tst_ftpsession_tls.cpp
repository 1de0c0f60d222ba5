// FTPS against vsftpd: explicit and implicit TLS, data connections that
// resume the control connection's TLS session (vsftpd insists), downloads
// and uploads byte for byte, and a certificate that does not verify.

#include "ftpservers.h"
#include "sessionrig.h"

#include "platform/tlssocketfactory.h"

#include <QBuffer>
#include <QFile>
#include <QTest>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestFtpSessionTls : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void transfers_data()
    {
        QTest::addColumn<bool>("implicit");
        QTest::addColumn<bool>("passive");
        QTest::addColumn<bool>("ipv6");
        QTest::addColumn<bool>("trusted"); // the test CA is trusted
        QTest::newRow("explicit, passive") << false << true << false << true;
        QTest::newRow("explicit, active") << false << false << false << true;
        QTest::newRow("explicit, active, IPv6") << false << false << true << true;
        QTest::newRow("implicit, passive") << true << true << false << true;
        QTest::newRow("implicit, passive, IPv6") << true << true << true << true;
        QTest::newRow("explicit, untrusted") << false << true << false << false;
        QTest::newRow("implicit, untrusted") << true << true << false << false;
    }

    // Transfers byte for byte; a certificate that does not verify ends the
    // connection before anything is logged in.

    void transfers()
    {
        QFETCH(bool, implicit);
        QFETCH(bool, passive);
        QFETCH(bool, ipv6);
        QFETCH(bool, trusted);
        VsftpdServer ftp;
        ftp.setTls(implicit ? VsftpdServer::Tls::Implicit : VsftpdServer::Tls::Explicit);
        ftp.setWritableArea(true);
        ftp.setIpv6(ipv6);
        const QByteArray content = randomBytes((1 << 20) + 3, 11);
        QVERIFY(ftp.addFile(QStringLiteral("file.bin"), content));
        SUITE_START_SERVER(ftp);

        auto factory = std::make_shared<TlsSocketFactory>();
        if (trusted)
            QVERIFY(factory->addCaFile(ftp.caFile()));
        FtpSession session;
        SessionLog log(session);
        FtpConnectSettings settings
            = plainSettings(ipv6 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1"), ftp.port(), passive);
        settings.security = implicit ? FtpSecurity::ImplicitTls : FtpSecurity::ExplicitTls;
        settings.sockets = factory;
        const FtpResult login = finish(session.connectToHost(settings));
        if (!trusted) {
            QCOMPARE(login.failure, FtpFailure::Tls);
            QVERIFY(login.tls.has_value());
            QVERIFY(login.tls->certificate);
            QVERIFY(!login.tls->peer.isNull());
            QCOMPARE(login.tls->host, QStringLiteral("127.0.0.1"));
            QCOMPARE(session.state(), FtpSession::State::Disconnected);
            QVERIFY(!log.contains(QStringLiteral("USER")));
            return;
        }
        QVERIFY2(login.ok(), qPrintable(login.text + QLatin1Char('\n') + QString::fromUtf8(ftp.log().right(1500))));
        QCOMPARE(log.lines.contains(QStringLiteral("AUTH TLS")), !implicit);
        QVERIFY(log.contains(QStringLiteral("PROT P")));

        const FtpResult names = finish(session.list(FtpSession::ListKind::Nlst));
        QVERIFY2(names.ok(), qPrintable(names.text + QLatin1Char('\n') + QString::fromUtf8(ftp.log().right(1500))));
        QVERIFY(names.listing.contains("file.bin"));

        QByteArray received;
        QBuffer sink(&received);
        QVERIFY(sink.open(QIODevice::WriteOnly));
        const FtpResult got = finish(session.retrieve(QStringLiteral("file.bin"), 0, &sink));
        QVERIFY2(got.ok(), qPrintable(got.text));
        QVERIFY(received == content);
        // Every data connection resumed the control connection's session.
        QVERIFY(factory->resumedHandshakes() >= 2);

        QByteArray upload = content.left(100001);
        QBuffer source(&upload);
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QString remote = VsftpdServer::uploadFolder() + QStringLiteral("/up.bin");
        const FtpResult put = finish(session.store(&source, remote, 0, false));
        QVERIFY2(put.ok(), qPrintable(put.text));
        QVERIFY(readAll(ftp.uploadPath() + QStringLiteral("/up.bin")) == upload);
    }
};

QTEST_GUILESS_MAIN(TestFtpSessionTls)
#include "tst_ftpsession_tls.moc"
