#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

// A request to stop an encode. Work looks at it between blocks; a thread that sleeps on a
// condition of its own meanwhile (a free core, a finished segment, the loudness pass) is woken by
// it, for as long as it keeps a Wake.
class StopSignal
{
public:
    StopSignal() = default;
    StopSignal(const StopSignal &) = delete;
    StopSignal &operator=(const StopSignal &) = delete;

    void request();
    bool requested() const { return m_requested.load(std::memory_order_acquire); }
    // Before the signal is used again; nobody may wait on it then.
    void reset() { m_requested.store(false, std::memory_order_release); }
    // For a reader that looks at a flag in the middle of a read.
    const std::atomic<bool> &flag() const { return m_requested; }

    // While it lives, a request also notifies `changed` after taking `mutex`: a waiter that looks
    // at the signal under `mutex` before it sleeps cannot miss the request. Made before `mutex`
    // is taken (a request holds the signal's own lock while it takes the waiters').
    class Wake
    {
    public:
        Wake(const StopSignal *signal, std::mutex &mutex, std::condition_variable &changed);
        ~Wake();
        Wake(const Wake &) = delete;
        Wake &operator=(const Wake &) = delete;

    private:
        const StopSignal *m_signal;
        std::condition_variable *m_changed;
    };

private:
    struct Waiter
    {
        std::mutex *mutex;
        std::condition_variable *changed;
    };

    std::atomic<bool> m_requested{false};
    mutable std::mutex m_mutex;
    mutable std::vector<Waiter> m_waiters;
};
