// The encoder's file handling on its own: the output that appears only when complete, and the
// input read whole, whatever its header claims.
#include "mp3enc/calc/reasons.h"
#include "mp3enc/encode/tempoutput.h"
#include "mp3enc/input/sndfilereader.h"
#include "tests/mp3enc/encoderfixture.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const QByteArray Existing = "an MP3 that was here before";
const QByteArray Written = "the new MP3";

mode_t modeOf(const QString &path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

constexpr qint64 GiB = qint64(1) << 30;

} // namespace

class TestMp3EncFiles final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void newOutputAppearsOnlyComplete_data();
    void newOutputAppearsOnlyComplete();
    void replacedOutputKeepsPermissions_data();
    void replacedOutputKeepsPermissions();
    void staleTemporaryRemovedLiveOneKept();
    void folderRenamedMidWrite_data();
    void folderRenamedMidWrite();
    void folderRemovedWhileOpen_data();
    void folderRemovedWhileOpen();
    void ruleWhenPutInPlace_data();
    void ruleWhenPutInPlace();
    void oversizedWaveReadToTheEnd_data();
    void oversizedWaveReadToTheEnd();
    void cancelEndsTheFloatPeakScan();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
    QString m_folder;
};

void TestMp3EncFiles::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestMp3EncFiles::init()
{
    m_folder = path(QStringLiteral("out %1").arg(QTest::currentDataTag()));
    QDir(m_folder).removeRecursively();
    QVERIFY(QDir().mkpath(m_folder));
}

void TestMp3EncFiles::newOutputAppearsOnlyComplete_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("unnamed") << int(TempOutput::Kind::Unnamed);
    QTest::newRow("named") << int(TempOutput::Kind::Named);
}

// While written, the file is invisible (unnamed) or hidden under a temporary name; committed,
// it has its final name and the rights the umask gives a new file; dropped, nothing is left.
void TestMp3EncFiles::newOutputAppearsOnlyComplete()
{
    QFETCH(int, kind);
    const QString final = m_folder + QStringLiteral("/歌 曲.mp3");
    {
        TempOutput out{TempOutput::Kind(kind)};
        QVERIFY(out.create(final));
        QVERIFY(out.write(Written.constData(), size_t(Written.size())));
        const QStringList during = folderEntries(m_folder);
        if (out.isUnnamed()) {
            QVERIFY(during.isEmpty());
        } else {
            QCOMPARE(during.size(), 1);
            QVERIFY(TempOutput::isTemporaryFor(QFile::encodeName(during.first()),
                                               QFile::encodeName(QStringLiteral("歌 曲.mp3"))));
        }
        QVERIFY(out.writeAt(0, "T", 1));
        QVERIFY(out.commit());
    }
    QCOMPARE(folderEntries(m_folder), QStringList{QStringLiteral("歌 曲.mp3")});
    QCOMPARE(contents(final), QByteArray("T") + Written.mid(1));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    QCOMPARE(modeOf(final), mode_t(0666 & ~mask));

    {
        TempOutput dropped{TempOutput::Kind(kind)};
        QVERIFY(dropped.create(final));
        QVERIFY(dropped.write("x", 1));
    }
    QCOMPARE(folderEntries(m_folder), QStringList{QStringLiteral("歌 曲.mp3")});
    QCOMPARE(contents(final), QByteArray("T") + Written.mid(1));
}

void TestMp3EncFiles::replacedOutputKeepsPermissions_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("mode");
    QTest::newRow("unnamed 0640") << int(TempOutput::Kind::Unnamed) << 0640;
    QTest::newRow("named 0600") << int(TempOutput::Kind::Named) << 0600;
    QTest::newRow("unnamed 0664") << int(TempOutput::Kind::Unnamed) << 0664;
}

void TestMp3EncFiles::replacedOutputKeepsPermissions()
{
    QFETCH(int, kind);
    QFETCH(int, mode);
    const QString final = m_folder + QStringLiteral("/out.mp3");
    QVERIFY(writeFile(final, Existing));
    QCOMPARE(::chmod(QFile::encodeName(final).constData(), mode_t(mode)), 0);
    TempOutput out{TempOutput::Kind(kind)};
    QVERIFY(out.create(final));
    QVERIFY(out.write(Written.constData(), size_t(Written.size())));
    QCOMPARE(contents(final), Existing); // untouched until complete
    QVERIFY(out.commit());
    QCOMPARE(contents(final), Written);
    QCOMPARE(modeOf(final), mode_t(mode));
    QCOMPARE(folderEntries(m_folder), QStringList{QStringLiteral("out.mp3")});
}

