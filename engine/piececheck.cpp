#include "engine/piececheck.h"

#include "engine/fileio.h"
#include "engine/floatdecoder.h"
#include "engine/placement.h"

#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>
#include <variant>
#include <vector>

namespace {

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

/// Stretches in which the faded ends are weighed: a granule, the span of one gain step.
constexpr std::int64_t fadeWindow = 576;

/// How much more energy a faded stretch may hold than the song's loudest stretch beside it, at
/// the piece's gain. Two granules of different gains blend where they overlap and no longer
/// cancel the aliasing of each other's transform: a stretch comes out a little louder than the
/// song (up to 1.7 % measured), and where the steps are large (a short fade, a low rate) no
/// longer in the song's shape (up to 90 % of its energy unexplained by any volume of the song,
/// measured at 8 and 16 kHz). So a fade is weighed by its loudness only; the middle, sample for
/// sample.
constexpr double fadeLoudness = 1.25;

/// Sample frames decoded at a time: a piece of any length is compared in blocks of this size,
/// never held whole.
constexpr std::int64_t block = 1 << 14;

/// Bytes of the song read at once.
constexpr std::int64_t readSize = 1 << 20;

/// Sound as a decoder puts it out: its rate and channels, then interleaved floats a block at a time.
class Stream
{
public:
    virtual ~Stream() = default;
    /// Appends up to \a frames sample frames to \a out; false when the decoder fails.
    virtual bool read(std::vector<float> &out, std::int64_t frames) = 0;
    bool ended() const { return m_ended; }
    int rate() const { return m_rate; }
    int channels() const { return m_channels; }

protected:
    /// Takes the decoder's format; false for one other than floats, or where it changes part-way.
    bool learnFormat(mpg123_handle *mh)
    {
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        if (mpg123_getformat(mh, &rate, &channels, &encoding) != MPG123_OK || encoding != MPG123_ENC_FLOAT_32)
            return false;
        if (m_rate != 0 && (m_rate != rate || m_channels != channels))
            return false;
        m_rate = int(rate);
        m_channels = channels;
        return true;
    }

    bool m_ended = false;
    int m_rate = 0;
    int m_channels = 0;
};

/// The piece as a gapless player plays it: its LAME tag says what to drop at each end.
class PieceStream final : public Stream
{
public:
    bool open(const std::filesystem::path &piece)
    {
        m_decoder = floatDecoder(true);
        if (!m_decoder)
            return false;
        // A seek decodes enough frames before the place for the bit reservoir at any rate.
        mpg123_param(m_decoder.get(), MPG123_PREFRAMES, 16, 0.0);
        return mpg123_open(m_decoder.get(), piece.c_str()) == MPG123_OK && learnFormat(m_decoder.get());
    }

    bool seek(std::int64_t frame)
    {
        m_ended = false;
        return mpg123_seek(m_decoder.get(), off_t(frame), SEEK_SET) == off_t(frame);
    }

    bool read(std::vector<float> &out, std::int64_t frames) override
    {
        const std::size_t had = out.size();
        out.resize(had + std::size_t(frames * m_channels));
        std::size_t done = 0;
        int result = MPG123_OK;
        do {
            std::size_t bytes = 0;
            result = mpg123_read(m_decoder.get(), out.data() + had + done, (out.size() - had - done) * sizeof(float), &bytes);
            done += bytes / sizeof(float);
            if (result == MPG123_NEW_FORMAT && !learnFormat(m_decoder.get()))
                return false;
        } while (result == MPG123_NEW_FORMAT);
        out.resize(had + done);
        m_ended = result == MPG123_DONE;
        return result == MPG123_OK || result == MPG123_DONE;
    }

private:
    FloatDecoder m_decoder;
};

/// The song's samples [begin, end) as the map numbers them, every sample of every frame (nothing
/// dropped), decoded from a few frames before so that the first of them come out as from the whole
/// song: the decoder is fed only the frames' own bytes, as the map finds them.
class SongStream final : public Stream
{
public:
    explicit SongStream(const SongMap &map)
        : m_map(map)
    {
    }
    ~SongStream() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool open(const std::filesystem::path &song, std::int64_t begin, std::int64_t end)
    {
        const std::int64_t spf = m_map.samplesPerFrame;
        m_decoder = floatDecoder(false);
        m_fd = ::open(song.c_str(), O_RDONLY | O_CLOEXEC);
        if (!m_decoder || m_fd < 0 || mpg123_open_feed(m_decoder.get()) != MPG123_OK)
            return false;
        m_from = decodeStart(begin / spf);
        m_next = m_from;
        m_wanted = begin;
        m_end = end;
        // One frame more, where there is one: a decoder may hold a frame back until it sees the next.
        m_feedEnd = std::min((end + spf - 1) / spf + 1, m_map.endRead());
        // The format comes with the first frame decoded.
        while (m_rate == 0 && !m_ended) {
            if (!decodeNext())
                return false;
        }
        return m_rate != 0;
    }

