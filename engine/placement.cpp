#include "engine/placement.h"

#include <algorithm>
#include <cmath>
#include <fstream>

namespace {

// A layer 3 decoder puts out its samples in granules of 576.
constexpr std::int64_t granule = 576;
// The synthesis filter bank makes each sample from the 512 subband samples before it.
constexpr std::int64_t filterBankMemory = 512;
// The most a LAME tag's delay can say: twelve bits.
constexpr std::int64_t maxTagDelay = 4095;
// Frames libmpg123 decodes in front of the frame that holds the first sample it plays; those
// before them it passes over.
constexpr std::int64_t decodedAhead = 4;

/// The first frame whose audio data must decode whole for sample \a sample to come out as it
/// does from the whole song.
std::int64_t firstDecodedFrame(const SongMap &song, std::int64_t sample)
{
    // The granules that feed the filter bank for this sample, and the one before them, whose
    // second half each granule's first half overlaps.
    const std::int64_t firstGranule = std::max<std::int64_t>(0, sample - filterBankMemory) / granule - 1;
    return std::max<std::int64_t>(0, firstGranule * granule / song.samplesPerFrame);
}

/// Bytes of audio data the song's frames before frame \a index hold, up to the most a reservoir
/// reaches back. The map holds enough frames in front of a piece for that, or every frame from
/// the song's first.
int reservoirBefore(const SongMap &song, std::int64_t index)
{
    constexpr int largestReservoir = 511;
    int bytes = 0;
    for (std::int64_t i = index - 1; i >= song.firstRead() && bytes < largestReservoir; --i) {
        const SongFrame &before = song.frame(i);
        bytes += std::max(0, before.length - before.header().sideInfoEnd());
    }
    return std::min(bytes, largestReservoir);
}

} // namespace

std::variant<Placement, MarkProblem> placePiece(const SongMap &song, double startSeconds, double endSeconds)
{
    const std::int64_t spf = song.samplesPerFrame;
    const std::int64_t songEnd = song.endSample();
    const std::int64_t start = song.sampleAt(std::max(0.0, startSeconds));
    std::int64_t end = song.sampleAt(endSeconds);
    if (end < start)
        return MarkProblem::EndNotAfterStart;
    if (start >= songEnd)
        return MarkProblem::StartPastEnd;
    if (end > songEnd + spf)
        return MarkProblem::EndPastEnd;
    end = std::min(end, songEnd);
    if (end - start < spf || song.frameCount() == 0)
        return MarkProblem::TooClose;

    Placement piece;
    piece.startSample = start;
    piece.endSample = end;
    if (song.reference.layer != 3) {
        // Nothing tells a decoder of these layers where to begin: whole frames, the marks inside.
        piece.firstFrame = start / spf;
        piece.endFrame = std::min((end + spf - 1) / spf, song.frameCount());
        piece.startSample = piece.firstFrame * spf;
        piece.endSample = piece.endFrame * spf;
        piece.exact = false;
        return piece;
    }

    // From the song's own start the piece is the song's frames from the first, as the song is.
    const std::int64_t needed = start == song.firstSample() ? 0 : firstDecodedFrame(song, start);
    piece.endFrame = std::min((end + spf - 1) / spf, song.frameCount());
    // A song cut out of a longer one may begin with frames whose data lies in bytes it has not
    // got: every decoder plays them as silence, and silent frames of the piece's own stand in for
    // them (decoders would complain of the song's).
    piece.firstFrame = needed;
    while (piece.firstFrame + 1 < piece.endFrame
           && song.frame(piece.firstFrame).reservoir > reservoirBefore(song, piece.firstFrame))
        ++piece.firstFrame;
    const int standIns = int(piece.firstFrame - needed);
    // The song's own frames before it would do as well where they are few; but at a low bit rate
    // the reservoir reaches back over more frames than the LAME tag's 12-bit delay can skip, and
    // a decoder complains of the first one, whose data lies outside the piece. Silent frames of
    // the piece's own carry the bytes instead: the start is exact whatever the bit rate. A
    // constant bit rate's piece keeps it in them where they stay among the frames a gapless
    // decoder decodes in front of the first sample it plays (libmpg123 only passes the bytes of
    // frames before those over, and garbles them); else frames of a higher rate carry them all.
    piece.reservoir = piece.firstFrame > 0
        ? std::min<int>(song.frame(piece.firstFrame).reservoir, reservoirBefore(song, piece.firstFrame)) : 0;
    const FrameHeader first = song.frame(piece.firstFrame).header();
    if (piece.reservoir > 0 || standIns > 0) {
        const int sideInfoEnd = 4 + first.sideInfoSize();
        const auto own = frameHolding(first, 0, true);
        const int ownRoom = own->length - sideInfoEnd;
        const int ownFrames = std::max(standIns, (piece.reservoir + ownRoom - 1) / ownRoom);
        const std::int64_t ownDelay = start - (piece.firstFrame - ownFrames) * spf - decoderDelay;
        const bool decodedWhole = ownDelay <= maxTagDelay && ownDelay + decoderDelay < (decodedAhead + 1) * spf;
        if (song.constantBitRate && decodedWhole && piece.firstFrame >= ownFrames) {
            piece.leadFrames = ownFrames;
            piece.leadWord = own->word;
        } else {
            piece.leadFrames = std::max(standIns, 1);
            const int each = (piece.reservoir + piece.leadFrames - 1) / piece.leadFrames;
            piece.leadWord = frameHolding(first, sideInfoEnd + each, false)->word;
        }
    }
    // A song without a LAME tag plays from its very first sample, which the decoder's own delay
    // would drop from a piece that begins with the same frame: a silent frame more makes room.
    if (start - (piece.firstFrame - piece.leadFrames) * spf < decoderDelay) {
        if (piece.leadFrames == 0)
            piece.leadWord = frameHolding(first, 0, true)->word;
        ++piece.leadFrames;
    }
    const std::int64_t pieceStart = (piece.firstFrame - piece.leadFrames) * spf;
    piece.delay = int(start - pieceStart - decoderDelay);
    piece.padding = int(piece.endFrame * spf + decoderDelay - end);
    return piece;
}

