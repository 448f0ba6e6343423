// How the encoder behaves as a component: refusals, events, Stop, failures mid-file.
#include "converter/encoder/mp3enc.h"
#include "runtime/comerror.h"
#include "runtime/objectfactory.h"
#include "tests/mp3enc/encoderfixture.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

constexpr int IdActFrame = RecordingSite::ActFrame;
constexpr int IdThreadEnded = RecordingSite::ThreadEnded;
constexpr int IdFailure = RecordingSite::Failure;
const QByteArray Existing = "an MP3 that was here before";

// The binding's identifiers by member.
using K = rt::MemberKind;
const std::tuple<const char *, K, rt::DispId> BindingRows[] = {
    {"BitRate", K::Property, Mp3Enc::BitRate},
    {"DownMix", K::Property, Mp3Enc::DownMix},
    {"AllowDownSample", K::Property, Mp3Enc::AllowDownSample},
    {"Encode", K::Method, Mp3Enc::Encode},
    {"Stop", K::Method, Mp3Enc::Stop},
    {"Open", K::Method, Mp3Enc::Open},
    {"GetFrameCount", K::Method, Mp3Enc::GetFrameCount},
    {"Threads", K::Property, Mp3Enc::Threads},
    {"Prefetch", K::Method, Mp3Enc::Prefetch},
    {"LastError", K::Property, Mp3Enc::LastError},
    {"LastNotice", K::Property, Mp3Enc::LastNotice},
    {"RateMode", K::Property, Mp3Enc::RateMode},
    {"VbrQuality", K::Property, Mp3Enc::VbrQuality},
    {"IfExists", K::Property, Mp3Enc::IfExists},
    {"LastOutput", K::Property, Mp3Enc::LastOutput},
    {"Tags", K::Method, Mp3Enc::Tags},
    {"OpenPart", K::Method, Mp3Enc::OpenPart},
    {"PrefetchPart", K::Method, Mp3Enc::PrefetchPart},
    {"EmbeddedCueSheet", K::Method, Mp3Enc::EmbeddedCueSheet},
    {"AudioLength", K::Method, Mp3Enc::AudioLength},
    {"Retag", K::Method, Mp3Enc::Retag},
    {"EncoderVersion", K::Property, Mp3Enc::EncoderVersion},
    {"FrontCover", K::Method, Mp3Enc::FrontCover},
    {"ReplayGain", K::Property, Mp3Enc::ReplayGain},
    {"TrackGain", K::Property, Mp3Enc::TrackGain},
    {"TrackPeak", K::Property, Mp3Enc::TrackPeak},
    {"AddToAlbum", K::Method, Mp3Enc::AddToAlbum},
    {"WriteAlbumGain", K::Method, Mp3Enc::WriteAlbumGain},
    {"MeasureForAlbum", K::Method, Mp3Enc::MeasureForAlbum},
    {"ForgetAlbum", K::Method, Mp3Enc::ForgetAlbum},
    {"FilesToCome", K::Property, Mp3Enc::FilesToCome},
    {"ActFrame", K::Event, Mp3Enc::ActFrame},
    {"ThreadEnded", K::Event, Mp3Enc::ThreadEnded},
    {"Failure", K::Event, Mp3Enc::Failure},
    {"AlbumMeasured", K::Event, Mp3Enc::AlbumMeasured},
};

// Every worker has ended (a refused call starts none; Stop and ThreadEnded wait for theirs), so
// whatever they queued for the host is in the queue now: delivered, nothing can come after.
void deliverQueuedEvents()
{
    QCoreApplication::sendPostedEvents();
}

int callError(const std::function<void()> &call)
{
    try {
        call();
    } catch (const rt::ComError &e) {
        return e.number();
    }
    return 0;
}

bool writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// Only the MP3 that was there before is in `folder`, and it is whole.
void verifyOldOutputAlone(const QString &folder, const QString &out)
{
    QCOMPARE(folderEntries(folder), QStringList({QFileInfo(out).fileName()}));
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), Existing);
}

// The events of one encode: increasing frames ending at `frameCount`, then one ThreadEnded,
// each on the creating thread.
void verifyCompleteSequence(const RecordingSite &site, int frameCount)
{
    QVERIFY(!site.events.isEmpty());
    int last = 0;
    for (int i = 0; i < site.events.size(); ++i) {
        const auto &e = site.events[i];
        QVERIFY(e.onCreatingThread);
        if (i == site.events.size() - 1) {
            QCOMPARE(e.id, IdThreadEnded);
            break;
        }
        QCOMPARE(e.id, IdActFrame);
        QVERIFY2(e.args.value(0).toInt() > last, "ActFrame numbers must increase");
        last = e.args.value(0).toInt();
    }
    QCOMPARE(last, frameCount);
}

