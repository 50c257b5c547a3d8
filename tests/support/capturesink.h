#pragma once

#include <QList>

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

} // namespace CaptureSink
