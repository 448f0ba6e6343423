#include "mp3enc/corepool.h"

#include <chrono>

void CorePool::setCores(int cores)
{
    {
        std::lock_guard lock(m_mutex);
        m_free += cores - m_cores;
        m_cores = cores;
    }
    m_changed.notify_all();
}

bool CorePool::acquire(bool urgent, const std::function<bool()> &stopped)
{
    std::unique_lock lock(m_mutex);
    if (urgent)
        ++m_urgentWaiting;
    // Stop is a flag, not a notification: look at it now and then while waiting.
    constexpr auto Poll = std::chrono::milliseconds(5);
    while (!stopped() && !(m_free > 0 && (urgent || m_urgentWaiting == 0)))
        m_changed.wait_for(lock, Poll);
    if (urgent)
        --m_urgentWaiting;
    if (stopped())
        return false;
    --m_free;
    return true;
}

void CorePool::release()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_free;
    }
    m_changed.notify_all();
}