// In a child process: encodes `input` into `output` through the registry and waits for the
// end; `onEvent` sees each event as it comes. Returns the events, or nothing on a timeout.
std::optional<QList<RecordingSite::Event>> encodeInChild(const char *input, const char *output,
                                                         std::function<void(rt::DispId)> onEvent)
{
    int argc = 1;
    char name[] = "child";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    RecordingSite site;
    site.onEvent = std::move(onEvent);
    auto control = rt::createObject(QStringLiteral("MP3ENCLib.Mp3Enc"), &site);
    control->call(QStringLiteral("Open"),
                  {QString::fromLocal8Bit(input), QString::fromLocal8Bit(output)});
    control->call(QStringLiteral("Encode"));
    if (!QTest::qWaitFor([&] { return site.ended(); }, 60000))
        return std::nullopt;
    return site.events;
}

// Child process: encode, say so at the first frame, and wait to be killed.
int killedChild(const char *input, const char *output)
{
    const auto events = encodeInChild(input, output, [](rt::DispId) {
        std::puts("frame");
        std::fflush(stdout);
    });
    return events ? 3 : 4;
}

// Child process: encode under a file-size limit, print the events it got, one per line.
int writeLimitedChild(const char *input, const char *output, long limit)
{
    const rlimit rl{rlim_t(limit), rlim_t(limit)};
    if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
        return 2;
    const auto events = encodeInChild(input, output, {});
    if (!events)
        return 3;
    for (const auto &e : *events) {
        if (e.id != IdActFrame)
            printf("%d %s\n", e.id, qPrintable(e.args.value(0).toString()));
    }
    return 0;
}

} // namespace

class TestMp3EncControl final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void properties();
    void bindingAgrees_data();
    void bindingAgrees();
    void refusals_data();
    void refusals();
    void refusedWhileEncoding();
    void eventsOfOneEncode();
    void actFrameCoalesced();
    void nextFileStartedFromThreadEnded();
    void encodedAhead_data();
    void encodedAhead();
    void stopMidFile_data();
    void stopMidFile();
    void destroyedInsideItsOwnEvent();
    void readFailure_data();
    void readFailure();
    void writeFailure();
    void protectedWhileEncoding_data();
    void protectedWhileEncoding();
    void changedBeforePutInPlace_data();
    void changedBeforePutInPlace();
    void killedMidFile();
    void stopDuringFloatPeakScan();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
    QString m_short; // 4 s stereo
    QString m_long;  // 60 s stereo: takes far longer to encode than Stop may take
    // 3 GB of silence in a sparse file (over five hours): an encode to stop or to leave from its
    // first event, which no build finishes before that event is handled, however busy the cores.
    QString m_endless;
};

void TestMp3EncControl::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_short = path(QStringLiteral("short.wav"));
    m_long = path(QStringLiteral("long.wav"));
    QVERIFY(testsupport::writeWav(m_short, 44100 * 4, 2));
    QVERIFY(testsupport::writeWav(m_long, 44100 * 60, 2));
    m_endless = path(QStringLiteral("endless.wav"));
    SparseWav endless;
    endless.dataBytes = qint64(3) << 30;
    endless.declared = quint32(endless.dataBytes);
    QVERIFY(endless.write(m_endless));
}

// The converter calls the component through identifiers of its own binding: each must be the
// member of that name, and no member may be missing from the binding.
void TestMp3EncControl::bindingAgrees_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("id");
    for (const auto &[name, kind, id] : BindingRows)
        QTest::newRow(name) << QString::fromLatin1(name) << int(kind) << int(id);
}

void TestMp3EncControl::bindingAgrees()
{
    QFETCH(QString, name);
    QFETCH(int, kind);
    QFETCH(int, id);
    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    QCOMPARE(encoder.control->dispIdOf(name, rt::MemberKind(kind)), id);
    // As many members as the binding names: none it lacks.
    QCOMPARE(encoder.control->members().size(), qsizetype(std::size(BindingRows)));
}

