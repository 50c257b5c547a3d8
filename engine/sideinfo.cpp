#include "engine/sideinfo.h"

#include "engine/songmap.h"

#include <algorithm>
#include <fstream>

namespace {

// The side information's fields, in bits, as the published layer 3 layout has them.
constexpr int mainDataBeginBits = 9;        // MPEG-1; 8 in MPEG-2 and 2.5
constexpr int lsfMainDataBeginBits = 8;
constexpr int scfsiBits = 4;                // a channel, MPEG-1 only
constexpr int part23LengthBits = 12;
constexpr int bigValuesBits = 9;
constexpr int granuleChannelBits = 59;      // MPEG-1: each granule and channel
constexpr int lsfGranuleChannelBits = 63;   // MPEG-2 and 2.5: their one granule, a channel

/// Private bits behind main_data_begin: 5 mono and 3 stereo in MPEG-1, 1 and 2 in MPEG-2 and 2.5.
int privateBits(const FrameHeader &header)
{
    const bool mono = channelsOf(header) == 1;
    if (header.version == 10)
        return mono ? 5 : 3;
    return mono ? 1 : 2;
}

/// Where granule \a gr's channel \a ch begins in the side information, in bits.
int granuleChannelBit(const FrameHeader &header, int gr, int ch)
{
    if (header.version == 10) {
        const int start = mainDataBeginBits + privateBits(header) + scfsiBits * channelsOf(header);
        return start + (gr * channelsOf(header) + ch) * granuleChannelBits;
    }
    return lsfMainDataBeginBits + privateBits(header) + ch * lsfGranuleChannelBits;
}

/// The file read front to back in large blocks, handing out the bytes at any offset ahead.
class BlockReader
{
public:
    explicit BlockReader(const std::filesystem::path &path)
        : m_file(path, std::ios::binary)
    {
    }

    /// The \a n bytes at \a at, which lie no earlier than those asked for before; nullptr when
    /// the file does not hold them.
    const std::uint8_t *at(std::int64_t at, int n)
    {
        if (at < m_start || at + n > m_start + std::int64_t(m_bytes.size())) {
            constexpr std::int64_t block = 1 << 20;
            m_bytes.resize(std::size_t(std::max<std::int64_t>(block, n)));
            m_file.clear();
            m_file.seekg(at);
            m_file.read(reinterpret_cast<char *>(m_bytes.data()), std::streamsize(m_bytes.size()));
            m_bytes.resize(std::size_t(m_file.gcount()));
            m_start = at;
            if (std::int64_t(m_bytes.size()) < n)
                return nullptr;
        }
        return m_bytes.data() + (at - m_start);
    }

private:
    std::ifstream m_file;
    std::vector<std::uint8_t> m_bytes;
    std::int64_t m_start = 0;
};

} // namespace

int globalGainBit(const FrameHeader &header, int gr, int ch)
{
    return granuleChannelBit(header, gr, ch) + part23LengthBits + bigValuesBits;
}

int readByteAt(const std::uint8_t *bits, int bit)
{
    const unsigned pair = unsigned(bits[bit / 8]) << 8 | bits[bit / 8 + 1];
    return int(pair >> (8 - bit % 8) & 0xFF);
}

void writeByteAt(std::uint8_t *bits, int bit, int value)
{
    const int shift = 8 - bit % 8;
    const unsigned mask = 0xFFu << shift;
    const unsigned pair = (unsigned(bits[bit / 8]) << 8 | bits[bit / 8 + 1]) & ~mask;
    const unsigned written = pair | (unsigned(value) << shift & mask);
    bits[bit / 8] = std::uint8_t(written >> 8);
    bits[bit / 8 + 1] = std::uint8_t(written);
}

void granuleLevels(const std::uint8_t *side, const FrameHeader &header, std::vector<GranuleLevel> &levels)
{
    for (int gr = 0; gr < granulesOf(header); ++gr) {
        GranuleLevel level;
        for (int ch = 0; ch < channelsOf(header); ++ch) {
            const int at = granuleChannelBit(header, gr, ch);
            // part2_3_length: a channel that codes no bits at all decodes to silence, whatever
            // its gain says.
            const int coded = readByteAt(side, at) << 4 | readByteAt(side, at + 8) >> 4;
            if (coded == 0)
                continue;
            level.silent = false;
            level.gain = std::max<std::uint8_t>(level.gain, std::uint8_t(readByteAt(side, globalGainBit(header, gr, ch))));
        }
        levels.push_back(level);
    }
}

std::optional<std::vector<GranuleLevel>> songLevels(const std::filesystem::path &path, const SongMap &map)
{
    if (map.reference.layer != 3 || map.framesRead() != map.frameCount())
        return std::nullopt;
    BlockReader reader(path);
    std::vector<GranuleLevel> levels;
    levels.reserve(std::size_t(map.framesRead()) * std::size_t(granulesOf(map.reference)));
    for (const SongFrame &frame : map.readFrames()) {
        const FrameHeader header = frame.header();
        const std::uint8_t *bytes = reader.at(frame.offset, std::min<int>(frame.length, largestSideInfoEnd));
        if (!bytes || frame.length < header.sideInfoEnd())
            return std::nullopt;
        granuleLevels(bytes + 4 + (header.hasCrc ? 2 : 0), header, levels);
    }
    return levels;
}
