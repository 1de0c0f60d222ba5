#pragma once

#include "platform/captionlookup.h"

#include <QString>

class ErrorLog;

// Tessel's texts in the active language: every caption and message is looked
// up by its five-digit identifier in section "DM" of "Lang-I/<language file>"
// in the program directory, with the English default when the file, the
// section or the key is missing.
class Captions {
public:
    Captions(QString programDir, ErrorLog *errorLog, QString languageFile = QStringLiteral("English.ini"));

    void setLanguageFile(const QString &name) { m_languageFile = name; }
    QString languageFile() const { return m_languageFile; }
    QString languagePath() const;

    // The text for identifier: blanks at its start are dropped, blanks at its
    // end kept, at most 499 characters. A file that exists but cannot be read
    // is written to the error log and gives an empty text.
    QString SetCaptionfromINI(const QString &identifier, const QString &defaultText) const;

    // The same lookup as a callable for engine code.
    CaptionLookup lookup() const;

private:
    QString m_programDir;
    ErrorLog *m_errorLog;
    QString m_languageFile;
};