std::optional<std::vector<std::uint8_t>> leadFrames(const SongMap &song, const Placement &piece,
                                                    const std::filesystem::path &songPath)
{
    if (piece.leadFrames == 0)
        return std::vector<std::uint8_t>();
    const auto header = frameHeaderFrom(piece.leadWord);
    const int sideInfoEnd = 4 + header->sideInfoSize();
    const std::size_t room = std::size_t(header->length - sideInfoEnd);
    // The lead frames' audio data, all of it, the reservoir at its end.
    std::vector<std::uint8_t> data(room * std::size_t(piece.leadFrames), 0);
    std::ifstream file(songPath, std::ios::binary);
    std::size_t missing = std::size_t(piece.reservoir);
    for (std::int64_t i = piece.firstFrame - 1; missing > 0 && i >= song.firstRead() && file; --i) {
        const SongFrame &before = song.frame(i);
        const std::size_t n = std::min(missing, std::size_t(std::max(0, before.length - before.header().sideInfoEnd())));
        file.seekg(before.offset + before.length - std::int64_t(n));
        file.read(reinterpret_cast<char *>(data.data() + data.size() - std::size_t(piece.reservoir) + missing - n),
                  std::streamsize(n));
        missing -= n;
    }
    if (missing > 0 || !file)
        return std::nullopt;

    std::vector<std::uint8_t> frames(std::size_t(header->length) * std::size_t(piece.leadFrames), 0);
    const std::size_t reservoirStart = data.size() - std::size_t(piece.reservoir);
    for (int k = 0; k < piece.leadFrames; ++k) {
        std::uint8_t *frame = frames.data() + std::size_t(k) * std::size_t(header->length);
        putBigEndian32(frame, piece.leadWord);
        std::copy_n(data.data() + std::size_t(k) * room, room, frame + sideInfoEnd);
        // Each frame's data begins where the reservoir does: decoders keep the bytes of the frames
        // before only as far back as the frame before reaches.
        const std::size_t before = std::size_t(k) * room;
        const int reach = before > reservoirStart ? int(before - reservoirStart) : 0;
        if (header->version == 10) {
            frame[4] = std::uint8_t(reach >> 1);
            frame[5] = std::uint8_t((reach & 1) << 7);
        } else {
            frame[4] = std::uint8_t(reach);
        }
    }
    return frames;
}

std::vector<ByteRange> frameRanges(const SongMap &song, const Placement &piece)
{
    std::vector<ByteRange> ranges;
    for (std::int64_t i = piece.firstFrame; i < piece.endFrame; ++i) {
        const SongFrame &frame = song.frame(i);
        if (!ranges.empty() && ranges.back().offset + ranges.back().length == frame.offset)
            ranges.back().length += frame.length;
        else
            ranges.push_back({frame.offset, frame.length});
    }
    return ranges;
}
