// The FTP session against pyftpdlib: a named user with a password, MLSD,
// UTF-8 names, uploads and downloads in both data-connection modes, IPv6.

#include "pyftpdserver.h"
#include "sessionrig.h"

#include <QBuffer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

class TestFtpSessionPyftpd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void session_data()
    {
        QTest::addColumn<bool>("passive");
        QTest::addColumn<bool>("ipv6");
        QTest::newRow("passive") << true << false;
        QTest::newRow("active") << false << false;
        QTest::newRow("passive, IPv6") << true << true;
        QTest::newRow("active, IPv6") << false << true;
    }

    void session()
    {
        QFETCH(bool, passive);
        QFETCH(bool, ipv6);
        PyftpdlibServer ftp;
        ftp.setIpv6(ipv6);
        ftp.addUser(QStringLiteral("alice"), QStringLiteral("s3cret pass"));
        const QString name = QStringLiteral("Grüße 文件.bin");
        const QByteArray content = randomBytes(1 << 20, 21);
        QVERIFY(ftp.addFile(QStringLiteral("alice"), QStringLiteral("pub/") + name, content));
        SUITE_START_SERVER(ftp);

        FtpSession session;
        SessionLog log(session);
        FtpConnectSettings settings
            = plainSettings(ipv6 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1"), ftp.port(), passive);
        settings.user = QStringLiteral("alice");
        settings.password = QStringLiteral("wrong");
        // The first password is refused; the owner gives the right one.
        int asked = 0;
        connect(&session, &FtpSession::passwordRejected, this, [&] {
            ++asked;
            session.providePassword(QStringLiteral("s3cret pass"));
        });
        const FtpResult login = finish(session.connectToHost(settings));
        QVERIFY2(login.ok(), qPrintable(login.text));
        QCOMPARE(asked, 1);
        QCOMPARE(session.peerAddress(), QHostAddress(ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost));
        QVERIFY(session.features().mlsd);
        // UTF8 offered: OPTS UTF8 ON goes out; pyftpdlib refuses it (it
        // always speaks UTF-8), which ends neither the login nor the names.
        QVERIFY(log.lines.contains(QStringLiteral("OPTS UTF8 ON")));
        QVERIFY(!session.features().utf8);
        QVERIFY(!log.contains(QStringLiteral("s3cret")));
        QVERIFY(!log.contains(QStringLiteral("wrong")));

        QVERIFY(finish(session.changeDirectory(QStringLiteral("pub"))).ok());
        const FtpResult facts = finish(session.list(FtpSession::ListKind::Mlsd));
        QVERIFY2(facts.ok(), qPrintable(facts.text));
        QVERIFY(facts.listing.contains(("; " + name).toUtf8()));
        QVERIFY(facts.listing.contains("size=1048576;"));

        QByteArray received;
        QBuffer sink(&received);
        QVERIFY(sink.open(QIODevice::WriteOnly));
        const FtpResult got = finish(session.retrieve(name, 0, &sink));
        QVERIFY2(got.ok(), qPrintable(got.text));
        QVERIFY(received == content);
        const FtpResult when = finish(session.modificationTime(name));
        QVERIFY2(when.ok(), qPrintable(when.text));
        QVERIFY(qAbs(when.modified.secsTo(QDateTime::currentDateTimeUtc())) < 3600);
        // Over IPv6 the data connections use the extended commands only.
        if (ipv6)
            QVERIFY(!log.lines.contains(QStringLiteral("PASV")) && !log.contains(QStringLiteral("PORT ")));

        // Upload, resume it, rename, delete; make and remove a folder.
        QByteArray upload = content.left(300000);
        QBuffer part(&upload);
        QVERIFY(part.open(QIODevice::ReadOnly));
        const FtpResult first = finish(session.store(&part, QStringLiteral("up.bin"), 0, false));
        QVERIFY2(first.ok(), qPrintable(first.text + QLatin1Char('\n') + log.lines.mid(log.lines.size() - 12).join(QLatin1Char('\n'))));
        QBuffer whole(const_cast<QByteArray *>(&content));
        QVERIFY(whole.open(QIODevice::ReadOnly));
        whole.seek(300000);
        const FtpResult resumed = finish(session.store(&whole, QStringLiteral("up.bin"), 300000, false));
        QVERIFY2(resumed.ok(), qPrintable(resumed.text));
        QFile stored(ftp.homePath(QStringLiteral("alice")) + QStringLiteral("/pub/up.bin"));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QVERIFY(stored.readAll() == content);
        QVERIFY(finish(session.rename(QStringLiteral("up.bin"), QStringLiteral("moved é.bin"))).ok());
        QCOMPARE(finish(session.size(QStringLiteral("moved é.bin"))).size, qint64(content.size()));
        QVERIFY(finish(session.deleteFile(QStringLiteral("moved é.bin"))).ok());
        QCOMPARE(finish(session.size(QStringLiteral("moved é.bin"))).failure, FtpFailure::Refused);
        const FtpResult made = finish(session.makeDirectory(QStringLiteral("new \"dir\"")));
        QVERIFY2(made.ok(), qPrintable(made.text));
        QVERIFY(finish(session.removeDirectory(QStringLiteral("new \"dir\""))).ok());

        QSignalSpy gone(&session, &FtpSession::disconnected);
        QVERIFY(finish(session.quit()).ok());
        QVERIFY(gone.count() == 1 || gone.wait(5000));
    }
};

QTEST_GUILESS_MAIN(TestFtpSessionPyftpd)
#include "tst_ftpsession_pyftpd.moc"
