#pragma once

#include "engine/leftovers.h"
#include "engine/cuterror.h"
#include "engine/placement.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

/// The bytes of one piece, in the order it holds them: its tag, its header frame, its lead
/// frames, then the song's bytes of each range.
struct PieceParts
{
    std::vector<std::uint8_t> tag;
    /// Empty for a piece without a header frame of its own.
    std::vector<std::uint8_t> header;
    std::vector<std::uint8_t> lead;
    std::vector<ByteRange> ranges;

    /// Bytes of the whole piece.
    std::int64_t length() const;
};

/// Where a piece's song is read from. Calls that fail say why in error().
class PieceSource
{
public:
    virtual ~PieceSource() = default;
    virtual bool open() = 0;
    /// Reads the song's bytes [at, at + n) into \a to; false unless all of them were read.
    virtual bool read(std::int64_t at, std::uint8_t *to, std::size_t n) = 0;
    /// The errno of the last failure; 0 where there was none to tell (a song shorter than its ranges).
    virtual int error() const = 0;
};

/// Where a piece is written: a file that takes the piece's name only once it is whole, or a
/// stream. Calls that fail say why in error().
class PieceTarget
{
public:
    enum class Naming { Named, Taken, Failed };

    virtual ~PieceTarget() = default;
    virtual bool create() = 0;
    virtual bool write(const std::uint8_t *bytes, std::size_t n) = 0;
    /// Whether bytes already written can be written again (not so for a pipe).
    virtual bool canRewrite() const = 0;
    /// Writes \a bytes again from \a at, over what was written there.
    virtual bool rewrite(std::int64_t at, const std::uint8_t *bytes, std::size_t n) = 0;
    /// Hands every byte to the file system and closes; the length it has; empty on failure.
    virtual std::optional<std::int64_t> close() = 0;
    /// Gives the closed piece its name: Taken when a file has it that may not be replaced.
    virtual Naming name() = 0;
    /// Removes whatever was created; what a stream was given stays given.
    virtual void discard() = 0;
    virtual int error() const = 0;
    /// The piece's own file while it is whole and not yet named, where a later step changes it
    /// (its gain); empty for a stream.
    virtual std::filesystem::path file() const { return {}; }
};

/// Writes one piece: its tag, its header frame, its lead frames, then the song's bytes of each of
/// its ranges. Only those bytes are read and written. The header frame carries the CRC of the
/// audio bytes behind it; to a target that can rewrite it, it is written first and sealed once
/// the copy has summed them, to a stream it is sealed from a first reading of the song's bytes.
/// The piece is named only once it is whole and its length checked: on any failure, and when a
/// writer that has not finished is destroyed, nothing is left of it.
///
/// It runs in steps of bounded work, so that an event loop can drive it, or all at once; between
/// the piece being whole and its being named, its file may still be worked on (its gain).
class PieceFile
{
public:
    enum class State { Writing, Whole, Written, Failed };

    /// Bytes of the song read at once, through one buffer: larger is no faster from the page
    /// cache, and costs a new process a page fault for every 4 KiB of it.
    static constexpr std::size_t bufferSize = 1 << 16;

    PieceFile(PieceParts parts, PieceSource &source, PieceTarget &target);
    PieceFile(const PieceFile &) = delete;
    PieceFile &operator=(const PieceFile &) = delete;
    ~PieceFile();

    /// Goes on, reading no more than about \a bytes of the song, until the piece is whole.
    State step(std::int64_t bytes);
    /// Gives the whole piece its name.
    State name();
    /// Goes on to the end, the name given.
    State run();
    /// Removes a piece that is whole but is not to be named after all.
    void discard();

    State state() const { return m_state; }
    /// What a failed piece failed on: the song (Unreadable, Changed) or the piece (Unwritable,
    /// Incomplete, Taken), with the errno behind it.
    const std::optional<CutError> &error() const { return m_error; }
    /// Bytes of the piece written so far.
    std::int64_t written() const { return m_written; }
    const PieceParts &parts() const { return m_parts; }

private:
    enum class Phase { Start, Summing, Copying };

    bool start();
    bool writeHead();
    /// Reads the next bytes of the ranges, at most \a most; empty at their end, null on failure.
    std::optional<std::size_t> readNext(std::size_t most);
    bool finish();
    State failOnSong();
    State fail(CutError::Kind kind, int cause);

    PieceParts m_parts;
    PieceSource &m_source;
    PieceTarget &m_target;
    State m_state = State::Writing;
    std::optional<CutError> m_error;
    Phase m_phase = Phase::Start;
    bool m_created = false;
    std::unique_ptr<std::uint8_t[]> m_buffer;
    std::size_t m_range = 0;
    std::int64_t m_doneInRange = 0;
    std::uint16_t m_crc = 0;
    std::int64_t m_written = 0;
};

/// A song on disk, read with pread.
class SongFile : public PieceSource
{
public:
    explicit SongFile(std::filesystem::path path);
    ~SongFile() override;
    SongFile(const SongFile &) = delete;
    SongFile &operator=(const SongFile &) = delete;

    bool open() override;
    bool read(std::int64_t at, std::uint8_t *to, std::size_t n) override;
    int error() const override { return m_error; }

private:
    std::filesystem::path m_path;
    int m_fd = -1;
    int m_error = 0;
};

/// A new file at a path, written under a short name of its own in the same folder and given the
/// path's name atomically: it replaces a file of that name only when \a replace says so, even
/// when another program creates one meanwhile.
class NewFile : public PieceTarget
{
public:
    NewFile(std::filesystem::path path, bool replace);
    ~NewFile() override;
    NewFile(const NewFile &) = delete;
    NewFile &operator=(const NewFile &) = delete;

    bool create() override;
    bool write(const std::uint8_t *bytes, std::size_t n) override;
    bool canRewrite() const override { return true; }
    bool rewrite(std::int64_t at, const std::uint8_t *bytes, std::size_t n) override;
    std::optional<std::int64_t> close() override;
    Naming name() override;
    void discard() override;
    int error() const override { return m_error; }
    /// The piece's file while it is written and whole, before it takes its name; while it is,
    /// a signal that ends the program removes it (removeLeftovers()).
    std::filesystem::path file() const override { return m_temporary; }

private:
    bool failed();

    std::filesystem::path m_path;
    bool m_replace = false;
    std::filesystem::path m_temporary;
    Leftover m_leftover;
    int m_fd = -1;
    int m_error = 0;
};

/// An open stream the piece is written to as it goes: standard output.
class StreamTarget : public PieceTarget
{
public:
    explicit StreamTarget(int fd);

    bool create() override { return true; }
    bool write(const std::uint8_t *bytes, std::size_t n) override;
    bool canRewrite() const override { return false; }
    bool rewrite(std::int64_t, const std::uint8_t *, std::size_t) override { return false; }
    std::optional<std::int64_t> close() override { return m_written; }
    Naming name() override { return Naming::Named; }
    void discard() override {}
    int error() const override { return m_error; }

private:
    int m_fd = -1;
    std::int64_t m_written = 0;
    int m_error = 0;
};
