#include "converter/files/pathhelpers.h"

#include <QtTest>

// The Windows rows use the Windows separator set; the POSIX rows the platform default.
class TestPathHelpers final : public QObject
{
    Q_OBJECT

private slots:
    void parsePath_data()
    {
        QTest::addColumn<bool>("windows");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("win folder kept with its separator") << true << "C:\\music\\song.wav"
                                                            << "C:\\music\\";
        QTest::newRow("win drive colon ends the folder") << true << "C:song.wav"
                                                         << "C:";
        QTest::newRow("win bare name") << true << "song.wav"
                                       << "";
        QTest::newRow("win drive root") << true << "C:\\"
                                        << "C:\\";
        QTest::newRow("win empty") << true << ""
                                   << "";
        QTest::newRow("posix folder") << false << "/music/song.wav"
                                      << "/music/";
        QTest::newRow("posix colon is an ordinary character") << false << "a:song.wav"
                                                              << "";
        QTest::newRow("posix bare name") << false << "song.wav"
                                         << "";
        QTest::newRow("posix root") << false << "/"
                                    << "/";
        QTest::newRow("posix file in root") << false << "/a.wav"
                                            << "/";
        QTest::newRow("posix unicode") << false << "/音乐/歌 曲.wav"
                                       << "/音乐/";
        QTest::newRow("posix backslash is an ordinary character") << false << "/m/a\\b.wav"
                                                                  << "/m/";
    }
    void parsePath()
    {
        QFETCH(bool, windows);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(ParsePath(path, windows ? WindowsSeparators : PlatformSeparators), expected);
    }

    // ParseFileName and StripPath agree on paths, so one table checks both.
    void fileName_data()
    {
        QTest::addColumn<bool>("windows");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("win path") << true << "C:\\music\\song.wav"
                                  << "song.wav";
        QTest::newRow("win bare name") << true << "song.wav"
                                       << "song.wav";
        QTest::newRow("win folder only") << true << "C:\\music\\"
                                         << "";
        QTest::newRow("win colon does not separate") << true << "C:song.wav"
                                                     << "C:song.wav";
        QTest::newRow("win empty") << true << ""
                                   << "";
        QTest::newRow("posix path") << false << "/music/song.wav"
                                    << "song.wav";
        QTest::newRow("posix bare name") << false << "song.wav"
                                         << "song.wav";
        QTest::newRow("posix folder only") << false << "/music/"
                                           << "";
        QTest::newRow("posix root file") << false << "/a.wav"
                                         << "a.wav";
        QTest::newRow("posix blanks kept") << false << "/m/ a b.wav "
                                           << " a b.wav ";
        QTest::newRow("posix unicode") << false << "/音乐/歌曲.wav"
                                       << "歌曲.wav";
    }
    void fileName()
    {
        QFETCH(bool, windows);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        const PathSeparators &sep = windows ? WindowsSeparators : PlatformSeparators;
        QCOMPARE(ParseFileName(path, sep), expected);
        QCOMPARE(StripPath(path, sep), expected);
    }

    void getFileExt_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("simple") << "song.wav"
                                << "wav";
        QTest::newRow("two dots") << "a.b.wav"
                                  << "wav";
        QTest::newRow("no dot gives the whole text") << "song"
                                                     << "song";
        QTest::newRow("win dot in a folder") << "C:\\a.b\\song"
                                             << "b\\song";
        QTest::newRow("posix dot in a folder") << "/a.b/song"
                                               << "b/song";
        QTest::newRow("trailing dot") << "song."
                                      << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void getFileExt()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(GetFileExt(name), expected);
    }
    // Lengths past the 16-bit limit of old still work.
    void longPath()
    {
        const QString folder = QStringLiteral("/") + QString(40000, u'x') + u'/';
        QCOMPARE(ParsePath(folder + QStringLiteral("a.wav")), folder);
        QCOMPARE(ParseFileName(folder + QStringLiteral("a.wav")), QStringLiteral("a.wav"));
    }
};

QTEST_GUILESS_MAIN(TestPathHelpers)
#include "test_pathhelpers.moc"