void TestMp3EncControl::properties()
{
    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    rt::Control &c = *encoder.control;
    QCOMPARE(c.get(QStringLiteral("BitRate")).toInt(), 128000);
    c.put(QStringLiteral("BitRate"), 256000);
    QCOMPARE(c.getProperty(1).toInt(), 256000);
    c.put(QStringLiteral("DownMix"), false);
    c.put(QStringLiteral("AllowDownSample"), false);
    QCOMPARE(c.getProperty(7).toBool(), false);
    QCOMPARE(c.getProperty(8).toBool(), false);
    // Bit rates MP3 has no use for are refused and leave the setting alone.
    QCOMPARE(callError([&] { c.put(QStringLiteral("BitRate"), 0); }), rt::ErrInvalidCall);
    QCOMPARE(callError([&] { c.put(QStringLiteral("BitRate"), 1000000); }), rt::ErrInvalidCall);
    QCOMPARE(callError([&] { c.put(QStringLiteral("BitRate"), QStringLiteral("fast")); }),
             rt::ErrTypeMismatch);
    QCOMPARE(c.getProperty(1).toInt(), 256000);
    // The rate mode (constant, variable, average) and the variable rate's quality, as lame's.
    QCOMPARE(c.get(QStringLiteral("RateMode")).toInt(), 0);
    QCOMPARE(c.get(QStringLiteral("VbrQuality")).toInt(), 4);
    c.put(QStringLiteral("RateMode"), 1);
    c.put(QStringLiteral("VbrQuality"), 0);
    QCOMPARE(c.getProperty(17).toInt(), 1);
    QCOMPARE(c.getProperty(18).toInt(), 0);
    for (const auto &[name, bad] :
         {std::pair{"RateMode", -1}, {"RateMode", 3}, {"VbrQuality", -1}, {"VbrQuality", 10}})
        QCOMPARE(callError([&] { c.put(QLatin1String(name), bad); }), rt::ErrInvalidCall);
    QCOMPARE(c.getProperty(17).toInt(), 1);
    QCOMPARE(c.getProperty(18).toInt(), 0);
    // What is done with a file under the output's name: replaced unless told otherwise.
    QCOMPARE(c.get(QStringLiteral("IfExists")).toInt(), 0);
    c.putProperty(19, 3);
    QCOMPARE(c.getProperty(19).toInt(), 3);
    QCOMPARE(callError([&] { c.put(QStringLiteral("IfExists"), 4); }), rt::ErrInvalidCall);
    QCOMPARE(c.getProperty(20).toString(), QString()); // LastOutput: nothing put in place yet
    // Late binding by identifier, as the converter calls it.
    QCOMPARE(c.dispIdOf(QStringLiteral("Open"), rt::MemberKind::Method), 11);
    QCOMPARE(c.dispIdOf(QStringLiteral("GetFrameCount"), rt::MemberKind::Method), 12);
    QCOMPARE(c.dispIdOf(QStringLiteral("Failure"), rt::MemberKind::Event), 3);
    QCOMPARE(callError([&] { c.invoke(11, {m_short}); }), rt::ErrWrongArgumentCount);
}

void TestMp3EncControl::refusals_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("downMix");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("reason"); // how LastError begins

    const QString out = path(QStringLiteral("out.mp3"));
    QTest::newRow("missing input") << path(QStringLiteral("none.wav")) << out << true
                                   << int(rt::ErrFileNotFound) << QStringLiteral("文件不存在");
    QTest::newRow("folder as input")
        << m_dir.path() << out << true << 321 << QStringLiteral("不是普通文件");
    QTest::newRow("pipe as input")
        << path(QStringLiteral("pipe.wav")) << out << true << 321 << QStringLiteral("不是普通文件");
    QTest::newRow("text file as input") << path(QStringLiteral("text.wav")) << out << true << 321
                                        << QStringLiteral("不是能转换的音频文件");
    QTest::newRow("no samples") << path(QStringLiteral("empty.wav")) << out << true << 321
                                << QStringLiteral("文件中没有声音");
    QTest::newRow("output is the input") << m_short << m_short << true << int(rt::ErrPathFileAccess)
                                         << QStringLiteral("MP3会覆盖输入文件");
    QTest::newRow("output spells the input otherwise")
        << m_short << m_dir.path() + QStringLiteral("/./sub/../short.wav") << true
        << int(rt::ErrPathFileAccess) << QStringLiteral("MP3会覆盖输入文件");
    QTest::newRow("output is a link to the input")
        << m_short << path(QStringLiteral("link.mp3")) << true << int(rt::ErrPathFileAccess)
        << QStringLiteral("MP3会覆盖输入文件");
    QTest::newRow("output is a hard link to the input")
        << m_short << path(QStringLiteral("hard.mp3")) << true << int(rt::ErrPathFileAccess)
        << QStringLiteral("MP3会覆盖输入文件");
    QTest::newRow("output folder missing")
        << m_short << path(QStringLiteral("nowhere/out.mp3")) << true << int(rt::ErrPathNotFound)
        << QStringLiteral("输出目录不存在");
    QTest::newRow("output folder not writable")
        << m_short << QStringLiteral("/proc/1/out.mp3") << true << int(rt::ErrPermissionDenied)
        << QStringLiteral("没有在输出目录中写入的权限");
    QTest::newRow("output is a folder")
        << m_short << path(QStringLiteral("sub")) << true << int(rt::ErrPathFileAccess)
        << QStringLiteral("MP3会与一个文件夹同名");
    QTest::newRow("output write-protected")
        << m_short << path(QStringLiteral("protected.mp3")) << true << int(rt::ErrPermissionDenied)
        << QStringLiteral("同名的MP3受写保护");
    QTest::newRow("output name too long for the folder")
        << m_short << path(QString(90, QChar(u'歌')) + QStringLiteral(".mp3")) << true
        << int(rt::ErrBadFileName) << QStringLiteral("MP3的文件名太长");
    QTest::newRow("output folder is a file")
        << m_short << m_short + QStringLiteral("/out.mp3") << true << int(rt::ErrPathNotFound)
        << QStringLiteral("输出目录不存在");
    QTest::newRow("six channels without DownMix")
        << path(QStringLiteral("six.wav")) << out << false << int(rt::ErrInvalidCall)
        << QStringLiteral("有6个声道");
}

