#pragma once

#include "core/prompts.h"
#include "platform/filesystem.h"
#include "platform/processstarter.h"

#include <QByteArray>
#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

/// Answers from queues: a path confirms it, nullopt cancels; yes/no answers default to yes.
/// Records everything it was asked and told.
class FakePrompts : public Prompts
{
public:
    struct Told
    {
        QString text;
        Icon icon = Icon::None;
        QString caption;
    };

    std::optional<QString> askOpenFile(const QString &filter, const QString &lastChosen) override;
    std::optional<QString> askSaveFile(const QString &filter, const QString &title) override;
    std::optional<QString> askFolder(const QString &title, const QString &startIn) override;
    bool askYesNo(const QString &text, const QString &caption) override;
    void tell(const QString &text, Icon icon, const QString &caption) override { told.append({text, icon, caption}); }

    QQueue<std::optional<QString>> openAnswers;
    QQueue<std::optional<QString>> saveAnswers;
    QQueue<std::optional<QString>> folderAnswers;
    QQueue<bool> yesNoAnswers;
    /// Runs while a file dialog is "open", e.g. to change files behind the program's back.
    std::function<void()> whileOpen;

    QList<Told> told;
    QList<Told> asked;
    /// Filter and starting point of every open dialog, as "filter|lastChosen".
    QStringList opened;
    /// Filter and title of every save dialog, as "filter|title".
    QStringList saved;
    /// Title and starting folder of every folder dialog, as "title|startIn".
    QStringList folders;
};

class FakeProcesses : public ProcessStarter
{
public:
    void startMinimized(const QString &commandLine) override { started.append(commandLine); }
    QStringList started;
};

/// The real file system, with faults to order: refused opens, a write budget after which
/// writes fail as on a full disk, writes that are lost, renames that cross file systems. It
/// logs what it did.
class FaultyFileSystem : public FileSystem
{
public:
    FaultyFileSystem();

    std::optional<qint64> length(const QString &path) override;
    bool isFolder(const QString &path) override { return m_real->isFolder(path); }
    bool isNormalFile(const QString &path) override { return m_real->isNormalFile(path); }
    bool exists(const QString &path) override { return m_real->exists(path); }
    bool sameFile(const QString &a, const QString &b) override { return m_real->sameFile(a, b); }
    std::unique_ptr<FileDevice> openRead(const QString &path) override;
    std::unique_ptr<FileDevice> createNew(const QString &path) override;
    MoveResult rename(const QString &from, const QString &to, Replace replace) override;
    bool remove(const QString &path) override;
    FileProblem lastProblem() const override { return m_problem; }

    /// Paths for which createNew fails with NoPermission, as in a folder the user may not write to.
    std::function<bool(const QString &)> refuseWrite;
    /// Paths for which remove fails with NoPermission, as in a folder made read-only.
    std::function<bool(const QString &)> refuseRemove;
    /// Bytes all writes together may still take before they fail with NoSpace; negative for no limit.
    qint64 writeBudget = -1;
    /// Bytes all writes together may still keep; those past it report success and are lost, as on
    /// a disk that fails without a word. Negative for no limit.
    qint64 keptBudget = -1;
    /// Renames between two folders answer CrossDevice without touching anything.
    bool renamesCrossDevice = false;
    /// Runs before each rename with its target, e.g. to create a file there as another program would.
    std::function<void(const QString &)> beforeRename;
    /// Every createNew, rename and remove, as "write PATH", "rename FROM > TO", "remove PATH".
    QStringList log;
    /// Bytes read through openRead's devices, all together.
    qint64 bytesRead = 0;
    /// Bytes written through createNew's devices, all together.
    qint64 bytesWritten = 0;

private:
    std::unique_ptr<FileSystem> m_real;
    FileProblem m_problem = FileProblem::None;
};

/// The whole content of a file; empty when it cannot be read.
QByteArray readAll(const QString &path);
/// The names of the files in \a folder, hidden ones too, in order of name.
QStringList filesIn(const QString &folder);
/// Writes \a bytes to \a path; false when it cannot.
bool writeFile(const QString &path, const QByteArray &bytes);

/// A song of \a size bytes made of MPEG-1 layer III frames at 48 kHz, all at \a kbps (384 bytes a
/// frame at 128 kbit/s, so 1152 samples take 24 ms), with a few bytes behind the last whole frame.
/// The bytes inside the frames tell their offsets apart. Returns the bytes written.
QByteArray writeCbrSong(const QString &path, qint64 size, int kbps = 128);
/// A song whose first \a busyFrames frames are at 320 kbit/s (960 bytes) and whose next
/// \a quietFrames are at 32 kbit/s (96 bytes): its bytes are far from spread evenly over its time.
QByteArray writeVbrSong(const QString &path, int busyFrames, int quietFrames);
/// Seconds of sound in one frame of those songs.
constexpr double songFrameSeconds = 1152.0 / 48000.0;
