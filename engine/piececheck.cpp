#include "engine/piececheck.h"

#include "engine/fileio.h"
#include "engine/floatdecoder.h"
#include "engine/placement.h"

#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <unistd.h>
#include <variant>
#include <vector>

namespace {

/// Decoded sound, interleaved 32-bit floats.
struct Sound
{
    std::vector<float> samples;
    int rate = 0;
    int channels = 0;

    std::int64_t length() const { return channels > 0 ? std::int64_t(samples.size()) / channels : 0; }
};

/// How far two decodes of the same frames may differ. libmpg123 decodes a true piece of an MPEG-1
/// song to the very floats of the song; at the MPEG-2 and 2.5 rates samples all through it differ
/// by up to 6e-8, a float's last bit (measured). A sample of the wrong place or the wrong frame is
/// off by about the sound's own level.
constexpr float sampleTolerance = 1e-6f;

/// Samples at the start of a layer I or II piece that are not the song's: its decoder begins with
/// an empty filter bank, which in the song holds the frames before (15 × 32 samples, measured).
constexpr std::int64_t filterBankWarmUp = 480;

/// Audio data of a layer 3 frame may begin this many bytes back, in the frames before it.
constexpr int largestReservoir = 511;

/// Stretch of the faded ends over which the piece must be the song's sound at one volume: a
/// granule, the span of one gain step.
constexpr std::int64_t fadeWindow = 576;

/// Share of a faded stretch's energy that its best fitting quieter song may leave unexplained:
/// two neighbouring granules a gain step apart blend in the overlap, which leaves about 1 %.
constexpr double fadeResidue = 0.05;

bool learnFormat(mpg123_handle *mh, Sound &sound)
{
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_getformat(mh, &rate, &channels, &encoding) != MPG123_OK || encoding != MPG123_ENC_FLOAT_32)
        return false;
    // A stream that changes its format part-way is no piece of this program's.
    if (sound.rate != 0 && (sound.rate != rate || sound.channels != channels))
        return false;
    sound.rate = int(rate);
    sound.channels = channels;
    return true;
}

/// The piece as a gapless player plays it: its LAME tag says what to drop at each end.
std::optional<Sound> decodePiece(const std::filesystem::path &piece)
{
    const FloatDecoder handle = floatDecoder(true);
    if (!handle || mpg123_open(handle.get(), piece.c_str()) != MPG123_OK)
        return std::nullopt;
    mpg123_handle *mh = handle.get();
    Sound sound;
    std::vector<float> buffer(1 << 14);
    for (;;) {
        std::size_t done = 0;
        const int result = mpg123_read(mh, buffer.data(), buffer.size() * sizeof(float), &done);
        sound.samples.insert(sound.samples.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(done / sizeof(float)));
        if (result == MPG123_DONE)
            break;
        if ((result == MPG123_NEW_FORMAT && !learnFormat(mh, sound)) || (result != MPG123_OK && result != MPG123_NEW_FORMAT)) {
            mpg123_close(mh);
            return std::nullopt;
        }
    }
    mpg123_close(mh);
    if (sound.channels == 0)
        return std::nullopt;
    return sound;
}

