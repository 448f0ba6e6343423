// batchmp3 --convert as a script or a terminal runs it: the real program, on real files, with
// no display, its components installed into a private data folder as a start does.
#include "tests/support/testsupport.h"

#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sndfile.h>
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

    bool wav(const QString &name, double seconds, int format = 0)
    {
        QDir().mkpath(QFileInfo(path(name)).path());
        return testsupport::writeWav(path(name), int(seconds * 44100), 2, 44100, format);
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
            << QStringList{convert, QStringLiteral("-b"), QStringLiteral("192"),
                           QStringLiteral("music/a.wav")}
            << 2 << QStringList{} << QStringList{} << QStringLiteral("不支持的比特率“192”");
        QTest::newRow("no output folder")
            << QStringList{convert, QStringLiteral("-o"), QStringLiteral("nowhere"),
                           QStringLiteral("music")}
            << 2 << QStringList{} << QStringList{} << QStringLiteral("输出目录不存在");
        QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0 << QStringList{}
                              << QStringList{QStringLiteral("  --convert"),
                                             QStringLiteral("  -b, --bitrate <KBPS>"),
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
};

QTEST_GUILESS_MAIN(TestConvert)
#include "test_convert.moc"
