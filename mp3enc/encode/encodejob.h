#pragma once

#include "mp3enc/calc/encoderesult.h"
#include "mp3enc/encode/corepool.h"
#include "mp3enc/encode/lameencoder.h"
#include "mp3enc/encode/tempoutput.h"
#include "mp3enc/input/sndfilereader.h"
#include "mp3enc/segments/segmentplan.h"
#include "mp3enc/tags/audiotags.h"

#include <QString>
#include <QVariantMap>
#include <atomic>
#include <memory>
#include <stop_token>

class Mp3Layout;
class LoudnessMeter;
class ParallelEncode;

// Whether the file open on `descriptor` is as `before` describes it: the same file, neither
// written to nor changed since (size, modification and change time).
bool sameFileState(const struct stat &before, int descriptor);

// The input's tags with the fields `given` sets over them (a track's, from its cue sheet).
AudioTags withTags(AudioTags tags, const QVariantMap &given);

// One opened input/output pair, encoded block by block so memory does not grow with the file.
// Runs on the worker thread; knows nothing of threads or events.
class EncodeJob
{
public:
    // `inputPath`: what the reader opened, looked at again when the MP3 is put in place.
    EncodeJob(std::unique_ptr<SndFileReader> reader, std::unique_ptr<LameEncoder> encoder,
              const QString &outputPath, const QString &inputPath = {});
    ~EncodeJob();

    // Lets run() encode the file in segments on several cores when it is long enough and its
    // rate is kept; `settings` are the ones the encoder was set up with. The segments read the
    // file the reader has open, not whatever its name leads to later.
    void allowSegments(const LameEncoder::Settings &settings, SegmentOptions options);
    // The segmented encode run() tries first, if any.
    const ParallelEncode *parallel() const { return m_parallel.get(); }

    // The input file the reader has open, and the output's folder as it was when the pair was
    // opened (-1 if it could not be): the MP3 goes into that folder or nowhere.
    int inputDescriptor() const { return m_reader->descriptor(); }
    int folderDescriptor() const { return m_folderFd; }
    // The input as it was when the job was made.
    const struct stat &inputState() const { return m_inputState; }

    // What commit() does where something stands under the output's name by then.
    void setIfExists(TempOutput::IfExists rule) { m_ifExists = rule; }
    // After commit(): the output's name within its folder as it was put in place; empty when
    // the rule left what stood there.
    QByteArray placedName() const { return m_placedName; }

    // Tags by field ("title", "artist", "track", ...) over the input's own, in the MP3.
    void setTags(const QVariantMap &tags) { m_tags = tags; }

    // Measures the ReplayGain 2.0 loudness and peak of what LAME is given, and writes them as the
    // track's frames into the MP3's ID3v2 tag (one is made for an input without tags).
    void measureReplayGain(bool on) { m_measure = on; }
    // After run(): the meter of the file encoded, when it was measured.
    std::shared_ptr<const LoudnessMeter> loudness() const { return m_meter; }

    // Exact; for an input whose length is only an estimate, exact once run() has ended.
    int frameCount() const { return m_frameCount; }
    // After run(): what of the input's tags the MP3 could not carry, for the user; or empty.
    QString notice() const { return m_notice; }

    // Encodes into an unnamed file that only commit() puts in place, so a file encoded ahead of
    // its turn is written when its turn comes. Its threads take their cores from `pool` (none:
    // unlimited) in the turn of `ticket`, which the pool also asks whether the file is worth
    // cutting into segments when it starts.
    void schedule(CorePool *pool, CoreTicket *ticket);
    using Progress = EncodeProgress;
    EncodeResult run(std::stop_token stop, const Progress &progress);
    EncodeResult commit();
    // Whether the input is still the file the MP3 was made from, as it was: not replaced under
    // its name, nor written to since the job was made. The MP3 is made from the file opened
    // whatever happens to its name; whether it may still stand for the input is the host's call.
    bool inputUnchanged() const;

private:
    // The file in one piece, block by block.
    EncodeResult encodeWhole(Mp3Layout &file, CorePool::Lease &core, const std::stop_token &stop,
                             const Progress &progress);

    std::unique_ptr<SndFileReader> m_reader;
    std::unique_ptr<LameEncoder> m_encoder;
    QString m_outputPath;
    QString m_inputPath;
    struct stat m_inputState = {};
    struct timespec m_openedAt = {}; // when the input was opened
    TempOutput::IfExists m_ifExists = TempOutput::IfExists::Replace;
    QByteArray m_placedName;
    std::unique_ptr<ParallelEncode> m_parallel;
    std::unique_ptr<TempOutput> m_out;
    CorePool *m_pool = nullptr;
    CoreTicket *m_ticket = nullptr;
    int m_frameCount;
    int m_folderFd = -1;
    QVariantMap m_tags;
    QString m_notice;
    std::atomic<bool> m_cancel{false}; // set by a stop: the reader gives up a read under way
    bool m_measure = false;
    std::shared_ptr<LoudnessMeter> m_meter;

    std::shared_ptr<LoudnessMeter> newMeter() const;
    EncodeResult writeTrackGain(const QByteArray &v2);
};
