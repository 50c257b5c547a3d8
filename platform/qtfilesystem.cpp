#include "qtfilesystem.h"

#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace {

std::filesystem::path fsPath(const QString &path)
{
    return std::filesystem::path(path.toStdU16String());
}

} // namespace

std::optional<qint64> QtFileSystem::length(const QString &path)
{
    QFile file(path);
    // Opening proves the file can be read, not merely listed.
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.size();
}

bool QtFileSystem::isFolder(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

bool QtFileSystem::isNormalFile(const QString &path)
{
    const QFileInfo info(path);
    return !path.isEmpty() && info.isFile();
}

bool QtFileSystem::exists(const QString &path)
{
    std::error_code ec;
    return !path.isEmpty() && std::filesystem::symlink_status(fsPath(path), ec).type() != std::filesystem::file_type::not_found
        && !ec;
}

std::unique_ptr<QIODevice> QtFileSystem::openRead(const QString &path)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        return nullptr;
    return file;
}

std::unique_ptr<QIODevice> QtFileSystem::openWrite(const QString &path)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate))
        return nullptr;
    return file;
}

FileSystem::MoveResult QtFileSystem::rename(const QString &from, const QString &to)
{
    std::error_code ec;
    std::filesystem::rename(fsPath(from), fsPath(to), ec);
    if (!ec)
        return MoveResult::Moved;
    return ec == std::errc::cross_device_link ? MoveResult::CrossDevice : MoveResult::Failed;
}

bool QtFileSystem::remove(const QString &path)
{
    return QFile::remove(path);
}
