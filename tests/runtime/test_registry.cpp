#include "runtime/filename.h"
#include "runtime/payload.h"
#include "runtime/process.h"
#include "runtime/registry.h"
#include "runtime/systemfolder.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QProcess>
#include <QtTest>
#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString ClassA = QStringLiteral("TestLib.Counter");
const QString ClassB = QStringLiteral("测试库.计数器");

QString bin(const QString &name)
{
    return QDir(testsupport::binDir()).filePath(name);
}

struct ToolResult
{
    int exitCode;
    QString output;
};

ToolResult regsvr32(const QStringList &args)
{
    QProcess p;
    p.start(bin(QStringLiteral("regsvr32")), args);
    p.waitForFinished(30000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError())};
}

unsigned modeOf(const QString &path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

class TestRegistry final : public QObject
{
    Q_OBJECT

private slots:
    void addFindRemove()
    {
        testsupport::IsolatedDataHome home;
        rt::Registry registry;
        QVERIFY(!registry.folder().isEmpty());
        QVERIFY(registry.folder().startsWith(home.path()));
        rt::RegistryEntry e{QStringLiteral("{11111111-2222-3333-4444-555555555555}"),
                            QStringLiteral("ZantoXP按扭.ZTbutton"),
                            QStringLiteral("/x/ZTbutton.ocx"),
                            QStringLiteral("d"),
                            QStringLiteral("ZantoXP按扭"),
                            QStringLiteral("4.0"),
                            QStringLiteral("1.20")};
        QVERIFY(registry.add(e));
        QCOMPARE(registry.find(QStringLiteral("zantoxp按扭.ztbutton"))->libraryPath, e.libraryPath);
        QCOMPARE(registry.find(QStringLiteral("{11111111-2222-3333-4444-555555555555}"))->progId,
                 e.progId);
        QCOMPARE(registry.find(e.clsid)->fileVersion, QStringLiteral("1.20"));
        e.libraryPath = QStringLiteral("/y/ZTbutton.ocx");
        QVERIFY(registry.add(e)); // registering again replaces
        QCOMPARE(registry.entries().size(), 1);
        QCOMPARE(registry.find(e.progId)->libraryPath, e.libraryPath);
        QVERIFY(registry.remove(e.progId));
        QVERIFY(!registry.find(e.progId));
        QVERIFY(registry.remove(e.progId)); // already gone is fine
    }

    // Registration runs twice in parallel at every start; entries must never be lost or torn.
    void parallelRegistrationsKeepEveryEntry()
    {
        testsupport::IsolatedDataHome home;
        const rt::Registry registry;
        const QString libA = bin(QStringLiteral("TestComponentA.ocx"));
        const QString libB = bin(QStringLiteral("TestComponentB.ocx"));
        int torn = 0;
        for (int round = 0; round < 25; ++round) {
            QProcess a, b, c;
            a.start(bin(QStringLiteral("regsvr32")), {QStringLiteral("/s"), libA});
            b.start(bin(QStringLiteral("regsvr32")), {QStringLiteral("/s"), libB});
            c.start(bin(QStringLiteral("regsvr32")), {QStringLiteral("/s"), libA});
            // Read while they write: any entry seen must be whole.
            while (a.state() != QProcess::NotRunning || b.state() != QProcess::NotRunning ||
                   c.state() != QProcess::NotRunning) {
                for (const rt::RegistryEntry &e : registry.entries()) {
                    if (e.libraryPath != libA && e.libraryPath != libB)
                        ++torn;
                }
                QCoreApplication::processEvents();
            }
            for (const QProcess *p : {&a, &b, &c}) {
                QCOMPARE(p->exitStatus(), QProcess::NormalExit);
                QCOMPARE(p->exitCode(), 0);
            }
            QVERIFY2(registry.find(ClassA) && registry.find(ClassB),
                     qPrintable(QString::number(round)));
            QCOMPARE(registry.find(ClassA)->libraryPath, libA);
            QCOMPARE(registry.find(ClassB)->libraryPath, libB);
        }
        QCOMPARE(torn, 0);
        // No temporaries left behind.
        QCOMPARE(QDir(registry.folder()).entryList(QDir::Files).size(), 2);
    }

    void toolReportsFailuresClearly_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing") << QStringLiteral("/nonexistent/x.ocx")
                                 << QStringLiteral("file not found");
        QTest::newRow("not a library")
            << QStringLiteral("TEXT") << QStringLiteral("could not be loaded");
        QTest::newRow("no entry points") << bin(QStringLiteral("libruntime.so"))
                                         << QStringLiteral("DllRegisterServer was not found");
    }

    void toolReportsFailuresClearly()
    {
        QFETCH(QString, file);
        QFETCH(QString, expected);
        testsupport::IsolatedDataHome home;
        if (file == QLatin1String("TEXT")) {
            file = QDir(home.path()).filePath(QStringLiteral("broken name.ocx"));
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("not a library");
        }
        const ToolResult loud = regsvr32({file});
        QCOMPARE(loud.exitCode, 1);
        QVERIFY2(loud.output.contains(expected), qPrintable(loud.output));
        const ToolResult quiet = regsvr32({QStringLiteral("/s"), file});
        QCOMPARE(quiet.exitCode, 1);
        QVERIFY(quiet.output.isEmpty());
    }

    void toolRegistersAndUnregisters()
    {
        testsupport::IsolatedDataHome home;
        const QString lib = bin(QStringLiteral("TestComponentB.ocx"));
        const ToolResult reg = regsvr32({lib});
        QCOMPARE(reg.exitCode, 0);
        QVERIFY(reg.output.contains(QStringLiteral("succeeded")));
        QVERIFY(rt::Registry().find(ClassB));
        QCOMPARE(regsvr32({QStringLiteral("/u"), QStringLiteral("/s"), lib}).exitCode, 0);
        QVERIFY(!rt::Registry().find(ClassB));
        QCOMPARE(regsvr32({}).exitCode, 2);
    }

    // Whatever the umask, the runtime's folders are the user's alone, entries 0600, libraries
    // 0700; folders an older run left open are closed again.
    void privateWhateverTheUmask()
    {
        const mode_t saved = ::umask(0);
        testsupport::IsolatedDataHome home;
        QVERIFY(testsupport::registerBuiltComponent(QStringLiteral("TestComponentA.ocx")));
        const QString library = QDir(rt::systemFolder()).filePath(QStringLiteral("A.ocx"));
        QCOMPARE(rt::writeFileAtomically(library, "library bytes"), 0);
        ::umask(saved);
        const QString runtime = home.path() + QStringLiteral("/zanto-runtime");
        const rt::Registry registry;
        QCOMPARE(modeOf(runtime), 0700u);
        QCOMPARE(modeOf(rt::systemFolder()), 0700u);
        QCOMPARE(modeOf(registry.folder()), 0700u);
        QCOMPARE(modeOf(library), 0700u);
        const QFileInfoList entries = QDir(registry.folder()).entryInfoList(QDir::Files);
        QCOMPARE(entries.size(), 1);
        QCOMPARE(modeOf(entries.first().filePath()), 0600u);

        QCOMPARE(::chmod(QFile::encodeName(registry.folder()).constData(), 0777), 0);
        QVERIFY(!rt::registryFolder().isEmpty());
        QCOMPARE(modeOf(registry.folder()), 0700u);
    }

    // A relative XDG_DATA_HOME is ignored, as the XDG rules say: ~/.local/share instead.
    void relativeDataHomeIgnored()
    {
        QTemporaryDir homeDir;
        const QByteArray savedHome = qgetenv("HOME");
        testsupport::IsolatedDataHome isolated;
        qputenv("HOME", QFile::encodeName(homeDir.path()));
        qputenv("XDG_DATA_HOME", "relative/data");
        const QString system = rt::systemFolder();
        qputenv("HOME", savedHome);
        QCOMPARE(system, homeDir.path() + QStringLiteral("/.local/share/zanto-runtime/system"));
        QVERIFY(!QFileInfo::exists(QStringLiteral("relative")));
    }

    // Without HOME (a service, "env -i") the home folder is the password database's, never the
    // file system's root; the program sets HOME from it so Qt's own folders agree.
    void noHomeVariable()
    {
        const QByteArray savedHome = qgetenv("HOME");
        testsupport::IsolatedDataHome isolated;
        const auto restore = qScopeGuard([&] { qputenv("HOME", savedHome); });
        qunsetenv("XDG_DATA_HOME");
        qunsetenv("HOME");
        const passwd *entry = ::getpwuid(::getuid());
        QVERIFY(entry && entry->pw_dir[0] == '/');
        const QString home = QDir::cleanPath(QFile::decodeName(entry->pw_dir));
        QCOMPARE(rt::dataHome(), QDir::cleanPath(home + QStringLiteral("/.local/share")));
        rt::ensureHomeVariable();
        QCOMPARE(QDir::homePath(), home);
    }

    // The reason a data folder cannot be had comes back with the folder that failed.
    void dataFolderProblemNamed()
    {
        testsupport::IsolatedDataHome home;
        const QString file = QDir(home.path()).filePath(QStringLiteral("a file"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        qputenv("XDG_DATA_HOME", QFile::encodeName(file));
        rt::FolderProblem problem;
        QCOMPARE(rt::systemFolder(&problem), QString());
        QCOMPARE(problem.folder, file + QStringLiteral("/zanto-runtime"));
        QCOMPARE(problem.errorNumber, ENOTDIR);
    }

    // Helpers run from beside the program or by absolute path, never found on PATH.
    void noPathLookup()
    {
        QCOMPARE(rt::HiddenProcess::locate(QStringLiteral("sh")), QString());
        QCOMPARE(rt::HiddenProcess::locate(QStringLiteral("/bin/sh")), QStringLiteral("/bin/sh"));
        QCOMPARE(rt::HiddenProcess::locate(QStringLiteral("regsvr32")),
                 bin(QStringLiteral("regsvr32")));
    }
};

QTEST_GUILESS_MAIN(TestRegistry)
#include "test_registry.moc"
