#pragma once

#include <ctime>
#include <sys/resource.h>

// CPU seconds for the benchmark drivers' reports.
namespace cpuclock {

// The whole process's, user and system, so far.
inline double process()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The calling thread's so far.
inline double thread()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

} // namespace cpuclock