    bool read(std::vector<float> &out, std::int64_t frames) override
    {
        while (std::int64_t(m_pending.size()) < frames * m_channels && !m_ended) {
            if (!decodeNext())
                return false;
        }
        const std::size_t n = std::min(m_pending.size(), std::size_t(frames * m_channels));
        out.insert(out.end(), m_pending.begin(), m_pending.begin() + std::ptrdiff_t(n));
        m_pending.erase(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(n));
        m_ended = m_ended && m_pending.empty();
        return true;
    }

private:
    /// The first frame to feed the decoder so that frame \a first and every frame after it decode
    /// as in the whole song: two frames before it for the granules whose halves overlap and for
    /// the filter bank's memory, and for layer 3 the frames their audio data may reach back into.
    std::int64_t decodeStart(std::int64_t first) const
    {
        std::int64_t from = std::max(m_map.firstRead(), first - 2);
        if (m_map.reference.layer != 3)
            return from;
        int bytes = 0;
        while (from > m_map.firstRead() && bytes <= largestReservoir) {
            --from;
            const SongFrame &frame = m_map.frame(from);
            bytes += std::max(0, frame.length - frame.header().sideInfoEnd());
        }
        return from;
    }

    /// Feeds the next frame and takes what it decodes to; at the end, m_ended.
    bool decodeNext()
    {
        if (m_next >= m_feedEnd) {
            m_ended = true;
            return true;
        }
        // Only the frames' own bytes: junk between them would be taken for more frames.
        const SongFrame &frame = m_map.frame(m_next);
        if (frame.offset < m_bytesAt || frame.offset + frame.length > m_bytesAt + std::int64_t(m_bytes.size())) {
            std::int64_t last = m_next;
            while (last + 1 < m_feedEnd && m_map.frame(last + 1).offset + m_map.frame(last + 1).length - frame.offset <= readSize)
                ++last;
            m_bytesAt = frame.offset;
            m_bytes.resize(std::size_t(m_map.frame(last).offset + m_map.frame(last).length - frame.offset));
            if (!readAt(m_fd, m_bytes.data(), m_bytes.size(), m_bytesAt))
                return false;
        }
        if (mpg123_feed(m_decoder.get(), m_bytes.data() + (frame.offset - m_bytesAt), std::size_t(frame.length)) != MPG123_OK)
            return false;
        ++m_next;
        for (;;) {
            off_t number = 0;
            unsigned char *audio = nullptr;
            std::size_t size = 0;
            const int result = mpg123_decode_frame(m_decoder.get(), &number, &audio, &size);
            if (result == MPG123_NEED_MORE)
                return true;
            if (result == MPG123_NEW_FORMAT) {
                if (!learnFormat(m_decoder.get()))
                    return false;
                continue;
            }
            // Each frame decodes in one go, and says which it was: the map's frame m_from +
            // number. One the decoder passed over would move every sample after it.
            if (result != MPG123_OK || number != m_decoded)
                return false;
            ++m_decoded;
            take(m_from + number, audio, size);
        }
    }

