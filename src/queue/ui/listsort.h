#pragma once

#include <QLocale>
#include <QString>

#include <optional>

// How the rows of the download list are ordered by a column.
//
// The progress, size and received columns order by the value their text
// stands for: "9.50 KB" comes before "10.00 KB", and "999 Bytes" before
// "1.00 KB". A text that stands for no value ("N/A", a status message)
// comes before every value. The other columns order by their text, ignoring
// case.

// The value of a progress text ("42%", "0 %"); nothing when it is no percentage.
std::optional<double> percentValue(const QString &text);

// The number of bytes a size text stands for ("512 Bytes", "9.50 KB",
// "1,234.56 MB"), read with the locale the text was written in (or the C
// locale); nothing when it is no size.
std::optional<double> sizeValue(const QString &text, const QLocale &locale = QLocale());

// True for the columns that order by value.
bool sortsByValue(int column);

// Negative, zero or positive as text a orders before, with or after text b
// in column.
int compareListCells(int column, const QString &a, const QString &b, const QLocale &locale = QLocale());
