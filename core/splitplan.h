#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>

/// The three size boxes, in KB, as the user typed them.
using SizeBoxes = std::array<QString, 3>;

/// Consecutive byte counts to cut a file into.
struct SplitPlan {
    /// False when a box was not a number; the boxes were then left as they were and the
    /// caller keeps the plan it had.
    bool accepted = false;
    /// The pieces in order, the first one starting at the first byte of the file.
    QList<qint32> pieceSizes;
    /// Index of the last piece, -1 when there is none.
    qint16 pieceTop = -1;
    /// Accepted, every size fitted in 32 bits and there is at least one piece.
    bool ok = false;
};

/// Plans the pieces of a file of \a fileLength bytes from \a boxes. Boxes holding "0" are
/// moved behind the others, and the box where the file runs out is rewritten to the size
/// that is left, the boxes after it to "0". A negative size is planned as it stands.
SplitPlan planPieces(SizeBoxes &boxes, qint32 fileLength);
