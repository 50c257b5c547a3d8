#pragma once

#include "engine/songmap.h"

#include <cstdint>
#include <variant>
#include <vector>

/// Where a piece lies in its song: the song's frames it holds, and the samples of theirs it plays.
struct Placement
{
    std::int64_t firstFrame = 0;    ///< the piece's first frame, the lead-in included
    std::int64_t endFrame = 0;      ///< one past its last frame
    std::int64_t startSample = 0;   ///< the song's first sample the piece plays, as frames hold them
    std::int64_t endSample = 0;     ///< one past its last
    /// Samples of the piece's frames a gapless decoder drops in front of startSample, less its
    /// own decoder delay: the LAME tag's encoder delay. Layer 3 only.
    int delay = 0;
    /// Samples it drops behind endSample, as the LAME tag counts them (plus the decoder delay).
    int padding = 0;
    /// The piece starts on its marked sample for a gapless decoder. False for layers 1 and 2,
    /// which have no way to say so, and where the frames the first sample needs lie further back
    /// than the tag's 12 bits reach.
    bool exact = true;

    std::int64_t frameCount() const { return endFrame - firstFrame; }
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
