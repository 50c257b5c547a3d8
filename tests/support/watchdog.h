#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

/// Ends the run when one case takes too long. A player stuck inside GStreamer holds the event
/// loop, and then no timeout of Qt Test can fire: only another thread can end the wait.
class Watchdog
{
public:
    Watchdog(std::string name, std::chrono::seconds limit)
        : m_thread([this, name = std::move(name), limit] {
            std::unique_lock lock(m_mutex);
            if (!m_stop.wait_for(lock, limit, [this] { return m_stopped; })) {
                std::fprintf(stderr, "FAIL!  : %s took longer than %lld s\n", name.c_str(),
                             static_cast<long long>(limit.count()));
                std::_Exit(EXIT_FAILURE);
            }
        })
    {
    }
    ~Watchdog()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stopped = true;
        }
        m_stop.notify_one();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_stop;
    bool m_stopped = false;
    std::thread m_thread;
};
