#pragma once

#include <QList>
#include <QtGlobal>

#include <span>

/// The lowest and the highest sample of a stretch of sound, every channel together, full scale
/// being -1 to 1.
struct PeakBucket
{
    float low = 0.0f;
    float high = 0.0f;

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
