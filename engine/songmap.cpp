#include "engine/songmap.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

namespace {

// Consecutive frames, each where the one before it ends, that make a stream. Random bytes hold
// a frame header now and then, one followed by another of the same stream about once in 10^5,
// but never a run of four.
constexpr int lockFrames = 4;

constexpr int tocEntries = 100;
constexpr std::uint32_t framesFlag = 1;
constexpr std::uint32_t bytesFlag = 2;
constexpr std::uint32_t tocFlag = 4;
constexpr std::uint32_t qualityFlag = 8;
constexpr int lameTagSize = 36;

std::uint32_t littleEndian32(const std::uint8_t *bytes)
{
    return std::uint32_t(bytes[3]) << 24 | std::uint32_t(bytes[2]) << 16 | std::uint32_t(bytes[1]) << 8 | bytes[0];
}

/// The file read through one buffer that slides forward with the reads: the walk from frame to
/// frame only ever looks a few frames ahead, so the song is never held whole.
class FileWindow
{
public:
    bool open(const std::filesystem::path &path)
    {
        m_file.open(path, std::ios::binary);
        if (!m_file)
            return false;
        m_file.seekg(0, std::ios::end);
        m_size = m_file.tellg();
        return m_size > 0;
    }

    std::int64_t size() const { return m_size; }

    /// The bytes [at, at + n) of the file, valid until the next call; null when they are not all
    /// in the file.
    const std::uint8_t *bytes(std::int64_t at, std::int64_t n)
    {
        if (at < 0 || n < 0 || at + n > m_size)
            return nullptr;
        if (at < m_start || at + n > m_start + std::int64_t(m_buffer.size())) {
            // A little of what lies before stays in: the walk steps back to the frame it just
            // confirmed.
            const std::int64_t start = std::max<std::int64_t>(0, at - backStep);
            m_buffer.resize(std::size_t(std::min(std::max(at + n - start, windowSize), m_size - start)));
            m_file.clear();
            m_file.seekg(start);
            m_file.read(reinterpret_cast<char *>(m_buffer.data()), std::streamsize(m_buffer.size()));
            if (m_file.gcount() != std::streamsize(m_buffer.size())) {
                m_buffer.clear();
                return nullptr;
            }
            m_start = start;
        }
        return m_buffer.data() + (at - m_start);
    }

private:
    static constexpr std::int64_t windowSize = 1 << 20;
    static constexpr std::int64_t backStep = 1 << 13;
    std::ifstream m_file;
    std::int64_t m_size = 0;
    std::vector<std::uint8_t> m_buffer;
    std::int64_t m_start = 0;
};

/// The bytes [begin, end) of the file that may hold audio frames.
struct Span
{
    FileWindow &file;
    std::int64_t begin = 0;
    std::int64_t end = 0;

    std::optional<FrameHeader> headerAt(std::int64_t at) const
    {
        if (at < begin || at + 4 > end)
            return std::nullopt;
        return frameHeaderFrom(bigEndian32(file.bytes(at, 4)));
    }

    bool startsWith(std::int64_t at, const char *text) const
    {
        const auto n = std::int64_t(std::strlen(text));
        return at >= begin && at + n <= end && std::memcmp(file.bytes(at, n), text, std::size_t(n)) == 0;
    }

    /// The first 0xFF at or after \a from that may start a header.
    std::optional<std::int64_t> nextSync(std::int64_t from) const
    {
        for (std::int64_t at = from; at + 4 <= end;) {
            const std::int64_t n = std::min<std::int64_t>(end - 3 - at, 1 << 16);
            const std::uint8_t *bytes = file.bytes(at, n);
            if (const auto *hit = static_cast<const std::uint8_t *>(std::memchr(bytes, 0xFF, std::size_t(n))))
                return at + (hit - bytes);
            at += n;
        }
        return std::nullopt;
    }

    /// Whether a frame of \a reference's stream begins at \a at, ends in the span and has
    /// another one behind it or the end of the span.
    bool confirmedFrameAt(std::int64_t at, const FrameHeader &reference) const
    {
        const auto here = headerAt(at);
        if (!here || !here->sameStream(reference))
            return false;
        const std::int64_t next = at + here->length;
        if (next == end)
            return true;
        const auto following = headerAt(next);
        return following && following->sameStream(reference);
    }

    /// The first place at or after \a from where a frame of \a reference's stream is confirmed.
    std::optional<std::int64_t> resync(std::int64_t from, const FrameHeader &reference) const
    {
        for (auto at = nextSync(from); at; at = nextSync(*at + 1)) {
            if (confirmedFrameAt(*at, reference))
                return at;
        }
        return std::nullopt;
    }

