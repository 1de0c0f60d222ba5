#include "platform/prompts.h"

QStringList filterToNameFilters(const QString &filter)
{
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts.at(i + 1);
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        QString description = parts.at(i);
        // "All Files(*.*)" already names its pattern; Qt wants it in brackets at the end.
        const qsizetype bracket = description.indexOf(QLatin1Char('('));
        if (bracket >= 0)
            description = description.left(bracket).trimmed();
        // "*.*" on this platform means every file, with or without a dot.
        if (patterns.trimmed() == QLatin1String("*.*"))
            patterns = QStringLiteral("*");
        result.append(description + QStringLiteral(" (") + patterns.trimmed() + QLatin1Char(')'));
    }
    return result;
}
