#include "engine/placement.h"

#include <algorithm>
#include <cmath>

namespace {

// A layer 3 decoder puts out its samples in granules of 576.
constexpr std::int64_t granule = 576;
// The synthesis filter bank makes each sample from the 512 subband samples before it.
constexpr std::int64_t filterBankMemory = 512;
// The most a LAME tag's delay can say: twelve bits.
constexpr std::int64_t maxTagDelay = 4095;

/// The first frame a decoder must be given for sample \a sample to come out as it does from the
/// whole song.
std::int64_t leadInFrame(const SongMap &song, std::int64_t sample)
{
    // The granules that feed the filter bank for this sample, and the one before them, whose
    // second half each granule's first half overlaps: their audio data must decode whole.
    const std::int64_t firstGranule = std::max<std::int64_t>(0, sample - filterBankMemory) / granule - 1;
    const std::int64_t dataFrame = std::max<std::int64_t>(0, firstGranule * granule / song.samplesPerFrame);
    // That frame's audio data begins in the frames before it (the bit reservoir).
    std::int64_t frame = dataFrame;
    std::int64_t missing = song.frames[std::size_t(dataFrame)].reservoir;
    const int dataStart = song.reference.sideInfoEnd();
    while (missing > 0 && frame > 0) {
        --frame;
        missing -= song.frames[std::size_t(frame)].length - dataStart;
    }
    return frame;
}

} // namespace

std::variant<Placement, MarkProblem> placePiece(const SongMap &song, double startSeconds, double endSeconds)
{
    const std::int64_t spf = song.samplesPerFrame;
    const std::int64_t songStart = song.firstSample();
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

    piece.firstFrame = start == songStart ? 0 : leadInFrame(song, start);
    if (start - piece.firstFrame * spf - decoderDelay > maxTagDelay) {
        // The tag cannot say so long a lead-in. The nearest exact alternative would need frames
        // of its own; the piece keeps the lead-in the tag can say, so its first sample stays in
        // its place and only the first granules may sound a little off.
        piece.firstFrame = (start - decoderDelay - maxTagDelay + spf - 1) / spf;
        piece.exact = false;
    }
    piece.delay = int(start - piece.firstFrame * spf - decoderDelay);
    piece.endFrame = std::min((end + spf - 1) / spf, song.frameCount());
    piece.padding = int(piece.endFrame * spf + decoderDelay - end);
    return piece;
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
