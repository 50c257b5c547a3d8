#include "engine/chorus.h"

#include "engine/beats.h"
#include "engine/fft.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <vector>

namespace {

constexpr double shortestProposal = 20;
constexpr double longestProposal = 40;
constexpr double likedProposal = 30;
/// A section shorter than this is too short to take for a chorus of its own.
constexpr double shortestSection = 8;
constexpr double longestSection = 60;
/// A song shorter than this is nearly all ringtone already.
constexpr double shortestSong = 45;
/// Beats the similarity matrix may hold: 2400² floats are 23 MB, 20 minutes at 120 beats a minute.
constexpr std::size_t mostBeats = 2400;
constexpr int beatsPerBar = 4;
/// Seconds either side of a boundary that the novelty kernel compares, in whole bars and at least
/// four: long enough to hold a section's chord progression, whose changes then weigh less than
/// a change of section.
constexpr double noveltySeconds = 10;
constexpr int leastNoveltyReach = 16;
/// A boundary's two sides must differ by this much in how alike their beats are: a song that
/// loops one texture throughout has no sections (measured: up to 0.11 in a loop and within the
/// sections of the test songs, 0.2 to 0.64 between them).
constexpr double leastNovelty = 0.15;
constexpr double lowestPitchHz = 55;
constexpr double highestPitchHz = 2000;
constexpr int timbreBands = 12;
/// The share of harmony and of timbre in how alike two beats are.
constexpr float chromaShare = 0.7f;
/// Beats this many decibels apart in level are as unlike in texture as e to 1.
constexpr double loudnessScaleDb = 10;
/// A repeat must stand this many deviations above the average likeness of two beats.
constexpr double leastRepeatScore = 1.0;

/// What one beat sounds like.
struct BeatFeatures
{
    std::array<float, 12> chroma{};
    std::array<float, timbreBands> timbre{};
    double loudnessDb = 0;
};

struct Section
{
    std::size_t first = 0;
    std::size_t beats = 0;
    double score = 0;
};

/// \a v scaled to length 1 (left as it is when it is all zeros).
template<std::size_t N>
void normalise(std::array<float, N> &v)
{
    const float length = std::sqrt(std::inner_product(v.begin(), v.end(), v.begin(), 0.0f));
    if (length > 0) {
        for (float &x : v)
            x /= length;
    }
}

/// The chroma and the spectral shape of each beat, from spectra of about 190 ms, and its
/// loudness from its samples.
std::vector<BeatFeatures> beatFeatures(std::span<const float> mono, int sampleRate, const std::vector<double> &beats)
{
    const std::size_t count = beats.size() - 1;
    std::vector<BeatFeatures> features(count);
    const int size = powerOfTwoNear(sampleRate * 0.186);
    const int hop = size / 2;
    const double binHz = double(sampleRate) / size;
    const double top = sampleRate / 2.0 * 0.95;

    // Each bin's pitch class and how near it lies to the middle of a semitone.
    std::vector<int> pitchClass(std::size_t(size / 2 + 1), -1);
    std::vector<float> pitchWeight(pitchClass.size(), 0.0f);
    std::vector<int> band(pitchClass.size(), -1);
    for (std::size_t k = 1; k < pitchClass.size(); ++k) {
        const double hz = double(k) * binHz;
        if (hz >= lowestPitchHz && hz <= highestPitchHz) {
            const double midi = 69 + 12 * std::log2(hz / 440);
            const double nearest = std::round(midi);
            pitchClass[k] = int(std::lround(nearest)) % 12;
            pitchWeight[k] = float(1 - std::abs(midi - nearest));
        }
        if (hz >= 100 && hz <= top)
            band[k] = std::min(timbreBands - 1, int(timbreBands * std::log(hz / 100) / std::log(top / 100)));
    }

    std::vector<std::array<double, timbreBands>> bandPower(count);
    std::size_t beat = 0;
    forEachSpectrum(mono, size, hop, [&](std::size_t i, std::span<const float> power) {
        const double t = double(i) * hop / sampleRate;
        while (beat < count && t >= beats[beat + 1])
            ++beat;
        if (beat >= count || t < beats[beat])
            return;
        BeatFeatures &f = features[beat];
        for (std::size_t k = 1; k < power.size(); ++k) {
            if (pitchClass[k] >= 0)
                f.chroma[std::size_t(pitchClass[k])] += pitchWeight[k] * std::sqrt(power[k]);
            if (band[k] >= 0)
                bandPower[beat][std::size_t(band[k])] += power[k];
        }
    });

    for (std::size_t b = 0; b < count; ++b) {
        BeatFeatures &f = features[b];
        normalise(f.chroma);
        for (std::size_t j = 0; j < timbreBands; ++j)
            f.timbre[j] = float(std::log10(bandPower[b][j] + 1e-9));
        const auto from = std::size_t(beats[b] * sampleRate);
        const auto to = std::min(mono.size(), std::size_t(beats[b + 1] * sampleRate));
        double energy = 0;
        for (std::size_t s = from; s < to; ++s)
            energy += double(mono[s]) * mono[s];
        f.loudnessDb = 10 * std::log10(energy / double(std::max<std::size_t>(1, to - from)) + 1e-10);
    }
    // The shape of the spectrum, as each band differs from its average over the song: what the
    // song always sounds like tells its sections apart no better than its loudness does.
    std::array<float, timbreBands> average{};
    for (const BeatFeatures &f : features) {
        for (std::size_t j = 0; j < timbreBands; ++j)
            average[j] += f.timbre[j] / float(count);
    }
    for (BeatFeatures &f : features) {
        const float level = std::accumulate(f.timbre.begin(), f.timbre.end(), 0.0f) / timbreBands;
        const float averageLevel = std::accumulate(average.begin(), average.end(), 0.0f) / timbreBands;
        for (std::size_t j = 0; j < timbreBands; ++j)
            f.timbre[j] = (f.timbre[j] - level) - (average[j] - averageLevel);
        normalise(f.timbre);
    }
    return features;
}

/// How alike each two beats are, 0 to 1: a square matrix, row by row.
class Likeness
{
public:
    explicit Likeness(const std::vector<BeatFeatures> &features)
        : m_n(features.size())
        , m_values(m_n * m_n)
    {
        for (std::size_t i = 0; i < m_n; ++i) {
            for (std::size_t j = i; j < m_n; ++j) {
                const BeatFeatures &a = features[i];
                const BeatFeatures &b = features[j];
                const float chroma = std::inner_product(a.chroma.begin(), a.chroma.end(), b.chroma.begin(), 0.0f);
                const float timbre = std::inner_product(a.timbre.begin(), a.timbre.end(), b.timbre.begin(), 0.0f);
                const float v = chromaShare * chroma + (1 - chromaShare) * 0.5f * (1 + timbre);
                m_values[i * m_n + j] = v;
                m_values[j * m_n + i] = v;
            }
        }
    }

