#include "download/getcommand.h"

#include "config/settingsrecord.h"
#include "download/urlmodel.h"


void GetOptions::applyTo(SettingsRecord &record) const
{
    if (segment)
        record.Segment = *segment ? 1 : 0;
    if (pasv)
        record.UsePASV = *pasv;
    if (rollback)
        record.Rollback = *rollback;
    if (timeout)
        record.Timeout = *timeout;
}

namespace {

std::optional<int> wholeNumber(const QString &text, int min, int max)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

} // namespace

GetParse parseGetArguments(const QStringList &arguments)
{
    GetOptions o;
    QStringList positional;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        const auto value = [&](const char *name) -> std::optional<QString> {
            if (i + 1 >= arguments.size())
                return std::nullopt;
            Q_UNUSED(name);
            return arguments.at(++i);
        };
        if (a == QLatin1String("--segment")) {
            o.segment = true;
        } else if (a == QLatin1String("--no-segment")) {
            o.segment = false;
        } else if (a == QLatin1String("--pasv")) {
            o.pasv = true;
        } else if (a == QLatin1String("--no-pasv")) {
            o.pasv = false;
        } else if (a == QLatin1String("--overwrite")) {
            o.overwrite = true;
        } else if (a == QLatin1String("--cacert")) {
            const auto file = value("--cacert");
            if (!file || file->isEmpty())
                return {std::nullopt, QStringLiteral("--cacert needs a file")};
            o.caCertificates.append(*file);
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.help = true;
        } else if (a == QLatin1String("--rollback") || a == QLatin1String("--timeout")) {
            const auto text = value(a.toLatin1().constData());
            const auto n = text ? wholeNumber(*text, a == QLatin1String("--timeout") ? 1 : 0,
                                              a == QLatin1String("--timeout") ? 32767 : 1 << 30)
                                : std::nullopt;
            if (!n)
                return {std::nullopt, a + QStringLiteral(" needs a number")};
            if (a == QLatin1String("--rollback"))
                o.rollback = *n;
            else
                o.timeout = *n;
        } else if (a.startsWith(QLatin1String("--"))) {
            return {std::nullopt, QStringLiteral("unknown option ") + a};
        } else {
            positional.append(a);
        }
    }
    if (o.help)
        return {o, {}};
    if (positional.size() != 2)
        return {std::nullopt, QStringLiteral("expected a URL and a path")};
    o.url = positional.at(0);
    o.path = positional.at(1);
    return {o, {}};
}

QString getUsage()
{
    return QStringLiteral(
        "Usage: tessel-get [options] URL PATH\n"
        "Downloads URL into PATH with Tessel's engine and settings.\n\n"
        "  --segment / --no-segment   split large HTTP files over several connections (or not)\n"
        "  --pasv / --no-pasv         use passive FTP data connections (or active)\n"
        "  --rollback N               bytes fetched again before a resume point\n"
        "  --timeout N                connection time-out in seconds\n"
        "  --overwrite                replace an existing file (default: resume it)\n"
        "  --cacert FILE              also trust the CA certificates in FILE (PEM) for https and ftps\n"
        "Exit status 0 when the file is complete; otherwise the reason is written to standard error.\n");
}

QString progressLine(qint64 received, qint64 size, double bytesPerSecond, int width)
{
    const QString right = QStringLiteral(" %1 / %2  %3/s")
                              .arg(FormatSize(received), size > 0 ? FormatSize(size) : QStringLiteral("?"),
                                   FormatSize(bytesPerSecond));
    const int percent = size > 0 ? int(std::min<qint64>(100, received * 100 / size)) : 0;
    const QString label = QStringLiteral("%1% ").arg(percent, 3);
    const int barWidth = std::max(10, width - int(label.size() + right.size()) - 2);
    const int filled = size > 0 ? int(qint64(barWidth) * std::min(received, size) / size) : 0;
    return label + QLatin1Char('[') + QString(filled, QLatin1Char('#')) + QString(barWidth - filled, QLatin1Char('.'))
           + QLatin1Char(']') + right;
}

QString summaryLine(qint64 bytes, double seconds, int segments)
{
    return QStringLiteral("bytes=%1 seconds=%2 segments=%3")
        .arg(bytes)
        .arg(QString::number(seconds, 'f', 3))
        .arg(segments);
}
