#pragma once

#include <QIODevice>
#include <QString>

#include <memory>
#include <optional>

/// Why a file operation failed, in the few kinds a person can do something about.
enum class FileProblem {
    None,
    Missing,        ///< the file or a folder on its way is not there
    NoPermission,
    ReadOnly,       ///< the file system is mounted read-only
    NoSpace,        ///< the disk or the user's quota is full
    TooLarge,       ///< the file would pass the largest size allowed
    NameTooLong,
    NotAFile,       ///< a folder, a named pipe, a device: nothing to read as a song
    Exists,         ///< a file already has the name that was to be new
    Changed,        ///< the file was shorter than read a moment before: changed while read
    Incomplete,     ///< a write reported success, yet the file is not as long as what was written
    Other,
};

/// A file a FileSystem opened: a device that also says why its last call failed.
class FileDevice : public QIODevice
{
public:
    FileProblem problem() const { return m_problem; }

protected:
    void setProblem(FileProblem problem) { m_problem = problem; }

private:
    FileProblem m_problem = FileProblem::None;
};

/// The file operations the program needs. Every call reports failure in its result, and
/// lastProblem() says why; none throws.
class FileSystem
{
public:
    enum class MoveResult { Moved, CrossDevice, Failed };
    /// Whether a rename may put its file in the place of one that has the new name.
    enum class Replace { No, Yes };

    virtual ~FileSystem() = default;

    /// Byte length of an ordinary file; empty when it cannot be found or read, or is a
    /// folder, a pipe or a device. Nothing is read, and a pipe is never waited on.
    virtual std::optional<qint64> length(const QString &path) = 0;
    /// Does \a path name an existing folder?
    virtual bool isFolder(const QString &path) = 0;
    /// Does \a path name an existing ordinary file (not a folder or a device)?
    virtual bool isNormalFile(const QString &path) = 0;
    /// Does anything at all exist at \a path?
    virtual bool exists(const QString &path) = 0;
    /// Do both paths lead to one file, under whatever names and links?
    virtual bool sameFile(const QString &a, const QString &b) = 0;
    /// An ordinary file opened for reading from its first byte; null when it cannot be opened.
    virtual std::unique_ptr<FileDevice> openRead(const QString &path) = 0;
    /// A file created at \a path, where nothing may exist yet, opened for writing; null on
    /// failure. Two writers can never get the same file.
    virtual std::unique_ptr<FileDevice> createNew(const QString &path) = 0;
    /// Renames \a from to \a to, in one step: nobody ever sees \a to half there. With
    /// Replace::No it fails (Exists) when \a to exists, also when another program creates it
    /// at that moment. CrossDevice when the two lie on different file systems and nothing
    /// was changed.
    virtual MoveResult rename(const QString &from, const QString &to, Replace replace) = 0;
    virtual bool remove(const QString &path) = 0;
    /// Why the last call above that failed did so.
    virtual FileProblem lastProblem() const = 0;
};
