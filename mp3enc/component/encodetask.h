#pragma once

#include "mp3enc/component/mp3enc.h"
#include "mp3enc/encode/encodejob.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>

// One encode on a thread of its own: the file being converted, or one encoded ahead of its turn,
// whose output stays unnamed until the host opens and encodes that pair.
struct EncodeTask
{
    ~EncodeTask()
    {
        abandon();
        if (pool)
            pool->leave(ticket);
    }
    // Wakes the encode wherever it waits.
    void requestStop() { thread.request_stop(); }
    // Stops it, and its output with it; waits for its thread.
    void abandon()
    {
        requestStop();
        if (thread.joinable())
            thread.join();
    }

    FilePair pair;
    struct stat inputState = {};  // as it was opened
    struct stat folderState = {}; // the output's folder, as it was opened
    EncodeSettings settings;
    int frameCount = 0;
    std::unique_ptr<EncodeJob> job;
    std::jthread thread;                // its stop ends the encode
    std::atomic<bool> claimed{false};   // the file being converted
    std::atomic<bool> failed{false};    // ended in failure: not taken at its turn
    bool retried = false;               // started over once after running out of space
    std::atomic<quint64> generation{0}; // set before `claimed`
    std::atomic<int> newestFrame{0};
    CorePool *pool = nullptr; // where `ticket` queues
    CoreTicket ticket;
    std::mutex mutex;
    std::condition_variable_any changed; // `claimed`, for a file ahead waiting for its turn
};