/// The song's frames [\a from, \a to) as the map numbers their samples, every sample of every frame
/// (nothing dropped), decoded from frame \a decodeFrom on so that the first of them come out as
/// from the whole song: the decoder fed only those frames' bytes, as the map finds them.
std::optional<Sound> decodeSong(const std::filesystem::path &song, const SongMap &map, std::int64_t decodeFrom,
                                std::int64_t from, std::int64_t to)
{
    const FloatDecoder handle = floatDecoder(false);
    if (!handle || mpg123_open_feed(handle.get()) != MPG123_OK)
        return std::nullopt;
    mpg123_handle *mh = handle.get();
    const int fd = ::open(song.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    // One frame more, where there is one: a decoder may hold a frame back until it sees the next.
    const std::int64_t feedTo = std::min(to + 1, map.framesBefore + std::int64_t(map.frames.size()));
    const std::int64_t begin = map.frame(decodeFrom).offset;
    const std::int64_t end = map.frame(feedTo - 1).offset + map.frame(feedTo - 1).length;
    std::vector<std::uint8_t> bytes(std::size_t(end - begin));
    const bool read = readAt(fd, bytes.data(), bytes.size(), begin);
    ::close(fd);
    if (!read)
        return std::nullopt;

    Sound sound;
    sound.samples.reserve(std::size_t((to - from) * map.samplesPerFrame * 2));
    std::int64_t decoded = 0;
    for (std::int64_t i = decodeFrom; i < feedTo; ++i) {
        // Only the frames' own bytes: junk between them would be taken for more frames.
        const SongFrame &frame = map.frame(i);
        if (mpg123_feed(mh, bytes.data() + (frame.offset - begin), frame.length) != MPG123_OK)
            return std::nullopt;
        for (;;) {
            off_t number = 0;
            unsigned char *audio = nullptr;
            std::size_t size = 0;
            const int result = mpg123_decode_frame(mh, &number, &audio, &size);
            if (result == MPG123_NEED_MORE)
                break;
            if (result == MPG123_NEW_FORMAT) {
                if (!learnFormat(mh, sound))
                    return std::nullopt;
                continue;
            }
            if (result != MPG123_OK)
                return std::nullopt;
            // Each frame decodes in one go, and says which it was: the map's frame decodeFrom +
            // number. One the decoder passed over would move every sample after it.
            if (number != decoded)
                return std::nullopt;
            ++decoded;
            const std::int64_t frameIndex = decodeFrom + number;
            if (frameIndex >= from && frameIndex < to) {
                const std::size_t had = sound.samples.size();
                sound.samples.resize(had + size / sizeof(float));
                std::memcpy(sound.samples.data() + had, audio, size / sizeof(float) * sizeof(float));
            }
        }
    }
    if (sound.channels == 0 || sound.length() != (to - from) * map.samplesPerFrame)
        return std::nullopt;
    return sound;
}

/// The first frame to feed the decoder so that frame \a first and every frame after it decode as
/// in the whole song: two frames before it for the granules whose halves overlap and for the
/// filter bank's memory, and for layer 3 the frames their audio data may reach back into.
std::int64_t decodeStart(const SongMap &map, std::int64_t first)
{
    std::int64_t from = std::max(map.framesBefore, first - 2);
    if (map.reference.layer != 3)
        return from;
    int bytes = 0;
    while (from > map.framesBefore && bytes <= largestReservoir) {
        --from;
        const SongFrame &frame = map.frame(from);
        bytes += std::max(0, frame.length - frame.header().sideInfoEnd());
    }
    return from;
}

/// Whether \a piece and \a song, at \a gain, part at sample frame \a frame.
bool differs(const Sound &piece, const Sound &song, double gain, std::int64_t frame)
{
    const float tolerance = sampleTolerance * float(std::max(1.0, gain));
    for (std::int64_t i = frame * piece.channels; i < (frame + 1) * piece.channels; ++i) {
        if (std::abs(piece.samples[std::size_t(i)] - float(gain * song.samples[std::size_t(i)])) > tolerance)
            return true;
    }
    return false;
}

/// Where \a piece and \a song, at \a gain, part first in sample frames [from, to); -1 where they do not.
std::int64_t firstDifference(const Sound &piece, const Sound &song, double gain, std::int64_t from, std::int64_t to)
{
    for (std::int64_t frame = from; frame < to; ++frame) {
        if (differs(piece, song, gain, frame))
            return frame;
    }
    return -1;
}

/// Where they part last in [from, to); -1 where they do not.
std::int64_t lastDifference(const Sound &piece, const Sound &song, double gain, std::int64_t from, std::int64_t to)
{
    for (std::int64_t frame = to - 1; frame >= from; --frame) {
        if (differs(piece, song, gain, frame))
            return frame;
    }
    return -1;
}

/// How \a piece over sample frames [from, to) compares with \a song there: the volume at which the
/// song fits it best, and what is left of the piece's energy and of the song's beside that.
struct Fit
{
    double scale = 0;
    double left = 0;
    double pieceEnergy = 0;
    double songEnergy = 0;
};

Fit fit(const Sound &piece, const Sound &song, std::int64_t from, std::int64_t to)
{
    Fit fit;
    double both = 0;
    for (std::int64_t i = from * piece.channels; i < to * piece.channels; ++i) {
        const double p = piece.samples[std::size_t(i)];
        const double s = song.samples[std::size_t(i)];
        both += p * s;
        fit.songEnergy += s * s;
        fit.pieceEnergy += p * p;
    }
    fit.scale = fit.songEnergy > 0 ? both / fit.songEnergy : 0;
    fit.left = fit.pieceEnergy - fit.scale * both;
    return fit;
}

/// The volume the piece plays the song at, as the stretch [from, to) shows it: 1, or a step
/// of 1.5 dB (2^(1/4) in amplitude) a whole piece may be raised by; 1 where no step fits.
int gainSteps(const Sound &piece, const Sound &song, std::int64_t from, std::int64_t to)
{
    const double scale = fit(piece, song, from, to).scale;
    if (scale <= 0)
        return 0;
    const double steps = 4.0 * std::log2(scale);
    return std::abs(steps - std::round(steps)) < 0.05 ? int(std::lround(steps)) : 0;
}

/// Whether \a piece over sample frames [from, to) is \a song faded from \a gain: a stretch of
/// fadeWindow at a time the song's sound at no more than that volume, and near silence at the
/// end \a silentAt (a fade in begins in silence, a fade out ends in it). The first stretch that
/// is not; -1 where all are.
std::int64_t firstUnfaded(const Sound &piece, const Sound &song, double gain, std::int64_t from, std::int64_t to,
                          std::int64_t silentAt)
{
    for (std::int64_t at = from; at < to; at += fadeWindow) {
        const std::int64_t end = std::min(to, at + fadeWindow);
        const Fit window = fit(piece, song, at, end);
        // Where the gain changes from one granule to the next, the two blend: a little is left
        // over, and at the quiet start of a fade, where the steps are large, a little of the song.
        const double allowed = fadeResidue * window.pieceEnergy + 1e-4 * gain * gain * window.songEnergy
                               + 1e-12 * double((end - at) * piece.channels);
        const bool silentEnd = silentAt < at || silentAt >= end || window.scale < 0.5 * gain;
        if (window.scale > gain * 1.001 || window.left > allowed || !silentEnd)
            return at;
    }
    return -1;
}

PieceCheck mismatchAt(PieceCheck check, std::int64_t sample)
{
    check.verdict = PieceCheck::Verdict::Mismatch;
    check.firstDifferentSample = sample;
    check.fadeInSamples = 0;
    check.fadeOutSamples = 0;
    return check;
}

} // namespace