    /// Keeps what of frame \a index's \a size bytes of samples lies in [begin, end).
    void take(std::int64_t index, const unsigned char *audio, std::size_t size)
    {
        const std::int64_t first = index * m_map.samplesPerFrame;
        const std::int64_t count = std::int64_t(size / sizeof(float)) / m_channels;
        const std::int64_t from = std::clamp(m_wanted - first, std::int64_t(0), count);
        const std::int64_t to = std::clamp(m_end - first, from, count);
        if (to == from)
            return;
        const std::size_t had = m_pending.size();
        m_pending.resize(had + std::size_t((to - from) * m_channels));
        std::memcpy(m_pending.data() + had, audio + from * m_channels * std::int64_t(sizeof(float)),
                    std::size_t((to - from) * m_channels) * sizeof(float));
        m_wanted = std::max(m_wanted, first + to);
    }

    const SongMap &m_map;
    FloatDecoder m_decoder;
    int m_fd = -1;
    std::int64_t m_from = 0;
    std::int64_t m_next = 0;
    std::int64_t m_feedEnd = 0;
    std::int64_t m_decoded = 0;
    std::int64_t m_wanted = 0;
    std::int64_t m_end = 0;
    std::vector<float> m_pending;
    std::vector<std::uint8_t> m_bytes;
    std::int64_t m_bytesAt = 0;
};

/// How the piece compares with the song over a stretch: the volume at which the song fits it
/// best, and what is left of the piece's energy beside that.
struct Fit
{
    double both = 0;
    double pieceEnergy = 0;
    double songEnergy = 0;

    void add(const float *piece, const float *song, int samples)
    {
        for (int i = 0; i < samples; ++i) {
            both += double(piece[i]) * song[i];
            pieceEnergy += double(piece[i]) * piece[i];
            songEnergy += double(song[i]) * song[i];
        }
    }
    double scale() const { return songEnergy > 0 ? both / songEnergy : 0; }
};

/// The volume the piece plays the song at, as a second from its middle shows it: 1, or a step of
/// 1.5 dB (2^(1/4) in amplitude) a whole piece may be raised by; 1 where no step fits. Empty
/// where the decoders fail.
std::optional<int> gainSteps(const std::filesystem::path &song, const SongMap &map, const Placement &placement,
                             const std::filesystem::path &piece)
{
    const std::int64_t length = placement.endSample - placement.startSample;
    const std::int64_t half = std::min<std::int64_t>(length / 6, map.sampleRate() / 2);
    const std::int64_t from = length / 2 - half;
    PieceStream played;
    SongStream heard(map);
    if (!played.open(piece) || !played.seek(from)
        || !heard.open(song, placement.startSample + from, placement.startSample + from + 2 * half))
        return std::nullopt;
    std::vector<float> p;
    std::vector<float> s;
    if (!played.read(p, 2 * half) || !heard.read(s, 2 * half))
        return std::nullopt;
    Fit fit;
    fit.add(p.data(), s.data(), int(std::min(p.size(), s.size())));
    if (fit.scale() <= 0)
        return 0;
    const double steps = 4.0 * std::log2(fit.scale());
    return std::abs(steps - std::round(steps)) < 0.05 ? int(std::lround(steps)) : 0;
}

/// What the comparison of a piece with the song finds, block by block. Differences within the
/// fades asked for are weighed as fades, stretch by stretch; any elsewhere is a mismatch.
class Comparison
{
public:
    /// Fades of \a fadeIn and \a fadeOut samples were asked for (0 for none): only there may the
    /// piece differ from the song, and a granule or two beyond, where the last gain step reaches.
    Comparison(std::int64_t length, std::int64_t from, std::int64_t spf, double gain, int channels,
               std::int64_t fadeIn, std::int64_t fadeOut)
        : m_from(from)
        , m_gain(gain)
        , m_channels(channels)
    {
        const auto reach = [&](std::int64_t fade) { return fade > 0 ? std::min(length / 2, fade + 2 * spf) : 0; };
        m_inEnd = (reach(fadeIn) + fadeWindow - 1) / fadeWindow * fadeWindow;
        m_outStart = std::max(m_inEnd, fadeOut > 0 ? (length - reach(fadeOut)) / fadeWindow * fadeWindow : length);
    }

