#include "engine/songmap.h"

#include "engine/fileio.h"

#include <algorithm>
#include <cmath>
#include <array>
#include <cstring>
#include <limits>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

/// The one place that puts a walk's frames into a map, so that no one else can make a map's
/// frames disagree with its counts.
struct SongMapReader
{
    static void keep(SongMap &map, std::vector<SongFrame> read, std::int64_t before, std::int64_t after, bool whole)
    {
        map.m_frames = std::move(read);
        map.m_framesBefore = before;
        map.m_framesAfter = after;
        map.m_whole = whole;
    }
};

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
/// frame only ever looks a few frames ahead, so the song is never held whole. A read far from the
/// last one takes a little; reads that follow each other take more each time, up to the largest
/// read the window was made for, so a walk through the whole song costs few calls and a look at a
/// few headers reads little more than them.
class FileWindow
{
public:
    /// A walk through the whole song is fastest with reads of a megabyte.
    static constexpr std::int64_t wholeSong = 1 << 20;

    /// A window whose reads take up to \a largestRead bytes, the most one call may ask for.
    explicit FileWindow(std::int64_t largestRead)
        : m_largestRead(largestRead)
    {
    }
    FileWindow(const FileWindow &) = delete;
    FileWindow &operator=(const FileWindow &) = delete;
    ~FileWindow()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    /// Opens an ordinary file with something in it. Not blocking: a named pipe or a device is
    /// refused by what it is, not waited on.
    bool open(const std::filesystem::path &path)
    {
        m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        struct stat info = {};
        if (m_fd < 0 || ::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode))
            return false;
        m_size = info.st_size;
        return m_size > 0;
    }

    std::int64_t size() const { return m_size; }

    /// Whether a read gave less than the file's size promised.
    bool failed() const { return m_failed; }

    /// How many bytes from \a at on to ask for so that bytes() reads no more than it must: those
    /// the buffer holds already, or a whole read.
    std::int64_t heldFrom(std::int64_t at) const
    {
        return at >= m_start && at < m_start + m_length ? m_start + m_length - at : m_largestRead;
    }

    /// The bytes [at, at + n) of the file, valid until the next call; null when they are not all
    /// in the file. Bytes a read did not give are zeros, and failed() tells so.
    const std::uint8_t *bytes(std::int64_t at, std::int64_t n)
    {
        if (at < 0 || n < 0 || n > m_largestRead || at + n > m_size)
            return nullptr;
        if (at < m_start || at + n > m_start + m_length) {
            const bool onward = at >= m_start && at < m_start + m_length + m_largestRead;
            m_readSize = onward ? std::min(2 * m_readSize, m_largestRead) : smallestRead;
            // A little of what lies before stays in: the walk steps back to the frame it just
            // confirmed. Reads start on a page, into a buffer that starts on one: the kernel
            // copies whole pages from its cache at twice the speed of pages split in two.
            const std::int64_t start = std::max<std::int64_t>(0, at - backStep) / page * page;
            const std::int64_t length = std::min(std::max(at + n - start, m_readSize), m_size - start);
            // Allocated once and never cleared: the reads fill it.
            if (!m_buffer) {
                m_storage = std::make_unique_for_overwrite<std::uint8_t[]>(std::size_t(m_largestRead + backStep + 2 * page));
                const auto address = reinterpret_cast<std::uintptr_t>(m_storage.get());
                m_buffer = m_storage.get() + (page - address % page) % page;
            }
            if (!readAt(m_fd, m_buffer, std::size_t(length), start)) {
                // The file holds fewer bytes than it said (it shrank, or is a kernel file that
                // says a page whatever it holds), or cannot be read: what it did not give reads
                // as zeros, which make no frame and no tag, so that every walk ends there; the
                // song is then refused.
                std::memset(m_buffer, 0, std::size_t(length));
                m_failed = true;
            }
            m_start = start;
            m_length = length;
        }
        return m_buffer + (at - m_start);
    }

