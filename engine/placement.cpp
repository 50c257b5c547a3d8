#include "engine/placement.h"

#include <algorithm>
#include <cmath>
#include <fstream>

namespace {

// A layer 3 decoder puts out its samples in granules of 576.
constexpr std::int64_t granule = 576;
// The synthesis filter bank makes each sample from the 512 subband samples before it.
constexpr std::int64_t filterBankMemory = 512;

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
    if (end - start < spf || song.frames.empty())
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

    piece.firstFrame = firstDecodedFrame(song, start);
    // The song's own frames before it would do as well where they are few; but at a low bit rate
    // the reservoir reaches back over more frames than the LAME tag's 12-bit delay can skip, and
    // a decoder complains of the first one, whose data lies outside the piece. One silent frame
    // of the piece's own carries the bytes instead: the start is exact whatever the bit rate.
    piece.reservoir = piece.firstFrame > 0 ? song.frames[std::size_t(piece.firstFrame)].reservoir : 0;
    if (piece.reservoir > 0) {
        const auto lead = frameHolding(song.reference, 4 + song.reference.sideInfoSize() + piece.reservoir, song.constantBitRate);
        piece.leadWord = lead ? lead->word : 0;
    }
    const std::int64_t pieceStart = (piece.firstFrame - (piece.leadWord ? 1 : 0)) * spf;
    piece.delay = int(start - pieceStart - decoderDelay);
    piece.endFrame = std::min((end + spf - 1) / spf, song.frameCount());
    piece.padding = int(piece.endFrame * spf + decoderDelay - end);
    return piece;
}

std::optional<std::vector<std::uint8_t>> leadFrame(const SongMap &song, const Placement &piece,
                                                   const std::filesystem::path &songPath)
{
    if (!piece.leadWord)
        return std::vector<std::uint8_t>();
    const auto header = frameHeaderFrom(piece.leadWord);
    std::vector<std::uint8_t> frame(std::size_t(header->length), 0);
    putBigEndian32(frame.data(), piece.leadWord);
    // The audio data of the frames before, last byte first, until the reservoir is full.
    std::ifstream file(songPath, std::ios::binary);
    const int dataStart = song.reference.sideInfoEnd();
    std::size_t missing = std::size_t(piece.reservoir);
    for (std::int64_t i = piece.firstFrame - 1; missing > 0 && i >= 0 && file; --i) {
        const SongFrame &before = song.frames[std::size_t(i)];
        const std::size_t data = std::size_t(before.length - dataStart);
        const std::size_t n = std::min(missing, data);
        file.seekg(before.offset + before.length - std::int64_t(n));
        file.read(reinterpret_cast<char *>(frame.data() + missing - n + (frame.size() - std::size_t(piece.reservoir))),
                  std::streamsize(n));
        missing -= n;
    }
    if (missing > 0 || !file)
        return std::nullopt;
    return frame;
}

std::vector<ByteRange> frameRanges(const SongMap &song, const Placement &piece)
{
    std::vector<ByteRange> ranges;
    for (std::int64_t i = piece.firstFrame; i < piece.endFrame; ++i) {
        const SongFrame &frame = song.frames[std::size_t(i)];
        if (!ranges.empty() && ranges.back().offset + ranges.back().length == frame.offset)
            ranges.back().length += frame.length;
        else
            ranges.push_back({frame.offset, frame.length});
    }
    return ranges;
}
