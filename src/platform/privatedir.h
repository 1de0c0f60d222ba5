#pragma once

#include <QString>

// Makes dir ready to hold this user's private files and sockets: creates it
// with mode 0700 when it is missing, tightens it to 0700 when it is ours.
// Refuses (false, *error says why) a path that is not a real directory (a
// symbolic link, a file) or a directory owned by another user.
bool PreparePrivateDirectory(const QString &dir, QString *error = nullptr);
