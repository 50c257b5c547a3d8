#pragma once

#include <cstdint>
#include <filesystem>
#include <utility>
#include <vector>

/// The tags of a song, read once, that every piece cut from it carries.
class SongTags
{
public:
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

private:
    // Plain bytes that any thread may read at once, and no tag library's type for the users of
    // this header.
    std::vector<std::uint8_t> m_tag;
};

/// Reads a song's tags and renders a piece's. The program's own takes TagLib from the tags
/// module, loaded only when a song is read (app/modules.h), as its player comes from the player
/// module; where that is missing, or nothing is wanted, noTags() reads none.
class TagReader
{
public:
    virtual ~TagReader() = default;

    /// Reads the tags of the song at \a song: each field from the first of its ID3v2, APEv2 and
    /// ID3v1 tags that has it, the pictures from the first that has any. Empty when the song has
    /// no tags or cannot be read.
    virtual SongTags read(const std::filesystem::path &song) const = 0;

    /// An ID3v2.3 tag to stand at the head of a piece \a lengthMs milliseconds long: the song's
    /// texts and pictures, its length the piece's, and none of the frames that tell of the
    /// song's own bytes or times. Empty when the song had no tags.
    virtual std::vector<std::uint8_t> renderForPiece(const SongTags &tags, std::int64_t lengthMs) const = 0;
};

/// Reads no tags: its pieces carry none.
const TagReader &noTags();
