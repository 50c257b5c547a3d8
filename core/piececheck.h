#pragma once

#include "core/latestwork.h"
#include "engine/piececheck.h"
#include "engine/songmap.h"

#include <QObject>
#include <QString>


/// Checks pieces against their songs (checkPiece()) on a worker thread, one after the other, so
/// that the window goes on meanwhile. Only the check asked for last is told: one asked for
/// before it is dropped, whether it has run or not. Destroyed while a check runs, it tells
/// nothing; the check ends on its own and touches nothing of it.
class PieceChecker : public QObject
{
    Q_OBJECT
public:
    explicit PieceChecker(QObject *parent = nullptr);

    /// Checks the piece at \a piecePath, cut from the song at \a songPath (mapped by \a map)
    /// between \a startSeconds and \a endSeconds, its gain changed as \a asked; checked() tells
    /// the result, unless another check is asked for or cancel() comes first.
    void check(const QString &songPath, SongMap map, double startSeconds, double endSeconds, const QString &piecePath,
               const GainChange &asked);
    /// Drops the check asked for last: nothing more is told.
    void cancel();
    /// Whether a check has been asked for whose result has not yet been told.
    bool busy() const { return m_busy; }

signals:
    void checked(const PieceCheck &check);

private:
    LatestWork m_work;
    bool m_busy = false;
};
