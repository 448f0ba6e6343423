// batchmp3 --convert as a script or a terminal runs it: the real program, on real files, with
// no display, its components installed into a private data folder as a start does.
#include "tests/support/testsupport.h"

#include <QDateTime>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Ran
{
    int code = -1;
    QString out;
    QString err;
};

QString program()
{
    return testsupport::binDir() + QStringLiteral("/batchmp3");
}

// No display of any kind: the mode must not need one.
QProcessEnvironment headless()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    return env;
}

QStringList treeOf(const QString &root)
{
    QStringList entries;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(root).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestConvert final : public QObject
{
    Q_OBJECT

    testsupport::IsolatedDataHome m_home;
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &name) const { return m_dir->filePath(name); }

    // As the user nobody, whose home folder does not exist, in a scratch folder open to it.
    bool runsAsNobody() const
    {
        return ::geteuid() == 0 &&
               !QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty() &&
               QFile::setPermissions(m_dir->path(), QFileDevice::Permissions(0x7777));
    }
    static QStringList nobody(const QString &program)
    {
        return {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                QStringLiteral("--clear-groups"), program};
    }
    // Moves `file` `levels` folders of `part` deep below `folder`, past what a path may name:
    // made and reached one folder at a time.
    bool moveDeep(const QString &file, const QString &folder, const QString &part, int levels) const
    {
        if (!QDir().mkpath(path(folder)))
            return false;
        int fd = ::open(QFile::encodeName(path(folder)).constData(), O_PATH | O_DIRECTORY);
        const QByteArray name = QFile::encodeName(part);
        for (int i = 0; fd >= 0 && i < levels; ++i) {
            ::mkdirat(fd, name.constData(), 0755);
            const int next = ::openat(fd, name.constData(), O_PATH | O_DIRECTORY);
            ::close(fd);
            fd = next;
        }
        const bool moved =
            fd >= 0 && ::renameat(AT_FDCWD, QFile::encodeName(path(file)).constData(), fd,
                                  QFile::encodeName(file).constData()) == 0;
        if (fd >= 0)
            ::close(fd);
        return moved;
    }
    // album/img.flac: three tracks (20 s, 25 s, 15 s) of plucked notes, and the sheet as `how`
    // says ("none": no sheet); its length in frames, or 0.
    qint64 makeAlbum(const QString &how) const
    {
        const QString flac = path(QStringLiteral("album/img.flac"));
        const QString sheet = QStringLiteral(
            "REM GENRE \"Game\"\nREM DATE 2001\nPERFORMER \"乐队\"\nTITLE \"专辑\"\n"
            "FILE \"img.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"第一首\"\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    TITLE \"第二首\"\n    INDEX 00 00:19:00\n    INDEX 01 00:20:00\n"
            "  TRACK 03 AUDIO\n    TITLE \"第三首\"\n    PERFORMER \"客人\"\n    INDEX 01 "
            "00:45:00\n");
        const QString cue = path(QStringLiteral("album/img.cue"));
        const auto writeSheet = [&](const QByteArray &bytes) {
            QFile file(cue);
            return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        };
        const auto tool = [](const QString &program, const QStringList &arguments) {
            return QProcess::execute(program, arguments) == 0;
        };
        if (!QDir().mkpath(path(QStringLiteral("album"))) ||
            !tool(QStringLiteral("sox"), {QStringLiteral("-n"),    QStringLiteral("-r"),
                                          QStringLiteral("44100"), QStringLiteral("-c"),
                                          QStringLiteral("2"),     QStringLiteral("-b"),
                                          QStringLiteral("16"),    flac,
                                          QStringLiteral("synth"), QStringLiteral("20"),
                                          QStringLiteral("pluck"), QStringLiteral("C4"),
                                          QStringLiteral(":"),     QStringLiteral("synth"),
                                          QStringLiteral("25"),    QStringLiteral("pluck"),
                                          QStringLiteral("E4"),    QStringLiteral(":"),
                                          QStringLiteral("synth"), QStringLiteral("15"),
                                          QStringLiteral("pluck"), QStringLiteral("G4")}))
            return 0;
        bool ok = true;
        if (how == QLatin1String("beside"))
            ok = writeSheet(sheet.toUtf8());
        else if (how == QLatin1String("gb18030"))
            ok = writeSheet(QStringEncoder("GB18030").encode(sheet));
        else if (how == QLatin1String("comment") || how == QLatin1String("block")) {
            ok = writeSheet(sheet.toUtf8()) &&
                 tool(QStringLiteral("metaflac"),
                      {how == QLatin1String("comment")
                           ? QStringLiteral("--set-tag-from-file=CUESHEET=") + cue
                           : QStringLiteral("--import-cuesheet-from=") + cue,
                       flac}) &&
                 QFile::remove(cue);
        }
        SF_INFO info{};
        SNDFILE *file =
            ok ? sf_open(QFile::encodeName(flac).constData(), SFM_READ, &info) : nullptr;
        if (!file)
            return 0;
        sf_close(file);
        return info.frames;
    }
    static QString probeTags(const QString &mp3)
    {
        QProcess probe;
        probe.start(QStringLiteral("ffprobe"),
                    {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                     QStringLiteral("format_tags"), QStringLiteral("-of"),
                     QStringLiteral("compact"), mp3});
        probe.waitForFinished(30000);
        return QString::fromUtf8(probe.readAllStandardOutput());
    }
    // The ReplayGain frames ffprobe reads in `mp3`, by name without the prefix.
    static QMap<QString, QString> gainTags(const QString &mp3)
    {
        QMap<QString, QString> found;
        static const QRegularExpression tag(QStringLiteral("tag:REPLAYGAIN_(\\w+)=([^|\\n]*)"));
        for (auto it = tag.globalMatch(probeTags(mp3)); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            found.insert(m.captured(1), m.captured(2));
        }
        return found;
    }
    static bool mountTmpfs(const QString &folder, const QString &size)
    {
        return ::geteuid() == 0 &&
               QProcess::execute(QStringLiteral("mount"),
                                 {QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                  QStringLiteral("-o"), QStringLiteral("size=") + size,
                                  QStringLiteral("tmpfs"), folder}) == 0;
    }

    bool wav(const QString &name, double seconds, int format = 0)
    {
        QDir().mkpath(QFileInfo(path(name)).path());
        return testsupport::writeWav(path(name), int(seconds * 44100), 2, 44100, format);
    }

    bool write(const QString &name, const QByteArray &bytes) const
    {
        QDir().mkpath(QFileInfo(path(name)).path());
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
    QStringList mp3sIn(const QString &folder) const
    {
        return QDir(path(folder)).entryList({QStringLiteral("*.mp3")}, QDir::Files, QDir::Name);
    }
    // A sheet of two tracks titled `titles`, the second from `second` ("00:01:00").
    static QByteArray twoTracks(const QString &image, const QString &second,
                                const QStringList &titles = {"A", "B"})
    {
        return QStringLiteral("FILE \"%1\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"%2\"\n    INDEX 01 "
                              "00:00:00\n  TRACK 02 AUDIO\n    TITLE \"%3\"\n    INDEX 01 %4\n")
            .arg(image, titles.value(0), titles.value(1), second)
            .toUtf8();
    }

    Ran run(const QStringList &arguments)
    {
        QProcess p;
        p.setProcessEnvironment(headless());
        p.setWorkingDirectory(m_dir->path());
        p.start(program(), arguments);
        Ran ran;
        if (p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit)
            ran.code = p.exitCode();
        ran.out = QString::fromUtf8(p.readAllStandardOutput());
        ran.err = QString::fromUtf8(p.readAllStandardError());
        return ran;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    // music/a.flac and music/a.wav share an output name; junk.wav is no audio; c.mp3 is
    // write-protected beside c.wav.
    void batch_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("made"); // files the run adds to the folder
        QTest::addColumn<QStringList>("out");  // lines standard output holds
        QTest::addColumn<QString>("err");      // what standard error holds

        const QString convert = QStringLiteral("--convert");
        QTest::newRow("folder walked into -o")
            << QStringList{convert, QStringLiteral("-o"), QStringLiteral("out"),
                           QStringLiteral("music")}
            << 1
            << QStringList{QStringLiteral("out/a.mp3"), QStringLiteral("out/c.mp3"),
                           QStringLiteral("out/sub/b.mp3")}
            << QStringList{QStringLiteral("/music/a.flac → %1/out/a.mp3"),
                           QStringLiteral("[2/5] 未转换：%1/music/a.wav（本批中前面的文件已写出同名"
                                          "的MP3：%1/out/a.mp3）"),
                           QStringLiteral("[5/5] 已转换：%1/music/sub/b.wav → %1/out/sub/b.mp3"),
                           QStringLiteral("5 个文件中 3 个已转换，2 个未转换："),
                           QStringLiteral("  %1/music/junk.wav：不是能转换的音频文件（")}
            << QString();
        QTest::newRow("beside the inputs")
            << QStringList{convert,
                           QStringLiteral("-b"),
                           QStringLiteral("64"),
                           QStringLiteral("music/c.wav"),
                           QStringLiteral("music/sub"),
                           QStringLiteral("nothere.wav")}
            << 1 << QStringList{QStringLiteral("music/sub/b.mp3")}
            << QStringList{QStringLiteral("3 个文件中 1 个已转换，2 个未转换："),
                           QStringLiteral("  nothere.wav：文件不存在"),
                           QStringLiteral("  %1/music/c.wav：同名的MP3受写保护，保留未动")}
            << QString();
        QTest::newRow("all converted")
            << QStringList{convert, QStringLiteral("music/a.wav"), QStringLiteral("music/sub")} << 0
            << QStringList{QStringLiteral("music/a.mp3"), QStringLiteral("music/sub/b.mp3")}
            << QStringList{QStringLiteral("[1/2] 已转换：%1/music/a.wav → %1/music/a.mp3"),
                           QStringLiteral("全部 2 个文件已转换为MP3。")}
            << QString();
        QTest::newRow("quiet") << QStringList{convert, QStringLiteral("-q"),
                                              QStringLiteral("music/a.wav")}
                               << 0 << QStringList{QStringLiteral("music/a.mp3")} << QStringList{}
                               << QString();
        QTest::newRow("quiet, one refused")
            << QStringList{convert, QStringLiteral("-q"), QStringLiteral("music/junk.wav")} << 1
            << QStringList{} << QStringList{} << QStringLiteral("1 个文件中 0 个已转换");
        QTest::newRow("empty folder")
            << QStringList{convert, QStringLiteral("out")} << 1 << QStringList{} << QStringList{}
            << QStringLiteral("没有要转换的音频文件");
        QTest::newRow("bit rate not offered")
            << QStringList{convert, QStringLiteral("-b"), QStringLiteral("100"),
                           QStringLiteral("music/a.wav")}
            << 2 << QStringList{} << QStringList{} << QStringLiteral("不支持的比特率“100”");
        QTest::newRow("two rate modes")
            << QStringList{convert,
                           QStringLiteral("-b"),
                           QStringLiteral("320"),
                           QStringLiteral("-V"),
                           QStringLiteral("2"),
                           QStringLiteral("music/a.wav")}
            << 2 << QStringList{} << QStringList{} << QStringLiteral("只能用其中一个");
        QTest::newRow("no output folder")
            << QStringList{convert, QStringLiteral("-o"), QStringLiteral("nowhere"),
                           QStringLiteral("music")}
            << 2 << QStringList{} << QStringList{} << QStringLiteral("输出目录不存在");
        QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0 << QStringList{}
                              << QStringList{QStringLiteral("  --convert"),
                                             QStringLiteral("  -b, --bitrate <KBPS>"),
                                             QStringLiteral("  -V, --vbr <N>"),
                                             QStringLiteral("  --abr <KBPS>"),
                                             QStringLiteral("  -o, --output-dir <DIR>"),
                                             QStringLiteral("  --threads <N>"),
                                             QStringLiteral("  -q, --quiet")}
                              << QString();
    }

    void batch()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QStringList, made);
        QFETCH(QStringList, out);
        QFETCH(QString, err);
        QVERIFY(wav(QStringLiteral("music/a.wav"), 1.0));
        QVERIFY(wav(QStringLiteral("music/a.flac"), 1.0, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
        QVERIFY(wav(QStringLiteral("music/sub/b.wav"), 0.5));
        QVERIFY(wav(QStringLiteral("music/c.wav"), 0.5));
        QFile junk(path(QStringLiteral("music/junk.wav")));
        QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write(QByteArray(5000, 'x')) == 5000);
        junk.close();
        QFile kept(path(QStringLiteral("music/c.mp3")));
        QVERIFY(kept.open(QIODevice::WriteOnly) && kept.write("kept") == 4);
        kept.close();
        QVERIFY(kept.setPermissions(QFile::ReadOwner | QFile::ReadGroup));
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("out")));
        QStringList expected = treeOf(m_dir->path()) + made;
        expected.sort();

        const Ran ran = run(arguments);
        QVERIFY2(ran.code == code, qPrintable(ran.out + ran.err));
        // Nothing else: no temporary, no partial file, no MP3 of a refused file.
        QCOMPARE(treeOf(m_dir->path()), expected);
        for (const QString &file : made)
            QVERIFY(QFileInfo(path(file)).size() > 1000);
        QCOMPARE(readAll(path(QStringLiteral("music/c.mp3"))), QByteArray("kept"));
        const QStringList lines = ran.out.split(u'\n');
        for (const QString &line : out) {
            const QString wanted = line.contains(u'%') ? line.arg(m_dir->path()) : line;
            QVERIFY2(std::any_of(lines.begin(), lines.end(),
                                 [&](const QString &l) { return l.contains(wanted); }),
                     qPrintable(wanted + u'\n' + ran.out));
        }
        if (out.isEmpty() && code != 2)
            QCOMPARE(ran.out, QString());
        QVERIFY2(ran.err.contains(err), qPrintable(ran.err));
    }

    void rateModes_data()
    {
        QTest::addColumn<QStringList>("option");
        QTest::newRow("variable") << QStringList{QStringLiteral("-V"), QStringLiteral("2")};
        QTest::newRow("average") << QStringList{QStringLiteral("--abr"), QStringLiteral("96")};
        QTest::newRow("constant") << QStringList{QStringLiteral("-b"), QStringLiteral("320")};
    }

    // Each rate mode reaches the encoder: in one piece, the lame command's bytes with the same
    // option.
    void rateModes()
    {
        QFETCH(QStringList, option);
        QVERIFY(wav(QStringLiteral("a.wav"), 1.5));
        const Ran ran = run(QStringList{QStringLiteral("--convert"), QStringLiteral("-q"),
                                        QStringLiteral("--threads"), QStringLiteral("1")} +
                            option + QStringList{QStringLiteral("a.wav")});
        QVERIFY2(ran.code == 0, qPrintable(ran.err));
        QCOMPARE(QProcess::execute(QStringLiteral("lame"),
                                   option + QStringList{QStringLiteral("--quiet"),
                                                        path(QStringLiteral("a.wav")),
                                                        path(QStringLiteral("lame.mp3"))}),
                 0);
        QVERIFY(readAll(path(QStringLiteral("a.mp3"))) ==
                readAll(path(QStringLiteral("lame.mp3"))));
    }

    // Run by a shell as users do: closed descriptors, a reader that goes away, a full output,
    // options without --convert, no display, a home folder that is not there. `$B` is the
    // program; a.wav, b.wav and c.wav are there.
    void throughTheShell_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("asNobody"); // as a user without a home folder
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("made");
        QTest::addColumn<QString>("err");
        const QStringList all{"a.mp3", "b.mp3", "c.mp3"};
        QTest::newRow("standard input and output closed")
            << "\"$B\" --convert a.wav b.wav c.wav <&- >&-" << false << 0 << all << QString();
        QTest::newRow("a reader that goes away")
            << "\"$B\" --convert a.wav b.wav c.wav | true; exit ${PIPESTATUS[0]}" << false << 1
            << all << QStringLiteral("无法写入标准输出");
        QTest::newRow("a full output")
            << "\"$B\" --convert a.wav >/dev/full" << false << 1 << QStringList{"a.mp3"}
            << QStringLiteral("无法写入标准输出");
        for (const char *option : {"-q", "-b 256", "-V 2", "--output-dir=."})
            QTest::addRow("%s without --convert", option)
                << QStringLiteral("\"$B\" %1 a.wav").arg(QLatin1String(option)) << false << 2
                << QStringList{} << QStringLiteral("只能与 --convert 一起使用");
        QTest::newRow("the window, with no display")
            << "\"$B\" a.wav" << false << 1 << QStringList{}
            << QStringLiteral("batchmp3 --convert");
        QTest::newRow("a home folder that is not there")
            << "HOME=\"$PWD/nohome/sub\" XDG_DATA_HOME= \"$B\" --convert a.wav" << true << 1
            << QStringList{} << QStringLiteral("~/.local/share");
    }
    void throughTheShell()
    {
        QFETCH(QString, command);
        QFETCH(bool, asNobody);
        QFETCH(int, code);
        QFETCH(QStringList, made);
        QFETCH(QString, err);
        if (asNobody && !runsAsNobody())
            QSKIP("needs root and setpriv to run as a user without a home folder");
        for (const char *name : {"a.wav", "b.wav", "c.wav"})
            QVERIFY(wav(QLatin1String(name), 2.0));
        QStringList expected = treeOf(m_dir->path()) + made;
        expected.sort();
        QProcess shell;
        QProcessEnvironment env = headless();
        env.insert(QStringLiteral("B"), program());
        shell.setProcessEnvironment(env);
        shell.setWorkingDirectory(m_dir->path());
        QStringList arguments{QStringLiteral("-c"), command};
        if (asNobody)
            arguments = nobody(QStringLiteral("/bin/bash")) + arguments;
        shell.start(asNobody ? QStringLiteral("setpriv") : QStringLiteral("/bin/bash"), arguments);
        QVERIFY(shell.waitForFinished(120000));
        const QString said = QString::fromUtf8(shell.readAllStandardError());
        QVERIFY2(shell.exitStatus() == QProcess::NormalExit && shell.exitCode() == code,
                 qPrintable(QString::number(shell.exitCode()) + u' ' + said));
        QCOMPARE(treeOf(m_dir->path()), expected); // no temporary, nothing made elsewhere
        QVERIFY2(said.contains(err), qPrintable(said));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("nohome"))));
    }

    // The same command again over a library that grew: each rule for MP3s already there. The
    // second run follows `change` (t: a.wav touched, c: c.wav added, p: b.mp3 protected and
    // b.wav touched, d: a folder where a.mp3 was, n: a.flac added, older than a.mp3, and a.wav
    // touched); `kept` outputs must still hold the first run's bytes.
    void existingOutputs_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("after"); // the output folder after the second run
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<QString>("said");
        const QStringList ab{"a.mp3", "b.mp3"}, abc{"a.mp3", "b.mp3", "c.mp3"};
        QTest::newRow("overwrite")
            << "overwrite"
            << "" << 0 << ab << QStringList{} << "全部 2 个文件已转换为MP3。";
        QTest::newRow("skip, one added")
            << "skip"
            << "c" << 0 << abc << ab << "已有同名的MP3，保留未动，跳过 2 个文件。";
        QTest::newRow("rename") << "rename"
                                << "" << 0
                                << QStringList{"a (1).mp3", "a.mp3", "b (1).mp3", "b.mp3"} << ab
                                << "全部 2 个文件已转换为MP3。";
        QTest::newRow("update, one touched")
            << "update"
            << "t" << 0 << ab << QStringList{"b.mp3"} << "已是最新，跳过 1 个文件。";
        QTest::newRow("update, one added")
            << "update"
            << "c" << 0 << abc << ab << "3 个文件中 1 个已转换。\n已是最新，跳过 2 个文件。";
        QTest::newRow("update, a protected one touched")
            << "update"
            << "p" << 1 << ab << ab << "b.wav：同名的MP3受写保护，保留未动";
        for (const char *rule : {"skip", "update"})
            QTest::addRow("%s, a folder under the name", rule)
                << rule << "d" << 1 << QStringList{"b.mp3"} << QStringList{"b.mp3"}
                << "a.wav：MP3会与一个文件夹同名";
        // The earlier of two inputs of one name wins, also when its MP3 is left as up to date.
        QTest::newRow("update, two of one name, the later touched")
            << "update"
            << "n" << 1 << ab << ab << "a.wav：本批中前面的文件得出同名的MP3";
    }
    void existingOutputs()
    {
        QFETCH(QString, rule);
        QFETCH(QString, change);
        QFETCH(int, code);
        QFETCH(QStringList, after);
        QFETCH(QStringList, kept);
        QFETCH(QString, said);
        QVERIFY(wav(QStringLiteral("music/a.wav"), 1.0) && wav(QStringLiteral("music/b.wav"), 1.0));
        QVERIFY(QDir().mkpath(path(QStringLiteral("out"))));
        const QStringList convert{QStringLiteral("--convert"), QStringLiteral("-o"),
                                  QStringLiteral("out"), QStringLiteral("music")};
        QCOMPARE(run(convert).code, 0);
        QMap<QString, QByteArray> before;
        for (const QString &mp3 : kept)
            before[mp3] = readAll(path(QStringLiteral("out/") + mp3));
        const auto touch = [&](const QString &file) {
            const QDateTime later = QDateTime::currentDateTime().addSecs(5);
            QFile f(path(file));
            return f.open(QIODevice::ReadWrite) &&
                   f.setFileTime(later, QFileDevice::FileModificationTime);
        };
        if (change == u'c')
            QVERIFY(wav(QStringLiteral("music/c.wav"), 1.0));
        if (change == u't' || change == u'n')
            QVERIFY(touch(QStringLiteral("music/a.wav")));
        if (change == u'd')
            QVERIFY(QFile::remove(path(QStringLiteral("out/a.mp3"))) &&
                    QDir().mkpath(path(QStringLiteral("out/a.mp3"))));
        if (change == u'n') {
            QVERIFY(wav(QStringLiteral("music/a.flac"), 1.0, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
            QFile flac(path(QStringLiteral("music/a.flac")));
            QVERIFY(flac.open(QIODevice::ReadWrite) &&
                    flac.setFileTime(QDateTime::currentDateTime().addDays(-1),
                                     QFileDevice::FileModificationTime));
        }
        if (change == u'p') {
            QVERIFY(touch(QStringLiteral("music/b.wav")));
            QVERIFY(
                QFile::setPermissions(path(QStringLiteral("out/b.mp3")), QFileDevice::ReadOwner));
        }
        const Ran ran = run(convert + QStringList{QStringLiteral("--existing"), rule});
        QVERIFY2(ran.code == code, qPrintable(ran.out + ran.err));
        QCOMPARE(QDir(path(QStringLiteral("out"))).entryList(QDir::Files, QDir::Name), after);
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QVERIFY2(readAll(path(QStringLiteral("out/") + it.key())) == it.value(),
                     qPrintable(it.key()));
        QVERIFY2(ran.out.contains(said), qPrintable(ran.out));
    }

    // Names from tags: two inputs that give one name follow the batch's rule, the earlier wins.
    void namesFromTags()
    {
        QVERIFY(QDir().mkpath(path(QStringLiteral("out"))));
        QVERIFY(wav(QStringLiteral("x.wav"), 0.5) && QDir().mkpath(path(QStringLiteral("music"))));
        for (const char *name : {"music/1.flac", "music/2.flac"})
            QCOMPARE(QProcess::execute(QStringLiteral("ffmpeg"),
                                       {QStringLiteral("-v"), QStringLiteral("error"),
                                        QStringLiteral("-i"), path(QStringLiteral("x.wav")),
                                        QStringLiteral("-metadata"), QStringLiteral("title=同一首"),
                                        QStringLiteral("-metadata"), QStringLiteral("artist=AC/DC"),
                                        path(QLatin1String(name))}),
                     0);
        const Ran ran = run({QStringLiteral("--convert"), QStringLiteral("-o"),
                             QStringLiteral("out"), QStringLiteral("-p"),
                             QStringLiteral("{artist}/{album}/{title}"), QStringLiteral("music")});
        QCOMPARE(ran.code, 1);
        QVERIFY(QFileInfo::exists(path(QStringLiteral("out/AC_DC/未知专辑/同一首.mp3"))));
        QVERIFY2(ran.out.contains(QStringLiteral("2.flac：本批中前面的文件已写出同名的MP3")),
                 qPrintable(ran.out));
    }

    // An album in one FLAC file with a cue sheet beside it, carried in it as a comment or as its
    // cue sheet block, or written in GB18030: one MP3 per track, each of its exact length (the
    // three laid end to end as long as the album, pre-gaps with the track before), tagged from
    // the sheet.
    void albumImages_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("titled"); // a block carries no titles
        QTest::newRow("sheet beside") << "beside" << true;
        QTest::newRow("sheet in a comment") << "comment" << true;
        QTest::newRow("sheet in the block") << "block" << false;
        QTest::newRow("sheet in GB18030") << "gb18030" << true;
    }
    void albumImages()
    {
        QFETCH(QString, how);
        QFETCH(bool, titled);
        const qint64 frames = makeAlbum(how);
        QVERIFY(frames > 0);
        const Ran ran = run({QStringLiteral("--convert"), QStringLiteral("-q"),
                             how == QLatin1String("beside") ? QStringLiteral("album/img.cue")
                                                            : QStringLiteral("album")});
        QVERIFY2(ran.code == 0, qPrintable(ran.out + ran.err));
        const QStringList tracks =
            QDir(path(QStringLiteral("album")))
                .entryList({QStringLiteral("*.mp3")}, QDir::Files, QDir::Name);
        const QStringList named =
            titled ? QStringList{"01 第一首.mp3", "02 第二首.mp3", "03 第三首.mp3"}
                   : QStringList{"01 img.mp3", "02 img.mp3", "03 img.mp3"};
        QCOMPARE(tracks, named);
        // Track 2's pre-gap (its INDEX 00 at 19 s) goes with track 1.
        const qint64 expected[] = {20 * 44100, 25 * 44100, frames - 45 * 44100};
        for (int i = 0; i < 3; ++i)
            QCOMPARE(testsupport::decodedFrames(path(QStringLiteral("album/") + tracks[i]),
                                                m_dir->path()),
                     expected[i]);
        const QString tags = probeTags(path(QStringLiteral("album/") + tracks[2]));
        QVERIFY2(tags.contains(QStringLiteral("track=3/3")), qPrintable(tags));
        if (titled)
            for (const char *tag : {"title=第三首", "artist=客人", "album=专辑",
                                    "album_artist=乐队", "date=2001", "genre=Game"})
                QVERIFY2(tags.contains(QString::fromUtf8(tag)), qPrintable(tags));
    }

    // A sheet that cannot be used refuses its album as a whole: no track is written.
    void brokenSheets_data()
    {
        QTest::addColumn<QString>("sheet"); // %1: where track 2 starts
        QTest::addColumn<QString>("reason");
        const QString head =
            QStringLiteral("FILE \"img.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 "
                           "00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 ");
        QTest::newRow("image missing") << QStringLiteral("FILE \"gone.flac\" WAVE\n  TRACK 01 "
                                                         "AUDIO\n    INDEX 01 00:00:00\n")
                                       << "文件不存在";
        QTest::newRow("time past the end")
            << head + QStringLiteral("09:00:00\n") << "超出了音频文件的长度";
        QTest::newRow("tracks out of order")
            << head + QStringLiteral("00:30:00\n  TRACK 03 AUDIO\n    INDEX 01 00:10:00\n")
            << "不在前一轨之后";
        QTest::newRow("not audio") << QStringLiteral("FILE \"img.bin\" BINARY\n  TRACK 01 "
                                                     "AUDIO\n    INDEX 01 00:00:00\n")
                                   << "不是能转换的音频文件";
        QTest::newRow("no tracks") << QStringLiteral("FILE \"img.flac\" WAVE\n") << "读不懂";
        const QString one = QStringLiteral("FILE \"img.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX "
                                           "01 00:00:00\n");
        QTest::newRow("a track without INDEX")
            << one + QStringLiteral("  TRACK 02 AUDIO\n    TITLE \"x\"\n  TRACK 03 AUDIO\n    "
                                    "INDEX 01 00:30:00\n")
            << "CUE文件中第2轨没有INDEX";
        QTest::newRow("a track with only INDEX 00")
            << one + QStringLiteral("  TRACK 02 AUDIO\n    INDEX 00 00:30:00\n")
            << "CUE文件中第2轨只有INDEX 00，没有INDEX 01";
        QTest::newRow("a second FILE missing")
            << one + QStringLiteral("FILE \"side2.flac\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 "
                                    "00:00:00\n")
            << "CUE文件指向的音频文件不存在：side2.flac";
        QTest::newRow("a FILE without tracks") << one + QStringLiteral("FILE \"img.bin\" BINARY\n")
                                               << "CUE文件中FILE“img.bin”下没有音轨";
        QTest::newRow("over 1 MB")
            << one + QStringLiteral("REM COMMENT \"%1\"\n").arg(QString(100, u'x')).repeated(11000)
            << "CUE文件大于1 MB";
        QTest::newRow("an INDEX past 59 seconds")
            << head + QStringLiteral("00:61:00\n") << "CUE文件第5行的INDEX读不懂";
        QTest::newRow("a name in two letter cases") // Img.FLAC and img.flac
            << QStringLiteral("FILE \"IMG.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n")
            << "CUE文件指向的“IMG.flac”不知是哪一个，有几个文件只是大小写不同";
        // libcue printed 120 001 lines of its own on standard error for this one.
        QTest::newRow("200 kB of something else")
            << QStringLiteral("this is not a cue sheet {[]} ~~ 12:34\n").repeated(5000) << "读不懂";
    }
    void brokenSheets()
    {
        QFETCH(QString, sheet);
        QFETCH(QString, reason);
        QVERIFY(makeAlbum(QStringLiteral("none")) > 0);
        QFile bin(path(QStringLiteral("album/img.bin")));
        QVERIFY(bin.open(QIODevice::WriteOnly) && bin.write(QByteArray(4096, 'x')) == 4096);
        bin.close();
        QVERIFY(write(QStringLiteral("album/Img.FLAC"), {}));
        QFile cue(path(QStringLiteral("album/img.cue")));
        QVERIFY(cue.open(QIODevice::WriteOnly) && cue.write(sheet.toUtf8()) > 0);
        cue.close();
        const Ran ran = run({QStringLiteral("--convert"), path(QStringLiteral("album/img.cue"))});
        QCOMPARE(ran.code, 1);
        QVERIFY2(ran.out.contains(reason), qPrintable(ran.out));
        QVERIFY(QDir(path(QStringLiteral("album"))).entryList({QStringLiteral("*.mp3")}).isEmpty());
        QVERIFY2(ran.err.isEmpty(), qPrintable(ran.err.left(300))); // the reason, nothing raw
    }

    // An album over two files (sides), given as its sheet or as one side with the sheet beside
    // it: each side's tracks cut from that side, numbered and tagged across the sheet. Track 1's
    // lead-in before its INDEX 01 and track 3's pre-gap at the end of side 1 are kept.
    void albumOverFiles_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QStringList>("tracks");
        QTest::addColumn<QList<qint64>>("frames");
        QTest::newRow("the sheet")
            << "album/sides.cue" << QStringList{"01 一.mp3", "02 二.mp3", "03 三.mp3", "04 四.mp3"}
            << QList<qint64>{44100, 88200, 44100, 44100};
        QTest::newRow("side 2") << "album/side2.wav" << QStringList{"03 三.mp3", "04 四.mp3"}
                                << QList<qint64>{44100, 44100};
    }
    void albumOverFiles()
    {
        QFETCH(QString, given);
        QFETCH(QStringList, tracks);
        QFETCH(QList<qint64>, frames);
        QVERIFY(wav(QStringLiteral("album/side1.wav"), 3.0) &&
                wav(QStringLiteral("album/side2.wav"), 2.0));
        QVERIFY(write(
            QStringLiteral("album/sides.cue"),
            "PERFORMER \"乐队\"\nTITLE \"专辑\"\nFILE \"side1.wav\" WAVE\n"
            "  TRACK 01 AUDIO\n    TITLE \"一\"\n    INDEX 00 00:00:00\n    INDEX 01 00:00:33\n"
            "  TRACK 02 AUDIO\n    TITLE \"二\"\n    INDEX 01 00:01:00\n"
            "  TRACK 03 AUDIO\n    TITLE \"三\"\n    INDEX 00 00:02:50\n"
            "FILE \"side2.wav\" WAVE\n    INDEX 01 00:00:00\n"
            "  TRACK 04 AUDIO\n    TITLE \"四\"\n    INDEX 01 00:01:00\n"));
        const Ran ran = run({QStringLiteral("--convert"), given});
        QVERIFY2(ran.code == 0, qPrintable(ran.out + ran.err));
        QCOMPARE(mp3sIn(QStringLiteral("album")), tracks);
        for (qsizetype i = 0; i < tracks.size(); ++i)
            QCOMPARE(testsupport::decodedFrames(path(QStringLiteral("album/") + tracks[i]),
                                                m_dir->path()),
                     frames[i]);
        const QString tags = probeTags(path(QStringLiteral("album/") + tracks.last()));
        for (const char *tag : {"track=4/4", "title=四", "artist=乐队", "album=专辑"})
            QVERIFY2(tags.contains(QString::fromUtf8(tag)), qPrintable(tags));
    }

    // The sheet given is the one used, its image read wherever the sheet says (found in another
    // letter case too); the tracks go beside the sheet, or to -o, never beside the image.
    void sheetNamingAnotherFolder_data()
    {
        QTest::addColumn<QString>("named");  // the FILE line's; %1: the scratch folder
        QTest::addColumn<QString>("output"); // -o, or ""
        QTest::addColumn<QString>("tracks"); // where the tracks go
        QTest::newRow("relative") << "../x/album.wav"
                                  << ""
                                  << "sheets";
        QTest::newRow("absolute") << "%1/x/album.wav"
                                  << ""
                                  << "sheets";
        QTest::newRow("relative, into -o") << "../x/album.wav"
                                           << "out"
                                           << "out";
        QTest::newRow("another letter case") << "../x/ALBUM.WAV"
                                             << ""
                                             << "sheets";
    }
    void sheetNamingAnotherFolder()
    {
        QFETCH(QString, named);
        QFETCH(QString, output);
        QFETCH(QString, tracks);
        QVERIFY(wav(QStringLiteral("x/album.wav"), 2.0));
        QVERIFY(write(QStringLiteral("sheets/album.cue"),
                      twoTracks(QString(named).replace(QStringLiteral("%1"), m_dir->path()),
                                QStringLiteral("00:01:00"))));
        QStringList arguments{QStringLiteral("--convert"), QStringLiteral("sheets/album.cue")};
        if (!output.isEmpty() && QDir().mkpath(path(output)))
            arguments << QStringLiteral("-o") << output;
        const Ran ran = run(arguments);
        QVERIFY2(ran.code == 0, qPrintable(ran.out + ran.err));
        QCOMPARE(mp3sIn(tracks), (QStringList{"01 A.mp3", "02 B.mp3"}));
        QCOMPARE(QDir(path(QStringLiteral("x"))).entryList(QDir::Files), QStringList{"album.wav"});
    }

    // Sheets beside an image: the one given wins; two when the image is given refuse it, naming
    // both; one found that cannot be used leaves the image whole, and the summary says why.
    void sheetsBesideAnImage_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QStringList>("sheets"); // written beside album/img.wav
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("made");
        QTest::addColumn<QString>("said");
        QTest::newRow("the sheet given wins")
            << "album/b.cue" << QStringList{"a.cue", "b.cue"} << 0
            << QStringList{"01 b1.mp3", "02 b2.mp3"} << "全部 2 个文件已转换为MP3";
        QTest::newRow("two sheets beside the image given")
            << "album/img.wav" << QStringList{"a.cue", "b.cue"} << 1 << QStringList{}
            << "旁边有几个CUE文件都指向它（a.cue、b.cue）";
        QTest::newRow("a stale sheet beside the image given")
            << "album/img.wav" << QStringList{"stale.cue"} << 0 << QStringList{"img.mp3"}
            << "旁边的CUE文件“stale.cue”不能用（CUE文件中第2轨的时间超出了音频文件的长度），整个"
               "文件转换成了一个MP3";
    }
    void sheetsBesideAnImage()
    {
        QFETCH(QString, given);
        QFETCH(QStringList, sheets);
        QFETCH(int, code);
        QFETCH(QStringList, made);
        QFETCH(QString, said);
        QVERIFY(wav(QStringLiteral("album/img.wav"), 2.0));
        for (const QString &sheet : sheets) {
            const QString prefix = sheet.left(1);
            QVERIFY(write(
                QStringLiteral("album/") + sheet,
                twoTracks(QStringLiteral("img.wav"),
                          prefix == u's' ? QStringLiteral("00:09:00") : QStringLiteral("00:01:00"),
                          {prefix + u'1', prefix + u'2'})));
        }
        const Ran ran = run({QStringLiteral("--convert"), given});
        QVERIFY2(ran.code == code, qPrintable(ran.out + ran.err));
        QCOMPARE(mp3sIn(QStringLiteral("album")), made);
        QVERIFY2(ran.out.contains(said), qPrintable(ran.out));
    }

    // A sheet of 100 tracks: every one its own MP3, none joined.
    void hundredTracks()
    {
        QString sheet = QStringLiteral("FILE \"img.wav\" WAVE\n");
        for (int i = 0; i < 100; ++i) // 15 CD frames (0.2 s) each
            sheet += QStringLiteral("  TRACK %1 AUDIO\n    TITLE \"t%2\"\n    INDEX 01 00:%3:%4\n")
                         .arg(i + 1, 2, 10, QChar(u'0'))
                         .arg(i + 1)
                         .arg(i * 15 / 75, 2, 10, QChar(u'0'))
                         .arg(i * 15 % 75, 2, 10, QChar(u'0'));
        QVERIFY(wav(QStringLiteral("album/img.wav"), 20.0) &&
                write(QStringLiteral("album/img.cue"), sheet.toUtf8()));
        const Ran ran = run({QStringLiteral("--convert"), QStringLiteral("album/img.cue")});
        QVERIFY2(ran.code == 0, qPrintable(ran.out + ran.err));
        const QStringList tracks = mp3sIn(QStringLiteral("album"));
        QCOMPARE(tracks.size(), 100);
        QVERIFY(tracks.contains(QStringLiteral("100 t100.mp3")));
        QCOMPARE(
            testsupport::decodedFrames(path(QStringLiteral("album/99 t99.mp3")), m_dir->path()),
            qint64(8820));
    }

    // --existing update after the sheet was corrected (a boundary moved): its tracks are out
    // of date, as they are when the image changes.
    void updateAfterSheetCorrected()
    {
        QVERIFY(wav(QStringLiteral("album/img.wav"), 3.0) &&
                write(QStringLiteral("album/img.cue"),
                      twoTracks(QStringLiteral("img.wav"), QStringLiteral("00:01:00"))));
        const QStringList update{QStringLiteral("--convert"), QStringLiteral("--existing"),
                                 QStringLiteral("update"), QStringLiteral("album/img.cue")};
        QCOMPARE(run(update).code, 0);
        QVERIFY(write(QStringLiteral("album/img.cue"),
                      twoTracks(QStringLiteral("img.wav"), QStringLiteral("00:02:00"))));
        QFile sheet(path(QStringLiteral("album/img.cue")));
        QVERIFY(sheet.open(QIODevice::ReadWrite) &&
                sheet.setFileTime(QDateTime::currentDateTime().addSecs(5),
                                  QFileDevice::FileModificationTime));
        const Ran ran = run(update);
        QVERIFY2(ran.code == 0 && ran.out.contains(QStringLiteral("全部 2 个文件已转换为MP3")),
                 qPrintable(ran.out + ran.err));
        QCOMPARE(testsupport::decodedFrames(path(QStringLiteral("album/01 A.mp3")), m_dir->path()),
                 qint64(2 * 44100));
    }

    // Sheets in the encodings rippers write, found by their bytes; where they are too few to
    // tell by, the tracks are kept and the summary says the names may be wrong.
    void sheetEncodings_data()
    {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QStringList>("titles"); // the album's, then the two tracks'
        QTest::addColumn<bool>("doubtful");
        QTest::newRow("cp1251") << QByteArray("windows-1251")
                                << QStringList{"Группа крови", "Кукушка", "Закрой за мной дверь"}
                                << false;
        QTest::newRow("Shift-JIS")
            << QByteArray("Shift_JIS") << QStringList{"ファースト", "オートマチック", "甘いワナ"}
            << false;
        QTest::newRow("Big5") << QByteArray("Big5")
                              << QStringList{"范特西", "愛在西元前", "爸我回來了"} << false;
        QTest::newRow("UTF-16 with its mark")
            << QByteArray("UTF-16LE") << QStringList{"Кино", "Звезда", "Апрель"} << false;
        QTest::newRow("too few letters to tell")
            << QByteArray("windows-1251") << QStringList{"Кино", "One", "Two"} << true;
    }
    void sheetEncodings()
    {
        QFETCH(QByteArray, encoding);
        QFETCH(QStringList, titles);
        QFETCH(bool, doubtful);
        const QString text =
            QStringLiteral("TITLE \"%1\"\n").arg(titles[0]) +
            QString::fromUtf8(
                twoTracks(QStringLiteral("img.wav"), QStringLiteral("00:01:00"), titles.mid(1)));
        QStringEncoder encoder(encoding.constData());
        QVERIFY(encoder.isValid());
        QByteArray bytes = encoder.encode(text);
        if (encoding.startsWith("UTF-16"))
            bytes.prepend("\xFF\xFE");
        QVERIFY(wav(QStringLiteral("album/img.wav"), 2.0) &&
                write(QStringLiteral("album/img.cue"), bytes));
        const Ran ran = run({QStringLiteral("--convert"), QStringLiteral("album/img.cue")});
        QVERIFY2(ran.code == 0, qPrintable(ran.out + ran.err));
        QCOMPARE(mp3sIn(QStringLiteral("album")),
                 (QStringList{"01 " + titles[1] + ".mp3", "02 " + titles[2] + ".mp3"}));
        QCOMPARE(ran.out.contains(QStringLiteral("曲名可能不对")), doubtful);
    }

    // A full disk takes the later files, in list order, as it does one file at a time: files
    // encoded ahead give way to the current one.
    void fullDisk_data()
    {
        QTest::addColumn<QString>("threads");
        QTest::newRow("one piece, nothing ahead") << "1";
        QTest::newRow("every core, files ahead") << "0";
    }
    void fullDisk()
    {
        QFETCH(QString, threads);
        const QString small = path(QStringLiteral("small"));
        QVERIFY(QDir().mkpath(small));
        if (!mountTmpfs(small, QStringLiteral("2m")))
            QSKIP("cannot mount a small file system here (not root?)");
        const auto unmount =
            qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {small}); });
        QVERIFY(wav(QStringLiteral("A.wav"), 100.0));
        QVERIFY(wav(QStringLiteral("B.wav"), 60.0));
        QVERIFY(wav(QStringLiteral("C.wav"), 60.0));
        const Ran ran = run({QStringLiteral("--convert"), QStringLiteral("--threads"), threads,
                             QStringLiteral("-o"), small, QStringLiteral("A.wav"),
                             QStringLiteral("B.wav"), QStringLiteral("C.wav")});
        QCOMPARE(ran.code, 1);
        QCOMPARE(QDir(small).entryList(QDir::Files | QDir::Hidden), QStringList{"A.mp3"});
        for (const char *name : {"B.wav：磁盘空间不足", "C.wav：磁盘空间不足"})
            QVERIFY2(ran.out.contains(QString::fromUtf8(name)), qPrintable(ran.out));
    }

    // An output folder made read-only while its file is encoded: the file is not converted,
    // and the reason says that permission was refused (as a user, for whom permissions hold).
    void permissionRefusedMidFile()
    {
        if (!runsAsNobody())
            QSKIP("needs root and setpriv to run as a user whom permissions bind");
        QVERIFY(wav(QStringLiteral("music/sub/long.wav"), 200.0));
        const QString sub = path(QStringLiteral("out/sub"));
        QVERIFY(QDir().mkpath(sub) && QDir().mkpath(path(QStringLiteral("data"))));
        for (const QString &folder :
             {path(QStringLiteral("out")), sub, path(QStringLiteral("data"))})
            QVERIFY(QFile::setPermissions(folder, QFileDevice::Permissions(0x7777)));
        QProcess child;
        QProcessEnvironment env = headless();
        env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
        child.setProcessEnvironment(env);
        child.setWorkingDirectory(m_dir->path());
        child.start(QStringLiteral("setpriv"),
                    nobody(program()) +
                        QStringList{QStringLiteral("--convert"), QStringLiteral("--threads"),
                                    QStringLiteral("1"), QStringLiteral("-o"),
                                    QStringLiteral("out"), QStringLiteral("music")});
        // Once the output is open (unnamed, in its folder), the folder is locked.
        const auto writingInSub = [&] {
            const QString fds = QStringLiteral("/proc/%1/fd/").arg(child.processId());
            for (const QString &fd : QDir(fds).entryList(QDir::AllEntries | QDir::System)) {
                char target[PATH_MAX] = {};
                if (::readlink(QFile::encodeName(fds + fd).constData(), target, sizeof target - 1) >
                        0 &&
                    QFile::decodeName(target).startsWith(sub + u'/'))
                    return true;
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(writingInSub(), 30000);
        QVERIFY(QFile::setPermissions(sub, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                               QFileDevice::ReadOther | QFileDevice::ExeOther));
        QVERIFY(child.waitForFinished(120000));
        const QString out = QString::fromUtf8(child.readAllStandardOutput());
        QCOMPARE(child.exitCode(), 1);
        QVERIFY2(out.contains(QStringLiteral("long.wav：没有权限")), qPrintable(out));
        QVERIFY(QDir(sub).isEmpty());
    }

    // Paths the system cannot take: an input deeper than PATH_MAX is named, not passed by; an
    // output that would be that long is refused before any folder is made for it.
    void pathsTooLong()
    {
        const QString part(200, u'd');
        const auto removeDeep = qScopeGuard([&] { // too deep for QDir to remove
            QProcess::execute(QStringLiteral("rm"),
                              {QStringLiteral("-rf"), path(QStringLiteral("music"))});
        });
        QVERIFY(wav(QStringLiteral("music/ok.wav"), 0.5));
        QVERIFY(wav(QStringLiteral("x.wav"), 0.5));
        QVERIFY(wav(QStringLiteral("y.wav"), 0.5));
        QVERIFY(moveDeep(QStringLiteral("x.wav"), QStringLiteral("music"), part, 21));   // ~4200
        QVERIFY(moveDeep(QStringLiteral("y.wav"), QStringLiteral("music/s"), part, 19)); // ~3860
        const QString out = path(QString(200, u'o') + u'/' + QString(200, u'o'));
        QVERIFY(QDir().mkpath(out));
        const Ran ran =
            run({QStringLiteral("--convert"), QStringLiteral("-o"), out, QStringLiteral("music")});
        QCOMPARE(ran.code, 1);
        QVERIFY2(ran.out.contains(QStringLiteral("3 个文件中 1 个已转换，2 个未转换")),
                 qPrintable(ran.out));
        // The folder where the path grew too long is named: nothing below it could be opened.
        QVERIFY2(ran.out.contains(part + QStringLiteral("：路径太长，系统无法打开")),
                 qPrintable(ran.out));
        QVERIFY2(ran.out.contains(QStringLiteral("/y.wav（MP3的路径太长")), qPrintable(ran.out));
        QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("ok.mp3")});
    }

    // On a terminal: one line rewritten in place; a signal mid-file stops at once, keeps the
    // file finished before and leaves nothing of the one cut off.
    void terminal_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("code");
        QTest::newRow("to the end") << 0 << 0;
        QTest::newRow("SIGINT") << SIGINT << 130;
        QTest::newRow("SIGTERM") << SIGTERM << 143;
        QTest::newRow("SIGHUP") << SIGHUP << 129;
    }

    void terminal()
    {
        QFETCH(int, signalNumber);
        QFETCH(int, code);
        QVERIFY(wav(QStringLiteral("a.wav"), 1.0));
        // Long enough, encoded in one piece, to be cut off mid-file.
        QVERIFY(wav(QStringLiteral("long.wav"), 200.0));

        QByteArrayList argv = {
            QFile::encodeName(program()), "--convert", "--threads", "1", "a.wav", "long.wav"};
        std::vector<char *> args;
        for (QByteArray &a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        QByteArrayList environment;
        const QProcessEnvironment env = headless();
        for (const QString &key : env.keys())
            environment << (key + u'=' + env.value(key)).toLocal8Bit();
        std::vector<char *> envp;
        for (QByteArray &e : environment)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        const QByteArray folder = QFile::encodeName(m_dir->path());

        int master = -1;
        winsize size = {24, 100, 0, 0};
        const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
        QVERIFY(pid >= 0);
        if (pid == 0) {
            if (::chdir(folder.constData()) == 0)
                ::execve(args[0], args.data(), envp.data());
            ::_exit(127);
        }
        QByteArray seen;
        bool signalled = false;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 120000) {
            pollfd fd = {master, POLLIN, 0};
            if (::poll(&fd, 1, 100) > 0) {
                char buffer[4096];
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n <= 0)
                    break; // the program has ended and closed the terminal
                seen.append(buffer, n);
            }
            if (signalNumber && !signalled && seen.contains("[2/2] long.wav")) {
                ::kill(pid, signalNumber);
                signalled = true;
            }
        }
        ::close(master);
        int status = 0;
        QCOMPARE(::waitpid(pid, &status, 0), pid);
        const QString text = QString::fromUtf8(seen);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == code, qPrintable(text));

        QVERIFY2(text.startsWith(QStringLiteral("\r[1/2] a.wav  0 %  剩余时间估算中\x1b[K")),
                 qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("\r[2/2] long.wav  ")));
        // One line: nothing ends a line before the summary.
        const qsizetype summary = text.indexOf(QStringLiteral("\r\x1b[K"));
        QVERIFY(summary > 0 && !text.left(summary).contains(u'\n'));
        QStringList expected = {QStringLiteral("a.mp3"), QStringLiteral("a.wav"),
                                QStringLiteral("long.wav")};
        if (signalNumber) {
            QVERIFY(text.contains(QStringLiteral("转换已中断。")));
            QVERIFY(text.contains(QStringLiteral("long.wav：转换被中断")));
        } else {
            QVERIFY(text.contains(QStringLiteral("全部 2 个文件已转换为MP3。")));
            expected.insert(2, QStringLiteral("long.mp3"));
        }
        QCOMPARE(treeOf(m_dir->path()), expected);
    }

    // A cue sheet's tracks are one album: with `album` each MP3 carries its own gain and the
    // album's, the same in all; with `track` its own alone.
    void replayGain_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QStringList>("frames");
        QTest::newRow("album") << "album"
                               << QStringList{"ALBUM_GAIN", "ALBUM_PEAK", "TRACK_GAIN",
                                              "TRACK_PEAK"};
        QTest::newRow("track") << "track" << QStringList{"TRACK_GAIN", "TRACK_PEAK"};
    }
    void replayGain()
    {
        QFETCH(QString, choice);
        QFETCH(QStringList, frames);
        QVERIFY(makeAlbum(QStringLiteral("beside")) > 0);
        const Ran ran =
            run({QStringLiteral("--convert"), QStringLiteral("-q"), QStringLiteral("--replaygain"),
                 choice, QStringLiteral("album/img.cue")});
        QCOMPARE(ran.code, 0);
        const QStringList mp3s = mp3sIn(QStringLiteral("album"));
        QCOMPARE(mp3s.size(), 3);
        QSet<QString> albumGains;
        for (const QString &mp3 : mp3s) {
            const QMap<QString, QString> tags = gainTags(path(QStringLiteral("album/") + mp3));
            QCOMPARE(tags.keys(), frames);
            albumGains.insert(tags.value(QStringLiteral("ALBUM_GAIN")));
        }
        QCOMPARE(albumGains.size(), 1);
    }

    // Stopped between an album's tracks: the MP3 finished keeps its track's frames, no album
    // frames are written, and the summary says why.
    void replayGainStopMidAlbum()
    {
        QVERIFY(wav(QStringLiteral("cd/a.wav"), 2.0));
        QVERIFY(wav(QStringLiteral("cd/b.wav"), 200.0)); // in one piece: cut off mid-file
        QVERIFY(wav(QStringLiteral("cd/c.wav"), 2.0));
        QProcess p;
        p.setProcessEnvironment(headless());
        p.setWorkingDirectory(m_dir->path());
        p.start(program(),
                {QStringLiteral("--convert"), QStringLiteral("--threads"), QStringLiteral("1"),
                 QStringLiteral("--replaygain"), QStringLiteral("album"), QStringLiteral("cd")});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path(QStringLiteral("cd/a.mp3"))), 60000);
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 143);
        const QString said =
            QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        QVERIFY2(said.contains(QStringLiteral("专辑增益没有写入")) &&
                     said.contains(QStringLiteral("转换被中断")),
                 qPrintable(said));
        QCOMPARE(mp3sIn(QStringLiteral("cd")), QStringList{QStringLiteral("a.mp3")});
        QCOMPARE(gainTags(path(QStringLiteral("cd/a.mp3"))).keys(),
                 QStringList({"TRACK_GAIN", "TRACK_PEAK"}));
    }

    // `--existing update` with one track of an album new: it is converted, the two left as they
    // were are measured, not encoded (their audio bytes stay), and all three get the album's
    // gain as it now stands.
    void replayGainUpdate()
    {
        for (const char *name : {"cd/a.wav", "cd/b.wav", "cd/c.wav"})
            QVERIFY(wav(QLatin1String(name), 3.0));
        const QStringList album{QStringLiteral("--convert"),
                                QStringLiteral("-q"),
                                QStringLiteral("--replaygain"),
                                QStringLiteral("album"),
                                QStringLiteral("--existing"),
                                QStringLiteral("update"),
                                QStringLiteral("cd")};
        QCOMPARE(run(album).code, 0);
        const QString before = gainTags(path(QStringLiteral("cd/a.mp3"))).value("ALBUM_GAIN");
        const auto audioOf = [this](const char *name) {
            const QByteArray bytes = readAll(path(QLatin1String(name)));
            const qsizetype tag = 10 + ((qsizetype(bytes[6]) << 21) | (qsizetype(bytes[7]) << 14) |
                                        (qsizetype(bytes[8]) << 7) | qsizetype(bytes[9]));
            return bytes.mid(tag);
        };
        const QByteArray aAudio = audioOf("cd/a.mp3");
        // A louder c.wav, newer than its MP3.
        QVERIFY(
            QProcess::execute(QStringLiteral("sox"),
                              {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                               QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"),
                               QStringLiteral("16"), path(QStringLiteral("cd/c.wav")),
                               QStringLiteral("synth"), QStringLiteral("3"), QStringLiteral("sine"),
                               QStringLiteral("1000")}) == 0);
        QFile c(path(QStringLiteral("cd/c.wav")));
        QVERIFY(c.open(QIODevice::ReadWrite));
        QVERIFY(c.setFileTime(QDateTime::currentDateTime().addSecs(60),
                              QFileDevice::FileModificationTime));
        c.close();
        const Ran again = run(album);
        QCOMPARE(again.code, 0);
        QSet<QString> gains;
        for (const char *name : {"cd/a.mp3", "cd/b.mp3", "cd/c.mp3"})
            gains.insert(gainTags(path(QLatin1String(name))).value("ALBUM_GAIN"));
        QCOMPARE(gains.size(), 1);
        QVERIFY(*gains.begin() != before);
        QCOMPARE(audioOf("cd/a.mp3"), aAudio);
    }
};

QTEST_GUILESS_MAIN(TestConvert)
#include "test_convert.moc"