    std::size_t size() const { return m_n; }
    float operator()(std::size_t i, std::size_t j) const { return m_values[i * m_n + j]; }

    /// The average likeness of the \a length beats from \a a to those from \a b: a line along
    /// the lag b - a.
    double line(std::size_t a, std::size_t b, std::size_t length) const
    {
        double sum = 0;
        for (std::size_t k = 0; k < length; ++k)
            sum += m_values[(a + k) * m_n + b + k];
        return sum / double(length);
    }

private:
    std::size_t m_n;
    std::vector<float> m_values;
};

/// How alike two beats' sound is, whatever their chords: the shape of their spectra and their
/// loudness. Sections share the chords of their key, but seldom their instruments and level.
double textureLikeness(const BeatFeatures &a, const BeatFeatures &b)
{
    const float timbre = std::inner_product(a.timbre.begin(), a.timbre.end(), b.timbre.begin(), 0.0f);
    return 0.5 * (1 + timbre) * std::exp(-std::abs(a.loudnessDb - b.loudnessDb) / loudnessScaleDb);
}

/// How much the \a reach beats before each beat differ in texture from the \a reach beats from it
/// on: the likeness within each less that across them, under a Gaussian-tapered checkerboard
/// kernel moved along the diagonal. 0 where the kernel does not fit.
std::vector<double> novelty(const std::vector<BeatFeatures> &features, int reach)
{
    const std::size_t n = features.size();
    const int r = reach;
    std::vector<double> taper(std::size_t(2 * r));
    for (int k = -r; k < r; ++k) {
        const double x = (k + 0.5) / (r / 2.0);
        taper[std::size_t(k + r)] = std::exp(-0.5 * x * x);
    }
    // Weighed so that the novelty is how much likelier two beats on one side are than two across.
    double weight = 0;
    for (int a = -r; a < r; ++a) {
        for (int b = -r; b < r; ++b)
            weight += (a < 0) == (b < 0) ? taper[std::size_t(a + r)] * taper[std::size_t(b + r)] : 0.0;
    }
    std::vector<double> curve(n, 0.0);
    for (std::size_t i = std::size_t(r); i + std::size_t(r) <= n; ++i) {
        double sum = 0;
        for (int a = -r; a < r; ++a) {
            for (int b = -r; b < r; ++b) {
                const double sign = (a < 0) == (b < 0) ? 1 : -1;
                sum += sign * taper[std::size_t(a + r)] * taper[std::size_t(b + r)]
                       * textureLikeness(features[std::size_t(std::ptrdiff_t(i) + a)],
                                         features[std::size_t(std::ptrdiff_t(i) + b)]);
            }
        }
        curve[i] = sum / weight;
    }
    return curve;
}

/// The beat of the highest \a curve within \a reach of \a at.
std::size_t highestNear(const std::vector<double> &curve, std::size_t at, std::size_t reach)
{
    std::size_t best = at;
    for (std::size_t j = at > reach ? at - reach : 0; j <= std::min(curve.size() - 1, at + reach); ++j) {
        if (curve[j] > curve[best])
            best = j;
    }
    return best;
}

/// Beats where one section gives way to another: peaks of the novelty of a long kernel, which
/// finds changes of section among the changes of chord, each moved to the peak of a short one
/// near it, which places it to the beat.
std::vector<std::size_t> sectionBoundaries(const std::vector<BeatFeatures> &features, double bpm)
{
    const std::size_t n = features.size();
    const int r = std::max(leastNoveltyReach, int(std::lround(noveltySeconds * bpm / 60 / beatsPerBar)) * beatsPerBar);
    const std::vector<double> coarse = novelty(features, r);
    const std::vector<double> fine = novelty(features, 2 * beatsPerBar);
    const double mean = std::accumulate(coarse.begin(), coarse.end(), 0.0) / double(n);
    double variance = 0;
    for (double v : coarse)
        variance += (v - mean) * (v - mean);
    const double least = std::max(leastNovelty, mean + 0.5 * std::sqrt(variance / double(n)));

    std::vector<std::size_t> boundaries{0};
    const std::size_t apart = std::size_t(r) / 2;
    for (std::size_t i = std::size_t(r); i + std::size_t(r) <= n; ++i) {
        if (coarse[i] > least && highestNear(coarse, i, apart) == i)
            boundaries.push_back(highestNear(fine, i, apart));
    }
    boundaries.push_back(n);
    std::sort(boundaries.begin(), boundaries.end());
    boundaries.erase(std::unique(boundaries.begin(), boundaries.end()), boundaries.end());
    return boundaries;
}

/// How strongly the \a length beats from \a first repeat elsewhere: the sum, over the stretches
/// that repeat them best without overlapping, of how far their likeness stands above the
/// average, in deviations. A repeat of a section is a section too, so it starts within a beat of
/// a boundary: a few bars of a chorus whose progression comes round twice in it would otherwise
/// count as repeated twice as often as the whole.
double repetition(const Likeness &like, const std::vector<std::size_t> &boundaries, std::size_t first,
                  std::size_t length, double mean, double deviation)
{
    const std::size_t n = like.size();
    std::vector<std::pair<double, std::size_t>> lines;
    for (std::size_t boundary : boundaries) {
        for (std::size_t c = boundary > 0 ? boundary - 1 : 0; c <= boundary + 1 && c + length <= n; ++c) {
            if (c + length > first && c < first + length)
                continue;
            const double score = (like.line(first, c, length) - mean) / deviation;
            if (score >= leastRepeatScore)
                lines.emplace_back(score, c);
        }
    }
    std::sort(lines.begin(), lines.end(), [](const auto &x, const auto &y) { return x.first > y.first; });
    std::vector<std::size_t> taken{first};
    double sum = 0;
    for (const auto &[score, c] : lines) {
        const bool apart = std::all_of(taken.begin(), taken.end(), [&, at = c](std::size_t t) {
            return at + length <= t || t + length <= at;
        });
        if (apart) {
            taken.push_back(c);
            sum += score;
        }
    }
    return sum;
}

/// Weight of a section \a seconds long: full from a chorus's usual lengths on, less for a
/// fragment, and less for a stretch long enough to be two sections.
double lengthWeight(double seconds)
{
    if (seconds < 15)
        return seconds / 15;
    if (seconds > longestProposal)
        return longestProposal / seconds;
    return 1;
}

} // namespace

