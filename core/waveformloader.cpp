#include "core/waveformloader.h"

#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <vector>

namespace {

/// How long the decoding thread works between two blocks it hands over: often enough that the
/// picture grows smoothly, seldom enough that taking the blocks costs the window nothing.
constexpr qint64 handOverMs = 25;
/// Frames decoded at a time: the thread notices it is no longer wanted within one such read,
/// well under a millisecond.
constexpr qsizetype readFrames = 8192;

} // namespace

WaveformLoader::WaveformLoader(AudioDecoderFactory decoders, QObject *parent)
    : QObject(parent)
    , m_decoders(std::move(decoders))
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

// On the decoding thread: it reads m_decoders and m_cancelled, and hands everything else over
// to the loader's own thread.
void WaveformLoader::decode(const QString &path, quint64 load)
{
    const std::unique_ptr<AudioDecoder> decoder = m_decoders();
    const std::optional<AudioDecoder::Format> format = decoder ? decoder->open(path) : std::nullopt;
    if (!format) {
        QMetaObject::invokeMethod(this, [this, load] { end(load, Progress::Refused); }, Qt::QueuedConnection);
        return;
    }
    QMetaObject::invokeMethod(this, [this, load, f = *format] { begin(load, f); }, Qt::QueuedConnection);

    // Frames count from the song's start; the buckets are those not yet handed over.
    PeakBuckets pending;
    pending.sampleRate = format->sampleRate;
    qint64 handedOver = 0;
    std::vector<float> samples(size_t(readFrames * format->channels));
    QElapsedTimer sinceHandOver;
    sinceHandOver.start();
    while (!m_cancelled) {
        const qsizetype n = decoder->read(samples);
        if (n <= 0)
            break;
        addSamples(pending, std::span(samples.data(), size_t(n)), format->channels);
        if (sinceHandOver.elapsed() < handOverMs)
            continue;
        // The bucket still filling stays behind, so the blocks join without a seam.
        const qint64 whole = pending.frames / pending.bucketFrames;
        const QList<PeakBucket> block = pending.buckets.first(whole - handedOver);
        pending.buckets.remove(0, block.size());
        handedOver = whole;
        QMetaObject::invokeMethod(
            this, [this, load, block, frames = whole * pending.bucketFrames] { take(load, block, frames); },
            Qt::QueuedConnection);
        sinceHandOver.restart();
    }
    if (m_cancelled)
        return;
    const Progress ended = pending.frames == 0 ? Progress::Refused
                           : decoder->failed() ? Progress::Stopped
                                               : Progress::Complete;
    QMetaObject::invokeMethod(
        this,
        [this, load, ended, block = pending.buckets, frames = pending.frames] {
            take(load, block, frames);
            end(load, ended);
        },
        Qt::QueuedConnection);
}

void WaveformLoader::begin(quint64 load, AudioDecoder::Format format)
{
    if (load != m_loads)
        return;
    m_peaks.sampleRate = format.sampleRate;
    m_expectedFrames = format.frames;
    emit changed(0);
}

void WaveformLoader::take(quint64 load, const QList<PeakBucket> &block, qint64 frames)
{
    if (load != m_loads || block.isEmpty())
        return;
    const qint64 from = qint64(m_peaks.buckets.size()) * m_peaks.bucketFrames;
    m_peaks.buckets.append(block);
    m_peaks.frames = frames;
    emit changed(from);
}

void WaveformLoader::end(quint64 load, Progress progress)
{
    if (load != m_loads)
        return;
    m_progress = progress;
    emit changed(m_peaks.frames);
}