private:
    static constexpr std::int64_t smallestRead = 1 << 14;
    static constexpr std::int64_t backStep = 1 << 12;
    static constexpr std::int64_t page = 1 << 12;
    std::int64_t m_largestRead = 0;
    int m_fd = -1;
    std::int64_t m_size = 0;
    std::unique_ptr<std::uint8_t[]> m_storage;
    std::uint8_t *m_buffer = nullptr;
    std::int64_t m_start = 0;
    std::int64_t m_length = 0;
    std::int64_t m_readSize = smallestRead;
    bool m_failed = false;
};

/// The bytes [begin, end) of the file that may hold audio frames.
struct Span
{
    FileWindow &file;
    std::int64_t begin = 0;
    std::int64_t end = 0;
    /// Headers decoded last; a word of 0 is no header's.
    mutable std::array<FrameHeader, 4> recent{};
    mutable std::size_t nextRecent = 0;

    std::optional<FrameHeader> headerAt(std::int64_t at) const
    {
        if (at < begin || at + 4 > end)
            return std::nullopt;
        const std::uint32_t word = bigEndian32(file.bytes(at, 4));
        // A song's frames come in a few kinds at the most (padded or not, at one bit rate or
        // another): the kinds met last are kept decoded, which spares the walk its divisions.
        for (const FrameHeader &known : recent) {
            if (known.word == word)
                return known;
        }
        const auto header = frameHeaderFrom(word);
        if (header)
            recent[nextRecent++ % recent.size()] = *header;
        return header;
    }

    bool startsWith(std::int64_t at, const char *text) const
    {
        const auto n = std::int64_t(std::strlen(text));
        return at >= begin && at + n <= end && std::memcmp(file.bytes(at, n), text, std::size_t(n)) == 0;
    }