// A refused Open fails the call, creates nothing, changes nothing, and leaves nothing to encode.
void TestMp3EncControl::refusals()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(bool, downMix);
    QFETCH(int, error);
    QFETCH(QString, reason);
    QDir(m_dir.path()).mkpath(QStringLiteral("sub"));
    QVERIFY(writeText(path(QStringLiteral("text.wav")), "RIFF? no, just words"));
    QVERIFY(QFile::exists(path(QStringLiteral("empty.wav"))) ||
            testsupport::writeWav(path(QStringLiteral("empty.wav")), 0, 2));
    QVERIFY(QFile::exists(path(QStringLiteral("six.wav"))) ||
            testsupport::writeWav(path(QStringLiteral("six.wav")), 4410, 6, 44100,
                                  SF_FORMAT_WAVEX | SF_FORMAT_PCM_16));
    QFile::link(m_short, path(QStringLiteral("link.mp3")));
    ::mkfifo(QFile::encodeName(path(QStringLiteral("pipe.wav"))).constData(), 0644);
    if (!QFile::exists(path(QStringLiteral("hard.mp3"))))
        QCOMPARE(::link(QFile::encodeName(m_short).constData(),
                        QFile::encodeName(path(QStringLiteral("hard.mp3"))).constData()),
                 0);
    // Write-protected as rm sees it: refused even for root, who could replace it.
    const QString protectedFile = path(QStringLiteral("protected.mp3"));
    if (!QFile::exists(protectedFile)) {
        QVERIFY(writeText(protectedFile, Existing));
        QVERIFY(QFile::setPermissions(protectedFile, QFileDevice::ReadOwner |
                                                         QFileDevice::ReadGroup |
                                                         QFileDevice::ReadOther));
    }
    const QStringList before = folderEntries(m_dir.path());
    const QByteArray inputDigest = fileDigest(m_short);
    const QByteArray protectedDigest = fileDigest(protectedFile);

    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    encoder.control->put(QStringLiteral("DownMix"), downMix);
    QCOMPARE(callError([&] {
                 encoder.control->call(QStringLiteral("Open"), {input, output});
             }),
             error);
    const QString lastError = encoder.control->get(QStringLiteral("LastError")).toString();
    QVERIFY2(lastError.startsWith(reason), qPrintable(lastError));
    QCOMPARE(encoder.control->call(QStringLiteral("GetFrameCount")).toInt(), 0);
    QCOMPARE(callError([&] { encoder.control->call(QStringLiteral("Encode")); }),
             rt::ErrInvalidCall);
    deliverQueuedEvents();
    QVERIFY(encoder.site.events.isEmpty());
    QCOMPARE(folderEntries(m_dir.path()), before);
    QCOMPARE(fileDigest(m_short), inputDigest);
    QCOMPARE(fileDigest(protectedFile), protectedDigest);
}

void TestMp3EncControl::refusedWhileEncoding()
{
    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    rt::Control &c = *encoder.control;
    const QString out = path(QStringLiteral("busy.mp3"));
    const QString other = path(QStringLiteral("other.mp3"));
    c.call(QStringLiteral("Open"), {m_long, out});
    c.call(QStringLiteral("Encode"));
    QCOMPARE(callError([&] {
                 c.call(QStringLiteral("Open"), {m_short, other});
             }),
             rt::ErrInvalidCall);
    QCOMPARE(callError([&] { c.call(QStringLiteral("Encode")); }), rt::ErrInvalidCall);
    QVERIFY(QTest::qWaitFor([&] { return encoder.site.ended(); }, 120000));
    QVERIFY(!QFile::exists(other));
    QVERIFY(QFile::exists(out));
    QFile::remove(out);
}

void TestMp3EncControl::eventsOfOneEncode()
{
    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    const QString out = path(QStringLiteral("events.mp3"));
    const QStringList before = folderEntries(m_dir.path());
    QVERIFY(encoder.convert(m_short, out));
    deliverQueuedEvents(); // nothing may follow ThreadEnded
    const int frameCount = encoder.control->call(QStringLiteral("GetFrameCount")).toInt();
    QVERIFY(frameCount > 100);
    verifyCompleteSequence(encoder.site, frameCount);
    // Only the MP3 is new: the temporary is gone.
    QStringList expected = QStringList(before) << QStringLiteral("events.mp3");
    expected.sort();
    QCOMPARE(folderEntries(m_dir.path()), expected);
    QFile::remove(out);
}

// A host that is too busy to take events finds one ActFrame waiting, not hundreds.
void TestMp3EncControl::actFrameCoalesced()
{
    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    const QString out = path(QStringLiteral("busy host.mp3"));
    encoder.control->call(QStringLiteral("Open"), {m_short, out});
    encoder.control->call(QStringLiteral("Encode"));
    QElapsedTimer timer;
    timer.start();
    while (!QFile::exists(out) && timer.elapsed() < 60000)
        QThread::msleep(5); // the event loop does not run
    QThread::msleep(100);
    QVERIFY(QTest::qWaitFor([&] { return encoder.site.ended(); }, 5000));
    const int frameCount = encoder.control->call(QStringLiteral("GetFrameCount")).toInt();
    QCOMPARE(encoder.site.events.size(), 2);
    verifyCompleteSequence(encoder.site, frameCount);
    QFile::remove(out);
}

