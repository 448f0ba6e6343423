#include "runtime/registry.h"
#include "runtime/systemfolder.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>
#include <csignal>

namespace {

const QString MainTitle = QStringLiteral("^batchmp3 Ver 1\\.30\\.1$");

// Visible X windows whose name matches `pattern` (xdotool regex), or none.
QString findWindow(const QString &pattern)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                        QStringLiteral("--name"), pattern});
    p.waitForFinished(5000);
    return QString::fromLatin1(p.readAllStandardOutput())
        .split(QLatin1Char('\n'))
        .first()
        .trimmed();
}

QString waitForWindow(const QString &pattern, int msecs, const QProcess *owner = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < msecs) {
        const QString id = findWindow(pattern);
        if (!id.isEmpty())
            return id;
        if (owner && owner->state() == QProcess::NotRunning)
            return {};
        QTest::qWait(50);
    }
    return {};
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString mapsOf(const QProcess &p)
{
    return QString::fromLocal8Bit(contents(QStringLiteral("/proc/%1/maps").arg(p.processId())));
}

void start(QProcess &p)
{
    p.setProgram(QDir(testsupport::binDir()).filePath(QStringLiteral("batchmp3")));
    p.start();
    QVERIFY(p.waitForStarted());
}

} // namespace

class TestStartup final : public QObject
{
    Q_OBJECT

private slots:
    void installsRegistersAndHandsOver()
    {
        testsupport::IsolatedDataHome home;
        QProcess program;
        QElapsedTimer clock;
        clock.start();
        start(program);
        QVERIFY2(!waitForWindow(QStringLiteral("^Form3$"), 5000, &program).isEmpty(),
                 "the splash did not show");
        const QString main = waitForWindow(MainTitle, 30000, &program);
        QVERIFY2(!main.isEmpty(), "the main window did not show");
        QVERIFY(clock.elapsed() >= 2000);
        QVERIFY(findWindow(QStringLiteral("^Form3$")).isEmpty()); // the splash is gone

        const QString system = rt::systemFolder();
        QVERIFY(system.startsWith(home.path()));
        for (const QString &name : {QStringLiteral("ZTbutton.ocx"), QStringLiteral("Mp3Enc.ocx")}) {
            const QString installed = QDir(system).filePath(name);
            QCOMPARE(contents(installed), contents(QDir(testsupport::binDir()).filePath(name)));
        }
        const rt::Registry registry;
        QCOMPARE(registry.find(QStringLiteral("ZantoXP按扭.ZTbutton"))->libraryPath,
                 QDir(system).filePath(QStringLiteral("ZTbutton.ocx")));
        QCOMPARE(registry.find(QStringLiteral("MP3ENCLib.Mp3Enc"))->libraryPath,
                 QDir(system).filePath(QStringLiteral("Mp3Enc.ocx")));
        // The buttons and the encoder come from the installed files, not from the build.
        const QString maps = mapsOf(program);
        QVERIFY(maps.contains(QDir(system).filePath(QStringLiteral("ZTbutton.ocx"))));
        QVERIFY(maps.contains(QDir(system).filePath(QStringLiteral("Mp3Enc.ocx"))));

        // A second start while the first runs replaces the files without disturbing it.
        QProcess second;
        start(second);
        QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::Running &&
                                     mapsOf(second).contains(QStringLiteral("ZTbutton.ocx")),
                                 30000);
        QCOMPARE(program.state(), QProcess::Running);
        QVERIFY(mapsOf(program).contains(QStringLiteral("ZTbutton.ocx (deleted)")));
        QTest::qWait(500);
        QCOMPARE(program.state(), QProcess::Running);
        for (QProcess *p : {&program, &second}) {
            p->terminate();
            QVERIFY(p->waitForFinished(10000));
        }
    }

    // Without a usable component the program says what is missing and ends with an error.
    void missingComponentEndsWithAClearMessage_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("library file blocked") << QStringLiteral("blocked");
        QTest::newRow("no data folder") << QStringLiteral("nofolder");
    }

    void missingComponentEndsWithAClearMessage()
    {
        QFETCH(QString, how);
        testsupport::IsolatedDataHome home;
        if (how == QLatin1String("blocked")) {
            // A folder where the library should go: it can be neither written nor registered.
            QVERIFY(
                QDir().mkpath(QDir(rt::systemFolder()).filePath(QStringLiteral("ZTbutton.ocx"))));
        } else {
            const QString file = QDir(home.path()).filePath(QStringLiteral("not-a-folder"));
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            qputenv("XDG_DATA_HOME", file.toLocal8Bit());
        }
        QProcess program;
        start(program);
        const QString box = waitForWindow(QStringLiteral("^batchmp3$"), 30000, &program);
        QVERIFY2(!box.isEmpty(), "no message box");
        // Answer the message box as a user would: focus it, press Enter.
        for (int i = 0; i < 5 && program.state() != QProcess::NotRunning; ++i) {
            QProcess::execute(QStringLiteral("xdotool"),
                              {QStringLiteral("windowfocus"), QStringLiteral("--sync"), box});
            QProcess::execute(QStringLiteral("xdotool"),
                              {QStringLiteral("key"), QStringLiteral("Return")});
            program.waitForFinished(2000);
        }
        QCOMPARE(program.state(), QProcess::NotRunning);
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        const QString err = QString::fromLocal8Bit(program.readAllStandardError());
        if (how == QLatin1String("blocked")) {
            QVERIFY2(err.contains(QStringLiteral("ZantoXP按扭.ZTbutton")), qPrintable(err));
        } else { // says which folder, and why, in the program's language
            QVERIFY2(err.contains(QStringLiteral("无法创建或写入程序的数据文件夹")) &&
                         err.contains(QStringLiteral("not-a-folder/zanto-runtime")) &&
                         err.contains(QStringLiteral("原因：")),
                     qPrintable(err));
        }
    }

    // While the hand-over waits for slow registrations, the start-up window stays on screen.
    void splashStaysWhileRegistrationsRun()
    {
        testsupport::IsolatedDataHome home;
        QTemporaryDir bin;
        const QString copy = bin.filePath(QStringLiteral("batchmp3"));
        QVERIFY(
            QFile::copy(QDir(testsupport::binDir()).filePath(QStringLiteral("batchmp3")), copy));
        const QString slowTool = bin.filePath(QStringLiteral("regsvr32"));
        {
            QFile tool(slowTool);
            QVERIFY(tool.open(QIODevice::WriteOnly));
            tool.write(QStringLiteral("#!/bin/sh\nsleep 3\nexec '%1' \"$@\"\n")
                           .arg(QDir(testsupport::binDir()).filePath(QStringLiteral("regsvr32")))
                           .toUtf8());
        }
        QVERIFY(QFile::setPermissions(slowTool, QFile::permissions(slowTool) | QFile::ExeOwner));
        QProcess program;
        program.setProgram(copy);
        program.start();
        QVERIFY(program.waitForStarted());
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!waitForWindow(QStringLiteral("^Form3$"), 5000, &program).isEmpty());
        QTest::qWait(int(qMax<qint64>(0, 2500 - clock.elapsed())));
        QVERIFY2(!findWindow(QStringLiteral("^Form3$")).isEmpty(), "the splash went early");
        QVERIFY(findWindow(MainTitle).isEmpty());
        QVERIFY(!waitForWindow(MainTitle, 30000, &program).isEmpty());
        QVERIFY(clock.elapsed() >= 3000);
        QVERIFY(findWindow(QStringLiteral("^Form3$")).isEmpty());
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
    }

    // --threads goes with file names on one command line; a bad count ends with status 2.
    void threadsOptionWithFiles()
    {
        testsupport::IsolatedDataHome home;
        QProcess bad;
        bad.setProgram(QDir(testsupport::binDir()).filePath(QStringLiteral("batchmp3")));
        bad.setArguments({QStringLiteral("--threads"), QStringLiteral("many")});
        bad.start();
        QVERIFY(bad.waitForFinished(10000));
        QCOMPARE(bad.exitCode(), 2);

        const QString wav = QDir(home.path()).filePath(QStringLiteral("a.wav"));
        QVERIFY(testsupport::writeWav(wav, 4410));
        QProcess program;
        program.setProgram(QDir(testsupport::binDir()).filePath(QStringLiteral("batchmp3")));
        program.setArguments({QStringLiteral("--threads"), QStringLiteral("1"), wav});
        program.start();
        QVERIFY(program.waitForStarted());
        QVERIFY2(!waitForWindow(MainTitle, 30000, &program).isEmpty(), "no main window");
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 0);
    }

    // Logout, shutdown and Ctrl+C end the program as closing its window does, with status 0.
    void endsCleanlyOnQuitSignals_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void endsCleanlyOnQuitSignals()
    {
        QFETCH(int, signalNumber);
        testsupport::IsolatedDataHome home;
        QProcess program;
        start(program);
        QVERIFY(!waitForWindow(MainTitle, 30000, &program).isEmpty());
        QCOMPARE(::kill(pid_t(program.processId()), signalNumber), 0);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }

    // A stale or planted entry claiming one of our classes cannot stop the program; the
    // registrations at start remove it.
    void plantedRegistryEntryCannotStopTheProgram()
    {
        testsupport::IsolatedDataHome home;
        const rt::Registry registry;
        QFile planted(QDir(registry.folder()).filePath(QStringLiteral("0-planted.json")));
        QVERIFY(planted.open(QIODevice::WriteOnly));
        planted.write(R"({"clsid": "{00000000-0000-0000-0000-00000000000A}",
                          "progId": "MP3ENCLib.Mp3Enc", "library": "/nonexistent/Mp3Enc.ocx"})");
        planted.close();
        QProcess program;
        start(program);
        QVERIFY2(!waitForWindow(MainTitle, 30000, &program).isEmpty(), "no main window");
        QVERIFY(!planted.exists());
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
    }

    // The registration tool is run from beside the program or from the install's libexec
    // folder, never found on PATH (where "." would run whatever the current folder holds).
    void registrationToolNeverFromPath()
    {
        testsupport::IsolatedDataHome home;
        QTemporaryDir prefix;
        const QString binFolder = prefix.filePath(QStringLiteral("bin"));
        const QString libexec = prefix.filePath(QStringLiteral("libexec/batchmp3"));
        const QString cwd = prefix.filePath(QStringLiteral("somewhere"));
        for (const QString &folder : {binFolder, libexec, cwd})
            QVERIFY(QDir().mkpath(folder));
        const QString copy = QDir(binFolder).filePath(QStringLiteral("batchmp3"));
        QVERIFY(
            QFile::copy(QDir(testsupport::binDir()).filePath(QStringLiteral("batchmp3")), copy));
        const QString marker = prefix.filePath(QStringLiteral("planted tool ran"));
        const QString planted = QDir(cwd).filePath(QStringLiteral("regsvr32"));
        {
            QFile tool(planted);
            QVERIFY(tool.open(QIODevice::WriteOnly));
            tool.write(QStringLiteral("#!/bin/sh\ntouch '%1'\n").arg(marker).toUtf8());
        }
        QVERIFY(QFile::setPermissions(planted, QFile::permissions(planted) | QFile::ExeOwner));

        // The tool in libexec: registered from there, the main window comes.
        QVERIFY(QFile::copy(QDir(testsupport::binDir()).filePath(QStringLiteral("regsvr32")),
                            QDir(libexec).filePath(QStringLiteral("regsvr32"))));
        QProcess program;
        program.setProgram(copy);
        program.setWorkingDirectory(cwd);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), QStringLiteral(".:/usr/bin:/bin"));
        program.setProcessEnvironment(env);
        program.start();
        QVERIFY(program.waitForStarted());
        QVERIFY2(!waitForWindow(MainTitle, 30000, &program).isEmpty(), "no main window");
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
        QVERIFY(!QFileInfo::exists(marker));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "test_startup.moc"
