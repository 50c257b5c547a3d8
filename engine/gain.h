#pragma once

#include "engine/cuterror.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

/// How loud a piece plays, changed without decoding and encoding it again: fades at its ends and
/// a louder whole.
struct GainChange
{
    double fadeInSeconds = 0;   ///< 0 for none
    double fadeOutSeconds = 0;  ///< 0 for none
    bool maxVolume = false;     ///< as loud as the loudest sample allows without clipping

    /// Whether anything is to change.
    bool any() const;
};

/// How long a fade lasts when the person asks for one: long enough to hear as a fade, short
/// enough for a ringtone of a few seconds.
constexpr double defaultFadeSeconds = 1.5;

/// Samples of a piece \a pieceSamples long at \a sampleRate that a fade asked to last \a seconds
/// takes: at most a third of the piece, and none where that is too short to fade at all.
std::int64_t fadeSamples(double seconds, std::int64_t pieceSamples, int sampleRate);

/// The seconds a fade asked to last \a seconds lasts on such a piece, where that is less than
/// asked (0 for no fade at all); empty where it lasts as asked.
std::optional<double> shortenedFade(double seconds, std::int64_t pieceSamples, int sampleRate);

/// Rewrites the layer 3 piece at \a piece, as the program writes pieces (a header frame whose
/// LAME tag gives the delay and padding, then its audio frames), so that it plays as \a change
/// asks: each granule's global_gain lowered along a smooth curve in steps of 1.5 dB, from silence
/// at the piece's first played sample, and down to silence at its last one; with maxVolume every
/// granule raised by the same steps, as many as the decoded peak of the faded piece allows
/// without clipping. A fade lasts as fadeSamples() says: a piece too short for any ramp keeps
/// that end as it is.
/// The frames keep their lengths, CRC-protected frames get their CRC again, and the header's
/// LAME tag is sealed again so that its music CRC stays true.
///
/// The piece is written beside itself and renamed over the old one only once whole; a signal that
/// ends the program meanwhile removes the copy (removeLeftovers()). Returns an
/// empty optional on success, else what failed; on failure the file is as it was.
std::optional<CutError> applyGain(const std::filesystem::path &piece, const GainChange &change);
