// The bitstream side of encoding in segments, on bytes: frame parsing, the re-packer, the info
// tag, the segment plan, and the encoder behaviour they rely on, pinned so an upgrade of the
// encoder library fails here instead of writing bad files.
#include "mp3enc/calc/framelist.h"
#include "mp3enc/calc/mp3frame.h"
#include "mp3enc/calc/ratechoice.h"
#include "mp3enc/encode/lameencoder.h"
#include "mp3enc/input/sndfilereader.h"
#include "mp3enc/segments/repacker.h"
#include "mp3enc/segments/segmentplan.h"
#include "mp3enc/tags/infotag.h"
#include "tests/mp3enc/audiocheck.h"
#include "tests/mp3enc/encoderfixture.h"

#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <sndfile.h>

namespace {

const unsigned char *bytes(const QByteArray &a)
{
    return reinterpret_cast<const unsigned char *>(a.constData());
}

struct LameFile
{
    QByteArray bytes;
    FrameList frames; // audio frames, the tag frame left out
    mp3frame::Header tagHeader;
};

} // namespace

class TestMp3EncBitstream final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pinnedEncoderFacts_data();
    void pinnedEncoderFacts();
    void freshEncoderKeepsFrameSizes();
    void repackingGivesTheEncodersFrames_data();
    void repackingGivesTheEncodersFrames();
    void repackerReservoirLimits();
    void segmentPlan_data();
    void segmentPlan();

private:
    QString wav(int rate, int channels, double seconds);
    bool lame(const QString &wav, const QString &mp3, QStringList mode, int keepRate,
              LameFile *out);

    QTemporaryDir m_dir;
};

void TestMp3EncBitstream::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

// Music after a second of silence.
QString TestMp3EncBitstream::wav(int rate, int channels, double seconds)
{
    const QString path =
        m_dir.filePath(QStringLiteral("in %1 %2 %3.wav").arg(rate).arg(channels).arg(seconds));
    if (!QFile::exists(path) &&
        !audiocheck::writeBusyWav(path, seconds, rate, channels, SF_FORMAT_PCM_16, 0.0))
        return {};
    return path;
}

// `mode`: the lame command's rate option and value ("-b 128", "-V 2", "--abr 160").
bool TestMp3EncBitstream::lame(const QString &wav, const QString &mp3, QStringList mode,
                               int keepRate, LameFile *out)
{
    QStringList args = mode << QStringLiteral("--quiet");
    if (keepRate)
        args << QStringLiteral("--resample") << QString::number(keepRate / 1000.0);
    if (!runTool(QStringLiteral("lame"), args << wav << mp3))
        return false;
    out->bytes = audiocheck::readAll(mp3);
    return out->bytes.size() > 4 && mp3frame::parseHeader(bytes(out->bytes), &out->tagHeader) &&
           out->frames.parse(bytes(out->bytes), std::size_t(out->bytes.size()),
                             FrameList::TagFirst);
}

void TestMp3EncBitstream::pinnedEncoderFacts_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QStringList>("mode"); // the lame command's
    const auto b = [](int kbps) {
        return QStringList{QStringLiteral("-b"), QString::number(kbps)};
    };
    QTest::newRow("44.1 kHz stereo 128") << 44100 << 2 << b(128);
    QTest::newRow("44.1 kHz stereo 64") << 44100 << 2 << b(64);
    QTest::newRow("44.1 kHz mono 256") << 44100 << 1 << b(256);
    QTest::newRow("48 kHz stereo 112") << 48000 << 2 << b(112);
    QTest::newRow("32 kHz mono 96") << 32000 << 1 << b(96);
    QTest::newRow("22.05 kHz stereo 64") << 22050 << 2 << b(64);
    QTest::newRow("11.025 kHz mono 32") << 11025 << 1 << b(32);
    QTest::newRow("44.1 kHz stereo -V 2")
        << 44100 << 2 << QStringList{QStringLiteral("-V"), QStringLiteral("2")};
    QTest::newRow("22.05 kHz mono --abr 64")
        << 22050 << 1 << QStringList{QStringLiteral("--abr"), QStringLiteral("64")};
}

