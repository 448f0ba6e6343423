#pragma once

#include "mp3enc/component/albummeasures.h"
#include "mp3enc/encode/albumgain.h"
#include "mp3enc/encode/corepool.h"
#include "mp3enc/encode/lameencoder.h"
#include "runtime/control.h"

#include <QHash>
#include <QObject>
#include <QVariantMap>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <stop_token>
#include <utility>

class EncodeJob;
class EventPump;
class SndFileReader;
struct EncodeTask;

// What one encode takes in and writes: an input file, or a part of it (a track of an album held
// in one file, with tags of its own over the file's), and its MP3.
struct FilePair
{
    QString input;
    QString output;
    qint64 first = 0; // the part: `count` frames from `first`; count 0 is the whole file
    qint64 count = 0;
    QVariantMap tags; // by field, over the input's own ("title", "artist", "track", ...)
    bool samePart(const FilePair &other) const
    {
        return input == other.input && first == other.first && count == other.count;
    }
    bool operator==(const FilePair &) const = default;
};

// The properties an encode was started with: a file encoded ahead is used only with the same.
struct EncodeSettings
{
    int rateMode = 0;
    int vbrQuality = 0;
    int bitRate = 0;
    bool downMix = false;
    bool allowDownSample = false;
    int threads = 0;
    int ifExists = 0;
    int replayGain = 0;
    bool operator==(const EncodeSettings &) const = default;
};

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
        IdPrefetch = 14,
        IdLastError = 15,
        IdLastNotice = 16,
        IdRateMode = 17,
        IdVbrQuality = 18,
        IdIfExists = 19,
        IdLastOutput = 20,
        IdTags = 30,
        IdOpenPart = 31,
        IdPrefetchPart = 32,
        IdCueSheet = 33,
        IdAudioLength = 34,
        IdRetag = 35,
        IdEncoderVersion = 36,
        IdFrontCover = 37,
        IdReplayGain = 38,
        IdTrackGain = 39,
        IdTrackPeak = 40,
        IdAddToAlbum = 41,
        IdWriteAlbumGain = 42,
        IdMeasureForAlbum = 43,
        IdForgetAlbum = 44,
        IdFilesToCome = 45,
    };
    // ReplayGain: the ReplayGain 2.0 frames the MP3s opened later get.
    enum : int
    {
        NoReplayGain = 0, // none: the MP3 is what the lame command writes
        TrackGain = 1,    // each file's own gain and peak
        AlbumGain = 2,    // and, through AddToAlbum and WriteAlbumGain, its album's
    };
    // RateMode: how BitRate and VbrQuality are used, as the lame command's -b, -V and --abr.
    enum : int
    {
        ConstantRate = 0, // every frame at BitRate
        VariableRate = 1, // each frame as large as VbrQuality needs
        AverageRate = 2,  // frames of any size, BitRate on average
    };
    // IfExists: what is done, when a file is put in place, with what stands under its name then.
    enum : int
    {
        ReplaceExisting = 0, // replace it (never a write-protected file)
        KeepExisting = 1,    // leave it, and write nothing
        RenameNew = 2,       // put the new file under the next free "name (N).mp3"
        ReplaceOlder =
            3, // replace what stood there when the file was opened, leave one changed since
    };
    enum : rt::DispId
    {
        EventActFrame = 1,
        EventThreadEnded = 2,
        EventFailure = 3,
        EventAlbumMeasured = 4
    };

    explicit Mp3Enc(rt::ControlSite *site);
    ~Mp3Enc() override;

    QList<rt::MemberInfo> members() const override;
    QVariant getProperty(rt::DispId id) override;
    void putProperty(rt::DispId id, const QVariant &value) override;
    QVariant invoke(rt::DispId id, const QVariantList &args) override;

    // Each failure, here or in the encode Encode starts, is kept in LastError.
    void Open(const QString &inputFile, const QString &outputFile);
    // Open for `count` frames of the input from frame `first`, as if they were a file of their
    // own (an MP3 of exactly their length), with `tags` over the input's own.
    void OpenPart(const FilePair &pair);
    void Encode();
    void Stop();
    int GetFrameCount() const { return m_frameCount.load(); }
    // The host will open this pair later: it may be encoded ahead, on cores the current file
    // leaves idle, and is written only when Open and Encode reach it. Ignored with one core, for
    // a pair Open would refuse (Open says why when its turn comes) and past a few files ahead.
    void Prefetch(const FilePair &pair);
    // The tags the input's MP3 would carry, by field (for names made from tags).
    QVariantMap Tags(const QString &inputFile) const;
    // The cue sheet a FLAC file carries, as text; "" when none.
    QString EmbeddedCueSheet(const QString &inputFile) const;
    // The input's sample rate and length in frames.
    QVariantList AudioLength(const QString &inputFile) const;
    // The front cover the input carries, as its bytes (JPEG or PNG); empty when none.
    QByteArray FrontCover(const QString &inputFile) const;
    // The MP3 `mp3File` made from `inputFile` given the input's tags as they are now (with
    // `tags` over them), without encoding it again, and put under `newMp3File` when that is
    // another name (which must be free). "" when done, else why not, in the user's words.
    QString Retag(const QString &inputFile, const QString &mp3File, const QString &newMp3File,
                  const QVariantMap &tags) const;
    // The pair's MP3, kept as it is, belongs to `album`: its input is measured as the encoder
    // would hear it with today's settings, not encoded, on a thread of its own. AlbumMeasured
    // follows once every measure handed over for the album has ended.
    void MeasureForAlbum(const QString &album, const FilePair &pair);

