#include "engine/fileio.h"

#include <cerrno>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <unistd.h>

bool readAt(int fd, std::uint8_t *to, std::size_t n, std::int64_t at)
{
    while (n > 0) {
        const ssize_t done = ::pread(fd, to, n, off_t(at));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            if (done == 0)
                errno = 0;
            return false;
        }
        to += done;
        at += done;
        n -= std::size_t(done);
    }
    return true;
}

bool writeAll(int fd, const std::uint8_t *bytes, std::size_t n)
{
    while (n > 0) {
        const ssize_t done = ::write(fd, bytes, n);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        bytes += done;
        n -= std::size_t(done);
    }
    return true;
}

bool renameNoReplace(const char *from, const char *to)
{
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: a hard link is made only where no file has the name.
    if (::link(from, to) == 0) {
        // The file is in place under its new name; should the old name stay beside it, a
        // second unlink would not remove it either.
        ::unlink(from);
        return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return false;
    // Nor hard links (FAT): only a look just before the rename is left, which a program that
    // creates the name at that very moment can beat.
    struct stat st{};
    if (::lstat(to, &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from, to) == 0;
}
