#pragma once

#include <cstddef>
#include <cstdint>

/// Reads all of \a n bytes of the file \a fd from \a at into \a to, through interruptions and
/// short reads; false when they are not all there, with errno set, or 0 where the file ended.
bool readAt(int fd, std::uint8_t *to, std::size_t n, std::int64_t at);

/// Writes all of \a n bytes to \a fd, through interruptions and partial writes; false with errno
/// set on failure.
bool writeAll(int fd, const std::uint8_t *bytes, std::size_t n);

/// Renames \a from to \a to unless \a to exists, in one step where the file system can; errno
/// says why not (EEXIST where \a to exists).
bool renameNoReplace(const char *from, const char *to);
