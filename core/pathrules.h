#pragma once

#include <QString>

#include <filesystem>

/// The folder of \a path up to and including its last native separator; "" when there
/// is none.
QString folderPart(const QString &path);

/// \a folder with a native separator at its end, as folderPart() gives folders.
QString asFolder(const QString &folder);

/// What follows the last native separator of \a path; all of it when there is none.
QString fileNamePart(const QString &path);

/// \a path as the engine opens files: in the system's file-name encoding.
std::filesystem::path fileSystemPath(const QString &path);
