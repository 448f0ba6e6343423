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

// Adds the CPU time the calling thread spends in a scope to a part, when `times` is given.
class PartClock
{
public:
    explicit PartClock(PartTimes *times) : m_times(times), m_start(times ? threadSeconds() : 0) {}
    double elapsed() const { return m_times ? threadSeconds() - m_start : 0; }

private:
    PartTimes *m_times;
    double m_start;
};
