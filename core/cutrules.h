#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

/// Where in the file, in KB, the time \a markText (seconds) of a \a duration second
/// track falls, taking the bytes as spread evenly over the time after \a audioStartKB.
/// Empty when the mark is not a number, the duration is 0 or the result is not finite.
std::optional<double> positionToKB(const QString &markText, double duration, double fileKB,
                                   double audioStartKB = 0.0);

/// The name piece \a index of \a srcName is saved under; \a destDir ends with its
/// separator.
QString pieceFileName(const QString &destDir, int index, const QString &srcName);

/// Bytes taken by the ID3v2 tag that \a head, the first bytes of a file, starts with,
/// header and footer included; 0 when there is no well-formed tag header.
qint64 id3v2TagSize(const QByteArray &head);
