#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

// Where one file's encode in segments spends CPU time, for the benchmark that predicts its speed
// on more cores than the machine it runs on: each part's own thread CPU time, in seconds.
struct PartTimes
{
    std::vector<double> segments; // each segment's encoder: pre-roll, window and its own frames
    std::vector<double> joins;    // the joining thread's work on each segment, run-ons included
    std::vector<double> runOns;   // of which the earlier encoder running on past its segment
    double loudness = 0;          // the loudness pass, on a thread of its own
    double loudnessReading = 0;   // of which reading and scaling the input

    void add(std::vector<double> &part, std::size_t i, double seconds);
    void add(double &part, double seconds);

private:
    std::mutex m_mutex;
};

// The calling thread's CPU time so far, in seconds.
double threadSeconds();

// Adds the CPU time the calling thread spends in its scope to entry i of a part, when `times`
// is given.
class PartClock
{
public:
    PartClock(PartTimes *times, std::vector<double> PartTimes::*part, std::size_t i)
        : m_times(times), m_part(part), m_i(i), m_start(times ? threadSeconds() : 0)
    {}
    ~PartClock()
    {
        if (m_times)
            m_times->add(m_times->*m_part, m_i, threadSeconds() - m_start);
    }
    PartClock(const PartClock &) = delete;
    PartClock &operator=(const PartClock &) = delete;

private:
    PartTimes *m_times;
    std::vector<double> PartTimes::*m_part;
    std::size_t m_i;
    double m_start;
};
