#include "engine/pieceheader.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr int tocEntries = 100;
// Frames, bytes, seek table and quality: all four, so the LAME tag stands where readers look.
constexpr std::uint32_t allFields = 0x0F;
constexpr int xingFieldsSize = 4 + 4 + 4 + 4 + tocEntries + 4;
constexpr int lameTagSize = 36;
// Where the LAME tag's fields stand in it.
constexpr int lameDelayAt = 21;
constexpr int lameMusicLengthAt = 28;
constexpr int lameMusicCrcAt = 32;
constexpr int lameTagCrcAt = 34;

void putBigEndian16(std::uint8_t *to, std::uint16_t value)
{
    to[0] = std::uint8_t(value >> 8);
    to[1] = std::uint8_t(value);
}

} // namespace

namespace {

/// Tables for eight bytes at a time: table k gives the CRC of a byte followed by k zero bytes.
constexpr auto crcTables = [] {
    std::array<std::array<std::uint16_t, 256>, 8> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned value = i;
        for (int bit = 0; bit < 8; ++bit)
            value = value & 1 ? (value >> 1) ^ 0xA001u : value >> 1;
        t[0][i] = std::uint16_t(value);
    }
    for (std::size_t k = 1; k < 8; ++k) {
        for (unsigned i = 0; i < 256; ++i)
            t[k][i] = std::uint16_t((t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF]);
    }
    return t;
}();

} // namespace

std::uint16_t lameCrc(std::uint16_t crc, const std::uint8_t *data, std::size_t size)
{
    // A byte at a time is a tenth of the speed of the copy it rides along with.
    unsigned value = crc;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const std::uint8_t *bytes = data + i;
        value = crcTables[7][(value ^ bytes[0]) & 0xFF] ^ crcTables[6][((value >> 8) ^ bytes[1]) & 0xFF]
            ^ crcTables[5][bytes[2]] ^ crcTables[4][bytes[3]] ^ crcTables[3][bytes[4]] ^ crcTables[2][bytes[5]]
            ^ crcTables[1][bytes[6]] ^ crcTables[0][bytes[7]];
    }
    for (; i < size; ++i)
        value = (value >> 8) ^ crcTables[0][(value ^ data[i]) & 0xFF];
    return std::uint16_t(value);
}

std::vector<std::uint8_t> pieceHeaderFrame(const SongMap &song, const Placement &piece)
{
    if (song.reference.layer != 3 || piece.frameCount() <= 0)
        return {};
    // The header frame is of the kind of the piece's first frame: a song may change its channel
    // mode, and decoders take the frame in front for one of the stream only where it matches.
    const auto lead = piece.leadWord ? frameHeaderFrom(piece.leadWord) : std::nullopt;
    const FrameHeader first = lead ? *lead : song.frame(piece.firstFrame).header();
    const int xingAt = 4 + first.sideInfoSize();
    const int lameAt = lameTagOffset(first);
    // A constant bit rate's piece keeps it in every frame, where the frames can hold what they must.
    const bool constant = song.constantBitRate && first.bitRate == song.reference.bitRate;
    const auto header = frameHolding(first, lameAt + lameTagSize, constant);
    if (!header)
        return {};

    std::vector<std::uint8_t> frame(std::size_t(header->length), 0);
    std::uint8_t *bytes = frame.data();
    putBigEndian32(bytes, header->word);
    std::memcpy(bytes + xingAt, constant ? "Info" : "Xing", 4);
    putBigEndian32(bytes + xingAt + 4, allFields);

    // The piece's frames lie one after the other behind this one, whatever junk lay between them
    // in the song.
    std::vector<std::int64_t> offsets;
    offsets.reserve(std::size_t(piece.frameCount()));
    std::int64_t at = header->length;
    for (int k = 0; k < piece.leadFrames; ++k) {
        offsets.push_back(at);
        at += lead->length;
    }
    for (std::int64_t i = piece.firstFrame; i < piece.endFrame; ++i) {
        offsets.push_back(at);
        at += song.frame(i).length;
    }
    const std::int64_t total = at;
    putBigEndian32(bytes + xingAt + 8, std::uint32_t(piece.frameCount()));
    putBigEndian32(bytes + xingAt + 12, std::uint32_t(total));
    // Entry i: where, in 256ths of the piece, the frame playing at i % of its time begins.
    std::uint8_t *toc = bytes + xingAt + 16;
    for (int i = 0; i < tocEntries; ++i) {
        const std::int64_t position = offsets[std::size_t(piece.frameCount() * i / tocEntries)];
        toc[i] = std::uint8_t(std::min<std::int64_t>(255, 256 * position / total));
    }

    // The encoder's own settings stay as the song's tag gave them; what describes the song's
    // sound as a whole (its replay gain) does not describe the piece and is left unset.
    std::uint8_t *lame = bytes + lameAt;
    const std::vector<std::uint8_t> *own = song.encoderFrame && !song.encoderFrame->lameTag.empty()
        ? &song.encoderFrame->lameTag : nullptr;
    if (own) {
        std::memcpy(lame, own->data(), lameTagSize);
        std::fill(lame + 11, lame + 19, std::uint8_t(0));
    } else {
        // The mark that decoders look for before they trust the delay and padding.
        std::memcpy(lame, "LAME3.100", 9);
        if (constant)
            lame[20] = std::uint8_t(std::min(255, song.reference.bitRate / 1000));
    }
    lame[lameDelayAt] = std::uint8_t(piece.delay >> 4);
    lame[lameDelayAt + 1] = std::uint8_t((piece.delay & 0x0F) << 4 | (piece.padding >> 8 & 0x0F));
    lame[lameDelayAt + 2] = std::uint8_t(piece.padding);
    putBigEndian32(lame + lameMusicLengthAt, std::uint32_t(total));
    putBigEndian16(lame + lameMusicCrcAt, 0);
    putBigEndian16(lame + lameTagCrcAt, 0);
    return frame;
}

int lameTagOffset(const FrameHeader &first)
{
    return 4 + first.sideInfoSize() + xingFieldsSize;
}

void sealPieceHeader(std::vector<std::uint8_t> &frame, std::uint16_t musicCrc)
{
    const int lameAt = lameTagOffset(*frameHeaderFrom(bigEndian32(frame.data())));
    putBigEndian16(frame.data() + lameAt + lameMusicCrcAt, musicCrc);
    // The tag's own CRC covers every byte of the frame in front of it.
    putBigEndian16(frame.data() + lameAt + lameTagCrcAt, lameCrc(0, frame.data(), std::size_t(lameAt + lameTagCrcAt)));
}
