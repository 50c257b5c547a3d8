#include "engine/beats.h"

#include "engine/fft.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr int bandCount = 40;
constexpr double lowestBand = 40;
constexpr double highestBand = 5000;
/// Rises more than this far below the loudest frame's are noise, not onsets.
constexpr float floorDb = 80;
/// The tempo the period weighting leans to, and how far (in octaves) it reaches either side.
constexpr double likeliestBeatSeconds = 0.5;
constexpr double weightOctaves = 1.0;
constexpr double slowestBpm = 40;
constexpr double fastestBpm = 240;
/// How dearly the beat chain pays for an interval that strays from the period.
constexpr double tightness = 400;
/// The tempo's autocorrelation, weighed, must stand this far above the average over all periods,
/// or the sound keeps no pulse.
constexpr double leastPulse = 1.8;

/// The bins of the bands: log-spaced from lowestBand to highestBand (or the top of the spectrum).
std::vector<int> bandEdges(int size, int sampleRate)
{
    const double top = std::min(highestBand, sampleRate / 2.0 * 0.95);
    std::vector<int> edges;
    for (int b = 0; b <= bandCount; ++b) {
        const double hz = lowestBand * std::pow(top / lowestBand, double(b) / bandCount);
        const int bin = int(std::lround(hz * size / sampleRate));
        edges.push_back(edges.empty() ? bin : std::max(bin, edges.back() + 1));
    }
    return edges;
}

/// \a values less their average over a window of \a reach frames either side.
std::vector<float> withoutSwells(const std::vector<float> &values, std::size_t reach)
{
    std::vector<double> sums(values.size() + 1, 0.0);
    for (std::size_t i = 0; i < values.size(); ++i)
        sums[i + 1] = sums[i] + values[i];
    std::vector<float> out(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::size_t from = i > reach ? i - reach : 0;
        const std::size_t to = std::min(values.size(), i + reach + 1);
        out[i] = std::max(0.0f, values[i] - float((sums[to] - sums[from]) / double(to - from)));
    }
    return out;
}

} // namespace

OnsetEnvelope onsetEnvelope(std::span<const float> mono, int sampleRate)
{
    // Windows of about 23 ms, two to a window: about 86 frames a second at any rate. A longer
    // window would blur when a note begins and cost more to transform.
    const int size = powerOfTwoNear(sampleRate * 0.023);
    const int hop = size / 2;
    const std::vector<int> edges = bandEdges(size, sampleRate);
    std::vector<float> bands;
    std::size_t frames = 0;
    forEachSpectrum(mono, size, hop, [&](std::size_t, std::span<const float> power) {
        for (int b = 0; b < bandCount; ++b) {
            double sum = 0;
            for (int k = edges[std::size_t(b)]; k < edges[std::size_t(b) + 1] && k < int(power.size()); ++k)
                sum += power[std::size_t(k)];
            bands.push_back(float(10 * std::log10(sum + 1e-12)));
        }
        ++frames;
    });

    OnsetEnvelope envelope;
    envelope.frameRate = double(sampleRate) / hop;
    if (frames < 2)
        return envelope;
    const float loudest = *std::max_element(bands.begin(), bands.end());
    for (float &b : bands)
        b = std::max(b, loudest - floorDb);
    std::vector<float> rise(frames, 0.0f);
    for (std::size_t i = 1; i < frames; ++i) {
        float sum = 0;
        for (std::size_t b = 0; b < bandCount; ++b)
            sum += std::max(0.0f, bands[i * bandCount + b] - bands[(i - 1) * bandCount + b]);
        rise[i] = sum / bandCount;
    }
    // A crescendo raises every frame for seconds: only what stands above its neighbourhood of
    // about half a second is an onset.
    envelope.strength = withoutSwells(rise, std::size_t(envelope.frameRate * 0.25));
    return envelope;
}

