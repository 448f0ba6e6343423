// A copy of a FLAC library kept in step by the real program: --existing update by the output
// folder's record, --prune and --dry-run, and --progress json, over a library the test makes.
#include "tests/support/testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <sndfile.h>

namespace {

const QString Pattern = QStringLiteral("{albumartist}/{album}/{track:02} {title}");

struct Ran
{
    int code = -1;
    QString out;
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The MP3's frames: what follows its ID3v2 tag, without the ID3v1 tag.
QByteArray framesOf(const QString &mp3)
{
    const QByteArray bytes = readAll(mp3);
    if (!bytes.startsWith("ID3") || bytes.size() < 10)
        return bytes;
    qint64 size = 10;
    for (int k = 6; k < 10; ++k)
        size = (size - 10) * 128 + quint8(bytes[k]) + 10;
    return bytes.mid(size, bytes.size() - size - 128);
}

// A picture of `width` by `height` at `file` (its type by the name's ending), made by ffmpeg.
bool picture(const QString &file, int width, int height)
{
    return QProcess::execute(QStringLiteral("ffmpeg"),
                             {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                              QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                              QStringLiteral("testsrc=size=%1x%2").arg(width).arg(height),
                              QStringLiteral("-frames:v"), QStringLiteral("1"), file}) == 0;
}

// "codec width height" of a picture, as ffprobe reads it.
QString probed(const QString &file)
{
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                 QStringLiteral("stream=codec_name,width,height"), QStringLiteral("-of"),
                 QStringLiteral("csv=p=0"), file});
    probe.waitForFinished(30000);
    return QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
}

} // namespace

class TestLibraryCopy final : public QObject
{
    Q_OBJECT

    testsupport::IsolatedDataHome m_home;
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString mp3(const QString &name) const { return path(QStringLiteral("out/Art/") + name); }

    // lib/<album>/<n>.flac, tagged; `seconds` long.
    bool flac(const QString &album, int track, const QString &title, double seconds = 1.0) const
    {
        const QString file = path(QStringLiteral("lib/%1/%2.flac").arg(album).arg(track));
        QDir().mkpath(QFileInfo(file).path());
        return testsupport::writeWav(file, int(seconds * 44100), 2, 44100,
                                     SF_FORMAT_FLAC | SF_FORMAT_PCM_16) &&
               tag(album, track,
                   {QStringLiteral("ALBUM=") + album, QStringLiteral("ALBUMARTIST=Art"),
                    QStringLiteral("TITLE=") + title, QStringLiteral("TRACKNUMBER=%1").arg(track)});
    }
    bool tag(const QString &album, int track, const QStringList &tags) const
    {
        QStringList arguments;
        for (const QString &t : tags)
            arguments << QStringLiteral("--remove-tag=") + t.section(u'=', 0, 0)
                      << QStringLiteral("--set-tag=") + t;
        arguments << path(QStringLiteral("lib/%1/%2.flac").arg(album).arg(track));
        return QProcess::execute(QStringLiteral("metaflac"), arguments) == 0;
    }
    bool library() const
    {
        return flac(QStringLiteral("A"), 1, QStringLiteral("One")) &&
               flac(QStringLiteral("A"), 2, QStringLiteral("Two")) &&
               flac(QStringLiteral("B"), 1, QStringLiteral("Three"));
    }

