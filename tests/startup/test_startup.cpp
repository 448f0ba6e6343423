#include "runtime/registry.h"
#include "runtime/systemfolder.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

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
        QVERIFY2(err.contains(QStringLiteral("ZantoXP按扭.ZTbutton")), qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "test_startup.moc"
