#pragma once

#include "gapless.h"

#include <QList>

#include <optional>

/// A stand-in for the sound card: a GStreamer audio sink that keeps what it plays, in real time
/// like a card, ranked above every other so that a player's automatic choice of sink takes it.
/// Through it a test hears what the real player plays.
namespace CaptureSink {

/// Registers the sink; once, before the first player is made. False when GStreamer cannot.
bool install();

/// Sound as the player put it out: interleaved 32-bit floats, after its volume.
struct Sound
{
    QList<float> samples;
    int rate = 0;
    int channels = 0;
};

/// What the sinks have played since the last seek (any flush) of any of them.
Sound sinceLastSeek();

/// Seconds by the clock from the end of the last sound played before the last flush to the
/// start of the first played after it: the silence a seek leaves. Empty until sound has played
/// on both sides of a flush.
std::optional<double> silenceAtLastFlush();

/// Where the tenth of a second of \a piece's first channel from its sample \a from on is heard
/// in \a heard, within \a reach sample frames of \a near; empty where nothing there is that
/// sound at any volume. Noise matches nowhere else.
std::optional<qsizetype> whereHeard(const Sound &heard, const DecodedSound &piece, qsizetype from, qsizetype near,
                                    qsizetype reach);

} // namespace CaptureSink
