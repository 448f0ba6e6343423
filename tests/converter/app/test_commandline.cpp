#include "converter/app/commandline.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

using Mode = CommandLine::Mode;
Q_DECLARE_METATYPE(CommandLine::Mode)

namespace {

// The rate a command line asks for, as the lame command would be told it.
QString lameOption(const RateChoice &rate)
{
    switch (rate.mode) {
    case Mp3Enc::VariableRate:
        return QStringLiteral("-V %1").arg(rate.vbrQuality);
    case Mp3Enc::AverageRate:
        return QStringLiteral("--abr %1").arg(rate.bitRate / 1000);
    default:
        return QStringLiteral("-b %1").arg(rate.bitRate / 1000);
    }
}

} // namespace

class TestCommandLine final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir; // the working folder: "out" is a folder in it, "file" a file

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName(QStringLiteral("batchmp3"));
        QCoreApplication::setApplicationVersion(QStringLiteral("1.30.1"));
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("out")));
        QFile file(m_dir.filePath(QStringLiteral("file")));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<QString>("rate"); // as lame's option, where it converts
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("text"); // what the usage error or the answer holds

        const QString a = QStringLiteral("a.wav");
        const QString out = m_dir.filePath(QStringLiteral("out")) + u'/';
        const QString none;
        QTest::newRow("window") << QStringList{a} << Mode::Window << none << QString() << QString();
        QTest::newRow("default rate")
            << QStringList{QStringLiteral("--convert"), a} << Mode::Convert
            << QStringLiteral("-b 128") << QString() << QString();
        QTest::newRow("short options")
            << QStringList{QStringLiteral("--convert"),
                           QStringLiteral("-b"),
                           QStringLiteral("32"),
                           QStringLiteral("-o"),
                           QStringLiteral("out"),
                           QStringLiteral("-q"),
                           a}
            << Mode::Convert << QStringLiteral("-b 32") << out << QString();
        QTest::newRow("long options")
            << QStringList{QStringLiteral("--convert"),    QStringLiteral("--bitrate=256"),
                           QStringLiteral("--output-dir"), out,
                           QStringLiteral("--quiet"),      a}
            << Mode::Convert << QStringLiteral("-b 256") << out << QString();
        // One rate mode, as lame's options name them: MPEG-1's constant rates, variable
        // qualities 0 to 9, averages of 8 to 320 kbit/s.
        const auto convert = [&](const char *option, const char *value) {
            return QStringList{QStringLiteral("--convert"), QLatin1String(option),
                               QLatin1String(value), a};
        };
        for (const auto &[option, value, rate] : {std::tuple{"-b", "320", "-b 320"},
                                                  {"-b", "40", "-b 40"},
                                                  {"-V", "0", "-V 0"},
                                                  {"--vbr", "9", "-V 9"},
                                                  {"--abr", "8", "--abr 8"},
                                                  {"--abr", "320", "--abr 320"}})
            QTest::addRow("%s %s", option, value)
                << convert(option, value) << Mode::Convert << QString::fromLatin1(rate) << QString()
                << QString();
        for (const auto &[option, value, error] : {std::tuple{"-b", "100", "不支持的比特率"},
                                                   {"-b", "128k", "不支持的比特率"},
                                                   {"-b", "", "不支持的比特率"},
                                                   {"-V", "10", "-V 需要 0 到 9"},
                                                   {"-V", "2.5", "-V 需要"},
                                                   {"--abr", "7", "--abr 需要 8 到 320"},
                                                   {"--abr", "321", "--abr 需要"}})
            QTest::addRow("%s '%s'", option, value)
                << convert(option, value) << Mode::UsageError << none << QString()
                << QString::fromUtf8(error);
        QTest::newRow("two rate modes")
            << QStringList{QStringLiteral("--convert"), QStringLiteral("-V"),  QStringLiteral("2"),
                           QStringLiteral("--abr"),     QStringLiteral("192"), a}
            << Mode::UsageError << none << QString() << QStringLiteral("只能用其中一个");
        QTest::newRow("output missing")
            << QStringList{QStringLiteral("--convert"), QStringLiteral("-o"),
                           QStringLiteral("nowhere"), a}
            << Mode::UsageError << none << QString() << QStringLiteral("输出目录不存在");
        QTest::newRow("output a file")
            << QStringList{QStringLiteral("--convert"), QStringLiteral("-o"),
                           QStringLiteral("file"), a}
            << Mode::UsageError << none << QString() << QStringLiteral("不是文件夹");
        QTest::newRow("no path") << QStringList{QStringLiteral("--convert")} << Mode::UsageError
                                 << none << QString() << QStringLiteral("没有给出");
        QTest::newRow("threads") << QStringList{QStringLiteral("--convert"),
                                                QStringLiteral("--threads"), QStringLiteral("257"),
                                                a}
                                 << Mode::UsageError << none << QString()
                                 << QStringLiteral("--threads");
        for (const char *option : {"-b", "-V", "--abr"})
            QTest::addRow("%s without convert", option)
                << QStringList{QLatin1String(option), QStringLiteral("8"), a} << Mode::UsageError
                << none << QString() << QStringLiteral("--convert");
        QTest::newRow("replaygain word unknown")
            << convert("--replaygain", "loud") << Mode::UsageError << none << QString()
            << QStringLiteral("--replaygain 只能是 track 或 album");
        QTest::newRow("replaygain without convert")
            << QStringList{QStringLiteral("--replaygain"), QStringLiteral("album"), a}
            << Mode::UsageError << none << QString() << QStringLiteral("--convert");
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("--frob"), a} << Mode::UsageError << none << QString()
            << QStringLiteral("frob");
        QTest::newRow("help") << QStringList{QStringLiteral("--convert"), QStringLiteral("--help")}
                              << Mode::Help << none << QString()
                              << QStringLiteral("--bitrate --vbr --abr --output-dir --threads "
                                                "--quiet -q -b -V -o");
        QTest::newRow("version") << QStringList{QStringLiteral("--version")} << Mode::Version
                                 << none << QString() << QStringLiteral("batchmp3 1.30.1");
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(Mode, mode);
        QFETCH(QString, rate);
        QFETCH(QString, output);
        QFETCH(QString, text);
        arguments.prepend(QStringLiteral("batchmp3"));
        const CommandLine line = ParseCommandLine(arguments, m_dir.path());
        QCOMPARE(line.mode, mode);
        if (mode == Mode::Convert)
            QCOMPARE(lameOption(line.options.rate), rate);
        QCOMPARE(line.options.outputFolder.value_or(QString()), output);
        for (const QString &part : text.split(u' ', Qt::SkipEmptyParts))
            QVERIFY2(line.text.contains(part), qPrintable(line.text));
        if (mode == Mode::Window || mode == Mode::Convert)
            QCOMPARE(line.paths, QStringList{QStringLiteral("a.wav")});
    }

    void replayGain_data()
    {
        QTest::addColumn<QStringList>("given");
        QTest::addColumn<ReplayGainTags>("tags");
        QTest::newRow("not given") << QStringList() << ReplayGainTags::None;
        QTest::newRow("track") << QStringList{"--replaygain", "track"} << ReplayGainTags::Track;
        QTest::newRow("album") << QStringList{"--replaygain=album"} << ReplayGainTags::Album;
    }
    void replayGain()
    {
        QFETCH(QStringList, given);
        QFETCH(ReplayGainTags, tags);
        const CommandLine line = ParseCommandLine(
            QStringList{"batchmp3", "--convert"} + given + QStringList{"a.wav"}, m_dir.path());
        QCOMPARE(line.mode, Mode::Convert);
        QCOMPARE(line.options.replayGain, tags);
    }

    // Decided before Qt starts: only these need no window.
    void withoutWindow_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<bool>("expected");
        QTest::newRow("files") << QByteArrayList{"a.wav", "b"} << false;
        QTest::newRow("convert") << QByteArrayList{"-q", "--convert", "a.wav"} << true;
        // The terminal's own options, told without a window even without --convert.
        QTest::newRow("variable rate") << QByteArrayList{"-V", "2", "a.wav"} << true;
        QTest::newRow("average rate") << QByteArrayList{"--abr=192", "a.wav"} << true;
        QTest::newRow("help") << QByteArrayList{"-h"} << true;
        QTest::newRow("version") << QByteArrayList{"--version"} << true;
        QTest::newRow("a file named so") << QByteArrayList{"--", "--convert"} << false;
    }

    void withoutWindow()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(bool, expected);
        arguments.prepend("batchmp3");
        std::vector<char *> argv;
        for (QByteArray &argument : arguments)
            argv.push_back(argument.data());
        QCOMPARE(WithoutWindow(int(argv.size()), argv.data()), expected);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_commandline.moc"
