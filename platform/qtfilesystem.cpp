#include "qtfilesystem.h"

#include "engine/fileio.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

bool statOf(const QString &path, struct stat &st)
{
    return ::stat(native(path).constData(), &st) == 0;
}

/// An open file descriptor as a device, unbuffered: a failed write is seen where it happens,
/// with its errno.
class PosixFile final : public FileDevice
{
public:
    PosixFile(int fd, OpenMode mode)
        : m_fd(fd)
    {
        QIODevice::open(mode | QIODevice::Unbuffered);
    }
    ~PosixFile() override { PosixFile::close(); }

    bool isSequential() const override { return false; }
    qint64 size() const override
    {
        struct stat st{};
        return m_fd >= 0 && ::fstat(m_fd, &st) == 0 ? st.st_size : 0;
    }
    bool seek(qint64 pos) override
    {
        if (::lseek(m_fd, pos, SEEK_SET) < 0) {
            setProblem(QtFileSystem::problemOf(errno));
            return false;
        }
        return QIODevice::seek(pos);
    }
    void close() override
    {
        // Some file systems (NFS among them) report a failed write only when the file is closed.
        if (m_fd >= 0 && ::close(m_fd) != 0)
            setProblem(QtFileSystem::problemOf(errno));
        m_fd = -1;
        QIODevice::close();
    }

protected:
    qint64 readData(char *data, qint64 len) override
    {
        qint64 n = 0;
        do
            n = ::read(m_fd, data, std::size_t(len));
        while (n < 0 && errno == EINTR);
        if (n < 0)
            setProblem(QtFileSystem::problemOf(errno));
        return n;
    }
    qint64 writeData(const char *data, qint64 len) override
    {
        qint64 done = 0;
        while (done < len) {
            const ssize_t n = ::write(m_fd, data + done, std::size_t(len - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                setProblem(QtFileSystem::problemOf(n < 0 ? errno : ENOSPC));
                return -1;
            }
            done += n;
        }
        return done;
    }

private:
    int m_fd = -1;
};

} // namespace

FileProblem QtFileSystem::problemOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return FileProblem::Missing;
    case EACCES:
    case EPERM:
        return FileProblem::NoPermission;
    case EROFS:
        return FileProblem::ReadOnly;
    case ENOSPC:
    case EDQUOT:
        return FileProblem::NoSpace;
    case EFBIG:
        return FileProblem::TooLarge;
    case ENAMETOOLONG:
        return FileProblem::NameTooLong;
    case EISDIR:
    case ENXIO:
    case ENODEV:
        return FileProblem::NotAFile;
    case EEXIST:
    case ENOTEMPTY:
        return FileProblem::Exists;
    default:
        return FileProblem::Other;
    }
}

bool QtFileSystem::fail(int error)
{
    m_problem = problemOf(error);
    return false;
}

std::optional<qint64> QtFileSystem::length(const QString &path)
{
    const std::unique_ptr<FileDevice> file = openRead(path);
    if (!file)
        return std::nullopt;
    return file->size();
}

bool QtFileSystem::isFolder(const QString &path)
{
    struct stat st{};
    return statOf(path, st) && S_ISDIR(st.st_mode);
}

bool QtFileSystem::isNormalFile(const QString &path)
{
    struct stat st{};
    return statOf(path, st) && S_ISREG(st.st_mode);
}

bool QtFileSystem::exists(const QString &path)
{
    struct stat st{};
    return ::lstat(native(path).constData(), &st) == 0;
}

bool QtFileSystem::sameFile(const QString &a, const QString &b)
{
    struct stat sa{}, sb{};
    return statOf(a, sa) && statOf(b, sb) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

int QtFileSystem::openFile(const QString &path, int flags)
{
    const int fd = ::open(native(path).constData(), flags | O_CLOEXEC, 0666);
    if (fd < 0)
        fail(errno);
    return fd;
}

std::unique_ptr<FileDevice> QtFileSystem::openRead(const QString &path)
{
    // Without O_NONBLOCK, opening a named pipe waits for a writer that may never come.
    const int fd = openFile(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return nullptr;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        m_problem = FileProblem::NotAFile;
        return nullptr;
    }
    return std::make_unique<PosixFile>(fd, QIODevice::ReadOnly);
}

std::unique_ptr<FileDevice> QtFileSystem::createNew(const QString &path)
{
    const int fd = openFile(path, O_WRONLY | O_CREAT | O_EXCL);
    return fd < 0 ? nullptr : std::make_unique<PosixFile>(fd, QIODevice::WriteOnly);
}

FileSystem::MoveResult QtFileSystem::rename(const QString &from, const QString &to, Replace replace)
{
    const QByteArray a = native(from);
    const QByteArray b = native(to);
    const bool moved = replace == Replace::Yes ? ::rename(a.constData(), b.constData()) == 0
                                               : renameNoReplace(a.constData(), b.constData());
    if (moved)
        return MoveResult::Moved;
    if (errno == EXDEV)
        return MoveResult::CrossDevice;
    fail(errno);
    return MoveResult::Failed;
}

bool QtFileSystem::remove(const QString &path)
{
    return ::unlink(native(path).constData()) == 0 || fail(errno);
}