// A temporary left by a killed process is removed the next time that output is written; one
// that a running writer holds, and anything that is not ours, stay.
void TestMp3EncFiles::staleTemporaryRemovedLiveOneKept()
{
    const QString final = m_folder + QStringLiteral("/out.mp3");
    const pid_t child = ::fork();
    if (child == 0) {
        TempOutput out(TempOutput::Kind::Named);
        if (out.create(final))
            out.write("partial", 7);
        ::raise(SIGKILL); // no destructor runs
        ::_exit(1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status));
    const QStringList stale = folderEntries(m_folder);
    QCOMPARE(stale.size(), 1);
    const QStringList notOurs = {QStringLiteral(".out.mp3.zzzzzzzz.part"),
                                 QStringLiteral(".other.mp3.0123abcd.part"),
                                 QStringLiteral("out.mp3.0123abcd.part")};
    for (const QString &name : notOurs)
        QVERIFY(writeFile(m_folder + u'/' + name, "keep"));

    TempOutput live(TempOutput::Kind::Named);
    QVERIFY(live.create(final));
    // The stale one held "partial"; the live writer's temporary (perhaps under the same random
    // name: the child forked our generator) holds nothing yet.
    int ours = 0;
    for (const QString &name : folderEntries(m_folder)) {
        if (TempOutput::isTemporaryFor(QFile::encodeName(name), "out.mp3")) {
            ++ours;
            QCOMPARE(contents(m_folder + u'/' + name), QByteArray());
        }
    }
    QCOMPARE(ours, 1);
    TempOutput second(TempOutput::Kind::Named);
    QVERIFY(second.create(final));
    QVERIFY(second.write(Written.constData(), size_t(Written.size())));
    QCOMPARE(folderEntries(m_folder).size(), notOurs.size() + 2); // both writers' temporaries
    QVERIFY(second.commit());
    QCOMPARE(contents(final), Written);
    QVERIFY(live.write("x", 1)); // still writable: its temporary was not taken away
    for (const QString &name : notOurs)
        QCOMPARE(contents(m_folder + u'/' + name), QByteArray("keep"));
}

void TestMp3EncFiles::folderRenamedMidWrite_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("commit");
    QTest::newRow("unnamed, dropped") << int(TempOutput::Kind::Unnamed) << false;
    QTest::newRow("named, dropped") << int(TempOutput::Kind::Named) << false;
    QTest::newRow("unnamed, committed") << int(TempOutput::Kind::Unnamed) << true;
    QTest::newRow("named, committed") << int(TempOutput::Kind::Named) << true;
}

// The folder's descriptor, not its old path, is what the output is removed from; and it is put
// in place only while that folder is still the one under the path, so nothing lands elsewhere.
void TestMp3EncFiles::folderRenamedMidWrite()
{
    QFETCH(int, kind);
    QFETCH(bool, commit);
    const QString moved = m_folder + QStringLiteral(" moved");
    QDir(moved).removeRecursively();
    {
        TempOutput out{TempOutput::Kind(kind)};
        QVERIFY(out.create(m_folder + QStringLiteral("/out.mp3")));
        QVERIFY(out.write(Written.constData(), size_t(Written.size())));
        QVERIFY(QDir().rename(m_folder, moved));
        QVERIFY(QDir().mkpath(m_folder)); // a new folder under the old name
        if (commit) {
            QVERIFY(!out.commit());
            QCOMPARE(out.errorText(), reasons::FolderMoved);
        }
    }
    QVERIFY(folderEntries(m_folder).isEmpty());
    QVERIFY(folderEntries(moved).isEmpty());
    QDir(moved).removeRecursively();
}

void TestMp3EncFiles::folderRemovedWhileOpen_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("unnamed") << int(TempOutput::Kind::Unnamed);
    QTest::newRow("named") << int(TempOutput::Kind::Named);
}

// A folder removed while the encoder holds it open, its path still leading to it (as between a
// look at the path and the file made in it): the reason is that it is gone, never a permission
// (O_TMPFILE in a removed folder says EPERM), wherever the file system stops the write.
void TestMp3EncFiles::folderRemovedWhileOpen()
{
    QFETCH(int, kind);
    const int fd = ::open(QFile::encodeName(m_folder).constData(), O_PATH | O_DIRECTORY);
    QVERIFY(fd >= 0);
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });
    QVERIFY(QDir().rmdir(m_folder));
    TempOutput out{TempOutput::Kind(kind), fd};
    const bool made = out.create(QStringLiteral("/proc/self/fd/%1/out.mp3").arg(fd)) &&
                      out.write(Written.constData(), size_t(Written.size())) && out.commit();
    QVERIFY(!made);
    QCOMPARE(out.errorText(), QStringLiteral("输出目录已不存在"));
    QCOMPARE(out.errorNumber(), ENOENT);
}

