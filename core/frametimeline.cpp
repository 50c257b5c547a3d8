#include "core/frametimeline.h"

#include "core/cutrules.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Consecutive frames, each where the one before it ends, that make a stream. Random bytes hold
// a frame header now and then, one followed by another of the same stream about once in 10^5,
// but never a run of four.
constexpr int lockFrames = 4;

constexpr int tocEntries = 100;
constexpr quint32 framesFlag = 1;
constexpr quint32 bytesFlag = 2;
constexpr quint32 tocFlag = 4;

/// The whole file in memory, mapped where the system lets us, read otherwise.
class FileBytes
{
public:
    bool open(const QString &path)
    {
        m_file.setFileName(path);
        if (!m_file.open(QIODevice::ReadOnly))
            return false;
        m_size = m_file.size();
        if (m_size <= 0)
            return false;
        m_data = m_file.map(0, m_size);
        if (!m_data) {
            m_copy = m_file.readAll();
            if (m_copy.size() != m_size)
                return false;
            m_data = reinterpret_cast<const uchar *>(m_copy.constData());
        }
        return true;
    }

    const uchar *data() const { return m_data; }
    qint64 size() const { return m_size; }

private:
    QFile m_file;
    QByteArray m_copy;
    const uchar *m_data = nullptr;
    qint64 m_size = 0;
};

/// The bytes [begin, end) of the file that may hold audio frames.
struct Span
{
    const uchar *data = nullptr;
    qint64 begin = 0;
    qint64 end = 0;

    std::optional<FrameHeader> headerAt(qint64 at) const
    {
        if (at < begin || at + 4 > end)
            return std::nullopt;
        return frameHeaderFrom(qFromBigEndian<quint32>(data + at));
    }

    bool startsWith(qint64 at, const char *text) const
    {
        const auto n = qint64(std::strlen(text));
        return at >= begin && at + n <= end && std::memcmp(data + at, text, size_t(n)) == 0;
    }

    /// Whether a frame of \a reference's stream begins at \a at, ends in the span and has
    /// another one behind it or the end of the span.
    std::optional<FrameHeader> confirmedFrameAt(qint64 at, const FrameHeader &reference) const
    {
        const auto here = headerAt(at);
        if (!here || !here->sameStream(reference))
            return std::nullopt;
        const qint64 next = at + here->length;
        if (next == end)
            return here;
        if (const auto following = headerAt(next); following && following->sameStream(reference))
            return here;
        return std::nullopt;
    }

    /// The first place at or after \a from where a frame of \a reference's stream is confirmed.
    std::optional<qint64> resync(qint64 from, const FrameHeader &reference) const
    {
        for (qint64 at = from; at + 4 <= end; ++at) {
            const auto *hit = static_cast<const uchar *>(std::memchr(data + at, 0xFF, size_t(end - 4 - at + 1)));
            if (!hit)
                return std::nullopt;
            at = hit - data;
            if (confirmedFrameAt(at, reference))
                return at;
        }
        return std::nullopt;
    }

