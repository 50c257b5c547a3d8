#include "app/modules.h"
#include "engine/songtags.h"

#include <cstdlib>
#include <cstring>

extern "C" unsigned char *mp3cutterPieceTag(const char *song, long long lengthMs, std::size_t *size)
{
    const std::vector<std::uint8_t> tag = SongTags::read(song).renderForPiece(lengthMs);
    auto *bytes = tag.empty() ? nullptr : static_cast<unsigned char *>(std::malloc(tag.size()));
    *size = bytes ? tag.size() : 0;
    if (bytes)
        std::memcpy(bytes, tag.data(), tag.size());
    return bytes;
}
