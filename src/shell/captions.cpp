#include "shell/captions.h"

#include "platform/inifile.h"
#include "platform/programdir.h"
#include "shell/errorlog.h"

namespace {
constexpr int BufferLength = 500;
}

Captions::Captions(QString programDir, ErrorLog *errorLog, QString languageFile)
    : m_programDir(std::move(programDir)), m_errorLog(errorLog), m_languageFile(std::move(languageFile))
{
}

QString Captions::languagePath() const
{
    return joinPath(joinPath(m_programDir, QStringLiteral("Lang-I")), m_languageFile);
}

QString Captions::SetCaptionfromINI(const QString &identifier, const QString &defaultText) const
{
    const ini::ReadResult result =
        ini::readString(languagePath(), QStringLiteral("DM"), identifier, defaultText, BufferLength);
    if (!result.ok) {
        if (m_errorLog) {
            m_errorLog->write(QStringLiteral("Error Description: ") + result.errorString
                              + QStringLiteral(", Error Number: 75, Method: SetCaptionfromINI"));
        }
        return {};
    }
    // The text is read into a buffer of blanks and trimmed at both ends; the
    // terminator protects the value's own trailing blanks.
    QString text = result.text;
    qsizetype start = 0;
    while (start < text.size() && text.at(start) == QLatin1Char(' '))
        ++start;
    return text.mid(start);
}

CaptionLookup Captions::lookup() const
{
    return [this](const QString &identifier, const QString &defaultText) {
        return SetCaptionfromINI(identifier, defaultText);
    };
}