    Ran run(const QStringList &extra)
    {
        QProcess p;
        p.setWorkingDirectory(m_dir->path());
        p.start(testsupport::binDir() + QStringLiteral("/batchmp3"),
                QStringList{QStringLiteral("--convert"), QStringLiteral("-o"), path("out"),
                            QStringLiteral("-p"), Pattern, QStringLiteral("--existing"),
                            QStringLiteral("update")} +
                    extra + QStringList{path("lib")});
        Ran ran;
        if (p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit)
            ran.code = p.exitCode();
        ran.out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        return ran;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir().mkpath(path("out")));
        QVERIFY(library());
        const Ran first = run({QStringLiteral("-V"), QStringLiteral("2")});
        QCOMPARE(first.code, 0);
        QVERIFY(QFile::exists(mp3("A/02 Two.mp3")));
        QVERIFY(readAll(path("out/.batchmp3.sqlite")).startsWith("SQLite format 3"));
    }

    // What the second run sees changed, what it says of A/2.flac, the MP3 it is under then,
    // and whether its frames are those of the first run.
    void update_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("sameFrames");
        QTest::newRow("nothing") << ""
                                 << "与上次写出时相同，已是最新，跳过 3 个文件"
                                 << "A/02 Two.mp3" << true;
        QTest::newRow("settings") << "-V 0"
                                  << "2.flac：编码设置变了，已重新编码"
                                  << "A/02 Two.mp3" << false;
        QTest::newRow("audio") << "audio"
                               << "2.flac：声音变了，已重新编码"
                               << "A/02 Two.mp3" << false;
        QTest::newRow("tags only") << "GENRE=Jazz"
                                   << "2.flac：只有标签变了，已改写标签（未重新编码）"
                                   << "A/02 Two.mp3" << true;
        QTest::newRow("rename by pattern") << "TITLE=Deux"
                                           << "2.flac：只有标签变了，已改写标签（未重新编码）"
                                           << "A/02 Deux.mp3" << true;
        QTest::newRow("no record") << "no record"
                                   << "已是最新，跳过 3 个文件"
                                   << "A/02 Two.mp3" << true;
        QTest::newRow("damaged record") << "damaged record"
                                        << "已是最新，跳过 3 个文件"
                                        << "A/02 Two.mp3" << true;
    }
    void update()
    {
        QFETCH(QString, change);
        QFETCH(QString, said);
        QFETCH(QString, name);
        QFETCH(bool, sameFrames);
        const QByteArray before = framesOf(mp3("A/02 Two.mp3"));
        QStringList rate{QStringLiteral("-V"), QStringLiteral("2")};
        if (change == QLatin1String("-V 0"))
            rate = {QStringLiteral("-V"), QStringLiteral("0")};
        else if (change == QLatin1String("audio"))
            QVERIFY(flac(QStringLiteral("A"), 2, QStringLiteral("Two"), 1.5));
        else if (change.contains(u'='))
            QVERIFY(tag(QStringLiteral("A"), 2, {change}));
        else if (change == QLatin1String("no record"))
            QVERIFY(QFile::remove(path("out/.batchmp3.sqlite")));
        else if (change == QLatin1String("damaged record")) {
            QFile record(path("out/.batchmp3.sqlite"));
            QVERIFY(record.open(QIODevice::WriteOnly));
            QVERIFY(record.write(QByteArray(4096, 'x')) == 4096);
        }
        const Ran second = run(rate);
        QCOMPARE(second.code, 0);
        QVERIFY2(second.out.contains(said), qPrintable(second.out));
        QVERIFY(QFile::exists(mp3(name)));
        QCOMPARE(QDir(mp3("A")).entryList(QDir::Files).size(), 2); // no copy under an old name
        QCOMPARE(framesOf(mp3(name)) == before, sameFrames);
        if (change.startsWith(QLatin1String("TITLE"))) {
            QProcess probe;
            probe.start(QStringLiteral("ffprobe"),
                        {QStringLiteral("-v"), QStringLiteral("error"),
                         QStringLiteral("-show_entries"), QStringLiteral("format_tags=title"),
                         mp3(name)});
            QVERIFY(probe.waitForFinished(30000));
            QVERIFY(probe.readAllStandardOutput().contains("title=Deux"));
        }
        // The record is there (again) and, run once more, passes everything over.
        QVERIFY(readAll(path("out/.batchmp3.sqlite")).startsWith("SQLite format 3"));
        QVERIFY(run(rate).out.contains(QStringLiteral("跳过 3 个文件")));
    }

    // A tags-only rewrite keeps the ReplayGain measured when the MP3 was encoded.
    void tagsOnlyKeepsGain()
    {
        const QStringList gain{QStringLiteral("-V"), QStringLiteral("2"),
                               QStringLiteral("--replaygain"), QStringLiteral("track")};
        QCOMPARE(run(gain).code, 0); // the setting changed: encoded again, with its gain
        const auto gainTag = [this] {
            QProcess probe;
            probe.start(QStringLiteral("ffprobe"),
                        {QStringLiteral("-v"), QStringLiteral("error"),
                         QStringLiteral("-show_entries"), QStringLiteral("format_tags"),
                         mp3(QStringLiteral("A/02 Two.mp3"))});
            return probe.waitForFinished(30000) ? QString::fromUtf8(probe.readAllStandardOutput())
                                                : QString();
        };
        const QString measured = gainTag();
        QVERIFY2(measured.contains(QStringLiteral("REPLAYGAIN_TRACK_GAIN=")), qPrintable(measured));
        QVERIFY(tag(QStringLiteral("A"), 2, {QStringLiteral("GENRE=Jazz")}));
        QVERIFY(run(gain).out.contains(QStringLiteral("已改写标签（未重新编码）")));
        const QString retagged = gainTag();
        QVERIFY2(retagged.contains(QStringLiteral("genre=Jazz")), qPrintable(retagged));
        for (const QString &line : measured.split(u'\n'))
            if (line.startsWith(QStringLiteral("TAG:REPLAYGAIN")))
                QVERIFY2(retagged.contains(line), qPrintable(retagged));
    }

    // The album's gain is written into MP3s already recorded: they stay ours, as written.
    void albumGainStaysOurs()
    {
        const QStringList album{QStringLiteral("-V"), QStringLiteral("2"),
                                QStringLiteral("--replaygain"), QStringLiteral("album")};
        QCOMPARE(run(album).code, 0);
        const Ran again = run(album + QStringList{QStringLiteral("--prune")});
        QVERIFY2(again.out.contains(QStringLiteral("与上次写出时相同，已是最新，跳过 3 个文件")),
                 qPrintable(again.out));
        QVERIFY2(!again.out.contains(QStringLiteral("写出后被改动过")), qPrintable(again.out));
    }

    // Album B is gone; beside its MP3 lie the user's own MP3 and, in A, an MP3 of ours edited
    // in place (same size and time) whose input is gone too.
    void prune()
    {
        const QString mine = mp3("B/mine.mp3");
        QVERIFY(QFile::copy(mp3("B/01 Three.mp3"), mine));
        const QString edited = mp3("A/01 One.mp3");
        {
            QFile file(edited);
            const QDateTime time = QFileInfo(edited).lastModified();
            QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(2000) && file.write("x") == 1);
            QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
        }
        QVERIFY(QFile::remove(path("lib/A/1.flac")));
        QVERIFY(QDir(path("lib/B")).removeRecursively());
        QVERIFY(flac(QStringLiteral("C"), 1, QStringLiteral("Four")));

        const Ran dry =
            run({QStringLiteral("-V"), QStringLiteral("2"), QStringLiteral("--dry-run")});
        QCOMPARE(dry.code, 0);
        QVERIFY2(dry.out.contains(QStringLiteral("01 Three.mp3：将删除（输入文件已不在）")),
                 qPrintable(dry.out));
        QVERIFY(dry.out.contains(QStringLiteral("01 One.mp3：写出后被改动过，保留未动")));
        QVERIFY(QFile::exists(mp3("B/01 Three.mp3")));

        const Ran pruned =
            run({QStringLiteral("-V"), QStringLiteral("2"), QStringLiteral("--prune")});
        QCOMPARE(pruned.code, 0);
        QVERIFY(pruned.out.contains(QStringLiteral("01 Three.mp3：已删除（输入文件已不在）")));
        QVERIFY(!QFile::exists(mp3("B/01 Three.mp3")));
        QVERIFY(QFile::exists(mine));
        QVERIFY(QFile::exists(edited));
        QVERIFY(QFile::exists(mp3("A/02 Two.mp3")));
        QVERIFY(QFile::exists(mp3("C/01 Four.mp3")));
        // A folder it made and emptied goes; B still holds the user's file.
        QVERIFY(QFile::remove(mine));
        QVERIFY(run({QStringLiteral("-V"), QStringLiteral("2"), QStringLiteral("--prune")}).code ==
                0);
        QVERIFY(!QFileInfo::exists(mp3("B")));
        // Without an output folder there is nothing to prune.
        QProcess p;
        p.start(testsupport::binDir() + QStringLiteral("/batchmp3"),
                {QStringLiteral("--convert"), QStringLiteral("--prune"), path("lib")});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 2);
    }

    // Album A's cover beside its MP3s: from a picture beside the input or the embedded one,
    // named by its type, scaled; one standing write-protected is left and named; pruned with
    // the album.
    void covers_data()
    {
        QTest::addColumn<QString>("source"); // beside lib/A, or "" for embedded in each FLAC
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("probe");
        QTest::addColumn<bool>("protect");
        QTest::newRow("beside") << "Front.JPG"
                                << ""
                                << "folder.jpg"
                                << "mjpeg,800,600" << false;
        QTest::newRow("embedded") << ""
                                  << ""
                                  << "folder.png"
                                  << "png,800,600" << false;
        QTest::newRow("scaled") << "cover.png"
                                << "200"
                                << "folder.png"
                                << "png,200,150" << false;
        QTest::newRow("protected") << "cover.jpg"
                                   << ""
                                   << "folder.jpg"
                                   << "" << true;
    }
    void covers()
    {
        QFETCH(QString, source);
        QFETCH(QString, size);
        QFETCH(QString, written);
        QFETCH(QString, probe);
        QFETCH(bool, protect);
        if (source.isEmpty()) {
            const QString png = path("embedded.png");
            QVERIFY(picture(png, 800, 600));
            for (const QString &flac : {path("lib/A/1.flac"), path("lib/A/2.flac")})
                QVERIFY(QProcess::execute(QStringLiteral("metaflac"),
                                          {QStringLiteral("--import-picture-from=") + png, flac}) ==
                        0);
        } else {
            QVERIFY(picture(path("lib/A/") + source, 800, 600));
        }
        const QString cover = mp3(QStringLiteral("A/") + written);
        if (protect) {
            QFile mine(cover);
            QVERIFY(mine.open(QIODevice::WriteOnly) && mine.write("mine") == 4);
            mine.close();
            QVERIFY(mine.setPermissions(QFileDevice::ReadOwner));
            // Older than its source, so update would replace it.
            QVERIFY(mine.open(QIODevice::ReadOnly) &&
                    mine.setFileTime(QDateTime::currentDateTime().addDays(-1),
                                     QFileDevice::FileModificationTime));
        }
        QStringList extra{QStringLiteral("-V"), QStringLiteral("2"), QStringLiteral("--cover-file"),
                          QStringLiteral("folder.jpg")};
        if (!size.isEmpty())
            extra << QStringLiteral("--cover-size") << size;
        const Ran ran = run(extra);
        if (protect) {
            QCOMPARE(ran.code, 1); // a problem of the batch, as one the summary names
            QVERIFY2(ran.out.contains(QStringLiteral("folder.jpg：同名的文件受写保护，保留未动")),
                     qPrintable(ran.out));
            QCOMPARE(readAll(cover), QByteArray("mine"));
            return;
        }
        QCOMPARE(ran.code, 0);
        QCOMPARE(probed(cover), probe);
        QVERIFY(!QFileInfo::exists(mp3("B/") + written)); // B has no cover of its own
        QCOMPARE(QDir(mp3("A")).entryList(QDir::Files).size(), 3);
        // Kept in step: the album gone, --prune takes its cover and its folder with it.
        QVERIFY(QDir(path("lib/A")).removeRecursively());
        QCOMPARE(run(extra << QStringLiteral("--prune")).code, 0);
        QVERIFY(!QFileInfo::exists(mp3("A")));
    }

    // Every line is one JSON object; each file's events come start, progress, end; the
    // summary is last and carries the exit status.
    void progressJson()
    {
        QVERIFY(tag(QStringLiteral("A"), 1, {QStringLiteral("TITLE=Uno")}));
        const Ran ran = run({QStringLiteral("-V"), QStringLiteral("0"),
                             QStringLiteral("--progress"), QStringLiteral("json")});
        QCOMPARE(ran.code, 0);
        const QStringList lines = ran.out.split(u'\n', Qt::SkipEmptyParts);
        QHash<int, QString> last; // per file, its last event
        const QHash<QString, QStringList> before = {
            {QStringLiteral("start"), {QString()}},
            {QStringLiteral("progress"), {QStringLiteral("start"), QStringLiteral("progress")}},
            {QStringLiteral("end"),
             {QString(), QStringLiteral("start"), QStringLiteral("progress")}}};
        for (const QString &line : lines) {
            QJsonParseError error;
            const QJsonObject event = QJsonDocument::fromJson(line.toUtf8(), &error).object();
            QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(line));
            const QString kind = event.value(QLatin1String("event")).toString();
            if (!before.contains(kind))
                continue;
            const int index = event.value(QLatin1String("index")).toInt();
            QVERIFY2(before[kind].contains(last.value(index)), qPrintable(line));
            last[index] = kind;
        }
        QCOMPARE(QJsonDocument::fromJson(lines.first().toUtf8())["count"].toInt(), 3);
        const QJsonObject summary = QJsonDocument::fromJson(lines.last().toUtf8()).object();
        QCOMPARE(summary["event"].toString(), QStringLiteral("summary"));
        QCOMPARE(summary["exit_status"].toInt(), 0);
        QCOMPARE(summary["updated"].toArray().size(), 3);
        QCOMPARE(last.size(), 3);
        for (const QString &kind : last)
            QCOMPARE(kind, QStringLiteral("end"));
    }
};

QTEST_GUILESS_MAIN(TestLibraryCopy)
#include "test_librarycopy.moc"
