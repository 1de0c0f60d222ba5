#pragma once

#include <QString>

#include <functional>

// Looks up a user-visible text by its five-digit identifier, with the English
// default used when the language file has no such key. Engine code takes one
// of these instead of reaching for a language file itself.
using CaptionLookup = std::function<QString(const QString &identifier, const QString &defaultText)>;

// A lookup that always answers with the default text.
inline CaptionLookup defaultCaptions()
{
    return [](const QString &, const QString &defaultText) { return defaultText; };
}
