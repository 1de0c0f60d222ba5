#include "shell/errorlog.h"

#include <QFile>

ErrorLog::ErrorLog(QString path, Clock clock, QLocale locale)
    : m_path(std::move(path)), m_clock(std::move(clock)), m_locale(std::move(locale))
{
}

QByteArray ErrorLog::record(const QString &message, const QDateTime &when, const QLocale &locale)
{
    // The locale's long time format without its time-zone part.
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QLatin1Char('t'));
    timeFormat = timeFormat.trimmed();
    const QString text = QStringLiteral("\"\r\nDate: ") + locale.toString(when.date(), QLocale::ShortFormat)
                         + QStringLiteral("\",\"Time: ") + locale.toString(when.time(), timeFormat)
                         + QStringLiteral("\",\"") + message + QStringLiteral("\"\r\n");
    return text.toUtf8();
}

void ErrorLog::write(const QString &message) const
{
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    file.write(record(message, m_clock ? m_clock() : QDateTime::currentDateTime(), m_locale));
}