// What the join takes from the encoder: at a constant rate frames padded by the running fraction
// from the first audio frame on, at a variable rate none; the first frame's data starting in
// itself, data reaching back at most as far as main_data_begin can say, a 576-sample delay, and
// an info tag laid out so that rebuilding it from the stream's own figures (the seek table from
// each frame's bit rate) gives its bytes back (ReplayGain aside), its header carrying the last
// frame's mode extension.
void TestMp3EncBitstream::pinnedEncoderFacts()
{
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(QStringList, mode);
    const double seconds = 7.3;
    const QString input = wav(rate, channels, seconds);
    QVERIFY(!input.isEmpty());
    LameFile file;
    QVERIFY(lame(input, m_dir.filePath(QStringLiteral("pinned.mp3")), mode, rate, &file));
    QVERIFY(file.frames.size() > 100);

    const bool constant = mode.front() == QStringLiteral("-b");
    const mp3frame::Header &first = file.frames[0].header;
    QCOMPARE(first.sampleRate, rate);
    QCOMPARE(file.frames[0].side.mainDataBegin, 0);
    QCOMPARE(file.tagHeader.padded, false);
    qint64 size = file.tagHeader.frameBytes;
    infotag::SeekTable seekTable;
    for (std::size_t k = 0; k < file.frames.size(); ++k) {
        const FrameList::Frame &f = file.frames[k];
        if (constant)
            QCOMPARE(f.header.kbps, mode.back().toInt());
        QCOMPARE(f.header.padded,
                 constant && mp3frame::lamePadded(qint64(k), f.header.mpeg1, f.header.kbps, rate));
        QVERIFY(f.side.mainDataBegin <= f.header.maxBackBytes());
        QVERIFY(!f.header.crc);
        size += f.header.frameBytes;
        seekTable.addFrame(f.header.kbps);
    }
    QCOMPARE(size, qint64(file.bytes.size()));

    const auto inputFrames = qint64(seconds * rate);
    const auto tagSize = std::size_t(file.tagHeader.frameBytes);
    std::vector<unsigned char> tag(bytes(file.bytes), bytes(file.bytes) + tagSize);
    infotag::Stream stream;
    stream.audioFrames = qint64(file.frames.size());
    stream.totalBytes = file.bytes.size();
    stream.musicCrc = infotag::crc16(bytes(file.bytes) + tagSize, std::size_t(size) - tagSize);
    stream.seekTable = seekTable.bytes();
    stream.delay = 576;
    stream.padding = int(stream.audioFrames * first.samplesPerFrame - 576 - inputFrames);
    const std::size_t lastFrame =
        std::size_t(file.bytes.size()) -
        std::size_t(file.frames[file.frames.size() - 1].header.frameBytes);
    stream.modeExtension = (std::uint8_t(file.bytes[int(lastFrame) + 3]) >> 4) & 3;
    const std::size_t info = std::size_t(file.tagHeader.mainDataOffset());
    stream.radioGain = std::uint16_t(std::uint8_t(file.bytes[int(info) + 135]) << 8 |
                                     std::uint8_t(file.bytes[int(info) + 136]));
    QVERIFY(infotag::rebuild(tag, stream));
    const std::vector<unsigned char> expected(bytes(file.bytes), bytes(file.bytes) + tagSize);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(expected.data()) + info, 4),
             QByteArray(constant ? "Info" : "Xing"));
    QVERIFY(tag == expected); // peak and audiophile gain "not set", as the encoder leaves them
    // And the tag's own checksum as the encoder wrote it.
    QCOMPARE(infotag::crc16(bytes(file.bytes), info + 154),
             std::uint16_t((std::uint8_t(file.bytes[int(info) + 154]) << 8) |
                           std::uint8_t(file.bytes[int(info) + 155])));
}

