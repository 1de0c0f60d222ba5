#pragma once

#include <QString>
#include <QTemporaryDir>

// A test CA and server certificates made with the openssl program in a
// temporary directory: each a PEM certificate and its key file.
class TestCertificates {
public:
    struct Pair {
        QString certificate;
        QString key;
    };

    TestCertificates();

    static bool isInstalled();
    // Makes every certificate; false (and errorString) when openssl failed.
    bool generate();
    QString errorString() const { return m_error; }

    QString caFile() const { return path(QStringLiteral("ca.pem")); }
    // Signed by the CA for 127.0.0.1, ::1 and localhost.
    Pair good() const { return pair(QStringLiteral("good")); }
    // Signed by the CA for 127.0.0.1 too, but a different certificate.
    Pair other() const { return pair(QStringLiteral("other")); }
    // Signed by the CA for another host name only.
    Pair wrongHost() const { return pair(QStringLiteral("wronghost")); }
    // Signed by the CA for 127.0.0.1, expired since yesterday.
    Pair expired() const { return pair(QStringLiteral("expired")); }
    // Signed by itself for 127.0.0.1.
    Pair selfSigned() const { return pair(QStringLiteral("selfsigned")); }

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    Pair pair(const QString &name) const { return {path(name + ".pem"), path(name + ".key")}; }
    bool run(const QStringList &arguments);
    bool signedLeaf(const QString &name, const QString &altNames, int days);

    QTemporaryDir m_dir;
    QString m_error;
};
