#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>
#include <span>

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

    virtual ~AudioDecoder() = default;

    /// Opens the file at \a path; empty when it holds no sound this decoder knows.
    virtual std::optional<Format> open(const QString &path) = 0;
    /// Decodes the next samples into \a samples, interleaved over the channels, full scale being
    /// -1 to 1: how many it wrote, a whole number of frames. 0 at the end of the sound, and from
    /// the first damage the decoder cannot step over (then failed() says so).
    virtual qsizetype read(std::span<float> samples) = 0;
    /// The sound stopped before the end of the file, at damage the decoder could not pass.
    virtual bool failed() const = 0;
};

/// Makes a decoder for one file; may be called on any thread.
using AudioDecoderFactory = std::function<std::unique_ptr<AudioDecoder>()>;
