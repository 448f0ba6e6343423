#include "mp3enc/encode/stopsignal.h"

#include <algorithm>

void StopSignal::request()
{
    m_requested.store(true, std::memory_order_release);
    std::lock_guard lock(m_mutex);
    for (const Waiter &waiter : m_waiters) {
        // Taken and given back: the waiter is either before its check or asleep.
        {
            std::lock_guard held(*waiter.mutex);
        }
        waiter.changed->notify_all();
    }
}

StopSignal::Wake::Wake(const StopSignal *signal, std::mutex &mutex,
                       std::condition_variable &changed)
    : m_signal(signal), m_changed(&changed)
{
    if (!m_signal)
        return;
    std::lock_guard lock(m_signal->m_mutex);
    m_signal->m_waiters.push_back({&mutex, &changed});
}

StopSignal::Wake::~Wake()
{
    if (!m_signal)
        return;
    std::lock_guard lock(m_signal->m_mutex);
    auto &waiters = m_signal->m_waiters;
    const auto it = std::find_if(waiters.begin(), waiters.end(),
                                 [this](const Waiter &w) { return w.changed == m_changed; });
    if (it != waiters.end())
        waiters.erase(it);
}
