#include "core/piecewriter.h"

#include "core/pathrules.h"
#include "core/savetarget.h"
#include "platform/qtfilesystem.h"

#include <QThread>

/// The song, read through the session's file system.
class PieceWriter::Source : public PieceSource
{
public:
    Source(FileSystem &files, const QString &path)
        : m_files(files)
        , m_path(path)
    {
    }

    bool open() override
    {
        m_device = m_files.openRead(m_path);
        if (!m_device)
            m_problem = m_files.lastProblem();
        return m_device != nullptr;
    }
    bool read(std::int64_t at, std::uint8_t *to, std::size_t n) override
    {
        if (m_device->seek(at) && m_device->read(reinterpret_cast<char *>(to), qint64(n)) == qint64(n))
            return true;
        // Without an error of its own, a short read means the song got shorter since it was measured.
        m_problem = m_device->problem() == FileProblem::None ? FileProblem::Changed : m_device->problem();
        return false;
    }
    // The file system says why in its own words: problem().
    int error() const override { return 0; }
    FileProblem problem() const { return m_problem; }

private:
    FileSystem &m_files;
    QString m_path;
    std::unique_ptr<FileDevice> m_device;
    FileProblem m_problem = FileProblem::None;
};

/// The piece, written through the session's file system to a temporary file beside the target.
class PieceWriter::Target : public PieceTarget
{
public:
    Target(FileSystem &files, const QString &path, FileSystem::Replace replace)
        : m_files(files)
        , m_path(path)
        , m_replace(replace)
    {
    }

    bool create() override
    {
        Temporary temporary = createTemporaryBeside(m_files, m_path);
        m_device = std::move(temporary.device);
        if (!m_device)
            return failed(m_files.lastProblem());
        m_temporary = temporary.path;
        return true;
    }
    bool write(const std::uint8_t *bytes, std::size_t n) override
    {
        return m_device->write(reinterpret_cast<const char *>(bytes), qint64(n)) == qint64(n)
            || failed(m_device->problem());
    }
    bool canRewrite() const override { return true; }
    bool rewrite(std::int64_t at, const std::uint8_t *bytes, std::size_t n) override
    {
        return (m_device->seek(at) || failed(m_device->problem())) && write(bytes, n);
    }
    std::optional<std::int64_t> close() override
    {
        // Some file systems report a write they could not keep only when the file is closed.
        m_device->close();
        const FileProblem problem = m_device->problem();
        m_device.reset();
        if (problem != FileProblem::None) {
            failed(problem);
            return std::nullopt;
        }
        return m_files.length(m_temporary);
    }
    Naming name() override
    {
        if (m_files.rename(m_temporary, m_path, m_replace) == FileSystem::MoveResult::Moved) {
            m_temporary.clear();
            return Naming::Named;
        }
        failed(m_files.lastProblem());
        return m_problem == FileProblem::Exists ? Naming::Taken : Naming::Failed;
    }
    void discard() override
    {
        m_device.reset();
        if (!m_temporary.isEmpty())
            m_files.remove(m_temporary);
        m_temporary.clear();
    }
    // The file system says why in its own words: problem().
    int error() const override { return 0; }
    FileProblem problem() const { return m_problem; }
    /// The piece's file while it is written and whole, before it takes its name.
    const QString &temporary() const { return m_temporary; }

private:
    bool failed(FileProblem problem)
    {
        m_problem = problem;
        return false;
    }

    FileSystem &m_files;
    QString m_path;
    FileSystem::Replace m_replace;
    QString m_temporary;
    std::unique_ptr<FileDevice> m_device;
    FileProblem m_problem = FileProblem::None;
};

namespace {

std::vector<std::uint8_t> bytesOf(const QByteArray &bytes)
{
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

} // namespace

qint64 PieceWriter::Job::length() const
{
    qint64 bytes = tag.size() + qint64(header.size()) + qint64(lead.size());
    for (const ByteRange &range : ranges)
        bytes += range.length;
    return bytes;
}

PieceWriter::PieceWriter(FileSystem &files, Job job, QObject *parent)
    : QObject(parent)
    , m_job(std::move(job))
    , m_source(std::make_unique<Source>(files, m_job.sourcePath))
    , m_target(std::make_unique<Target>(files, m_job.targetPath, m_job.replace))
    , m_file(std::make_unique<PieceFile>(PieceParts{bytesOf(m_job.tag), m_job.header, m_job.lead, m_job.ranges},
                                         *m_source, *m_target))
{
    // Not a queued call: on the GLib event loop those run ahead of due timers, which then got a
    // turn only every other chunk.
    m_nextChunk.setSingleShot(true);
    connect(&m_nextChunk, &QTimer::timeout, this, &PieceWriter::copyChunk);
}

PieceWriter::~PieceWriter()
{
    // The gain's thread works on the piece's file: it must be done with it before the piece file
    // goes, and with it what it wrote.
    joinGainThread();
}

void PieceWriter::start()
{
    m_nextChunk.start(0);
}

void PieceWriter::copyChunk()
{
    const PieceFile::State state = m_file->step(chunkSize);
    if (state == PieceFile::State::Writing) {
        emit progressed(m_file->written());
        m_nextChunk.start(0);
    } else if (state == PieceFile::State::Failed) {
        fail();
    } else if (m_job.gain.any()) {
        changeGain();
    } else {
        name();
    }
}

void PieceWriter::changeGain()
{
    m_gainThread = QThread::create([this, piece = fileSystemPath(m_target->temporary()), gain = m_job.gain] {
        m_gainProblem = applyGain(piece, gain);
    });
    m_gainThread->setParent(this);
    connect(m_gainThread, &QThread::finished, this, [this] {
        joinGainThread();
        if (m_gainProblem) {
            const bool ofTheSystem = m_gainProblem->kind == CutError::Kind::Unwritable
                || m_gainProblem->kind == CutError::Kind::Unreadable;
            fail(m_job.targetPath, false, ofTheSystem ? QtFileSystem::problemOf(m_gainProblem->error) : FileProblem::Other);
        }
        else
            name();
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

void PieceWriter::name()
{
    if (m_file->name() == PieceFile::State::Written)
        emit finished(true, QString(), false, FileProblem::None);
    else
        fail();
}

void PieceWriter::fail()
{
    switch (m_file->error()->kind) {
    case CutError::Kind::Unreadable:
    case CutError::Kind::Changed:
        fail(m_job.sourcePath, true, m_source->problem());
        return;
    case CutError::Kind::Incomplete:
        fail(m_job.targetPath, false, FileProblem::Incomplete);
        return;
    case CutError::Kind::Taken:
        fail(m_job.targetPath, false, FileProblem::Exists);
        return;
    default:
        break;
    }
    fail(m_job.targetPath, false, m_target->problem());
}

void PieceWriter::fail(const QString &path, bool sourceFailed, FileProblem problem)
{
    // A piece that failed after it was whole (its gain) is removed with the piece file.
    m_file.reset();
    emit finished(false, path, sourceFailed, problem);
}
