// SongTags for the program itself: what engine/songtags.cpp does with TagLib, done by the tags
// module, which is loaded only when a song's tags are read.

#include "app/modules.h"
#include "engine/songtags.h"

#include <cstdio>
#include <cstdlib>

#include <dlfcn.h>

namespace {

struct TagsModule
{
    ReadTags read = nullptr;
    RenderTags render = nullptr;
};

const TagsModule &tagsModule()
{
    static const TagsModule module = [] {
        TagsModule found;
        if (void *library = loadModule(MP3CUTTER_TAGS_MODULE)) {
            found.read = reinterpret_cast<ReadTags>(::dlsym(library, MP3CUTTER_TAGS_READ));
            found.render = reinterpret_cast<RenderTags>(::dlsym(library, MP3CUTTER_TAGS_RENDER));
        }
        return found;
    }();
    return module;
}

std::vector<std::uint8_t> taken(unsigned char *bytes, std::size_t size)
{
    std::vector<std::uint8_t> tag(bytes, bytes + size);
    std::free(bytes);
    return tag;
}

} // namespace

bool tagsModuleLoads()
{
    return tagsModule().read && tagsModule().render;
}

SongTags SongTags::read(const std::filesystem::path &song)
{
    if (!tagsModuleLoads()) {
        static const bool said = std::fputs("mp3cutter: the tags module " MP3CUTTER_TAGS_MODULE
                                            " is missing, so pieces carry no tags; reinstall the program\n",
                                            stderr) >= 0;
        static_cast<void>(said);
        return {};
    }
    std::size_t size = 0;
    unsigned char *bytes = tagsModule().read(song.c_str(), &size);
    return fromBytes(taken(bytes, size));
}

std::vector<std::uint8_t> SongTags::renderForPiece(std::int64_t lengthMs) const
{
    if (empty() || !tagsModuleLoads())
        return {};
    std::size_t size = 0;
    unsigned char *bytes = tagsModule().render(m_tag.data(), m_tag.size(), lengthMs, &size);
    return taken(bytes, size);
}
