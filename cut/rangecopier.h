#pragma once

#include "platform/filesystem.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

/// Copies a source file, from its first byte, into consecutive piece files: piece i holds the
/// bytes that follow pieces 0 to i-1. The copy runs in short slices on the event loop, so the
/// window repaints and answers clicks while a long file is copied, without a nested loop.
///
/// Pieces are copied in whole blocks of blockSize bytes and one shorter final block each,
/// blocksPerCopy blocks to a read and a write.
/// A copy that cannot read or write every byte removes every piece it created: a failure
/// never leaves a piece behind that looks like a good one. Destroying a copier that has not
/// finished abandons the copy the same way.
class RangeCopier : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 blockSize = 1122;
    /// One block per read and write paid the calls' cost every 1122 bytes and made a cut four
    /// times as slow as a plain copy; about a megabyte per call brings it close to one.
    static constexpr qint64 blocksPerCopy = 934;
    /// How long one slice may copy before the event loop gets its turn.
    static constexpr qint64 sliceNanoseconds = 4'000'000;

    struct Piece
    {
        QString path;
        qint64 size = 0;
    };

    RangeCopier(FileSystem &files, QString sourcePath, QList<Piece> pieces, QObject *parent);
    ~RangeCopier() override;

    /// Starts copying at the next turn of the event loop; finished() follows, always later.
    void start();
    qsizetype pieceCount() const { return m_pieces.size(); }

signals:
    /// \a failedPath names the file that could not be read or written; empty on success.
    void finished(bool ok, const QString &failedPath, bool sourceFailed);

private:
    void copySlice();
    /// Copies the next blocks of the current piece, opening and closing piece files as it goes.
    /// False when the copy is over, for good or ill.
    bool copyNextBlock();
    void fail(const QString &path, bool sourceFailed);
    void removeCreatedPieces();

    FileSystem &m_files;
    QString m_sourcePath;
    QList<Piece> m_pieces;
    std::unique_ptr<QIODevice> m_source;
    std::unique_ptr<QIODevice> m_piece;
    qsizetype m_index = 0;       ///< piece being written
    qsizetype m_created = 0;     ///< pieces opened so far, each one to remove on failure
    qint64 m_left = 0;           ///< bytes still to copy into the current piece
    QByteArray m_buffer;
    bool m_done = false;
    /// Zero-interval, so the next slice waits until the event loop has nothing else pending.
    QTimer m_nextSlice;
};
