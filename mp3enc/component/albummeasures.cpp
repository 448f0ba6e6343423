#include "mp3enc/component/albummeasures.h"

#include "mp3enc/calc/reasons.h"
#include "mp3enc/encode/loudness.h"

#include <new>

AlbumMeasures::~AlbumMeasures()
{
    stop();
    if (m_worker.joinable()) {
        m_worker.request_stop();
        m_worker.join();
    }
}

void AlbumMeasures::add(Measure measure)
{
    std::lock_guard lock(m_mutex);
    m_cancel = false; // a stop waited for the measure it cut short: none runs now
    m_waiting.push_back(std::move(measure));
    if (!m_worker.joinable())
        m_worker = std::jthread([this](std::stop_token quit) { work(quit); });
    m_wake.notify_one();
}

void AlbumMeasures::stop()
{
    std::unique_lock lock(m_mutex);
    m_waiting.clear();
    m_cancel = true;
    m_wake.wait(lock, [this] { return !m_busy; });
}

void AlbumMeasures::work(const std::stop_token &quit)
{
    for (;;) {
        Measure measure;
        {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait(lock, quit, [this] { return !m_waiting.empty(); }))
                return;
            measure = std::move(m_waiting.front());
            m_waiting.pop_front();
            m_busy = true;
        }
        Result result{measure.album, measure.mp3, nullptr, {}, measure.generation};
        try {
            SndFileReader &input = *measure.input;
            input.setCancel(&m_cancel);
            auto meter = std::make_shared<LoudnessMeter>(measure.channels, input.sampleRate());
            // Float input the reader scales by its peak is measured as it would be encoded.
            if (input.scalesItself() && !input.floatPeak() && !input.findFloatPeak())
                result.problem = reasons::readFailed(input.errorText());
            else if (measureAsLame(input, measure.scale, *meter, m_cancel, &result.problem))
                result.meter = std::move(meter);
            else if (result.problem.isEmpty())
                result.problem = QStringLiteral("测量被中断");
        } catch (const std::bad_alloc &) {
            result.problem = QStringLiteral("内存不足，无法测量响度");
        }
        report(std::move(result));
    }
}

void AlbumMeasures::report(Result result)
{
    std::lock_guard lock(m_mutex);
    // A stop while it ran drops it: the host has moved on.
    if (!m_cancel)
        m_finished(std::move(result));
    m_busy = false;
    m_wake.notify_all();
}
