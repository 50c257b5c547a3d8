#pragma once

#include <QByteArray>

#include <optional>

/// What an MPEG audio frame header says about the stream and the frame.
struct FrameHeader
{
    int version = 0;       ///< 10 for MPEG-1, 20 for MPEG-2, 25 for MPEG-2.5
    int layer = 0;         ///< 1 to 3
    int sampleRate = 0;    ///< Hz
    int length = 0;        ///< bytes of the whole frame, header included
};

/// The frame header at \a offset of \a bytes; empty when those bytes are none.
std::optional<FrameHeader> frameHeaderAt(const QByteArray &bytes, qsizetype offset);

/// The first offset at or after \a from where a frame of the same stream as \a reference
/// begins: a header of the same version, layer and sample rate, followed one frame later by
/// another one. Empty when there is none in \a bytes.
std::optional<qsizetype> nextFrameStart(const QByteArray &bytes, qsizetype from, const FrameHeader &reference);
