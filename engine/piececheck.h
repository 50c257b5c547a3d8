#pragma once

#include "engine/songmap.h"

#include <cstdint>
#include <filesystem>

/// Whether a piece plays the song's sound between the marks it was cut at, judged by what a
/// decoder plays: the piece decoded gapless and the song's samples between the marks, both by
/// libmpg123, compared sample for sample.
struct PieceCheck
{
    enum class Verdict {
        /// The piece plays the song's samples from mark to mark.
        Exact,
        /// Layers I and II, which cannot say where to begin and end: the piece plays the song's
        /// whole frames around the marks, its ends startOffsetMs and endOffsetMs from them.
        Offset,
        /// The piece's sound is not the song's from firstDifferentSample on.
        Mismatch,
        /// The song or the piece could not be read or decoded, or the marks make no piece.
        Failed,
    } verdict = Verdict::Failed;
    /// How far each end of the piece lies from its mark, negative before it: 0 but for Offset.
    double startOffsetMs = 0, endOffsetMs = 0;
    /// For a Mismatch, the piece's first sample (per channel) that is not the song's; -1 otherwise.
    std::int64_t firstDifferentSample = -1;
    /// The piece's samples per second, to tell firstDifferentSample as a time.
    int sampleRate = 0;
    /// Samples at the piece's start and at its end that play the song's sound faded (within a
    /// third of the piece at each end, rising from silence or falling to it): there a piece holds
    /// the song's frames played quieter, whose blends are not the song's samples at any one
    /// volume. The check holds them to be no louder than the song, not sample for sample.
    std::int64_t fadeInSamples = 0, fadeOutSamples = 0;
    /// Decibels the whole piece plays louder than the song: 0, or a louder whole in steps of 1.5 dB.
    double gainDb = 0;
};

/// Checks the piece at \a piece, cut from the song at \a song (mapped by \a map, whole or around
/// the marks) from \a startSeconds to \a endSeconds of the song's time. Decodes the piece and the
/// song's frames from a few before the start mark to the end mark, nothing else of the song.
PieceCheck checkPiece(const std::filesystem::path &song, const SongMap &map, double startSeconds,
                      double endSeconds, const std::filesystem::path &piece);
