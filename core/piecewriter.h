#pragma once

#include "engine/gain.h"
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

/// Writes one piece of a source file: its tag, its header frame, its lead frames, then the source's
/// bytes of each of its ranges. Only those bytes are read and written; the header frame is sealed with the CRC
/// of the copied bytes once they are all written, and then the piece's gain changes as the job
/// asks, on another thread, since that may decode the whole piece. They go to a temporary file
/// beside the target, which takes the target's name only once it is whole and its length checked,
/// and replaces a file there only when the job says so: a failure never leaves a half-written file
/// under the target's name, and leaves no temporary file either.
///
/// The copy runs in short slices on the event loop, so a window stays live while a long piece
/// is written, without a nested loop. Destroying a writer that has not finished abandons the
/// copy the same way as a failure.
class PieceWriter : public QObject
{
    Q_OBJECT
public:
    /// Bytes per read and write: calls of a megabyte cost little more than a plain copy.
    static constexpr qint64 chunkSize = 1 << 20;
    /// How long one slice may copy before the event loop gets its turn.
    static constexpr qint64 sliceNanoseconds = 4'000'000;
    /// The most chunks one slice copies, however fast the disk.
    static constexpr int sliceChunks = 4;

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
    /// After each slice of the copy: bytes of the piece written so far, tag and header included.
    void progressed(qint64 written);
    /// \a failedPath names the file that could not be read or written, and \a problem says why;
    /// empty and None on success.
    void finished(bool ok, const QString &failedPath, bool sourceFailed, FileProblem problem);

private:
    void copySlice();
    bool open();
    /// Copies the next chunk; false when the copy is over, for good or ill.
    bool copyNextChunk();
    bool finishPiece();
    void changeGain();
    void joinGainThread();
    void namePiece();
    void fail(const QString &path, bool sourceFailed, FileProblem problem);
    void failSource(FileProblem problem) { fail(m_job.sourcePath, true, problem); }
    void failPiece(FileProblem problem) { fail(m_job.targetPath, false, problem); }
    void discard();

    FileSystem &m_files;
    Job m_job;
    QString m_temporary;
    std::unique_ptr<FileDevice> m_source;
    std::unique_ptr<FileDevice> m_piece;
    std::size_t m_range = 0;
    qint64 m_leftInRange = 0;
    qint64 m_written = 0;
    std::uint16_t m_crc = 0;
    QByteArray m_buffer;
    bool m_done = false;
    QThread *m_gainThread = nullptr;
    /// Why the gain could not be changed; written by m_gainThread, read once it has finished.
    std::optional<std::string> m_gainProblem;
    /// Zero-interval, so the next slice waits until the event loop has nothing else pending.
    QTimer m_nextSlice;
};
