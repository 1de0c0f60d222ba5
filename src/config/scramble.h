#pragma once

#include <QString>

// The reversible disguise stored credentials get: every character is
// replaced by the one whose code is 10 higher ("abc" becomes "klm").
//
// It works on Unicode code points and skips the surrogate range, wrapping
// around at the top of the code space, so that every valid text (any
// language, emoji included) comes back unchanged from Unscramble(Scramble()).
// This is not encryption; it only keeps passwords from being read at a glance.
QString ScramblePassword(const QString &plain);
QString UnscramblePassword(const QString &scrambled);