    /// The first place at or after \a from where lockFrames frames of one stream follow each other.
    std::optional<qint64> lock(qint64 from) const
    {
        for (qint64 at = from; at + 4 <= end; ++at) {
            const auto *hit = static_cast<const uchar *>(std::memchr(data + at, 0xFF, size_t(end - 4 - at + 1)));
            if (!hit)
                return std::nullopt;
            at = hit - data;
            const auto first = headerAt(at);
            if (!first)
                continue;
            qint64 next = at + first->length;
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

/// Where the ID3v1 and APE tags behind the audio begin, in whichever order they were written.
qint64 endBeforeTags(const uchar *data, qint64 begin, qint64 end)
{
    constexpr qint64 id3v1Size = 128;
    constexpr qint64 apeFooterSize = 32;
    for (;;) {
        if (end - begin >= id3v1Size && std::memcmp(data + end - id3v1Size, "TAG", 3) == 0) {
            end -= id3v1Size;
            continue;
        }
        if (end - begin >= apeFooterSize && std::memcmp(data + end - apeFooterSize, "APETAGEX", 8) == 0) {
            // The size counts the items and the footer; a header of the same size may lead them.
            const uchar *footer = data + end - apeFooterSize;
            const qint64 size = qFromLittleEndian<quint32>(footer + 12);
            const bool hasHeader = qFromLittleEndian<quint32>(footer + 20) & 0x80000000u;
            const qint64 whole = size + (hasHeader ? apeFooterSize : 0);
            if (whole < apeFooterSize || whole > end - begin)
                return end;
            end -= whole;
            continue;
        }
        return end;
    }
}

std::optional<VbrHeader> vbrHeaderIn(const Span &span, qint64 at, const FrameHeader &frame)
{
    if (frame.layer != 3)
        return std::nullopt;
    const uchar *bytes = span.data + at;
    VbrHeader header;
    header.offset = at;
    header.length = frame.length;

    const int xingAt = 4 + (frame.hasCrc ? 2 : 0) + frame.sideInfoSize();
    if (xingAt + 8 <= frame.length
        && (std::memcmp(bytes + xingAt, "Xing", 4) == 0 || std::memcmp(bytes + xingAt, "Info", 4) == 0)) {
        header.tag = QByteArray(reinterpret_cast<const char *>(bytes + xingAt), 4);
        const quint32 flags = qFromBigEndian<quint32>(bytes + xingAt + 4);
        int field = xingAt + 8;
        const auto number = [&]() -> std::optional<quint32> {
            if (field + 4 > frame.length)
                return std::nullopt;
            field += 4;
            return qFromBigEndian<quint32>(bytes + field - 4);
        };
        if (flags & framesFlag)
            header.frames = number();
        if (flags & bytesFlag)
            header.bytes = number();
        if ((flags & tocFlag) && field + tocEntries <= frame.length)
            header.toc = QByteArray(reinterpret_cast<const char *>(bytes + field), tocEntries);
        return header;
    }

    // Fraunhofer's header stands at one place whatever the stream: behind 32 bytes of side information.
    constexpr int vbriAt = 4 + 32;
    if (vbriAt + 18 <= frame.length && std::memcmp(bytes + vbriAt, "VBRI", 4) == 0) {
        header.tag = "VBRI";
        header.bytes = qFromBigEndian<quint32>(bytes + vbriAt + 10);
        header.frames = qFromBigEndian<quint32>(bytes + vbriAt + 14);
        return header;
    }
    return std::nullopt;
}

} // namespace

double FrameTimeline::duration() const
{
    return frameTime(frameCount());
}

double FrameTimeline::frameTime(qsizetype index) const
{
    return reference.sampleRate > 0 ? double(index) * samplesPerFrame / reference.sampleRate : 0.0;
}

qsizetype FrameTimeline::frameAt(double seconds) const
{
    if (frameCount() == 0 || samplesPerFrame == 0 || !(seconds > 0))
        return 0;
    // A frame's own time, computed by frameTime(), must give that frame back despite rounding.
    const double frames = seconds * reference.sampleRate / samplesPerFrame + 1e-9;
    if (frames >= double(frameCount()))
        return frameCount() - 1;
    return qsizetype(std::floor(frames));
}

std::optional<FrameTimeline> scanFrameTimeline(const QString &path)
{
    FileBytes file;
    if (!file.open(path))
        return std::nullopt;

    constexpr qsizetype id3HeaderSize = 10;
    const QByteArray head(reinterpret_cast<const char *>(file.data()), std::min<qint64>(file.size(), id3HeaderSize));
    const qint64 begin = std::min(id3v2TagSize(head), file.size());
    const Span span{file.data(), begin, endBeforeTags(file.data(), begin, file.size())};

    const auto start = span.lock(span.begin);
    if (!start)
        return std::nullopt;
    const FrameHeader first = *span.headerAt(*start);

    FrameTimeline timeline;
    timeline.vbrHeader = vbrHeaderIn(span, *start, first);
    qint64 at = *start + (timeline.vbrHeader ? first.length : 0);
    const auto reference = span.headerAt(at);
    if (!reference || !reference->sameStream(first))
        return std::nullopt;
    timeline.reference = *reference;
    timeline.samplesPerFrame = reference->samplesPerFrame();
    timeline.constantBitRate = true;
    // 26 ms a frame at the most common rates; enough room for most songs without a regrowth.
    timeline.frameOffsets.reserve(qsizetype(std::min<qint64>((span.end - at) / 400 + 2, 1 << 20)));

    const auto take = [&timeline](qint64 offset, const FrameHeader &frame) {
        timeline.frameOffsets.append(offset);
        timeline.constantBitRate = timeline.constantBitRate && frame.bitRate == timeline.reference.bitRate;
    };
    // The header that confirms a frame is the next frame's own: each is read once.
    std::optional<FrameHeader> confirmed;
    for (;;) {
        const auto frame = confirmed ? confirmed : span.headerAt(at);
        confirmed.reset();
        if (!frame)
            break;
        const qint64 next = at + frame->length;
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
    if (timeline.frameOffsets.isEmpty())
        return std::nullopt;
    const qint64 last = timeline.frameOffsets.last();
    timeline.frameOffsets.append(last + span.headerAt(last)->length);
    return timeline;
}

QByteArray xingFrameFor(const FrameTimeline &song, qsizetype first, qsizetype end)
{
    const FrameHeader &songFrame = song.reference;
    if (songFrame.layer != 3)
        return {};
    first = std::clamp<qsizetype>(first, 0, song.frameCount());
    end = std::clamp<qsizetype>(end, first, song.frameCount());

    // Its own bit rate is the lowest that holds the header: "Xing", flags, frames, bytes, table.
    const int xingAt = 4 + songFrame.sideInfoSize();
    const int needed = xingAt + 4 + 4 + 4 + 4 + tocEntries;
    constexpr quint32 keptBits = 0xFFFE0CCFu; // sync, version, layer, sample rate, channel mode, copyright, original, emphasis
    constexpr quint32 noCrcBit = 0x00010000u;
    std::optional<FrameHeader> header;
    for (quint32 rateIndex = 1; rateIndex < 15 && !(header && header->length >= needed); ++rateIndex)
        header = frameHeaderFrom((songFrame.word & keptBits) | noCrcBit | (rateIndex << 12));
    if (!header || header->length < needed)
        return {};

    QByteArray frame(header->length, '\0');
    auto *bytes = reinterpret_cast<uchar *>(frame.data());
    qToBigEndian<quint32>(header->word, bytes);
    std::memcpy(bytes + xingAt, "Xing", 4);
    qToBigEndian<quint32>(framesFlag | bytesFlag | tocFlag, bytes + xingAt + 4);
    const qint64 frameCount = end - first;
    const qint64 audioBytes = song.frameOffsets.isEmpty() ? 0 : song.frameOffsets[end] - song.frameOffsets[first];
    const qint64 total = header->length + audioBytes;
    qToBigEndian<quint32>(quint32(frameCount), bytes + xingAt + 8);
    qToBigEndian<quint32>(quint32(total), bytes + xingAt + 12);

    // Entry i: where, in 256ths of the file, the frame playing at i % of the piece's time begins.
    uchar *toc = bytes + xingAt + 16;
    for (int i = 0; i < tocEntries; ++i) {
        const qsizetype frameIndex = first + frameCount * i / tocEntries;
        const qint64 position = header->length + (audioBytes ? song.frameOffsets[frameIndex] - song.frameOffsets[first] : 0);
        toc[i] = uchar(std::min<qint64>(255, 256 * position / total));
    }
    return frame;
}
