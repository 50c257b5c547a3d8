#pragma once

#include <cstdint>
#include <optional>

/// What an MPEG audio frame header says about the stream and the frame.
struct FrameHeader
{
    int version = 0;       ///< 10 for MPEG-1, 20 for MPEG-2, 25 for MPEG-2.5
    int layer = 0;         ///< 1 to 3
    int sampleRate = 0;    ///< Hz
    int length = 0;        ///< bytes of the whole frame, header included
    int bitRate = 0;       ///< bit/s
    int channelMode = 0;   ///< 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    bool padded = false;   ///< one slot longer than its bit rate says
    bool hasCrc = false;   ///< two bytes of CRC follow the header
    std::uint32_t word = 0; ///< the four header bytes, the first one highest

    /// Samples of sound per channel in the frame.
    int samplesPerFrame() const;
    /// Bytes of layer 3 side information behind the header (and its CRC).
    int sideInfoSize() const
    {
        const bool mono = channelMode == 3;
        if (version == 10)
            return mono ? 17 : 32;
        return mono ? 9 : 17;
    }
    /// Bytes in front of a layer 3 frame's audio data: header, CRC and side information.
    int sideInfoEnd() const { return 4 + (hasCrc ? 2 : 0) + sideInfoSize(); }
    /// Whether \a other may be a frame of the same stream: the same version, layer and sample rate.
    bool sameStream(const FrameHeader &other) const
    {
        return version == other.version && layer == other.layer && sampleRate == other.sampleRate;
    }
};

/// The frame header whose four bytes are \a word, the first one highest; empty when those bytes
/// are none.
std::optional<FrameHeader> frameHeaderFrom(std::uint32_t word);

/// The four bytes at \a bytes as one number, the first one highest.
inline std::uint32_t bigEndian32(const std::uint8_t *bytes)
{
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 | std::uint32_t(bytes[2]) << 8 | bytes[3];
}

/// Writes \a value into the four bytes at \a to, the highest first.
inline void putBigEndian32(std::uint8_t *to, std::uint32_t value)
{
    to[0] = std::uint8_t(value >> 24);
    to[1] = std::uint8_t(value >> 16);
    to[2] = std::uint8_t(value >> 8);
    to[3] = std::uint8_t(value);
}

/// How many bytes of a layer 3 frame's audio data lie in the frames before it (the bit
/// reservoir): the side information's main_data_begin. \a frame holds at least sideInfoEnd()
/// bytes of the frame \a header describes; 0 for layers 1 and 2.
inline int mainDataBegin(const std::uint8_t *frame, const FrameHeader &header)
{
    if (header.layer != 3)
        return 0;
    const std::uint8_t *side = frame + 4 + (header.hasCrc ? 2 : 0);
    // Nine bits in MPEG-1, eight in MPEG-2 and 2.5, at the very start of the side information.
    if (header.version == 10)
        return side[0] << 1 | side[1] >> 7;
    return side[0];
}

/// A frame header of \a stream's stream (version, layer, sample rate, channel mode), with no CRC
/// and no padding, whose frame holds at least \a bytes: \a stream's own bit rate when
/// \a ownRate and it does, else the lowest bit rate that does. Empty when none does.
std::optional<FrameHeader> frameHolding(const FrameHeader &stream, int bytes, bool ownRate);
