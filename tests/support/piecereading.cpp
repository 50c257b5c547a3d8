#include "piecereading.h"

#include "core/pathrules.h"
#include "corefakes.h"
#include "engine/songmap.h"

#include <algorithm>

PieceReading readPiece(const QString &piecePath, const QString &songPath)
{
    PieceReading reading;
    const auto piece = scanSong(fileSystemPath(piecePath));
    const auto song = scanSong(fileSystemPath(songPath));
    if (!piece || !song || !piece->encoderFrame || !piece->encoderFrame->delay)
        return reading;
    const QByteArray pieceBytes = readAll(piecePath);
    const QByteArray songBytes = readAll(songPath);
    // Lead frames of the piece's own may stand in front of the song's frames.
    qint64 lead = 0;
    while (lead < piece->frameCount()) {
        const SongFrame &frame = piece->frame(lead);
        if (songBytes.contains(pieceBytes.mid(frame.offset, frame.length)))
            break;
        ++lead;
    }
    const QByteArray frames = pieceBytes.mid(piece->frame(lead).offset);
    const std::span<const SongFrame> songFrames = song->readFrames();
    const auto first = std::find_if(songFrames.begin(), songFrames.end(), [&](const SongFrame &frame) {
        return songBytes.mid(frame.offset, frames.size()) == frames;
    });
    if (first == songFrames.end())
        return reading;
    const qint64 index = first - songFrames.begin() - lead;
    const qint64 spf = song->samplesPerFrame;
    reading.from = first->offset;
    reading.length = frames.size();
    reading.firstSample = index * spf + *piece->encoderFrame->delay + decoderDelay;
    reading.endSample = (index + piece->frameCount()) * spf - *piece->encoderFrame->padding + decoderDelay;
    reading.headerTag = QByteArray::fromStdString(piece->encoderFrame->tag);
    return reading;
}
