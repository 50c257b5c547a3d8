#include "core/waveformloader.h"

#include "engine/sideinfo.h"
#include "engine/songmap.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <thread>

namespace {

/// How long a decoding thread works between two blocks it hands over: often enough that the
/// picture grows smoothly, seldom enough that taking the blocks costs the window nothing.
constexpr qint64 handOverMs = 25;
/// Frames decoded at a time: the thread notices it is no longer wanted within one such read,
/// well under a millisecond.
constexpr qsizetype readFrames = 8192;
/// A stretch of a song shorter than this is decoded sooner than a thread for it is worth.
constexpr int shortestStretchSeconds = 20;

/// The first frame to decode so that the sound from frame \a first on comes out as a decode of
/// the whole song gives it. The two frames before it must decode whole, for their granules
/// overlap into it and the synthesis filter bank remembers their last slots; in layer 3 their
/// data may begin hundreds of bytes earlier, in the frames before them (main_data_begin). A
/// decoder that starts amid a song refuses frames until it holds as many bytes as a frame
/// reaches back, and only the frames after those hold their reservoir whole: twice the longest
/// reach, measured with libmpg123.
qint64 leadFrame(const SongMap &map, qint64 first)
{
    qint64 lead = std::max<qint64>(first - 2, 0);
    if (map.reference.layer == 3) {
        const qint64 longestReach = map.reference.version == 10 ? 511 : 255;
        for (qint64 held = 0; lead > 0 && held < 2 * longestReach + 1;) {
            --lead;
            const SongFrame &frame = map.frame(lead);
            held += frame.length - frame.header().sideInfoEnd();
        }
        lead = std::max<qint64>(lead - 1, 0);
    }
    // The filter bank's window runs through its buffer in a phase that turns with each slot of
    // 32 samples. Starting on a frame where the whole decode's phase is the same keeps the order
    // in which it adds its products, and so its sums, the same to the last bit.
    constexpr qint64 phaseFrames = 16;
    return lead / phaseFrames * phaseFrames;
}

/// The picture of a song whose granules have \a levels before any is decoded, each \a granule
/// samples long, the song's time 0 lying at the decoder's sample \a first.
QList<PeakBucket> roughBuckets(const std::vector<GranuleLevel> &levels, qint64 granule, qint64 first, qint64 frames)
{
    const qint64 bucketFrames = PeakBuckets::defaultBucketFrames;
    QList<PeakBucket> buckets((frames + bucketFrames - 1) / bucketFrames, PeakBucket{0, 0, true});
    if (levels.empty())
        return buckets;
    for (qsizetype i = 0; i < buckets.size(); ++i) {
        // A granule's sound comes out of the filter banks a decoder's delay after its own place.
        const qint64 from = first + i * bucketFrames - decoderDelay;
        const qint64 to = std::min(from + bucketFrames, first + frames - decoderDelay);
        const qint64 last = std::min<qint64>((to - 1) / granule, qint64(levels.size()) - 1);
        int gain = -1;
        for (qint64 g = std::max<qint64>(from / granule, 0); g <= last; ++g) {
            if (!levels[size_t(g)].silent)
                gain = std::max<int>(gain, levels[size_t(g)].gain);
        }
        if (gain >= 0)
            buckets[i] = roughPeak(gain);
    }
    return buckets;
}

/// Gives \a decimator \a frames frames of silence, writing what it puts out at \a out.
qsizetype addSilence(AnalysisDecimator &decimator, qint64 frames, int channels, float *out)
{
    if (frames <= 0)
        return 0;
    const std::vector<float> silence(size_t(frames * channels), 0.0f);
    return decimator.add(silence, channels, out);
}

} // namespace

/// The song's samples [from, to), as its time counts them, that one thread decodes.
struct WaveformLoader::Stretch
{
    qint64 from = 0;
    qint64 to = 0;
};

WaveformLoader::WaveformLoader(AudioDecoderFactory decoders, QObject *parent, int stretches)
    : QObject(parent)
    , m_decoders(std::move(decoders))
    , m_stretches(stretches)
{
}

WaveformLoader::~WaveformLoader()
{
    stop();
}

