#include "engine/songtagslib.h"

#include "engine/songmap.h"

#include <apetag.h>
#include <attachedpictureframe.h>
#include <commentsframe.h>
#include <id3v1tag.h>
#include <id3v2framefactory.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <tbytevectorstream.h>
#include <tfilestream.h>
#include <textidentificationframe.h>
#include <tpropertymap.h>
#include <unsynchronizedlyricsframe.h>
#include <urllinkframe.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <utility>

using namespace TagLib;

namespace {

// APEv2 pictures are named after ID3v2's picture types, in the same order.
constexpr std::array apePictureNames = {"COVER ART (OTHER)", "COVER ART (PNG ICON)", "COVER ART (ICON)",
    "COVER ART (FRONT)", "COVER ART (BACK)", "COVER ART (LEAFLET)", "COVER ART (MEDIA)",
    "COVER ART (LEAD ARTIST)", "COVER ART (ARTIST)", "COVER ART (CONDUCTOR)", "COVER ART (BAND)",
    "COVER ART (COMPOSER)", "COVER ART (LYRICIST)", "COVER ART (RECORDING LOCATION)",
    "COVER ART (DURING RECORDING)", "COVER ART (DURING PERFORMANCE)", "COVER ART (VIDEO CAPTURE)",
    "COVER ART (FISH)", "COVER ART (ILLUSTRATION)", "COVER ART (BAND LOGOTYPE)",
    "COVER ART (PUBLISHER LOGOTYPE)"};

struct ImageKind
{
    const char *signature;
    const char *mimeType;
};
// APEv2 pictures carry no MIME type; the image's first bytes tell the common ones.
constexpr std::array imageKinds = {ImageKind{"\xFF\xD8\xFF", "image/jpeg"}, ImageKind{"\x89PNG", "image/png"},
    ImageKind{"GIF8", "image/gif"}, ImageKind{"BM", "image/bmp"}};

// Text frames that ID3v2.3 lacks and TagLib leaves out of a 2.3 tag, with the user text names
// TagLib reads them back by.
constexpr std::array<std::pair<const char *, const char *>, 4> framesOnlyIn24 = {
    {{"TDRL", "RELEASEDATE"}, {"TDTG", "TAGGINGDATE"}, {"TMOO", "MOOD"}, {"TSST", "DISCSUBTITLE"}}};

// Only frames that say what the song is go along: the rest may tell of its bytes, times or plays.
bool carriedByPiece(const ID3v2::Frame &frame)
{
    if (frame.frameID() == "TLEN") // each piece gets its own
        return false;
    if (const auto *comment = dynamic_cast<const ID3v2::CommentsFrame *>(&frame))
        return !comment->description().upper().startsWith("ITUN"); // iTunes' gapless and loudness figures of the whole song
    return dynamic_cast<const ID3v2::TextIdentificationFrame *>(&frame)
        || dynamic_cast<const ID3v2::UrlLinkFrame *>(&frame)
        || dynamic_cast<const ID3v2::UnsynchronizedLyricsFrame *>(&frame)
        || dynamic_cast<const ID3v2::AttachedPictureFrame *>(&frame);
}

/// Leaves in \a tag what a piece carries, in frames that ID3v2.3 has.
void trimForPieces(ID3v2::Tag &tag)
{
    // A plain copy: a copy of TagLib's list would share its ownership of the frames.
    const std::vector<ID3v2::Frame *> frames(tag.frameList().begin(), tag.frameList().end());
    for (ID3v2::Frame *frame : frames) {
        const auto onlyIn24 = std::find_if(framesOnlyIn24.begin(), framesOnlyIn24.end(),
                                           [&](const auto &ids) { return frame->frameID() == ids.first; });
        if (onlyIn24 == framesOnlyIn24.end()) {
            if (!carriedByPiece(*frame))
                tag.removeFrame(frame);
            continue;
        }
        if (const auto *text = dynamic_cast<const ID3v2::TextIdentificationFrame *>(frame))
            tag.addFrame(new ID3v2::UserTextIdentificationFrame(onlyIn24->second, text->fieldList(), String::UTF16));
        tag.removeFrame(frame);
    }
}

std::unique_ptr<ID3v2::AttachedPictureFrame> pictureFrom(const String &key, const APE::Item &item)
{
    const String name = key.upper();
    if (item.type() != APE::Item::Binary || !name.startsWith("COVER ART"))
        return nullptr;
    const auto type = std::find_if(apePictureNames.begin(), apePictureNames.end(),
                                   [&](const char *pictureName) { return name == pictureName; });
    // The item's value is a file name, a zero byte, and the image.
    const ByteVector value = item.binaryData();
    const int nameEnd = value.find(ByteVector(1, '\0'));
    const ByteVector image = nameEnd < 0 ? value : value.mid(static_cast<unsigned>(nameEnd) + 1);

    auto picture = std::make_unique<ID3v2::AttachedPictureFrame>();
    picture->setTextEncoding(String::UTF16);
    picture->setType(type == apePictureNames.end()
                         ? ID3v2::AttachedPictureFrame::Other
                         : static_cast<ID3v2::AttachedPictureFrame::Type>(type - apePictureNames.begin()));
    if (nameEnd > 0)
        picture->setDescription(String(value.mid(0, static_cast<unsigned>(nameEnd)), String::UTF8));
    for (const ImageKind &kind : imageKinds)
        if (image.startsWith(kind.signature))
            picture->setMimeType(kind.mimeType);
    picture->setPicture(image);
    return picture;
}

/// Adds to \a tag, as frames, the \a fields whose names it has none of.
void addMissingFields(ID3v2::Tag &tag, const PropertyMap &fields)
{
    const PropertyMap held = tag.properties();
    PropertyMap missing;
    for (const auto &[name, values] : fields)
        if (!held.contains(name))
            missing.insert(name, values);
    // The frames are moved, not set through the tag's properties, which would rebuild the frames it has.
    ID3v2::Tag made;
    made.setProperties(missing);
    const std::vector<ID3v2::Frame *> frames(made.frameList().begin(), made.frameList().end());
    for (ID3v2::Frame *frame : frames) {
        made.removeFrame(frame, false);
        tag.addFrame(frame);
    }
}

bool hasPictures(const ID3v2::Tag &tag)
{
    const auto pictures = tag.frameListMap().find("APIC");
    return pictures != tag.frameListMap().end() && !pictures->second.isEmpty();
}

/// A song read without the junk between its tags in front and its first frame: TagLib looks for
/// an ID3v2 tag there a byte at a time, which took 11 s behind 100 MB of zeros. The tags are where
/// the song's map finds them, behind the audio or in front of everything. Only read.
class SplicedStream : public IOStream
{
public:
    /// \a song without its bytes [\a cutFrom, \a cutTo).
    SplicedStream(IOStream &song, long cutFrom, long cutTo)
        : m_song(song)
        , m_cutFrom(cutFrom)
        , m_cut(std::max(0L, cutTo - cutFrom))
    {
    }

