#pragma once

#include "engine/cuterror.h"
#include "engine/piecefile.h"
#include "engine/placement.h"

#include <cstdint>
#include <filesystem>
#include <variant>

/// A piece as both front ends cut it, planned from its song's map: where it lies, and its bytes
/// but for its tag, which each front end reads in its own way.
struct PiecePlan
{
    Placement placement;
    PieceParts parts;
    int sampleRate = 0;

    /// Milliseconds the piece plays, as its tag says.
    std::int64_t lengthMs() const;
};

/// The piece of \a song, the file at \a songPath, from \a startSeconds to \a endSeconds of its
/// time; or why the marks make none; or what reading the song's bytes for its lead frames failed on.
std::variant<PiecePlan, MarkProblem, CutError> planPiece(const SongMap &song, const std::filesystem::path &songPath,
                                                         double startSeconds, double endSeconds);