// The converter opens and starts the next file from inside ThreadEnded.
void TestMp3EncControl::nextFileStartedFromThreadEnded()
{
    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    const QString first = path(QStringLiteral("first.mp3"));
    const QString second = path(QStringLiteral("second.mp3"));
    int ended = 0;
    encoder.site.onEvent = [&](rt::DispId id) {
        if (id == IdThreadEnded && ++ended == 1) {
            encoder.control->call(QStringLiteral("Open"), {m_short, second});
            encoder.control->call(QStringLiteral("Encode"));
        }
    };
    encoder.control->call(QStringLiteral("Open"), {m_short, first});
    encoder.control->call(QStringLiteral("Encode"));
    QVERIFY(QTest::qWaitFor([&] { return ended == 2; }, 60000));
    QCOMPARE(fileDigest(first), fileDigest(second));
    QFile::remove(first);
    QFile::remove(second);
}

enum class Before
{
    Nothing,
    BitRateChanged,
    RateModeChanged,
    InputReplaced,
    InputEditedInPlace,
    OutputFolderReplaced,
    OtherPassedOver
};

void TestMp3EncControl::encodedAhead_data()
{
    QTest::addColumn<Before>("before");
    QTest::newRow("written at its turn") << Before::Nothing;
    QTest::newRow("bit rate changed before its turn") << Before::BitRateChanged;
    QTest::newRow("rate mode changed before its turn") << Before::RateModeChanged;
    QTest::newRow("input replaced before its turn") << Before::InputReplaced;
    QTest::newRow("input edited in place, its time put back") << Before::InputEditedInPlace;
    QTest::newRow("output folder replaced before its turn") << Before::OutputFolderReplaced;
    QTest::newRow("a file ahead passed over") << Before::OtherPassedOver;
}

// A file handed over ahead is encoded on the idle core but written only when Open and Encode
// reach it, as the file Open would open then, with the settings of then.
void TestMp3EncControl::encodedAhead()
{
    QFETCH(Before, before);
    const QString folder = path(QStringLiteral("ahead"));
    const QString outFolder = folder + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(outFolder));
    const QString first = outFolder + QStringLiteral("/first.mp3");
    const QString input = folder + QStringLiteral("/next.wav");
    const QString output = outFolder + QStringLiteral("/next.mp3");
    const QString passedOver = outFolder + QStringLiteral("/passed over.mp3");
    QVERIFY(QFile::copy(m_short, input));

    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    encoder.control->put(QStringLiteral("Threads"), 2);
    QElapsedTimer timer;
    timer.start();
    encoder.control->call(QStringLiteral("Open"), {m_short, first});
    encoder.control->call(QStringLiteral("Encode"));
    if (before == Before::OtherPassedOver)
        encoder.control->call(QStringLiteral("Prefetch"), {m_short, passedOver});
    encoder.control->call(QStringLiteral("Prefetch"), {input, output});
    QVERIFY(QTest::qWaitFor([&] { return encoder.site.ended(); }, 60000));
    // The file ahead took as long on the other core: give it that thrice before its turn.
    QTest::qWait(int(3 * timer.elapsed()) + 200);
    QCOMPARE(folderEntries(outFolder), QStringList{QStringLiteral("first.mp3")}); // unnamed

    if (before == Before::BitRateChanged)
        encoder.control->put(QStringLiteral("BitRate"), 192000);
    if (before == Before::RateModeChanged)
        encoder.control->put(QStringLiteral("RateMode"), 1);
    if (before == Before::InputReplaced) { // as an editor saves: a new file renamed over it
        QVERIFY(testsupport::writeWav(folder + QStringLiteral("/new.wav"), 44100 * 3, 1));
        QVERIFY(::rename(qPrintable(folder + QStringLiteral("/new.wav")), qPrintable(input)) == 0);
    }
    if (before == Before::InputEditedInPlace) { // other samples, same size, same times
        struct stat was = {};
        QVERIFY(::stat(qPrintable(input), &was) == 0);
        QFile edited(input);
        QVERIFY(edited.open(QIODevice::ReadWrite) && edited.seek(edited.size() / 2));
        QVERIFY(edited.write(QByteArray(4096, '\x40')) == 4096);
        edited.close();
        const struct timespec times[2] = {was.st_atim, was.st_mtim};
        QVERIFY(::utimensat(AT_FDCWD, qPrintable(input), times, 0) == 0);
    }
    if (before == Before::OutputFolderReplaced) { // the old one kept under another name
        QVERIFY(QDir().rename(outFolder, outFolder + QStringLiteral(".old")));
        QVERIFY(QDir().mkpath(outFolder));
    }
    encoder.site.events.clear();
    QVERIFY(encoder.convert(input, output));
    const int frameCount = encoder.control->call(QStringLiteral("GetFrameCount")).toInt();
    verifyCompleteSequence(encoder.site, frameCount);
    if (before == Before::Nothing) // done ahead: its turn shows it whole at once
        QCOMPARE(encoder.site.events.first().args.value(0).toInt(), frameCount);

    // The same bytes as the file encoded alone, with the settings and input of its turn.
    EncoderFixture alone;
    QVERIFY(alone.ok());
    alone.control->put(QStringLiteral("Threads"), 1);
    if (before == Before::BitRateChanged)
        alone.control->put(QStringLiteral("BitRate"), 192000);
    if (before == Before::RateModeChanged)
        alone.control->put(QStringLiteral("RateMode"), 1);
    const QString reference = path(QStringLiteral("alone.mp3"));
    QVERIFY(alone.convert(input, reference));
    QCOMPARE(fileDigest(output), fileDigest(reference));
    QTest::qWait(200);
    QVERIFY(!QFile::exists(passedOver));
    if (before == Before::OutputFolderReplaced) // where Open checked it, nowhere else
        QCOMPARE(folderEntries(outFolder + QStringLiteral(".old")),
                 QStringList{QStringLiteral("first.mp3")});
    QDir(folder).removeRecursively();
    QFile::remove(reference);
}

