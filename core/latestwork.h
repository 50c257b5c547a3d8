#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>

#include <memory>
#include <mutex>

/// Work done on a thread of its own for an object on the event loop's thread, of which only the
/// last asked for is told: work asked for before it, or before cancel(), is dropped, and does not
/// run at all if its turn has not come. Once this is destroyed nothing more is told; work that
/// is running ends on its own and touches nothing of it.
class LatestWork
{
public:
    /// Runs work on \a pool, whose one thread takes it in turn.
    explicit LatestWork(QThreadPool &pool)
        : m_pool(pool)
    {
    }
    ~LatestWork()
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->alive = false;
    }
    LatestWork(const LatestWork &) = delete;
    LatestWork &operator=(const LatestWork &) = delete;

    /// Runs \a work on the pool and gives what it returns to \a hand, on \a receiver's thread,
    /// unless other work is asked for or cancel() comes first. \a receiver owns this.
    template <typename Work, typename Hand>
    void run(QObject *receiver, Work work, Hand hand)
    {
        const quint64 generation = m_shared->next();
        m_pool.start([shared = m_shared, generation, receiver, work = std::move(work), hand = std::move(hand)]() mutable {
            if (!shared->isLatest(generation))
                return;
            auto result = work();
            // Held while the result is posted, so that the receiver cannot go meanwhile; once
            // posted, Qt drops it should the receiver go before it arrives.
            const std::lock_guard lock(shared->mutex);
            if (shared->alive && shared->latest == generation)
                QMetaObject::invokeMethod(
                    receiver,
                    [shared, generation, hand = std::move(hand), result = std::move(result)]() mutable {
                        // Work asked for after this was posted drops it too.
                        if (shared->isLatest(generation))
                            hand(std::move(result));
                    },
                    Qt::QueuedConnection);
        });
    }

    /// Drops the work asked for last: nothing more is told.
    void cancel() { m_shared->next(); }

private:
    struct Shared
    {
        std::mutex mutex;
        bool alive = true;
        /// Counts the work asked for; only the last one's result is told.
        quint64 latest = 0;

        quint64 next()
        {
            const std::lock_guard lock(mutex);
            return ++latest;
        }
        bool isLatest(quint64 generation)
        {
            const std::lock_guard lock(mutex);
            return alive && latest == generation;
        }
    };

    QThreadPool &m_pool;
    /// Shared with the work on its thread, which may outlive this.
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
};
