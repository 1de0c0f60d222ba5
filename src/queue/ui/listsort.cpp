#include "queue/ui/listsort.h"

#include "download/downloadlist.h"

namespace {

std::optional<double> readNumber(QString text, const QLocale &locale)
{
    text = text.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    bool ok = false;
    double value = locale.toDouble(text, &ok);
    if (!ok)
        value = QLocale::c().toDouble(text, &ok);
    if (!ok)
        return std::nullopt;
    return value;
}

int compareText(const QString &a, const QString &b)
{
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    return folded != 0 ? folded : QString::compare(a, b, Qt::CaseSensitive);
}

int compareValues(const std::optional<double> &a, const std::optional<double> &b)
{
    if (a.has_value() != b.has_value())
        return a.has_value() ? 1 : -1; // a text without a value comes first
    if (!a.has_value())
        return 0;
    if (*a < *b)
        return -1;
    return *a > *b ? 1 : 0;
}

} // namespace

std::optional<double> percentValue(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (!trimmed.endsWith(QLatin1Char('%')))
        return std::nullopt;
    return readNumber(trimmed.chopped(1), QLocale::c());
}

std::optional<double> sizeValue(const QString &text, const QLocale &locale)
{
    struct Unit {
        QLatin1String suffix;
        double factor;
    };
    static constexpr Unit units[] = {
        {QLatin1String(" Bytes"), 1.0},
        {QLatin1String(" KB"), 1024.0},
        {QLatin1String(" MB"), 1048576.0},
    };
    for (const Unit &unit : units) {
        if (text.endsWith(unit.suffix)) {
            const std::optional<double> number = readNumber(text.chopped(unit.suffix.size()), locale);
            if (!number)
                return std::nullopt;
            return *number * unit.factor;
        }
    }
    return std::nullopt;
}

bool sortsByValue(int column)
{
    return column == DownloadListModel::Progress || column == DownloadListModel::Size
        || column == DownloadListModel::Received;
}

int compareListCells(int column, const QString &a, const QString &b, const QLocale &locale)
{
    int order = 0;
    if (column == DownloadListModel::Progress)
        order = compareValues(percentValue(a), percentValue(b));
    else if (column == DownloadListModel::Size || column == DownloadListModel::Received)
        order = compareValues(sizeValue(a, locale), sizeValue(b, locale));
    // Equal values (and texts without values) fall back to their text, so
    // the order is the same whatever order the rows were in.
    return order != 0 ? order : compareText(a, b);
}