    FileName name() const override { return m_song.name(); }
    ByteVector readBlock(unsigned long length) override
    {
        ByteVector block;
        while (length > 0 && m_at < this->length()) {
            // Up to the cut from in front of it, then from behind it.
            const long in = m_at < m_cutFrom ? m_at : m_at + m_cut;
            const long upTo = m_at < m_cutFrom ? m_cutFrom - m_at : this->length() - m_at;
            m_song.seek(in);
            const ByteVector part = m_song.readBlock(std::min<unsigned long>(length, static_cast<unsigned long>(upTo)));
            if (part.isEmpty())
                break;
            block.append(part);
            m_at += static_cast<long>(part.size());
            length -= part.size();
        }
        return block;
    }
    void writeBlock(const ByteVector &) override {}
    void insert(const ByteVector &, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return m_song.isOpen(); }
    void seek(long offset, Position from) override
    {
        const long base = from == Beginning ? 0 : from == Current ? m_at : length();
        m_at = std::clamp(base + offset, 0L, length());
    }
    long tell() const override { return m_at; }
    long length() override { return m_song.length() - m_cut; }
    void truncate(long) override {}

private:
    IOStream &m_song;
    long m_cutFrom = 0;
    long m_cut = 0;
    long m_at = 0;
};

/// TagLib's reading and writing of ID3v2, APEv2 and ID3v1 tags.
class TagLibTags : public TagReader
{
public:
    SongTags read(const std::filesystem::path &song) const override;
    std::vector<std::uint8_t> renderForPiece(const SongTags &tags, std::int64_t lengthMs) const override;
};

SongTags TagLibTags::read(const std::filesystem::path &song) const
{
    FileStream whole(song.c_str(), true);
    const auto start = findAudioStart(song);
    SplicedStream stream(whole, start ? start->tagsEnd : 0, start ? start->firstFrame : 0);
    MPEG::File file(&stream, ID3v2::FrameFactory::instance(), false);
    if (!file.isValid())
        return {};
    // Taggers often write a new kind of tag and leave an older one holding fields the new one lacks, so
    // each field comes from the first tag that has it. The other kinds become ID3v2 frames, so that a
    // piece carries one kind of tag whatever the song had. Only in memory: the song is open to read.
    ID3v2::Tag &kept = *file.ID3v2Tag(true);
    if (const APE::Tag *ape = file.APETag()) {
        addMissingFields(kept, ape->properties());
        // Two tags' covers would be the same picture twice.
        if (!hasPictures(kept))
            for (const auto &[key, item] : ape->itemListMap())
                if (auto picture = pictureFrom(key, item))
                    kept.addFrame(picture.release());
    }
    if (const ID3v1::Tag *id3v1 = file.ID3v1Tag())
        addMissingFields(kept, id3v1->properties());
    trimForPieces(kept);
    if (kept.frameList().isEmpty())
        return {};
    const ByteVector rendered = kept.render(ID3v2::v4);
    return SongTags::fromBytes(std::vector<std::uint8_t>(rendered.begin(), rendered.end()));
}

std::vector<std::uint8_t> TagLibTags::renderForPiece(const SongTags &tags, std::int64_t lengthMs) const
{
    if (tags.empty())
        return {};
    const std::vector<std::uint8_t> &bytes = tags.bytes();
    ByteVectorStream stream(ByteVector(reinterpret_cast<const char *>(bytes.data()), static_cast<unsigned>(bytes.size())));
    MPEG::File parsed(&stream, ID3v2::FrameFactory::instance(), false);
    ID3v2::Tag &tag = *parsed.ID3v2Tag(true);
    auto length = std::make_unique<ID3v2::TextIdentificationFrame>("TLEN", String::Latin1);
    length->setText(String(std::to_string(lengthMs)));
    tag.addFrame(length.release());
    // Phones and older players read ID3v2.3 more widely than 2.4.
    const ByteVector rendered = tag.render(ID3v2::v3);
    return std::vector<std::uint8_t>(rendered.begin(), rendered.end());
}

} // namespace

const TagReader &tagLibTags()
{
    static const TagLibTags tags;
    return tags;
}
