#include "engine/piecefile.h"

#include "engine/fileio.h"
#include "engine/leftovers.h"
#include "engine/pieceheader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::int64_t PieceParts::length() const
{
    std::int64_t bytes = std::int64_t(tag.size() + header.size() + lead.size());
    for (const ByteRange &range : ranges)
        bytes += range.length;
    return bytes;
}

PieceFile::PieceFile(PieceParts parts, PieceSource &source, PieceTarget &target)
    : m_parts(std::move(parts))
    , m_source(source)
    , m_target(target)
{
}

PieceFile::~PieceFile()
{
    discard();
}

void PieceFile::discard()
{
    if ((m_state == State::Writing || m_state == State::Whole) && m_created)
        m_target.discard();
    m_created = false;
}

PieceFile::State PieceFile::run()
{
    while (step(std::numeric_limits<std::int64_t>::max()) == State::Writing) {
    }
    return name();
}

PieceFile::State PieceFile::step(std::int64_t bytes)
{
    if (m_state != State::Writing || (m_phase == Phase::Start && !start()))
        return m_state;
    for (std::int64_t read = 0; read < bytes;) {
        const auto n = readNext(std::size_t(std::min<std::int64_t>(bytes - read, std::int64_t(bufferSize))));
        if (!n)
            return failOnSong();
        if (*n == 0) {
            if (m_phase == Phase::Copying) {
                if (finish())
                    m_state = State::Whole;
                return m_state;
            }
            // Summed: the header frame can go out sealed, and the copy begin.
            sealPieceHeader(m_parts.header, m_crc);
            if (!writeHead())
                return m_state;
            m_phase = Phase::Copying;
            m_range = 0;
            m_doneInRange = 0;
            continue;
        }
        const bool summing = m_phase == Phase::Summing || (m_target.canRewrite() && !m_parts.header.empty());
        if (summing)
            m_crc = lameCrc(m_crc, m_buffer.get(), *n);
        if (m_phase == Phase::Copying) {
            if (!m_target.write(m_buffer.get(), *n))
                return fail(CutError::Kind::Unwritable, m_target.error());
            m_written += std::int64_t(*n);
        }
        read += std::int64_t(*n);
    }
    return m_state;
}

bool PieceFile::start()
{
    if (!m_source.open()) {
        failOnSong();
        return false;
    }
    if (!m_target.create()) {
        fail(CutError::Kind::Unwritable, m_target.error());
        return false;
    }
    m_created = true;
    m_buffer = std::make_unique_for_overwrite<std::uint8_t[]>(bufferSize);
    m_crc = lameCrc(0, m_parts.lead.data(), m_parts.lead.size());
    // A stream cannot take the header frame back: the song's bytes are summed before it goes out.
    if (!m_target.canRewrite() && !m_parts.header.empty()) {
        m_phase = Phase::Summing;
        return true;
    }
    m_phase = Phase::Copying;
    return writeHead();
}

bool PieceFile::writeHead()
{
    for (const std::vector<std::uint8_t> *part : {&m_parts.tag, &m_parts.header, &m_parts.lead}) {
        if (!m_target.write(part->data(), part->size())) {
            fail(CutError::Kind::Unwritable, m_target.error());
            return false;
        }
        m_written += std::int64_t(part->size());
    }
    return true;
}

std::optional<std::size_t> PieceFile::readNext(std::size_t most)
{
    while (m_range < m_parts.ranges.size() && m_doneInRange == m_parts.ranges[m_range].length) {
        ++m_range;
        m_doneInRange = 0;
    }
    if (m_range == m_parts.ranges.size())
        return 0;
    const ByteRange &range = m_parts.ranges[m_range];
    const auto n = std::size_t(std::min<std::int64_t>(std::int64_t(most), range.length - m_doneInRange));
    if (!m_source.read(range.offset + m_doneInRange, m_buffer.get(), n))
        return std::nullopt;
    m_doneInRange += std::int64_t(n);
    return n;
}

bool PieceFile::finish()
{
    if (m_target.canRewrite() && !m_parts.header.empty()) {
        sealPieceHeader(m_parts.header, m_crc);
        if (!m_target.rewrite(std::int64_t(m_parts.tag.size()), m_parts.header.data(), m_parts.header.size())) {
            fail(CutError::Kind::Unwritable, m_target.error());
            return false;
        }
    }
    // Written bytes may still sit in a buffer on the way: a full disk may show only here.
    const auto length = m_target.close();
    if (!length) {
        fail(CutError::Kind::Unwritable, m_target.error());
        return false;
    }
    if (*length != m_parts.length()) {
        fail(CutError::Kind::Incomplete, 0);
        return false;
    }
    return true;
}

