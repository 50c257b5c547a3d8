#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

/// The tags of a song, read once, that every piece cut from it carries.
class SongTags
{
public:
    /// Reads the tags of the song at \a song: its ID3v2 tag; a song without one gives its APEv2
    /// tag's fields, else its ID3v1 tag's. Empty when the song has no tags or cannot be read.
    static SongTags read(const std::filesystem::path &song);

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
