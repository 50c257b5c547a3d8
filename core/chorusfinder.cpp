#include "core/chorusfinder.h"

#include <QThreadPool>

#include <mutex>

struct ChorusFinder::Shared
{
    std::mutex mutex;
    /// Null once the finder is gone.
    ChorusFinder *owner = nullptr;
    /// Counts the songs asked for; only the last one's proposal is told.
    quint64 latest = 0;
};

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
    , m_shared(std::make_shared<Shared>())
{
    m_shared->owner = this;
}

ChorusFinder::~ChorusFinder()
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->owner = nullptr;
}

void ChorusFinder::find(std::shared_ptr<const std::vector<float>> mono, int sampleRate)
{
    quint64 generation = 0;
    {
        const std::lock_guard lock(m_shared->mutex);
        generation = ++m_shared->latest;
    }
    analysisThreads().start([shared = m_shared, generation, mono = std::move(mono), sampleRate] {
        {
            const std::lock_guard lock(shared->mutex);
            if (!shared->owner || shared->latest != generation)
                return;
        }
        const auto proposal = mono ? proposeChorus(*mono, sampleRate) : std::nullopt;
        // Held while the result is posted, so that the finder cannot go meanwhile; once posted,
        // Qt drops it should the finder go before it arrives.
        const std::lock_guard lock(shared->mutex);
        if (ChorusFinder *owner = shared->owner; owner && shared->latest == generation)
            QMetaObject::invokeMethod(owner, [owner, generation, proposal] { owner->deliver(generation, proposal); },
                                      Qt::QueuedConnection);
    });
}

void ChorusFinder::cancel()
{
    const std::lock_guard lock(m_shared->mutex);
    ++m_shared->latest;
}

void ChorusFinder::deliver(quint64 generation, std::optional<ChorusProposal> proposal)
{
    {
        const std::lock_guard lock(m_shared->mutex);
        if (generation != m_shared->latest)
            return;
    }
    emit found(proposal);
}