PieceCheck checkPiece(const std::filesystem::path &song, const SongMap &map, double startSeconds, double endSeconds,
                      const std::filesystem::path &piece)
{
    PieceCheck check;
    check.sampleRate = map.sampleRate();
    const auto placed = placePiece(map, startSeconds, endSeconds);
    if (!std::holds_alternative<Placement>(placed))
        return check;
    const Placement &placement = std::get<Placement>(placed);
    const std::int64_t spf = map.samplesPerFrame;
    const std::int64_t firstFrame = placement.startSample / spf;
    const std::int64_t endFrame = (placement.endSample + spf - 1) / spf;
    if (firstFrame < map.framesBefore || endFrame > map.framesBefore + std::int64_t(map.frames.size()))
        return check;

    const std::optional<Sound> played = decodePiece(piece);
    std::optional<Sound> heard = decodeSong(song, map, decodeStart(map, firstFrame), firstFrame, endFrame);
    if (!played || !heard)
        return check;
    // The song's samples between the marks (or, for layers I and II, the frames around them).
    const std::int64_t skip = placement.startSample - firstFrame * spf;
    const std::int64_t length = placement.endSample - placement.startSample;
    heard->samples.erase(heard->samples.begin(), heard->samples.begin() + std::ptrdiff_t(skip * heard->channels));
    heard->samples.resize(std::size_t(length * heard->channels));

    if (!placement.exact) {
        // Only the marks are where the person put them; the piece begins and ends with whole frames.
        const std::int64_t markStart = map.sampleAt(std::max(0.0, startSeconds));
        const std::int64_t markEnd = std::min(map.sampleAt(endSeconds), map.endSample());
        check.startOffsetMs = 1000.0 * double(placement.startSample - markStart) / map.sampleRate();
        check.endOffsetMs = 1000.0 * double(placement.endSample - markEnd) / map.sampleRate();
    }
    if (played->rate != heard->rate || played->channels != heard->channels)
        return mismatchAt(check, 0);

    const std::int64_t common = std::min(played->length(), length);
    // A piece's fades may take up to a third of it at each end; its middle is unfaded.
    const std::int64_t middle = common / 3;
    const int steps = gainSteps(*played, *heard, middle, common - middle);
    const double gain = std::pow(2.0, steps / 4.0);
    check.gainDb = 1.5 * steps;
    const std::int64_t from = placement.exact ? 0 : std::min(common, filterBankWarmUp);
    const std::int64_t first = firstDifference(*played, *heard, gain, from, common);
    if (first >= 0) {
        // Differences may only be fades: at each end, within the third a fade may take and the
        // granule or two its last gain step reaches on by.
        const std::int64_t reach = std::min(common / 2, common / 3 + 2 * spf);
        std::int64_t fadeIn = from;
        if (first < reach) {
            fadeIn = lastDifference(*played, *heard, gain, from, reach) + 1;
            if (firstUnfaded(*played, *heard, gain, from, fadeIn, from) >= 0)
                return mismatchAt(check, first);
        }
        const std::int64_t outStart = common - reach;
        const std::int64_t inMiddle = firstDifference(*played, *heard, gain, fadeIn, outStart);
        if (inMiddle >= 0)
            return mismatchAt(check, inMiddle);
        const std::int64_t fadeOut = firstDifference(*played, *heard, gain, outStart, common);
        if (fadeOut >= 0) {
            const std::int64_t bad = firstUnfaded(*played, *heard, gain, fadeOut, common, common - 1);
            if (bad >= 0)
                return mismatchAt(check, fadeOut);
        }
        check.fadeInSamples = fadeIn - from;
        check.fadeOutSamples = fadeOut >= 0 ? common - fadeOut : 0;
    }
    if (played->length() != length)
        return mismatchAt(check, common);
    check.verdict = placement.exact ? PieceCheck::Verdict::Exact : PieceCheck::Verdict::Offset;
    return check;
}