    /// Compares \a frames sample frames from sample frame \a at on.
    void add(std::int64_t at, const float *piece, const float *song, std::int64_t frames)
    {
        const float tolerance = sampleTolerance * float(std::max(1.0, m_gain));
        for (std::int64_t k = std::max<std::int64_t>(0, m_from - at); k < frames; ++k) {
            const std::int64_t frame = at + k;
            const float *p = piece + k * m_channels;
            const float *s = song + k * m_channels;
            bool differs = false;
            for (int c = 0; c < m_channels; ++c)
                differs = differs || std::abs(p[c] - float(m_gain * s[c])) > tolerance;
            const bool in = frame < m_inEnd;
            const bool out = frame >= m_outStart;
            if (differs) {
                if (in)
                    m_lastIn = frame;
                else if (!out && m_firstMiddle < 0)
                    m_firstMiddle = frame;
                else if (out && m_firstOut < 0)
                    m_firstOut = frame;
                if (m_first < 0)
                    m_first = frame;
            }
            if (in || out) {
                auto &windows = in ? m_inWindows : m_outWindows;
                const std::size_t w = std::size_t((frame - (in ? 0 : m_outStart)) / fadeWindow);
                if (windows.size() <= w)
                    windows.resize(w + 1);
                windows[w].add(p, s, m_channels);
            }
        }
    }

    /// The verdict on \a common sample frames compared, of a piece \a pieceLength long where
    /// \a length were wanted; firstDifferentSample -1 where the piece is the song.
    PieceCheck judge(PieceCheck check, std::int64_t common, std::int64_t pieceLength, std::int64_t length) const
    {
        std::int64_t fadeIn = m_from;
        if (m_lastIn >= 0) {
            fadeIn = m_lastIn + 1;
            if (!faded(m_inWindows, std::size_t(m_from / fadeWindow), std::size_t((fadeIn - 1) / fadeWindow), true))
                return mismatchAt(check, m_first);
        }
        if (m_firstMiddle >= 0)
            return mismatchAt(check, m_firstMiddle);
        if (m_firstOut >= 0) {
            if (!faded(m_outWindows, std::size_t((m_firstOut - m_outStart) / fadeWindow),
                       std::size_t((common - 1 - m_outStart) / fadeWindow), false))
                return mismatchAt(check, m_firstOut);
        }
        if (pieceLength != length)
            return mismatchAt(check, common);
        check.fadeInSamples = fadeIn - m_from;
        check.fadeOutSamples = m_firstOut >= 0 ? common - m_firstOut : 0;
        return check;
    }

    /// Whether \a windows [first, last] are the song faded from the piece's gain: none louder than
    /// the song's loudest stretch beside it, and the end a fade goes from or to \a fadingIn (its
    /// first stretch) or not (its last) near silence.
    bool faded(const std::vector<Fit> &windows, std::size_t first, std::size_t last, bool fadingIn) const
    {
        for (std::size_t w = first; w <= last; ++w) {
            double loudest = windows[w].songEnergy;
            if (w > 0)
                loudest = std::max(loudest, windows[w - 1].songEnergy);
            if (w + 1 < windows.size())
                loudest = std::max(loudest, windows[w + 1].songEnergy);
            if (windows[w].pieceEnergy > fadeLoudness * m_gain * m_gain * loudest + 1e-12 * fadeWindow)
                return false;
        }
        const Fit &silentEnd = windows[fadingIn ? first : last];
        return silentEnd.pieceEnergy <= 0.25 * m_gain * m_gain * silentEnd.songEnergy + 1e-12 * fadeWindow;
    }

    static PieceCheck mismatchAt(PieceCheck check, std::int64_t sample)
    {
        check.verdict = PieceCheck::Verdict::Mismatch;
        check.firstDifferentSample = sample;
        return check;
    }

private:
    std::int64_t m_from;
    double m_gain;
    int m_channels;
    /// The faded start lies before m_inEnd, the faded end from m_outStart on.
    std::int64_t m_inEnd = 0;
    std::int64_t m_outStart = 0;
    std::int64_t m_first = -1;
    std::int64_t m_lastIn = -1;
    std::int64_t m_firstMiddle = -1;
    std::int64_t m_firstOut = -1;
    std::vector<Fit> m_inWindows;
    std::vector<Fit> m_outWindows;
};

} // namespace

