// The program's tags: TagLib's, in the tags module, which is loaded only when a song's tags are
// read. What crosses into the module is plain bytes, allocated with malloc: the module has a C++
// library of its own.

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

namespace {

class ModuleTags : public TagReader
{
public:
    SongTags read(const std::filesystem::path &song) const override
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
        return SongTags::fromBytes(taken(bytes, size));
    }

    std::vector<std::uint8_t> renderForPiece(const SongTags &tags, std::int64_t lengthMs) const override
    {
        if (tags.empty() || !tagsModuleLoads())
            return {};
        std::size_t size = 0;
        unsigned char *bytes = tagsModule().render(tags.bytes().data(), tags.bytes().size(), lengthMs, &size);
        return taken(bytes, size);
    }
};

} // namespace

const TagReader &moduleTags()
{
    static const ModuleTags tags;
    return tags;
}
