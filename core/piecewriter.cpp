#include "core/piecewriter.h"

#include "core/pathrules.h"
#include "core/savetarget.h"
#include "platform/qtfilesystem.h"

#include <QThread>

#include <cerrno>

namespace {

/// The errno a file system's problem stands for, as the engine's errors carry it; 0 for none.
int errnoOf(FileProblem problem)
{
    switch (problem) {
    case FileProblem::None:
    case FileProblem::Changed:
        return 0;
    case FileProblem::Missing:
        return ENOENT;
    case FileProblem::NoPermission:
        return EACCES;
    case FileProblem::ReadOnly:
        return EROFS;
    case FileProblem::NoSpace:
        return ENOSPC;
    case FileProblem::TooLarge:
        return EFBIG;
    case FileProblem::NameTooLong:
        return ENAMETOOLONG;
    case FileProblem::NotAFile:
        return EISDIR;
    case FileProblem::Exists:
        return EEXIST;
    case FileProblem::Incomplete:
    case FileProblem::Other:
        break;
    }
    return EIO;
}

} // namespace

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
            m_error = errnoOf(m_files.lastProblem());
        return m_device != nullptr;
    }
    bool read(std::int64_t at, std::uint8_t *to, std::size_t n) override
    {
        if (m_device->seek(at) && m_device->read(reinterpret_cast<char *>(to), qint64(n)) == qint64(n))
            return true;
        // Without an error of its own, a short read means the song got shorter since it was
        // measured: no errno, which the pipeline takes for a changed song.
        m_error = errnoOf(m_device->problem());
        return false;
    }
    int error() const override { return m_error; }

private:
    FileSystem &m_files;
    QString m_path;
    std::unique_ptr<FileDevice> m_device;
    int m_error = 0;
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
        const FileProblem problem = m_files.lastProblem();
        failed(problem);
        return problem == FileProblem::Exists ? Naming::Taken : Naming::Failed;
    }
    void discard() override
    {
        m_device.reset();
        if (!m_temporary.isEmpty())
            m_files.remove(m_temporary);
        m_temporary.clear();
    }
    int error() const override { return m_error; }
    std::filesystem::path file() const override { return fileSystemPath(m_temporary); }

private:
    bool failed(FileProblem problem)
    {
        m_error = errnoOf(problem);
        return false;
    }

    FileSystem &m_files;
    QString m_path;
    FileSystem::Replace m_replace;
    QString m_temporary;
    std::unique_ptr<FileDevice> m_device;
    int m_error = 0;
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
    , m_pipeline(std::make_unique<CutPipeline>(PieceParts{bytesOf(m_job.tag), m_job.header, m_job.lead, m_job.ranges},
                                               m_job.gain, *m_source, *m_target, fileSystemPath(m_job.sourcePath),
                                               fileSystemPath(m_job.targetPath)))
{
    // Not a queued call: on the GLib event loop those run ahead of due timers, which then got a
    // turn only every other chunk.
    m_nextChunk.setSingleShot(true);
    connect(&m_nextChunk, &QTimer::timeout, this, &PieceWriter::copyChunk);
}

PieceWriter::~PieceWriter()
{
    // The gain's thread works on the piece's file: it must be done with it before the pipeline
    // goes, and with it what it wrote.
    joinGainThread();
}

void PieceWriter::start()
{
    m_nextChunk.start(0);
}

void PieceWriter::copyChunk()
{
    switch (m_pipeline->step(chunkSize)) {
    case CutPipeline::State::Copying:
        emit progressed(m_pipeline->written());
        m_nextChunk.start(0);
        return;
    case CutPipeline::State::Changing:
        changeGain();
        return;
    case CutPipeline::State::Written:
    case CutPipeline::State::Failed:
        end();
        return;
    }
}

void PieceWriter::changeGain()
{
    m_gainThread = QThread::create([pipeline = m_pipeline.get()] { pipeline->changeGain(); });
    m_gainThread->setParent(this);
    connect(m_gainThread, &QThread::finished, this, [this] {
        joinGainThread();
        end();
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

void PieceWriter::end()
{
    emit finished(m_pipeline->error());
}
