#include "engine/gain.h"

#include "engine/leftovers.h"
#include "engine/mpegframe.h"
#include "engine/pieceheader.h"
#include "engine/sideinfo.h"
#include "engine/songmap.h"
#include "engine/songsound.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fstream>
#include <numbers>
#include <vector>

namespace {

constexpr std::int64_t granuleSamples = 576;
/// The output samples one granule's data reaches, from the first of its own: its 18 slots of 32
/// subband samples, the 18 its window overlaps into the next granule, and the 15 slots before each
/// slot that the synthesis filter bank remembers.
constexpr std::int64_t granuleReach = (18 + 18 + 15) * 32;
/// One step of global_gain scales the dequantised values by 2^(1/4): about 1.5 dB.
const double stepDb = 20.0 * std::log10(std::pow(2.0, 0.25));
/// The most global_gain holds; lowered by this much any granule decodes to nothing.
constexpr int gainLimit = 255;
/// The loudest a raised piece may peak at: full scale less two steps of 16 bits, so that the
/// rounding of a decoder's conversion to integers never reaches the rails.
constexpr double loudest = 32765.0 / 32768.0;
/// Of the piece's played length, the most one fade takes.
constexpr std::int64_t fadeShare = 3;

/// The CRC-16 that protects a frame: polynomial 0x8005, starting from 0xFFFF, highest bit first,
/// over the last two bytes of the header and the side information.
std::uint16_t protectionCrc(const std::uint8_t *frame, const FrameHeader &header)
{
    unsigned crc = 0xFFFF;
    const auto feed = [&crc](std::uint8_t byte) {
        crc ^= unsigned(byte) << 8;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x8000 ? crc << 1 ^ 0x8005 : crc << 1) & 0xFFFF;
    };
    feed(frame[2]);
    feed(frame[3]);
    for (int i = 0; i < header.sideInfoSize(); ++i)
        feed(frame[6 + i]);
    return std::uint16_t(crc);
}

/// The loudest sample the piece plays, as libmpg123 decodes it gapless, 1 for full scale; empty
/// when it cannot be decoded.
std::optional<double> decodedPeak(const std::filesystem::path &piece)
{
    double peak = 0;
    const bool decoded = decodeSong(piece, [&peak](std::span<const float> samples, int, long) {
        for (float v : samples)
            peak = std::max(peak, double(std::abs(v)));
    });
    return decoded ? std::optional<double>(peak) : std::nullopt;
}

/// How a piece's granules change: granule k is the k-th of all its audio frames', the lead
/// frames' included, and its data decodes into the output samples from 576 k on.
class GainPlan
{
public:
    GainPlan(const SongMap &piece, const GainChange &change)
        : m_begin(piece.firstSample())
        , m_end(piece.endSample())
    {
        // The granules that reach the edge are silent and those whose sound lies wholly past the
        // fade are left alone, so the ramp between them is a reach shorter than the fade.
        const auto ramp = [&](double seconds) {
            const std::int64_t samples = fadeSamples(seconds, m_end - m_begin, piece.sampleRate());
            return samples > 0 ? samples - granuleReach : 0;
        };
        m_fadeInRamp = ramp(change.fadeInSeconds);
        m_fadeOutRamp = ramp(change.fadeOutSeconds);
    }

    void raiseBy(int steps) { m_raise = steps; }
    bool fades() const { return m_fadeInRamp > 0 || m_fadeOutRamp > 0; }

    /// Steps by which granule \a k's global_gain changes: up for the whole, down for the fades.
    int stepsFor(std::int64_t k) const
    {
        const std::int64_t first = k * granuleSamples;
        const std::int64_t last = first + granuleReach;
        int steps = m_raise;
        // A fade in is silent up to the first played sample: every granule whose sound reaches
        // it decodes to nothing.
        if (m_fadeInRamp > 0)
            steps -= fadeSteps(double(first - m_begin) / double(m_fadeInRamp));
        if (m_fadeOutRamp > 0)
            steps -= fadeSteps(double(m_end - last) / double(m_fadeOutRamp));
        return steps;
    }

private:
    /// Steps down at \a t of the ramp, 0 at the silent end and 1 at the full one: a raised cosine,
    /// which leaves and reaches full level without a kink.
    static int fadeSteps(double t)
    {
        if (t >= 1)
            return 0;
        const double level = t <= 0 ? 0.0 : std::pow(std::sin(t * std::numbers::pi / 2), 2);
        if (level <= 0)
            return gainLimit;
        return int(std::min<long>(gainLimit, std::lround(-20.0 * std::log10(level) / stepDb)));
    }

