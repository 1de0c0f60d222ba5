// tessel-capture-host: the native-messaging host of Tessel's browser
// extension. The browser starts it, talks to it over standard input and
// output, and it hands URLs to the running Tessel (or starts Tessel).
#include "intake/capturehost.h"
#include "platform/programdir.h"

#include <QCoreApplication>
#include <QFile>

#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessel-capture-host"));
    // The browser passes the extension's origin (and on some systems a
    // window handle) as arguments; the host serves any of our extensions
    // the manifest admits, so they are not needed.
    // By descriptor, unbuffered: each answer reaches the browser as it is
    // written, while the browser keeps the pipe open for the next request.
    QFile in;
    QFile out;
    if (!in.open(STDIN_FILENO, QIODevice::ReadOnly | QIODevice::Unbuffered)
        || !out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered))
        return 1;
    const CaptureHost host(
        SystemCaptureHostServices(joinPath(QCoreApplication::applicationDirPath(), QStringLiteral("tessel"))));
    return host.run(in, out);
}