PieceFile::State PieceFile::name()
{
    if (m_state != State::Whole)
        return m_state;
    switch (m_target.name()) {
    case PieceTarget::Naming::Named:
        m_state = State::Written;
        return m_state;
    case PieceTarget::Naming::Taken:
        return fail(CutError::Kind::Taken, EEXIST);
    case PieceTarget::Naming::Failed:
        break;
    }
    return fail(CutError::Kind::Unwritable, m_target.error());
}

PieceFile::State PieceFile::failOnSong()
{
    // A song that gives fewer bytes than its map found, with no error to tell, has changed.
    const int cause = m_source.error();
    return fail(cause ? CutError::Kind::Unreadable : CutError::Kind::Changed, cause);
}

PieceFile::State PieceFile::fail(CutError::Kind kind, int cause)
{
    m_state = State::Failed;
    m_error = CutError{kind, {}, cause};
    if (m_created)
        m_target.discard();
    return m_state;
}

SongFile::SongFile(std::filesystem::path path)
    : m_path(std::move(path))
{
}

SongFile::~SongFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SongFile::open()
{
    // Not blocking: a song swapped for a named pipe since it was read fails rather than hangs.
    m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    m_error = m_fd < 0 ? errno : 0;
    return m_fd >= 0;
}

bool SongFile::read(std::int64_t at, std::uint8_t *to, std::size_t n)
{
    // Where the song has grown shorter than its ranges, there is no error to tell: errno is 0.
    if (readAt(m_fd, to, n, at))
        return true;
    m_error = errno;
    return false;
}

NewFile::NewFile(std::filesystem::path path, bool replace)
    : m_path(std::move(path))
    , m_replace(replace)
{
}

NewFile::~NewFile()
{
    discard();
}

bool NewFile::failed()
{
    m_error = errno;
    return false;
}

bool NewFile::create()
{
    // A short name whatever the target's: a long target name must not push it past the limit.
    // The dot hides it from file managers while it is written.
    std::random_device random;
    std::uniform_int_distribution<unsigned> digits(0, 0xFFFFFF);
    const std::filesystem::path folder = m_path.has_parent_path() ? m_path.parent_path() : std::filesystem::path(".");
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, ".mp3cut-%06x.part", digits(random));
        m_temporary = folder / name;
        // A signal that ends the program finds the file held, or not yet there: it never
        // removes a file of that name that is not this one.
        const SignalsHeldBack held;
        m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (m_fd >= 0) {
            m_leftover.hold(m_temporary);
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    m_temporary.clear();
    return failed();
}

bool NewFile::write(const std::uint8_t *bytes, std::size_t n)
{
    return writeAll(m_fd, bytes, n) || failed();
}

bool NewFile::rewrite(std::int64_t at, const std::uint8_t *bytes, std::size_t n)
{
    while (n > 0) {
        const ssize_t done = ::pwrite(m_fd, bytes, n, off_t(at));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return failed();
        bytes += done;
        at += done;
        n -= std::size_t(done);
    }
    return true;
}

std::optional<std::int64_t> NewFile::close()
{
    struct stat info = {};
    const bool measured = ::fstat(m_fd, &info) == 0;
    if (!measured)
        failed();
    const int closed = ::close(m_fd);
    m_fd = -1;
    if (closed != 0)
        failed();
    if (!measured || closed != 0)
        return std::nullopt;
    return std::int64_t(info.st_size);
}

PieceTarget::Naming NewFile::name()
{
    // Once named, the piece is the user's: a signal must not find it named and still held.
    const SignalsHeldBack held;
    Naming naming = Naming::Failed;
    if (m_replace)
        naming = ::rename(m_temporary.c_str(), m_path.c_str()) == 0 ? Naming::Named : Naming::Failed;
    else if (renameNoReplace(m_temporary.c_str(), m_path.c_str()))
        naming = Naming::Named;
    else
        naming = errno == EEXIST ? Naming::Taken : Naming::Failed;
    if (naming == Naming::Failed)
        m_error = errno;
    if (naming == Naming::Named) {
        m_temporary.clear();
        m_leftover.release();
    }
    return naming;
}

void NewFile::discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_temporary.empty())
        ::unlink(m_temporary.c_str());
    m_leftover.release();
    m_temporary.clear();
}

StreamTarget::StreamTarget(int fd)
    : m_fd(fd)
{
}

bool StreamTarget::write(const std::uint8_t *bytes, std::size_t n)
{
    if (!writeAll(m_fd, bytes, n)) {
        m_error = errno;
        return false;
    }
    m_written += std::int64_t(n);
    return true;
}
