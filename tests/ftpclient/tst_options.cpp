// Corvane's options: the defaults and the readers' rules, and the firewall as the next connect
// uses it (the first bytes the proxy receives name the SOCKS version).
#include "ftpclient/options.h"

#include "config/cregister.h"
#include "fakeserver.h"
#include "ftpclient/ftpcomponent.h"
#include "platform/tlssocketfactory.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Store {
    QTemporaryDir dir;
    Registry registry{dir.filePath(QStringLiteral("config"))};
    CRegister reg{registry};
    QString value(const QString &key) const
    {
        return reg.REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection, key, QStringLiteral("<none>"));
    }
    void set(const QString &key, const QString &value)
    {
        reg.REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection, key, value);
    }
};

} // namespace

class TestOptions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void nothingStoredReadsTheDefaults()
    {
        Store s;
        const CorvaneOptions o = CorvaneOptions::load(s.reg);
        QCOMPARE(QStringList({QString::number(o.addToStartup), o.logFileName, QString::number(o.deleteLogOnStartup),
                              QString::number(o.deleteLogIfSizeExceeds), o.logFileSize, o.autoModeTypes.join(u';'),
                              QString::number(o.firewallUse), o.firewallPort, o.firewallType, o.language,
                              QString::number(o.syncBySize)})
                     .join(u'|'),
                 QStringLiteral("0|FTP.LOG|1|0|1000|txt;htm;html;php;cgi;asp;ini;inf;log|0|1080|SOCKS 4|English.ini|0"));
    }

    void readersFollowTheStoredTexts_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("on");
        QTest::newRow("True") << OptionKeys::DeleteLogIfSizeExceeds << "True" << true;
        QTest::newRow("true any case") << OptionKeys::DeleteLogIfSizeExceeds << "TRUE" << true;
        QTest::newRow("non-zero number") << OptionKeys::DeleteLogIfSizeExceeds << "-1" << true;
        QTest::newRow("False") << OptionKeys::DeleteLogOnStartup << "False" << false;
        QTest::newRow("zero") << OptionKeys::DeleteLogOnStartup << "0" << false;
        QTest::newRow("word") << OptionKeys::DeleteLogOnStartup << "yes" << false;
        QTest::newRow("firewall 1") << OptionKeys::FirewallUse << "1" << true;
        QTest::newRow("firewall True is not 1") << OptionKeys::FirewallUse << "True" << false;
        QTest::newRow("firewall 2 is not 1") << OptionKeys::FirewallUse << "2" << false;
        QTest::newRow("sync 1") << OptionKeys::DirSyncBySize << "1" << true;
        QTest::newRow("sync True is not 1") << OptionKeys::DirSyncBySize << "True" << false;
    }
    void readersFollowTheStoredTexts()
    {
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QFETCH(bool, on);
        Store s;
        s.set(key, stored);
        const CorvaneOptions o = CorvaneOptions::load(s.reg);
        const bool read = key == OptionKeys::DeleteLogIfSizeExceeds ? o.deleteLogIfSizeExceeds
                          : key == OptionKeys::DeleteLogOnStartup   ? o.deleteLogOnStartup
                          : key == OptionKeys::FirewallUse          ? o.firewallUse
                                                                    : syncBySize(s.reg);
        QCOMPARE(read, on);
    }

    void emptyExtensionListReadsBackAsTheDefault()
    {
        Store s;
        CorvaneOptions o;
        o.autoModeTypes.clear();
        o.save(s.reg);
        QCOMPARE(loadAsciiExtensions(s.reg).join(u';'), OptionDefaults::AutoModeTypes);
        s.set(OptionKeys::AutoModeTypes, QStringLiteral("a;;B;"));
        QCOMPARE(loadAsciiExtensions(s.reg), (QStringList{QStringLiteral("a"), QStringLiteral("B")}));
    }

    // The stored firewall reaches the component at the next connect: the
    // proxy sees the SOCKS version's first byte, or nothing when the
    // firewall is off.
    void storedFirewallReachesTheNextConnect_data()
    {
        QTest::addColumn<QString>("use");
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("proxyType");
        QTest::newRow("SOCKS 5") << "1" << "SOCKS 5" << 5;
        QTest::newRow("SOCKS 4") << "1" << "SOCKS 4" << 4;
        QTest::newRow("other text is SOCKS 5") << "1" << "socks 4" << 5;
        QTest::newRow("off") << "0" << "SOCKS 5" << 0;
    }
    void storedFirewallReachesTheNextConnect()
    {
        QFETCH(QString, use);
        QFETCH(QString, type);
        QFETCH(int, proxyType);
        FakeServer proxy;
        proxy.setTerminator(QByteArray(1, '\0'));
        // No acceptable method (SOCKS 5) or request rejected (SOCKS 4): the
        // connect ends at once.
        proxy.setResponder([](FakeConnection &c, const QByteArray &) {
            return FakePlan().send(c.received().startsWith('\x05') ? QByteArray("\x05\xff", 2)
                                                                    : QByteArray("\x00\x5b\0\0\0\0\0\0", 8)).close();
        });
        FakeServer ftp; // the direct target when the firewall is off
        ftp.setTerminator("\r\n");
        ftp.setGreeting(FakePlan().send("421 Busy\r\n").close());

        Store s;
        CorvaneOptions o;
        o.firewallUse = use == QLatin1String("1");
        o.firewallHost = QStringLiteral("127.0.0.1");
        o.firewallPort = QString::number(proxy.port());
        o.firewallUser = QStringLiteral("bob");
        o.firewallPassword = QStringLiteral("pw");
        o.firewallType = type;
        o.save(s.reg);
        s.set(OptionKeys::FirewallUse, use);

        FtpComponent c(std::make_shared<TlsSocketFactory>());
        c.proxyType = 4; // whatever was there before is replaced
        applyFirewallOptions(s.reg, c);
        QCOMPARE(c.proxyType, proxyType);
        c.serverAddress = QStringLiteral("127.0.0.1");
        c.serverPort = ftp.port();
        QVERIFY(!c.connectToServer());
        if (proxyType == 0) {
            QCOMPARE(proxy.connectionCount(), 0);
            QCOMPARE(c.proxyPort, quint16(1080));
            QVERIFY(c.proxyHost.isEmpty() && c.proxyUserName.isEmpty() && c.proxyPassword.isEmpty());
            QCOMPARE(ftp.connectionCount(), 1);
        } else {
            QCOMPARE(proxy.connectionCount(), 1);
            QCOMPARE(int(proxy.connection(0)->received().at(0)), proxyType);
            QCOMPARE(ftp.connectionCount(), 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestOptions)
#include "tst_options.moc"
