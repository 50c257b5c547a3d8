#include "core/piecewriter.h"

#include "core/pathrules.h"
#include "core/savetarget.h"
#include "engine/pieceheader.h"

#include <QElapsedTimer>
#include <QThread>

PieceWriter::PieceWriter(FileSystem &files, Job job, QObject *parent)
    : QObject(parent)
    , m_files(files)
    , m_job(std::move(job))
{
    // Not a queued call: on the GLib event loop those run ahead of due timers, which then got a
    // turn only every other slice.
    m_nextSlice.setSingleShot(true);
    connect(&m_nextSlice, &QTimer::timeout, this, &PieceWriter::copySlice);
}

namespace {

QByteArray bytesOf(const std::vector<std::uint8_t> &bytes)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

} // namespace

qint64 PieceWriter::Job::length() const
{
    qint64 bytes = tag.size() + qint64(header.size()) + qint64(lead.size());
    for (const ByteRange &range : ranges)
        bytes += range.length;
    return bytes;
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
    int chunks = 0;
    while (copyNextChunk()) {
        if (++chunks == sliceChunks || clock.nsecsElapsed() >= sliceNanoseconds) {
            emit progressed(m_written);
            m_nextSlice.start(0);
            return;
        }
    }
}

bool PieceWriter::open()
{
    m_source = m_files.openRead(m_job.sourcePath);
    if (!m_source) {
        failSource(m_files.lastProblem());
        return false;
    }
    Temporary temporary = createTemporaryBeside(m_files, m_job.targetPath);
    if (!temporary.device) {
        failPiece(m_files.lastProblem());
        return false;
    }
    m_temporary = temporary.path;
    m_piece = std::move(temporary.device);
    const QByteArray header = bytesOf(m_job.header);
    const QByteArray lead = bytesOf(m_job.lead);
    if (m_piece->write(m_job.tag) != m_job.tag.size() || m_piece->write(header) != header.size()
        || m_piece->write(lead) != lead.size()) {
        failPiece(m_piece->problem());
        return false;
    }
    m_crc = lameCrc(0, m_job.lead.data(), m_job.lead.size());
    m_written = m_job.tag.size() + header.size() + lead.size();
    m_buffer.resize(chunkSize);
    return true;
}

bool PieceWriter::copyNextChunk()
{
    if (m_done)
        return false;
    if (m_leftInRange == 0) {
        if (m_range == m_job.ranges.size())
            return finishPiece();
        const ByteRange &range = m_job.ranges[m_range++];
        if (!m_source->seek(range.offset)) {
            failSource(m_source->problem());
            return false;
        }
        m_leftInRange = range.length;
    }
    const qint64 n = qMin<qint64>(m_leftInRange, m_buffer.size());
    if (m_source->read(m_buffer.data(), n) != n) {
        // Without an error of its own, a short read means the song got shorter since it was measured.
        failSource(m_source->problem() == FileProblem::None ? FileProblem::Changed : m_source->problem());
        return false;
    }
    if (m_piece->write(m_buffer.constData(), n) != n) {
        failPiece(m_piece->problem());
        return false;
    }
    if (!m_job.header.empty())
        m_crc = lameCrc(m_crc, reinterpret_cast<const std::uint8_t *>(m_buffer.constData()), std::size_t(n));
    m_leftInRange -= n;
    m_written += n;
    return true;
}

bool PieceWriter::finishPiece()
{
    if (!m_job.header.empty()) {
        sealPieceHeader(m_job.header, m_crc);
        const QByteArray header = bytesOf(m_job.header);
        if (!m_piece->seek(m_job.tag.size()) || m_piece->write(header) != header.size()) {
            failPiece(m_piece->problem());
            return false;
        }
    }
    // Some file systems report a write they could not keep only when the file is closed.
    m_piece->close();
    if (m_piece->problem() != FileProblem::None) {
        failPiece(m_piece->problem());
        return false;
    }
    m_piece.reset();
    m_source.reset();
    if (m_job.gain.any())
        changeGain();
    else
        namePiece();
    return false;
}

void PieceWriter::changeGain()
{
    m_gainThread = QThread::create([this, piece = fileSystemPath(m_temporary), gain = m_job.gain] {
        m_gainProblem = applyGain(piece, gain);
    });
    m_gainThread->setParent(this);
    connect(m_gainThread, &QThread::finished, this, [this] {
        joinGainThread();
        if (m_gainProblem)
            failPiece(FileProblem::Other);
        else
            namePiece();
    });
    m_gainThread->start();
}

void PieceWriter::joinGainThread()
{
    // Its finished() comes a moment before it has quite ended.
    if (m_gainThread) {
        m_gainThread->wait();
        delete m_gainThread;
        m_gainThread = nullptr;
    }
}

void PieceWriter::namePiece()
{
    // A disk that takes bytes it does not keep is caught by the length.
    if (m_files.length(m_temporary) != m_job.length()) {
        failPiece(FileProblem::Incomplete);
        return;
    }
    if (m_files.rename(m_temporary, m_job.targetPath, m_job.replace) != FileSystem::MoveResult::Moved) {
        failPiece(m_files.lastProblem());
        return;
    }
    m_done = true;
    emit finished(true, QString(), false, FileProblem::None);
}

void PieceWriter::fail(const QString &path, bool sourceFailed, FileProblem problem)
{
    discard();
    m_done = true;
    emit finished(false, path, sourceFailed, problem);
}

void PieceWriter::discard()
{
    // The gain's thread works on the temporary file: it must be done with it first.
    joinGainThread();
    m_piece.reset();
    m_source.reset();
    if (!m_temporary.isEmpty())
        m_files.remove(m_temporary);
    m_temporary.clear();
}