void TestMp3EncFiles::ruleWhenPutInPlace_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("rule");
    QTest::addColumn<QString>("name"); // the output's name as the host gave it
    // Put there by another program while the file was written ("x/" a folder), changed `age`
    // seconds after the input.
    QTest::addColumn<QStringList>("appeared");
    QTest::addColumn<int>("age");
    QTest::addColumn<QString>("placed"); // the name it is put under; "" none; "!" refused
    using R = TempOutput::IfExists;
    const int unnamed = int(TempOutput::Kind::Unnamed), named = int(TempOutput::Kind::Named);
    const QString out = QStringLiteral("out.mp3");
    const QStringList there{out};
    QTest::newRow("replace") << unnamed << int(R::Replace) << out << there << 0 << out;
    QTest::newRow("keep") << unnamed << int(R::Keep) << out << there << 0 << "";
    QTest::newRow("keep, named") << named << int(R::Keep) << out << there << 0 << "";
    QTest::newRow("keep, a folder")
        << unnamed << int(R::Keep) << out << QStringList{"out.mp3/"} << 0 << "!";
    QTest::newRow("replace older, older")
        << unnamed << int(R::ReplaceOlder) << out << there << -100 << out;
    QTest::newRow("replace older, newer")
        << named << int(R::ReplaceOlder) << out << there << 100 << "";
    QTest::newRow("rename") << unnamed << int(R::Rename) << out << QStringList{out, "out (1).mp3"}
                            << 0 << "out (2).mp3";
    QTest::newRow("rename, numbered on, named")
        << named << int(R::Rename) << "out (1).mp3" << QStringList{"out (1).mp3", "out (2).mp3/"}
        << 0 << "out (3).mp3";
    const QString longest = QString(251, u'x') + QStringLiteral(".mp3"); // 255 bytes
    QTest::newRow("rename, a name as long as can be")
        << unnamed << int(R::Rename) << longest << QStringList{longest} << 0
        << QString(247, u'x') + QStringLiteral(" (1).mp3");
}

// The rule holds for whatever stands under the name at the moment the file is put in place.
void TestMp3EncFiles::ruleWhenPutInPlace()
{
    QFETCH(int, kind);
    QFETCH(int, rule);
    QFETCH(QString, name);
    QFETCH(QStringList, appeared);
    QFETCH(int, age);
    QFETCH(QString, placed);
    const struct timespec input = {::time(nullptr), 0};
    TempOutput out{TempOutput::Kind(kind)};
    out.setIfExists(TempOutput::IfExists(rule), input);
    QVERIFY(out.create(m_folder + u'/' + name));
    QVERIFY(out.write(Written.constData(), size_t(Written.size())));
    QStringList expected;
    for (QString entry : appeared) {
        const bool folder = entry.endsWith(u'/');
        entry.chop(folder ? 1 : 0);
        expected << entry;
        const QByteArray at = QFile::encodeName(m_folder + u'/' + entry);
        const struct timespec times[2] = {{input.tv_sec + age, 0}, {input.tv_sec + age, 0}};
        QVERIFY(folder ? QDir().mkdir(m_folder + u'/' + entry)
                       : writeFile(m_folder + u'/' + entry, Existing) &&
                             ::utimensat(AT_FDCWD, at.constData(), times, 0) == 0);
    }
    QCOMPARE(out.commit(), placed != u'!');
    if (placed == u'!')
        QCOMPARE(out.errorText(), reasons::NamesFolder);
    QCOMPARE(QFile::decodeName(out.placedName()), placed == u'!' ? QString() : placed);
    if (!placed.isEmpty() && placed != u'!' && !expected.contains(placed))
        expected << placed;
    QStringList entries = folderEntries(m_folder); // nothing else: no temporary left
    entries.sort();
    expected.sort();
    QCOMPARE(entries, expected);
    for (const QString &entry : appeared) {
        if (!entry.endsWith(u'/'))
            QCOMPARE(contents(m_folder + u'/' + entry), entry == placed ? Written : Existing);
    }
    if (!placed.isEmpty() && placed != u'!')
        QCOMPARE(contents(m_folder + u'/' + placed), Written);
}

