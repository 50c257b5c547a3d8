#include "rangecopier.h"

#include <QElapsedTimer>
#include <QFileDevice>
#include <QTimer>

RangeCopier::RangeCopier(FileSystem &files, QString sourcePath, QList<Piece> pieces, QObject *parent)
    : QObject(parent)
    , m_files(files)
    , m_sourcePath(std::move(sourcePath))
    , m_pieces(std::move(pieces))
    , m_buffer(blocksPerCopy * blockSize, Qt::Uninitialized)
{
    // Not a queued call: on the GLib event loop those run ahead of due timers, which then got a
    // turn only every other slice.
    m_nextSlice.setSingleShot(true);
    connect(&m_nextSlice, &QTimer::timeout, this, &RangeCopier::copySlice);
}

RangeCopier::~RangeCopier()
{
    if (!m_done) {
        m_piece.reset();
        m_source.reset();
        removeCreatedPieces();
    }
}

void RangeCopier::start()
{
    m_nextSlice.start(0);
}

void RangeCopier::copySlice()
{
    if (!m_source) {
        m_source = m_files.openRead(m_sourcePath);
        if (!m_source)
            return fail(m_sourcePath, true);
    }
    QElapsedTimer clock;
    clock.start();
    while (copyNextBlock()) {
        if (clock.nsecsElapsed() >= sliceNanoseconds) {
            m_nextSlice.start(0);
            return;
        }
    }
}

bool RangeCopier::copyNextBlock()
{
    if (m_done)
        return false;
    if (!m_piece) {
        if (m_index == m_pieces.size()) {
            m_source.reset();
            m_done = true;
            emit finished(true, QString(), false);
            return false;
        }
        const Piece &piece = m_pieces[m_index];
        m_piece = m_files.openWrite(piece.path);
        if (!m_piece) {
            fail(piece.path, false);
            return false;
        }
        ++m_created;
        m_left = piece.size;
    }

    const QString &piecePath = m_pieces[m_index].path;
    if (m_left > 0) {
        // Whole blocks while there are any, then the piece's short final block.
        const qint64 n = m_left >= blockSize ? std::min(m_left / blockSize * blockSize, qint64(m_buffer.size())) : m_left;
        if (m_source->read(m_buffer.data(), n) != n) {
            fail(m_sourcePath, true);
            return false;
        }
        if (m_piece->write(m_buffer.constData(), n) != n) {
            fail(piecePath, false);
            return false;
        }
        m_left -= n;
        return true;
    }

    // Written bytes may still sit in the file's buffer: a full disk shows only here.
    auto *file = qobject_cast<QFileDevice *>(m_piece.get());
    if (file && !file->flush()) {
        fail(piecePath, false);
        return false;
    }
    m_piece.reset();
    ++m_index;
    return true;
}

void RangeCopier::fail(const QString &path, bool sourceFailed)
{
    m_piece.reset();
    m_source.reset();
    removeCreatedPieces();
    m_done = true;
    emit finished(false, path, sourceFailed);
}

void RangeCopier::removeCreatedPieces()
{
    for (qsizetype i = 0; i < m_created; ++i)
        m_files.remove(m_pieces[i].path);
    m_created = 0;
}