    /// The first place at or after \a from that may start a header: eleven bits set.
    std::optional<std::int64_t> nextSync(std::int64_t from) const
    {
        for (std::int64_t at = from; at + 4 <= end;) {
            // Each call looks from where the last 0xFF was: asking for a whole read each time
            // would read the file again for every one, which junk holds every 256 bytes.
            const std::int64_t n = std::min<std::int64_t>(end - 3 - at, file.heldFrom(at));
            const std::uint8_t *bytes = file.bytes(at, n);
            for (const std::uint8_t *look = bytes, *last = bytes + n;;) {
                const auto *hit = static_cast<const std::uint8_t *>(std::memchr(look, 0xFF, std::size_t(last - look)));
                if (!hit)
                    break;
                // Seven in eight 0xFF of junk are no sync word: passed over here, not header by header.
                if (hit + 1 == last || (hit[1] & 0xE0) == 0xE0)
                    return at + (hit - bytes);
                look = hit + 1;
            }
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

    /// The first place at or after \a from where lockFrames frames of one stream follow each other,
    /// or where two or more fill the span from its first byte to its last.
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
            // A piece of two frames behind its header frame is a shorter run, but one that fills
            // the file from its first byte to its last.
            if ((run == lockFrames && next <= end) || (run >= 2 && *at == begin && next == end))
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

/// One audio frame as the walk takes it.
struct WalkedFrame
{
    std::int64_t offset = 0;
    FrameHeader header;
};

/// The song's frames one after the other from a frame it starts on, taken as a frame or left as
/// junk by the same rules wherever the walk starts: started on a frame of the song, it goes on
/// exactly as a walk from the song's first frame does from there.
class FrameWalk
{
public:
    FrameWalk(const Span &span, const FrameHeader &stream, std::int64_t at)
        : m_span(span)
        , m_stream(stream)
        , m_at(at)
    {
    }

    /// Takes the next frame into \a frame; false at the end of the audio. (Filled in place: a
    /// frame handed back by value cost the walk of a whole song a tenth of its time.)
    bool next(WalkedFrame &frame)
    {
        while (!m_done) {
            // The header that confirms a frame is the next frame's own: each is read once.
            const auto header = m_confirmed ? m_confirmed : m_span.headerAt(m_at);
            m_confirmed.reset();
            ++m_headersRead;
            const std::int64_t at = m_at;
            const std::int64_t next = header ? at + header->length : 0;
            if (!header || next > m_span.end)
                break;
            frame.offset = at;
            frame.header = *header;
            if (const auto following = m_span.headerAt(next); following && following->sameStream(m_stream)) {
                m_at = next;
                m_confirmed = following;
                return true;
            }
            // An APE tag's header says every byte from there on is the tag's.
            if (next == m_span.end || m_span.startsWith(next, "APETAGEX")) {
                m_done = true;
                return true;
            }
            // Junk behind this frame, or this frame cut short by junk or by the next frame: the
            // frame counts only when the next confirmed one begins behind its end.
            const auto resumed = m_span.resync(at + 1, m_stream);
            if (!resumed) {
                m_done = true;
                return true;
            }
            m_at = *resumed;
            if (*resumed >= next)
                return true;
        }
        m_done = true;
        return false;
    }

    std::int64_t headersRead() const { return m_headersRead; }
    /// Whether the audio has ended.
    bool done() const { return m_done; }
    /// Where the next frame begins, while the audio has not ended.
    std::int64_t position() const { return m_at; }

private:
    const Span &m_span;
    FrameHeader m_stream;
    std::int64_t m_at = 0;
    std::optional<FrameHeader> m_confirmed;
    bool m_done = false;
    std::int64_t m_headersRead = 0;
};

/// What lies in front of a song's audio frames and around them.
struct SongHead
{
    FileWindow &file;
    Span span;
    std::int64_t leadingTag = 0;
    bool untagged = false;
    std::optional<EncoderFrame> encoderFrame;
    FrameHeader reference;
    /// Where the first audio frame begins.
    std::int64_t audioStart = 0;

    SongMap emptyMap() const
    {
        SongMap map;
        map.reference = reference;
        map.samplesPerFrame = reference.samplesPerFrame();
        map.encoderFrame = encoderFrame;
        map.leadingTag = leadingTag;
        map.untagged = untagged;
        return map;
    }

    /// The frame at \a walked as the map holds it.
    SongFrame songFrame(const WalkedFrame &walked) const
    {
        const FrameHeader &frame = walked.header;
        const std::uint8_t *bytes = file.bytes(walked.offset, frame.sideInfoEnd());
        const int reservoir = bytes && frame.sideInfoEnd() <= frame.length ? mainDataBegin(bytes, frame) : 0;
        return {walked.offset, std::uint16_t(frame.length), std::uint16_t(reservoir), frame.word};
    }
};

std::optional<SongHead> readHead(FileWindow &file)
{
    // Tags may follow each other in front of the audio; each says how long it is.
    std::int64_t begin = 0;
    while (begin + 10 <= file.size()) {
        const std::int64_t tag = id3v2TagSize(file.bytes(begin, 10), 10);
        if (tag == 0 || begin + tag > file.size())
            break;
        begin += tag;
    }
    SongHead head{file, Span{file, begin, endBeforeTags(file, begin, file.size())}, begin, false, std::nullopt, {}, 0};
    const auto start = head.span.lock(head.span.begin);
    if (!start)
        return std::nullopt;
    head.untagged = head.leadingTag == 0 && head.span.end == file.size();
    const FrameHeader first = *head.span.headerAt(*start);
    head.encoderFrame = encoderFrameIn(head.span, *start, first);
    // Players drop a Xing or Info frame, but play a VBRI frame as the silent frame it also is.
    head.audioStart = *start + (head.encoderFrame && head.encoderFrame->tag != "VBRI" ? first.length : 0);
    const auto reference = head.span.headerAt(head.audioStart);
    if (!reference || !reference->sameStream(first))
        return std::nullopt;
    head.reference = *reference;
    return head;
}

/// Frames a piece's lead frames may take the reservoir's bytes from, at the most: as many of the
/// stream's smallest frames as hold the largest reservoir, each with a CRC and the side
/// information of two channels, whatever the first frame has.
std::int64_t reservoirFrames(const FrameHeader &stream)
{
    constexpr int largestReservoir = 511;
    constexpr int crcBytes = 2;
    if (stream.layer != 3)
        return 0;
    const auto smallest = frameHolding(stream, 0, false);
    FrameHeader stereo = *smallest;
    stereo.channelMode = 0;
    const int room = smallest->length - stereo.sideInfoEnd() - crcBytes;
    return room > 0 ? (largestReservoir + room - 1) / room : largestReservoir;
}

/// How many frames a song that has kept one bit rate up to its frame \a index, which begins at
/// \a at, has in all, counted by their length: frame index + j begins where j whole frames
/// end, or a byte behind (the padding byte comes now and then). Read from the song's last few
/// frames, and borne out by its Info frame where it has one; empty where the song does not bear
/// the count out (no frame where one should begin, another bit rate, an Info frame that counts
/// other frames or bytes) or may vary (a Xing or VBRI frame). What lies between \a at and those
/// last frames is not seen: damage there would make the count too high, which only tells how
/// long the song runs on behind the frames read.
std::optional<std::int64_t> countByLength(const SongHead &head, std::int64_t index, std::int64_t at, std::int64_t &headersRead)
{
    const FrameHeader &stream = head.reference;
    // LAME marks a constant bit rate with "Info"; a Xing or VBRI frame says it varies.
    if (stream.layer == 1 || (head.encoderFrame && head.encoderFrame->tag != "Info"))
        return std::nullopt;
    const std::int64_t bytesPerFrame = std::int64_t(stream.layer == 3 && stream.version != 10 ? 72 : 144) * stream.bitRate;
    const std::int64_t rate = stream.sampleRate;
    const std::int64_t tail = std::max<std::int64_t>(0, (head.span.end - at) * rate / bytesPerFrame - 3);
    const std::int64_t guess = at + tail * bytesPerFrame / rate;
    const auto ofTheRate = [&](std::int64_t where) {
        ++headersRead;
        const auto frame = head.span.headerAt(where);
        return frame && frame->sameStream(stream) && frame->bitRate == stream.bitRate;
    };
    // Frames of other bit rates may take the bytes of a whole number of these (two of 192 kbit/s
    // those of three of 128), as a loud part between quiet ones does in a song without a Xing
    // frame: frames at points between must stand where their length puts them too.
    constexpr int probes = 4;
    for (int k = 1; k < probes; ++k) {
        const std::int64_t probe = at + tail * k / probes * bytesPerFrame / rate;
        if (!ofTheRate(probe) && !ofTheRate(probe + 1))
            return std::nullopt;
    }
    for (const std::int64_t candidate : {guess, guess + 1}) {
        if (!ofTheRate(candidate))
            continue;
        FrameWalk walk(head.span, stream, candidate);
        std::int64_t total = index + tail;
        std::int64_t audioEnd = 0;
        bool constant = true;
        for (WalkedFrame walked; walk.next(walked); ++total) {
            constant = constant && walked.header.bitRate == stream.bitRate;
            audioEnd = walked.offset + walked.header.length;
        }
        headersRead += walk.headersRead();
        if (!constant || audioEnd == 0)
            return std::nullopt;
        if (head.encoderFrame) {
            const EncoderFrame &info = *head.encoderFrame;
            if ((info.frames && *info.frames != total) || (info.bytes && *info.bytes != audioEnd - info.offset))
                return std::nullopt;
        }
        return total;
    }
    return std::nullopt;
}

/// Fills \a map by walking the song frame by frame from its first audio frame: the frames
/// [keepFrom, needed) go into it. Past \a needed the walk stops once the bit rate has varied
/// (nothing behind can make the song constant again); while it has not, the rest is counted by
/// length where \a countRest and the song bear that out, else walked to the song's end. Every
/// frame up to \a needed is walked, whatever the bit rate: damage in front of a piece moves its
/// time, and only a walk sees it.
void walkFrames(const SongHead &head, SongMap &map, std::int64_t keepFrom, std::int64_t needed, bool countRest)
{
    // 26 ms a frame at the most common rates; enough room for most songs without a regrowth.
    const std::int64_t expected = (head.span.end - head.audioStart) / 400 + 2;
    std::vector<SongFrame> read;
    read.reserve(std::size_t(std::clamp<std::int64_t>(std::min(expected, needed) - keepFrom, 0, 1 << 20)));
    map.constantBitRate = true;
    FrameWalk walk(head.span, head.reference, head.audioStart);
    std::int64_t index = 0;
    std::int64_t counted = 0;
    for (WalkedFrame frame; walk.next(frame);) {
        if (index >= keepFrom && index < needed)
            read.push_back(head.songFrame(frame));
        map.constantBitRate = map.constantBitRate && frame.header.bitRate == map.reference.bitRate;
        if (++index < needed || walk.done())
            continue;
        if (!map.constantBitRate)
            break;
        if (countRest) {
            if (const auto total = countByLength(head, index, walk.position(), counted)) {
                index = *total;
                break;
            }
            countRest = false;
        }
    }
    const std::int64_t before = std::min(keepFrom, index);
    const std::int64_t after = index - before - std::int64_t(read.size());
    // Only a walk that keeps every frame it finds reads the whole song.
    const bool whole = keepFrom == 0 && needed == std::numeric_limits<std::int64_t>::max();
    SongMapReader::keep(map, std::move(read), before, after, whole);
    map.headersRead = walk.headersRead() + counted;
}

/// The map of the song at \a path as \a fill makes it from what lies in front of its frames;
/// empty when it is no ordinary file, cannot be read or holds no run of MPEG audio frames.
template <typename Fill>
std::optional<SongMap> readMap(const std::filesystem::path &path, const Fill &fill)
{
    FileWindow file(FileWindow::wholeSong);
    if (!file.open(path))
        return std::nullopt;
    const auto head = readHead(file);
    if (!head)
        return std::nullopt;
    SongMap map = head->emptyMap();
    fill(*head, map);
    if (map.frameCount() == 0 || file.failed())
        return std::nullopt;
    return map;
}

} // namespace

std::int64_t SongMap::firstSample() const
{
    if (reference.layer != 3)
        return 0;
    const auto delay = encoderFrame ? encoderFrame->delay : std::nullopt;
    return delay ? *delay + decoderDelay : 0;
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
    return m_frames.empty() ? 0 : m_frames.back().offset + m_frames.back().length - m_frames.front().offset;
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

std::optional<AudioStart> findAudioStart(const std::filesystem::path &path)
{
    FileWindow file(FileWindow::wholeSong);
    if (!file.open(path))
        return std::nullopt;
    const auto head = readHead(file);
    if (!head || file.failed())
        return std::nullopt;
    return AudioStart{head->leadingTag, head->encoderFrame ? head->encoderFrame->offset : head->audioStart};
}

std::optional<SongMap> scanSong(const std::filesystem::path &path)
{
    return readMap(path, [](const SongHead &head, SongMap &map) {
        walkFrames(head, map, 0, std::numeric_limits<std::int64_t>::max(), false);
    });
}

std::optional<SongMap> mapSongFor(const std::filesystem::path &path, double startSeconds, double endSeconds)
{
    return readMap(path, [&](const SongHead &head, SongMap &map) {
        const std::int64_t spf = map.samplesPerFrame;
        const std::int64_t start = map.sampleAt(std::max(0.0, startSeconds));
        const std::int64_t end = std::max(start, map.sampleAt(endSeconds));
        // A layer 3 piece begins up to three frames before the one that holds its first sample,
        // and its lead frames carry the reservoir's bytes from the frames before that.
        const std::int64_t keepFrom = std::max<std::int64_t>(0, start / spf - 4 - reservoirFrames(map.reference));
        // Once the song's frames reach this far, its end lies behind the piece's end whatever its
        // padding, and placement asks nothing more of them.
        const auto padding = map.encoderFrame ? map.encoderFrame->padding : std::nullopt;
        const std::int64_t needed = (end + padding.value_or(0) + spf - 1) / spf + 1;
        walkFrames(head, map, keepFrom, needed, true);
    });
}
