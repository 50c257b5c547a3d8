#include "mp3frames.h"

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

bool sameStream(const FrameHeader &a, const FrameHeader &b)
{
    return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate;
}

} // namespace

std::optional<FrameHeader> frameHeaderAt(const QByteArray &bytes, qsizetype offset)
{
    if (offset < 0 || offset + 4 > bytes.size())
        return std::nullopt;
    const auto b = [&](int i) { return uchar(bytes[offset + i]); };
    if (b(0) != 0xFF || (b(1) & 0xE0) != 0xE0)
        return std::nullopt;
    const int versionBits = (b(1) >> 3) & 3;
    const int layerBits = (b(1) >> 1) & 3;
    const int rateIndex = b(2) >> 4;
    const int sampleIndex = (b(2) >> 2) & 3;
    // Reserved values, the free bit rate (no length to be had) and the reserved emphasis.
    if (versionBits == 1 || layerBits == 0 || rateIndex == 0 || rateIndex == 15 || sampleIndex == 3
        || (b(3) & 3) == 2)
        return std::nullopt;

    FrameHeader header;
    header.version = versionBits == 3 ? 10 : versionBits == 2 ? 20 : 25;
    header.layer = 4 - layerBits;
    header.sampleRate = mpeg1Rates[sampleIndex] / (header.version == 10 ? 1 : header.version == 20 ? 2 : 4);
    const int table = header.version == 10 ? header.layer - 1 : header.layer == 1 ? 3 : 4;
    const int bitRate = bitRates[table][rateIndex - 1] * 1000;
    const int padding = (b(2) >> 1) & 1;
    if (header.layer == 1)
        header.length = (12 * bitRate / header.sampleRate + padding) * 4;
    else if (header.layer == 3 && header.version != 10)
        header.length = 72 * bitRate / header.sampleRate + padding;
    else
        header.length = 144 * bitRate / header.sampleRate + padding;
    return header;
}

std::optional<qsizetype> nextFrameStart(const QByteArray &bytes, qsizetype from, const FrameHeader &reference)
{
    for (qsizetype at = std::max<qsizetype>(from, 0); at + 4 <= bytes.size(); ++at) {
        const auto here = frameHeaderAt(bytes, at);
        if (!here || !sameStream(*here, reference))
            continue;
        if (const auto following = frameHeaderAt(bytes, at + here->length); following && sameStream(*following, reference))
            return at;
    }
    return std::nullopt;
}