    /// The first place at or after \a from where lockFrames frames of one stream follow each other.
    std::optional<std::int64_t> lock(std::int64_t from) const
    {
        for (auto at = nextSync(from); at; at = nextSync(*at + 1)) {
            const auto first = headerAt(*at);
            if (!first)
                continue;
            std::int64_t next = *at + first->length;
            int run = 1;
            for (; run < lockFrames && next <= end; ++run) {
                const auto h = headerAt(next);
                if (!h || !h->sameStream(*first))
                    break;
                next += h->length;
            }
            if (run == lockFrames && next <= end)
                return at;
        }
        return std::nullopt;
    }
};

/// Where the ID3v1, Lyrics3 and APE tags behind the audio begin, in whichever order they were written.
std::int64_t endBeforeTags(FileWindow &file, std::int64_t begin, std::int64_t end)
{
    constexpr std::int64_t id3v1Size = 128;
    constexpr std::int64_t apeFooterSize = 32;
    constexpr std::int64_t lyricsFooterSize = 15;   // six digits of size, then "LYRICS200"
    for (;;) {
        const auto endsWith = [&](std::int64_t size, const char *text) {
            return end - begin >= size && std::memcmp(file.bytes(end - size, 9), text, std::strlen(text)) == 0;
        };
        if (endsWith(id3v1Size, "TAG")) {
            end -= id3v1Size;
            continue;
        }
        if (endsWith(apeFooterSize, "APETAGEX")) {
            // The size counts the items and the footer; a header of the same size may lead them.
            const std::uint8_t *footer = file.bytes(end - apeFooterSize, apeFooterSize);
            const std::int64_t size = littleEndian32(footer + 12);
            const bool hasHeader = littleEndian32(footer + 20) & 0x80000000u;
            const std::int64_t whole = size + (hasHeader ? apeFooterSize : 0);
            if (whole < apeFooterSize || whole > end - begin)
                return end;
            end -= whole;
            continue;
        }
        if (end - begin >= lyricsFooterSize && std::memcmp(file.bytes(end - 9, 9), "LYRICS200", 9) == 0) {
            const std::uint8_t *digits = file.bytes(end - lyricsFooterSize, 6);
            std::int64_t size = 0;
            for (int i = 0; i < 6; ++i) {
                if (digits[i] < '0' || digits[i] > '9')
                    return end;
                size = size * 10 + (digits[i] - '0');
            }
            if (size + lyricsFooterSize > end - begin)
                return end;
            end -= size + lyricsFooterSize;
            continue;
        }
        return end;
    }
}

/// The delay and padding of a LAME tag, trusted where its encoder's mark says it is one that
/// decoders honour.
void readLameTag(EncoderFrame &header, const std::uint8_t *tag)
{
    const bool known = std::memcmp(tag, "LAME", 4) == 0 || std::memcmp(tag, "Lavf", 4) == 0
        || std::memcmp(tag, "Lavc", 4) == 0;
    if (!known)
        return;
    header.lameTag.assign(tag, tag + lameTagSize);
    header.delay = tag[21] << 4 | tag[22] >> 4;
    header.padding = (tag[22] & 0x0F) << 8 | tag[23];
}

std::optional<EncoderFrame> encoderFrameIn(const Span &span, std::int64_t at, const FrameHeader &frame)
{
    if (frame.layer != 3)
        return std::nullopt;
    const std::uint8_t *bytes = span.file.bytes(at, frame.length);
    if (!bytes)
        return std::nullopt;
    EncoderFrame header;
    header.offset = at;
    header.length = frame.length;

    // Behind the side information; lame puts it there in a frame marked as protected too, as if
    // the frame had no CRC.
    const auto xingTagAt = [&](int offset) {
        return offset + 8 <= frame.length
            && (std::memcmp(bytes + offset, "Xing", 4) == 0 || std::memcmp(bytes + offset, "Info", 4) == 0);
    };
    const int xingAt = xingTagAt(frame.sideInfoEnd()) ? frame.sideInfoEnd() : 4 + frame.sideInfoSize();
    if (xingTagAt(xingAt)) {
        header.tag.assign(reinterpret_cast<const char *>(bytes + xingAt), 4);
        const std::uint32_t flags = bigEndian32(bytes + xingAt + 4);
        int field = xingAt + 8;
        const auto number = [&]() -> std::optional<std::uint32_t> {
            if (field + 4 > frame.length)
                return std::nullopt;
            field += 4;
            return bigEndian32(bytes + field - 4);
        };
        if (flags & framesFlag)
            header.frames = number();
        if (flags & bytesFlag)
            header.bytes = number();
        if (flags & tocFlag)
            field += tocEntries;
        if (flags & qualityFlag)
            field += 4;
        if (field + lameTagSize <= frame.length)
            readLameTag(header, bytes + field);
        return header;
    }

    // Fraunhofer's header stands at one place whatever the stream: behind 32 bytes of side information.
    constexpr int vbriAt = 4 + 32;
    if (vbriAt + 18 <= frame.length && std::memcmp(bytes + vbriAt, "VBRI", 4) == 0) {
        header.tag = "VBRI";
        header.bytes = bigEndian32(bytes + vbriAt + 10);
        header.frames = bigEndian32(bytes + vbriAt + 14);
        return header;
    }
    return std::nullopt;
}

} // namespace

