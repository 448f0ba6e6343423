// scripts/package.sh turns the built tree into a Debian package: its files under /usr, the
// libraries it depends on, lintian's verdict, and the program run from the unpacked package.

#include "tests/install/installlayout.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString AppId = QStringLiteral(BATCHMP3_APP_ID);

struct Ran
{
    int code = -1;
    QString out;
    QString err;
};

Ran run(const QString &program, const QStringList &args,
        const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    Ran ran;
    if (p.waitForFinished(600000) && p.exitStatus() == QProcess::NormalExit)
        ran.code = p.exitCode();
    ran.out = QString::fromUtf8(p.readAllStandardOutput());
    ran.err = QString::fromUtf8(p.readAllStandardError());
    return ran;
}

} // namespace

class TestPackage final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_deb;

    QString field(const QString &name) const
    {
        return run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, name}).out.trimmed();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const Ran ran = run(QStringLiteral(BATCHMP3_SOURCE_DIR "/scripts/package.sh"),
                            {QStringLiteral(BATCHMP3_BUILD_DIR), m_dir.path()});
        QVERIFY2(ran.code == 0, qPrintable(ran.out + ran.err));
        m_deb = ran.out.trimmed().split(u'\n').last();
        const QString arch =
            run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}).out.trimmed();
        QCOMPARE(QFileInfo(m_deb).fileName(),
                 QStringLiteral("batchmp3_%1_%2.deb").arg(BATCHMP3_VERSION_TEXT, arch));
    }

    // Today's install layout under /usr, with the manual page and the copyright file.
    void contents()
    {
        const Ran listing = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), m_deb});
        QCOMPARE(listing.code, 0);
        QStringList files;
        for (const QString &line : listing.out.split(u'\n', Qt::SkipEmptyParts)) {
            if (!line.startsWith(u'd'))
                files << line.section(u' ', -1);
            QVERIFY2(line.contains(QStringLiteral(" root/root ")), qPrintable(line));
        }
        files.sort();
        QStringList expected;
        for (const QString &file : installLayout(AppId, QStringLiteral(BATCHMP3_PRIVATE_LIBDIR)))
            expected << QStringLiteral("./usr/") + file;
        QCOMPARE(files, expected);
    }

    // The libraries of the program and of the two components it carries inside it, and Qt's
    // platform plugins the window needs.
    void fields()
    {
        QCOMPARE(field(QStringLiteral("Package")), QStringLiteral("batchmp3"));
        QCOMPARE(field(QStringLiteral("Version")), QStringLiteral(BATCHMP3_VERSION_TEXT));
        const QStringList depends =
            field(QStringLiteral("Depends")).split(QStringLiteral(", "), Qt::SkipEmptyParts);
        QStringList names;
        for (const QString &d : depends)
            names << d.section(u' ', 0, 0);
        for (const char *needed : {"libc6", "libqt6core6", "libqt6widgets6", "libmp3lame0",
                                   "libsndfile1", "libtag1v5", "qt6-qpa-plugins"})
            QVERIFY2(names.contains(QString::fromLatin1(needed)), qPrintable(names.join(u' ')));
        QCOMPARE(names.removeDuplicates(), 0);
    }

    // No error and no warning; what lintian says beyond that is pedantry or information.
    void lintian()
    {
        const Ran ran = run(QStringLiteral("lintian"), {m_deb});
        const QRegularExpression serious(QStringLiteral("^[EW]: "),
                                         QRegularExpression::MultilineOption);
        QVERIFY2(!serious.match(ran.out).hasMatch(), qPrintable(ran.out + ran.err));
        QVERIFY2(ran.code == 0, qPrintable(ran.out + ran.err));
    }

    // Unpacked anywhere, the program finds its library and registration tool and converts,
    // with no display.
    void runsUnpacked()
    {
        const QString root = m_dir.filePath(QStringLiteral("root"));
        QCOMPARE(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, root}).code, 0);
        const QString wav = m_dir.filePath(QStringLiteral("a.wav"));
        QVERIFY(testsupport::writeWav(wav, 44100));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
        const Ran ran = run(root + QStringLiteral("/usr/bin/batchmp3"),
                            {QStringLiteral("--convert"), wav}, env);
        QVERIFY2(ran.code == 0, qPrintable(ran.out + ran.err));
        QVERIFY(QFileInfo(m_dir.filePath(QStringLiteral("a.mp3"))).size() > 1000);
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "test_package.moc"
