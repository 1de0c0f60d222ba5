#include "config/conversions.h"

#include <QLocale>

#include <cmath>

namespace conv {

std::optional<double> toNumber(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    bool ok = false;
    const double value = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<bool> toBool(const QString &text)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    const auto n = toNumber(t);
    if (!n)
        return std::nullopt;
    return *n != 0.0;
}

std::optional<qint64> toInteger(const QString &text, qint64 min, qint64 max)
{
    const auto n = toNumber(text);
    if (!n)
        return std::nullopt;
    const double rounded = std::nearbyint(*n);
    if (rounded < double(min) || rounded > double(max))
        return std::nullopt;
    return qint64(rounded);
}

QString number(double value)
{
    if (value == 0.0)
        return QStringLiteral("0");
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

} // namespace conv
