#include "engine/leftovers.h"

#include <atomic>

#include <pthread.h>
#include <unistd.h>

namespace {

/// The paths held, read by a signal handler: each slot a pointer that is set and cleared whole.
std::atomic<const char *> slots[8];
static_assert(std::atomic<const char *>::is_always_lock_free);

} // namespace

void Leftover::hold(const std::filesystem::path &path)
{
    release();
    m_path = path.string();
    for (int i = 0; i < int(std::size(slots)); ++i) {
        const char *empty = nullptr;
        if (slots[i].compare_exchange_strong(empty, m_path.c_str())) {
            m_slot = i;
            return;
        }
    }
}

void Leftover::release()
{
    if (m_slot >= 0)
        slots[m_slot].store(nullptr);
    m_slot = -1;
}

void removeLeftovers()
{
    for (const std::atomic<const char *> &slot : slots) {
        if (const char *path = slot.load())
            ::unlink(path);
    }
}

SignalsHeldBack::SignalsHeldBack()
{
    sigset_t all;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, &m_before);
}

SignalsHeldBack::~SignalsHeldBack()
{
    ::pthread_sigmask(SIG_SETMASK, &m_before, nullptr);
}
