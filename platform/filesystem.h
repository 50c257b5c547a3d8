#pragma once

#include <QIODevice>
#include <QString>

#include <memory>
#include <optional>

/// The file operations the program needs. Every call reports failure in its result;
/// none throws.
class FileSystem
{
public:
    enum class MoveResult { Moved, CrossDevice, Failed };

    virtual ~FileSystem() = default;

    /// Byte length of a file; empty when it cannot be found or read.
    virtual std::optional<qint64> length(const QString &path) = 0;
    /// Does \a path name an existing folder?
    virtual bool isFolder(const QString &path) = 0;
    /// Does \a path name an existing ordinary file (not a folder or a device)?
    virtual bool isNormalFile(const QString &path) = 0;
    /// Does anything at all exist at \a path?
    virtual bool exists(const QString &path) = 0;
    /// Opened for reading from its first byte; null when it cannot be opened.
    virtual std::unique_ptr<QIODevice> openRead(const QString &path) = 0;
    /// Created, or emptied when it exists, and opened for writing; null on failure.
    virtual std::unique_ptr<QIODevice> openWrite(const QString &path) = 0;
    /// Renames \a from to \a to, replacing \a to when it exists. CrossDevice when the
    /// two lie on different file systems and nothing was changed.
    virtual MoveResult rename(const QString &from, const QString &to) = 0;
    virtual bool remove(const QString &path) = 0;
};