    std::int64_t m_begin = 0;
    std::int64_t m_end = 0;
    std::int64_t m_fadeInRamp = 0;
    std::int64_t m_fadeOutRamp = 0;
    int m_raise = 0;
};

/// The file at \a path, read a frame at a time.
class FrameReader
{
public:
    explicit FrameReader(const std::filesystem::path &path)
        : m_file(path, std::ios::binary)
    {
    }

    /// The \a n bytes at \a at; empty when they cannot be read.
    const std::vector<std::uint8_t> *read(std::int64_t at, std::size_t n)
    {
        m_bytes.resize(n);
        m_file.seekg(at);
        m_file.read(reinterpret_cast<char *>(m_bytes.data()), std::streamsize(n));
        return m_file ? &m_bytes : nullptr;
    }

private:
    std::ifstream m_file;
    std::vector<std::uint8_t> m_bytes;
};

/// The highest global_gain of any granule of \a piece; empty when a frame cannot be read.
std::optional<int> highestGain(const std::filesystem::path &path, const SongMap &piece)
{
    FrameReader reader(path);
    int highest = 0;
    for (const SongFrame &frame : piece.readFrames()) {
        const auto *bytes = reader.read(frame.offset, std::size_t(std::min<int>(frame.length, largestSideInfoEnd)));
        const auto header = bytes ? frameHeaderFrom(bigEndian32(bytes->data())) : std::nullopt;
        if (!header)
            return std::nullopt;
        const std::uint8_t *side = bytes->data() + 4 + (header->hasCrc ? 2 : 0);
        for (int gr = 0; gr < granulesOf(*header); ++gr) {
            for (int ch = 0; ch < channelsOf(*header); ++ch)
                highest = std::max(highest, readByteAt(side, globalGainBit(*header, gr, ch)));
        }
    }
    return highest;
}

/// Changes each granule of \a frame, the \a index-th audio frame, as \a plan says.
void changeFrame(std::uint8_t *frame, const FrameHeader &header, std::int64_t index, const GainPlan &plan)
{
    std::uint8_t *side = frame + 4 + (header.hasCrc ? 2 : 0);
    const int granules = granulesOf(header);
    for (int gr = 0; gr < granules; ++gr) {
        // Every channel by the same steps: mid and side, or a channel and the intensity stereo
        // that takes its values, keep their balance.
        const int steps = plan.stepsFor(index * granules + gr);
        for (int ch = 0; ch < channelsOf(header); ++ch) {
            const int bit = globalGainBit(header, gr, ch);
            writeByteAt(side, bit, std::clamp(readByteAt(side, bit) + steps, 0, gainLimit));
        }
    }
    if (header.hasCrc) {
        const std::uint16_t crc = protectionCrc(frame, header);
        frame[4] = std::uint8_t(crc >> 8);
        frame[5] = std::uint8_t(crc);
    }
}

/// A name beside \a path that nothing has yet.
std::filesystem::path freeNameBeside(const std::filesystem::path &path)
{
    std::filesystem::path candidate = path;
    candidate += ".gain";
    for (int n = 1; std::filesystem::exists(candidate); ++n) {
        candidate = path;
        candidate += ".gain" + std::to_string(n);
    }
    return candidate;
}

/// Writes \a piece with \a plan's changes to \a to; false when it cannot be read or written.
bool writeChanged(const std::filesystem::path &from, const SongMap &piece, const GainPlan &plan,
                  const std::filesystem::path &to)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    std::vector<std::uint8_t> bytes;
    const auto copy = [&](std::int64_t n) {
        bytes.resize(std::size_t(n));
        in.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(n));
        return in.good();
    };
    const auto write = [&] {
        out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
        return out.good();
    };

    const EncoderFrame &encoder = *piece.encoderFrame;
    if (!copy(encoder.offset) || !write() || !copy(encoder.length))
        return false;
    std::vector<std::uint8_t> header = bytes;
    if (!write())
        return false;

    std::int64_t at = encoder.offset + encoder.length;
    std::uint16_t musicCrc = 0;
    const std::span<const SongFrame> frames = piece.readFrames();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const SongFrame &frame = frames[i];
        // Bytes between frames, were there any, go over as they are.
        if (!copy(frame.offset - at) || !write())
            return false;
        if (i > 0)
            musicCrc = lameCrc(musicCrc, bytes.data(), bytes.size());
        const auto word = copy(frame.length) ? frameHeaderFrom(bigEndian32(bytes.data())) : std::nullopt;
        if (!word || word->layer != 3 || word->length != frame.length)
            return false;
        changeFrame(bytes.data(), *word, std::int64_t(i), plan);
        musicCrc = lameCrc(musicCrc, bytes.data(), bytes.size());
        if (!write())
            return false;
        at = frame.offset + frame.length;
    }
    // Whatever stands behind the frames.
    std::error_code error;
    const auto size = std::filesystem::file_size(from, error);
    if (error || !copy(std::int64_t(size) - at) || !write())
        return false;

    sealPieceHeader(header, musicCrc);
    bytes = std::move(header);
    out.seekp(encoder.offset);
    if (!write())
        return false;
    out.close();
    return !out.fail();
}

