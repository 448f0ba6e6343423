#include "converter/batch/batchfigures.h"
#include "converter/window/batchtext.h"

#include <QtTest>

using namespace batchfigures;
using namespace batchtext;

class TestBatchText final : public QObject
{
    Q_OBJECT

private slots:
    void timeFigure_data()
    {
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<qint32>("frame");
        QTest::addColumn<QString>("expected");
        QTest::newRow("half real time") << 1.3 << 100 << "0.5";
        QTest::newRow("no trailing zeros") << 2.6 << 100 << "1";
        QTest::newRow("two decimals") << 1.0 << 100 << "0.38"; // 0.384615...
        QTest::newRow("no frame yet") << 5.0 << 0 << "0";
        QTest::newRow("nothing elapsed") << 0.0 << 10 << "0";
    }
    void timeFigure()
    {
        QFETCH(double, elapsed);
        QFETCH(qint32, frame);
        QFETCH(QString, expected);
        QCOMPARE(NumberText(TimeFigure(elapsed, frame)), expected);
    }

    void round2_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("expected");
        QTest::newRow("half to even, down") << 0.125 << 0.12;
        QTest::newRow("half to even, up") << 0.375 << 0.38;
        QTest::newRow("below half") << 1.234 << 1.23;
        QTest::newRow("above half") << 1.236 << 1.24;
        QTest::newRow("whole") << 3.0 << 3.0;
    }
    void round2()
    {
        QFETCH(double, value);
        QFETCH(double, expected);
        QCOMPARE(Round2(value), expected);
    }

    void progressLine()
    {
        QCOMPARE(ProgressLine(PercentText(37), 0.5), QStringLiteral("已完成：37 % 时间： 0.5"));
    }

    void totalCaption()
    {
        QCOMPARE(TotalCaption(QStringLiteral("a.wav"), 128000),
                 QStringLiteral("编译 a.wav\r\n      @ 128000 Kbps"));
    }

    // Skipped files with their reasons, and faults of the batch itself after them.
    void completionMessage_data()
    {
        QTest::addColumn<bool>("userFolder");
        QTest::addColumn<QStringList>("skipped"); // file, reason, file, reason, ...
        QTest::addColumn<QStringList>("problems");
        QTest::addColumn<QString>("expected");
        QTest::newRow("default folder")
            << false << QStringList() << QStringList()
            << "祝贺，转换已全部完成.\r\nMP3输出目录为默认路径(与wav同一目录)";
        QTest::newRow("user folder") << true << QStringList() << QStringList()
                                     << "祝贺，转换已全部完成.\r\nMP3输出目录为：/out/";
        QTest::newRow("skipped files named")
            << true << QStringList{"/m/a.wav", "磁盘空间不足", "/m/c.wav", "文件不存在"}
            << QStringList()
            << "祝贺，转换已全部完成.\r\nMP3输出目录为：/out/\r\n其中2个文件未能转换：\r\n/m/"
               "a.wav：磁盘空间不足\r\n/m/c.wav：文件不存在";
        QTest::newRow("something left out")
            << false << QStringList{"", "/m/b.flac", "封面太大"} << QStringList()
            << "祝贺，转换已全部完成.\r\nMP3输出目录为默认路径("
               "与wav同一目录)\r\n以下文件已转换，但有内容没有放进"
               "MP3：\r\n/m/b.flac：封面太大";
        QTest::newRow("a fault of the batch") << false << QStringList() << QStringList{"内存不足"}
                                              << "祝贺，转换已全部完成.\r\nMP3输出目录为默认路径("
                                                 "与wav同一目录)\r\n出错：内存不足";
    }
    void completionMessage()
    {
        QFETCH(bool, userFolder);
        QFETCH(QStringList, skipped);
        QFETCH(QStringList, problems);
        QFETCH(QString, expected);
        // Rows of two are files not converted; a leading "" turns the rest into notes.
        const bool notes = skipped.value(0).isEmpty() && !skipped.isEmpty();
        QList<NotConverted> files;
        for (qsizetype i = notes ? 1 : 0; i + 1 < skipped.size(); i += 2)
            files.append({skipped[i], skipped[i + 1]});
        QCOMPARE(CompletionMessage(userFolder, QStringLiteral("/out/"),
                                   notes ? QList<NotConverted>() : files, problems,
                                   notes ? files : QList<NotConverted>()),
                 expected);
    }

    // A long list of refused files keeps the message to a readable size but still counts all.
    void completionMessageManySkips()
    {
        QList<NotConverted> skipped;
        for (int i = 0; i < 50; ++i)
            skipped.append({QStringLiteral("/m/%1.wav").arg(i), QStringLiteral("文件不存在")});
        const QString message = CompletionMessage(false, QString(), skipped);
        QVERIFY(message.contains(QStringLiteral("其中50个文件未能转换")));
        QVERIFY(message.contains(QStringLiteral("/m/9.wav")));
        QVERIFY(!message.contains(QStringLiteral("/m/10.wav")));
        QVERIFY(message.endsWith(QStringLiteral("……等50个")));
    }
};

QTEST_APPLESS_MAIN(TestBatchText)
#include "test_batchtext.moc"
