#pragma once

#include <QList>
#include <QtGlobal>

#include <span>
#include <vector>

/// The lowest and the highest sample of a stretch of sound, every channel together, full scale
/// being -1 to 1; or, while the sound is still being decoded, a rough guess at them.
struct PeakBucket
{
    float low = 0.0f;
    float high = 0.0f;
    /// A guess from what the frames say of their loudness, not from decoded samples.
    bool rough = false;

    friend bool operator==(const PeakBucket &, const PeakBucket &) = default;
};

/// A song's sound as the lowest and highest sample of each run of bucketFrames frames, the first
/// run beginning at the song's first frame. The last bucket holds fewer frames when the sound
/// ends, or has not yet all been added, inside it.
struct PeakBuckets
{
    /// Small enough that a tenth of a second spans some fifteen buckets at 44.1 kHz, so the
    /// picture stays sharp zoomed in; large enough that a four-hour song takes 20 MB.
    static constexpr int defaultBucketFrames = 256;

    int sampleRate = 0;
    int bucketFrames = defaultBucketFrames;
    /// Frames added so far.
    qint64 frames = 0;
    QList<PeakBucket> buckets;

    double seconds() const { return sampleRate > 0 ? double(frames) / sampleRate : 0.0; }
};

/// Adds \a samples, interleaved over \a channels, after the frames \a peaks holds. A frame whose
/// channels are not all in \a samples is left out.
void addSamples(PeakBuckets &peaks, std::span<const float> samples, int channels);

/// A rough peak for sound whose loudest coded granule has the global gain \a gain: where a
/// song's picture stands until its decode reaches it.
PeakBucket roughPeak(int gain);

/// The sound handed to its analysis: one channel at about 11 kHz, rate() / factor() exactly, which
/// keeps what the ear follows in music (melody, chords, beats) at a tenth of the samples.
class AnalysisDecimator
{
public:
    /// Takes sound at \a sampleRate and puts out every factor()-th sample of it, the first one at
    /// the song's sample \a firstOutput × factor(), each from the samples around it.
    AnalysisDecimator(int sampleRate, qint64 firstOutput);

    /// The whole divisor of \a sampleRate that brings it nearest 11025 Hz, no lower than 8 kHz.
    static int factorFor(int sampleRate);
    int factor() const { return m_factor; }
    int rate() const { return m_rate / m_factor; }
    /// The song's sample from which on the sound is to be given: factor() − 1 before the first
    /// output's own, since each output weighs its neighbours.
    qint64 firstInput() const { return m_next * m_factor - (m_factor - 1); }
    /// One past the song's last sample that outputs before \a output are made from.
    qint64 inputEndFor(qint64 output) const { return output * m_factor; }

    /// Takes \a samples, interleaved over \a channels, the frames that follow those given before
    /// (the first from firstInput() on; silence before the song's start), and writes every
    /// output they complete at \a out, in order: how many.
    qsizetype add(std::span<const float> samples, int channels, float *out);
    /// The next output to be written.
    qint64 next() const { return m_next; }

private:
    int m_rate = 0;
    int m_factor = 1;
    qint64 m_next = 0;
    /// What each of the samples around an output weighs in it.
    std::vector<float> m_weights;
    /// One channel, from the song's sample m_pendingFrom on.
    std::vector<float> m_pending;
    qint64 m_pendingFrom = 0;
};

/// A stretch of a song's time, in seconds.
struct TimeWindow
{
    double from = 0.0;
    double to = 0.0;

    double span() const { return to - from; }
    friend bool operator==(const TimeWindow &, const TimeWindow &) = default;
};

/// The lowest and highest sample under each of \a columns pixel columns that show \a window of
/// the song, from column \a firstColumn on and as far as \a peaks reach. A column takes every
/// bucket whose middle lies in its time; a column narrower than a bucket takes the bucket under
/// its own middle.
QList<PeakBucket> columnPeaks(const PeakBuckets &peaks, TimeWindow window, int columns, int firstColumn = 0);

/// \a window made \a factor times as long (below 1 zooms in) around \a anchor, which keeps its
/// place in it: never shorter than \a shortest, never longer than the song's \a length, never
/// beyond either end of the song.
TimeWindow zoomedWindow(TimeWindow window, double factor, double anchor, double length, double shortest);

/// \a window itself when it shows \a seconds; else a window as long that begins a tenth of its
/// span before \a seconds, within the song's \a length. Playing on through a zoomed view thus
/// turns a page at a time.
TimeWindow windowShowing(TimeWindow window, double seconds, double length);

/// Where a step of \a step seconds (negative: back) takes the position at \a seconds: to the next
/// whole multiple of the step that way, so that steps of a tenth land on the tenths the clock
/// shows. Never before 0.
double steppedTime(double seconds, double step);
