#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <vector>

// One file's place in the queue for cores. Files go in the order they were handed over, the file
// being converted (`current`) before all of them.
struct CoreTicket
{
    const std::atomic<bool> *current = nullptr; // none: always first
    std::int64_t frames = 0;                    // its length, in output frames
    std::atomic<std::int64_t> done{0};          // frames encoded so far

    // The pool's own, under its lock.
    int order = 0;
    int waiting = 0;
    bool started = false;
    bool finished = false;
    int rank() const { return current && !current->load() ? order : 0; }
};

// The cores one encoder keeps busy: the file being converted and the files it encodes ahead of
// their turn share them, in list order. A file encoded in one piece keeps its core from block to
// block until a file before it in the list waits for one, so files side by side each hold a core
// of their own; a file encoded in segments takes a core a segment.
class CorePool
{
public:
    explicit CorePool(int cores = 1) : m_free(cores), m_cores(cores) {}

    // Takes effect as cores come back.
    void setCores(int cores);
    // Files of the batch the host has not handed over yet: their lengths are unknown, and each
    // is taken to be as long as the files handed over so far are on average. Also ends
    // holdStarts().
    void setFilesToCome(int files);
    // The host is handing over files: no file starts (and so decides whether it is cut) until
    // it has said how many are to come, or `longest` has passed.
    void holdStarts(std::chrono::milliseconds longest);

    // A ticket queues behind those entered before it; it must leave before it goes.
    void enter(CoreTicket &ticket);
    void leave(CoreTicket &ticket);
    // Its encode has ended: it no longer counts as work for the other cores.
    void finish(CoreTicket &ticket);
    // Wakes waiters after a ticket became the current file.
    void reordered();

    // Waits for a core in the ticket's turn (none: before every ticket). False when a stop is
    // requested meanwhile: no core is held then.
    bool acquire(CoreTicket *ticket, std::stop_token stop);
    void release();
    // Whether a ticket before this one waits for a core that is not free.
    bool othersFirst(const CoreTicket *ticket);

    // Whether the file of `ticket`, starting now, should be cut into segments: only where the
    // rest of the batch (what the files still running have left, those handed over but not
    // started, and those to come) could not keep the other cores busy while it ran in one piece.
    // `cutCost` is the share of its CPU time cutting costs.
    bool worthCutting(const CoreTicket &ticket, double cutCost);

    // Holds a core for a scope; may give it back and take one again within it.
    class Lease
    {
    public:
        Lease(CorePool *pool, CoreTicket *ticket, std::stop_token stop)
            : m_pool(pool), m_ticket(ticket),
              m_held(!pool || pool->acquire(ticket, std::move(stop)))
        {}
        ~Lease() { release(); }
        Lease(const Lease &) = delete;
        Lease &operator=(const Lease &) = delete;
        explicit operator bool() const { return m_held; }
        void release()
        {
            if (m_pool && m_held)
                m_pool->release();
            m_held = !m_pool;
        }
        // After release(): waits for a core again.
        bool retake(const std::stop_token &stop)
        {
            if (!m_held)
                m_held = m_pool->acquire(m_ticket, stop);
            return m_held;
        }
        // Gives the core to a file before this one that waits for it, and waits for another.
        bool giveWay(const std::stop_token &stop)
        {
            if (!m_pool || !m_held || !m_pool->othersFirst(m_ticket))
                return m_held;
            release();
            m_held = m_pool->acquire(m_ticket, stop);
            return m_held;
        }

    private:
        CorePool *m_pool;
        CoreTicket *m_ticket;
        bool m_held;
    };

private:
    bool firstInLine(const CoreTicket *ticket) const;

    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::vector<CoreTicket *> m_tickets;
    int m_free;
    int m_cores;
    int m_order = 0;
    int m_filesToCome = 0;
    std::int64_t m_framesEntered = 0; // of every ticket entered, for the average length
    std::int64_t m_ticketsEntered = 0;
    std::chrono::steady_clock::time_point m_heldUntil{}; // starts wait until then
    int m_anonymousWaiting = 0;                          // acquire() without a ticket
};
