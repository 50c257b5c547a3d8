#pragma once

#include "engine/placement.h"
#include "engine/songmap.h"

#include <cstdint>
#include <vector>

/// The frame that stands in front of a layer 3 piece's audio frames: an "Info" header (a constant
/// bit rate's) or a "Xing" header with the piece's frame count, bytes and seek table, and a LAME
/// tag whose delay and padding make a gapless decoder play exactly the piece's samples. Its two
/// CRC fields are left 0 until sealPieceHeader(). Empty for layers 1 and 2, whose players look
/// for no such frame.
std::vector<std::uint8_t> pieceHeaderFrame(const SongMap &song, const Placement &piece);

/// Where the header frame of a piece whose first frame is of \a first's kind keeps its LAME tag:
/// behind the side information, the "Xing" or "Info" mark and all four of its fields.
int lameTagOffset(const FrameHeader &first);

/// Writes the CRC of the piece's audio frames, \a musicCrc, and the CRC of the tag itself into
/// \a frame, made by pieceHeaderFrame().
void sealPieceHeader(std::vector<std::uint8_t> &frame, std::uint16_t musicCrc);

/// CRC-16 with the polynomial 0x8005, the bits taken lowest first, as the LAME tag's fields use it:
/// \a crc is the CRC of the bytes before \a data (0 to begin).
std::uint16_t lameCrc(std::uint16_t crc, const std::uint8_t *data, std::size_t size);
