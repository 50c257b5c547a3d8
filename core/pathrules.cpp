#include "core/pathrules.h"

#include <QDir>
#include <QFile>

// Only the native separator counts: callers pass native paths, and on Linux a "\\" is
// an ordinary character of a file name.

QString folderPart(const QString &path)
{
    return path.left(path.lastIndexOf(QDir::separator()) + 1);
}

QString asFolder(const QString &folder)
{
    return folder.endsWith(QDir::separator()) ? folder : folder + QDir::separator();
}

QString fileNamePart(const QString &path)
{
    return path.mid(path.lastIndexOf(QDir::separator()) + 1);
}

std::filesystem::path fileSystemPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}
