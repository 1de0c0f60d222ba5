#include "testcertificates.h"

#include "platform/tlssocketfactory.h"
#include "platform/ui/qtprompts.h"
#include "queue/downloadmanager.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QSslCertificate>
#include <QTest>
#include <QTimer>

// The certificate question as a person sees it: a message box that shows
// the host, the reasons, subject, issuer, validity and SHA-256 fingerprint,
// where Yes trusts the certificate. With SUITE_SCREENSHOT_DIR set the box
// is saved as certificate-prompt.png.
class TestCertificatePrompt : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void promptShowsTheCertificateAndYesTrustsIt_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("yes") << "&Yes" << true;
        QTest::newRow("no") << "&No" << false;
    }

    void promptShowsTheCertificateAndYesTrustsIt()
    {
        QFETCH(QString, button);
        QFETCH(bool, trusted);
        if (!TestCertificates::isInstalled())
            QSKIP("openssl is not installed");
        TestCertificates certificates;
        QVERIFY2(certificates.generate(), qPrintable(certificates.errorString()));
        QFile pem(certificates.selfSigned().certificate);
        QVERIFY(pem.open(QIODevice::ReadOnly));
        const QList<QSslCertificate> found = QSslCertificate::fromData(pem.readAll(), QSsl::Pem);
        QCOMPARE(found.size(), 1);

        TransferQuestion q;
        q.kind = TransferQuestion::Kind::TrustCertificate;
        q.host = QStringLiteral("downloads.example.org");
        q.certificate = TlsSocketFactory::describe(found.first());
        q.errors = {QStringLiteral("The certificate is self-signed, and untrusted")};

        QString shown;
        bool screenshotSaved = false;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            shown = box->text();
            const QString out = qEnvironmentVariable("SUITE_SCREENSHOT_DIR");
            if (!out.isEmpty() && trusted) {
                QDir().mkpath(out);
                screenshotSaved = box->grab().save(out + QStringLiteral("/certificate-prompt.png"));
            }
            for (QAbstractButton *b : box->buttons()) {
                if (b->text() == button)
                    b->click();
            }
        });
        QtPrompts prompts;
        PromptAnswerer person(prompts, defaultCaptions(), QStringLiteral("Tessel"));
        QCOMPARE(person.answer(1, q), trusted);

        QVERIFY(shown.contains(QLatin1String("Valid until: ")));
        // The fingerprint's two lines are joined back for the checks.
        shown.replace(QLatin1Char('\n'), QLatin1Char(':'));
        for (const QString &part : {QStringLiteral("The certificate of downloads.example.org could not be verified"),
                                    QStringLiteral("self-signed, and untrusted"), QStringLiteral("Subject: selfsigned"),
                                    QStringLiteral("Issuer: selfsigned"), QStringLiteral("Valid from: "),
                                    q.certificate.fingerprintText(),
                                    QStringLiteral("Trust this certificate for downloads.example.org?")})
            QVERIFY2(shown.contains(part), qPrintable(shown));
        QVERIFY(!qEnvironmentVariableIsSet("SUITE_SCREENSHOT_DIR") || !trusted || screenshotSaved);
    }
};

QTEST_MAIN(TestCertificatePrompt)
#include "tst_certificateprompt.moc"
