#pragma once

#include "platform/filesystem.h"

/// The file system of this machine, through the POSIX calls, so that every failure keeps its cause.
class QtFileSystem : public FileSystem
{
public:
    std::optional<qint64> length(const QString &path) override;
    bool isFolder(const QString &path) override;
    bool isNormalFile(const QString &path) override;
    bool exists(const QString &path) override;
    bool sameFile(const QString &a, const QString &b) override;
    std::unique_ptr<FileDevice> openRead(const QString &path) override;
    std::unique_ptr<FileDevice> createNew(const QString &path) override;
    MoveResult rename(const QString &from, const QString &to, Replace replace) override;
    bool remove(const QString &path) override;
    FileProblem lastProblem() const override { return m_problem; }

    /// \a error, an errno value, as the kind of problem it is.
    static FileProblem problemOf(int error);

private:
    /// Keeps \a error's problem for lastProblem(); false, for the caller to return.
    bool fail(int error);
    /// A descriptor of \a path opened with \a flags; -1, with lastProblem() set, when it cannot be.
    int openFile(const QString &path, int flags);

    FileProblem m_problem = FileProblem::None;
};
