#include "core/waveform.h"

#include <algorithm>
#include <cmath>

void addSamples(PeakBuckets &peaks, std::span<const float> samples, int channels)
{
    if (channels <= 0 || peaks.bucketFrames <= 0)
        return;
    const qint64 frames = qint64(samples.size()) / channels;
    for (qint64 done = 0; done < frames;) {
        const qint64 filled = peaks.frames % peaks.bucketFrames;
        const qint64 take = std::min<qint64>(peaks.bucketFrames - filled, frames - done);
        const std::span<const float> run = samples.subspan(size_t(done * channels), size_t(take * channels));
        float low = run.front();
        float high = run.front();
        for (const float s : run) {
            low = std::min(low, s);
            high = std::max(high, s);
        }
        if (filled == 0) {
            peaks.buckets.append({low, high});
        } else {
            PeakBucket &last = peaks.buckets.last();
            last.low = std::min(last.low, low);
            last.high = std::max(last.high, high);
        }
        peaks.frames += take;
        done += take;
    }
}

QList<PeakBucket> columnPeaks(const PeakBuckets &peaks, TimeWindow window, int columns, int firstColumn)
{
    QList<PeakBucket> result;
    const qint64 count = peaks.buckets.size();
    if (peaks.sampleRate <= 0 || peaks.bucketFrames <= 0 || columns <= 0 || window.span() <= 0 || count == 0)
        return result;
    // Everything in buckets from the song's start: bucket i spans [i, i + 1), its middle i + 0.5.
    const double bucketsPerSecond = double(peaks.sampleRate) / peaks.bucketFrames;
    const double start = window.from * bucketsPerSecond;
    const double perColumn = window.span() * bucketsPerSecond / columns;
    for (int c = std::max(firstColumn, 0); c < columns; ++c) {
        const double a = start + c * perColumn;
        const double b = a + perColumn;
        qint64 first = qint64(std::ceil(a - 0.5));
        qint64 end = qint64(std::ceil(b - 0.5));
        if (first >= end) {
            first = qint64(std::floor((a + b) / 2));
            end = first + 1;
        }
        first = std::max<qint64>(first, 0);
        if (first >= count)
            break;
        end = std::min(end, count);
        PeakBucket peak = peaks.buckets[first];
        for (qint64 i = first + 1; i < end; ++i) {
            peak.low = std::min(peak.low, peaks.buckets[i].low);
            peak.high = std::max(peak.high, peaks.buckets[i].high);
            peak.rough = peak.rough || peaks.buckets[i].rough;
        }
        result.append(peak);
    }
    return result;
}

TimeWindow zoomedWindow(TimeWindow window, double factor, double anchor, double length, double shortest)
{
    if (!(length > 0))
        return {};
    const double span = std::clamp(window.span() * factor, std::min(shortest, length), length);
    const double place = window.span() > 0 ? std::clamp((anchor - window.from) / window.span(), 0.0, 1.0) : 0.5;
    const double from = std::clamp(anchor - place * span, 0.0, length - span);
    return {from, from + span};
}

TimeWindow windowShowing(TimeWindow window, double seconds, double length)
{
    if (seconds >= window.from && seconds <= window.to)
        return window;
    const double span = std::clamp(window.span(), 0.0, std::max(length, 0.0));
    const double from = std::clamp(seconds - span / 10, 0.0, std::max(length - span, 0.0));
    return {from, from + span};
}

double steppedTime(double seconds, double step)
{
    if (step == 0)
        return seconds;
    const double size = std::abs(step);
    // A position stepped to before lies a hair off its multiple: it counts as on it.
    const double slack = 1e-6;
    const double count = step > 0 ? std::floor(seconds / size + slack) + 1 : std::ceil(seconds / size - slack) - 1;
    return std::max(count * size, 0.0);
}

PeakBucket roughPeak(int gain)
{
    // Each step of the global gain scales a granule's values by 2^(1/4), but a granule coded with
    // a low gain holds large values and one coded with a high gain many small ones, so the peak
    // follows the gain far more slowly. Measured on lame's frames: a tone peaking at a quarter of
    // full scale is coded near 148, noise peaking at two thirds near 184.
    constexpr double fullScaleGain = 195.0;
    constexpr double stepsPerDoubling = 25.0;
    const float level = float(std::min(1.0, std::exp2((gain - fullScaleGain) / stepsPerDoubling)));
    return {-level, level, true};
}

AnalysisDecimator::AnalysisDecimator(int sampleRate, qint64 firstOutput)
    : m_rate(sampleRate)
    , m_factor(factorFor(sampleRate))
    , m_next(firstOutput)
    , m_pendingFrom(firstInput())
{
    const float scale = 1.0f / float(m_factor * m_factor);
    for (int k = 1 - m_factor; k < m_factor; ++k)
        m_weights.push_back(float(m_factor - std::abs(k)) * scale);
}

int AnalysisDecimator::factorFor(int sampleRate)
{
    constexpr int wanted = 11025;
    constexpr int lowest = 8000;
    int best = 1;
    for (int f = 2; sampleRate / f >= lowest; ++f) {
        if (sampleRate % f == 0 && std::abs(sampleRate / f - wanted) < std::abs(sampleRate / best - wanted))
            best = f;
    }
    return best;
}

qsizetype AnalysisDecimator::add(std::span<const float> samples, int channels, float *out)
{
    if (channels <= 0)
        return 0;
    const size_t frames = samples.size() / size_t(channels);
    const size_t from = m_pending.size();
    m_pending.resize(from + frames);
    float *mono = m_pending.data() + from;
    const float *in = samples.data();
    if (channels == 1) {
        std::copy_n(in, frames, mono);
    } else if (channels == 2) {
        for (size_t i = 0; i < frames; ++i)
            mono[i] = (in[2 * i] + in[2 * i + 1]) * 0.5f;
    } else {
        const float share = 1.0f / float(channels);
        for (size_t i = 0; i < frames; ++i) {
            float sum = 0.0f;
            for (int c = 0; c < channels; ++c)
                sum += in[i * size_t(channels) + size_t(c)];
            mono[i] = sum * share;
        }
    }

    // A triangle twice the factor wide: its response has nulls on every multiple of the new rate,
    // where what would fold back onto the low sound lies, for two additions a sample.
    const qint64 f = m_factor;
    const qsizetype taps = qsizetype(m_weights.size());
    const float *x = m_pending.data();
    const qint64 available = m_pendingFrom + qint64(m_pending.size());
    qsizetype written = 0;
    for (; m_next * f + f - 1 < available; ++m_next) {
        const float *first = x + (m_next * f - (f - 1) - m_pendingFrom);
        float sum = 0.0f;
        for (qsizetype k = 0; k < taps; ++k)
            sum += m_weights[size_t(k)] * first[k];
        out[written++] = sum;
    }
    const qint64 needed = firstInput();
    m_pending.erase(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(needed - m_pendingFrom));
    m_pendingFrom = needed;
    return written;
}
