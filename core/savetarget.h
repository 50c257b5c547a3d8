#pragma once

#include "platform/filesystem.h"

#include <QString>

#include <memory>

/// The name a piece is saved under: the chosen name, with ".mp3" added unless it already
/// ends so, in any letter case.
QString withMp3Extension(const QString &chosen);

/// A file made new in a folder, open for writing.
struct Temporary
{
    QString path;
    std::unique_ptr<FileDevice> device;
};

/// A new file in \a path's folder where a file is written before it takes \a path's name. Its
/// name is short and of its own (".mp3cut-" and six letters and digits, ".part"), so it fits
/// however long \a path's name is, and no other writer gets it. No device when none can be
/// made; files.lastProblem() says why.
Temporary createTemporaryBeside(FileSystem &files, const QString &path);

/// Moves \a from to \a to; with Replace::No, never over a file there. Across file systems the
/// bytes are copied to a temporary file beside \a to, checked for length and only then put in
/// place, and \a from is removed last. On failure \a from is where it was and \a to is
/// untouched. FileProblem::None when moved, why not otherwise.
FileProblem moveFile(FileSystem &files, const QString &from, const QString &to, FileSystem::Replace replace);
