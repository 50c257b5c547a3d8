#pragma once

#include "engine/mpegframe.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

class SongMap;

/// Granules in a layer 3 frame: two in MPEG-1, one in MPEG-2 and 2.5.
inline int granulesOf(const FrameHeader &header)
{
    return header.version == 10 ? 2 : 1;
}

inline int channelsOf(const FrameHeader &header)
{
    return header.channelMode == 3 ? 1 : 2;
}

/// Where, in bits from the start of a layer 3 frame's side information, the 8 bits of
/// global_gain of granule \a gr and channel \a ch begin.
int globalGainBit(const FrameHeader &header, int gr, int ch);

/// The 8 bits from bit \a bit of \a bits on, the highest bit first.
int readByteAt(const std::uint8_t *bits, int bit);
/// Writes \a value over the 8 bits from bit \a bit of \a bits on.
void writeByteAt(std::uint8_t *bits, int bit, int value);

/// Bytes of a layer 3 frame, from its header to the end of its side information, enough for
/// every frame whatever its version, channels and CRC.
constexpr int largestSideInfoEnd = 4 + 2 + 32;

/// What a layer 3 granule's side information says about how loud it is, the loudest of its
/// channels: its global_gain, and whether it holds any coded values at all.
struct GranuleLevel
{
    std::uint8_t gain = 0;
    bool silent = true;
};

/// The levels of \a header's granules, \a side pointing at its side information, in order.
void granuleLevels(const std::uint8_t *side, const FrameHeader &header, std::vector<GranuleLevel> &levels);

/// The levels of every granule of the layer 3 song at \a path whose frames \a map lists, read
/// from their side information alone, in the order they play; empty when the song is of
/// another layer or its frames cannot be read.
std::optional<std::vector<GranuleLevel>> songLevels(const std::filesystem::path &path, const SongMap &map);
