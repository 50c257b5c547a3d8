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

/// The first frame whose audio data must decode whole for sample \a sample to come out as it
/// does from the whole song.
std::int64_t firstDecodedFrame(const SongMap &song, std::int64_t sample)
{
    // The granules that feed the filter bank for this sample, and the one before them, whose
    // second half each granule's first half overlaps.
    const std::int64_t firstGranule = std::max<std::int64_t>(0, sample - filterBankMemory) / granule - 1;
    return std::max<std::int64_t>(0, firstGranule * granule / song.samplesPerFrame);
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
    piece.firstFrame = start == song.firstSample() ? 0 : firstDecodedFrame(song, start);
    // The song's own frames before it would do as well where they are few; but at a low bit rate
    // the reservoir reaches back over more frames than the LAME tag's 12-bit delay can skip, and
    // a decoder complains of the first one, whose data lies outside the piece. Silent frames of
    // the piece's own carry the bytes instead: the start is exact whatever the bit rate. They
    // keep the song's bit rate where the tag's delay can skip as many as that takes, else one
    // frame of a higher rate carries them all.
    piece.reservoir = piece.firstFrame > 0 ? song.frame(piece.firstFrame).reservoir : 0;
    if (piece.reservoir > 0) {
        const int sideInfoEnd = 4 + song.reference.sideInfoSize();
        const auto own = frameHolding(song.reference, 0, true);
        const int ownRoom = own->length - sideInfoEnd;
        const int ownFrames = (piece.reservoir + ownRoom - 1) / ownRoom;
        const std::int64_t ownDelay = start - (piece.firstFrame - ownFrames) * spf - decoderDelay;
        if (ownDelay <= maxTagDelay && piece.firstFrame >= ownFrames) {
            piece.leadFrames = ownFrames;
            piece.leadWord = own->word;
        } else {
            piece.leadFrames = 1;
            piece.leadWord = frameHolding(song.reference, sideInfoEnd + piece.reservoir, false)->word;
        }
    }
    const std::int64_t pieceStart = (piece.firstFrame - piece.leadFrames) * spf;
    piece.delay = int(start - pieceStart - decoderDelay);
    piece.endFrame = std::min((end + spf - 1) / spf, song.frameCount());
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
    const int songDataStart = song.reference.sideInfoEnd();
    std::size_t missing = std::size_t(piece.reservoir);
    for (std::int64_t i = piece.firstFrame - 1; missing > 0 && i >= 0 && file; --i) {
        const SongFrame &before = song.frame(i);
        const std::size_t n = std::min(missing, std::size_t(before.length - songDataStart));
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
