#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

/// What a piece says of itself, read as a player reads it: the song's frames it holds, and by its
/// header frame's LAME tag, the song's samples it plays, counted as the song's frames hold them.
struct PieceReading
{
    qint64 from = -1;          ///< where its frames begin in the song; -1 when they are not the song's
    qint64 length = 0;         ///< bytes of its frames
    qint64 firstSample = 0;    ///< the song's first sample it plays
    qint64 endSample = 0;      ///< one past its last
    QByteArray headerTag;      ///< "Info" or "Xing"
};

PieceReading readPiece(const QString &piecePath, const QString &songPath);
