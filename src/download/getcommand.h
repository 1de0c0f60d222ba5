#pragma once

#include <QString>
#include <QStringList>

#include <optional>

struct SettingsRecord;

// The command-line front end: "tessel-get [options] URL PATH" downloads URL
// into PATH with the same engine and settings as Tessel.
struct GetOptions {
    QString url;
    QString path;
    std::optional<bool> segment;
    std::optional<bool> pasv;
    std::optional<int> rollback;
    std::optional<int> timeout;
    QStringList caCertificates; // PEM files of extra CAs to trust (--cacert)
    bool overwrite = false; // an existing file is resumed unless this is set
    bool help = false;

    // Applies the options to a settings record for this run only.
    void applyTo(SettingsRecord &record) const;
};

struct GetParse {
    std::optional<GetOptions> options;
    QString error; // why the arguments were refused
};

// Parses the arguments after the program name.
GetParse parseGetArguments(const QStringList &arguments);

QString getUsage();

// A one-line progress bar of the given width for a terminal.
QString progressLine(qint64 received, qint64 size, double bytesPerSecond, int width = 78);

// The last line of a run: "bytes=N seconds=S segments=K".
QString summaryLine(qint64 bytes, double seconds, int segments);
