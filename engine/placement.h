#pragma once

#include "engine/songmap.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <variant>
#include <vector>

/// Where a piece lies in its song: the song's frames it holds, and the samples of theirs it plays.
///
/// A layer 3 frame's audio data may begin in the frames before it (the bit reservoir), and each
/// granule's sound overlaps the one before. So the piece begins a frame or two before the frame
/// that holds its first sample; where that first frame takes data from the frames before it,
/// silent frames of the piece's own go in front and carry those bytes, the "lead frames". They
/// stand in for the song's frames before, which decode to nothing the piece plays.
struct Placement
{
    std::int64_t firstFrame = 0;    ///< the piece's first frame of the song
    std::int64_t endFrame = 0;      ///< one past its last frame
    /// How many lead frames stand in front of firstFrame, and the header of each.
    int leadFrames = 0;
    std::uint32_t leadWord = 0;
    /// Bytes of firstFrame's audio data that lie in the frames before it, which the lead frames carry.
    int reservoir = 0;
    std::int64_t startSample = 0;   ///< the song's first sample the piece plays, as frames hold them
    std::int64_t endSample = 0;     ///< one past its last
    /// Samples of the piece's frames a gapless decoder drops in front of startSample, less its
    /// own decoder delay: the LAME tag's encoder delay. Layer 3 only.
    int delay = 0;
    /// Samples it drops behind endSample, as the LAME tag counts them (plus the decoder delay).
    int padding = 0;
    /// The piece plays from its marked sample to its marked sample. False for layers 1 and 2,
    /// which have no way to say so: their pieces are whole frames around the marks.
    bool exact = true;

    /// The piece's audio frames, the lead frames included.
    std::int64_t frameCount() const { return endFrame - firstFrame + leadFrames; }
};

/// Why marks cannot make a piece.
enum class MarkProblem
{
    EndNotAfterStart,   ///< the end lies before the start
    TooClose,           ///< the marks are equal or less than one frame apart: no sound to keep
    StartPastEnd,       ///< the start lies behind the song's end
    EndPastEnd,         ///< the end lies behind the song's end
};

/// The piece from \a startSeconds to \a endSeconds of the song's time, or why there is none.
/// An end up to one frame behind the song's end is taken as its end: a player's position may
/// run that far past the length its frames give.
std::variant<Placement, MarkProblem> placePiece(const SongMap &song, double startSeconds, double endSeconds);

/// A stretch of the song's bytes.
struct ByteRange
{
    std::int64_t offset = 0;
    std::int64_t length = 0;
};

/// The song's bytes that make the piece's frames, in order: one range, or more where junk lies
/// between them.
std::vector<ByteRange> frameRanges(const SongMap &song, const Placement &piece);

/// The lead frames of \a piece, one after the other: their side information all zero, so they
/// decode to silence, and at the end of their audio data the \a piece.reservoir bytes of audio data
/// before firstFrame, read from the song at \a songPath. Empty when the piece has no lead frames;
/// nullopt when the song's bytes cannot be read.
std::optional<std::vector<std::uint8_t>> leadFrames(const SongMap &song, const Placement &piece,
                                                   const std::filesystem::path &songPath);