// An encoder started at a multiple of the padding period, on the input from that frame's first
// sample, writes the same frame sizes and the same frame count to the end as the whole-file one.
void TestMp3EncBitstream::freshEncoderKeepsFrameSizes()
{
    const int rate = 44100, kbps = 128;
    const QString input = wav(rate, 2, 7.3);
    LameFile whole;
    QVERIFY(lame(input, m_dir.filePath(QStringLiteral("whole.mp3")),
                 {QStringLiteral("-b"), QString::number(kbps)}, 0, &whole));
    const int period = mp3frame::paddingPeriod(true, kbps, rate);
    QCOMPARE(period, 49);
    const std::int64_t start = 2 * period;

    SndFileReader reader;
    QVERIFY(reader.open(input));
    QVERIFY(reader.seek(start * 1152));
    LameEncoder encoder;
    LameEncoder::Settings settings;
    settings.frames = std::uint64_t(reader.frames() - start * 1152);
    settings.infoTag = false;
    settings.replayGain = false;
    QString error;
    QVERIFY2(encoder.init(settings, &error), qPrintable(error));
    std::vector<int> interleaved(std::size_t(reader.frames()) * 2);
    const std::int64_t n = reader.read(interleaved.data(), reader.frames());
    QCOMPARE(n, reader.frames() - start * 1152);
    std::vector<int> left(static_cast<std::size_t>(n)), right(static_cast<std::size_t>(n));
    for (std::int64_t i = 0; i < n; ++i) {
        left[std::size_t(i)] = interleaved[std::size_t(2 * i)];
        right[std::size_t(i)] = interleaved[std::size_t(2 * i + 1)];
    }
    std::vector<unsigned char> mp3;
    QVERIFY(encoder.encode(left.data(), right.data(), int(n), mp3));
    QVERIFY(encoder.flush(mp3));
    FrameList part;
    QVERIFY(part.parse(mp3.data(), mp3.size(), FrameList::StreamStart));
    QCOMPARE(qint64(part.size()), qint64(whole.frames.size()) - start);
    for (std::size_t j = 0; j < part.size(); ++j)
        QCOMPARE(part[j].header.padded, whole.frames[std::size_t(start) + j].header.padded);
}

void TestMp3EncBitstream::repackingGivesTheEncodersFrames_data()
{
    QTest::addColumn<QStringList>("mode"); // the lame command's
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    const auto v = [](int q) { return QStringList{QStringLiteral("-V"), QString::number(q)}; };
    for (int q : {0, 2, 5})
        QTest::addRow("-V %d", q) << v(q) << 44100 << 2;
    QTest::newRow("-V 4 mono") << v(4) << 44100 << 1;
    // Frames too large to leave the next 511 bytes: a decoder's buffer holds no more.
    QTest::newRow("-V 0 at 16 kHz") << v(0) << 16000 << 2;
    QTest::newRow("--abr 160") << QStringList{QStringLiteral("--abr"), QStringLiteral("160")}
                               << 44100 << 2;
    QTest::newRow("-b 128") << QStringList{QStringLiteral("-b"), QStringLiteral("128")} << 44100
                            << 2;
    QTest::newRow("-b 320 at 32 kHz mono")
        << QStringList{QStringLiteral("-b"), QStringLiteral("320")} << 32000 << 1;
}

