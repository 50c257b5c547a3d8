#include "savetarget.h"

#include "core/pathrules.h"

#include <QRandomGenerator>

namespace {

constexpr qint64 copyChunk = 1 << 20;

QString randomLetters(int count)
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString text;
    for (int i = 0; i < count; ++i)
        text += QLatin1Char(letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)]);
    return text;
}

/// Copies all of \a from into \a out and closes \a out; why not, when it cannot.
FileProblem copyWhole(FileSystem &files, const QString &from, FileDevice &out)
{
    const auto in = files.openRead(from);
    if (!in)
        return files.lastProblem();
    QByteArray chunk;
    do {
        chunk = in->read(copyChunk);
        if (in->problem() != FileProblem::None)
            return in->problem();
        if (out.write(chunk) != chunk.size())
            return out.problem();
    } while (chunk.size() == copyChunk);
    out.close();
    return out.problem();
}

} // namespace

Temporary createTemporaryBeside(FileSystem &files, const QString &path)
{
    const QString folder = folderPart(path);
    // Six letters and digits give two billion names: a clash is rare, a hundred in a row are not
    // a clash but a folder that answers every name with "exists".
    for (int attempt = 0; attempt < 100; ++attempt) {
        Temporary temporary{folder + QStringLiteral(".mp3cut-%1.part").arg(randomLetters(6)), nullptr};
        temporary.device = files.createNew(temporary.path);
        if (temporary.device || files.lastProblem() != FileProblem::Exists)
            return temporary;
    }
    return {};
}

QString withMp3Extension(const QString &chosen)
{
    if (chosen.endsWith(QStringLiteral(".mp3"), Qt::CaseInsensitive))
        return chosen;
    return chosen + QStringLiteral(".mp3");
}

FileProblem moveFile(FileSystem &files, const QString &from, const QString &to, FileSystem::Replace replace)
{
    switch (files.rename(from, to, replace)) {
    case FileSystem::MoveResult::Moved:
        return FileProblem::None;
    case FileSystem::MoveResult::Failed:
        return files.lastProblem();
    case FileSystem::MoveResult::CrossDevice:
        break;
    }
    Temporary part = createTemporaryBeside(files, to);
    if (!part.device)
        return files.lastProblem();
    const auto expected = files.length(from);
    FileProblem problem = expected ? copyWhole(files, from, *part.device) : files.lastProblem();
    part.device.reset();
    if (problem == FileProblem::None && files.length(part.path) != expected)
        problem = FileProblem::Incomplete;
    if (problem == FileProblem::None && files.rename(part.path, to, replace) != FileSystem::MoveResult::Moved)
        problem = files.lastProblem();
    if (problem != FileProblem::None) {
        files.remove(part.path);
        return problem;
    }
    files.remove(from);
    return FileProblem::None;
}