void TestMp3EncControl::stopMidFile_data()
{
    QTest::addColumn<bool>("destroy");
    QTest::addColumn<bool>("filesAhead");
    QTest::newRow("Stop") << false << false;
    QTest::newRow("instance destroyed") << true << false;
    QTest::newRow("Stop with files ahead") << false << true;
    QTest::newRow("destroyed with files ahead") << true << true;
}

// Stopping mid-file returns promptly, keeps the old file, leaves no temporary and no event.
void TestMp3EncControl::stopMidFile()
{
    QFETCH(bool, destroy);
    QFETCH(bool, filesAhead);
    const QString out = path(QStringLiteral("stopped.mp3"));
    QVERIFY(writeText(out, Existing));
    const QStringList before = folderEntries(m_dir.path());

    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    encoder.control->put(QStringLiteral("Threads"), 2);
    encoder.control->call(QStringLiteral("Open"), {m_endless, out});
    encoder.control->call(QStringLiteral("Encode"));
    if (filesAhead) {
        encoder.control->call(QStringLiteral("Prefetch"), {m_long, path("ahead 1.mp3")});
        encoder.control->call(QStringLiteral("Prefetch"), {m_short, path("ahead 2.mp3")});
    }
    QVERIFY(QTest::qWaitFor([&] { return encoder.site.count(IdActFrame) > 0; }, 10000));
    QCOMPARE(folderEntries(m_dir.path()), before); // the file being written has no name yet
    const int frameCount = encoder.control->call(QStringLiteral("GetFrameCount")).toInt();

    const int seen = int(encoder.site.events.size());
    QElapsedTimer timer;
    timer.start();
    if (destroy)
        encoder.control.reset();
    else
        encoder.control->call(QStringLiteral("Stop"));
    // Generous bound: only "waits for the whole file" must fail here; bench/ measures it.
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(encoder.site.events.last().args.value(0).toInt() < frameCount);
    deliverQueuedEvents();
    QCOMPARE(encoder.site.events.size(), seen);
    QCOMPARE(folderEntries(m_dir.path()), before);
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), Existing);

    if (!destroy) { // still usable afterwards
        encoder.site.events.clear();
        QVERIFY(encoder.convert(m_short, out));
        verifyCompleteSequence(encoder.site,
                               encoder.control->call(QStringLiteral("GetFrameCount")).toInt());
    }
    QFile::remove(out);
}

// A host may close its window, and so destroy the encoder, from inside ActFrame.
void TestMp3EncControl::destroyedInsideItsOwnEvent()
{
    const QString folder = path(QStringLiteral("closing"));
    QVERIFY(QDir().mkpath(folder));
    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    encoder.site.onEvent = [&](rt::DispId) { encoder.control.reset(); };
    encoder.control->call(QStringLiteral("Open"), {m_endless, folder + QStringLiteral("/out.mp3")});
    encoder.control->call(QStringLiteral("Encode"));
    QVERIFY(QTest::qWaitFor([&] { return !encoder.control; }, 10000));
    deliverQueuedEvents();
    QCOMPARE(encoder.site.events.size(), 1);
    QVERIFY(folderEntries(folder).isEmpty());
    QDir(folder).removeRecursively();
}

void TestMp3EncControl::readFailure_data()
{
    QTest::addColumn<bool>("truncateInput");
    QTest::newRow("input cut short after Open") << true;
    QTest::newRow("output folder gone after Open") << false;
}

