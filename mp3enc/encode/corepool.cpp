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

bool CorePool::acquire(bool urgent, const StopSignal *stop, const StopSignal *abort)
{
    const StopSignal::Wake wakeOnStop(stop, m_mutex, m_changed);
    const StopSignal::Wake wakeOnAbort(abort, m_mutex, m_changed);
    const auto stopped = [&] {
        return (stop && stop->requested()) || (abort && abort->requested());
    };
    std::unique_lock lock(m_mutex);
    if (urgent)
        ++m_urgentWaiting;
    m_changed.wait(lock,
                   [&] { return stopped() || (m_free > 0 && (urgent || m_urgentWaiting == 0)); });
    if (urgent && --m_urgentWaiting == 0)
        m_changed.notify_all(); // the others may take what is left
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