/// Why \a piece cannot take a change of gain; empty when it can.
std::optional<CutError> unfit(const std::filesystem::path &path, const std::optional<SongMap> &piece)
{
    if (!piece)
        return CutError{CutError::Kind::NoAudio, path, 0};
    if (piece->reference.layer != 3)
        return CutError{piece->reference.layer == 1 ? CutError::Kind::NoGainInLayer1 : CutError::Kind::NoGainInLayer2, path, 0};
    if (!piece->encoderFrame || piece->encoderFrame->lameTag.empty())
        return CutError{CutError::Kind::NoLameTag, path, 0};
    // The tag must stand where the program's own header frames keep it, for it is sealed there.
    const int lameAt = lameTagOffset(piece->reference);
    FrameReader reader(path);
    const auto *header = reader.read(piece->encoderFrame->offset, std::size_t(piece->encoderFrame->length));
    if (!header || int(header->size()) < lameAt + int(piece->encoderFrame->lameTag.size())
        || !std::equal(piece->encoderFrame->lameTag.begin(), piece->encoderFrame->lameTag.end(),
                       header->begin() + lameAt))
        return CutError{CutError::Kind::ForeignHeader, path, 0};
    return std::nullopt;
}

} // namespace

bool GainChange::any() const
{
    return fadeInSeconds > 0 || fadeOutSeconds > 0 || maxVolume;
}

std::int64_t fadeSamples(double seconds, std::int64_t pieceSamples, int sampleRate)
{
    const std::int64_t samples = std::min(pieceSamples / fadeShare,
                                          std::int64_t(std::llround(std::max(0.0, seconds) * sampleRate)));
    // A ramp shorter than a granule would be no fade but a cut.
    return samples - granuleReach >= granuleSamples ? samples : 0;
}

std::optional<double> shortenedFade(double seconds, std::int64_t pieceSamples, int sampleRate)
{
    const std::int64_t done = fadeSamples(seconds, pieceSamples, sampleRate);
    // A sample or two less than asked, as a piece of a third of a fade's length has it, is the
    // fade that was asked for.
    if (seconds <= 0 || std::llround(seconds * sampleRate) - done < sampleRate / 1000)
        return std::nullopt;
    return double(done) / sampleRate;
}

std::optional<CutError> applyGain(const std::filesystem::path &piece, const GainChange &change)
{
    const std::optional<SongMap> map = scanSong(piece);
    if (auto problem = unfit(piece, map))
        return problem;
    if (!change.any())
        return std::nullopt;

    GainPlan plan(*map, change);
    const std::filesystem::path changed = freeNameBeside(piece);
    const Leftover leftover(changed);
    std::error_code error;
    const auto cannotWrite = [&] {
        const int cause = errno;
        std::filesystem::remove(changed, error);
        return CutError{CutError::Kind::Unwritable, changed, cause};
    };
    if (change.maxVolume) {
        const auto highest = highestGain(piece, *map);
        // The fades lower what they cover, perhaps the loudest sound of all: how far the piece
        // rises is measured on it faded. Every granule then rises by the same steps, and every
        // decoded sample by the same factor (measured: to a float's precision).
        if (plan.fades() && !writeChanged(piece, *map, plan, changed))
            return cannotWrite();
        const auto peak = decodedPeak(plan.fades() ? changed : piece);
        if (!peak || !highest) {
            std::filesystem::remove(changed, error);
            return CutError{CutError::Kind::Undecodable, piece, 0};
        }
        // Digital silence stays as it is: there is nothing to make louder.
        if (*peak > 0) {
            const int steps = int(std::floor(std::log10(loudest / *peak) * 20.0 / stepDb));
            plan.raiseBy(std::clamp(steps, 0, gainLimit - *highest));
        }
    }

    if (!writeChanged(piece, *map, plan, changed))
        return cannotWrite();
    std::filesystem::rename(changed, piece, error);
    if (error) {
        const int cause = error.value();
        std::filesystem::remove(changed, error);
        return CutError{CutError::Kind::Unwritable, piece, cause};
    }
    return std::nullopt;
}