// A failure after Open: Failure, then ThreadEnded; the old output is kept, nothing is left.
void TestMp3EncControl::readFailure()
{
    QFETCH(bool, truncateInput);
    const QString folder = path(QStringLiteral("failing"));
    QVERIFY(QDir().mkpath(folder));
    const QString wav = folder + QStringLiteral("/in.wav");
    const QString out = folder + QStringLiteral("/out.mp3");
    QVERIFY(testsupport::writeWav(wav, 44100 * 2, 2));
    QVERIFY(writeText(out, Existing));

    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    encoder.control->call(QStringLiteral("Open"), {wav, out});
    if (truncateInput)
        QVERIFY(QFile::resize(wav, 44 + 4 * 1000));
    else
        QVERIFY(QDir(folder).removeRecursively());
    encoder.control->call(QStringLiteral("Encode"));
    QVERIFY(QTest::qWaitFor([&] { return encoder.site.ended(); }, 30000));
    deliverQueuedEvents();

    const auto &events = encoder.site.events;
    QCOMPARE(encoder.site.count(IdFailure), 1);
    QCOMPARE(events.last().id, IdThreadEnded);
    QCOMPARE(events[events.size() - 2].id, IdFailure);
    QCOMPARE(events[events.size() - 2].args.value(0).toInt(),
             int(truncateInput ? rt::ErrDeviceIO : rt::ErrPathNotFound));
    // Its own reason, not "out of memory", and kept for the host to ask after ThreadEnded.
    const QString reason = events[events.size() - 2].args.value(1).toString();
    QCOMPARE(reason, truncateInput ? QStringLiteral("输入文件比它的文件头所说的短（可能已损坏）")
                                   : QStringLiteral("输出目录已不存在"));
    QCOMPARE(encoder.control->get(QStringLiteral("LastError")).toString(), reason);
    if (truncateInput) {
        QCOMPARE(folderEntries(folder),
                 QStringList({QStringLiteral("in.wav"), QStringLiteral("out.mp3")}));
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), Existing);
    }
    QDir(folder).removeRecursively();
}

// The disk refuses more bytes half-way (a file-size limit in a child process).
void TestMp3EncControl::writeFailure()
{
    const QString folder = path(QStringLiteral("limited"));
    QVERIFY(QDir().mkpath(folder));
    const QString out = folder + QStringLiteral("/out.mp3");
    QVERIFY(writeText(out, Existing));

    testsupport::IsolatedDataHome home; // the child inherits this registry
    QVERIFY(testsupport::registerBuiltComponent(QStringLiteral("Mp3Enc.ocx")));
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--write-limited"), m_long, out, QStringLiteral("65536")});
    QVERIFY(child.waitForFinished(120000));
    QCOMPARE(child.exitCode(), 0);
    const QStringList lines =
        QString::fromLocal8Bit(child.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines,
             QStringList({QStringLiteral("3 %1").arg(rt::ErrDiskFull), QStringLiteral("2 ")}));
    verifyOldOutputAlone(folder, out);
    QVERIFY(!QTest::currentTestFailed());
    QDir(folder).removeRecursively();
}

void TestMp3EncControl::protectedWhileEncoding_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("one piece") << 1;
    QTest::newRow("segments") << 0;
}

// Protection is checked again when the MP3 is put in place: an output made write-protected
// while it was being re-encoded is kept, and the file fails as a protected file fails at Open.
void TestMp3EncControl::protectedWhileEncoding()
{
    QFETCH(int, threads);
    const QString folder = path(QStringLiteral("protecting"));
    QVERIFY(QDir().mkpath(folder));
    const QString out = folder + QStringLiteral("/out.mp3");
    QVERIFY(writeText(out, Existing));
    const auto clean = qScopeGuard([&] {
        QFile::setPermissions(out, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QDir(folder).removeRecursively();
    });

    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    encoder.control->put(QStringLiteral("Threads"), threads);
    encoder.site.onEvent = [&](rt::DispId id) {
        if (id == IdActFrame && encoder.site.count(IdActFrame) == 1)
            QFile::setPermissions(out, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    };
    QVERIFY(encoder.convert(m_long, out, 120000));
    QCOMPARE(encoder.site.count(IdFailure), 1);
    const auto &failure = encoder.site.events[encoder.site.events.size() - 2];
    QCOMPARE(failure.args.value(0).toInt(), int(rt::ErrPermissionDenied));
    QCOMPARE(failure.args.value(1).toString(), QStringLiteral("同名的MP3受写保护，保留未动"));
    verifyOldOutputAlone(folder, out);
}

void TestMp3EncControl::changedBeforePutInPlace_data()
{
    QTest::addColumn<QString>("change"); // after Open, before the MP3 is put in place
    QTest::addColumn<int>("ifExists");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("placed"); // the MP3's name; "" none
    QTest::newRow("input replaced (cp new; mv)") << "replaced" << 0 << ""
                                                 << "out.mp3";
    QTest::newRow("input rewritten in place") << "rewritten" << 0 << ""
                                              << "out.mp3";
    QTest::newRow("input removed") << "removed" << 0 << "文件不存在"
                                   << "";
    QTest::newRow("a file appeared, left") << "appeared" << 1 << ""
                                           << "";
    QTest::newRow("a file appeared, renamed") << "appeared" << 2 << ""
                                              << "out (1).mp3";
    QTest::newRow("a newer file appeared, update") << "appeared" << 3 << ""
                                                   << "";
}

// The input and the output's name are looked at again when the MP3 is put in place: a changed
// input is encoded again from what is there now (never old or mixed audio), or named as not
// converted; a file that appeared under the name meets the rule (IfExists); LastOutput says
// where the MP3 went.
void TestMp3EncControl::changedBeforePutInPlace()
{
    QFETCH(QString, change);
    QFETCH(int, ifExists);
    QFETCH(QString, failure);
    QFETCH(QString, placed);
    const QString folder = path(QStringLiteral("changing"));
    QVERIFY(QDir().mkpath(folder));
    const auto clean = qScopeGuard([&] { QDir(folder).removeRecursively(); });
    const QString wav = folder + QStringLiteral("/in.wav"),
                  out = folder + QStringLiteral("/out.mp3");
    const QString fresh = path(QStringLiteral("fresh.wav"));
    QVERIFY(testsupport::writeWav(wav, 44100 * 4, 2));
    QVERIFY(testsupport::writeWav(fresh, 44100 * 8, 1)); // as many bytes, other audio
    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    encoder.control->put(QStringLiteral("Threads"), 1);
    encoder.control->put(QStringLiteral("IfExists"), ifExists);
    encoder.control->call(QStringLiteral("Open"), {wav, out});
    QFile source(fresh);
    QVERIFY(source.open(QIODevice::ReadOnly));
    if (change == QLatin1String("replaced")) {
        QVERIFY(QFile::copy(fresh, wav + QStringLiteral(".new")));
        QCOMPARE(::rename(QFile::encodeName(wav + QStringLiteral(".new")).constData(),
                          QFile::encodeName(wav).constData()),
                 0);
    } else if (change == QLatin1String("rewritten")) {
        QVERIFY(writeText(wav, source.readAll()));
    } else if (change == QLatin1String("removed")) {
        QVERIFY(QFile::remove(wav));
    } else {
        QVERIFY(writeText(out, Existing));
        const struct timespec later[2] = {{::time(nullptr) + 100, 0}, {::time(nullptr) + 100, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(out).constData(), later, 0), 0);
    }
    encoder.control->call(QStringLiteral("Encode"));
    QVERIFY(QTest::qWaitFor([&] { return encoder.site.ended(); }, 60000));
    QCOMPARE(encoder.control->get(QStringLiteral("LastError")).toString(), failure);
    QCOMPARE(encoder.control->get(QStringLiteral("LastOutput")).toString(),
             placed.isEmpty() ? QString() : folder + u'/' + placed);
    if (change == QLatin1String("appeared")) {
        QFile kept(out);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), Existing);
    }
    if (placed.isEmpty()) {
        QVERIFY(!QFileInfo::exists(out) || change == QLatin1String("appeared"));
        return;
    }
    // The lame command's MP3 of the input as it is now, byte for byte.
    const QString lame = path(QStringLiteral("lame.mp3"));
    QVERIFY(runTool(QStringLiteral("lame"), {QStringLiteral("--quiet"), QStringLiteral("-b"),
                                             QStringLiteral("128"), wav, lame}));
    QCOMPARE(fileDigest(folder + u'/' + placed), fileDigest(lame));
}