std::optional<ChorusProposal> proposeChorus(std::span<const float> mono, int sampleRate)
{
    if (sampleRate < 8000 || sampleRate > 48000 || double(mono.size()) < shortestSong * sampleRate)
        return std::nullopt;
    const auto grid = trackBeats(onsetEnvelope(mono, sampleRate));
    if (!grid || grid->beats.size() < 4 * leastNoveltyReach || grid->beats.size() > mostBeats)
        return std::nullopt;
    const std::vector<double> &beats = grid->beats;
    const std::vector<BeatFeatures> features = beatFeatures(mono, sampleRate, beats);
    const Likeness like(features);
    const std::size_t n = like.size();

    double mean = 0;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j)
            mean += like(i, j);
    }
    mean /= double(n * n);
    double variance = 0;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j)
            variance += (like(i, j) - mean) * (like(i, j) - mean);
    }
    const double deviation = std::sqrt(variance / double(n * n));
    // Every beat like every other: nothing stands out to repeat.
    if (deviation < 0.02)
        return std::nullopt;

    double songLoudness = 0;
    for (const BeatFeatures &f : features)
        songLoudness += f.loudnessDb / double(n);

    const std::vector<std::size_t> boundaries = sectionBoundaries(features, grid->bpm);
    std::vector<Section> sections;
    for (std::size_t i = 0; i + 1 < boundaries.size(); ++i) {
        for (std::size_t j = i + 1; j < boundaries.size(); ++j) {
            const std::size_t first = boundaries[i];
            const std::size_t length = boundaries[j] - first;
            const double seconds = beats[first + length] - beats[first];
            if (seconds < shortestSection)
                continue;
            if (seconds > longestSection)
                break;
            const double repeats = repetition(like, boundaries, first, length, mean, deviation);
            if (repeats <= 0)
                continue;
            double loudness = 0;
            for (std::size_t b = first; b < first + length; ++b)
                loudness += features[b].loudnessDb / double(length);
            const double louder = std::pow(10.0, std::clamp(loudness - songLoudness, -6.0, 6.0) / 20);
            sections.push_back({first, length, repeats * louder * lengthWeight(seconds)});
        }
    }
    std::stable_sort(sections.begin(), sections.end(), [](const Section &a, const Section &b) { return a.score > b.score; });

    // Whole bars from the section's first beat: as many as the section holds where that is 20 to
    // 40 s; the fewest that reach 20 s past a shorter one; as near 30 s as whole bars come in a
    // longer one.
    const double period = 60 / grid->bpm;
    const auto beatTime = [&](std::size_t b) {
        return b < beats.size() ? beats[b] : beats.back() + double(b - beats.size() + 1) * period;
    };
    const double songEnd = double(mono.size()) / sampleRate;
    for (const Section &section : sections) {
        const double start = beats[section.first];
        const auto seconds = [&](std::size_t bars) { return beatTime(section.first + bars * beatsPerBar) - start; };
        std::size_t bars = std::max<std::size_t>(1, std::size_t(std::lround(double(section.beats) / beatsPerBar)));
        while (seconds(bars) < shortestProposal)
            ++bars;
        if (seconds(bars) > longestProposal) {
            bars = 1;
            while (std::abs(seconds(bars + 1) - likedProposal) < std::abs(seconds(bars) - likedProposal))
                ++bars;
        }
        const double end = start + seconds(bars);
        if (seconds(bars) >= shortestProposal && seconds(bars) <= longestProposal && end <= songEnd)
            return ChorusProposal{start, end, grid->bpm};
    }
    return std::nullopt;
}