std::optional<BeatGrid> trackBeats(const OnsetEnvelope &onsets)
{
    const std::vector<float> &o = onsets.strength;
    const double rate = onsets.frameRate;
    const int shortest = int(std::floor(rate * 60 / fastestBpm));
    const int longest = int(std::ceil(rate * 60 / slowestBpm));
    if (rate <= 0 || o.size() < std::size_t(longest) * 8)
        return std::nullopt;

    const double mean = std::accumulate(o.begin(), o.end(), 0.0) / double(o.size());
    double variance = 0;
    for (float v : o)
        variance += (v - mean) * (v - mean);
    const double deviation = std::sqrt(variance / double(o.size()));
    if (deviation <= 1e-6)
        return std::nullopt;
    std::vector<double> centred(o.size());
    for (std::size_t i = 0; i < o.size(); ++i)
        centred[i] = (o[i] - mean) / deviation;

    std::vector<double> weighed(std::size_t(longest) + 2, 0.0);
    double total = 0;
    for (int lag = shortest; lag <= longest + 1; ++lag) {
        double sum = 0;
        for (std::size_t i = std::size_t(lag); i < centred.size(); ++i)
            sum += centred[i] * centred[i - std::size_t(lag)];
        const double octaves = std::log2(lag / rate / likeliestBeatSeconds) / weightOctaves;
        weighed[std::size_t(lag)] = sum / double(centred.size() - std::size_t(lag)) * std::exp(-0.5 * octaves * octaves);
        if (lag <= longest)
            total += std::abs(weighed[std::size_t(lag)]);
    }
    int best = shortest;
    for (int lag = shortest; lag <= longest; ++lag) {
        if (weighed[std::size_t(lag)] > weighed[std::size_t(best)])
            best = lag;
    }
    if (weighed[std::size_t(best)] < leastPulse * total / (longest - shortest + 1))
        return std::nullopt;
    // Between frames: the peak of the parabola through the best lag and its neighbours.
    double period = best;
    if (best > shortest) {
        const double a = weighed[std::size_t(best) - 1];
        const double b = weighed[std::size_t(best)];
        const double c = weighed[std::size_t(best) + 1];
        const double bend = a - 2 * b + c;
        if (bend < 0)
            period += std::clamp(0.5 * (a - c) / bend, -0.5, 0.5);
    }

    // The best chain of beats ending at each frame: its onset plus the best earlier chain, less
    // what its last interval strays from the period. Onsets count from 0, so that a chain only
    // grows: one that broke off would lose the song's early beats.
    const std::size_t n = o.size();
    std::vector<double> score(n);
    std::vector<std::ptrdiff_t> previous(n, -1);
    const auto nearest = std::ptrdiff_t(std::lround(period / 2));
    const auto farthest = std::ptrdiff_t(std::lround(period * 2));
    for (std::size_t t = 0; t < n; ++t) {
        double bestBefore = 0;
        for (std::ptrdiff_t gap = nearest; gap <= farthest && gap <= std::ptrdiff_t(t); ++gap) {
            const double stray = std::log(double(gap) / period);
            const double candidate = score[t - std::size_t(gap)] - tightness * stray * stray;
            if (candidate > bestBefore) {
                bestBefore = candidate;
                previous[t] = std::ptrdiff_t(t) - gap;
            }
        }
        score[t] = o[t] / deviation + bestBefore;
    }
    // The chain ends at the best score within the last period.
    std::size_t last = n - 1;
    for (std::size_t t = n - std::min<std::size_t>(n, std::size_t(std::ceil(period))); t < n; ++t) {
        if (score[t] > score[last])
            last = t;
    }
    BeatGrid grid;
    for (std::ptrdiff_t t = std::ptrdiff_t(last); t >= 0; t = previous[std::size_t(t)])
        grid.beats.push_back(double(t) / rate);
    std::reverse(grid.beats.begin(), grid.beats.end());
    grid.bpm = 60 * rate / period;
    return grid;
}
