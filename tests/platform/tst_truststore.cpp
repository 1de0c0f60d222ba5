#include "platform/registrystore.h"
#include "platform/truststore.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray print(const char *text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Sha256);
}

const QString Key = QStringLiteral("\\Software\\Tests\\TrustedCertificates");

} // namespace

class TestTrustStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void trustIsPerHostAndFingerprint_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QByteArray>("fingerprint");
        QTest::addColumn<bool>("trusted");

        QTest::newRow("the accepted one") << "files.example" << print("a") << true;
        QTest::newRow("host in other case") << "FILES.Example" << print("a") << true;
        QTest::newRow("changed certificate") << "files.example" << print("b") << false;
        QTest::newRow("same certificate, other host") << "other.example" << print("a") << false;
        QTest::newRow("empty fingerprint") << "files.example" << QByteArray() << false;
        QTest::newRow("empty host") << "" << print("a") << false;
        QTest::newRow("separator in host") << "files.example\\x" << print("a") << false;
    }

    void trustIsPerHostAndFingerprint()
    {
        QFETCH(QString, host);
        QFETCH(QByteArray, fingerprint);
        QFETCH(bool, trusted);
        QTemporaryDir dir;
        {
            RegistryStore store(dir.filePath(QStringLiteral("reg")));
            TrustStore trust(store, Key);
            QVERIFY(!trust.isTrusted(QStringLiteral("files.example"), print("a")));
            QVERIFY(trust.trust(QStringLiteral("files.example"), print("a")));
            QVERIFY(!trust.trust(QString(), print("a")));
            QCOMPARE(trust.isTrusted(host, fingerprint), trusted);
        }
        // Remembered in the settings file: a new store over it agrees.
        RegistryStore again(dir.filePath(QStringLiteral("reg")));
        QCOMPARE(TrustStore(again, Key + QLatin1Char('\\')).isTrusted(host, fingerprint), trusted);
    }
};

QTEST_GUILESS_MAIN(TestTrustStore)
#include "tst_truststore.moc"
