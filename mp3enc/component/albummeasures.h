#pragma once

#include "mp3enc/encode/loudnessmeter.h"
#include "mp3enc/input/sndfilereader.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// The inputs of MP3s kept as they are, measured for their albums one after another on a thread of
// their own: decoding a whole album takes seconds, which the host's thread must not wait for.
class AlbumMeasures
{
public:
    struct Measure
    {
        QString album;
        QString mp3;
        std::unique_ptr<SndFileReader> input; // opened, its part set
        float scale = 1.0f;                   // LAME's, as it would hear the input
        int channels = 2;                     // the MP3's
        quint64 generation = 0;
    };
    struct Result
    {
        QString album;
        QString mp3;
        std::shared_ptr<LoudnessMeter> meter; // null when it failed
        QString problem;                      // why, in the user's words
        quint64 generation = 0;
    };
    // Called on the worker thread, once for every measure it started.
    using Finished = std::function<void(Result)>;

    explicit AlbumMeasures(Finished finished) : m_finished(std::move(finished)) {}
    // Stops what is measured and waits for the worker.
    ~AlbumMeasures();
    AlbumMeasures(const AlbumMeasures &) = delete;
    AlbumMeasures &operator=(const AlbumMeasures &) = delete;

    void add(Measure measure);
    // Drops what waits and cuts the measure in progress short, waiting for it: once this returns,
    // nothing handed over before is reported any more.
    void stop();

private:
    void work(const std::stop_token &quit);
    void report(Result result);

    Finished m_finished;
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::deque<Measure> m_waiting;
    bool m_busy = false; // a measure is out of the queue and not yet reported
    std::atomic<bool> m_cancel{false};
    std::jthread m_worker; // started by the first measure; last, so it goes first
};
