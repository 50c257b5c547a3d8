#pragma once

#include <optional>
#include <span>

/// The stretch of a song a ringtone is best made of: its most repeated loud section, from a beat
/// that starts a phrase to a bar line.
struct ChorusProposal
{
    double startSeconds;
    double endSeconds;
    double bpm;
};

/// Proposes the chorus (or the hook) of the song \a mono, sampled at \a sampleRate (8000 to
/// 48000), time 0 its first sample: the section that repeats most, weighed by its loudness and
/// length, 20 to 40 s long (about 30 s where the section is longer, and whole bars past it where
/// it is shorter). Empty for a song too short, too long, or without a repeated section: a steady
/// tone, noise, a sound without a pulse.
std::optional<ChorusProposal> proposeChorus(std::span<const float> mono, int sampleRate);
