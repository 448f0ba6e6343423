#pragma once

#include "mp3enc/calc/encoderesult.h"
#include "mp3enc/calc/ratechoice.h"
#include "mp3enc/encode/lameencoder.h"
#include "mp3enc/segments/segmentplan.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

class CorePool;
struct CoreTicket;
class LoudnessMeter;
class Mp3Layout;
class SndFileReader;
struct SegmentOutput;
class StreamJoin;

// Encodes one file as segments on a pool of threads and joins them, in order, into one stream
// with the frames, sizes and info tag the whole-file encode would have. Memory stays bounded:
// only a few segments are encoded ahead of the join, and an encoder that runs on over the next
// segment forgets what is joined.
class ParallelEncode
{
public:
    // `settings` describe the whole file as the one-piece encoder has them; `rates` how its
    // frames are sized; `totalFrames` is its frame count, `lameScale` the factor the encoder
    // scales samples by. Every segment reads the file `input` has open; it must outlive this.
    ParallelEncode(const SndFileReader &input, const LameEncoder::Settings &settings,
                   ratechoice::Rates rates, float lameScale, std::int64_t totalFrames,
                   SegmentPlan plan, SegmentOptions options);
    ~ParallelEncode();
    ParallelEncode(const ParallelEncode &) = delete;
    ParallelEncode &operator=(const ParallelEncode &) = delete;

    // Empty when the segments could not be joined: nothing is left behind, and the file must be
    // encoded in one piece. Writes `file` (created here for `outputPath`) but leaves its commit
    // to the caller.
    std::optional<EncodeResult> run(Mp3Layout &file, const QString &outputPath,
                                    std::stop_token stop, const EncodeProgress &progress);
    // The segments' workers take their cores from `pool` in the turn of `ticket`.
    void schedule(CorePool *pool, CoreTicket *ticket);
    // `meter` hears the whole input too (none: nothing beyond the radio gain), and the info tag's
    // radio gain is then its track gain.
    void setMeter(LoudnessMeter *meter) { m_meter = meter; }

    const SegmentPlan &plan() const { return m_plan; }
    // After run(): whether the segments were joined, how many segments had no frame to join at
    // (the earlier segment's encoder then ran on over the whole of one), the frames where the
    // seams are, and for every seam the frames the earlier encoder ran on for on the joining
    // thread (0 where a frame of the window joined).
    bool joined() const { return m_joinedAll; }
    int extended() const { return m_extended; }
    const std::vector<std::int64_t> &seams() const { return m_seams; }
    const std::vector<std::int64_t> &serialFrames() const { return m_serialFrames; }

private:
    // Frames the earlier encoder runs on for between two tries of a seam.
    static constexpr int RunOnStep = 4;

    struct Loudness;
    // The stream so far: the encoder whose frames go on, and the first segment's info tag.
    struct Joined
    {
        std::unique_ptr<SegmentOutput> last;
        std::vector<unsigned char> tag;
    };

    // Where a segment's meter measures the input, and how many frames first settle it.
    struct MeasuredPart
    {
        std::int64_t from = 0;
        std::int64_t to = 0;
        int settle = 0;
        std::unique_ptr<LoudnessMeter> meter;
    };
    // The meter's parts for the segments, if the plan leaves room for them; else the loudness
    // pass measures the whole input.
    bool planParts();
    void startLoudness(Loudness &pass);
    // Every segment joined and written, in order; Done when the stream is whole.
    std::optional<EncodeResult> joinAll(Mp3Layout &file, StreamJoin &join, Joined &joined,
                                        const std::stop_token &stop);
    // The info tag, once the loudness pass has its figure, and the ID3v1 tag.
    std::optional<EncodeResult> finishTags(Mp3Layout &file, const StreamJoin &join, Joined &joined,
                                           Loudness &pass, const std::stop_token &stop);
    std::optional<EncodeResult> joinNext(std::unique_ptr<SegmentOutput> &a,
                                         std::unique_ptr<SegmentOutput> b, std::size_t i,
                                         StreamJoin &join);
    std::optional<EncodeResult> runOn(SegmentOutput &a, std::size_t i, std::int64_t until,
                                      const StreamJoin &join, std::int64_t *serial);
    bool rebuildTag(std::vector<unsigned char> &tag, const StreamJoin &join,
                    std::uint16_t radioGain, int padding) const;
    std::unique_ptr<SegmentOutput> encodeSegment(std::size_t i, const std::stop_token &stop) const;
    // Benchmarks: the joining thread's CPU time since `start` goes to segment i.
    void timeJoin(std::size_t i, double &start) const;
    // Input sample up to which an encoder must run for its frames to reach `frame`; for
    // segment i's encoder, its end.
    std::int64_t sampleFor(std::int64_t frame) const;
    std::int64_t endSample(std::size_t i) const;
    bool stopped() const { return m_abort.stop_requested(); }
    void startWorkers();
    void stopWorkers();
    void work(const std::stop_token &stop);
    std::unique_ptr<SegmentOutput> take(std::size_t i);
    // Waits until `done` (guarded by m_mutex) holds or a stop is requested; false for a stop.
    bool waitFor(const bool &done, const std::stop_token &stop);

    const SndFileReader &m_input;
    LameEncoder::Settings m_settings;
    ratechoice::Rates m_rates;
    float m_lameScale;
    std::int64_t m_totalFrames;
    int m_samplesPerFrame;
    SegmentPlan m_plan;
    SegmentOptions m_options; // threads > 1
    bool m_joinedAll = false;
    int m_extended = 0;
    std::vector<std::int64_t> m_seams;
    std::vector<std::int64_t> m_serialFrames;

    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::vector<std::unique_ptr<SegmentOutput>> m_done;
    std::size_t m_next = 0;   // next segment to encode
    std::size_t m_joined = 0; // segments the join has taken
    // Stops the workers and the join: requested by a stop of the run, and when the join needs
    // no more segments.
    std::stop_source m_abort;
    CorePool *m_pool = nullptr;
    CoreTicket *m_ticket = nullptr;
    LoudnessMeter *m_meter = nullptr;
    std::vector<MeasuredPart> m_parts; // segment i's is fed on the worker that encodes it
    std::vector<std::jthread> m_workers;
};
