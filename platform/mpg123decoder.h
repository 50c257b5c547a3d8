#pragma once

#include "platform/audiodecoder.h"

#include <QByteArray>
#include <QFile>

struct mpg123_handle_struct;

/// MPEG audio decoded by libmpg123, gapless: the encoder's delay and padding that a LAME tag
/// names are left out, as a gapless player leaves them out. Damage is stepped over, however long:
/// what does not decode takes no time, and the sound after it follows at once.
class Mpg123Decoder final : public AudioDecoder
{
public:
    Mpg123Decoder();
    ~Mpg123Decoder() override;
    Mpg123Decoder(const Mpg123Decoder &) = delete;
    Mpg123Decoder &operator=(const Mpg123Decoder &) = delete;

    std::optional<Format> open(const QString &path) override;
    std::optional<Format> openFrames(const QString &path, std::vector<FrameBytes> frames, int samplesPerFrame) override;
    qsizetype read(std::span<float> samples) override;
    bool failed() const override { return m_failed; }

    static std::unique_ptr<AudioDecoder> make() { return std::make_unique<Mpg123Decoder>(); }

private:
    bool prepare(bool gapless);
    qsizetype readFrames(std::span<float> samples);
    /// Feeds the next of m_frames and keeps what it decodes; false once there is none.
    bool feedNextFrame();
    /// Keeps \a bytes of samples as those of the \a number-th frame fed, silence in their place
    /// where they are not a whole frame of the stream's format.
    void keepFrame(qint64 number, const unsigned char *audio, size_t bytes);

    mpg123_handle_struct *m_handle = nullptr;
    long m_rate = 0;
    int m_channels = 0;
    bool m_ended = true;
    bool m_failed = false;
    /// Frames of another rate or channel count are being decoded: their samples are dropped.
    bool m_foreign = false;

    /// Decoding given frames: those still to feed, from the file read ahead a block at a time.
    bool m_framesOnly = false;
    std::vector<FrameBytes> m_frames;
    size_t m_nextFrame = 0;
    int m_samplesPerFrame = 0;
    QFile m_file;
    QByteArray m_block;
    qint64 m_blockAt = 0;
    /// Samples decoded and not yet read, and how many frames they and those read before hold.
    std::vector<float> m_decoded;
    size_t m_readAt = 0;
    qint64 m_framesKept = 0;
};
