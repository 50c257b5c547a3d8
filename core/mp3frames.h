#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

/// What an MPEG audio frame header says about the stream and the frame.
struct FrameHeader
{
    int version = 0;       ///< 10 for MPEG-1, 20 for MPEG-2, 25 for MPEG-2.5
    int layer = 0;         ///< 1 to 3
    int sampleRate = 0;    ///< Hz
    int length = 0;        ///< bytes of the whole frame, header included
    int bitRate = 0;       ///< bit/s
    int channelMode = 0;   ///< 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    bool padded = false;   ///< one slot longer than its bit rate says
    bool hasCrc = false;   ///< two bytes of CRC follow the header
    quint32 word = 0;      ///< the four header bytes, the first one highest

    /// Samples of sound per channel in the frame.
    int samplesPerFrame() const;
    /// Bytes of layer 3 side information behind the header (and its CRC).
    int sideInfoSize() const;
    /// Whether \a other may be a frame of the same stream: the same version, layer and sample rate.
    bool sameStream(const FrameHeader &other) const;
};

/// The frame header whose four bytes are \a word, the first one highest; empty when those bytes
/// are none.
std::optional<FrameHeader> frameHeaderFrom(quint32 word);

/// The frame header at \a offset of \a bytes; empty when those bytes are none.
std::optional<FrameHeader> frameHeaderAt(const QByteArray &bytes, qsizetype offset);