void TestMp3EncFiles::oversizedWaveReadToTheEnd_data()
{
    QTest::addColumn<quint32>("declared");
    QTest::addColumn<qint64>("dataBytes");
    QTest::addColumn<QByteArray>("trailer");
    QTest::addColumn<bool>("toEnd");
    const qint64 five = 5 * GiB + 4000;
    QTest::newRow("size wrapped past 4 GiB")
        << quint32(five & 0xFFFFFFFF) << five << QByteArray() << true;
    QTest::newRow("size written as 0xFFFFFFFF") << 0xFFFFFFFFu << five << QByteArray() << true;
    // A small data chunk followed by a large one of another kind is read as declared.
    const QByteArray junk = QByteArray("JUNK") + QByteArray::fromHex("00ffffff");
    QTest::newRow("honest size, large chunk after")
        << quint32(40000) << qint64(40000) + 8 + 0xFFFFFF00ll << junk << false;
    QTest::newRow("honest size under 4 GiB")
        << quint32(80000) << qint64(80000) << QByteArray() << false;
}

// Every whole frame present is read: none cut off at the wrapped size, none invented past it.
void TestMp3EncFiles::oversizedWaveReadToTheEnd()
{
    QFETCH(quint32, declared);
    QFETCH(qint64, dataBytes);
    QFETCH(QByteArray, trailer);
    QFETCH(bool, toEnd);
    const QString wav = m_folder + QStringLiteral("/big.wav");
    SparseWav sparse;
    sparse.declared = declared;
    sparse.dataBytes = dataBytes;
    sparse.trailer = trailer;
    sparse.before =
        QByteArray::fromHex("4c49535410000000494e464f494e414d0400000042696700"); // "Big"
    QVERIFY(sparse.write(wav));
    const qint64 frames = toEnd ? sparse.frames() : qint64(declared) / 4;
    if (toEnd) { // a recognisable last frame
        QFile file(wav);
        QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(file.size() - 4));
        QCOMPARE(file.write(QByteArray::fromHex("3412cdab")), 4);
    }

    SndFileReader reader;
    QVERIFY(reader.open(wav));
    QCOMPARE(reader.frames(), frames);
    QCOMPARE(reader.readsToEnd(), toEnd);
    QCOMPARE(reader.infoString(SF_STR_TITLE), QByteArray("Big")); // kept past a raw reopen
    QCOMPARE(reader.channels(), 2);
    QCOMPARE(reader.sampleRate(), 44100);
    QVERIFY(reader.seek(frames - 2));
    int samples[8] = {};
    QCOMPARE(reader.read(samples, 4), qint64(2));
    if (toEnd) {
        QCOMPARE(samples[2], 0x12340000);
        QCOMPARE(samples[3], int(0xABCD0000));
    }

    // The component counts the same frames: the MP3 holds all of them.
    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    encoder.control->call(QStringLiteral("Open"), {wav, m_folder + QStringLiteral("/big.mp3")});
    const qint64 mp3Frames = encoder.control->call(QStringLiteral("GetFrameCount")).toLongLong();
    QVERIFY2(qAbs(mp3Frames - frames / 1152) <= 3, qPrintable(QString::number(mp3Frames)));
    QFile::remove(wav);
}

// The scale of a float file comes from its peak, found by reading all of it; cancelling must
// end that read within a block, not after the whole file.
void TestMp3EncFiles::cancelEndsTheFloatPeakScan()
{
    const QString wav = m_folder + QStringLiteral("/float.wav");
    SparseWav sparse;
    sparse.format = 3;
    sparse.bitsPerSample = 32;
    sparse.dataBytes = 3 * GiB;
    sparse.declared = quint32(sparse.dataBytes);
    QVERIFY(sparse.write(wav));
    SndFileReader reader;
    QVERIFY(reader.open(wav));
    QCOMPARE(reader.frames(), sparse.frames());
    std::atomic<bool> cancel{false};
    reader.setCancel(&cancel);

    std::vector<int> block(2304 * 2);
    QElapsedTimer timer;
    qint64 cancelledAt = 0;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        cancelledAt = timer.elapsed();
        cancel = true;
    });
    timer.start();
    reader.read(block.data(), 2304);
    const qint64 returned = timer.elapsed();
    canceller.join();
    // Generous: only "waits for the whole 3 GiB scan" must fail here; bench/ measures it.
    QVERIFY2(returned - cancelledAt < 1000,
             qPrintable(QStringLiteral("%1 ms after the cancel").arg(returned - cancelledAt)));
    QFile::remove(wav);
}

QTEST_GUILESS_MAIN(TestMp3EncFiles)
#include "test_mp3enc_files.moc"
