#include "app/modules.h"
#include "engine/songtagslib.h"

#include <cstdlib>
#include <cstring>

namespace {

unsigned char *handedOver(const std::vector<std::uint8_t> &tag, std::size_t *size)
{
    auto *bytes = tag.empty() ? nullptr : static_cast<unsigned char *>(std::malloc(tag.size()));
    *size = bytes ? tag.size() : 0;
    if (bytes)
        std::memcpy(bytes, tag.data(), tag.size());
    return bytes;
}

} // namespace

extern "C" unsigned char *mp3cutterReadTags(const char *song, std::size_t *size)
{
    return handedOver(tagLibTags().read(song).bytes(), size);
}

extern "C" unsigned char *mp3cutterRenderTags(const unsigned char *tag, std::size_t size, long long lengthMs,
                                               std::size_t *renderedSize)
{
    const SongTags tags = SongTags::fromBytes(std::vector<std::uint8_t>(tag, tag + size));
    return handedOver(tagLibTags().renderForPiece(tags, lengthMs), renderedSize);
}
