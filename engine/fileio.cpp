#include "engine/fileio.h"

#include <cerrno>

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