// Taking every frame's data out of the encoder's stream and laying it down again gives the
// encoder's frames back: each frame's data where the encoder put it (main_data_begin and all)
// and, at a variable or average rate, sized from its data and the reservoir as the encoder sized
// it, the frames it finds silent too. Only the filler of unused bytes may differ, so the decode
// is the same to the sample.
void TestMp3EncBitstream::repackingGivesTheEncodersFrames()
{
    QFETCH(QStringList, mode);
    QFETCH(int, rate);
    QFETCH(int, channels);
    LameFile file;
    const QString original = m_dir.filePath(QStringLiteral("original.mp3"));
    QVERIFY(lame(wav(rate, channels, 7.3), original, mode, 0, &file));
    QCOMPARE(file.frames[0].header.sampleRate, rate);
    const bool constant = mode.front() == QStringLiteral("-b");
    const auto rule = mode.front() == QStringLiteral("-V") ? ratechoice::Rule::Variable
                                                           : ratechoice::Rule::Average;
    const std::vector<int> rates = mp3frame::bitRates(rate, 1, 320);
    const std::size_t tagSize = std::size_t(file.tagHeader.frameBytes);
    Repacker repacker;
    int silent = 0;
    for (std::size_t k = 0; k < file.frames.size(); ++k) {
        const FrameList::Frame &f = file.frames[k];
        const int reservoir = repacker.freeBefore(f.header);
        QCOMPARE(reservoir, f.reservoir);
        mp3frame::Header h = f.header;
        if (!constant) {
            const bool quiet =
                rule == ratechoice::Rule::Variable &&
                ratechoice::pickedAsSilent(reservoir, h, f.side.mainDataBits, rates, h.kbps);
            silent += quiet ? 1 : 0;
            h = h.withRate(ratechoice::pick(rule, reservoir, h, f.side.mainDataBits, rates, quiet));
            QVERIFY2(h.kbps == f.header.kbps, qPrintable(QStringLiteral("frame %1: %2 kbit/s, "
                                                                        "the encoder's %3")
                                                             .arg(k)
                                                             .arg(h.kbps)
                                                             .arg(f.header.kbps)));
        }
        QVERIFY(repacker.append(h, file.frames.head(k), file.frames.data(k), f.dataBytes));
    }
    if (rule == ratechoice::Rule::Variable && !constant)
        QVERIFY(silent > 0); // at the start, with the reservoir still empty
    repacker.finish();
    std::vector<unsigned char> out(bytes(file.bytes), bytes(file.bytes) + tagSize);
    repacker.takeFinished(out);
    QCOMPARE(qint64(out.size()), qint64(file.bytes.size()));

    FrameList again;
    QVERIFY(again.parse(out.data(), out.size(), FrameList::TagFirst));
    QCOMPARE(again.size(), file.frames.size());
    for (std::size_t k = 0; k < again.size(); ++k) {
        QCOMPARE(again[k].side.mainDataBegin, file.frames[k].side.mainDataBegin);
        QVERIFY(std::memcmp(again.head(k), file.frames.head(k),
                            std::size_t(again[k].header.mainDataOffset())) == 0);
        QVERIFY(std::memcmp(again.data(k), file.frames.data(k), std::size_t(again[k].dataBytes)) ==
                0);
    }
    const QString repacked = m_dir.filePath(QStringLiteral("repacked.mp3"));
    QFile f(repacked);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char *>(out.data()), qint64(out.size()));
    f.close();
    const auto a = audiocheck::decodeMp3(original, m_dir.path());
    const auto b = audiocheck::decodeMp3(repacked, m_dir.path());
    QVERIFY(!a.samples.empty());
    QVERIFY(a.samples == b.samples);
}

// Data never reaches further back than main_data_begin can say, and data that cannot fit the
// reservoir and its own frame is refused rather than written over the next frame.
void TestMp3EncBitstream::repackerReservoirLimits()
{
    // MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, joint stereo, no padding: 417 bytes, 381 of data.
    const unsigned char header[4] = {0xFF, 0xFB, 0x90, 0x40};
    mp3frame::Header h;
    QVERIFY(mp3frame::parseHeader(header, &h));
    QCOMPARE(h.frameBytes, 417);
    QCOMPARE(h.mainDataBytes(), 381);
    std::vector<unsigned char> head(std::size_t(h.mainDataOffset()), 0);
    std::memcpy(head.data(), header, 4);

    Repacker repacker;
    std::vector<unsigned char> data(1000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 7 + 1);
    QCOMPARE(repacker.freeBefore(h), 0);
    QVERIFY(!repacker.append(h, head.data(), data.data(), 382)); // no reservoir yet
    for (int i = 0; i < 4; ++i)
        QVERIFY(repacker.append(h, head.data(), data.data(), 10));
    QCOMPARE(repacker.freeBefore(h), 511);
    QVERIFY(!repacker.append(h, head.data(), data.data(), 511 + 381 + 1));
    QVERIFY(repacker.append(h, head.data(), data.data(), 511 + 381));
    QCOMPARE(repacker.freeBefore(h), 0);
    QVERIFY(repacker.append(h, head.data(), data.data() + 3, 100));
    repacker.finish();
    std::vector<unsigned char> out;
    repacker.takeFinished(out);
    QCOMPARE(qint64(out.size()), qint64(6 * 417));

    // Read back with main_data_begin and part2_3_lengths that cover the bytes laid down: granule
    // 0's two channels (12 bits each at bit 20 and, a channel's 59 bits later, at bit 79).
    const auto putBits = [](unsigned char *at, int bit, int count, int value) {
        for (int i = 0; i < count; ++i, ++bit) {
            const auto mask = static_cast<unsigned char>(0x80 >> (bit & 7));
            at[bit >> 3] = static_cast<unsigned char>(
                ((value >> (count - 1 - i)) & 1) ? at[bit >> 3] | mask : at[bit >> 3] & ~mask);
        }
    };
    for (std::size_t k = 0; k < 6; ++k) {
        unsigned char *side = out.data() + k * 417 + 4;
        const int length = k == 4 ? 892 : k == 5 ? 100 : 10;
        putBits(side, 20, 12, std::min(length, 511) * 8);
        putBits(side, 79, 12, (length - std::min(length, 511)) * 8);
    }
    FrameList list;
    QVERIFY(list.parse(out.data(), out.size(), FrameList::StreamStart));
    QCOMPARE(list.size(), std::size_t(6));
    QCOMPARE(list[4].side.mainDataBegin, 511);
    QVERIFY(std::memcmp(list.data(4), data.data(), 892) == 0);
    QVERIFY(std::memcmp(list.data(5), data.data() + 3, 100) == 0);
}

