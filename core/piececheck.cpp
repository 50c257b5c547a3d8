#include "core/piececheck.h"

#include "core/pathrules.h"

namespace {

/// One thread for every checker: checks run one after the other, each decoding as fast as a
/// core allows, and one that has been dropped before its turn does not run at all. It waits at
/// the program's end for the check it is on.
QThreadPool &checkThreads()
{
    static QThreadPool pool;
    pool.setMaxThreadCount(1);
    return pool;
}

} // namespace

PieceChecker::PieceChecker(QObject *parent)
    : QObject(parent)
    , m_work(checkThreads())
{
}

void PieceChecker::check(const QString &songPath, SongMap map, double startSeconds, double endSeconds,
                         const QString &piecePath, const GainChange &asked)
{
    m_busy = true;
    m_work.run(
        this,
        [song = fileSystemPath(songPath), map = std::move(map), startSeconds, endSeconds,
         piece = fileSystemPath(piecePath), asked] { return checkPiece(song, map, startSeconds, endSeconds, piece, asked); },
        [this](const PieceCheck &result) {
            m_busy = false;
            emit checked(result);
        });
}

void PieceChecker::cancel()
{
    m_work.cancel();
    m_busy = false;
}
