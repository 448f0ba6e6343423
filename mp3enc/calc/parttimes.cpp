#include "mp3enc/calc/parttimes.h"

#include <ctime>

void PartTimes::add(std::vector<double> &part, std::size_t i, double seconds)
{
    const std::lock_guard lock(m_mutex);
    if (part.size() <= i)
        part.resize(i + 1);
    part[i] += seconds;
}

void PartTimes::add(double &part, double seconds)
{
    const std::lock_guard lock(m_mutex);
    part += seconds;
}

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}
