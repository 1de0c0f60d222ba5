// The FTP session against a real vsftpd on loopback: byte-identical
// downloads and uploads in both data-connection modes, from the start and
// resumed, abort, and the way through a SOCKS proxy.

#include "ftpservers.h"
#include "sessionrig.h"
#include "socksserver.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

class TestFtpSessionVsftpd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Byte-identical downloads and uploads (into the writable area), whole
    // and resumed with REST, in both data-connection modes.
    void transfers_data()
    {
        QTest::addColumn<bool>("upload");
        QTest::addColumn<bool>("passive");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("offset"); // where the transfer resumes; 0: whole
        const std::pair<qint64, qint64> cases[] = {{0, 0}, {1, 0}, {1 << 20, 0}, {1 << 20, 300001}};
        for (const bool upload : {false, true}) {
            for (const bool passive : {true, false}) {
                for (const auto &[size, offset] : cases) {
                    QTest::addRow("%s, %s, %lld B from %lld", upload ? "upload" : "download",
                                  passive ? "passive" : "active", size, offset)
                        << upload << passive << size << offset;
                }
            }
        }
    }

    void transfers()
    {
        QFETCH(bool, upload);
        QFETCH(bool, passive);
        QFETCH(qint64, size);
        QFETCH(qint64, offset);
        VsftpdServer ftp;
        ftp.setWritableArea(true);
        QByteArray content = randomBytes(size, quint32(size + offset));
        const QString name = VsftpdServer::uploadFolder() + QStringLiteral("/file.bin");
        if (!upload)
            QVERIFY(ftp.addFile(name, content));
        SUITE_START_SERVER(ftp);
        FtpSession session;
        QVERIFY(finish(session.connectToHost(plainSettings(QStringLiteral("127.0.0.1"), ftp.port(), passive))).ok());

        // A resumed upload continues a first part this session sent; a
        // resumed download continues a local first part.
        QByteArray head = content.left(offset);
        QBuffer headBuffer(&head);
        QVERIFY(headBuffer.open(upload ? QIODevice::ReadOnly : QIODevice::ReadWrite));
        if (upload && offset > 0)
            QVERIFY(finish(session.store(&headBuffer, name, 0, false)).ok());
        QBuffer source(&content);
        QVERIFY(source.open(QIODevice::ReadOnly));
        source.seek(offset);
        headBuffer.seek(offset);
        qint64 lastDone = -1;
        FtpOperation *op = upload ? session.store(&source, name, offset, false) : session.retrieve(name, offset, &headBuffer);
        connect(op, &FtpOperation::progress, this, [&](qint64 done, qint64) { lastDone = done; });
        const FtpResult r = finish(op);
        QVERIFY2(r.ok(), qPrintable(r.text + QLatin1Char('\n') + QString::fromUtf8(ftp.log().right(1500))));
        QCOMPARE(r.size, size - offset);
        QFile stored(ftp.uploadPath() + QStringLiteral("/file.bin"));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        const QByteArray result = upload ? stored.readAll() : head;
        QCOMPARE(result.size(), content.size());
        QCOMPARE(QCryptographicHash::hash(result, QCryptographicHash::Sha256),
                 QCryptographicHash::hash(content, QCryptographicHash::Sha256));
        if (size > offset)
            QCOMPARE(lastDone, size - offset);
        QVERIFY(ftp.log().contains(passive ? "EPSV" : "PORT"));
        QCOMPARE(ftp.log().contains("\"REST "), offset > 0);
        // The session stays usable, and the server sees the whole file.
        QCOMPARE(finish(session.size(name)).size, size);
    }

    // Abort in the middle of a transfer: the call ends Aborted at once, the
    // replies vsftpd still owes are consumed, and the session goes on.
    void abortTransfer_data()
    {
        QTest::addColumn<bool>("passive");
        QTest::addColumn<bool>("upload");
        QTest::newRow("passive download") << true << false;
        QTest::newRow("active download") << false << false;
        QTest::newRow("passive upload") << true << true;
        QTest::newRow("active upload") << false << true;
    }

    void abortTransfer()
    {
        QFETCH(bool, passive);
        QFETCH(bool, upload);
        VsftpdServer ftp;
        ftp.setWritableArea(true);
        QByteArray content = randomBytes(32 << 20, 5);
        const QString name = VsftpdServer::uploadFolder() + QStringLiteral("/big.bin");
        QVERIFY(ftp.addFile(name, content));
        SUITE_START_SERVER(ftp);
        FtpSession session;
        QVERIFY(finish(session.connectToHost(plainSettings(QStringLiteral("127.0.0.1"), ftp.port(), passive))).ok());

        QByteArray received;
        QBuffer sink(&received);
        QBuffer source(&content);
        QVERIFY(upload ? source.open(QIODevice::ReadOnly) : sink.open(QIODevice::WriteOnly));
        FtpOperation *op = upload ? session.store(&source, name, 0, false) : session.retrieve(name, 0, &sink);
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

        // The session is in step: a reply left over from the aborted transfer
        // would answer this SIZE of a missing file with success.
        const FtpResult size = finish(session.size(QStringLiteral("README")));
        QCOMPARE(size.failure, FtpFailure::Refused);
        QByteArray again;
        QBuffer second(&again);
        QVERIFY(second.open(QIODevice::WriteOnly));
        const FtpResult whole = finish(session.retrieve(name, 0, &second), 60000);
        QVERIFY2(whole.ok(), qPrintable(whole.text));
        QCOMPARE(again.size(), upload ? qint64(QFile(ftp.uploadPath() + QStringLiteral("/big.bin")).size())
                                      : qint64(content.size()));
        if (!upload)
            QVERIFY(again == content);
    }

    // An abort as a command goes out (from the log line that shows it): the
    // command is not sent, and vsftpd's next replies pair with the commands
    // that asked for them.
    void abortAsCommandGoesOut_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::newRow("DELE") << QStringLiteral("DELE keep.txt");
        QTest::newRow("EPSV of a listing") << QStringLiteral("EPSV");
    }

    void abortAsCommandGoesOut()
    {
        QFETCH(QString, trigger);
        VsftpdServer ftp;
        ftp.setWritableArea(true);
        QVERIFY(ftp.addFile(VsftpdServer::uploadFolder() + QStringLiteral("/keep.txt"), "kept"));
        SUITE_START_SERVER(ftp);
        FtpSession session;
        QVERIFY(finish(session.connectToHost(plainSettings(QStringLiteral("127.0.0.1"), ftp.port()))).ok());
        QVERIFY(finish(session.changeDirectory(VsftpdServer::uploadFolder())).ok());
        bool fired = false;
        connect(&session, &FtpSession::logLine, &session, [&](const QString &line) {
            if (line == trigger && !fired) {
                fired = true;
                session.abort();
            }
        });
        FtpOperation *op = trigger == QLatin1String("EPSV") ? session.list(FtpSession::ListKind::List)
                                                            : session.deleteFile(QStringLiteral("keep.txt"));
        QCOMPARE(finish(op).failure, FtpFailure::Aborted);

        FtpOperation *pwd = session.printWorkingDirectory();
        FtpOperation *list = session.list(FtpSession::ListKind::Nlst);
        const FtpResult where = finish(pwd);
        QVERIFY2(where.ok(), qPrintable(where.text));
        QCOMPARE(where.path, QStringLiteral("/upload"));
        const FtpResult listing = finish(list);
        QVERIFY2(listing.ok(), qPrintable(listing.text));
        QCOMPARE(listing.listing.trimmed(), QByteArray("keep.txt"));
        QVERIFY(!ftp.log().contains("DELE"));
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
        ftp.setWritableArea(true);
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
        QBuffer source(&received);
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QString remote = VsftpdServer::uploadFolder() + QStringLiteral("/back.bin");
        const FtpResult put = finish(session.store(&source, remote, 0, false));
        QVERIFY2(put.ok(), qPrintable(put.text));
        QFile stored(ftp.uploadPath() + QStringLiteral("/back.bin"));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QVERIFY(stored.readAll() == content);
        QVERIFY2(!log.contains(QStringLiteral("using passive mode")), qPrintable(log.lines.join(QLatin1Char('\n'))));
        QVERIFY(ftp.log().contains(passive ? "\"EPSV\"" : "\"PORT "));
        QVERIFY(!proxy.log().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFtpSessionVsftpd)
#include "tst_ftpsession_vsftpd.moc"
