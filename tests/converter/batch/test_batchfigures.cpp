#include "converter/batch/batchfigures.h"

#include <QtTest>

using namespace batchfigures;

// The figures every face shows alike: output names and percent.
class TestBatchFigures final : public QObject
{
    Q_OBJECT

private slots:
    void outputFileName_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected"); // "-" for no name
        QTest::newRow("lower case") << "a.wav"
                                    << "a.mp3";
        QTest::newRow("upper case ending") << "A.WAV"
                                           << "A.mp3";
        QTest::newRow("four-letter ending") << "x.wave"
                                            << "x.wmp3";
        QTest::newRow("blanks trimmed") << "  song.wav  "
                                        << "song.mp3";
        QTest::newRow("tab is not a blank") << "song.wav\t"
                                            << "song.wmp3";
        QTest::newRow("exactly three characters") << "wav"
                                                  << "mp3";
        QTest::newRow("two characters") << "ab"
                                        << "-";
        QTest::newRow("blanks around two characters") << "  ab "
                                                      << "-";
        QTest::newRow("empty") << ""
                               << "-";
        QTest::newRow("unicode") << "歌曲.wav"
                                 << "歌曲.mp3";
        // The other kinds the encoder reads lose their whole ending, of 2 to 4 letters, in any
        // case; an ending of no kind keeps the rule above.
        QTest::newRow("au") << "a.au"
                            << "a.mp3";
        QTest::newRow("ogg") << "a.b.ogg"
                             << "a.b.mp3";
        QTest::newRow("FLAC") << "曲 01.FLAC"
                              << "曲 01.mp3";
        QTest::newRow("rf64") << "long.rf64"
                              << "long.mp3";
        QTest::newRow("aifc, blanks trimmed") << " x.aifc "
                                              << "x.mp3";
        QTest::newRow("five letters of no kind") << "x.abcde"
                                                 << "x.abmp3";
        QTest::newRow("a kind's ending as the whole name") << "flac"
                                                           << "fmp3";
    }
    void outputFileName()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const std::optional<QString> name = OutputFileName(input);
        QCOMPARE(name.value_or(QStringLiteral("-")), expected);
    }

    void framePercent_data()
    {
        QTest::addColumn<qint32>("frame");
        QTest::addColumn<qint32>("total");
        QTest::addColumn<qint32>("expected");
        QTest::newRow("37 of 100") << 37 << 100 << 37;
        QTest::newRow("12.5 rounds down to even") << 1 << 8 << 12;
        QTest::newRow("37.5 rounds up to even") << 3 << 8 << 38;
        QTest::newRow("last frame") << 8 << 8 << 100;
        QTest::newRow("zero frame count") << 5 << 0 << 0;
        QTest::newRow("past 32-bit product") << 30000000 << 40000000 << 75;
        QTest::newRow("largest frame") << 2147483647 << 2147483647 << 100;
    }
    void framePercent()
    {
        QFETCH(qint32, frame);
        QFETCH(qint32, total);
        QFETCH(qint32, expected);
        QCOMPARE(FramePercent(frame, total), expected);
    }
};

QTEST_APPLESS_MAIN(TestBatchFigures)
#include "test_batchfigures.moc"
