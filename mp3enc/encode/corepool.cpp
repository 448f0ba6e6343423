#include "mp3enc/encode/corepool.h"

void CorePool::setCores(int cores)
{
    {
        std::lock_guard lock(m_mutex);
        m_free += cores - m_cores;
        m_cores = cores;
    }
    m_changed.notify_all();
}

bool CorePool::acquire(bool urgent, std::stop_token stop)
{
    std::unique_lock lock(m_mutex);
    if (urgent)
        ++m_urgentWaiting;
    const bool got =
        m_changed.wait(lock, stop, [&] { return m_free > 0 && (urgent || m_urgentWaiting == 0); });
    if (urgent && --m_urgentWaiting == 0)
        m_changed.notify_all(); // the others may take what is left
    if (!got || stop.stop_requested())
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
