#include "converter/console/consoletext.h"

#include <QtTest>

using namespace consoletext;

class TestConsoleText final : public QObject
{
    Q_OBJECT

private slots:
    void timeLeft_data()
    {
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<double>("done");
        QTest::addColumn<double>("total");
        QTest::addColumn<QString>("expected");
        const QString unknown = QStringLiteral("剩余时间估算中");
        QTest::newRow("first second") << 0.5 << 50.0 << 100.0 << unknown;
        QTest::newRow("under a percent") << 30.0 << 0.5 << 100.0 << unknown;
        QTest::newRow("nothing to do") << 5.0 << 0.0 << 0.0 << unknown;
        QTest::newRow("half way") << 10.0 << 50.0 << 100.0 << QStringLiteral("剩余约 10秒");
        QTest::newRow("minutes") << 60.0 << 10.0 << 100.0 << QStringLiteral("剩余约 9分00秒");
        QTest::newRow("hours") << 100.0 << 1.0 << 100.0 << QStringLiteral("剩余约 2小时45分");
        // Files encoded ahead may make the work done pass the total.
        QTest::newRow("past the end") << 30.0 << 120.0 << 100.0 << QStringLiteral("剩余约 0秒");
    }

    void timeLeft()
    {
        QFETCH(double, elapsed);
        QFETCH(double, done);
        QFETCH(double, total);
        QFETCH(QString, expected);
        QCOMPARE(TimeLeftText(SecondsLeft(elapsed, done, total)), expected);
    }

    // The line never wraps: what does not fit is cut from the middle of the name, so its
    // ending, the percent and the time left stay.
    void progressLine_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QString>("expected");
        const QString tail = QStringLiteral("  37 %  剩余约 10秒");
        QTest::newRow("fits") << QStringLiteral("01 Intro.flac") << 80
                              << QStringLiteral("[2/9] 01 Intro.flac") + tail;
        QTest::newRow("long name") << QString(60, u'a') + QStringLiteral(".wav") << 40
                                   << QStringLiteral("[2/9] aaaaaaa…aa.wav") + tail;
        QTest::newRow("wide characters") << QStringLiteral("第一乐章快板第二乐章慢板第三乐章.wav")
                                         << 40 << QStringLiteral("[2/9] 第一乐章….wav") + tail;
        // The time left goes, then the line is cut: it never reaches the last column.
        QTest::newRow("20 columns")
            << QString(30, u'b') << 20 << QStringLiteral("[2/9] bbb…bbb  37 %");
        QTest::newRow("10 columns") << QString(30, u'b') << 10 << QStringLiteral("[2/9] …  ");
        QTest::newRow("1 column") << QString(30, u'b') << 1 << QString();
        // Control characters in a name are shown, not obeyed.
        QTest::newRow("terminal controls")
            << QStringLiteral("a\x1b]0;x\x07\nb.wav") << 80
            << QStringLiteral("[2/9] a\\x1B]0;x\\x07\\x0Ab.wav") + tail;
        // Nor marks that would turn the rest of the line around or break it.
        QTest::newRow("bidirectional overrides, line separators")
            << QStringLiteral("a\u202Evaw.b\u2066\u2028c.wav") << 80
            << QStringLiteral("[2/9] a\\u202Evaw.b\\u2066\\u2028c.wav") + tail;
    }

    void progressLine()
    {
        QFETCH(QString, name);
        QFETCH(int, columns);
        QFETCH(QString, expected);
        const QString line = ProgressLine(2, 9, name, 37, QStringLiteral("剩余约 10秒"), columns);
        QCOMPARE(line, expected);
        QVERIFY(DisplayWidth(line) < columns || line.isEmpty());
    }

    void summary_data()
    {
        QTest::addColumn<QList<NotConverted>>("notConverted");
        QTest::addColumn<bool>("interrupted");
        QTest::addColumn<QString>("expected");
        QTest::newRow("all") << QList<NotConverted>{} << false
                             << QStringLiteral("全部 3 个文件已转换为MP3。\n");
        // Every file is named, not only the first few as in the window's message.
        QList<NotConverted> many;
        QString names;
        for (int i = 0; i < 3; ++i) {
            many.append(
                {QStringLiteral("/m/%1.wav").arg(i), QStringLiteral("转换被中断，尚未开始")});
            names += QStringLiteral("  /m/%1.wav：转换被中断，尚未开始\n").arg(i);
        }
        QTest::newRow("interrupted")
            << many << true
            << QStringLiteral("转换已中断。\n3 个文件中 0 个已转换，3 个未转换：\n") + names;
        QTest::newRow("a newline in a name")
            << QList<NotConverted>{{QStringLiteral("/m/a\nb.wav"), QStringLiteral("文件不存在")}}
            << false
            << QStringLiteral(
                   "3 个文件中 2 个已转换，1 个未转换：\n  /m/a\\x0Ab.wav：文件不存在\n");
    }

    void summary()
    {
        QFETCH(QList<NotConverted>, notConverted);
        QFETCH(bool, interrupted);
        QFETCH(QString, expected);
        QCOMPARE(Summary(3, notConverted, interrupted), expected);
    }
};

QTEST_GUILESS_MAIN(TestConsoleText)
#include "test_consoletext.moc"
