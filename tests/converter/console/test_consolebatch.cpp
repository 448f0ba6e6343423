#include "converter/console/consolebatch.h"
#include "converter/console/textformatter.h"
#include "runtime/componenthost.h"
#include "tests/converter/fakeencoder.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

// Another form of output costs one class: it is handed every step in order, and the ledger.
class StepsFormatter final : public BatchFormatter
{
public:
    QStringList steps;
    void planned() override { steps << QStringLiteral("planned"); }
    void fileStarted(int position) override { steps << QStringLiteral("start %1").arg(position); }
    void progress(int position, qint32 percent) override
    {
        steps << QStringLiteral("%1 at %2").arg(position).arg(percent);
    }
    void fileEnded(int position, const FileOutcome &outcome) override
    {
        steps << QStringLiteral("end %1 as %2").arg(position).arg(outcome.kind);
    }
    void warn(const QString &text) override { steps << text; }
    void finished(const BatchReport &report) override
    {
        steps << QStringLiteral("finished, %1 of %2 not converted")
                     .arg(report.notConverted().size())
                     .arg(report.total());
    }
    bool delivered() const override { return true; }
};

// The terminal's batch over outcomes the real encoder gives rarely: every file ends with its
// own reason in the summary, and the batch goes on past a component that throws when asked why.
class TestConsoleBatch final : public QObject
{
    Q_OBJECT

private slots:
    void outcomes_data()
    {
        QTest::addColumn<int>("outcome"); // of b.wav, between two files that convert
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("said"); // in the summary
        QTest::addColumn<int>("code");
        QTest::newRow("failed, with the encoder's reason")
            << int(FakeEncoder::Outcome::Failed) << QStringLiteral("磁盘空间不足")
            << QStringLiteral("3 个文件中 2 个已转换，1 个未转换：\n  %1：磁盘空间不足") << 1;
        QTest::newRow("the component throws at the end of the file")
            << int(FakeEncoder::Outcome::Broken) << QStringLiteral("编码组件已不可用")
            << QStringLiteral("3 个文件中 2 个已转换，1 个未转换：\n  %1：编码组件已不可用") << 1;
        QTest::newRow("converted, something left out")
            << int(FakeEncoder::Outcome::Converted) << QStringLiteral("封面图片太大")
            << QStringLiteral("全部 3 个文件已转换为MP3。\n以下文件已转换，但有内容没有放进MP3：\n "
                              " %1：封面图片太大")
            << 0;
        // By the time its MP3 was put in place, another program's stood under its name.
        QTest::newRow("a file stood there by then, left")
            << int(FakeEncoder::Outcome::Kept) << QString()
            << QStringLiteral(
                   "3 个文件中 2 个已转换。\n同名的MP3在转换期间出现了，保留未动，跳过 1 "
                   "个文件。")
            << 0;
        QTest::newRow("a file stood there by then, a free name taken")
            << int(FakeEncoder::Outcome::Renamed) << QString() << QStringLiteral("b (1).mp3\n")
            << 0;
    }
    void outcomes()
    {
        QFETCH(int, outcome);
        QFETCH(QString, reason);
        QFETCH(QString, said);
        QFETCH(int, code);
        QTemporaryDir dir;
        QStringList inputs;
        for (const char *name : {"a.wav", "b.wav", "c.wav"}) {
            inputs << dir.filePath(QLatin1String(name));
            QFile file(inputs.last());
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        rt::ComponentHost host(QStringLiteral("Mp3"));
        auto fake = std::make_unique<FakeEncoder>(&host);
        fake->plans[QStringLiteral("b.wav")] = {FakeEncoder::Outcome(outcome), reason};
        host.adopt(std::move(fake));

        FoundFiles found;
        found.files = inputs;
        BatchEngine engine(&host);
        ConsoleOutput output;
        TextFormatter text(engine, output, false);
        ConsoleBatch batch(engine, found, text);
        QSignalSpy finished(&batch, &ConsoleBatch::finished);
        const QString out = capturingStdout(dir.filePath(QStringLiteral("out.txt")), [&] {
            batch.start();
            QVERIFY(finished.wait(5000));
        });
        QCOMPARE(finished.value(0).value(0).toInt(), code);
        QVERIFY2(out.contains(said.arg(inputs[1])), qPrintable(out));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("a.mp3"))));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("c.mp3"))));
    }

    // A quit signal before the first file: nothing is opened, every file is named as not
    // started, and the exit status is the signal's.
    void interruptedBeforeTheFirstFile()
    {
        QTemporaryDir dir;
        rt::ComponentHost host(QStringLiteral("Mp3"));
        host.adopt(std::make_unique<FakeEncoder>(&host));
        FoundFiles found;
        found.files = QStringList{dir.filePath(QStringLiteral("a.wav"))};
        found.missing = QStringList{QStringLiteral("gone.wav")};
        BatchEngine engine(&host);
        ConsoleOutput output;
        TextFormatter text(engine, output, false);
        ConsoleBatch batch(engine, found, text);
        QSignalSpy finished(&batch, &ConsoleBatch::finished);
        const QString out =
            capturingStdout(dir.filePath(QStringLiteral("out.txt")), [&] { batch.interrupt(15); });
        QCOMPARE(finished.value(0).value(0).toInt(), 143);
        QCOMPARE(out, QStringLiteral("转换已中断。\n2 个文件中 0 个已转换，2 个未转换：\n"
                                     "  gone.wav：文件不存在\n  %1：转换被中断，尚未开始\n")
                          .arg(found.files[0]));
    }

    void anotherForm()
    {
        QTemporaryDir dir;
        rt::ComponentHost host(QStringLiteral("Mp3"));
        host.adopt(std::make_unique<FakeEncoder>(&host));
        FoundFiles found;
        found.files = QStringList{dir.filePath(QStringLiteral("a.wav"))};
        QFile input(found.files[0]);
        QVERIFY(input.open(QIODevice::WriteOnly));
        found.missing = QStringList{QStringLiteral("gone.wav")};
        BatchEngine engine(&host);
        StepsFormatter steps;
        ConsoleBatch batch(engine, found, steps);
        QSignalSpy finished(&batch, &ConsoleBatch::finished);
        batch.start();
        QVERIFY(finished.wait(5000));
        QCOMPARE(steps.steps, (QStringList{"planned", "start 0", "0 at 100", "end 0 as 0",
                                           "finished, 1 of 2 not converted"}));
        QCOMPARE(finished.value(0).value(0).toInt(), 1);
    }

private:
    // What `run` writes to standard output, which goes to `file` meanwhile.
    static QString capturingStdout(const QString &file, const std::function<void()> &run)
    {
        QFile capture(file);
        if (!capture.open(QIODevice::ReadWrite))
            return {};
        std::fflush(stdout);
        const int saved = ::dup(STDOUT_FILENO);
        ::dup2(capture.handle(), STDOUT_FILENO);
        run();
        std::fflush(stdout);
        ::dup2(saved, STDOUT_FILENO);
        ::close(saved);
        capture.seek(0);
        return QString::fromUtf8(capture.readAll());
    }
};

QTEST_GUILESS_MAIN(TestConsoleBatch)
#include "test_consolebatch.moc"
