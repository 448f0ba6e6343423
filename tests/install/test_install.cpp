// "cmake --install" lays out a working desktop program, and the installed program runs from
// any folder with nothing of the build tree: it finds its registration tool, reaches its main
// window and takes the WAV files named on its command line.
#include "runtime/registry.h"
#include "tests/install/installlayout.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString AppId = QStringLiteral(BATCHMP3_APP_ID);
const QString MainTitle = QStringLiteral("^batchmp3 Ver 1\\.30\\.1$");

struct Ran
{
    int code = -1;
    QString output; // standard output and error together
};

Ran run(const QString &program, const QStringList &args, int msecs = 120000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    Ran ran;
    if (p.waitForFinished(msecs) && p.exitStatus() == QProcess::NormalExit)
        ran.code = p.exitCode();
    ran.output = QString::fromUtf8(p.readAll());
    return ran;
}

QString findWindow(const QString &pattern)
{
    const Ran ran = run(QStringLiteral("xdotool"),
                        {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                         QStringLiteral("--name"), pattern},
                        5000);
    return ran.output.split(u'\n').first().trimmed();
}

QString waitForWindow(const QString &pattern, int msecs, const QProcess &owner)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < msecs && owner.state() != QProcess::NotRunning) {
        const QString id = findWindow(pattern);
        if (!id.isEmpty())
            return id;
        QTest::qWait(100);
    }
    return {};
}

QString windowText(const QString &id)
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("getwindowname"), id}, 5000)
        .output.trimmed();
}

QStringList treeOf(const QString &root)
{
    QStringList entries;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(root).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

// The desktop entry's keys, as a launcher reads them.
QMap<QString, QString> desktopKeys(const QString &file)
{
    QMap<QString, QString> keys;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    for (const QString &line : QString::fromUtf8(f.readAll()).split(u'\n')) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq > 0 && !line.startsWith(u'#'))
            keys.insert(line.left(eq), line.mid(eq + 1));
    }
    return keys;
}

} // namespace

