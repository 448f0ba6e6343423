#include "converter/batch/batchreport.h"

#include <QtTest>

// The ledger the engine keeps, which both faces render: what it names, counts and exits with.
class TestBatchReport final : public QObject
{
    Q_OBJECT

private slots:
    void ledger_data()
    {
        QTest::addColumn<QStringList>("missing"); // left out before the batch: no such file
        QTest::addColumn<QString>("outcomes");    // one letter a file: c converted, n noted,
                                                  // x not converted, s skipped, i cut off,
                                                  // w never started
        QTest::addColumn<int>("signal");          // that interrupted it; 0 none
        QTest::addColumn<QStringList>("named");   // not converted, with the reason
        QTest::addColumn<int>("notes");
        QTest::addColumn<int>("skipped");
        QTest::addColumn<int>("status");
        QTest::newRow("all converted")
            << QStringList() << "cc" << 0 << QStringList() << 0 << 0 << 0;
        QTest::newRow("noted and skipped are no failure")
            << QStringList() << "cns" << 0 << QStringList() << 1 << 1 << 0;
        QTest::newRow("one not converted")
            << QStringList() << "cx" << 0 << QStringList{"f1：磁盘空间不足"} << 0 << 0 << 1;
        QTest::newRow("left out first, then the files in order")
            << QStringList{"/gone.wav"} << "xc" << 0
            << QStringList{"/gone.wav：文件不存在", "f0：磁盘空间不足"} << 0 << 0 << 1;
        QTest::newRow("Ctrl+C") << QStringList() << "ciw" << 2
                                << QStringList{"f1：转换被中断", "f2：转换被中断，尚未开始"} << 0
                                << 0 << 130;
    }
    void ledger()
    {
        QFETCH(QStringList, missing);
        QFETCH(QString, outcomes);
        QFETCH(int, signal);
        QFETCH(QStringList, named);
        QFETCH(int, notes);
        QFETCH(int, skipped);
        QFETCH(int, status);
        QList<LeftOut> leftOut;
        for (const QString &name : missing)
            leftOut.append({name, LeftOutReason::Missing});
        BatchReport report;
        report.begin(leftOut);
        const QMap<QChar, FileOutcome> kinds = {
            {u'c', {FileOutcome::Converted, {}, {}}},
            {u'n', {FileOutcome::Converted, {}, QStringLiteral("封面太大")}},
            {u'x', {FileOutcome::NotConverted, {}, QStringLiteral("磁盘空间不足")}},
            {u's', {FileOutcome::Skipped, {}, QStringLiteral("已是最新")}},
            {u'i', {FileOutcome::Interrupted, {}, {}}},
            {u'w', {FileOutcome::NotStarted, {}, {}}},
        };
        for (qsizetype k = 0; k < outcomes.size(); ++k)
            report.record(QStringLiteral("f%1").arg(k), kinds.value(outcomes[k]));
        report.end(signal != 0, signal);
        QStringList said;
        for (const NotConverted &file : report.notConverted())
            said << file.file + QStringLiteral("：") + file.reason;
        QCOMPARE(said, named);
        QCOMPARE(report.notes().size(), notes);
        QCOMPARE(report.skipped().size(), skipped);
        QCOMPARE(report.total(), int(missing.size() + outcomes.size()));
        QCOMPARE(report.exitStatus(), status);
    }

    // A fault of the batch, or a report that could not all be written, is no success; a fault
    // said twice is told once; a new batch begins with an empty ledger.
    void faultsAndDelivery()
    {
        BatchReport report;
        report.begin({});
        report.record(QStringLiteral("a"), {});
        report.end(false);
        QCOMPARE(report.exitStatus(), 0);
        QCOMPARE(report.exitStatus(false), 1);
        report.addProblem(QStringLiteral("无法读取进度"));
        report.addProblem(QStringLiteral("无法读取进度"));
        QCOMPARE(report.problems(), QStringList{"无法读取进度"});
        QCOMPARE(report.exitStatus(), 1);
        report.begin({}, {QStringLiteral("窗口")});
        QCOMPARE(report.total(), 0);
        QCOMPARE(report.problems(), QStringList{"窗口"});
    }

    // What was left out, reason by reason, each with the words every face uses.
    void leftOut()
    {
        FoundFiles found;
        found.tooLong = QStringList{"/long"};
        found.missing = QStringList{"/a", "/b"};
        found.notRegular = QStringList{"/fifo"};
        found.unreadable = QStringList{"/locked"};
        QStringList said;
        for (const LeftOut &left : found.leftOut())
            said << left.name + u' ' + LeftOutText(left.reason);
        QCOMPARE(said, (QStringList{
                           "/a 文件不存在", "/b 文件不存在", "/fifo 不是普通文件（管道、设备等）",
                           "/locked 没有权限读取这个文件夹", "/long 路径太长，系统无法打开"}));
    }
};

QTEST_APPLESS_MAIN(TestBatchReport)
#include "test_batchreport.moc"
