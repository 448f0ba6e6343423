#include "converter/batch/gainalbums.h"

#include <QtTest>
#include <stdexcept>

// Which files of a batch make one album for its gain, and when an album is complete.
class TestGainAlbums final : public QObject
{
    Q_OBJECT

    using Files = QList<BatchFile>;
    using TagRows = QList<QMap<QString, QString>>; // by position; "unreadable" throws

    static BatchFile fileAt(const QString &path)
    {
        BatchFile file;
        file.input = path;
        return file;
    }
    static GainAlbums planned(const Files &files, const TagRows &tags)
    {
        GainAlbums albums;
        albums.plan(files, [&tags](int position) {
            if (tags.value(position).contains(QStringLiteral("unreadable")))
                throw std::runtime_error("unreadable");
            return tags.value(position);
        });
        return albums;
    }

private slots:
    void grouping_data()
    {
        QTest::addColumn<Files>("files");
        QTest::addColumn<TagRows>("tags");
        QTest::addColumn<QList<int>>("groups"); // files with one number are one album
        const auto file = [](const char *path) { return fileAt(QLatin1String(path)); };
        const auto track = [](const char *image, const char *sheet, qint64 first) {
            BatchFile f = fileAt(QLatin1String(image));
            f.first = first;
            f.count = 100;
            f.sheet = QLatin1String(sheet);
            return f;
        };
        const QMap<QString, QString> a{{"album", "A"}, {"albumartist", "X"}};
        const QMap<QString, QString> aOther{{"album", "A"}, {"albumartist", "Y"}};
        const QMap<QString, QString> b{{"album", "B"}, {"albumartist", "X"}};
        QTest::newRow("one folder, album artist and album shared")
            << Files{file("/m/1.flac"), file("/m/2.flac"), file("/m/3.flac")} << TagRows{a, a, b}
            << QList{0, 0, 1};
        QTest::newRow("the same album by another album artist")
            << Files{file("/m/1.flac"), file("/m/2.flac")} << TagRows{a, aOther} << QList{0, 1};
        QTest::newRow("the same album in two folders")
            << Files{file("/m/cd1/1.flac"), file("/m/cd2/1.flac")} << TagRows{a, a} << QList{0, 1};
        QTest::newRow("no album tag: the folder's files")
            << Files{file("/m/1.wav"), file("/m/2.wav"), file("/n/3.wav")} << TagRows{{}, {}, {}}
            << QList{0, 0, 1};
        QTest::newRow("a cue sheet's tracks, whatever the tags")
            << Files{track("/m/img.flac", "/m/img.cue", 0), track("/m/img.flac", "/m/img.cue", 100),
                     file("/m/x.flac")}
            << TagRows{a, b, a} << QList{0, 0, 1};
        QTest::newRow("a sheet over two files, and a sheet carried in its file")
            << Files{track("/m/side1.wav", "/m/two.cue", 0), track("/m/side2.wav", "/m/two.cue", 0),
                     track("/m/own.flac", "", 0)}
            << TagRows{{}, {}, {}} << QList{0, 0, 1};
        QTest::newRow("an unreadable file is an album of its own")
            << Files{file("/m/1.wav"), file("/m/bad.wav"), file("/m/2.wav")}
            << TagRows{{}, {{"unreadable", ""}}, {}} << QList{0, 1, 0};
    }
    void grouping()
    {
        QFETCH(Files, files);
        QFETCH(TagRows, tags);
        QFETCH(QList<int>, groups);
        const GainAlbums albums = planned(files, tags);
        for (int i = 0; i < files.size(); ++i) {
            for (int k = 0; k < files.size(); ++k)
                QCOMPARE(albums.albumOf(i) == albums.albumOf(k), groups[i] == groups[k]);
        }
    }

    // Complete once every file is judged, told once, with the reasons it cannot be written.
    void completion_data()
    {
        QTest::addColumn<QStringList>("outcomes"); // "joined", "left", or a reason missed
        QTest::addColumn<QString>("problem");
        QTest::addColumn<int>("measured");
        QTest::newRow("all converted") << QStringList{"joined", "joined", "joined"} << "" << 3;
        QTest::newRow("one left as it was") << QStringList{"joined", "left", "joined"} << "" << 2;
        QTest::newRow("a stop, each reason once")
            << QStringList{"joined", "stopped", "stopped"} << "stopped" << 1;
        QTest::newRow("two reasons")
            << QStringList{"failed", "joined", "stopped"} << "failed；stopped" << 1;
    }
    void completion()
    {
        QFETCH(QStringList, outcomes);
        QFETCH(QString, problem);
        QFETCH(int, measured);
        const Files files(outcomes.size(), fileAt(QStringLiteral("/m/a.wav")));
        GainAlbums albums = planned(files, TagRows(outcomes.size()));
        for (int i = 0; i < outcomes.size(); ++i) {
            if (outcomes[i] == QLatin1String("joined"))
                albums.joined(i);
            else if (outcomes[i] == QLatin1String("left"))
                albums.leftAsIs(i, QStringLiteral("/m/a.mp3"));
            else
                albums.missed(i, outcomes[i]);
            if (i + 1 < outcomes.size())
                QVERIFY(!albums.completed(i)); // nothing before the last is complete
        }
        const std::optional<GainAlbums::Complete> done = albums.completed(0);
        QVERIFY(done);
        QCOMPARE(done->problem, problem);
        QCOMPARE(done->measured, measured);
        QCOMPARE(done->leftAsIs.size(), int(outcomes.count(QStringLiteral("left"))));
        QVERIFY(!albums.completed(0)); // told once
    }
};

QTEST_GUILESS_MAIN(TestGainAlbums)
#include "test_gainalbums.moc"
