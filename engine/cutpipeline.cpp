#include "engine/cutpipeline.h"

#include <limits>

CutPipeline::CutPipeline(PieceParts parts, GainChange gain, PieceSource &source, PieceTarget &target,
                         std::filesystem::path song, std::filesystem::path piece)
    : m_file(std::move(parts), source, target)
    , m_gain(gain)
    , m_target(target)
    , m_song(std::move(song))
    , m_piece(std::move(piece))
{
}

CutPipeline::State CutPipeline::step(std::int64_t bytes)
{
    if (m_state != State::Copying)
        return m_state;
    switch (m_file.step(bytes)) {
    case PieceFile::State::Writing:
        return m_state;
    case PieceFile::State::Whole:
        if (m_gain.any())
            return m_state = State::Changing;
        return name();
    case PieceFile::State::Written:
    case PieceFile::State::Failed:
        break;
    }
    return failed();
}

CutPipeline::State CutPipeline::changeGain()
{
    if (m_state != State::Changing)
        return m_state;
    // Whatever the gain fails on is the piece's, under the name it was to have.
    if (auto why = applyGain(m_target.file(), m_gain)) {
        why->path = m_piece;
        return fail(*why);
    }
    return name();
}

CutPipeline::State CutPipeline::run()
{
    while (step(std::numeric_limits<std::int64_t>::max()) == State::Copying) {
    }
    return changeGain();
}

CutPipeline::State CutPipeline::name()
{
    if (m_file.name() != PieceFile::State::Written)
        return failed();
    return m_state = State::Written;
}

CutPipeline::State CutPipeline::failed()
{
    CutError error = *m_file.error();
    const bool ofSong = error.kind == CutError::Kind::Unreadable || error.kind == CutError::Kind::Changed;
    error.path = ofSong ? m_song : m_piece;
    return fail(error);
}

CutPipeline::State CutPipeline::fail(CutError error)
{
    m_error = std::move(error);
    // Failed after it was whole (its gain): what was written goes with the writer.
    m_file.discard();
    return m_state = State::Failed;
}
