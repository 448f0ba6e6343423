#pragma once

#include <QString>
#include <exception>
#include <functional>

// How one encode, or one step of it, ended; below every part that encodes, so none of them
// needs the file's job to say so.
struct EncodeResult
{
    enum Status
    {
        Done,
        Stopped,
        Failed
    };
    Status status = Done;
    int errorNumber = 0; // rt::ErrorNumber when Failed
    QString errorText;
    bool inputChanged = false; // Failed because the input changed while it was read
};

// The frames encoded so far, for a progress display.
using EncodeProgress = std::function<void(int frame)>;

inline EncodeResult stoppedResult()
{
    return {EncodeResult::Stopped, 0, {}};
}

EncodeResult failedResult(int number, const QString &text);

// The failure an exception thrown by a step of an encode stands for: the file fails, the host
// goes on. Called only while `error` is being handled.
EncodeResult exceptionResult(const std::exception_ptr &error);

// A step of an encode whose exceptions fail the file, not the host.
template <class Step> EncodeResult guarded(Step step)
{
    try {
        return step();
    } catch (...) {
        return exceptionResult(std::current_exception());
    }
}
