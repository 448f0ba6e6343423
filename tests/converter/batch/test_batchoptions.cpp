#include "converter/batch/batchengine.h"
#include "runtime/componenthost.h"
#include "tests/converter/fakeencoder.h"

#include <QTemporaryDir>
#include <QtTest>

using Setting = OptionsProblem::Setting;
Q_DECLARE_METATYPE(std::optional<Setting>)

// The profile: checked once where a user's words made it, and put on the encoder by the engine,
// each setting when it is first asked for or changes.
class TestBatchOptions final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void check_data()
    {
        QTest::addColumn<BatchOptions>("options");
        QTest::addColumn<std::optional<Setting>>("wrong");
        const auto with = [](auto change) {
            BatchOptions options;
            change(options);
            return options;
        };
        const auto rate = [&](qint32 mode, qint32 bitRate, int quality) {
            return with([=](BatchOptions &o) { o.rate = {mode, bitRate, quality}; });
        };
        const std::optional<Setting> none;
        const QString folder = m_dir.path() + u'/';
        QTest::newRow("the window's") << BatchOptions{} << none;
        QTest::newRow("-b 40") << rate(0, 40000, 4) << none;
        QTest::newRow("-b 100") << rate(0, 100000, 4) << std::optional(Setting::BitRate);
        QTest::newRow("-b 128.5") << rate(0, 128500, 4) << std::optional(Setting::BitRate);
        QTest::newRow("-V 0") << rate(1, 128000, 0) << none;
        QTest::newRow("-V 10") << rate(1, 128000, 10) << std::optional(Setting::VbrQuality);
        QTest::newRow("--abr 8") << rate(2, 8000, 4) << none;
        QTest::newRow("--abr 321") << rate(2, 321000, 4) << std::optional(Setting::AverageRate);
        QTest::newRow("--threads 256") << with([](BatchOptions &o) { o.threads = 256; }) << none;
        QTest::newRow("--threads -1")
            << with([](BatchOptions &o) { o.threads = -1; }) << std::optional(Setting::Threads);
        QTest::newRow("a folder") << with([&](BatchOptions &o) { o.outputFolder = folder; })
                                  << none;
        QTest::newRow("a folder that is not there")
            << with([&](BatchOptions &o) { o.outputFolder = folder + QStringLiteral("x/"); })
            << std::optional(Setting::OutputFolder);
        QTest::newRow("a relative folder")
            << with([&](BatchOptions &o) { o.outputFolder = QStringLiteral("out/"); })
            << std::optional(Setting::OutputFolder);
        QTest::newRow("a pattern without a folder")
            << with([](BatchOptions &o) { o.pattern = QStringLiteral("{title}"); })
            << std::optional(Setting::PatternWithoutFolder);
        QTest::newRow("a pattern of no field") << with([&](BatchOptions &o) {
            o.outputFolder = folder;
            o.pattern = QStringLiteral("{foo}");
        }) << std::optional(Setting::Pattern);
    }
    void check()
    {
        QFETCH(BatchOptions, options);
        QFETCH(std::optional<Setting>, wrong);
        const std::optional<OptionsProblem> problem = CheckOptions(options);
        QCOMPARE(problem ? std::optional(problem->setting) : std::nullopt, wrong);
        if (problem)
            QVERIFY(!problem->reason.isEmpty());
    }

    // Puts by their ids: BitRate 1, DownMix 7, AllowDownSample 8, Threads 13, RateMode 17,
    // VbrQuality 18, IfExists 19 (0 replace, 3 replace what is older), ReplayGain 35 (0 none,
    // 2 album).
    void applied_data()
    {
        QTest::addColumn<QList<BatchOptions>>("profiles"); // one after the other
        QTest::addColumn<QStringList>("puts");             // by the last one
        QTest::addColumn<QStringList>("refused");          // by an encoder that takes no Threads
        BatchOptions window, vbr, click, folder;
        vbr.rate = {1, 128000, 2};
        vbr.threads = 1;
        vbr.existing = ExistingRule::Update;
        click.rate.bitRate = 56000;
        folder.outputFolder = QStringLiteral("/out/");
        QTest::newRow("the window's load")
            << QList{window} << QStringList{"1=128000", "8=true", "7=true", "19=0"}
            << QStringList();
        QTest::newRow("the terminal's -V 2 --threads 1 --existing update")
            << QList{vbr} << QStringList{"17=1", "18=2", "8=true", "7=true", "13=1", "19=3"}
            << QStringList();
        QTest::newRow("a bit-rate option")
            << QList{window, click} << QStringList{"1=56000"} << QStringList();
        QTest::newRow("a folder chosen: nothing for the encoder")
            << QList{window, folder} << QStringList() << QStringList();
        BatchOptions album = window;
        album.replayGain = ReplayGainTags::Album;
        QTest::newRow("--replaygain album")
            << QList{album} << QStringList{"1=128000", "8=true", "7=true", "38=2", "19=0"}
            << QStringList();
        QTest::newRow("ReplayGain asked, then not")
            << QList{album, window} << QStringList{"38=0"} << QStringList();
        BatchOptions cores = window;
        cores.threads = 999;
        QTest::newRow("cores refused, the rest put")
            << QList{cores} << QStringList{"1=128000", "8=true", "7=true", "19=0"}
            << QStringList{"线程数999：refused"};
    }
    void applied()
    {
        QFETCH(QList<BatchOptions>, profiles);
        QFETCH(QStringList, puts);
        QFETCH(QStringList, refused);
        rt::ComponentHost host(QStringLiteral("Mp3"));
        auto owned = std::make_unique<FakeEncoder>(&host);
        FakeEncoder *fake = owned.get();
        if (!refused.isEmpty())
            fake->refusing = {Mp3Enc::Threads};
        host.adopt(std::move(owned));
        BatchEngine engine(&host);
        QList<SettingFailure> failures;
        for (const BatchOptions &profile : profiles) {
            fake->puts.clear();
            failures = engine.setOptions(profile);
        }
        QCOMPARE(fake->puts, puts);
        QStringList said;
        for (const SettingFailure &failure : failures)
            said << failure.text();
        QCOMPARE(said, refused);
        QCOMPARE(engine.options(), profiles.last());
    }
};

QTEST_GUILESS_MAIN(TestBatchOptions)
#include "test_batchoptions.moc"
