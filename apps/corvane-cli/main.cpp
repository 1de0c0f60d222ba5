// corvane-cli: Corvane's FTP engine from the command line.
#include "config/cregister.h"
#include "ftpclient/clicommand.h"
#include "ftpclient/ftpcomponent.h"
#include "ftpclient/options.h"
#include "platform/tlssocketfactory.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-cli"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    const CliParse parsed = parseCliArguments(app.arguments().mid(1));
    if (!parsed.options) {
        err << "corvane-cli: " << parsed.error << "\n" << cliUsage();
        return 2;
    }
    CliOptions options = *parsed.options;
    if (options.help) {
        out << cliUsage();
        return 0;
    }

    // The synchronisation's comparison mode as Corvane's options store it.
    {
        Registry registry(Registry::defaultDirectory());
        const CRegister reg(registry);
        options.storedSyncBySize = syncBySize(reg);
    }

    // Certificates verify against the system's CAs and the --cacert files;
    // one that does not verify ends the run (nobody is asked to trust it).
    auto sockets = std::make_shared<TlsSocketFactory>();
    for (const QString &file : options.caCertificates) {
        QString why;
        if (!sockets->addCaFile(file, &why)) {
            err << "corvane-cli: --cacert " << file << ": " << why << "\n";
            return 2;
        }
    }
    FtpComponent component(sockets);
    return runCliCommand(options, component, out, err);
}