PieceCheck checkPiece(const std::filesystem::path &song, const SongMap &map, double startSeconds, double endSeconds,
                      const std::filesystem::path &piece, const GainChange &asked)
{
    PieceCheck check;
    check.sampleRate = map.sampleRate();
    const auto placed = placePiece(map, startSeconds, endSeconds);
    if (!std::holds_alternative<Placement>(placed))
        return check;
    const Placement &placement = std::get<Placement>(placed);
    const std::int64_t spf = map.samplesPerFrame;
    if (placement.startSample / spf < map.firstRead()
        || (placement.endSample + spf - 1) / spf > map.endRead())
        return check;
    if (!placement.exact) {
        // Only the marks are where the person put them; the piece begins and ends with whole frames.
        const std::int64_t markStart = map.sampleAt(std::max(0.0, startSeconds));
        const std::int64_t markEnd = std::min(map.sampleAt(endSeconds), map.endSample());
        check.startOffsetMs = 1000.0 * double(placement.startSample - markStart) / map.sampleRate();
        check.endOffsetMs = 1000.0 * double(placement.endSample - markEnd) / map.sampleRate();
    }

    const std::optional<int> steps = gainSteps(song, map, placement, piece);
    PieceStream played;
    SongStream heard(map);
    if (!steps || !played.open(piece) || !heard.open(song, placement.startSample, placement.endSample))
        return check;
    if (played.rate() != heard.rate() || played.channels() != heard.channels())
        return Comparison::mismatchAt(check, 0);
    // A louder whole is the song's sound only where it was asked for.
    if (*steps != 0 && !asked.maxVolume)
        return Comparison::mismatchAt(check, 0);
    check.gainDb = 1.5 * *steps;

    // The song's samples between the marks (or, for layers I and II, the frames around them),
    // block by block beside the piece's.
    const int channels = played.channels();
    const std::int64_t length = placement.endSample - placement.startSample;
    Comparison comparison(length, placement.exact ? 0 : std::min(length, filterBankWarmUp), spf,
                          std::pow(2.0, *steps / 4.0), channels,
                          fadeSamples(asked.fadeInSeconds, length, map.sampleRate()),
                          fadeSamples(asked.fadeOutSeconds, length, map.sampleRate()));
    std::vector<float> p;
    std::vector<float> s;
    std::int64_t at = 0;
    std::int64_t pieceLength = 0;
    const auto more = [channels](Stream &stream, std::vector<float> &samples) {
        return stream.ended() || std::int64_t(samples.size()) >= block * channels || stream.read(samples, block);
    };
    for (;;) {
        const std::size_t had = p.size() + s.size();
        if (!more(played, p) || !more(heard, s))
            return check;
        const std::int64_t n = std::int64_t(std::min(p.size(), s.size())) / channels;
        if (n == 0 && (played.ended() || heard.ended()))
            break;
        // A decoder that neither ends nor gives anything would hold the check for ever.
        if (n == 0 && p.size() + s.size() == had)
            return check;
        comparison.add(at, p.data(), s.data(), n);
        p.erase(p.begin(), p.begin() + std::ptrdiff_t(n * channels));
        s.erase(s.begin(), s.begin() + std::ptrdiff_t(n * channels));
        at += n;
    }
    // Whatever the piece plays beyond the song's samples is too much.
    pieceLength = at + std::int64_t(p.size()) / channels;
    while (!played.ended() && pieceLength <= length) {
        p.clear();
        if (!played.read(p, block))
            return check;
        pieceLength += std::int64_t(p.size()) / channels;
    }
    check.verdict = placement.exact ? PieceCheck::Verdict::Exact : PieceCheck::Verdict::Offset;
    return comparison.judge(check, at, pieceLength, length);
}
