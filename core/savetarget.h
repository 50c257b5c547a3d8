#pragma once

#include "platform/filesystem.h"

#include <QString>

/// The name a piece is saved under: the chosen name, with ".mp3" added unless it already
/// ends so, in any letter case.
QString withMp3Extension(const QString &chosen);

/// Moves \a from to \a to, replacing \a to. Across file systems the bytes are copied to a
/// temporary file beside \a to, checked for length and only then put in place, and \a from is
/// removed last. On failure \a from is where it was and \a to is untouched.
bool moveFile(FileSystem &files, const QString &from, const QString &to);

/// A name beside \a path, in the same folder, that nothing has yet: where a file is written
/// before it takes \a path's place.
QString temporaryNameBeside(FileSystem &files, const QString &path);
