#pragma once

#include "core/frametimeline.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

/// The stretch of the song a cut keeps, and what the piece holds in front of it.
struct KeptPiece
{
    qint64 offset = 0;   ///< first byte of the song that the piece holds
    qint64 length = 0;   ///< bytes of the song that the piece holds
    QByteArray prefix;   ///< written in front of them: a header frame of the piece's own, or nothing
};

/// The piece a split plan keeps: the piece after the one in front of the start mark, or, when
/// the start lies on the very first byte (\a startsAtFirstByte, the plan then has nothing in
/// front), the first one. Its start moves to the next frame of \a timeline within it, if any, so
/// that players recognise the piece; the end stays where the plan puts it.
KeptPiece keptFromPlan(const QList<qint32> &pieceSizes, bool startsAtFirstByte, const FrameTimeline *timeline);

/// The piece holding the frames that hold the sound from \a startSeconds to \a endSeconds,
/// whole frames at both ends, behind a Xing frame that tells players its length.
KeptPiece keptFromFrames(const FrameTimeline &timeline, double startSeconds, double endSeconds);
