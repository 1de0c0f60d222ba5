#include "testcertificates.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace {

const QString OpenSsl = QStringLiteral("openssl");

QStringList newKey(const QString &keyFile)
{
    return {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
            QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
            keyFile};
}

} // namespace

TestCertificates::TestCertificates() = default;

bool TestCertificates::isInstalled()
{
    return !QStandardPaths::findExecutable(OpenSsl).isEmpty();
}

bool TestCertificates::run(const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(OpenSsl, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = QStringLiteral("openssl %1: %2").arg(arguments.join(QLatin1Char(' ')),
                                                       QString::fromLocal8Bit(process.readAll()));
        if (process.state() != QProcess::NotRunning)
            process.kill();
        return false;
    }
    return true;
}

bool TestCertificates::signedLeaf(const QString &name, const QString &altNames, int days)
{
    const Pair p = pair(name);
    const QString csr = path(name + ".csr");
    const QString ext = path(name + ".ext");
    QFile file(ext);
    if (!file.open(QIODevice::WriteOnly) || file.write(("subjectAltName=" + altNames + "\n").toUtf8()) < 0)
        return false;
    file.close();
    return run(QStringList{QStringLiteral("req")} + newKey(p.key)
               + QStringList{QStringLiteral("-out"), csr, QStringLiteral("-subj"), "/O=Suite Tests/CN=" + name})
        && run({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), csr, QStringLiteral("-CA"),
                caFile(), QStringLiteral("-CAkey"), path(QStringLiteral("ca.key")), QStringLiteral("-CAcreateserial"),
                QStringLiteral("-out"), p.certificate, QStringLiteral("-days"), QString::number(days),
                QStringLiteral("-extfile"), ext});
}

bool TestCertificates::generate()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return false;
    }
    const QString here = QStringLiteral("IP:127.0.0.1,IP:::1,DNS:localhost");
    const Pair self = selfSigned();
    // A negative validity ends the certificate before it begins: expired.
    return run(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + newKey(path(QStringLiteral("ca.key")))
               + QStringList{QStringLiteral("-out"), caFile(), QStringLiteral("-days"), QStringLiteral("2"),
                             QStringLiteral("-subj"), QStringLiteral("/O=Suite Tests/CN=Suite Test CA")})
        && signedLeaf(QStringLiteral("good"), here, 2) && signedLeaf(QStringLiteral("other"), here, 2)
        && signedLeaf(QStringLiteral("wronghost"), QStringLiteral("DNS:elsewhere.example"), 2)
        && signedLeaf(QStringLiteral("expired"), here, -1)
        && run(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + newKey(self.key)
               + QStringList{QStringLiteral("-out"), self.certificate, QStringLiteral("-days"), QStringLiteral("2"),
                             QStringLiteral("-subj"), QStringLiteral("/O=Suite Tests/CN=selfsigned"),
                             QStringLiteral("-addext"), "subjectAltName=" + here});
}
