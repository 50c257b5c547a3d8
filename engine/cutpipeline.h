#pragma once

#include "engine/cuterror.h"
#include "engine/gain.h"
#include "engine/piecefile.h"

#include <cstdint>
#include <filesystem>
#include <optional>

/// One cut, from its plan to the piece under its name, as both front ends run it: the piece's
/// bytes (its tag, its header frame, its lead frames, the song's ranges) to a short temporary
/// file of its own, the header sealed once the copy has summed them; its gain changed there; then
/// its name, given in one rename that replaces a file only where the target was told it may.
/// A failure leaves nothing of the piece behind, and says what failed on which file: the song, or
/// the piece under the name it was to have, never its temporary one.
///
/// It runs in steps of bounded work, so that an event loop can drive it, or all at once. The
/// gain, which may decode the whole piece, is a step of its own that a driver may run on another
/// thread, touching the pipeline from no other meanwhile.
class CutPipeline
{
public:
    enum class State {
        Copying,
        /// Whole, its gain still to change: changeGain() goes on.
        Changing,
        Written,
        Failed,
    };

    /// Cuts \a parts of the song \a song, read through \a source, to \a target, whose piece takes
    /// the name \a piece (the name failures give; "standard output" for a stream), changed by \a gain.
    CutPipeline(PieceParts parts, GainChange gain, PieceSource &source, PieceTarget &target,
                std::filesystem::path song, std::filesystem::path piece);

    /// Copies about \a bytes more of the song; once the piece is whole, names it unless its gain
    /// is to change first.
    State step(std::int64_t bytes);
    /// Changes the gain of the whole piece, then names it.
    State changeGain();
    /// Goes on to the end.
    State run();

    State state() const { return m_state; }
    /// Why it failed.
    const std::optional<CutError> &error() const { return m_error; }
    /// Bytes of the piece written so far, and of the whole piece.
    std::int64_t written() const { return m_file.written(); }
    std::int64_t length() const { return m_file.parts().length(); }

private:
    State name();
    /// Takes the failure of the piece's writer, on the file it failed on.
    State failed();
    State fail(CutError error);

    PieceFile m_file;
    GainChange m_gain;
    PieceTarget &m_target;
    std::filesystem::path m_song;
    std::filesystem::path m_piece;
    State m_state = State::Copying;
    std::optional<CutError> m_error;
};