private:
    friend class EventPump;

    // Files encoded ahead, at most: one more than the cores, so that a file starting on a core
    // knows whether files follow it.
    std::size_t maxAhead() const { return std::size_t(cores()) + 1; }
    // A task in the queue for cores.
    void queue(EncodeTask &task);

    void refuseWhileEncoding(const char *call) const;
    void openPair(const FilePair &pair);
    void start();
    int cores() const;
    std::unique_ptr<EncodeJob> prepare(const FilePair &pair);
    // LAME's settings for `reader` by today's properties, and LAME set up by them (throws when
    // it refuses them).
    LameEncoder::Settings lameSettings(const SndFileReader &reader) const;
    std::unique_ptr<LameEncoder> encoderFor(const LameEncoder::Settings &settings) const;
    EncodeSettings settings() const;
    std::unique_ptr<EncodeTask> takeAhead(const FilePair &pair);
    void claim(EncodeTask &task);
    void startThread(EncodeTask &task);
    void runTask(EncodeTask *task, std::stop_token stop);
    // Worker side: queue a delivery on the creating thread.
    void postFrame(quint64 generation); // of m_newestFrame
    void postFailure(quint64 generation, int number, const QString &text);
    void postEnded(quint64 generation, const QString &failure, const QString &notice);
    // Creating-thread side: drop what belongs to a stopped encode, else raise the event.
    void deliverFrame(quint64 generation);
    void deliverFailure(quint64 generation, int number, const QString &text);
    void deliverEnded(quint64 generation, const QString &failure, const QString &notice);
    void deliverOutOfSpace(quint64 generation, int number, const QString &text);
    void deliverInputChanged(quint64 generation, int number, const QString &text);
    void deliverMeasured(AlbumMeasures::Result result);
    void startCurrent();
    bool startOver(int *number = nullptr, QString *text = nullptr);
    void setPlaced(const QString &path);

    int m_rateMode = ConstantRate;
    int m_vbrQuality = 4; // LAME's own default
    int m_bitRate = 128000;
    bool m_downMix = true;
    bool m_allowDownSample = true;
    int m_threads = 0; // 0: every core
    int m_ifExists = ReplaceExisting;
    int m_replayGain = NoReplayGain;
    int m_filesToCome = 0;
    bool m_filesToComeGiven = false; // the host says it: each Encode waits for it briefly
    ::AlbumGain m_albumGain; // the meters of files converted, until their albums are written
    QString m_lastError;
    QString m_lastNotice; // what the last file converted lacks of its input's tags
    // Set by Open; made exact by the worker, before its last ActFrame, where the input's length
    // was only an estimate.
    std::atomic<int> m_frameCount{0};
    // Where the last file opened was put in place, set by the worker as it does so: "" until
    // then, and when the rule left what stood there.
    QString m_placed;
    mutable std::mutex m_placedMutex;
    CorePool m_pool;                           // before the tasks, which queue in it
    std::unique_ptr<EncodeJob> m_opened;       // by Open, for Encode
    FilePair m_openedPair;                     // what it reads and writes
    std::unique_ptr<EncodeTask> m_openedAhead; // or a file encoded ahead that Open reached
    std::unique_ptr<EncodeTask> m_current;     // the file being converted
    std::deque<std::unique_ptr<EncodeTask>> m_ahead;

    // Albums whose kept MP3s are being measured: how many measures are still out, and why the
    // first that failed did.
    struct Measuring
    {
        int left = 0;
        QString problem;
    };
    QHash<QString, Measuring> m_measuring;
    quint64 m_measureGeneration = 0; // bumped by Stop: measures handed over before are dropped

    EventPump *m_pump;
    // After the pump, which its results are posted to; reset first in the destructor.
    std::unique_ptr<AlbumMeasures> m_measures;
    bool m_running = false;
    quint64 m_generation = 0; // bumped by Stop: events of an older encode are dropped
    int m_lastFrame = 0;
    std::atomic<int> m_newestFrame{0};
    std::atomic<bool> m_framePosted{false}; // at most one ActFrame waits in the queue
};
