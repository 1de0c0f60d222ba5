#pragma once

// corvane-cli: the FTP component from the command line. The arguments are
// parsed into a plain struct by a pure function; the runner carries out one
// command on a component and never asks a person anything.

#include "ftp/ftpsession.h"

#include <QString>
#include <QStringList>

#include <optional>

class FtpComponent;
class QTextStream;

struct CliOptions {
    bool passive = true;
    bool ascii = false;
    FtpSecurity security = FtpSecurity::Plain;
    QStringList caCertificates;
    int proxyType = 0; // 0 none, 4 SOCKS 4, 5 SOCKS 5
    QString proxyHost;
    quint16 proxyPort = 0;
    QString proxyUser, proxyPassword;

    QString host;
    quint16 port = 21;
    QString user;     // empty: anonymous
    QString password;
    QString folder;   // made current after the login; empty: none

    QString command;  // ls get put rm mkdir rmdir rename quote sync-local sync-remote
    bool resume = false;
    bool recursive = false;
    // sync-local / sync-remote: --by-size (true) or --by-date (false); the
    // stored comparison mode when neither was given.
    std::optional<bool> syncBySize;
    bool storedSyncBySize = false;
    QStringList arguments;
    bool help = false;
};

struct CliParse {
    std::optional<CliOptions> options;
    QString error; // why the arguments were refused
};

// Parses the arguments after the program name.
CliParse parseCliArguments(const QStringList &arguments);

QString cliUsage();

// Applies the connection options to a component.
void applyCliOptions(const CliOptions &options, FtpComponent &component);

// Connects, runs the command, disconnects. Listings and replies go to out,
// the reason of a failure to err. Returns the exit code: 0 on success.
int runCliCommand(const CliOptions &options, FtpComponent &component, QTextStream &out, QTextStream &err);
