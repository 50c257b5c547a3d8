#include "savetarget.h"

namespace {

constexpr qint64 copyChunk = 1 << 20;

bool copyWhole(FileSystem &files, const QString &from, const QString &to)
{
    const auto in = files.openRead(from);
    const auto out = files.openWrite(to);
    if (!in || !out)
        return false;
    QByteArray chunk;
    do {
        chunk = in->read(copyChunk);
        if (out->write(chunk) != chunk.size())
            return false;
    } while (chunk.size() == copyChunk);
    out->close();
    return true;
}

} // namespace

QString temporaryNameBeside(FileSystem &files, const QString &path)
{
    QString candidate = path + QStringLiteral(".part");
    for (int n = 1; files.exists(candidate); ++n)
        candidate = path + QStringLiteral(".%1.part").arg(n);
    return candidate;
}

QString withMp3Extension(const QString &chosen)
{
    if (chosen.endsWith(QStringLiteral(".mp3"), Qt::CaseInsensitive))
        return chosen;
    return chosen + QStringLiteral(".mp3");
}

bool moveFile(FileSystem &files, const QString &from, const QString &to)
{
    switch (files.rename(from, to)) {
    case FileSystem::MoveResult::Moved:
        return true;
    case FileSystem::MoveResult::Failed:
        return false;
    case FileSystem::MoveResult::CrossDevice:
        break;
    }
    const QString part = temporaryNameBeside(files, to);
    const auto expected = files.length(from);
    const bool whole = expected && copyWhole(files, from, part) && files.length(part) == expected;
    if (!whole || files.rename(part, to) != FileSystem::MoveResult::Moved) {
        files.remove(part);
        return false;
    }
    files.remove(from);
    return true;
}
