#pragma once

#include "core/waveform.h"
#include "platform/audiodecoder.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <optional>

class QThread;

/// The peaks of one song at a time, decoded on a thread of their own and handed back a block at
/// a time, so that a picture of the song grows while the window goes on. What decoded before a
/// damage the decoder cannot pass stays; a song the decoder refuses has no peaks.
class WaveformLoader : public QObject
{
    Q_OBJECT
public:
    enum class Progress { Idle, Decoding, Complete, Stopped, Refused };
    Q_ENUM(Progress)

    /// Decodes with decoders made by \a decoders; without any it holds no peaks, ever.
    WaveformLoader(AudioDecoderFactory decoders, QObject *parent);
    ~WaveformLoader() override;

    /// Drops the peaks it holds and decodes the song at \a path, from its start; the empty path
    /// only drops them.
    void load(const QString &path);

    const PeakBuckets &peaks() const { return m_peaks; }
    Progress progress() const { return m_progress; }
    /// Seconds of the song: as decoded once the decode has ended, as the decoder expects them
    /// until then; empty when neither can tell.
    std::optional<double> length() const;

signals:
    /// peaks(), length() or progress() changed; peaks() of frames before \a fromFrame did not.
    void changed(qint64 fromFrame);

private:
    void stop();
    void decode(const QString &path, quint64 load);
    void begin(quint64 load, AudioDecoder::Format format);
    void take(quint64 load, const QList<PeakBucket> &block, qint64 frames);
    void end(quint64 load, Progress progress);

    AudioDecoderFactory m_decoders;
    QThread *m_thread = nullptr;
    std::atomic<bool> m_cancelled = false;
    /// Counts the loads, so that a block from a song loaded before is dropped.
    quint64 m_loads = 0;
    PeakBuckets m_peaks;
    std::optional<qint64> m_expectedFrames;
    Progress m_progress = Progress::Idle;
};