// SIGKILL mid-file: the unnamed output vanishes with the process; the old file stays whole.
void TestMp3EncControl::killedMidFile()
{
    const QString folder = path(QStringLiteral("killed"));
    QVERIFY(QDir().mkpath(folder));
    const QString out = folder + QStringLiteral("/out.mp3");
    QVERIFY(writeText(out, Existing));

    testsupport::IsolatedDataHome home; // the child inherits this registry
    QVERIFY(testsupport::registerBuiltComponent(QStringLiteral("Mp3Enc.ocx")));
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--killed"), m_long, out});
    QVERIFY(child.waitForReadyRead(30000));
    QCOMPARE(child.readLine().trimmed(), QByteArray("frame"));
    child.kill();
    QVERIFY(child.waitForFinished(10000));
    verifyOldOutputAlone(folder, out);
    QVERIFY(!QTest::currentTestFailed());
    QDir(folder).removeRecursively();
}

// Stop while the worker is still finding a float file's peak (a whole-file read).
void TestMp3EncControl::stopDuringFloatPeakScan()
{
    const QString folder = path(QStringLiteral("float"));
    QVERIFY(QDir().mkpath(folder));
    const QString wav = folder + QStringLiteral("/in.wav");
    SparseWav sparse;
    sparse.format = 3;
    sparse.bitsPerSample = 32;
    sparse.dataBytes = qint64(3) << 30;
    sparse.declared = quint32(sparse.dataBytes);
    QVERIFY(sparse.write(wav));

    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    encoder.control->call(QStringLiteral("Open"), {wav, folder + QStringLiteral("/out.mp3")});
    encoder.control->call(QStringLiteral("Encode"));
    QTest::qWait(100);
    QVERIFY(encoder.site.events.isEmpty()); // still scanning
    QElapsedTimer timer;
    timer.start();
    encoder.control->call(QStringLiteral("Stop"));
    // Generous bound: only "waits for the whole scan" must fail here; bench/ measures it.
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    deliverQueuedEvents();
    QVERIFY(encoder.site.events.isEmpty());
    QCOMPARE(folderEntries(folder), QStringList({QStringLiteral("in.wav")}));
    QDir(folder).removeRecursively();
}

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--killed") == 0)
        return killedChild(argv[2], argv[3]);
    if (argc == 5 && qstrcmp(argv[1], "--write-limited") == 0)
        return writeLimitedChild(argv[2], argv[3], atol(argv[4]));
    QCoreApplication app(argc, argv);
    TestMp3EncControl test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_mp3enc_control.moc"
