#pragma once

// Corvane's site profiles: one small INI file per site, "<name>.Profile",
// section PROFILE, in "Profiles" (the user's own sites, where saves go) or
// "SProfiles" (the standard set, only read) of the program directory.

#include "ftp/ftpsession.h"

#include <QString>
#include <QStringList>

enum class ProfileFolder { Private, Standard };

struct SiteProfile {
    QString name;     // the site name as typed
    QString host;
    QString port;     // as text; empty when the field was empty
    QString user;     // plain (stored scrambled)
    QString password; // plain (stored scrambled)
    bool passive = false;
    FtpSecurity security = FtpSecurity::Plain;
    bool operator==(const SiteProfile &) const = default;
};

namespace profiles {

inline const QString Section = QStringLiteral("PROFILE");
inline const QString Extension = QStringLiteral(".Profile");
// The key that stores the encryption choice; a file without it is plain.
inline const QString EncryptionKey = QStringLiteral("Encryption");

// "Profiles" or "SProfiles".
QString folderName(ProfileFolder folder);
QString folderPath(const QString &programDir, ProfileFolder folder);
// Creates both folders when missing; false when one could not be made.
bool ensureFolders(const QString &programDir);

// The profile files of a folder ("*.Profile"), file names with the
// extension, in name order.
QStringList list(const QString &programDir, ProfileFolder folder);

// Reads one profile file. Missing keys (or an unreadable file) read as
// empty; values are cut to what the classic read buffers held (site name,
// user, password, port 49 characters, address 74).
SiteProfile read(const QString &filePath);

// A site name may become a file name: not empty, no "/", "\" or "..".
bool isSafeName(const QString &name);

// "plain", "explicit", "implicit" and back (anything else reads as plain).
QString securityText(FtpSecurity security);
FtpSecurity securityFromText(const QString &text);

enum class SaveResult { Saved, Refused, WriteFailed };

// Writes "Profiles/<name>.Profile": sname, adresa, ID (scrambled user),
// Passive, pass (scrambled; empty when the password is empty or the login
// is anonymous), port, encryption. Keys already in the file are replaced in
// place, other keys kept. The file is owner-only and replaced atomically.
// Refused (nothing written) when the name is not safe or the name or host
// is empty.
SaveResult save(const QString &programDir, const SiteProfile &profile, bool anonymous);

// Deletes "Profiles/<fileName>". False with the reason in *error when the
// file could not be removed (for example, it no longer exists).
bool remove(const QString &programDir, const QString &fileName, QString *error);

// The numeric value of a text as the classic Val() reads it: leading blanks
// skipped, then an optional sign and digits; anything else stops it.
double leadingNumber(const QString &text);

} // namespace profiles
