#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <functional>

// The error log "errorlog.txt": one record per failure, appended, in the
// quoted comma-separated form
//   "<CR LF>Date: <short date>","Time: <time>","<message>"<CR LF>
// Failures to write the log are ignored.
class ErrorLog {
public:
    using Clock = std::function<QDateTime()>;

    explicit ErrorLog(QString path, Clock clock = {}, QLocale locale = QLocale::system());

    QString path() const { return m_path; }
    void write(const QString &message) const;

    static QByteArray record(const QString &message, const QDateTime &when, const QLocale &locale);

private:
    QString m_path;
    Clock m_clock;
    QLocale m_locale;
};
