#include "converter/main/commandline.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

using Mode = CommandLine::Mode;
Q_DECLARE_METATYPE(CommandLine::Mode)

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
        QTest::addColumn<qint32>("bitRate");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("text"); // what the usage error or the answer holds

        const QString a = QStringLiteral("a.wav");
        const QString out = m_dir.filePath(QStringLiteral("out")) + u'/';
        QTest::newRow("window") << QStringList{a} << Mode::Window << 0 << QString() << QString();
        QTest::newRow("default rate") << QStringList{QStringLiteral("--convert"), a}
                                      << Mode::Convert << 128000 << QString() << QString();
        QTest::newRow("short options") << QStringList{QStringLiteral("--convert"),
                                                      QStringLiteral("-b"),
                                                      QStringLiteral("32"),
                                                      QStringLiteral("-o"),
                                                      QStringLiteral("out"),
                                                      QStringLiteral("-q"),
                                                      a}
                                       << Mode::Convert << 32000 << out << QString();
        QTest::newRow("long options")
            << QStringList{QStringLiteral("--convert"),    QStringLiteral("--bitrate=256"),
                           QStringLiteral("--output-dir"), out,
                           QStringLiteral("--quiet"),      a}
            << Mode::Convert << 256000 << out << QString();
        // Only the window's seven rates.
        for (const char *rate : {"100", "320", "128k", ""})
            QTest::addRow("rate '%s'", rate)
                << QStringList{QStringLiteral("--convert"), QStringLiteral("-b"),
                               QString::fromLatin1(rate), a}
                << Mode::UsageError << 0 << QString() << QStringLiteral("不支持的比特率");
        QTest::newRow("output missing")
            << QStringList{QStringLiteral("--convert"), QStringLiteral("-o"),
                           QStringLiteral("nowhere"), a}
            << Mode::UsageError << 0 << QString() << QStringLiteral("输出目录不存在");
        QTest::newRow("output a file")
            << QStringList{QStringLiteral("--convert"), QStringLiteral("-o"),
                           QStringLiteral("file"), a}
            << Mode::UsageError << 0 << QString() << QStringLiteral("不是文件夹");
        QTest::newRow("no path") << QStringList{QStringLiteral("--convert")} << Mode::UsageError
                                 << 0 << QString() << QStringLiteral("没有给出");
        QTest::newRow("threads") << QStringList{QStringLiteral("--convert"),
                                                QStringLiteral("--threads"), QStringLiteral("257"),
                                                a}
                                 << Mode::UsageError << 0 << QString()
                                 << QStringLiteral("--threads");
        QTest::newRow("rate without convert")
            << QStringList{QStringLiteral("-b"), QStringLiteral("128"), a} << Mode::UsageError << 0
            << QString() << QStringLiteral("--convert");
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("--frob"), a} << Mode::UsageError << 0 << QString()
            << QStringLiteral("frob");
        QTest::newRow("help") << QStringList{QStringLiteral("--convert"), QStringLiteral("--help")}
                              << Mode::Help << 0 << QString()
                              << QStringLiteral(
                                     "--bitrate --output-dir --threads --quiet -q -b -o");
        QTest::newRow("version") << QStringList{QStringLiteral("--version")} << Mode::Version << 0
                                 << QString() << QStringLiteral("batchmp3 1.30.1");
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(Mode, mode);
        QFETCH(qint32, bitRate);
        QFETCH(QString, output);
        QFETCH(QString, text);
        arguments.prepend(QStringLiteral("batchmp3"));
        const CommandLine line = ParseCommandLine(arguments, m_dir.path());
        QCOMPARE(line.mode, mode);
        QCOMPARE(line.bitRate, bitRate);
        QCOMPARE(line.options.outputFolder.value_or(QString()), output);
        for (const QString &part : text.split(u' ', Qt::SkipEmptyParts))
            QVERIFY2(line.text.contains(part), qPrintable(line.text));
        if (mode == Mode::Window || mode == Mode::Convert)
            QCOMPARE(line.paths, QStringList{QStringLiteral("a.wav")});
    }

    // Decided before Qt starts: only these need no window.
    void withoutWindow_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<bool>("expected");
        QTest::newRow("files") << QByteArrayList{"a.wav", "b"} << false;
        QTest::newRow("convert") << QByteArrayList{"-q", "--convert", "a.wav"} << true;
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
