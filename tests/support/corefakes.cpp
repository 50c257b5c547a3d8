#include "corefakes.h"

#include "platform/qtfilesystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

std::optional<QString> FakePrompts::askOpenFile(const QString &filter, const QString &lastChosen)
{
    opened.append(filter + u'|' + lastChosen);
    if (whileOpen)
        whileOpen();
    return openAnswers.isEmpty() ? std::nullopt : openAnswers.dequeue();
}

std::optional<QString> FakePrompts::askSaveFile(const QString &filter, const QString &title)
{
    saved.append(filter + u'|' + title);
    if (whileOpen)
        whileOpen();
    return saveAnswers.isEmpty() ? std::nullopt : saveAnswers.dequeue();
}

std::optional<QString> FakePrompts::askFolder(const QString &title, const QString &startIn)
{
    folders.append(title + u'|' + startIn);
    return folderAnswers.isEmpty() ? std::nullopt : folderAnswers.dequeue();
}

bool FakePrompts::askYesNo(const QString &text, const QString &caption)
{
    asked.append({text, Icon::None, caption});
    return yesNoAnswers.isEmpty() ? true : yesNoAnswers.dequeue();
}

namespace {

/// Passes reads and writes through to the real file, counting them, until a shared write budget
/// runs out, or while a budget of kept bytes lasts.
class CountingDevice : public FileDevice
{
public:
    CountingDevice(std::unique_ptr<FileDevice> inner, OpenMode mode, qint64 &budget, qint64 &kept, qint64 &counted)
        : m_inner(std::move(inner))
        , m_budget(budget)
        , m_kept(kept)
        , m_counted(counted)
    {
        open(mode | QIODevice::Unbuffered);
    }
    ~CountingDevice() override { m_inner->close(); }

    bool isSequential() const override { return false; }
    qint64 size() const override { return m_inner->size(); }
    bool seek(qint64 pos) override { return QIODevice::seek(pos) && m_inner->seek(pos); }
    void close() override
    {
        m_inner->close();
        setProblem(m_inner->problem());
        QIODevice::close();
    }

protected:
    qint64 readData(char *data, qint64 len) override
    {
        const qint64 n = m_inner->read(data, len);
        if (n > 0)
            m_counted += n;
        setProblem(m_inner->problem());
        return n;
    }
    qint64 writeData(const char *data, qint64 len) override
    {
        if (m_budget >= 0 && len > m_budget) {
            setProblem(FileProblem::NoSpace);
            return -1;
        }
        if (m_budget >= 0)
            m_budget -= len;
        const qint64 keep = m_kept < 0 ? len : std::min(len, m_kept);
        if (m_kept >= 0)
            m_kept -= keep;
        const qint64 n = m_inner->write(data, keep);
        setProblem(m_inner->problem());
        if (n != keep)
            return -1;
        m_counted += n;
        return len;
    }

private:
    std::unique_ptr<FileDevice> m_inner;
    qint64 &m_budget;
    qint64 &m_kept;
    qint64 &m_counted;
};

qint64 noBudget = -1;

} // namespace

FaultyFileSystem::FaultyFileSystem()
    : m_real(std::make_unique<QtFileSystem>())
{
}

std::optional<qint64> FaultyFileSystem::length(const QString &path)
{
    const auto bytes = m_real->length(path);
    m_problem = m_real->lastProblem();
    return bytes;
}

std::unique_ptr<FileDevice> FaultyFileSystem::openRead(const QString &path)
{
    auto device = m_real->openRead(path);
    m_problem = m_real->lastProblem();
    if (!device)
        return device;
    return std::make_unique<CountingDevice>(std::move(device), QIODevice::ReadOnly, noBudget, noBudget, bytesRead);
}

std::unique_ptr<FileDevice> FaultyFileSystem::createNew(const QString &path)
{
    log.append(QStringLiteral("write ") + path);
    if (refuseWrite && refuseWrite(path)) {
        m_problem = FileProblem::NoPermission;
        return nullptr;
    }
    auto device = m_real->createNew(path);
    m_problem = m_real->lastProblem();
    if (!device)
        return device;
    return std::make_unique<CountingDevice>(std::move(device), QIODevice::WriteOnly, writeBudget, keptBudget,
                                            bytesWritten);
}

FileSystem::MoveResult FaultyFileSystem::rename(const QString &from, const QString &to, Replace replace)
{
    log.append(QStringLiteral("rename %1 > %2").arg(from, to));
    if (renamesCrossDevice && QFileInfo(from).absolutePath() != QFileInfo(to).absolutePath())
        return MoveResult::CrossDevice;
    if (beforeRename)
        beforeRename(to);
    const MoveResult result = m_real->rename(from, to, replace);
    m_problem = m_real->lastProblem();
    return result;
}

bool FaultyFileSystem::remove(const QString &path)
{
    log.append(QStringLiteral("remove ") + path);
    if (refuseRemove && refuseRemove(path)) {
        m_problem = FileProblem::NoPermission;
        return false;
    }
    const bool removed = m_real->remove(path);
    m_problem = m_real->lastProblem();
    return removed;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

namespace {

/// Bit-rate indexes of MPEG-1 layer III.
int rateIndex(int kbps)
{
    constexpr int rates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    for (int i = 0; i < 14; ++i) {
        if (rates[i] == kbps)
            return i + 1;
    }
    return 9;
}

/// A byte for offset \a i: a few dozen of them in a row say where in the song they stand, and
/// none of them can start a frame header.
char fillByte(qint64 i)
{
    return char((quint32(i) * 2654435761u >> 25) & 0x7F);
}

/// Appends a frame at \a kbps whose bytes after the header tell their offsets apart.
void appendFrame(QByteArray &song, int kbps)
{
    const qint64 at = song.size();
    const int length = 144 * kbps * 1000 / 48000;
    // Sync, MPEG-1, layer III, no CRC; the bit rate; 48 kHz, no padding; joint stereo.
    song += char(0xFF);
    song += char(0xFB);
    song += char(rateIndex(kbps) << 4 | 1 << 2);
    song += char(0x44);
    for (qint64 i = at + 4; i < at + length; ++i)
        song += fillByte(i);
}

} // namespace

QByteArray writeCbrSong(const QString &path, qint64 size, int kbps)
{
    QByteArray song;
    song.reserve(size);
    const int length = 144 * kbps * 1000 / 48000;
    while (song.size() + length <= size)
        appendFrame(song, kbps);
    for (qint64 i = song.size(); i < size; ++i)
        song += fillByte(i);
    return writeFile(path, song) ? song : QByteArray();
}

QByteArray writeVbrSong(const QString &path, int busyFrames, int quietFrames)
{
    QByteArray song;
    for (int i = 0; i < busyFrames; ++i)
        appendFrame(song, 320);
    for (int i = 0; i < quietFrames; ++i)
        appendFrame(song, 32);
    return writeFile(path, song) ? song : QByteArray();
}
