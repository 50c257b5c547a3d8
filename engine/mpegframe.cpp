#include "engine/mpegframe.h"

namespace {

// kbit/s by bit-rate index 1..14, for MPEG-1 layers 1-3 and for MPEG-2/2.5 layers 1 and 2-3.
constexpr int bitRates[5][14] = {
    {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};

constexpr int mpeg1Rates[3] = {44100, 48000, 32000};

} // namespace

int FrameHeader::samplesPerFrame() const
{
    if (layer == 1)
        return 384;
    return layer == 3 && version != 10 ? 576 : 1152;
}

std::optional<FrameHeader> frameHeaderFrom(std::uint32_t word)
{
    if ((word & 0xFFE00000u) != 0xFFE00000u)
        return std::nullopt;
    const int versionBits = (word >> 19) & 3;
    const int layerBits = (word >> 17) & 3;
    const int rateIndex = (word >> 12) & 15;
    const int sampleIndex = (word >> 10) & 3;
    // Reserved values, the free bit rate (no length to be had) and the reserved emphasis.
    if (versionBits == 1 || layerBits == 0 || rateIndex == 0 || rateIndex == 15 || sampleIndex == 3
        || (word & 3) == 2)
        return std::nullopt;

    FrameHeader header;
    header.word = word;
    header.version = versionBits == 3 ? 10 : versionBits == 2 ? 20 : 25;
    header.layer = 4 - layerBits;
    header.sampleRate = mpeg1Rates[sampleIndex] / (header.version == 10 ? 1 : header.version == 20 ? 2 : 4);
    const int table = header.version == 10 ? header.layer - 1 : header.layer == 1 ? 3 : 4;
    header.bitRate = bitRates[table][rateIndex - 1] * 1000;
    header.padded = (word >> 9) & 1;
    header.hasCrc = ((word >> 16) & 1) == 0;
    header.channelMode = (word >> 6) & 3;
    const int padding = header.padded ? 1 : 0;
    if (header.layer == 1)
        header.length = (12 * header.bitRate / header.sampleRate + padding) * 4;
    else if (header.layer == 3 && header.version != 10)
        header.length = 72 * header.bitRate / header.sampleRate + padding;
    else
        header.length = 144 * header.bitRate / header.sampleRate + padding;
    return header;
}

std::optional<FrameHeader> frameHolding(const FrameHeader &stream, int bytes, bool ownRate)
{
    constexpr std::uint32_t keptBits = 0xFFFE0CCFu; // sync, version, layer, sample rate, channel mode, copyright, original, emphasis
    constexpr std::uint32_t noCrcBit = 0x00010000u;
    constexpr std::uint32_t rateBits = 0x0000F000u;
    const std::uint32_t base = (stream.word & keptBits) | noCrcBit;
    if (ownRate) {
        const auto own = frameHeaderFrom(base | (stream.word & rateBits));
        if (own && own->length >= bytes)
            return own;
    }
    for (std::uint32_t rateIndex = 1; rateIndex < 15; ++rateIndex) {
        const auto header = frameHeaderFrom(base | rateIndex << 12);
        if (header && header->length >= bytes)
            return header;
    }
    return std::nullopt;
}
