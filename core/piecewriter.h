#pragma once

#include "engine/cutpipeline.h"
#include "engine/gain.h"
#include "engine/piecefile.h"
#include "engine/placement.h"
#include "platform/filesystem.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QThread;

/// Drives the engine's CutPipeline for the session, through the session's file system: the piece
/// is written to a temporary file beside the target a chunk at a time on the event loop, its gain
/// changed on another thread, since that may decode the whole piece, and it then takes the
/// target's name, replacing a file there only when the job says so. A failure never leaves a
/// half-written file under the target's name, and leaves no temporary file either.
///
/// Chunks on the event loop keep a window live while a long piece is written, without a nested
/// loop, and a piece longer than a chunk always reports progress. Destroying a writer that has
/// not finished abandons the cut the same way as a failure.
class PieceWriter : public QObject
{
    Q_OBJECT
public:
    /// Bytes of the song copied between two turns of the event loop: a megabyte takes well under
    /// a millisecond from a disk's cache, and a turn costs little beside it.
    static constexpr qint64 chunkSize = 1 << 20;

    struct Job
    {
        QString sourcePath;
        std::vector<ByteRange> ranges;
        QByteArray tag;
        /// Empty for a piece without a header frame of its own.
        std::vector<std::uint8_t> header;
        /// The first audio frames, made for the piece; empty for none.
        std::vector<std::uint8_t> lead;
        QString targetPath;
        /// Fades and loudness, for a layer 3 piece only.
        GainChange gain;
        /// Whether the piece may take the place of a file that has the target's name.
        FileSystem::Replace replace = FileSystem::Replace::No;

        /// Bytes of the whole piece.
        qint64 length() const;
    };

    PieceWriter(FileSystem &files, Job job, QObject *parent);
    ~PieceWriter() override;

    /// Starts at the next turn of the event loop; finished() follows, always later.
    void start();
    const Job &job() const { return m_job; }

signals:
    /// After each chunk of the copy but the last: bytes of the piece written so far, tag and
    /// header included.
    void progressed(qint64 written);
    /// Empty when the piece has its name, else why not.
    void finished(const std::optional<CutError> &error);

private:
    class Source;
    class Target;

    void copyChunk();
    void changeGain();
    void joinGainThread();
    void end();

    Job m_job;
    std::unique_ptr<Source> m_source;
    std::unique_ptr<Target> m_target;
    std::unique_ptr<CutPipeline> m_pipeline;
    QThread *m_gainThread = nullptr;
    /// Zero-interval, so the next chunk waits until the event loop has nothing else pending.
    QTimer m_nextChunk;
};
