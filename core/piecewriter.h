#pragma once

#include "platform/filesystem.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

/// Writes one piece of a source file: \a prefix, then the source's bytes from \a offset on, \a
/// length of them. Only those bytes are read and written. They go to a temporary file beside the
/// target, which takes the target's name, replacing what was there, only once it is whole and
/// its length checked: a failure never leaves a half-written file under the target's name, and
/// leaves no temporary file either.
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

    struct Job
    {
        QString sourcePath;
        qint64 offset = 0;
        qint64 length = 0;
        QByteArray prefix;
        QString targetPath;
    };

    PieceWriter(FileSystem &files, Job job, QObject *parent);
    ~PieceWriter() override;

    /// Starts at the next turn of the event loop; finished() follows, always later.
    void start();
    const Job &job() const { return m_job; }
    /// Bytes of the piece written so far, prefix included.
    qint64 written() const { return m_written; }

signals:
    /// After each slice of the copy: bytes of the piece written so far, prefix included.
    void progressed(qint64 written);
    /// \a failedPath names the file that could not be read or written; empty on success.
    void finished(bool ok, const QString &failedPath, bool sourceFailed);

private:
    void copySlice();
    bool open();
    /// Copies the next chunk; false when the copy is over, for good or ill.
    bool copyNextChunk();
    bool finishPiece();
    void fail(const QString &path, bool sourceFailed);
    void discard();

    FileSystem &m_files;
    Job m_job;
    QString m_temporary;
    std::unique_ptr<QIODevice> m_source;
    std::unique_ptr<QIODevice> m_piece;
    qint64 m_left = 0;
    qint64 m_written = 0;
    QByteArray m_buffer;
    bool m_done = false;
    /// Zero-interval, so the next slice waits until the event loop has nothing else pending.
    QTimer m_nextSlice;
};
