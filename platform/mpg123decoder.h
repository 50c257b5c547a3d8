#pragma once

#include "platform/audiodecoder.h"

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
    qsizetype read(std::span<float> samples) override;
    bool failed() const override { return m_failed; }

    static std::unique_ptr<AudioDecoder> make() { return std::make_unique<Mpg123Decoder>(); }

private:
    mpg123_handle_struct *m_handle = nullptr;
    long m_rate = 0;
    int m_channels = 0;
    bool m_ended = true;
    bool m_failed = false;
    /// Frames of another rate or channel count are being decoded: their samples are dropped.
    bool m_foreign = false;
};
