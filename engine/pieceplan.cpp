#include "engine/pieceplan.h"

#include "engine/pieceheader.h"

#include <cerrno>
#include <cmath>

std::int64_t PiecePlan::lengthMs() const
{
    return sampleRate > 0 ? std::llround(double(placement.endSample - placement.startSample) * 1000.0 / sampleRate) : 0;
}

std::variant<PiecePlan, MarkProblem, CutError> planPiece(const SongMap &song, const std::filesystem::path &songPath,
                                                         double startSeconds, double endSeconds)
{
    auto placed = placePiece(song, startSeconds, endSeconds);
    if (const auto *problem = std::get_if<MarkProblem>(&placed))
        return *problem;
    PiecePlan plan{std::get<Placement>(placed), {}, song.sampleRate()};
    errno = 0;
    auto lead = leadFrames(song, plan.placement, songPath);
    if (!lead)
        return CutError{errno ? CutError::Kind::Unreadable : CutError::Kind::Changed, songPath, errno};
    plan.parts.header = pieceHeaderFrame(song, plan.placement);
    plan.parts.lead = std::move(*lead);
    plan.parts.ranges = frameRanges(song, plan.placement);
    return plan;
}
