#include "ftpclient/profilestore.h"

#include "config/scramble.h"
#include "platform/inifile.h"
#include "platform/programdir.h"
#include "platform/textfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace profiles {

namespace {

// The classic read buffers: the value is cut to one less than these.
constexpr int NameBuffer = 50;
constexpr int AddressBuffer = 75;
constexpr int ValueBuffer = 50;

QString readKey(const QString &file, const QString &key, int buffer)
{
    return ini::readString(file, Section, key, QString(), buffer).text;
}

QString unscrambled(QString text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text.truncate(nul);
    return UnscramblePassword(text);
}

// A value never carries a line break into the file (it would start a new key).
QString oneLine(QString value)
{
    value.remove(QLatin1Char('\r'));
    value.remove(QLatin1Char('\n'));
    return value;
}

bool isSectionLine(const QString &line, QString *name)
{
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')) || !t.endsWith(QLatin1Char(']')))
        return false;
    *name = t.mid(1, t.size() - 2).trimmed();
    return true;
}

bool isKeyLine(const QString &line, const QString &key)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    return eq > 0 && line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0;
}

// Sets key=value in the PROFILE section of lines, replacing the key in place
// or adding it at the end of the section (and the section when missing).
void setKey(QStringList &lines, const QString &key, const QString &value)
{
    const QString entry = key + QLatin1Char('=') + oneLine(value);
    int sectionLine = -1;
    int lastLine = -1;
    for (int i = 0; i < lines.size(); ++i) {
        QString name;
        if (isSectionLine(lines.at(i), &name)) {
            if (sectionLine >= 0)
                break;
            if (name.compare(Section, Qt::CaseInsensitive) == 0)
                sectionLine = lastLine = i;
            continue;
        }
        if (sectionLine < 0)
            continue;
        if (isKeyLine(lines.at(i), key)) {
            lines[i] = entry;
            return;
        }
        if (!lines.at(i).trimmed().isEmpty())
            lastLine = i;
    }
    if (sectionLine < 0) {
        lines.append(QLatin1Char('[') + Section + QLatin1Char(']'));
        lines.append(entry);
        return;
    }
    lines.insert(lastLine + 1, entry);
}

} // namespace

QString folderName(ProfileFolder folder)
{
    return folder == ProfileFolder::Private ? QStringLiteral("Profiles") : QStringLiteral("SProfiles");
}

QString folderPath(const QString &programDir, ProfileFolder folder)
{
    return joinPath(programDir, folderName(folder));
}

bool ensureFolders(const QString &programDir)
{
    bool ok = true;
    for (ProfileFolder f : {ProfileFolder::Standard, ProfileFolder::Private})
        ok = QDir().mkpath(folderPath(programDir, f)) && ok;
    return ok;
}

QStringList list(const QString &programDir, ProfileFolder folder)
{
    QDir dir(folderPath(programDir, folder));
    return dir.entryList({QLatin1Char('*') + Extension}, QDir::Files | QDir::Hidden, QDir::Name);
}

SiteProfile read(const QString &filePath)
{
    SiteProfile p;
    p.name = readKey(filePath, QStringLiteral("sname"), NameBuffer);
    p.host = readKey(filePath, QStringLiteral("adresa"), AddressBuffer);
    p.user = unscrambled(readKey(filePath, QStringLiteral("ID"), ValueBuffer));
    p.password = unscrambled(readKey(filePath, QStringLiteral("pass"), ValueBuffer));
    p.port = readKey(filePath, QStringLiteral("port"), ValueBuffer);
    p.passive = leadingNumber(readKey(filePath, QStringLiteral("Passive"), ValueBuffer)) != 0;
    p.security = securityFromText(readKey(filePath, EncryptionKey, ValueBuffer));
    return p;
}

bool isSafeName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
           && !name.contains(QStringLiteral("..")) && !name.contains(QChar(0));
}

QString securityText(FtpSecurity security)
{
    switch (security) {
    case FtpSecurity::ExplicitTls:
        return QStringLiteral("explicit");
    case FtpSecurity::ImplicitTls:
        return QStringLiteral("implicit");
    case FtpSecurity::Plain:
        break;
    }
    return QStringLiteral("plain");
}

FtpSecurity securityFromText(const QString &text)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("explicit"))
        return FtpSecurity::ExplicitTls;
    if (t == QLatin1String("implicit"))
        return FtpSecurity::ImplicitTls;
    return FtpSecurity::Plain;
}

SaveResult save(const QString &programDir, const SiteProfile &profile, bool anonymous)
{
    if (profile.host.isEmpty() || !isSafeName(profile.name))
        return SaveResult::Refused;
    const QString folder = folderPath(programDir, ProfileFolder::Private);
    if (!QDir().mkpath(folder))
        return SaveResult::WriteFailed;
    const QString file = joinPath(folder, profile.name + Extension);

    QStringList lines;
    if (QFileInfo::exists(file) && !textfile::readLines(file, &lines))
        return SaveResult::WriteFailed;
    setKey(lines, QStringLiteral("sname"), profile.name);
    setKey(lines, QStringLiteral("adresa"), profile.host);
    setKey(lines, QStringLiteral("ID"), ScramblePassword(profile.user));
    setKey(lines, QStringLiteral("Passive"), profile.passive ? QStringLiteral("1") : QStringLiteral("0"));
    setKey(lines, QStringLiteral("pass"),
           !profile.password.isEmpty() && !anonymous ? ScramblePassword(profile.password) : QString());
    setKey(lines, QStringLiteral("port"), profile.port);
    setKey(lines, EncryptionKey, securityText(profile.security));
    return textfile::writeAtomically(file, textfile::joinLines(lines), textfile::OwnerOnly) ? SaveResult::Saved
                                                                                           : SaveResult::WriteFailed;
}

bool remove(const QString &programDir, const QString &fileName, QString *error)
{
    if (!isSafeName(fileName)) {
        if (error)
            *error = QStringLiteral("Invalid profile name");
        return false;
    }
    QFile file(joinPath(folderPath(programDir, ProfileFolder::Private), fileName));
    if (!file.exists()) {
        if (error)
            *error = QStringLiteral("File not found");
        return false;
    }
    if (!file.remove()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

double leadingNumber(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && (text.at(i) == QLatin1Char(' ') || text.at(i) == QLatin1Char('\t')))
        ++i;
    const qsizetype start = i;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        ++i;
    while (i < text.size() && text.at(i).isDigit() && text.at(i).unicode() < 128)
        ++i;
    bool ok = false;
    const double value = text.mid(start, i - start).toDouble(&ok);
    return ok ? value : 0.0;
}

} // namespace profiles
