#pragma once

#include "core/waveform.h"
#include "platform/audiodecoder.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

class QThread;
class SongMap;

/// The peaks of one song at a time, decoded on threads of their own and handed back a block at
/// a time, so that a picture of the song grows while the window goes on. An MPEG song is first
/// drawn whole from what its frames say of their loudness, then decoded in stretches, one a core,
/// each stretch's exact peaks replacing the rough ones as they come. What decoded before a damage
/// the decoder cannot pass stays; a song the decoder refuses has no peaks.
///
/// The same decode gives the song's sound to its analysis, once it is whole: one channel at about
/// 11 kHz (AnalysisDecimator), time 0 first.
class WaveformLoader : public QObject
{
    Q_OBJECT
public:
    enum class Progress { Idle, Decoding, Complete, Stopped, Refused };
    Q_ENUM(Progress)

    /// Decodes with decoders made by \a decoders, in \a stretches stretches at once (0: one for
    /// each core); without any decoders it holds no peaks, ever.
    WaveformLoader(AudioDecoderFactory decoders, QObject *parent, int stretches = 0);
    ~WaveformLoader() override;

    /// Drops the peaks it holds and decodes the song at \a path, from its start; the empty path
    /// only drops them.
    void load(const QString &path);

    const PeakBuckets &peaks() const { return m_peaks; }
    Progress progress() const { return m_progress; }
    /// Seconds of the song: as decoded once the decode has ended, as the song's frames or the
    /// decoder expect them until then; empty when neither can tell.
    std::optional<double> length() const;
    /// The sound of the song for its analysis, once its decode is complete; else nullptr.
    std::shared_ptr<const std::vector<float>> analysisSignal() const { return m_analysis; }
    /// Samples a second of analysisSignal().
    int analysisRate() const { return m_analysisRate; }

signals:
    /// peaks(), length() or progress() changed; peaks() of frames before \a fromFrame did not.
    void changed(qint64 fromFrame);
    /// The song decoded to its end, and \a mono is its sound at \a sampleRate, as
    /// analysisSignal() holds it from now on. Not sent for a song refused or stopped.
    void analysisReady(std::shared_ptr<const std::vector<float>> mono, int sampleRate);

private:
    struct Stretch;

    void stop();
    void decode(const QString &path, quint64 load);
    bool decodeStretches(const QString &path, quint64 load, const SongMap &map);
    Progress decodeStretch(const QString &path, quint64 load, const SongMap &map, const Stretch &stretch,
                           std::vector<float> &analysis);
    void decodeWhole(const QString &path, quint64 load);
    /// Hands the buckets \a pending holds past those \a handedOver, whole ones only unless
    /// \a last, to the loader's thread as those from bucket \a firstBucket on.
    void handOver(quint64 load, PeakBuckets &pending, qint64 firstBucket, qint64 &handedOver, bool last);
    void begin(quint64 load, const PeakBuckets &peaks, std::optional<qint64> expectedFrames);
    void take(quint64 load, qint64 firstBucket, const QList<PeakBucket> &block, qint64 frames);
    void end(quint64 load, Progress progress, std::shared_ptr<const std::vector<float>> analysis, int rate);

    AudioDecoderFactory m_decoders;
    int m_stretches = 0;
    QThread *m_thread = nullptr;
    std::atomic<bool> m_cancelled = false;
    /// Counts the loads, so that a block from a song loaded before is dropped.
    quint64 m_loads = 0;
    PeakBuckets m_peaks;
    std::optional<qint64> m_expectedFrames;
    Progress m_progress = Progress::Idle;
    std::shared_ptr<const std::vector<float>> m_analysis;
    int m_analysisRate = 0;
};
