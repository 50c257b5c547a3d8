#include "core/chorusfinder.h"

namespace {

/// One thread for the proposals: a song chosen while another is analysed waits its turn, and
/// is not analysed at all if a third comes first. It waits at the program's end for the song
/// it is on, a fraction of a second.
QThreadPool &analysisThreads()
{
    static QThreadPool pool;
    pool.setMaxThreadCount(1);
    return pool;
}

} // namespace

ChorusFinder::ChorusFinder(QObject *parent)
    : QObject(parent)
    , m_work(analysisThreads())
{
}

void ChorusFinder::find(std::shared_ptr<const std::vector<float>> mono, int sampleRate)
{
    m_work.run(
        this, [mono = std::move(mono), sampleRate] { return mono ? proposeChorus(*mono, sampleRate) : std::nullopt; },
        [this](std::optional<ChorusProposal> proposal) { emit found(proposal); });
}

void ChorusFinder::cancel()
{
    m_work.cancel();
}
