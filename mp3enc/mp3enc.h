#pragma once

#include "runtime/control.h"

#include <QObject>
#include <atomic>
#include <memory>
#include <thread>

class EncodeJob;
class EventPump;

// The encoder component "MP3ENCLib.Mp3Enc": converts one audio file to MP3 at a time on a worker
// thread and reports on the thread that created it.
class Mp3Enc final : public rt::Control
{
public:
    // Dispatch identifiers of the members and events.
    enum : rt::DispId
    {
        IdBitRate = 1,
        IdDownMix = 7,
        IdAllowDownSample = 8,
        IdEncode = 9,
        IdStop = 10,
        IdOpen = 11,
        IdGetFrameCount = 12,
        IdThreads = 13,
    };
    enum : rt::DispId
    {
        EventActFrame = 1,
        EventThreadEnded = 2,
        EventFailure = 3
    };

    explicit Mp3Enc(rt::ControlSite *site);
    ~Mp3Enc() override;

    QList<rt::MemberInfo> members() const override;
    QVariant getProperty(rt::DispId id) override;
    void putProperty(rt::DispId id, const QVariant &value) override;
    QVariant invoke(rt::DispId id, const QVariantList &args) override;

    void Open(const QString &inputFile, const QString &outputFile);
    void Encode();
    void Stop();
    int GetFrameCount() const { return m_frameCount.load(); }

private:
    friend class EventPump;

    void refuseWhileEncoding(const char *call) const;
    void runWorker(std::unique_ptr<EncodeJob> job, quint64 generation);
    // Worker side: queue a delivery on the creating thread.
    void postFrame(quint64 generation); // of m_newestFrame
    void postFailure(quint64 generation, int number, const QString &text);
    void postEnded(quint64 generation);
    // Creating-thread side: drop what belongs to a stopped encode, else raise the event.
    void deliverFrame(quint64 generation);
    void deliverFailure(quint64 generation, int number, const QString &text);
    void deliverEnded(quint64 generation);

    int m_bitRate = 128000;
    bool m_downMix = true;
    bool m_allowDownSample = true;
    int m_threads = 0; // 0: every core
    // Set by Open; made exact by the worker, before its last ActFrame, where the input's length
    // was only an estimate.
    std::atomic<int> m_frameCount{0};
    std::unique_ptr<EncodeJob> m_opened;

    EventPump *m_pump;
    std::thread m_worker;
    bool m_running = false;
    quint64 m_generation = 0; // bumped by Stop: events of an older encode are dropped
    int m_lastFrame = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_newestFrame{0};
    std::atomic<bool> m_framePosted{false}; // at most one ActFrame waits in the queue
};
