// FTP downloads through a transfer job from a real vsftpd started on
// loopback by the test.
#include "ftpservers.h"
#include "realservers.h"
#include "transferrig.h"

#include "platform/registrystore.h"
#include "platform/tlssocketfactory.h"
#include "platform/truststore.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

namespace {

QByteArray randomBytes(qint64 size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (qint64 i = 0; i < size; ++i)
        data[i] = char(generator.generate() & 0xff);
    return data;
}

QByteArray sha256(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}

} // namespace

class TestFtpTransferIntegration : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void vsftpdDownloads_data()
    {
        QTest::addColumn<bool>("passive");
        QTest::addColumn<qint64>("cut"); // -1: a fresh download; else resume a file cut to this size
        QTest::newRow("active, fresh") << false << qint64(-1);
        QTest::newRow("passive, fresh") << true << qint64(-1);
        QTest::newRow("active, resumed") << false << qint64(700000);
        QTest::newRow("passive, resumed") << true << qint64(123457);
        QTest::newRow("passive, resumed short of rollback") << true << qint64(1000);
    }

    void vsftpdDownloads()
    {
        QFETCH(bool, passive);
        QFETCH(qint64, cut);
        VsftpdServer ftp;
        const QByteArray content = randomBytes(3 * 1024 * 1024 + 17, 7);
        QVERIFY(ftp.addFile(QStringLiteral("pub/data.bin"), content));
        SUITE_START_SERVER(ftp);

        TransferRig rig;
        rig.settings.passive = passive;
        if (cut >= 0) {
            QFile partial(rig.savePath());
            QVERIFY(partial.open(QIODevice::WriteOnly));
            // The last Rollback bytes are spoiled: the resume must fetch
            // them again.
            QByteArray saved = content.left(cut);
            for (qint64 i = std::max<qint64>(0, cut - 4096); i < cut; ++i)
                saved[i] = char(~saved[i]);
            partial.write(saved);
        }
        const QString url = QStringLiteral("ftp://127.0.0.1:%1/pub/data.bin").arg(ftp.port());
        TransferJob &job = rig.start(url, cut >= 0 ? ExistingFile::Resume : ExistingFile::Overwrite);
        QVERIFY(rig.waitFinished(60000));
        QVERIFY2(job.outcome().kind == TransferOutcome::Kind::Success, job.serverLog().right(2000).constData());
        QCOMPARE(rig.outcomes.size(), 1);
        QCOMPARE(sha256(rig.saved()), sha256(content));
        QCOMPARE(job.progress().size, qint64(content.size()));
        QVERIFY(ftp.log().contains(passive ? "PASV" : "PORT"));
        if (cut >= 0) {
            // REST goes back twice Rollback from the cut (never below 0).
            const qint64 rest = std::max<qint64>(0, cut - 2 * 4096 + 1);
            QVERIFY2(ftp.log().contains("REST " + QByteArray::number(cut > 4096 ? rest : 0)),
                     ftp.log().right(2000).constData());
        }
    }

    // ftps:// URLs: implicit TLS from the first byte, data connections in
    // TLS too. A certificate that does not verify is asked about as for
    // https: Yes downloads and remembers it, No fails without a file.
    void implicitTls_data()
    {
        QTest::addColumn<bool>("passive");
        QTest::addColumn<bool>("caTrusted");
        QTest::addColumn<int>("answer"); // -1: no question expected; else the answer (1: Yes)
        QTest::newRow("passive, CA trusted") << true << true << -1;
        QTest::newRow("active, CA trusted") << false << true << -1;
        QTest::newRow("unknown CA, Yes") << true << false << 1;
        QTest::newRow("unknown CA, No") << true << false << 0;
    }

    void implicitTls()
    {
        QFETCH(bool, passive);
        QFETCH(bool, caTrusted);
        QFETCH(int, answer);
        VsftpdServer ftp;
        ftp.setTls(VsftpdServer::Tls::Implicit);
        const QByteArray content = randomBytes(700 * 1024 + 3, 11);
        QVERIFY(ftp.addFile(QStringLiteral("pub/data.bin"), content));
        SUITE_START_SERVER(ftp);

        TransferRig rig;
        rig.settings.passive = passive;
        Registry registry(rig.dir.filePath(QStringLiteral("config")));
        const QString key = QStringLiteral("\\Software\\Tests\\TrustedCertificates");
        rig.trust = std::make_shared<TrustStore>(registry.root(RegistryRoot::LocalMachine), key);
        auto factory = std::make_shared<TlsSocketFactory>(rig.trust);
        if (caTrusted)
            QVERIFY(factory->addCaFile(ftp.caFile()));
        rig.sockets = factory;
        if (answer >= 0)
            rig.script.append({TransferQuestion::Kind::TrustCertificate, answer == 1});

        const QString url = QStringLiteral("ftps://127.0.0.1:%1/pub/data.bin").arg(ftp.port());
        TransferJob &job = rig.start(url);
        QVERIFY(rig.waitFinished(60000));
        QVERIFY(rig.questionsDone());
        QCOMPARE(rig.asked.size(), answer >= 0 ? 1 : 0);
        const QStringList remembered =
            registry.root(RegistryRoot::LocalMachine).valueNames(key + QStringLiteral("\\127.0.0.1"));
        QCOMPARE(remembered.size(), answer == 1 ? 1 : 0);
        if (answer == 0) {
            QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Failure);
            QCOMPARE(job.outcome().failure, FailureKind::Certificate);
            QVERIFY(!QFile::exists(rig.savePath()));
            return;
        }
        QVERIFY2(job.outcome().kind == TransferOutcome::Kind::Success, job.serverLog().right(2000).constData());
        QCOMPARE(sha256(rig.saved()), sha256(content));
        // Everything went over TLS: the data connections were protected.
        QVERIFY2(job.serverLog().contains("200 PROT now Private"), job.serverLog().right(2000).constData());
    }

    void vsftpdMissingFile()
    {
        VsftpdServer ftp;
        SUITE_START_SERVER(ftp);
        TransferRig rig;
        TransferJob &job = rig.start(QStringLiteral("ftp://127.0.0.1:%1/nothing.bin").arg(ftp.port()));
        QVERIFY(rig.waitFinished(30000));
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Failure);
        QCOMPARE(job.outcome().failure, FailureKind::FtpReply);
        QCOMPARE(job.outcome().code, 550);
        QVERIFY(job.outcome().serverText.startsWith("550"));
        QCOMPARE(job.status().captionId, QStringLiteral("11042"));
        QCOMPARE(job.status().defaultText, QStringLiteral("File Not Found"));
    }
};

QTEST_GUILESS_MAIN(TestFtpTransferIntegration)
#include "tst_ftptransfer_integration.moc"