void TestMp3EncBitstream::segmentPlan_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("period");
    QTest::addColumn<int>("cores");
    QTest::addColumn<int>("segments");
    QTest::newRow("29 s: one piece") << 29.0 << 44100 << 49 << 2 << 1;
    QTest::newRow("31 s: two") << 31.0 << 44100 << 49 << 2 << 2;
    QTest::newRow("10 min at 48 kHz: 14") << 600.0 << 48000 << 1 << 2 << 14;
    QTest::newRow("10 min, 8 cores: 30") << 600.0 << 44100 << 1 << 8 << 30;
    QTest::newRow("46 s at 22.05 kHz") << 46.0 << 22050 << 49 << 2 << 3;
    QTest::newRow("24 min: 28 of at most a minute") << 1440.0 << 44100 << 7 << 2 << 28;
    QTest::newRow("an hour: 64 of at most a minute") << 3600.0 << 44100 << 7 << 2 << 64;
    QTest::newRow("90 s: five") << 90.0 << 44100 << 49 << 2 << 5;
}

// At least 15 s and at most a minute each (to a frame), shorter towards the end, the last two
// alike; starts at multiples of the padding period, silence before the pre-roll and the pre-roll
// before the window, and each segment encoding through the next one's window.
void TestMp3EncBitstream::segmentPlan()
{
    QFETCH(double, seconds);
    QFETCH(int, rate);
    QFETCH(int, period);
    QFETCH(int, cores);
    QFETCH(int, segments);
    const int spf = rate >= 32000 ? 1152 : 576;
    const auto total = std::int64_t(seconds * rate / spf);
    const SegmentPlan plan =
        SegmentPlan::make(total, spf, rate, period, 1, SegmentPlan::MinPreRoll, cores);
    QCOMPARE(int(plan.segments.size()), segments);
    QCOMPARE(plan.segments.front().encoderStart, std::int64_t(0));
    QCOMPARE(plan.segments.back().endFrame, total);
    for (std::size_t i = 1; i < plan.segments.size(); ++i) {
        const Segment &s = plan.segments[i];
        const Segment &before = plan.segments[i - 1];
        QVERIFY(double(s.windowStart - before.windowStart + 1) * spf / rate >= 15.0);
        QVERIFY(double(s.windowStart - before.windowStart - 1) * spf / rate <=
                SegmentPlan::MaxSeconds);
        QCOMPARE(s.encoderStart % period, std::int64_t(0));
        QCOMPARE(s.windowStart - s.audioStart, std::int64_t(SegmentPlan::MinPreRoll));
        QVERIFY(s.audioStart - s.encoderStart >= SegmentPlan::LeadIn);
        QVERIFY(s.audioStart - s.encoderStart < SegmentPlan::LeadIn + period);
        QCOMPARE(before.endFrame, s.windowStart + SegmentPlan::Window);
        if (i + 2 < plan.segments.size()) // none but the last two longer than the one before
            QVERIFY(plan.segments[i + 1].windowStart - s.windowStart <=
                    s.windowStart - before.windowStart);
    }
    QVERIFY(double(total - plan.segments.back().windowStart + 1) * spf / rate >= 15.0);
    if (plan.segments.size() > 2) { // the last two end together, to a frame
        const std::int64_t last = total - plan.segments.back().windowStart;
        const std::int64_t before =
            plan.segments.back().windowStart - plan.segments[plan.segments.size() - 2].windowStart;
        QVERIFY(std::abs(last - before) <= 1);
    }
}

QTEST_GUILESS_MAIN(TestMp3EncBitstream)
#include "test_mp3enc_bitstream.moc"
