#pragma once

#include "core/mp3frames.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

/// What the Xing, Info or VBRI frame in front of a song's audio frames says about the file.
struct VbrHeader
{
    QByteArray tag;                   ///< "Xing", "Info" (lame's name for it in constant bit rate files) or "VBRI"
    qint64 offset = 0;                ///< where its frame begins in the file
    int length = 0;                   ///< bytes of its frame
    std::optional<quint32> frames;    ///< audio frames of the file, when given
    std::optional<quint32> bytes;     ///< bytes of the file from this frame on, when given
    QByteArray toc;                   ///< Xing's 100-entry seek table, when given
};

/// Where each MPEG audio frame of a song lies in its file and when its sound begins.
/// Built from the frame headers alone: nothing is decoded.
struct FrameTimeline
{
    /// The first audio frame's header: every frame of the stream has its version, layer,
    /// sample rate and channel mode.
    FrameHeader reference;
    /// Samples each frame holds: 384 for layer 1, 1152 for layer 2 and MPEG-1 layer 3,
    /// 576 for MPEG-2 and 2.5 layer 3.
    int samplesPerFrame = 0;
    /// Byte offset of every audio frame in order, and one more entry: the end of the last one.
    /// A leading ID3v2 tag, the Xing / Info / VBRI frame, junk between frames and trailing ID3v1 or
    /// APE tags lie in none of them.
    QList<qint64> frameOffsets;
    /// Every audio frame has the same bit rate.
    bool constantBitRate = false;
    /// The Xing / Info / VBRI frame in front of the audio frames, if the file has one.
    std::optional<VbrHeader> vbrHeader;

    qsizetype frameCount() const { return frameOffsets.isEmpty() ? 0 : frameOffsets.size() - 1; }
    /// Seconds of sound in all frames.
    double duration() const;
    /// Time, in seconds, of the first sample of frame \a index (frameCount() for the end).
    double frameTime(qsizetype index) const;
    /// Index of the frame holding the sound at \a seconds, kept within 0 .. frameCount() - 1.
    qsizetype frameAt(double seconds) const;
};

/// Reads the timeline of the MPEG audio file at \a path; empty when the file cannot be read or
/// holds no run of MPEG audio frames.
std::optional<FrameTimeline> scanFrameTimeline(const QString &path);

/// A Xing header frame for a file made of frames \a first up to, not including, \a end of
/// \a song: the same version, layer, sample rate and channel mode, and the frame count, byte count
/// (this frame included) and 100-entry seek table of that file, so that players know its length.
/// Empty for layers 1 and 2, whose players look for no such frame; \a first and \a end are kept
/// within 0 .. frameCount().
QByteArray xingFrameFor(const FrameTimeline &song, qsizetype first, qsizetype end);
