#pragma once

#include <condition_variable>
#include <mutex>
#include <stop_token>

// The cores one encoder keeps busy: the file being converted and the files it encodes ahead of
// their turn share them, the file being converted first. Every thread that encodes holds a core
// while it works and gives it back between blocks or segments, so a file ahead never holds the
// current one back for more than a block.
class CorePool
{
public:
    explicit CorePool(int cores = 1) : m_free(cores), m_cores(cores) {}

    // Takes effect as cores come back.
    void setCores(int cores);

    // Waits for a core; `urgent` (the file being converted) goes before the others. False when
    // a stop is requested meanwhile: no core is held then.
    bool acquire(bool urgent, std::stop_token stop);
    void release();

    // Holds a core for a scope.
    class Lease
    {
    public:
        Lease(CorePool *pool, bool urgent, std::stop_token stop)
            : m_pool(pool), m_held(!pool || pool->acquire(urgent, std::move(stop)))
        {}
        ~Lease()
        {
            if (m_pool && m_held)
                m_pool->release();
        }
        Lease(const Lease &) = delete;
        Lease &operator=(const Lease &) = delete;
        explicit operator bool() const { return m_held; }

    private:
        CorePool *m_pool;
        bool m_held;
    };

private:
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    int m_free;
    int m_cores;
    int m_urgentWaiting = 0;
};
