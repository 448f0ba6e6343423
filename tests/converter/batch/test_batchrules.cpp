#include "converter/batch/batchrules.h"
#include "converter/batch/namepattern.h"
#include "converter/batch/outputfolders.h"
#include "runtime/filename.h"

#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Where the batch puts each MP3: subfolders below the output folder, the outputs it claimed,
// names from tags, and the choice of one output under every existing-file rule.
class TestBatchRules final : public QObject
{
    Q_OBJECT

private slots:

    void outputSubfolder_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QString>("expected"); // below the output folder; "-" refused
        QTest::newRow("none") << ""
                              << "";
        QTest::newRow("made, two deep") << "CD 1/碟 a"
                                        << "CD 1/碟 a/";
        QTest::newRow("existing") << "have"
                                  << "have/";
        for (const char *bad : {"..", "../up", "a/../b", "a//b", ".", "/abs"})
            QTest::addRow("%s", bad) << bad << "-";
        QTest::newRow("a link out of it") << "link/x"
                                          << "-";
        QTest::newRow("a file in the way") << "file/x"
                                           << "-";
    }
    // Subfolders are made below the output folder and nowhere else.
    void outputSubfolder()
    {
        QFETCH(QString, relative);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out + QStringLiteral("/have")));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("outside"))));
        QVERIFY(
            QFile::link(dir.filePath(QStringLiteral("outside")), out + QStringLiteral("/link")));
        QFile file(out + QStringLiteral("/file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        const std::optional<QString> made = MakeOutputSubfolder(out, relative);
        QCOMPARE(made.value_or(QStringLiteral("-")),
                 expected == u'-' ? expected : out + u'/' + expected);
        if (made)
            QVERIFY(QFileInfo(*made).isDir());
        QVERIFY(QDir(dir.filePath(QStringLiteral("outside"))).isEmpty());
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("up"))));
    }

    // The batch knows its own outputs by the file as it stood when written: another spelling
    // of it is caught, a file another program made since (reusing the inode number) is not.
    void batchOutputsKnowTheirOwn()
    {
        QTemporaryDir dir;
        const auto make = [&](const QString &name) {
            QFile file(dir.filePath(name));
            return file.open(QIODevice::WriteOnly) && file.write("mp3") == 3;
        };
        BatchOutputs written;
        QVERIFY(make(QStringLiteral("a.mp3")));
        QVERIFY(written.add(dir.filePath(QStringLiteral("a.mp3"))));
        QVERIFY(written.contains(dir.path() + QStringLiteral("/./a.mp3")));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("a.mp3")),
                            dir.filePath(QStringLiteral("l.mp3"))));
        QVERIFY(written.contains(dir.filePath(QStringLiteral("l.mp3"))));
        QVERIFY(!written.add(dir.filePath(QStringLiteral("none.mp3"))));

        const auto inode = [&](const QString &name) {
            struct stat st = {};
            return ::stat(QFile::encodeName(dir.filePath(name)).constData(), &st) == 0 ? st.st_ino
                                                                                       : 0;
        };
        const auto ours = inode(QStringLiteral("a.mp3"));
        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("l.mp3"))));
        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("a.mp3"))));
        QVERIFY(!written.contains(dir.filePath(QStringLiteral("a.mp3")))); // gone: nothing to keep
        for (int k = 0; k < 50; ++k) {
            const QString other = QStringLiteral("other%1.mp3").arg(k);
            QVERIFY(make(other));
            if (inode(other) == ours) {
                QVERIFY(!written.contains(dir.filePath(other)));
                return;
            }
        }
        QSKIP("this file system gave no inode number twice");
    }

    // Names from tags: fallbacks for missing fields, values that cannot make folders, parts
    // cut to what a file system takes.
    void namePattern_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("tags"); // field, value, ...
        QTest::addColumn<QString>("expected");
        const QString usual = QStringLiteral("{albumartist}/{album}/{track:02} {title}");
        QTest::newRow("all there")
            << usual << QStringList{"artist", "A",     "albumartist", "B",     "album",
                                    "C",      "track", "7/12",        "title", "D"}
            << "B/C/07 D";
        QTest::newRow("missing fields")
            << usual << QStringList{"track", "3"} << "未知艺术家/未知专辑/03 01 x";
        QTest::newRow("album artist from artist")
            << "{albumartist}" << QStringList{"artist", "A"} << "A";
        QTest::newRow("slashes and controls inside values")
            << "{artist}/{title}" << QStringList{"artist", "AC/DC", "title", "a\nb\x1b"}
            << "AC_DC/a_b_";
        QTest::newRow("empty and dot folders dropped")
            << "{genre}/./../{title}" << QStringList{"title", "t"} << "t";
        QTest::newRow("dot values count as missing")
            << "{albumartist}/{album}/{title}"
            << QStringList{"artist", "..", "album", ".", "title", " . "}
            << "未知艺术家/未知专辑/01 x";
        QTest::newRow("marks that turn or break text inside values")
            << "{artist}/{title}"
            << QStringList{"artist", "a\u202Eb\u2066", "title", "x\u2028y\u2029\u200F"}
            << "a_b_/x_y__";
        QTest::newRow("disc width, date, filename")
            << "{date}/{disc:2}-{filename}" << QStringList{"date", "1999", "disc", "1/2"}
            << "1999/01-01 x";
        const QString wide = QString(100, u'歌'); // 300 bytes
        QTest::newRow("long parts cut on a character")
            << "{album}/{title}" << QStringList{"album", wide, "title", wide}
            << QString(85, u'歌') + u'/' + QString(83, u'歌');
    }
    void namePattern()
    {
        QFETCH(QString, pattern);
        QFETCH(QStringList, tags);
        QFETCH(QString, expected);
        namepattern::Tags map;
        for (qsizetype i = 0; i + 1 < tags.size(); i += 2)
            map.insert(tags[i], tags[i + 1]);
        QVERIFY(!namepattern::Problem(pattern));
        QCOMPARE(namepattern::Expand(pattern, map, QStringLiteral("01 x.flac")), expected);
    }
    void namePatternProblems_data()
    {
        QTest::addColumn<QString>("pattern");
        for (const char *bad : {"", "{artist", "artist}", "{foo}", "{title:02}", "{track:x}"})
            QTest::addRow("%s", bad) << QString::fromLatin1(bad);
    }
    void namePatternProblems()
    {
        QFETCH(QString, pattern);
        QVERIFY(namepattern::Problem(pattern));
    }

    // Where the batch puts an MP3 (names as bytes): the input's own bytes carried into a name
    // from a pattern; a free name cut so that its number fits; a folder under the name refused,
    // as is the name an earlier file of the batch left standing.
    void chooseOutput_data()
    {
        QTest::addColumn<QByteArray>("input"); // in the folder "in"
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<int>("rule");
        QTest::addColumn<QByteArray>("standing"); // in "out" already ("x/" a folder)
        QTest::addColumn<bool>("claimed");        // left standing by an earlier file
        QTest::addColumn<QByteArray>("name");     // the MP3's in "out", or "" with `refusal`
        QTest::addColumn<QString>("refusal");
        const int skip = int(ExistingRule::Skip), update = int(ExistingRule::Update);
        QTest::newRow("{filename}, a name in Latin-1")
            << QByteArray("caf\xe9.flac") << "{filename}" << int(ExistingRule::Overwrite)
            << QByteArray() << false << QByteArray("caf\xe9.mp3") << "";
        QTest::newRow("a free name for a name as long as can be")
            << QByteArray(251, 'x') + ".wav"
            << "" << int(ExistingRule::Rename) << QByteArray(251, 'x') + ".mp3" << false
            << QByteArray(247, 'x') + " (1).mp3"
            << "";
        for (const int rule : {skip, update})
            QTest::addRow("a folder under the name, %s", rule == skip ? "skip" : "update")
                << QByteArray("a.wav") << "" << rule << QByteArray("a.mp3/") << false
                << QByteArray() << "MP3会与一个文件夹同名";
        QTest::newRow("update, the name an earlier file left")
            << QByteArray("a.wav") << "" << update << QByteArray("a.mp3") << true << QByteArray()
            << "本批中前面的文件得出同名的MP3";
    }
    void chooseOutput()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, pattern);
        QFETCH(int, rule);
        QFETCH(QByteArray, standing);
        QFETCH(bool, claimed);
        QFETCH(QByteArray, name);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        const auto removeAll = qScopeGuard([&] { // names Qt cannot spell
            QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), dir.path()});
        });
        const QByteArray out = QFile::encodeName(dir.filePath(QStringLiteral("out"))) + '/';
        const QByteArray in = QFile::encodeName(dir.filePath(QStringLiteral("in"))) + '/';
        QVERIFY(::mkdir(out.constData(), 0755) == 0 && ::mkdir(in.constData(), 0755) == 0);
        const auto make = [](const QByteArray &path) {
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            return fd >= 0 && ::close(fd) == 0;
        };
        QVERIFY(make(in + input));
        BatchOutputs written;
        if (standing.endsWith('/'))
            QCOMPARE(::mkdir((out + standing).constData(), 0755), 0);
        else if (!standing.isEmpty())
            QVERIFY(make(out + standing));
        if (claimed)
            QVERIFY(written.add(rt::decodeFileName(out + standing), BatchOutputs::Claim::Kept));
        BatchFile file;
        file.input = rt::decodeFileName(in + input);
        BatchOptions options;
        options.outputFolder = rt::decodeFileName(out);
        options.existing = ExistingRule(rule);
        options.pattern = pattern;
        const namepattern::Tags tags;
        const OutputChoice choice = ChooseOutput(file, options, &tags, false, written);
        QVERIFY2(refusal.isEmpty() ? choice.refusal.isEmpty() : choice.refusal.startsWith(refusal),
                 qPrintable(choice.refusal));
        QCOMPARE(rt::encodeFileName(choice.path), name.isEmpty() ? name : out + name);
    }
};

QTEST_GUILESS_MAIN(TestBatchRules)
#include "test_batchrules.moc"
