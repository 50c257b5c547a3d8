// SongTags for the program itself: what engine/songtags.cpp does with TagLib, done by the tags
// module, which is loaded only when a song's tags are read.

#include "app/modules.h"
#include "engine/songtags.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

struct TagsModule
{
    ReadTags read = nullptr;
    RenderTags render = nullptr;
};

const TagsModule &tagsModule()
{
    static const TagsModule module{reinterpret_cast<ReadTags>(moduleEntry(MP3CUTTER_TAGS_MODULE, MP3CUTTER_TAGS_READ)),
                                   reinterpret_cast<RenderTags>(moduleEntry(MP3CUTTER_TAGS_MODULE, MP3CUTTER_TAGS_RENDER))};
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
        // Once, as the window reads the tags of every song chosen.
        static std::once_flag said;
        std::call_once(said, [] {
            std::fputs("mp3cutter：找不到标签组件（" MP3CUTTER_TAGS_MODULE "），铃声不带歌曲的标签；请重新安装本程序\n",
                       stderr);
        });
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
