#pragma once

#include <QString>

#include <optional>

// Conversions of stored setting texts, with the rules every reader shares:
// a flag is on for "True" (any case) or a number other than 0 and off for
// "False" or 0; numbers may be written with a decimal point.
namespace conv {

std::optional<bool> toBool(const QString &text);
std::optional<double> toNumber(const QString &text);
// A whole number in [min, max]; fractions are rounded to the nearest whole.
std::optional<qint64> toInteger(const QString &text, qint64 min, qint64 max);

// Numbers as the store writes them: shortest decimal form (300, not 300.0).
QString number(double value);

// Flag texts: check boxes store "1"/"0", option buttons "True"/"False".
inline QString boxText(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }
inline QString optionText(bool on) { return on ? QStringLiteral("True") : QStringLiteral("False"); }

} // namespace conv
