// The settings window (转换设置) as the user meets it: opened from the main window with Ctrl+,,
// its choices reaching the batch profile, the Bit比率 options after a quality they cannot show,
// the settings kept only when asked, and a window-converted file equal to the terminal's.
#include "converter/window/form1.h"
#include "converter/window/form3.h"
#include "converter/window/savedsettings.h"
#include "tests/converter/formfixture.h"
#include "tests/converter/modaldriver.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <sndfile.h>

using namespace formfixture;
using modaldriver::MessageSeen;

namespace {

// A choice of the settings window as the user makes it: which option of each group, and what
// goes in the lists and boxes beside them.
struct Choice
{
    int mode = 0;         // 固定比特率, 可变比特率, 平均比特率
    int listRow = -1;     // the row of the mode's list (-1: as it stands)
    QString abr = {};     // 平均比特率's box
    QString pattern = {}; // 按标签 when given
    int existing = 0;     // 替换, 跳过, 另存为新名字, 只更新较旧的
    int gain = 0;         // 不写, 音轨, 专辑
    bool remember = false;
};

template <class T> T *in(Form3 *window, const QString &name)
{
    T *control = window->loader().control<T>(name);
    if (!control)
        qWarning("the settings window has no %s", qPrintable(name));
    return control;
}

void press(Form3 *window, const QString &button)
{
    QWidget *widget = window->loader().host(button)->widget();
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
}

void make(Form3 *window, const Choice &choice)
{
    const auto option = [window](const char *group, int index) {
        in<rt::OptionButton>(window, QStringLiteral("%1(%2)").arg(QLatin1String(group)).arg(index))
            ->click();
    };
    option("OptMode", choice.mode);
    if (choice.listRow >= 0)
        in<rt::ComboBox>(window,
                         choice.mode == 0 ? QStringLiteral("CboCbr") : QStringLiteral("CboVbr"))
            ->setCurrentIndex(choice.listRow);
    if (!choice.abr.isEmpty())
        in<rt::TextBox>(window, QStringLiteral("TxtAbr"))->setText(choice.abr);
    option("OptName", choice.pattern.isEmpty() ? 0 : 1);
    if (!choice.pattern.isEmpty())
        in<rt::TextBox>(window, QStringLiteral("TxtPattern"))->setText(choice.pattern);
    option("OptExisting", choice.existing);
    option("OptGain", choice.gain);
    in<rt::CheckBox>(window, QStringLiteral("Check1"))->setChecked(choice.remember);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A FLAC file with a deterministic signal, written through libsndfile.
bool writeFlac(const QString &path, int frames)
{
    return testsupport::writeWav(path, frames, 2, 44100, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
}

} // namespace

class TestSettings final : public Form1Test
{
    Q_OBJECT

    // Opens the settings window with Ctrl+, and runs `answer` on it once shown.
    void withSettings(const std::function<void(Form3 *)> &answer)
    {
        modaldriver::whenModal([answer](QWidget *modal) {
            auto *window = qobject_cast<Form3 *>(modal);
            if (!window) {
                qWarning("expected the settings window, got %s", modal->metaObject()->className());
                modal->close();
                return;
            }
            answer(window);
        });
        // A shortcut belongs to the active window; back from a modal one, make it active again.
        m_form->activateWindow();
        QTRY_VERIFY(m_form->isActiveWindow());
        QTest::keyClick(m_form.get(), Qt::Key_Comma, Qt::ControlModifier);
        QVERIFY(modaldriver::waitForNoModal());
    }

    void choose(const Choice &choice)
    {
        withSettings([choice](Form3 *window) {
            make(window, choice);
            press(window, QStringLiteral("ZTbutton1"));
        });
    }

    QTemporaryDir m_config;
    QByteArray m_previousConfig;

private slots:
    void initTestCase()
    {
        QVERIFY(m_environment.setUp());
        m_previousConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    }
    void cleanupTestCase() { qputenv("XDG_CONFIG_HOME", m_previousConfig); }
    void init() { openWindow(); }
    void cleanup()
    {
        closeWindow();
        QFile::remove(savedsettings::FilePath());
    }

    // Each choice of the window becomes the profile's; what the Part fixes (no folder, the
    // command line's cores) stays.
    void choicesReachProfile_data()
    {
        QTest::addColumn<Choice>("choice");
        QTest::addColumn<BatchOptions>("expected");
        const auto profile = [](RateChoice rate, QString pattern = {},
                                ExistingRule existing = ExistingRule::Overwrite,
                                ReplayGainTags gain = ReplayGainTags::None) {
            BatchOptions options;
            options.rate = rate;
            options.pattern = pattern;
            options.existing = existing;
            options.replayGain = gain;
            return options;
        };
        QTest::newRow("320 constant, skip") << Choice{.mode = 0, .listRow = 13, .existing = 1}
                                            << profile({.bitRate = 320000}, {}, ExistingRule::Skip);
        QTest::newRow("32 constant, rename, track gain")
            << Choice{.mode = 0, .listRow = 0, .existing = 2, .gain = 1}
            << profile({.bitRate = 32000}, {}, ExistingRule::Rename, ReplayGainTags::Track);
        QTest::newRow("V0, update, album gain")
            << Choice{.mode = 1, .listRow = 0, .existing = 3, .gain = 2}
            << profile({.mode = Mp3Enc::VariableRate, .vbrQuality = 0}, {}, ExistingRule::Update,
                       ReplayGainTags::Album);
        QTest::newRow("V9") << Choice{.mode = 1, .listRow = 9}
                            << profile({.mode = Mp3Enc::VariableRate, .vbrQuality = 9});
        QTest::newRow("average 8") << Choice{.mode = 2, .abr = QStringLiteral("8")}
                                   << profile({.mode = Mp3Enc::AverageRate, .bitRate = 8000});
        QTest::newRow("average 200, names from tags")
            << Choice{.mode = 2,
                      .abr = QStringLiteral("200"),
                      .pattern = QStringLiteral("{artist}/{track:02} {title}")}
            << profile({.mode = Mp3Enc::AverageRate, .bitRate = 200000},
                       QStringLiteral("{artist}/{track:02} {title}"));
    }
    void choicesReachProfile()
    {
        QFETCH(Choice, choice);
        QFETCH(BatchOptions, expected);
        choose(choice);
        QCOMPARE(m_form->profile(), expected);
    }

    // A choice the profile's check refuses is named, and the window stays open with it.
    void refusedChoicesNamed_data()
    {
        QTest::addColumn<Choice>("choice");
        QTest::addColumn<QString>("message");
        QTest::newRow("average 4") << Choice{.mode = 2, .abr = QStringLiteral("4")}
                                   << QStringLiteral("平均比特率需要 8 到 320 之间的整数");
        QTest::newRow("average words") << Choice{.mode = 2, .abr = QStringLiteral("很多")}
                                       << QStringLiteral("平均比特率需要 8 到 320");
        QTest::newRow("unknown field")
            << Choice{.pattern = QStringLiteral("{nothing}")} << QStringLiteral("按标签：");
    }
    void refusedChoicesNamed()
    {
        QFETCH(Choice, choice);
        QFETCH(QString, message);
        MessageSeen seen;
        bool stillOpen = false;
        withSettings([&](Form3 *window) {
            make(window, choice);
            modaldriver::answerMessageBox(&seen);
            press(window, QStringLiteral("ZTbutton1"));
            QTRY_VERIFY(seen.shown);
            stillOpen = window->isVisible();
            press(window, QStringLiteral("ZTbutton2"));
        });
        QVERIFY2(seen.text.startsWith(message), qPrintable(seen.text));
        QVERIFY(stillOpen);
        QCOMPARE(m_form->profile(), BatchOptions());
    }

    // A quality the seven options cannot show leaves none chosen and the status line says it;
    // one of them chosen afterwards does what it always did.
    void sevenOptionsAfterUnshownQuality_data()
    {
        QTest::addColumn<Choice>("choice");
        QTest::addColumn<QString>("line");
        QTest::newRow("V2") << Choice{.mode = 1, .listRow = 2}
                            << QStringLiteral("MP3格式为可变比特率V2");
        QTest::newRow("320") << Choice{.mode = 0, .listRow = 13}
                             << QStringLiteral("MP3格式为固定比特率320Kbps");
        QTest::newRow("average 200") << Choice{.mode = 2, .abr = QStringLiteral("200")}
                                     << QStringLiteral("MP3格式为平均比特率200Kbps");
    }
    void sevenOptionsAfterUnshownQuality()
    {
        QFETCH(Choice, choice);
        QFETCH(QString, line);
        choose(choice);
        QCOMPARE(status(), line);
        for (int k = 0; k < 7; ++k)
            QVERIFY2(!c<rt::OptionButton>(QStringLiteral("Opt(%1)").arg(k))->isChecked(),
                     qPrintable(QString::number(k)));
        QTest::mouseClick(c<rt::OptionButton>(QStringLiteral("Opt(1)")), Qt::LeftButton);
        QCOMPARE(status(), QStringLiteral("MP3格式的Bit比率为:56000"));
        QCOMPARE(m_form->profile().rate, RateChoice{.bitRate = 56000});
        QCOMPARE(host(*m_form, QStringLiteral("Mp3"))->get(Mp3Enc::BitRate).toInt(), 56000);
    }

    // A constant rate the seven have is shown by its option and the Part's line.
    void shownConstantRateSelectsItsOption()
    {
        choose({.mode = 1, .listRow = 2});
        choose({.mode = 0, .listRow = 11}); // 224 kbit/s, none of the seven
        QCOMPARE(m_form->profile().rate, RateChoice{.bitRate = 224000});
        choose({.mode = 0, .listRow = 8}); // 128 kbit/s
        QVERIFY(c<rt::OptionButton>(QStringLiteral("Opt(5)"))->isChecked());
        QCOMPARE(status(), QStringLiteral("MP3格式的Bit比率为:128000"));
    }

    // 记住: ticked, the file is written and the next window starts with it; unticked, nothing is
    // written and a kept file goes.
    void rememberOnlyWhenTicked()
    {
        const QString kept = savedsettings::FilePath();
        QVERIFY(kept.startsWith(m_config.path()));
        choose({.mode = 1, .listRow = 2});
        QVERIFY(QDir(m_config.path()).isEmpty());
        choose({.mode = 1, .listRow = 2, .existing = 1, .remember = true});
        QVERIFY(QFile::exists(kept));
        closeWindow();
        openWindow();
        QCOMPARE(m_form->profile().rate,
                 (RateChoice{.mode = Mp3Enc::VariableRate, .vbrQuality = 2}));
        QCOMPARE(m_form->profile().existing, ExistingRule::Skip);
        withSettings([](Form3 *window) {
            QVERIFY(window->remember());
            make(window, {});
            press(window, QStringLiteral("ZTbutton1"));
        });
        QVERIFY(!QFile::exists(kept));
    }

    // Two FLAC files converted by the window at V2 are the bytes `batchmp3 --convert -V 2` writes.
    void windowOutputEqualsTerminal()
    {
        QDir(m_dir->path()).mkpath(QStringLiteral("terminal"));
        const QStringList inputs = {path(QStringLiteral("one.flac")),
                                    path(QStringLiteral("two.flac"))};
        for (const QString &input : inputs)
            QVERIFY(writeFlac(input, 44100 * 2));
        addFiles(inputs);
        choose({.mode = 1, .listRow = 2});
        MessageSeen done;
        modaldriver::answerMessageBox(&done);
        clickButton(*m_form, QStringLiteral("ZTbutton3"));
        QTRY_VERIFY_WITH_TIMEOUT(done.shown, 120000);
        QVERIFY(modaldriver::waitForNoModal());
        QProcess terminal;
        terminal.start(testsupport::binDir() + QStringLiteral("/batchmp3"),
                       {QStringLiteral("--convert"), QStringLiteral("-q"), QStringLiteral("-V"),
                        QStringLiteral("2"), QStringLiteral("-o"), path(QStringLiteral("terminal")),
                        inputs[0], inputs[1]});
        QVERIFY(terminal.waitForFinished(120000));
        QCOMPARE(terminal.exitCode(), 0);
        for (const QString &name : {QStringLiteral("one.mp3"), QStringLiteral("two.mp3")}) {
            const QByteArray window = readAll(path(name));
            QVERIFY2(!window.isEmpty(), qPrintable(name));
            QVERIFY2(window == readAll(path(QStringLiteral("terminal/") + name)), qPrintable(name));
        }
    }
};

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
