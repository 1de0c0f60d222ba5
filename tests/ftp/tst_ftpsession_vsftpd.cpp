// The FTP session against a real vsftpd on loopback: login, folders,
// listings and byte-identical downloads in both data-connection modes, from
// the start and resumed.

#include "ftpservers.h"
#include "sessionrig.h"
#include "socksserver.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray randomBytes(qint64 size, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char(gen.bounded(256));
    return bytes;
}

} // namespace

class TestFtpSessionVsftpd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void folders()
    {
        VsftpdServer ftp;
        QVERIFY(ftp.addFile(QStringLiteral("pub/a b.txt"), "hello\n"));
        SUITE_START_SERVER(ftp);

        FtpSession session;
        SessionLog log(session);
        FtpConnectSettings settings = plainSettings(QStringLiteral("127.0.0.1"), ftp.port());
        settings.password = QStringLiteral("secret-mail@example.org");
        const FtpResult login = finish(session.connectToHost(settings));
        QVERIFY2(login.ok(), qPrintable(login.text));
        QCOMPARE(session.state(), FtpSession::State::Idle);
        QVERIFY(session.features().size);
        QVERIFY(session.features().restStream);
        QVERIFY(log.contains(QStringLiteral("PASS ****")));
        QVERIFY(!log.contains(settings.password));

        const FtpResult start = finish(session.printWorkingDirectory());
        QVERIFY2(start.ok(), qPrintable(start.text));
        QVERIFY(start.path.startsWith(QLatin1Char('/')));
        QVERIFY(finish(session.changeDirectory(QStringLiteral("pub"))).ok());
        const FtpResult here = finish(session.printWorkingDirectory());
        QVERIFY(here.path.endsWith(QStringLiteral("/pub")));

        const FtpResult names = finish(session.list(FtpSession::ListKind::Nlst));
        QVERIFY2(names.ok(), qPrintable(names.text));
        QVERIFY(names.listing.contains("a b.txt"));
        const FtpResult listing = finish(session.list(FtpSession::ListKind::List));
        QVERIFY(listing.listing.contains(" a b.txt\r\n"));
        const FtpResult size = finish(session.size(QStringLiteral("a b.txt")));
        QCOMPARE(size.size, qint64(6));
        const FtpResult missing = finish(session.changeDirectory(QStringLiteral("nowhere")));
        QCOMPARE(missing.failure, FtpFailure::Refused);
        QCOMPARE(missing.code, 550);
        QVERIFY(finish(session.changeToParent()).ok());
        QCOMPARE(finish(session.printWorkingDirectory()).path, start.path);

        QSignalSpy gone(&session, &FtpSession::disconnected);
        QVERIFY(finish(session.quit()).ok());
        QVERIFY(gone.count() == 1 || gone.wait(5000));
        QCOMPARE(session.state(), FtpSession::State::Disconnected);
    }

    void downloads_data()
    {
        QTest::addColumn<bool>("passive");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("offset");
        for (const bool passive : {true, false}) {
            const char *mode = passive ? "passive" : "active";
            QTest::newRow(QByteArray(mode).append(", 0 B").constData()) << passive << qint64(0) << qint64(0);
            QTest::newRow(QByteArray(mode).append(", 1 B").constData()) << passive << qint64(1) << qint64(0);
            QTest::newRow(QByteArray(mode).append(", 1 MiB").constData()) << passive << qint64(1 << 20) << qint64(0);
            QTest::newRow(QByteArray(mode).append(", 1 MiB resumed").constData())
                << passive << qint64(1 << 20) << qint64(300001);
        }
    }

    void downloads()
    {
        QFETCH(bool, passive);
        QFETCH(qint64, size);
        QFETCH(qint64, offset);
        VsftpdServer ftp;
        const QByteArray content = randomBytes(size, quint32(size + offset));
        QVERIFY(ftp.addFile(QStringLiteral("file.bin"), content));
        SUITE_START_SERVER(ftp);

        FtpSession session;
        QVERIFY(finish(session.connectToHost(plainSettings(QStringLiteral("127.0.0.1"), ftp.port(), passive))).ok());
        QByteArray received = content.left(offset);
        QBuffer sink(&received);
        QVERIFY(sink.open(QIODevice::ReadWrite));
        sink.seek(offset);
        qint64 lastDone = -1;
        FtpOperation *op = session.retrieve(QStringLiteral("file.bin"), offset, &sink);
        connect(op, &FtpOperation::progress, this, [&](qint64 done, qint64) { lastDone = done; });
        const FtpResult got = finish(op);
        QVERIFY2(got.ok(), qPrintable(got.text + QLatin1Char('\n') + QString::fromUtf8(ftp.log().right(1500))));
        QCOMPARE(got.size, size - offset);
        QCOMPARE(received.size(), content.size());
        QCOMPARE(QCryptographicHash::hash(received, QCryptographicHash::Sha256),
                 QCryptographicHash::hash(content, QCryptographicHash::Sha256));
        if (size > offset)
            QCOMPARE(lastDone, size - offset);
        QVERIFY(ftp.log().contains(passive ? "EPSV" : "PORT"));
        QCOMPARE(ftp.log().contains("\"REST "), offset > 0);
        // The session stays usable after the transfer.
        QVERIFY(finish(session.printWorkingDirectory()).ok());
    }

    // Abort in the middle of a download: the call ends Aborted at once, the
    // replies vsftpd still owes are consumed, and the session goes on.
    void abortDownload_data()
    {
        QTest::addColumn<bool>("passive");
        QTest::newRow("passive") << true;
        QTest::newRow("active") << false;
    }

    void abortDownload()
    {
        QFETCH(bool, passive);
        VsftpdServer ftp;
        const QByteArray content = randomBytes(32 << 20, 5);
        QVERIFY(ftp.addFile(QStringLiteral("big.bin"), content));
        SUITE_START_SERVER(ftp);
        FtpSession session;
        QVERIFY(finish(session.connectToHost(plainSettings(QStringLiteral("127.0.0.1"), ftp.port(), passive))).ok());

        QByteArray received;
        QBuffer sink(&received);
        QVERIFY(sink.open(QIODevice::WriteOnly));
        FtpOperation *op = session.retrieve(QStringLiteral("big.bin"), 0, &sink);
        QElapsedTimer sinceAbort;
        connect(op, &FtpOperation::progress, &session, [&](qint64 done, qint64) {
            if (done > 0 && !sinceAbort.isValid()) {
                sinceAbort.start();
                session.abort();
            }
        });
        const FtpResult r = finish(op);
        QCOMPARE(r.failure, FtpFailure::Aborted);
        QVERIFY(sinceAbort.isValid() && sinceAbort.elapsed() < 1000);
        QVERIFY(received.size() < content.size());
        QCOMPARE(session.state(), FtpSession::State::Idle);

        const FtpResult size = finish(session.size(QStringLiteral("big.bin")));
        QVERIFY2(size.ok(), qPrintable(size.text));
        QCOMPARE(size.size, qint64(content.size()));
        QByteArray again;
        QBuffer second(&again);
        QVERIFY(second.open(QIODevice::WriteOnly));
        const FtpResult whole = finish(session.retrieve(QStringLiteral("big.bin"), 0, &second), 60000);
        QVERIFY2(whole.ok(), qPrintable(whole.text));
        QVERIFY(again == content);
    }

    // Control and data connections through dante; active mode through the
    // proxy's BIND.
    void throughSocks_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("passive");
        QTest::newRow("SOCKS 4, passive") << int(ProxySettings::Type::Socks4) << true;
        QTest::newRow("SOCKS 5, passive") << int(ProxySettings::Type::Socks5) << true;
        QTest::newRow("SOCKS 4, active") << int(ProxySettings::Type::Socks4) << false;
        QTest::newRow("SOCKS 5, active") << int(ProxySettings::Type::Socks5) << false;
    }

    void throughSocks()
    {
        QFETCH(int, type);
        QFETCH(bool, passive);
        VsftpdServer ftp;
        const QByteArray content = randomBytes(1 << 20, 99);
        QVERIFY(ftp.addFile(QStringLiteral("file.bin"), content));
        SUITE_START_SERVER(ftp);
        DanteServer proxy;
        SUITE_START_SERVER(proxy);

        FtpSession session;
        SessionLog log(session);
        FtpConnectSettings settings = plainSettings(QStringLiteral("127.0.0.1"), ftp.port(), passive);
        settings.proxy.type = ProxySettings::Type(type);
        settings.proxy.host = QStringLiteral("127.0.0.1");
        settings.proxy.port = proxy.port();
        const FtpResult login = finish(session.connectToHost(settings));
        QVERIFY2(login.ok(), qPrintable(login.text + QLatin1Char('\n') + QString::fromUtf8(proxy.log().right(1500))));
        const FtpResult names = finish(session.list(FtpSession::ListKind::Nlst));
        QVERIFY2(names.ok(), qPrintable(names.text));
        QVERIFY(names.listing.contains("file.bin"));
        QByteArray received;
        QBuffer sink(&received);
        QVERIFY(sink.open(QIODevice::WriteOnly));
        const FtpResult got = finish(session.retrieve(QStringLiteral("file.bin"), 0, &sink));
        QVERIFY2(got.ok(), qPrintable(got.text));
        QCOMPARE(received, content);
        QVERIFY2(!log.contains(QStringLiteral("using passive mode")), qPrintable(log.lines.join(QLatin1Char('\n'))));
        QVERIFY(ftp.log().contains(passive ? "\"EPSV\"" : "\"PORT "));
        QVERIFY(!proxy.log().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFtpSessionVsftpd)
#include "tst_ftpsession_vsftpd.moc"