class TestInstall final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_prefix;
    QString installed(const QString &relative) const { return QDir(m_prefix).filePath(relative); }

    // A user's session: nothing of the build on PATH or in the library path, an own home
    // and data folder, a working folder elsewhere.
    QProcessEnvironment userEnvironment(const QString &home, const QString &platform) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("LD_LIBRARY_PATH"));
        env.insert(QStringLiteral("PATH"),
                   installed(QStringLiteral("bin")) + QStringLiteral(":/usr/bin:/bin"));
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        return env;
    }

    // Starts the installed program as the desktop entry's Exec line says, with `files` for %F.
    void startFromDesktopEntry(QProcess &program, const QString &home, const QString &platform,
                               const QStringList &files)
    {
        const QString exec =
            desktopKeys(installed(QStringLiteral("share/applications/%1.desktop").arg(AppId)))
                .value(QStringLiteral("Exec"));
        QStringList words = exec.split(u' ', Qt::SkipEmptyParts);
        QVERIFY2(words.size() == 2 && words.last() == QLatin1String("%F"), qPrintable(exec));
        const QProcessEnvironment env = userEnvironment(home, platform);
        // Found on PATH, as a launcher finds it.
        const QString binary = QStandardPaths::findExecutable(
            words.first(), env.value(QStringLiteral("PATH")).split(u':'));
        QCOMPARE(binary, installed(QStringLiteral("bin/batchmp3")));
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(home);
        program.setProgram(binary);
        program.setArguments(files);
        program.start();
        QVERIFY(program.waitForStarted());
    }

    void stop(QProcess &program)
    {
        program.terminate();
        if (!program.waitForFinished(10000)) {
            program.kill();
            program.waitForFinished(5000);
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_prefix = m_root.filePath(QStringLiteral("安装 prefix"));
        const Ran ran = run(QStringLiteral(BATCHMP3_CMAKE),
                            {QStringLiteral("--install"), QStringLiteral(BATCHMP3_BUILD_DIR),
                             QStringLiteral("--prefix"), m_prefix});
        QVERIFY2(ran.code == 0, qPrintable(ran.output));
    }

    // Exactly these files, nothing else; programs executable, icons at their sizes, and
    // library paths that lead into the prefix, not into the build tree.
    void layout()
    {
        for (int size : {16, 32, 48, 256})
            QCOMPARE(QImage(installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png")
                                          .arg(size)
                                          .arg(AppId)))
                         .size(),
                     QSize(size, size));
        QCOMPARE(treeOf(m_prefix), installLayout(AppId, QStringLiteral(BATCHMP3_PRIVATE_LIBDIR)));

        for (const QString &program :
             {QStringLiteral("bin/batchmp3"), QStringLiteral("libexec/batchmp3/regsvr32")}) {
            QVERIFY(QFileInfo(installed(program)).isExecutable());
            const Ran elf =
                run(QStringLiteral("readelf"), {QStringLiteral("-d"), installed(program)});
            if (elf.code != 0)
                QSKIP("readelf (binutils) is needed to read the library paths");
            QVERIFY2(elf.output.contains(QStringLiteral("[$ORIGIN/")), qPrintable(elf.output));
            QVERIFY(!elf.output.contains(QStringLiteral(BATCHMP3_BUILD_DIR)));
        }
        QVERIFY(QFile::exists(QDir(installed(QStringLiteral("bin")))
                                  .filePath(QStringLiteral("../libexec/batchmp3/regsvr32"))));
    }

    // desktop-file-validate has nothing to say, and the entry opens the audio files it reads.
    void desktopEntry()
    {
        const QString file = installed(QStringLiteral("share/applications/%1.desktop").arg(AppId));
        const QMap<QString, QString> keys = desktopKeys(file);
        QCOMPARE(keys.value(QStringLiteral("Exec")), QStringLiteral("batchmp3 %F"));
        QCOMPARE(keys.value(QStringLiteral("Icon")), AppId);
        QCOMPARE(keys.value(QStringLiteral("Categories")), QStringLiteral("AudioVideo;Audio;"));
        QCOMPARE(keys.value(QStringLiteral("MimeType")),
                 QStringLiteral("audio/x-wav;audio/wav;audio/vnd.wave;audio/flac;audio/x-aiff;"
                                "audio/x-aifc;audio/ogg;audio/x-vorbis+ogg;audio/x-opus+ogg;"
                                "audio/basic;"));
        QVERIFY(!keys.value(QStringLiteral("Name[zh_CN]")).isEmpty());
        QVERIFY(!keys.value(QStringLiteral("Comment")).isEmpty());

        if (QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty())
            QSKIP("desktop-file-validate (desktop-file-utils) is not installed");
        const Ran ran = run(QStringLiteral("desktop-file-validate"), {file});
        QCOMPARE(ran.output, QString());
        QCOMPARE(ran.code, 0);
    }

    // appstreamcli finds nothing to remark on, even pedantically; the release is this one.
    void metainfo()
    {
        const QString file = installed(QStringLiteral("share/metainfo/%1.metainfo.xml").arg(AppId));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString xml = QString::fromUtf8(f.readAll());
        QVERIFY(xml.contains(
            QStringLiteral("<release version=\"%1\"").arg(QStringLiteral(BATCHMP3_VERSION_TEXT))));
        QVERIFY(
            xml.contains(QStringLiteral("<launchable type=\"desktop-id\">%1.desktop<").arg(AppId)));

        if (QStandardPaths::findExecutable(QStringLiteral("appstreamcli")).isEmpty())
            QSKIP("appstreamcli (appstream) is not installed");
        const Ran ran = run(QStringLiteral("appstreamcli"),
                            {QStringLiteral("validate"), QStringLiteral("--no-net"),
                             QStringLiteral("--pedantic"), QStringLiteral("--no-color"), file});
        QVERIFY2(ran.code == 0, qPrintable(ran.output));
        static const QRegularExpression remark(QStringLiteral("^[EWIP]: "),
                                               QRegularExpression::MultilineOption);
        QVERIFY2(!ran.output.contains(remark), qPrintable(ran.output));
    }

    // Offscreen, as a session without a display: the program registers its components with
    // the tool from libexec/batchmp3 (not on PATH, not beside it) and stays up without an
    // error once the hand-over is past.
    void startsOffscreen()
    {
        QTemporaryDir home;
        QVERIFY(testsupport::writeWav(home.filePath(QStringLiteral("歌 曲.wav")), 44100));
        QProcess program;
        startFromDesktopEntry(program, home.path(), QStringLiteral("offscreen"),
                              {QStringLiteral("歌 曲.wav")});
        const auto cleanup = qScopeGuard([&] { stop(program); });

        // The registry the program writes, read here.
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        const auto restore = qScopeGuard([&] {
            dataHome.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", dataHome);
        });
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral(".local/share"))));
        QTRY_VERIFY_WITH_TIMEOUT(
            rt::Registry().find(QStringLiteral("MP3ENCLib.Mp3Enc")).has_value() &&
                rt::Registry().find(QStringLiteral("ZantoXP按扭.ZTbutton")).has_value(),
            20000);
        QTest::qWait(4000); // past the hand-over, 2000 ms after the start
        QCOMPARE(program.state(), QProcess::Running);
        const QString errors = QString::fromLocal8Bit(program.readAllStandardError());
        QVERIFY2(!errors.contains(QStringLiteral("batchmp3:")), qPrintable(errors));
    }

    // Under X, started from the desktop entry with files: the main window shows, then one
    // message names the name that is no file. Nothing is loaded from the build tree.
    void startsFromDesktopEntry()
    {
        QTemporaryDir home;
        const QString wav = home.filePath(QStringLiteral("歌 曲.wav"));
        QVERIFY(testsupport::writeWav(wav, 44100));
        QProcess program;
        startFromDesktopEntry(program, home.path(), QStringLiteral("xcb"),
                              {wav, home.filePath(QStringLiteral("不存在.wav"))});
        const auto cleanup = qScopeGuard([&] { stop(program); });

        QVERIFY2(!waitForWindow(MainTitle, 30000, program).isEmpty(),
                 qPrintable(QString::fromLocal8Bit(program.readAllStandardError())));
        const QString box = waitForWindow(QStringLiteral("^batchmp3$"), 10000, program);
        QVERIFY2(!box.isEmpty(), "no message about the missing name");
        QCOMPARE(windowText(box), QStringLiteral("batchmp3"));

        const QString maps = [&] {
            QFile f(QStringLiteral("/proc/%1/maps").arg(program.processId()));
            return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
        }();
        QVERIFY(maps.contains(installed(QStringLiteral(BATCHMP3_PRIVATE_LIBDIR "/libruntime.so"))));
        QVERIFY(!maps.contains(QStringLiteral(BATCHMP3_BUILD_DIR "/")));
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "test_install.moc"
