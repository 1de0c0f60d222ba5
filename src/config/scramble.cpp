#include "config/scramble.h"

#include <QList>

namespace {

constexpr char32_t SurrogateFirst = 0xD800;
constexpr char32_t SurrogateCount = 0x800;
constexpr char32_t ScalarCount = 0x110000 - SurrogateCount; // every valid code point
constexpr char32_t Shift = 10;

// Code points as consecutive indices, with the surrogate gap closed.
char32_t toIndex(char32_t cp)
{
    return cp < SurrogateFirst ? cp : cp - SurrogateCount;
}

char32_t fromIndex(char32_t index)
{
    return index < SurrogateFirst ? index : index + SurrogateCount;
}

QString shifted(const QString &text, bool up)
{
    const QList<uint> points = text.toUcs4();
    QString out;
    out.reserve(text.size());
    for (uint cp : points) {
        if (cp >= 0x110000 || (cp >= SurrogateFirst && cp < SurrogateFirst + SurrogateCount)) {
            out.append(QChar(0xFFFD)); // a lone surrogate is not text; keep the length
            continue;
        }
        const char32_t index = toIndex(cp);
        const char32_t moved = up ? (index + Shift) % ScalarCount : (index + ScalarCount - Shift) % ScalarCount;
        const char32_t result = fromIndex(moved);
        out.append(QString::fromUcs4(&result, 1));
    }
    return out;
}

} // namespace

QString ScramblePassword(const QString &plain)
{
    return shifted(plain, true);
}

QString UnscramblePassword(const QString &scrambled)
{
    return shifted(scrambled, false);
}
