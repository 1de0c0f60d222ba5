#pragma once

// Corvane's transfer log: every line of the message list, appended to a
// text file in the "log" folder of the program directory. The file is named
// after the base name of the stored LOG FILE NAME with ".log"; each message
// is two lines, "#yyyy-MM-dd hh:mm:ss#" in local time and the message in
// double quotes, each ended by CR LF, in UTF-8. The file and its folder are
// made readable by the owner only; the component has already masked any
// password in the lines it reports, and the writer writes them as given.

#include <QDateTime>
#include <QString>

#include <functional>

class CRegister;

class TransferLog {
public:
    using Clock = std::function<QDateTime()>;

    // reg may be null: the default name applies.
    TransferLog(QString programDir, const CRegister *reg, Clock clock = {});

    QString folderPath() const;
    // Reads LOG FILE NAME now, so a name saved in the options applies to the
    // next message.
    QString filePath() const;

    // Appends one record; false with the reason in *error when the file
    // could not be written (the message is then not logged).
    bool write(const QString &message, QString *error = nullptr) const;

    // The bytes of one record.
    static QByteArray record(const QDateTime &localTime, const QString &message);
    // "transfers.txt" -> "transfers.log"; a name without a usable base gives
    // "FTP.log". Folders in the name are ignored: the log stays in "log".
    static QString fileNameFor(const QString &logFileName);

    // Start-up maintenance, once before the component is set up: with
    // DELETE LOG ON STARTUP on (the default), the whole "log" folder goes;
    // otherwise, with DELETE LOG IF SIZE EXCEEDS on, a log longer than LOG
    // FILE SIZE bytes goes, and then the folder when nothing else is in it.
    // A missing file or folder is no error; any other failure is returned.
    // errorNumber receives the file error's number.
    static bool maintain(const QString &programDir, const CRegister &reg, QString *error = nullptr,
                         int *errorNumber = nullptr);

private:
    QString m_programDir;
    const CRegister *m_reg;
    Clock m_clock;
};
