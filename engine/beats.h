#pragma once

#include <optional>
#include <span>
#include <vector>

/// How strongly new sound begins, frame by frame: the rise of a log-spectrum in bands, summed
/// over the bands, with slow swells taken out.
struct OnsetEnvelope
{
    std::vector<float> strength;
    /// Frames per second; frame i stands for the time i / frameRate.
    double frameRate = 0;
};

OnsetEnvelope onsetEnvelope(std::span<const float> mono, int sampleRate);

/// The song's beats: their times in seconds, and the tempo they keep.
struct BeatGrid
{
    std::vector<double> beats;
    double bpm = 0;
};

/// Beats found in \a onsets: the tempo is the beat period whose autocorrelation, weighed towards
/// 120 beats a minute, is highest; the beats are then the chain of frames that best sums onset
/// strength while keeping near that period, found by dynamic programming. Empty where the sound
/// has no pulse to follow (a steady tone, noise, silence).
std::optional<BeatGrid> trackBeats(const OnsetEnvelope &onsets);
