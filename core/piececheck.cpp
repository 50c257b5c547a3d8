#include "core/piececheck.h"

#include "core/pathrules.h"

#include <QThreadPool>

#include <mutex>

struct PieceChecker::Shared
{
    std::mutex mutex;
    /// Null once the checker is gone.
    PieceChecker *owner = nullptr;
    /// Counts the checks asked for; only the last one's result is told.
    quint64 latest = 0;
};

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
    , m_shared(std::make_shared<Shared>())
{
    m_shared->owner = this;
}

PieceChecker::~PieceChecker()
{
    // A check that ends after this line has nobody to tell.
    const std::lock_guard lock(m_shared->mutex);
    m_shared->owner = nullptr;
}

void PieceChecker::check(const QString &songPath, SongMap map, double startSeconds, double endSeconds,
                         const QString &piecePath)
{
    quint64 generation = 0;
    {
        const std::lock_guard lock(m_shared->mutex);
        generation = ++m_shared->latest;
    }
    m_busy = true;
    checkThreads().start([shared = m_shared, generation, song = fileSystemPath(songPath), map = std::move(map),
                          startSeconds, endSeconds, piece = fileSystemPath(piecePath)] {
        {
            const std::lock_guard lock(shared->mutex);
            if (!shared->owner || shared->latest != generation)
                return;
        }
        const PieceCheck result = checkPiece(song, map, startSeconds, endSeconds, piece);
        // Held while the result is posted, so that the checker cannot go meanwhile; once posted,
        // Qt drops it should the checker go before it arrives.
        const std::lock_guard lock(shared->mutex);
        if (PieceChecker *owner = shared->owner; owner && shared->latest == generation)
            QMetaObject::invokeMethod(owner, [owner, generation, result] { owner->deliver(generation, result); },
                                      Qt::QueuedConnection);
    });
}

void PieceChecker::cancel()
{
    const std::lock_guard lock(m_shared->mutex);
    ++m_shared->latest;
    m_busy = false;
}

void PieceChecker::deliver(quint64 generation, const PieceCheck &check)
{
    {
        // A check asked for after this one was posted drops it too.
        const std::lock_guard lock(m_shared->mutex);
        if (generation != m_shared->latest)
            return;
    }
    m_busy = false;
    emit checked(check);
}
