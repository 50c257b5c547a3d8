#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

/// Decodes one audio file, front to back, into samples as a gapless player plays them: time 0 is
/// the song's first real sample, after the encoder's delay. Used from one thread at a time, any
/// thread.
class AudioDecoder
{
public:
    struct Format
    {
        int sampleRate = 0;
        int channels = 0;
        /// Frames of the whole song as the file's header says, or as its size suggests; empty
        /// when the decoder cannot tell before decoding it all.
        std::optional<qint64> frames;
    };

    /// Where one MPEG audio frame lies in its file.
    struct FrameBytes
    {
        qint64 offset = 0;
        int length = 0;
    };

    virtual ~AudioDecoder() = default;

    /// Opens the file at \a path; empty when it holds no sound this decoder knows.
    virtual std::optional<Format> open(const QString &path) = 0;
    /// Opens \a frames of the file at \a path as one stream, as though nothing lay between
    /// them: read() then gives every frame's \a samplesPerFrame samples in turn, none dropped at
    /// either end, and silence for a frame that does not decode. Decoded so, stretches of a song
    /// decode on threads of their own. Empty when the file cannot be read or its first frame is
    /// none this decoder knows.
    virtual std::optional<Format> openFrames(const QString &path, std::vector<FrameBytes> frames,
                                             int samplesPerFrame) = 0;
    /// Decodes the next samples into \a samples, interleaved over the channels, full scale being
    /// -1 to 1: how many it wrote, a whole number of frames. 0 at the end of the sound, and from
    /// the first damage the decoder cannot step over (then failed() says so).
    virtual qsizetype read(std::span<float> samples) = 0;
    /// The sound stopped before the end of the file, at damage the decoder could not pass.
    virtual bool failed() const = 0;
};

/// Makes a decoder for one file; may be called on any thread.
using AudioDecoderFactory = std::function<std::unique_ptr<AudioDecoder>()>;
