#include "mp3enc/encode/corepool.h"

#include <algorithm>

void CorePool::setCores(int cores)
{
    {
        std::lock_guard lock(m_mutex);
        m_free += cores - m_cores;
        m_cores = cores;
    }
    m_changed.notify_all();
}

void CorePool::setFilesToCome(int files)
{
    {
        std::lock_guard lock(m_mutex);
        m_filesToCome = std::max(0, files);
        m_heldUntil = {};
    }
    m_changed.notify_all();
}

void CorePool::holdStarts(std::chrono::milliseconds longest)
{
    std::lock_guard lock(m_mutex);
    m_heldUntil = std::chrono::steady_clock::now() + longest;
}

void CorePool::enter(CoreTicket &ticket)
{
    std::lock_guard lock(m_mutex);
    ticket.order = ++m_order;
    m_tickets.push_back(&ticket);
    m_framesEntered += ticket.frames;
    ++m_ticketsEntered;
}

void CorePool::leave(CoreTicket &ticket)
{
    {
        std::lock_guard lock(m_mutex);
        std::erase(m_tickets, &ticket);
    }
    m_changed.notify_all();
}

void CorePool::finish(CoreTicket &ticket)
{
    std::lock_guard lock(m_mutex);
    ticket.finished = true;
}

void CorePool::reordered()
{
    {
        std::lock_guard lock(m_mutex); // a waiter looks at the ranks under it
    }
    m_changed.notify_all();
}

bool CorePool::firstInLine(const CoreTicket *ticket) const
{
    const int rank = ticket ? ticket->rank() : 0;
    if (rank > 0 && m_anonymousWaiting > 0)
        return false;
    return std::none_of(m_tickets.begin(), m_tickets.end(), [&](const CoreTicket *other) {
        return other != ticket && other->waiting > 0 && other->rank() < rank;
    });
}

bool CorePool::acquire(CoreTicket *ticket, std::stop_token stop)
{
    std::unique_lock lock(m_mutex);
    using Clock = std::chrono::steady_clock;
    int &waiting = ticket ? ticket->waiting : m_anonymousWaiting;
    ++waiting;
    const bool starting = ticket && !ticket->started;
    const auto ready = [&] {
        return m_free > 0 && firstInLine(ticket) && (!starting || Clock::now() >= m_heldUntil);
    };
    bool got = ready();
    while (!got && !stop.stop_requested()) {
        if (starting && Clock::now() < m_heldUntil)
            got = m_changed.wait_until(lock, stop, m_heldUntil, ready);
        else
            got = m_changed.wait(lock, stop, ready);
    }
    --waiting;
    if (got && !stop.stop_requested()) {
        --m_free;
        if (ticket)
            ticket->started = true;
    }
    lock.unlock();
    m_changed.notify_all(); // the next in line may take what is left
    return got && !stop.stop_requested();
}

void CorePool::release()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_free;
    }
    m_changed.notify_all();
}

bool CorePool::othersFirst(const CoreTicket *ticket)
{
    std::lock_guard lock(m_mutex);
    return m_free <= 0 && !firstInLine(ticket);
}

bool CorePool::worthCutting(const CoreTicket &ticket, double cutCost)
{
    std::lock_guard lock(m_mutex);
    if (m_cores <= 1)
        return false;
    double others = double(m_filesToCome) * double(m_framesEntered) /
                    double(std::max<std::int64_t>(1, m_ticketsEntered));
    for (const CoreTicket *other : m_tickets) {
        if (other != &ticket && !other->finished)
            others += double(std::max<std::int64_t>(0, other->frames - other->done.load()));
    }
    // In one piece the file ends after its own length, and the others' work keeps the other
    // cores busy only as long as it lasts; cut, all of it is shared out, its own grown by the cost.
    return others < (m_cores - 1 - cutCost) * double(ticket.frames);
}
