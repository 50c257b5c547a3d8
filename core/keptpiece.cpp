#include "core/keptpiece.h"

#include <algorithm>

KeptPiece keptFromPlan(const QList<qint32> &pieceSizes, bool startsAtFirstByte, const FrameTimeline *timeline)
{
    KeptPiece kept;
    if (startsAtFirstByte) {
        kept.length = pieceSizes.value(0);
        return kept;
    }
    kept.offset = pieceSizes.value(0);
    kept.length = pieceSizes.value(1);
    if (!timeline || kept.offset <= 0)
        return kept;

    // A piece that begins inside a frame may begin with bytes that look like the header of
    // another kind of stream; players then give up on it at once.
    const QList<qint64> &frames = timeline->frameOffsets;
    const auto next = std::lower_bound(frames.cbegin(), frames.cend(), kept.offset);
    if (next != frames.cend() && *next - kept.offset < kept.length) {
        kept.length -= *next - kept.offset;
        kept.offset = *next;
    }
    return kept;
}

KeptPiece keptFromFrames(const FrameTimeline &timeline, double startSeconds, double endSeconds)
{
    const qsizetype first = timeline.frameAt(startSeconds);
    const qsizetype end = std::max(first, timeline.frameAt(endSeconds)) + 1;
    KeptPiece kept;
    kept.offset = timeline.frameOffsets[first];
    kept.length = timeline.frameOffsets[end] - kept.offset;
    kept.prefix = xingFrameFor(timeline, first, end);
    return kept;
}