void WaveformLoader::stop()
{
    if (!m_thread)
        return;
    m_cancelled = true;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

void WaveformLoader::load(const QString &path)
{
    stop();
    ++m_loads;
    m_peaks = PeakBuckets{};
    m_expectedFrames.reset();
    m_progress = Progress::Idle;
    m_analysis.reset();
    m_analysisRate = 0;
    if (!path.isEmpty() && m_decoders) {
        m_progress = Progress::Decoding;
        m_cancelled = false;
        m_thread = QThread::create([this, path, load = m_loads] { decode(path, load); });
        m_thread->setParent(this);
        m_thread->start();
    }
    emit changed(0);
}

std::optional<double> WaveformLoader::length() const
{
    if (m_peaks.sampleRate <= 0)
        return std::nullopt;
    qint64 frames = m_peaks.frames;
    switch (m_progress) {
    case Progress::Decoding:
        // The part decoded so far is no length: the picture would be stretched anew each block.
        if (!m_expectedFrames)
            return std::nullopt;
        frames = std::max(frames, *m_expectedFrames);
        break;
    case Progress::Stopped:
        // The sound after the damage still plays, or may: it keeps its place, undrawn.
        frames = std::max(frames, m_expectedFrames.value_or(0));
        break;
    default:
        break;
    }
    if (frames <= 0)
        return std::nullopt;
    return double(frames) / m_peaks.sampleRate;
}

// On the decoding threads: they read m_decoders, m_stretches and m_cancelled, and hand
// everything else over to the loader's own thread.
void WaveformLoader::decode(const QString &path, quint64 load)
{
    const std::optional<SongMap> map = scanSong(std::filesystem::path(QFile::encodeName(path).toStdString()));
    if (map && decodeStretches(path, load, *map))
        return;
    // A song whose frames the map cannot find, or which the decoder will not take a stretch at a
    // time, may still decode front to back.
    if (!m_cancelled)
        decodeWhole(path, load);
}

bool WaveformLoader::decodeStretches(const QString &path, quint64 load, const SongMap &map)
{
    const qint64 frames = map.endSample() - map.firstSample();
    const int rate = map.sampleRate();
    if (frames <= 0 || rate <= 0 || map.framesRead() == 0 || map.framesRead() != map.frameCount())
        return false;

    // The first picture, at once: how loud each granule is coded to be, from its side information.
    const std::filesystem::path file(QFile::encodeName(path).toStdString());
    const std::optional<std::vector<GranuleLevel>> levels = songLevels(file, map);
    PeakBuckets rough;
    rough.sampleRate = rate;
    rough.frames = frames;
    rough.buckets = roughBuckets(levels.value_or(std::vector<GranuleLevel>{}),
                                 map.samplesPerFrame / granulesOf(map.reference), map.firstSample(), frames);
    QMetaObject::invokeMethod(this, [this, load, rough, frames] { begin(load, rough, frames); }, Qt::QueuedConnection);

    // Stretches that begin on a bucket and on an analysis sample, so that none shares one.
    const int factor = AnalysisDecimator::factorFor(rate);
    const qint64 step = std::lcm<qint64>(PeakBuckets::defaultBucketFrames, factor);
    int count = m_stretches;
    if (count <= 0) {
        count = std::max(QThread::idealThreadCount(), 1);
        count = int(std::clamp<qint64>(frames / (qint64(shortestStretchSeconds) * rate), 1, count));
    }
    std::vector<Stretch> stretches;
    for (int k = 0; k < count; ++k) {
        const qint64 from = frames * k / count / step * step;
        const qint64 to = k + 1 == count ? frames : frames * (k + 1) / count / step * step;
        if (to > from)
            stretches.push_back({from, to});
    }

    std::vector<float> analysis(size_t((frames + factor - 1) / factor));
    std::vector<Progress> results(stretches.size(), Progress::Refused);
    {
        std::vector<std::jthread> threads;
        for (size_t k = 1; k < stretches.size(); ++k) {
            threads.emplace_back([&, k] { results[k] = decodeStretch(path, load, map, stretches[k], analysis); });
        }
        results[0] = decodeStretch(path, load, map, stretches[0], analysis);
    }
    if (m_cancelled)
        return true;
    if (std::all_of(results.begin(), results.end(), [](Progress p) { return p == Progress::Refused; }))
        return false;
    const bool complete = std::all_of(results.begin(), results.end(), [](Progress p) { return p == Progress::Complete; });
    auto mono = complete ? std::make_shared<const std::vector<float>>(std::move(analysis)) : nullptr;
    QMetaObject::invokeMethod(
        this, [this, load, complete, mono, r = rate / factor] { end(load, complete ? Progress::Complete : Progress::Stopped, mono, r); },
        Qt::QueuedConnection);
    return true;
}

WaveformLoader::Progress WaveformLoader::decodeStretch(const QString &path, quint64 load, const SongMap &map,
                                                      const Stretch &stretch, std::vector<float> &analysis)
{
    const qint64 frames = map.endSample() - map.firstSample();
    const int rate = map.sampleRate();
    const qint64 perFrame = map.samplesPerFrame;
    AnalysisDecimator decimator(rate, stretch.from / AnalysisDecimator::factorFor(rate));
    const qint64 outputEnd = (stretch.to + decimator.factor() - 1) / decimator.factor();
    const qint64 inputFrom = decimator.firstInput();
    const qint64 inputEnd = decimator.inputEndFor(outputEnd);

    // The frames that hold the stretch and the sound its analysis samples weigh, in the
    // decoder's count, with those that lead into them.
    const qint64 decodedFrom = map.firstSample() + std::max<qint64>(std::min(stretch.from, inputFrom), 0);
    const qint64 decodedTo = map.firstSample() + std::min(std::max(stretch.to, inputEnd), frames);
    const qint64 firstFrame = leadFrame(map, decodedFrom / perFrame);
    const qint64 endFrame = std::min<qint64>((decodedTo + perFrame - 1) / perFrame, map.framesRead());
    std::vector<AudioDecoder::FrameBytes> bytes;
    bytes.reserve(size_t(endFrame - firstFrame));
    for (qint64 i = firstFrame; i < endFrame; ++i)
        bytes.push_back({map.frame(i).offset, map.frame(i).length});

    const std::unique_ptr<AudioDecoder> decoder = m_decoders();
    const auto format = decoder ? decoder->openFrames(path, std::move(bytes), int(perFrame)) : std::nullopt;
    if (!format || format->sampleRate != rate)
        return Progress::Refused;
    const int channels = format->channels;

    PeakBuckets pending;
    pending.sampleRate = rate;
    const qint64 firstBucket = stretch.from / pending.bucketFrames;
    qint64 handedOver = 0;
    addSilence(decimator, -inputFrom, channels, analysis.data() + decimator.next());
    std::vector<float> samples(size_t(readFrames * channels));
    // The song's sample the next one read is.
    qint64 at = firstFrame * perFrame - map.firstSample();
    const qint64 wanted = std::min(std::max(stretch.to, inputEnd), frames);
    QElapsedTimer sinceHandOver;
    sinceHandOver.start();
    while (!m_cancelled && at < wanted) {
        const qsizetype n = decoder->read(samples);
        if (n <= 0)
            break;
        const qint64 read = n / channels;
        const auto part = [&](qint64 from, qint64 to) {
            from = std::clamp(from, at, at + read);
            to = std::clamp(to, from, at + read);
            return std::span<const float>(samples).subspan(size_t((from - at) * channels), size_t((to - from) * channels));
        };
        addSamples(pending, part(stretch.from, stretch.to), channels);
        decimator.add(part(std::max<qint64>(inputFrom, 0), std::min(inputEnd, frames)), channels,
                      analysis.data() + decimator.next());
        at += read;
        if (sinceHandOver.elapsed() >= handOverMs) {
            handOver(load, pending, firstBucket, handedOver, false);
            sinceHandOver.restart();
        }
    }
    if (m_cancelled)
        return Progress::Stopped;
    // The last stretch's last analysis samples weigh the silence after the song.
    addSilence(decimator, inputEnd - frames, channels, analysis.data() + decimator.next());
    handOver(load, pending, firstBucket, handedOver, true);
    const bool whole = pending.frames == stretch.to - stretch.from && decimator.next() == outputEnd;
    return whole && !decoder->failed() ? Progress::Complete : Progress::Stopped;
}

void WaveformLoader::decodeWhole(const QString &path, quint64 load)
{
    const std::unique_ptr<AudioDecoder> decoder = m_decoders();
    const std::optional<AudioDecoder::Format> format = decoder ? decoder->open(path) : std::nullopt;
    if (!format) {
        QMetaObject::invokeMethod(this, [this, load] { end(load, Progress::Refused, nullptr, 0); }, Qt::QueuedConnection);
        return;
    }
    PeakBuckets pending;
    pending.sampleRate = format->sampleRate;
    QMetaObject::invokeMethod(
        this, [this, load, start = pending, expected = format->frames] { begin(load, start, expected); },
        Qt::QueuedConnection);

    const int channels = format->channels;
    AnalysisDecimator decimator(format->sampleRate, 0);
    std::vector<float> analysis;
    const auto keep = [&](std::span<const float> samples) {
        analysis.resize(size_t(decimator.next() + qint64(samples.size()) / channels / decimator.factor() + 2));
        analysis.resize(size_t(decimator.next() + decimator.add(samples, channels, analysis.data() + decimator.next())));
    };
    keep(std::vector<float>(size_t((decimator.factor() - 1) * channels), 0.0f));
    qint64 handedOver = 0;
    std::vector<float> samples(size_t(readFrames * channels));
    QElapsedTimer sinceHandOver;
    sinceHandOver.start();
    while (!m_cancelled) {
        const qsizetype n = decoder->read(samples);
        if (n <= 0)
            break;
        addSamples(pending, std::span(samples.data(), size_t(n)), channels);
        keep(std::span(samples.data(), size_t(n)));
        if (sinceHandOver.elapsed() >= handOverMs) {
            handOver(load, pending, 0, handedOver, false);
            sinceHandOver.restart();
        }
    }
    if (m_cancelled)
        return;
    keep(std::vector<float>(size_t((decimator.factor() - 1) * channels), 0.0f));
    handOver(load, pending, 0, handedOver, true);
    const Progress ended = pending.frames == 0 ? Progress::Refused
                           : decoder->failed() ? Progress::Stopped
                                               : Progress::Complete;
    auto mono = ended == Progress::Complete ? std::make_shared<const std::vector<float>>(std::move(analysis)) : nullptr;
    QMetaObject::invokeMethod(
        this, [this, load, ended, mono, rate = decimator.rate()] { end(load, ended, mono, rate); }, Qt::QueuedConnection);
}

void WaveformLoader::handOver(quint64 load, PeakBuckets &pending, qint64 firstBucket, qint64 &handedOver, bool last)
{
    // The bucket still filling stays behind, so the blocks join without a seam.
    const qint64 whole = last ? handedOver + pending.buckets.size() : pending.frames / pending.bucketFrames;
    if (whole <= handedOver)
        return;
    const QList<PeakBucket> block = pending.buckets.first(whole - handedOver);
    pending.buckets.remove(0, block.size());
    const qint64 from = firstBucket + handedOver;
    const qint64 reach = last ? firstBucket * pending.bucketFrames + pending.frames : (firstBucket + whole) * pending.bucketFrames;
    handedOver = whole;
    QMetaObject::invokeMethod(
        this, [this, load, from, block, reach] { take(load, from, block, reach); }, Qt::QueuedConnection);
}

void WaveformLoader::begin(quint64 load, const PeakBuckets &peaks, std::optional<qint64> expectedFrames)
{
    if (load != m_loads)
        return;
    m_peaks = peaks;
    m_expectedFrames = expectedFrames;
    emit changed(0);
}

void WaveformLoader::take(quint64 load, qint64 firstBucket, const QList<PeakBucket> &block, qint64 frames)
{
    if (load != m_loads || block.isEmpty())
        return;
    const qsizetype end = qsizetype(firstBucket) + block.size();
    if (m_peaks.buckets.size() < end)
        m_peaks.buckets.resize(end);
    std::copy(block.begin(), block.end(), m_peaks.buckets.begin() + firstBucket);
    m_peaks.frames = std::max(m_peaks.frames, frames);
    emit changed(firstBucket * m_peaks.bucketFrames);
}

void WaveformLoader::end(quint64 load, Progress progress, std::shared_ptr<const std::vector<float>> analysis, int rate)
{
    if (load != m_loads)
        return;
    m_progress = progress;
    emit changed(m_peaks.frames);
    if (progress == Progress::Complete && analysis) {
        m_analysis = std::move(analysis);
        m_analysisRate = rate;
        emit analysisReady(m_analysis, rate);
    }
}