std::int64_t SongMap::firstSample() const
{
    if (reference.layer != 3)
        return 0;
    const auto delay = encoderFrame ? encoderFrame->delay : std::nullopt;
    return delay.value_or(usualEncoderDelay) + decoderDelay;
}

std::int64_t SongMap::endSample() const
{
    const std::int64_t all = frameCount() * samplesPerFrame;
    const auto padding = encoderFrame ? encoderFrame->padding : std::nullopt;
    // Without a padding to go by the sound runs to the last frame's end.
    const std::int64_t end = padding && reference.layer == 3 ? all - *padding + decoderDelay : all;
    return std::clamp(end, firstSample(), std::max(all, firstSample()));
}

double SongMap::duration() const
{
    return sampleRate() > 0 ? double(endSample() - firstSample()) / sampleRate() : 0.0;
}

std::int64_t SongMap::sampleAt(double seconds) const
{
    return firstSample() + std::llround(seconds * sampleRate());
}

std::int64_t SongMap::audioBytes() const
{
    return frames.empty() ? 0 : frames.back().offset + frames.back().length - frames.front().offset;
}

std::int64_t id3v2TagSize(const std::uint8_t *head, std::size_t size)
{
    constexpr std::size_t headerSize = 10;
    constexpr std::uint8_t footerFlag = 0x10;
    if (size < headerSize || std::memcmp(head, "ID3", 3) != 0)
        return 0;
    const std::uint8_t version = head[3];
    if (version < 2 || version > 4 || head[4] == 0xFF)
        return 0;

    // The size is stored seven bits to a byte so that no byte of it looks like the start
    // of an MPEG frame; a byte with its top bit set means this is no tag header.
    std::int64_t tag = 0;
    for (std::size_t i = 6; i < headerSize; ++i) {
        if (head[i] >= 0x80)
            return 0;
        tag = tag << 7 | head[i];
    }
    const bool hasFooter = version == 4 && (head[5] & footerFlag) != 0;
    return std::int64_t(headerSize) + tag + (hasFooter ? std::int64_t(headerSize) : 0);
}

std::optional<SongMap> scanSong(const std::filesystem::path &path)
{
    FileWindow file;
    if (!file.open(path))
        return std::nullopt;

    SongMap map;
    // Tags may follow each other in front of the audio; each says how long it is.
    std::int64_t begin = 0;
    while (begin + 10 <= file.size()) {
        const std::int64_t tag = id3v2TagSize(file.bytes(begin, 10), 10);
        if (tag == 0 || begin + tag > file.size())
            break;
        begin += tag;
    }
    map.leadingTag = begin;
    const Span span{file, begin, endBeforeTags(file, begin, file.size())};

    const auto start = span.lock(span.begin);
    if (!start)
        return std::nullopt;
    const FrameHeader first = *span.headerAt(*start);

    map.encoderFrame = encoderFrameIn(span, *start, first);
    std::int64_t at = *start + (map.encoderFrame ? first.length : 0);
    const auto reference = span.headerAt(at);
    if (!reference || !reference->sameStream(first))
        return std::nullopt;
    map.reference = *reference;
    map.samplesPerFrame = reference->samplesPerFrame();
    map.constantBitRate = true;
    // 26 ms a frame at the most common rates; enough room for most songs without a regrowth.
    map.frames.reserve(std::size_t(std::min<std::int64_t>((span.end - at) / 400 + 2, 1 << 20)));

    const auto take = [&](std::int64_t offset, const FrameHeader &frame) {
        const std::uint8_t *bytes = file.bytes(offset, frame.sideInfoEnd());
        const int reservoir = bytes && frame.sideInfoEnd() <= frame.length ? mainDataBegin(bytes, frame) : 0;
        map.frames.push_back({offset, std::uint16_t(frame.length), std::uint16_t(reservoir)});
        map.constantBitRate = map.constantBitRate && frame.bitRate == map.reference.bitRate;
    };
    // The header that confirms a frame is the next frame's own: each is read once.
    std::optional<FrameHeader> confirmed;
    for (;;) {
        const auto frame = confirmed ? confirmed : span.headerAt(at);
        confirmed.reset();
        if (!frame)
            break;
        const std::int64_t next = at + frame->length;
        if (next > span.end)
            break;
        if (const auto following = span.headerAt(next); following && following->sameStream(first)) {
            take(at, *frame);
            at = next;
            confirmed = following;
            continue;
        }
        // An APE tag's header says every byte from there on is the tag's.
        if (next == span.end || span.startsWith(next, "APETAGEX")) {
            take(at, *frame);
            break;
        }
        // Junk behind this frame, or this frame cut short by junk or by the next frame: the
        // frame counts only when the next confirmed one begins behind its end.
        const auto resumed = span.resync(at + 1, first);
        if (!resumed || *resumed >= next)
            take(at, *frame);
        if (!resumed)
            break;
        at = *resumed;
    }
    if (map.frames.empty())
        return std::nullopt;
    return map;
}
