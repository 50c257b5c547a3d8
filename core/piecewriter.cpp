#include "core/piecewriter.h"

#include "core/savetarget.h"

#include <QElapsedTimer>
#include <QFileDevice>

PieceWriter::PieceWriter(FileSystem &files, Job job, QObject *parent)
    : QObject(parent)
    , m_files(files)
    , m_job(std::move(job))
    , m_left(m_job.length)
{
    // Not a queued call: on the GLib event loop those run ahead of due timers, which then got a
    // turn only every other slice.
    m_nextSlice.setSingleShot(true);
    connect(&m_nextSlice, &QTimer::timeout, this, &PieceWriter::copySlice);
}

PieceWriter::~PieceWriter()
{
    if (!m_done)
        discard();
}

void PieceWriter::start()
{
    m_nextSlice.start(0);
}

void PieceWriter::copySlice()
{
    if (!m_source && !open())
        return;
    QElapsedTimer clock;
    clock.start();
    while (copyNextChunk()) {
        if (clock.nsecsElapsed() >= sliceNanoseconds) {
            emit progressed(m_written);
            m_nextSlice.start(0);
            return;
        }
    }
}

bool PieceWriter::open()
{
    m_source = m_files.openRead(m_job.sourcePath);
    if (!m_source || !m_source->seek(m_job.offset)) {
        fail(m_job.sourcePath, true);
        return false;
    }
    m_temporary = temporaryNameBeside(m_files, m_job.targetPath);
    m_piece = m_files.openWrite(m_temporary);
    if (!m_piece) {
        m_temporary.clear();
        fail(m_job.targetPath, false);
        return false;
    }
    if (m_piece->write(m_job.prefix) != m_job.prefix.size()) {
        fail(m_job.targetPath, false);
        return false;
    }
    m_written = m_job.prefix.size();
    m_buffer.resize(qMin(chunkSize, qMax<qint64>(m_left, 1)));
    return true;
}

bool PieceWriter::copyNextChunk()
{
    if (m_done)
        return false;
    if (m_left == 0)
        return finishPiece();
    const qint64 n = qMin<qint64>(m_left, m_buffer.size());
    if (m_source->read(m_buffer.data(), n) != n) {
        fail(m_job.sourcePath, true);
        return false;
    }
    if (m_piece->write(m_buffer.constData(), n) != n) {
        fail(m_job.targetPath, false);
        return false;
    }
    m_left -= n;
    m_written += n;
    return true;
}

bool PieceWriter::finishPiece()
{
    // Written bytes may still sit in the file's buffer: a full disk shows only here.
    auto *file = qobject_cast<QFileDevice *>(m_piece.get());
    if (file && !file->flush()) {
        fail(m_job.targetPath, false);
        return false;
    }
    m_piece.reset();
    m_source.reset();
    const qint64 expected = m_job.prefix.size() + m_job.length;
    if (m_files.length(m_temporary) != expected
        || m_files.rename(m_temporary, m_job.targetPath) != FileSystem::MoveResult::Moved) {
        fail(m_job.targetPath, false);
        return false;
    }
    m_done = true;
    emit finished(true, QString(), false);
    return false;
}

void PieceWriter::fail(const QString &path, bool sourceFailed)
{
    discard();
    m_done = true;
    emit finished(false, path, sourceFailed);
}

void PieceWriter::discard()
{
    m_piece.reset();
    m_source.reset();
    if (!m_temporary.isEmpty())
        m_files.remove(m_temporary);
    m_temporary.clear();
}
