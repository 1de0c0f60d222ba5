// FTP downloads from a real vsftpd, and segmented HTTP downloads from a real
// nginx, both started on loopback by the test.
#include "ftpservers.h"
#include "jobrig.h"
#include "realservers.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
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

class TestFtpIntegration : public QObject {
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

        JobRig rig;
        rig.record.UsePASV = passive;
        if (cut >= 0) {
            QFile partial(rig.savePath());
            QVERIFY(partial.open(QIODevice::WriteOnly));
            partial.write(content.left(cut));
        }
        const QString url = QStringLiteral("ftp://127.0.0.1:%1/pub/data.bin").arg(ftp.port());
        DownloadJob &job = rig.start(url, cut >= 0 ? -1 : 0);
        QVERIFY(rig.waitFinished(60000));
        QVERIFY2(job.outcome() == DownloadJob::Outcome::Completed, qPrintable(job.display().status));
        QCOMPARE(sha256(rig.saved()), sha256(content));
        if (cut >= 0) {
            // REST goes back twice Rollback from the cut (never below 0).
            const qint64 rest = std::max<qint64>(0, cut - 2 * 4096 + 1);
            QVERIFY2(ftp.log().contains("REST " + QByteArray::number(cut > 4096 ? rest : 0)), ftp.log().right(2000).constData());
        }
        QCOMPARE(rig.record.Downloads, 1);
    }

    void vsftpdMissingFile()
    {
        VsftpdServer ftp;
        SUITE_START_SERVER(ftp);
        JobRig rig;
        DownloadJob &job = rig.start(QStringLiteral("ftp://127.0.0.1:%1/nothing.bin").arg(ftp.port()));
        QVERIFY(rig.waitFinished(30000));
        QCOMPARE(job.outcome(), DownloadJob::Outcome::Failed);
        QCOMPARE(job.display().status, QStringLiteral("File Not Found"));
    }

    void sixSegmentsBeatOneOnAThrottledServer()
    {
        QTemporaryDir root;
        const QByteArray content = randomBytes(21 * 1024 * 1024, 11);
        {
            QFile f(root.filePath(QStringLiteral("big.bin")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        NginxServer nginx(root.path());
        nginx.setLimitRate(6 * 1024 * 1024);
        SUITE_START_SERVER(nginx);

        qint64 elapsed[2] = {0, 0};
        for (int segmented = 0; segmented < 2; ++segmented) {
            JobRig rig;
            rig.record.Segment = segmented;
            if (segmented)
                rig.prompts.expectMessage(QStringLiteral("Use Segemnted?!"), PromptAnswer::Yes);
            QElapsedTimer clock;
            clock.start();
            DownloadJob &job = rig.start(nginx.url(QStringLiteral("/big.bin")));
            QVERIFY(rig.waitFinished(60000));
            elapsed[segmented] = clock.elapsed();
            QCOMPARE(job.outcome(), DownloadJob::Outcome::Completed);
            QCOMPARE(job.bytSegments(), segmented ? 6 : 0);
            QCOMPARE(sha256(rig.saved()), sha256(content));
        }
        QVERIFY2(elapsed[1] < elapsed[0],
                 qPrintable(QStringLiteral("six segments %1 ms, one connection %2 ms").arg(elapsed[1]).arg(elapsed[0])));
    }
};

QTEST_GUILESS_MAIN(TestFtpIntegration)
#include "tst_ftp_integration.moc"
