// Encode and Prefetch: each file on a thread of its own, the one being converted and the ones
// encoded ahead of their turn, and what happens when one of them ends.
#include "mp3enc/calc/reasons.h"
#include "mp3enc/component/encodetask.h"
#include "mp3enc/component/eventpump.h"
#include "mp3enc/component/mp3enc.h"
#include "mp3enc/component/pairchecks.h"
#include "runtime/comerror.h"
#include "runtime/filename.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <immintrin.h>
#include <sys/stat.h>

using pairchecks::refuse;

namespace {

// A file-size limit would otherwise kill the host in the middle of a write; ignored, the write
// fails with EFBIG and the file fails like any other write error. A handler the host installed
// itself is left alone.
void surviveFileSizeLimit()
{
    struct sigaction current = {};
    if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace

int Mp3Enc::cores() const
{
    return m_threads > 0 ? m_threads : std::max(1, int(std::thread::hardware_concurrency()));
}

void Mp3Enc::Encode()
{
    m_lastNotice.clear();
    try {
        start();
        m_lastError.clear();
    } catch (const rt::ComError &error) {
        m_lastError = error.description();
        throw;
    }
}

void Mp3Enc::start()
{
    refuseWhileEncoding("Encode");
    if (!m_opened && !m_openedAhead)
        refuse(rt::ErrInvalidCall, QStringLiteral("Encode之前没有用Open打开文件"));
    if (m_current)
        m_current->thread = {}; // it has nothing left to do but return
    m_pool.setCores(cores());
    // A host that says how many files are to come hands the next ones over right after this:
    // the file waits for them before it decides whether to be cut.
    if (m_filesToComeGiven)
        m_pool.holdStarts(std::chrono::milliseconds(200));
    m_newestFrame = 0;
    m_framePosted = false;
    m_lastFrame = 0;
    m_running = true;
    surviveFileSizeLimit();
    if (m_openedAhead) {
        m_current = std::move(m_openedAhead);
        claim(*m_current);
        return;
    }
    m_current = std::make_unique<EncodeTask>();
    m_current->pair = m_openedPair;
    m_current->job = std::move(m_opened);
    m_current->generation = ++m_generation;
    startCurrent();
}

void Mp3Enc::startThread(EncodeTask &task)
{
    task.thread = std::jthread([this, &task](std::stop_token stop) { runTask(&task, stop); });
}

void Mp3Enc::queue(EncodeTask &task)
{
    task.pool = &m_pool;
    task.ticket.current = &task.claimed;
    task.ticket.frames = task.job->frameCount();
    m_pool.enter(task.ticket);
    task.job->schedule(&m_pool, &task.ticket);
}

void Mp3Enc::startCurrent()
{
    m_current->claimed = true;
    queue(*m_current);
    startThread(*m_current);
}

// The file being converted ran out of space. Files encoded ahead hold space of their own: they
// give way (their temporaries go; each is encoded again at its turn) and the file starts over,
// once, so a full disk takes the later files, in list order, as it would one file at a time.
void Mp3Enc::deliverOutOfSpace(quint64 generation, int number, const QString &text)
{
    if (generation != m_generation)
        return;
    if (m_current && !m_current->retried && !m_ahead.empty()) {
        for (auto &task : m_ahead)
            task->requestStop();
        m_ahead.clear(); // waits for each: their temporaries are gone with them
        if (startOver())
            return; // else it fails as it did, for lack of space
    }
    m_pump->post({EventPump::Delivery::Failure, generation, number, text, {}});
    m_pump->post({EventPump::Delivery::Ended, generation, 0, text, {}});
}

// The file in hand is encoded again from the start, once, its pair opened and checked anew; false
// when Open would now refuse it, with the reason in `number` and `text` if asked for.
bool Mp3Enc::startOver(int *number, QString *text)
{
    m_current->thread = {}; // it ended: waits for its return
    std::unique_ptr<EncodeJob> job;
    try {
        job = prepare(m_current->pair);
    } catch (const rt::ComError &error) {
        if (number)
            *number = error.number();
        if (text)
            *text = error.description();
        return false;
    }
    auto again = std::make_unique<EncodeTask>();
    again->pair = m_current->pair;
    again->job = std::move(job);
    again->generation = m_current->generation.load();
    again->retried = true;
    m_current = std::move(again);
    startCurrent();
    return true;
}

// The input was replaced or written to while it was read: its MP3 would hold old or mixed audio.
// It is encoded again from what is there now, once; changed again, it is not converted.
void Mp3Enc::deliverInputChanged(quint64 generation, int number, const QString &text)
{
    if (generation != m_generation)
        return;
    int failure = number;
    QString reason = text;
    if (m_current && !m_current->retried) {
        m_newestFrame = 0;
        m_lastFrame = 0;
        if (startOver(&failure, &reason)) {
            m_frameCount = m_current->job->frameCount();
            return;
        }
    }
    m_pump->post({EventPump::Delivery::Failure, generation, failure, reason, {}});
    m_pump->post({EventPump::Delivery::Ended, generation, 0, reason, {}});
}

// A file encoded ahead becomes the current one: it goes first for cores from now on, its progress
// reaches the host, and once encoded it is written.
void Mp3Enc::claim(EncodeTask &task)
{
    const int newest = task.newestFrame.load();
    m_newestFrame = newest;
    {
        std::lock_guard lock(task.mutex);
        task.generation = ++m_generation;
        task.claimed = true;
    }
    task.changed.notify_all();
    m_pool.reordered(); // it goes first for cores now
    if (newest > 0)
        postFrame(task.generation.load()); // shown at once, however far it got
}

void Mp3Enc::Prefetch(const FilePair &pair)
{
    if (cores() <= 1)
        return;
    const EncodeSettings now = settings();
    for (auto it = m_ahead.begin(); it != m_ahead.end(); ++it) {
        EncodeTask &task = **it;
        if (!task.pair.samePart(pair))
            continue;
        if (task.pair == pair && task.settings == now)
            return;
        // The host has since chosen another output or other settings for this file.
        task.abandon();
        m_ahead.erase(it);
        break;
    }
    if (m_ahead.size() >= maxAhead())
        return;
    auto task = std::make_unique<EncodeTask>();
    try {
        task->job = prepare(pair);
    } catch (const rt::ComError &) {
        return; // Open refuses it when its turn comes, and says why
    }
    task->pair = pair;
    task->settings = now;
    task->frameCount = task->job->frameCount();
    if (::fstat(task->job->inputDescriptor(), &task->inputState) != 0 ||
        ::fstat(task->job->folderDescriptor(), &task->folderState) != 0)
        return;
    m_pool.setCores(cores());
    queue(*task);
    startThread(*task);
    m_ahead.push_back(std::move(task));
}

// The pair Open reached, if it was encoded ahead with today's settings. The files ahead of it,
// which the host passed over, and an older version of it are dropped.
std::unique_ptr<EncodeTask> Mp3Enc::takeAhead(const FilePair &pair)
{
    const EncodeSettings now = settings();
    std::unique_ptr<EncodeTask> found;
    std::size_t passed = 0;
    for (std::size_t i = 0; i < m_ahead.size() && !found; ++i) {
        EncodeTask &task = *m_ahead[i];
        if (task.pair == pair && task.settings == now) {
            found = std::move(m_ahead[i]);
            passed = i + 1;
        }
    }
    for (std::size_t k = 0; k < m_ahead.size(); ++k) {
        if (m_ahead[k] && (k < passed || m_ahead[k]->pair.samePart(pair)))
            m_ahead[k].reset(); // abandons it
    }
    std::erase(m_ahead, nullptr);
    return found;
}

void Mp3Enc::Stop()
{
    // All at once, so they stop side by side rather than one after another.
    for (auto &task : m_ahead)
        task->requestStop();
    if (m_openedAhead)
        m_openedAhead->requestStop();
    if (m_current)
        m_current->requestStop();
    for (auto &task : m_ahead)
        task->abandon();
    m_ahead.clear();
    m_openedAhead.reset();
    if (m_current)
        m_current->abandon();
    m_current.reset();
    m_running = false;
    ++m_generation; // whatever the stopped encode still had queued is now dropped
    if (m_measures)
        m_measures->stop();
    m_measuring.clear();
    ++m_measureGeneration;
}

namespace {

__attribute__((target("avx"))) void zeroUpper()
{
    _mm256_zeroupper();
}

// The input was replaced or written to while it was read.
EncodeResult inputChangedResult()
{
    EncodeResult changed = failedResult(rt::ErrDeviceIO, reasons::InputChanged);
    changed.inputChanged = true;
    return changed;
}

// A new thread inherits its creator's vector registers. When the user-interface thread left the
// upper halves of its AVX registers in use, every SSE instruction of the encoder pays for the
// mixed state (measured: LAME about 10 % slower); clearing it once avoids that.
void clearUpperVectorState()
{
    if (__builtin_cpu_supports("avx"))
        zeroUpper();
}

} // namespace

void Mp3Enc::runTask(EncodeTask *task, std::stop_token stop)
{
    clearUpperVectorState();
    // A progress display needs no more than a few dozen updates a second; each one wakes the
    // host's thread. A file ahead of its turn keeps its progress to itself.
    using Clock = std::chrono::steady_clock;
    constexpr auto ProgressInterval = std::chrono::milliseconds(20);
    Clock::time_point nextPost{};
    const auto progress = [&](int frame) {
        task->newestFrame.store(frame);
        if (!task->claimed.load())
            return;
        m_newestFrame.store(frame);
        if (const auto now = Clock::now(); now >= nextPost) {
            nextPost = now + ProgressInterval;
            postFrame(task->generation.load());
        }
    };
    EncodeResult result = guarded([&] { return task->job->run(stop, progress); });
    m_pool.finish(task->ticket); // no longer work that keeps a core busy
    QString notice;
    if (result.status == EncodeResult::Failed)
        task->failed = true;
    // Written only when its turn comes: a file ahead waits to be claimed (or dropped).
    {
        std::unique_lock lock(task->mutex);
        task->changed.wait(lock, stop, [&] { return task->claimed.load(); });
    }
    if (stop.stop_requested())
        result.status = EncodeResult::Stopped;
    else if (result.status == EncodeResult::Done && !task->job->inputUnchanged())
        result = inputChangedResult(); // old or mixed audio: encoded again, or not converted
    else if (result.status == EncodeResult::Done)
        result = guarded([&] { return task->job->commit(); });
    if (result.status == EncodeResult::Done) {
        m_frameCount.store(task->job->frameCount());
        m_newestFrame.store(task->job->frameCount());
        const QByteArray name = task->job->placedName();
        if (!name.isEmpty()) {
            const QString &output = task->pair.output;
            const QString placed =
                output.left(output.lastIndexOf(u'/') + 1) + rt::decodeFileName(name);
            m_albumGain.setLast(placed, task->job->loudness());
            setPlaced(placed);
            notice = task->job->notice();
        }
    }
    task->job.reset(); // files closed (and a temporary removed) before the host hears of the end
    if (result.status == EncodeResult::Stopped)
        return;
    const quint64 generation = task->generation.load();
    if (result.status == EncodeResult::Failed &&
        (result.errorNumber == rt::ErrDiskFull || result.inputChanged)) {
        const auto kind = result.inputChanged ? EventPump::Delivery::InputChanged
                                              : EventPump::Delivery::OutOfSpace;
        m_pump->post({kind, generation, result.errorNumber, result.errorText, {}});
        return;
    }
    if (result.status == EncodeResult::Failed)
        postFailure(generation, result.errorNumber, result.errorText);
    else
        postFrame(generation); // the last number always reaches the host, before ThreadEnded
    if (result.status == EncodeResult::Failed)
        postEnded(generation, result.errorText, {});
    else
        postEnded(generation, {}, notice);
}

void Mp3Enc::setPlaced(const QString &path)
{
    std::lock_guard lock(m_placedMutex);
    m_placed = path;
}
