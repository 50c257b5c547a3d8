#pragma once

#include <cstdint>
#include <filesystem>
#include <utility>
#include <vector>

/// The tags of a song, read once, that every piece cut from it carries. Reading and rendering
/// take TagLib; the program's front ends take them from the tags module (app/songtagsmodule.cpp
/// stands in for engine/songtags.cpp there), so that TagLib loads only when a song is read.
class SongTags
{
public:
    /// Reads the tags of the song at \a song: each field from the first of its ID3v2, APEv2 and
    /// ID3v1 tags that has it, the pictures from the first that has any. Empty when the song has
    /// no tags or cannot be read.
    static SongTags read(const std::filesystem::path &song);

    /// Tags read before, as bytes() gave them.
    static SongTags fromBytes(std::vector<std::uint8_t> tag)
    {
        SongTags tags;
        tags.m_tag = std::move(tag);
        return tags;
    }
    /// What a piece carries, as an ID3v2.4 tag; empty when the song had nothing.
    const std::vector<std::uint8_t> &bytes() const { return m_tag; }

    /// Whether the song had nothing that a piece would carry.
    bool empty() const { return m_tag.empty(); }

    /// An ID3v2.3 tag to stand at the head of a piece \a lengthMs milliseconds long: the song's
    /// texts and pictures, its length the piece's, and none of the frames that tell of the
    /// song's own bytes or times. Empty when the song had no tags.
    std::vector<std::uint8_t> renderForPiece(std::int64_t lengthMs) const;

private:
    // What a piece carries, as an ID3v2.4 tag: plain bytes that any thread may read at once, and
    // no TagLib type for the users of this header.
    std::vector<std::uint8_t> m_tag;
};
