#include "converter/app/quitsignals.h"
#include "converter/encoder/mp3enc.h"
#include "converter/window/form1.h"
#include "converter/window/maker.h"
#include "runtime/filename.h"
#include "tests/converter/formfixture.h"
#include "tests/converter/modaldriver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace formfixture;
using modaldriver::MessageSeen;

namespace {

const QString Done = QStringLiteral("祝贺，转换已全部完成.\r\n");
const QString DefaultFolderDone = Done + QStringLiteral("MP3输出目录为默认路径(与wav同一目录)");
const QString NotAudio = QStringLiteral("不是能转换的音频文件（");

// Where the completion message's list of files not converted differs from `files`, each with a
// reason that begins with its entry in `reasons`; empty when it does not.
QString notConvertedMismatch(const QString &message, const QStringList &files,
                             const QStringList &reasons)
{
    const QString header = QStringLiteral("\r\n其中%1个文件未能转换：").arg(files.size());
    const qsizetype at = message.indexOf(header);
    if (at < 0)
        return QStringLiteral("no “%1” in: %2").arg(header, message);
    const QStringList lines = message.mid(at + header.size()).split(QStringLiteral("\r\n")).mid(1);
    if (lines.size() != files.size())
        return QStringLiteral("%1 lines for %2 files: %3")
            .arg(lines.size())
            .arg(files.size())
            .arg(message);
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (!lines[i].startsWith(files[i] + QStringLiteral("：") + reasons.value(i)))
            return QStringLiteral("line “%1”, expected “%2：%3…”")
                .arg(lines[i], files[i], reasons.value(i));
    }
    return {};
}

// Records, in order, the lock and unlock steps the window takes on the controls it locks.
class StepRecorder : public QObject
{
public:
    StepRecorder(const Form1 &form) : m_form(form)
    {
        for (const char *name : {"Check1", "Frame3", "LblTotal", "Label3"})
            control<QWidget>(form, QString::fromLatin1(name))->installEventFilter(this);
        for (int n : {1, 3, 5}) {
            const QString name = QStringLiteral("ZTbutton%1").arg(n);
            connect(host(form, name), &rt::ComponentHost::changed, this,
                    [this, name](const QString &property) {
                        if (property == QLatin1String("Enabled"))
                            add(name + (buttonEnabled(m_form, name) ? " on" : " off"));
                    });
        }
    }
    void add(const QString &step)
    {
        const bool timerOn = control<QTimer>(m_form, QStringLiteral("Timer1"))->isActive();
        if (timerOn != m_timerOn) {
            m_timerOn = timerOn;
            steps << (timerOn ? QStringLiteral("Timer1 on") : QStringLiteral("Timer1 off"));
        }
        steps << step;
    }
    QStringList steps;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QString name = watched->objectName();
        auto *widget = static_cast<QWidget *>(watched);
        if (event->type() == QEvent::EnabledChange)
            add(name + (widget->isEnabled() ? " on" : " off"));
        else if (event->type() == QEvent::Show)
            add(name + " shown");
        else if (event->type() == QEvent::Hide)
            add(name + " hidden");
        return false;
    }

private:
    const Form1 &m_form;
    bool m_timerOn = false;
};

} // namespace

class TestBatch final : public Form1Test
{
    Q_OBJECT

    bool running() const
    {
        return !buttonEnabled(*m_form, QStringLiteral("ZTbutton3")) ||
               c<QTimer>(QStringLiteral("Timer1"))->isActive();
    }

    QString wav(const QString &name, double seconds = 1.0)
    {
        const QString file = path(name);
        if (!testsupport::writeWav(file, int(seconds * 44100)))
            qWarning("cannot write %s", qPrintable(file));
        return file;
    }
    QString garbage(const QString &name)
    {
        QFile file(path(name));
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray(5000, 'x'));
        return file.fileName();
    }

    void addFiles(const QStringList &files)
    {
        Form1Test::addFiles(files);
        if (!QTest::currentTestFailed())
            QCOMPARE(c<rt::ListBox>(QStringLiteral("List2"))->ListCount(), int(files.size()));
    }

    // Answers `count` message boxes one after another; the last one only once `holdLast` holds,
    // since the window waits on it with the batch not yet unlocked.
    void answerMessages(QList<MessageSeen> *seen, int count, std::function<bool()> holdLast)
    {
        modaldriver::whenModal(
            [=, this](QWidget *modal) {
                auto *box = qobject_cast<QMessageBox *>(modal);
                if (!box) {
                    qWarning("expected a message box, got %s", modal->metaObject()->className());
                    modal->close();
                    return;
                }
                MessageSeen message{box->text(), box->windowTitle(), int(box->icon()), true};
                seen->append(message);
                if (m_onMessage)
                    m_onMessage();
                if (count > 1) {
                    box->button(QMessageBox::Ok)->click();
                    answerMessages(seen, count - 1, holdLast);
                    return;
                }
                auto *due = new QTimer(box); // goes with the box
                connect(due, &QTimer::timeout, box, [box, due, holdLast] {
                    if (holdLast && !holdLast())
                        return;
                    due->stop();
                    box->button(QMessageBox::Ok)->click();
                });
                due->start(20);
            },
            m_modalTimeoutMs);
    }

    // Starts the batch with the start button and waits until it is over, answering `messages`
    // message boxes. `watch` runs every few milliseconds while it goes on.
    QList<MessageSeen> runBatch(int messages, std::function<void()> watch = {},
                                std::function<bool()> holdLast = {})
    {
        QList<MessageSeen> seen;
        answerMessages(&seen, messages, holdLast);
        QTimer poll;
        if (watch) {
            connect(&poll, &QTimer::timeout, this, watch);
            poll.start(2);
        }
        clickButton(*m_form, QStringLiteral("ZTbutton3"));
        if (!QTest::qWaitFor([&] { return seen.size() == messages && !running(); },
                             std::max(120000, m_modalTimeoutMs)))
            qWarning("the batch did not end: %lld messages seen", qlonglong(seen.size()));
        poll.stop();
        if (!modaldriver::waitForNoModal())
            qWarning("a modal window is still open");
        return seen;
    }

    std::function<void()> m_onMessage;
    int m_modalTimeoutMs = 10000;

private slots:
    void initTestCase() { QVERIFY(m_environment.setUp()); }
    void init()
    {
        openWindow();
        m_onMessage = nullptr;
        m_modalTimeoutMs = 10000;
    }
    void cleanup() { closeWindow(); }

    void emptyListAtStart()
    {
        const QString before = status();
        MessageSeen seen;
        modaldriver::answerMessageBox(&seen);
        clickButton(*m_form, QStringLiteral("ZTbutton3"));
        QVERIFY(modaldriver::waitForNoModal());
        QVERIFY(seen.shown);
        QCOMPARE(seen.text, QStringLiteral("请添要转换的WAV文件"));
        QCOMPARE(seen.title, QStringLiteral("末添加文件到列表"));
        QCOMPARE(seen.icon, int(QMessageBox::Warning));
        QCOMPARE(status(), before);
        QVERIFY(!running());
        QVERIFY(buttonEnabled(*m_form, QStringLiteral("ZTbutton1")));
        QVERIFY(c<QWidget>(QStringLiteral("Frame3"))->isEnabled());
        QVERIFY(!c<QWidget>(QStringLiteral("Label3"))->isVisible());
        QCOMPARE(rt::tag(host(*m_form, QStringLiteral("ZTbutton3"))), QStringLiteral("0"));
    }

    // Three files next to their WAVs: the texts during the batch, the outputs, the completion
    // message and the order of locking and unlocking.
    void threeFilesNextToTheirWavs()
    {
        const QStringList inputs{wav(QStringLiteral("a.wav"), 4),
                                 wav(QStringLiteral("歌 曲.wav"), 3),
                                 wav(QStringLiteral("C.WAV"), 2.5)};
        const QStringList outputs{path(QStringLiteral("a.mp3")), path(QStringLiteral("歌 曲.mp3")),
                                  path(QStringLiteral("C.mp3"))};
        addFiles(inputs);
        StepRecorder recorder(*m_form);
        int listsAtMessage = -1;
        m_onMessage = [&] {
            recorder.add(QStringLiteral("message"));
            listsAtMessage = c<rt::ListBox>(QStringLiteral("List2"))->ListCount();
        };
        QSet<QString> texts, totals, converting, percents;
        bool rightAligned = true;
        const auto watch = [&] {
            if (!running())
                return;
            const QString line = status();
            if (line.startsWith(QStringLiteral("已完成：")))
                texts << line;
            rightAligned &= c<rt::TextBox>(QStringLiteral("Text2"))->Alignment() == 1;
            totals << c<rt::Label>(QStringLiteral("LblTotal"))->Caption();
            converting << c<rt::Label>(QStringLiteral("Label3"))->Caption();
            percents << c<rt::Label>(QStringLiteral("LblActFrame"))->Caption();
        };
        const QList<MessageSeen> seen = runBatch(1, watch);

        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].text, DefaultFolderDone);
        QCOMPARE(seen[0].title, QStringLiteral("完成"));
        QCOMPARE(seen[0].icon, int(QMessageBox::Information));
        QCOMPARE(listsAtMessage, 3); // the lists are cleared only after the message
        for (int i = 0; i < 3; ++i) {
            QVERIFY2(QFile::exists(outputs[i]), qPrintable(outputs[i]));
            SF_INFO info{};
            SNDFILE *in = sf_open(QFile::encodeName(inputs[i]).constData(), SFM_READ, &info);
            QVERIFY(in);
            sf_close(in);
            QCOMPARE(testsupport::decodedFrames(outputs[i], m_dir->path()), qint64(info.frames));
        }

        // The texts of the batch while it ran.
        const QRegularExpression progress(
            QStringLiteral("^已完成：\\d+ % 时间： \\d+(\\.\\d{1,2})?$"));
        QVERIFY(!texts.isEmpty());
        for (const QString &line : texts)
            QVERIFY2(progress.match(line).hasMatch(), qPrintable(line));
        QVERIFY(rightAligned);
        for (const QString &name : {QStringLiteral("a.wav"), QStringLiteral("歌 曲.wav")})
            QVERIFY2(totals.contains(QStringLiteral("编译 ") + name +
                                     QStringLiteral("\r\n      @ 128000 Kbps")),
                     qPrintable(QStringList(totals.values()).join(u'|')));
        for (const QString &name :
             {QStringLiteral("a.mp3"), QStringLiteral("歌 曲.mp3"), QStringLiteral("C.mp3")})
            QVERIFY2(converting.contains(QStringLiteral("正在转换：") + name),
                     qPrintable(QStringList(converting.values()).join(u'|')));
        for (const QString &percent : percents)
            QVERIFY2(QRegularExpression(QStringLiteral("^\\d+ %$")).match(percent).hasMatch() ||
                         percent == QLatin1String("LblActFrame"),
                     qPrintable(percent));
        QCOMPARE(c<rt::Label>(QStringLiteral("LblActFrame"))->Caption(), QStringLiteral("100 %"));

        // After it.
        QCOMPARE(recorder.steps,
                 (QStringList{"ZTbutton3 off", "ZTbutton1 off", "ZTbutton5 off", "Check1 off",
                              "Frame3 off", "Timer1 on", "LblTotal shown", "Label3 shown",
                              "message", "ZTbutton1 on", "ZTbutton5 on", "Check1 on", "Frame3 on",
                              "Timer1 off", "LblTotal hidden", "Label3 hidden", "ZTbutton3 on"}));
        QCOMPARE(c<rt::ListBox>(QStringLiteral("List1"))->ListCount(), 0);
        QCOMPARE(c<rt::ListBox>(QStringLiteral("List2"))->ListCount(), 0);
        QCOMPARE(status(), WelcomeText);
        QCOMPARE(c<rt::TextBox>(QStringLiteral("Text2"))->Alignment(), 0);
        QCOMPARE(rt::tag(host(*m_form, QStringLiteral("ZTbutton3"))), QStringLiteral("2"));
        QVERIFY(!c<QWidget>(QStringLiteral("LblActFrame"))->isVisible());
    }

    // With Check1 checked, into the folder chosen in the browser, at the bit rate chosen.
    void intoTheChosenFolder()
    {
        const QString out = path(QStringLiteral("输出"));
        QVERIFY(QDir().mkpath(out));
        addFiles({wav(QStringLiteral("a.wav")), wav(QStringLiteral("b.wav"))});
        auto *check1 = c<rt::CheckBox>(QStringLiteral("Check1"));
        QTest::mouseClick(check1, Qt::LeftButton, {}, QPoint(6, check1->height() / 2));
        modaldriver::answerFolderDialog(out);
        clickButton(*m_form, QStringLiteral("ZTbutton2"));
        QVERIFY(modaldriver::waitForNoModal());
        auto *opt1 = c<QWidget>(QStringLiteral("Opt(1)"));
        QTest::mouseClick(opt1, Qt::LeftButton, {}, QPoint(6, opt1->height() / 2));
        QSet<QString> totals;
        const QList<MessageSeen> seen =
            runBatch(1, [&] { totals << c<rt::Label>(QStringLiteral("LblTotal"))->Caption(); });
        QCOMPARE(seen.value(0).text, Done + QStringLiteral("MP3输出目录为：") + out + u'/');
        QVERIFY(QFile::exists(out + QStringLiteral("/a.mp3")));
        QVERIFY(QFile::exists(out + QStringLiteral("/b.mp3")));
        QVERIFY(!QFile::exists(path(QStringLiteral("a.mp3"))));
        QVERIFY(totals.contains(QStringLiteral("编译 a.wav\r\n      @ 56000 Kbps")));
    }

    // Refused files: 'g' a WAV, 'x' not a WAV, 's' a WAV whose name is too short to be given
    // the mp3 ending. Only a refused first file shows "no"; completion names every skipped one.
    void refusedFiles_data()
    {
        QTest::addColumn<QString>("kinds");
        QTest::newRow("first of three") << "xgg";
        QTest::newRow("middle of three") << "gxg";
        QTest::newRow("last of three") << "ggx";
        QTest::newRow("the only file") << "x";
        QTest::newRow("short name in the middle") << "gsg";
        QTest::newRow("short name alone") << "s";
        QTest::newRow("all refused") << "xxx";
    }
    void refusedFiles()
    {
        QFETCH(QString, kinds);
        QStringList inputs, refused, outputs;
        for (int i = 0; i < kinds.size(); ++i) {
            const QString stem = QStringLiteral("f%1").arg(i);
            if (kinds[i] == u'g') {
                inputs << wav(stem + QStringLiteral(".wav"));
                outputs << path(stem + QStringLiteral(".mp3"));
            } else if (kinds[i] == u'x') {
                inputs << garbage(stem + QStringLiteral(".wav"));
                refused << inputs.last();
            } else {
                inputs << wav(QStringLiteral("s%1").arg(i));
                refused << inputs.last();
            }
        }
        // The dialog gives them in its own order; the batch follows the list.
        addFiles(inputs);
        QStringList listed;
        for (int i = 0; i < inputs.size(); ++i)
            listed << c<rt::ListBox>(QStringLiteral("List2"))->List(i);
        QStringList refusedInListOrder;
        for (const QString &file : listed)
            if (refused.contains(file))
                refusedInListOrder << file;
        const bool firstRefused = refused.contains(listed.first());

        const QList<MessageSeen> seen = runBatch(firstRefused ? 2 : 1);
        QCOMPARE(seen.size(), firstRefused ? 2 : 1);
        if (firstRefused) {
            QCOMPARE(seen[0].text, QStringLiteral("no"));
            QCOMPARE(seen[0].title, QStringLiteral("batchmp3"));
            QCOMPARE(seen[0].icon, int(QMessageBox::NoIcon));
        }
        QVERIFY(seen.last().text.startsWith(DefaultFolderDone + QStringLiteral("\r\n")));
        QStringList reasons;
        for (const QString &file : refusedInListOrder)
            reasons << (QFileInfo(file).fileName().startsWith(u's')
                            ? QStringLiteral("文件名太短，无法得出MP3文件名")
                            : NotAudio);
        QCOMPARE(notConvertedMismatch(seen.last().text, refusedInListOrder, reasons), QString());
        for (const QString &output : outputs)
            QVERIFY2(QFile::exists(output), qPrintable(output));
        const QStringList mp3s = QDir(m_dir->path()).entryList({QStringLiteral("*.mp3")});
        QCOMPARE(mp3s.size(), outputs.size());
        QVERIFY(!running());
        QVERIFY(buttonEnabled(*m_form, QStringLiteral("ZTbutton1")));
        QVERIFY(c<QWidget>(QStringLiteral("Check1"))->isEnabled());
        QCOMPARE(status(), WelcomeText);
    }

    // Two inputs with one output name: the first one's MP3 stays; the second is not converted
    // and is named as such. An MP3 from before the batch is still replaced.
    void sameOutputNameTwice_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("chosenFolder");
        QTest::addColumn<QString>("output");
        QTest::newRow("two folders into one")
            << QStringList{"cdA/track01.wav", "cdB/track01.wav"} << true << "out/track01.mp3";
        QTest::newRow("case of the ending") << QStringList{"a.wav", "a.WAV"} << false << "a.mp3";
        QTest::newRow("leading blank") << QStringList{" a.wav", "a.wav"} << false << "a.mp3";
    }
    void sameOutputNameTwice()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, chosenFolder);
        QFETCH(QString, output);
        QVERIFY(QDir().mkpath(path(QStringLiteral("out"))));
        QVERIFY(QDir().mkpath(path(QStringLiteral("cdA"))));
        QVERIFY(QDir().mkpath(path(QStringLiteral("cdB"))));
        {
            QFile before(path(output));
            QVERIFY(before.open(QIODevice::WriteOnly));
            before.write("from an earlier day");
        }
        const QStringList inputs{wav(names[0], 1.0), wav(names[1], 2.0)};
        for (const QString &input : inputs) {
            c<rt::ListBox>(QStringLiteral("List2"))->AddItem(input);
            c<rt::ListBox>(QStringLiteral("List1"))->AddItem(input);
        }
        if (chosenFolder) {
            auto *check1 = c<rt::CheckBox>(QStringLiteral("Check1"));
            QTest::mouseClick(check1, Qt::LeftButton, {}, QPoint(6, check1->height() / 2));
            modaldriver::answerFolderDialog(path(QStringLiteral("out")));
            clickButton(*m_form, QStringLiteral("ZTbutton2"));
            QVERIFY(modaldriver::waitForNoModal());
        }
        const QList<MessageSeen> seen = runBatch(1);
        QCOMPARE(notConvertedMismatch(
                     seen.value(0).text, {inputs[1]},
                     {QStringLiteral("本批中前面的文件已写出同名的MP3：") + path(output)}),
                 QString());
        QCOMPARE(testsupport::decodedFrames(path(output), m_dir->path()),
                 qint64(44100)); // the first one's
    }

    // Files encoded ahead of their turn on a second core finish out of list order; the batch's
    // rules and everything the window shows still follow the list, as on one core. `files`:
    // name:seconds, or name:x for a file that is no audio.
    void filesEncodedAhead_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("notConverted");
        QTest::newRow("one output name, the later file done first")
            << QStringList{"a.wav:6", "a.WAV:0.5", "b.wav:1"} << QStringList{"a.WAV"};
        QTest::newRow("refused file between good ones")
            << QStringList{"a.wav:3", "x.wav:x", "c.wav:0.5"} << QStringList{"x.wav"};
        QTest::newRow("first file refused")
            << QStringList{"x.wav:x", "b.wav:3", "c.wav:0.5"} << QStringList{"x.wav"};
    }
    void filesEncodedAhead()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, notConverted);
        struct Run
        {
            QStringList trace;
            QStringList messages;
            QMap<QString, QByteArray> outputs;
            QStringList skipped; // below the batch's folder
        };
        const auto run = [&](int threads) {
            Run result;
            closeWindow();
            openWindow(WindowStart{{}, threads}); // in a new folder
            QStringList inputs;
            for (const QString &file : files) {
                const QString name = file.section(u':', 0, 0), length = file.section(u':', 1);
                inputs << (length == u'x' ? garbage(name) : wav(name, length.toDouble()));
                if (notConverted.contains(name))
                    result.skipped << inputs.last().mid(m_dir->path().size());
            }
            for (const QString &input : inputs) { // in this order, not the dialog's
                c<rt::ListBox>(QStringLiteral("List2"))->AddItem(input);
                c<rt::ListBox>(QStringLiteral("List1"))->AddItem(input);
            }
            const auto note = [&](QString step) {
                step.replace(m_dir->path(), QStringLiteral("…"));
                if (result.trace.isEmpty() || result.trace.last() != step)
                    result.trace << step;
            };
            connect(c<rt::TextBox>(QStringLiteral("Text2")), &QLineEdit::textChanged, this,
                    [&](const QString &text) {
                        note(text.startsWith(QStringLiteral("已完成：")) ? QStringLiteral("已完成")
                                                                         : text);
                    });
            connect(c<rt::ListBox>(QStringLiteral("List2")), &QListWidget::currentRowChanged, this,
                    [&](int row) { note(QStringLiteral("row %1").arg(row)); });
            for (const MessageSeen &seen : runBatch(files[0].endsWith(u'x') ? 2 : 1))
                result.messages << seen.text;
            for (const QString &mp3 : QDir(m_dir->path()).entryList({QStringLiteral("*.mp3")})) {
                QFile file(path(mp3));
                result.outputs[mp3] =
                    file.open(QIODevice::ReadOnly)
                        ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                        : QByteArray();
            }
            for (QString &message : result.messages)
                message.replace(m_dir->path(), QStringLiteral("…"));
            return result;
        };
        const Run one = run(1), two = run(2);
        QCOMPARE(two.messages, one.messages);
        QStringList skipped;
        for (const QString &file : one.skipped)
            skipped << QStringLiteral("…") + file;
        QCOMPARE(notConvertedMismatch(one.messages.last(), skipped, {}), QString());
        QCOMPARE(two.trace, one.trace);
        QVERIFY(one.trace.contains(QStringLiteral("已完成")));
        QCOMPARE(two.outputs, one.outputs);
        QCOMPARE(one.outputs.size(), files.size() - one.skipped.size());
    }

    // The output folder's controls are locked with the rest while a batch runs, and come back
    // as they were.
    void folderControlsLockedDuringBatch_data()
    {
        QTest::addColumn<bool>("chosenFolder");
        QTest::newRow("folder chosen") << true;
        QTest::newRow("next to the WAVs") << false;
    }
    void folderControlsLockedDuringBatch()
    {
        QFETCH(bool, chosenFolder);
        addFiles({wav(QStringLiteral("a.wav"), 3), wav(QStringLiteral("b.wav"))});
        if (chosenFolder) {
            auto *check1 = c<rt::CheckBox>(QStringLiteral("Check1"));
            QTest::mouseClick(check1, Qt::LeftButton, {}, QPoint(6, check1->height() / 2));
            // Not the program's own folder, the default: the build tree stays clean.
            const QString out = path(QStringLiteral("out"));
            QVERIFY(QDir().mkpath(out));
            c<rt::TextBox>(QStringLiteral("Text1"))->setText(out + u'/');
        }
        auto *text1 = c<QWidget>(QStringLiteral("Text1"));
        QCOMPARE(text1->isEnabled(), chosenFolder);
        QCOMPARE(buttonEnabled(*m_form, QStringLiteral("ZTbutton2")), chosenFolder);
        bool everUnlocked = false;
        int looks = 0;
        runBatch(1, [&] {
            if (!running())
                return;
            ++looks;
            everUnlocked |=
                text1->isEnabled() || buttonEnabled(*m_form, QStringLiteral("ZTbutton2"));
        });
        QVERIFY(looks > 0);
        QVERIFY(!everUnlocked);
        if (chosenFolder)
            QVERIFY(QFile::exists(path(QStringLiteral("out/b.mp3"))));
        QCOMPARE(text1->isEnabled(), chosenFolder);
        QCOMPARE(buttonEnabled(*m_form, QStringLiteral("ZTbutton2")), chosenFolder);
    }

    // Past 32 767 entries every file is still tried: the last one is converted.
    void moreFilesThanSixteenBits()
    {
        const QString first = wav(QStringLiteral("first.wav"), 0.5);
        const QString last = wav(QStringLiteral("last.wav"), 0.5);
        auto *list1 = c<rt::ListBox>(QStringLiteral("List1"));
        auto *list2 = c<rt::ListBox>(QStringLiteral("List2"));
        constexpr int Count = 32770;
        for (int i = 0; i < Count; ++i) {
            const QString file = i == 0           ? first
                                 : i == Count - 1 ? last
                                                  : path(QStringLiteral("missing.wav"));
            list2->AddItem(file);
            list1->AddItem(file);
        }
        // Each skipped file still shows its path in the status line: seconds of text layout,
        // many more on a loaded machine or under the sanitizers.
        m_modalTimeoutMs = 300000;
        const QList<MessageSeen> seen = runBatch(1);
        QVERIFY2(seen.value(0).text.contains(QStringLiteral("其中%1个文件未能转换").arg(Count - 2)),
                 qPrintable(seen.value(0).text.left(200)));
        QVERIFY(QFile::exists(path(QStringLiteral("first.mp3"))));
        QVERIFY(QFile::exists(path(QStringLiteral("last.mp3"))));
    }

    // A cue sheet given to the window adds the album file it names; converted, the album becomes
    // its tracks, the list entry selected while they convert, and the completion message names
    // the broken one.
    void albumImageFromCueSheet()
    {
        QVERIFY(QDir().mkpath(path(QStringLiteral("album"))));
        const QString image = wav(QStringLiteral("album/img.wav"), 3.0);
        const QString broken = wav(QStringLiteral("other.wav"), 1.0);
        const auto sheet = [&](const QString &name, const QByteArray &text) {
            QFile cue(path(name));
            return cue.open(QIODevice::WriteOnly) && cue.write(text) == text.size();
        };
        QVERIFY(sheet(QStringLiteral("album/img.cue"),
                      "FILE \"img.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"A\"\n    INDEX 01 "
                      "00:00:00\n  TRACK 02 AUDIO\n    TITLE \"B\"\n    INDEX 01 00:01:00\n"));
        QVERIFY(sheet(QStringLiteral("other.cue"), "FILE \"other.wav\" WAVE\n  TRACK 01 AUDIO\n"
                                                   "    INDEX 01 00:09:00\n"));
        m_form->AddArgumentFiles(
            {path(QStringLiteral("album/img.cue")), path(QStringLiteral("other.cue"))});
        QCOMPARE(c<rt::ListBox>(QStringLiteral("List2"))->ListCount(), 2);
        QCOMPARE(c<rt::ListBox>(QStringLiteral("List2"))->List(0), image);
        QSet<int> selected;
        const QList<MessageSeen> seen =
            runBatch(1, [&] { selected << c<rt::ListBox>(QStringLiteral("List1"))->ListIndex(); });
        QCOMPARE(QDir(path(QStringLiteral("album"))).entryList({QStringLiteral("*.mp3")}),
                 (QStringList{"01 A.mp3", "02 B.mp3"}));
        QVERIFY(selected.contains(0));
        QCOMPARE(
            notConvertedMismatch(seen.value(0).text, {broken}, {QStringLiteral("CUE文件中第1轨")}),
            QString());
    }

    // A WAV picked in the dialog with a stale sheet beside it is converted whole: the sheet was
    // not given, and the completion message says why it was not used.
    void staleSheetBesidePickedFile()
    {
        const QString image = wav(QStringLiteral("img.wav"), 1.0);
        QFile cue(path(QStringLiteral("img.cue")));
        QVERIFY(cue.open(QIODevice::WriteOnly) &&
                cue.write("FILE \"img.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                          "  TRACK 02 AUDIO\n    INDEX 01 00:05:00\n") > 0);
        cue.close();
        addFiles({image});
        const QList<MessageSeen> seen = runBatch(1);
        QVERIFY(QFile::exists(path(QStringLiteral("img.mp3"))));
        QVERIFY2(
            seen.value(0).text.contains(
                image + QStringLiteral("：旁边的CUE文件“img.cue”不能用（CUE文件中第2轨的时间超出"
                                       "了音频文件的长度）")),
            qPrintable(seen.value(0).text));
    }

    void failureWhileEncoding_data()
    {
        QTest::addColumn<bool>("beforeMade");
        QTest::newRow("as the file starts") << false;
        // Removed while the encoder holds it open and its path still leads there: the moment
        // between a look at the path and the file made in it, whatever the load.
        QTest::newRow("before its MP3 is made") << true;
    }

    // A file whose output cannot be finished (its folder vanishes mid-file) is no success either.
    void failureWhileEncoding()
    {
        QFETCH(bool, beforeMade);
        QString out = path(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out));
        const int held = ::open(QFile::encodeName(out).constData(), O_PATH | O_DIRECTORY);
        QVERIFY(held >= 0);
        const auto release = qScopeGuard([held] { ::close(held); });
        if (beforeMade) {
            QVERIFY(QDir().rmdir(out));
            out = QStringLiteral("/proc/self/fd/%1").arg(held);
        }
        const QString a = wav(QStringLiteral("a.wav"), 30);
        addFiles({a});
        auto *check1 = c<rt::CheckBox>(QStringLiteral("Check1"));
        QTest::mouseClick(check1, Qt::LeftButton, {}, QPoint(6, check1->height() / 2));
        modaldriver::answerFolderDialog(out);
        clickButton(*m_form, QStringLiteral("ZTbutton2"));
        QVERIFY(modaldriver::waitForNoModal());
        // Gone as soon as the file has started (its pair checked and opened), well before its
        // encode can end.
        bool removed = false;
        const auto *label3 = c<rt::Label>(QStringLiteral("Label3"));
        const QList<MessageSeen> seen = runBatch(1, [&] {
            if (!removed && label3->Caption().startsWith(QStringLiteral("正在转换：")))
                removed = beforeMade || QDir(out).removeRecursively();
        });
        QVERIFY(removed);
        // With the encoder's own reason for it.
        QCOMPARE(seen.value(0).text, Done + QStringLiteral("MP3输出目录为：") + out +
                                         QStringLiteral("/\r\n其中1个文件未能转换：\r\n") + a +
                                         QStringLiteral("：输出目录已不存在"));
    }

    // The arrow turns red, green, yellow at each tick, keeps its colour after the batch and
    // goes on from there in the next.
    void arrowCycle()
    {
        auto *lab0 = c<rt::Label>(QStringLiteral("Lab0"));
        QList<quint32> colours;
        connect(c<QTimer>(QStringLiteral("Timer1")), &QTimer::timeout, this,
                [&] { colours << lab0->ForeColor(); });
        constexpr quint32 Red = 0x000000FF, Green = 0x0000FF00, Yellow = 0x0000FFFF;
        QCOMPARE(lab0->ForeColor(), Yellow);

        // The completion message waits until five ticks have been seen; the timer runs on.
        addFiles({wav(QStringLiteral("a.wav"))});
        runBatch(1, {}, [&] { return colours.size() >= 5; });
        QCOMPARE(colours.mid(0, 5), (QList<quint32>{Red, Green, Yellow, Red, Green}));
        const quint32 kept = colours.last();
        QCOMPARE(lab0->ForeColor(), kept);
        QTest::qWait(700);
        QCOMPARE(lab0->ForeColor(), kept); // no tick outside a batch

        const QList<quint32> cycle{Red, Green, Yellow};
        const qsizetype phase = cycle.indexOf(kept);
        colours.clear();
        addFiles({wav(QStringLiteral("b.wav"))});
        runBatch(1, {}, [&] { return colours.size() >= 1; });
        QCOMPARE(colours.first(), cycle[(phase + 1) % 3]);
    }

    // Another entry clicked during a batch shows its path until the next ActFrame; the
    // conversion follows List2.
    void listClickDuringBatch()
    {
        const QStringList inputs{wav(QStringLiteral("a.wav"), 20), wav(QStringLiteral("b.wav")),
                                 wav(QStringLiteral("c.wav"))};
        addFiles(inputs);
        auto *list1 = c<rt::ListBox>(QStringLiteral("List1"));
        auto *list2 = c<rt::ListBox>(QStringLiteral("List2"));
        const QString clicked = list1->List(2);
        const QString converting = list2->List(0);
        enum
        {
            Waiting,
            Clicked,
            Overwritten
        } state = Waiting;
        QString shownAfterClick;
        int list2Index = -1;
        const QList<MessageSeen> seen = runBatch(1, [&] {
            if (state == Waiting && list2->ListIndex() == 0 &&
                status().startsWith(QStringLiteral("已完成："))) {
                QTest::mouseClick(list1->viewport(), Qt::LeftButton, {},
                                  list1->visualItemRect(list1->item(2)).center());
                shownAfterClick = status();
                list2Index = list2->ListIndex();
                state = Clicked;
            } else if (state == Clicked && status().startsWith(QStringLiteral("已完成："))) {
                state = Overwritten;
            }
        });
        QCOMPARE(shownAfterClick, clicked);
        QCOMPARE(list2Index, 0);
        QCOMPARE(state, Overwritten);
        QCOMPARE(seen.value(0).text, DefaultFolderDone);
        QVERIFY(QFile::exists(
            QString(converting).replace(QStringLiteral(".wav"), QStringLiteral(".mp3"))));
        for (const QString &input : inputs)
            QVERIFY(QFile::exists(
                QString(input).replace(QStringLiteral(".wav"), QStringLiteral(".mp3"))));
    }

    // Inputs named in Latin-1 and GBK (a GBK folder too) are converted beside themselves under
    // the same bytes; the list, the labels and the completion message show the names readably.
    void byteNamedFiles()
    {
        const QByteArray base = QFile::encodeName(m_dir->path());
        const auto clean = qScopeGuard([&] { testsupport::removeTree(m_dir->path()); });
        const QList<QByteArray> inputs = {base + "/caf\xE9.wav", base + "/\xD6\xD0/\xCE\xC4.wav",
                                          base + "/\xB4\xED.wav"};
        QCOMPARE(::mkdir((base + "/\xD6\xD0").constData(), 0755), 0);
        QStringList files;
        for (const QByteArray &input : inputs) {
            // The first long enough for its caption to be seen, however loaded the machine.
            const QString made = input == inputs.last()    ? garbage(QStringLiteral("made"))
                                 : input == inputs.first() ? wav(QStringLiteral("made"), 20.0)
                                                           : wav(QStringLiteral("made"), 0.5);
            QCOMPARE(::rename(QFile::encodeName(made).constData(), input.constData()), 0);
            files << rt::decodeFileName(input);
        }
        m_form->AddFiles(files);
        const QString shown = m_dir->path() + QStringLiteral("/caf\\xE9.wav");
        QCOMPARE(c<rt::ListBox>(QStringLiteral("List1"))->List(0), shown);
        QStringList captions;
        const QList<MessageSeen> seen = runBatch(1, [&] {
            const QString caption = c<rt::Label>(QStringLiteral("Label3"))->Caption();
            if (!captions.contains(caption))
                captions << caption;
        });
        QVERIFY2(captions.contains(QStringLiteral("正在转换：caf\\xE9.mp3")),
                 qPrintable(captions.join(u'|')));
        QCOMPARE(notConvertedMismatch(seen.value(0).text,
                                      {m_dir->path() + QStringLiteral("/\\xB4\\xED.wav")},
                                      {NotAudio}),
                 QString());
        for (const QByteArray &output : {base + "/caf\xE9.mp3", base + "/\xD6\xD0/\xCE\xC4.mp3"}) {
            struct stat st = {};
            QVERIFY2(::stat(output.constData(), &st) == 0 && st.st_size > 1000, output.constData());
        }
    }

    // A dropped tree keeps its folders below the chosen output folder, so CD1/01 and CD2/01 both
    // arrive; "CD..5" is a name like any other. A file linked from outside goes where its link
    // is; a folder link in the tree is not followed, and one already in the output folder leading
    // out of it refuses its file.
    void folderTreeKeptBelowOutputFolder()
    {
        const QString music = path(QStringLiteral("Music")), out = path(QStringLiteral("OUT")),
                      outside = path(QStringLiteral("outside"));
        for (const QString &folder :
             {music + QStringLiteral("/CD1"), music + QStringLiteral("/CD2"),
              music + QStringLiteral("/CD3"), music + QStringLiteral("/CD..5"), out, outside})
            QVERIFY(QDir().mkpath(folder));
        wav(QStringLiteral("Music/CD1/01.wav"), 0.5);
        QVERIFY(testsupport::writeWav(music + QStringLiteral("/CD2/01.flac"), 22050, 2, 44100,
                                      SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
        const QString refused = wav(QStringLiteral("Music/CD3/01.wav"), 0.5);
        wav(QStringLiteral("Music/CD..5/01.wav"), 0.5);
        wav(QStringLiteral("outside/linked.wav"), 0.5);
        QVERIFY(QFile::link(outside + QStringLiteral("/linked.wav"),
                            music + QStringLiteral("/CD2/02.wav")));
        QVERIFY(QFile::link(outside, music + QStringLiteral("/CD2/away")));
        QVERIFY(QFile::link(outside, out + QStringLiteral("/CD3")));
        const FoundFiles found = AudioFilesFromPaths({music});
        QCOMPARE(found.subfolders,
                 (QStringList{"CD..5", "CD1", "CD2", "CD2", "CD3"})); // not CD2/away/linked.wav
        m_form->AddFoundFiles(found);

        auto *check1 = c<rt::CheckBox>(QStringLiteral("Check1"));
        QTest::mouseClick(check1, Qt::LeftButton, {}, QPoint(6, check1->height() / 2));
        modaldriver::answerFolderDialog(out);
        clickButton(*m_form, QStringLiteral("ZTbutton2"));
        QVERIFY(modaldriver::waitForNoModal());
        const QList<MessageSeen> seen = runBatch(1);
        QCOMPARE(seen.value(0).text, Done + QStringLiteral("MP3输出目录为：") + out +
                                         QStringLiteral("/\r\n其中1个文件未能转换：\r\n") +
                                         refused +
                                         QStringLiteral("：无法在输出目录中建立子文件夹“CD3”"));
        for (const char *made : {"/CD1/01.mp3", "/CD2/01.mp3", "/CD2/02.mp3", "/CD..5/01.mp3"})
            QVERIFY2(QFile::exists(out + QLatin1String(made)), made);
        QCOMPARE(QDir(outside).entryList(QDir::Files), QStringList{"linked.wav"});
    }

    // Closing the window mid-file stops the encoder: no partial MP3, an existing one untouched,
    // no later event starting anything.
    void closeMidFile()
    {
        const QString a = wav(QStringLiteral("a.wav"), 120);
        const QString b = wav(QStringLiteral("b.wav"));
        const QString c40 = wav(QStringLiteral("c.wav"), 40); // b and c encoded ahead meanwhile
        const QString existing = path(QStringLiteral("a.mp3"));
        {
            QFile file(existing);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("an older a.mp3");
        }
        addFiles({a, b, c40});
        QTimer poll;
        bool closed = false;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (!closed && status().startsWith(QStringLiteral("已完成："))) {
                closed = true;
                m_form->close();
            }
        });
        poll.start(2);
        clickButton(*m_form, QStringLiteral("ZTbutton3"));
        QVERIFY(QTest::qWaitFor([&] { return closed; }, 60000));
        poll.stop();
        QVERIFY(!m_form->isVisible());
        QVERIFY(!c<QTimer>(QStringLiteral("Timer1"))->isActive());
        QTest::qWait(500);
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 (QStringList{"a.mp3", "a.wav", "b.wav", "c.wav"}));
        QFile file(existing);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("an older a.mp3"));
        m_form.reset(); // the window and its components go cleanly
    }

    // SIGTERM mid-file reaches the program as a Qt signal, which closes the windows as the
    // program does: the encoder stops and leaves nothing behind.
    void quitSignalMidFile()
    {
        const QString a = wav(QStringLiteral("a.wav"), 120);
        addFiles({a});
        QuitSignals quitSignals;
        int received = 0;
        connect(&quitSignals, &QuitSignals::received, this, [&](int signalNumber) {
            received = signalNumber;
            QApplication::closeAllWindows();
        });
        QTimer poll;
        bool raised = false;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (!raised && status().startsWith(QStringLiteral("已完成："))) {
                raised = true;
                std::raise(SIGTERM);
            }
        });
        poll.start(2);
        clickButton(*m_form, QStringLiteral("ZTbutton3"));
        QVERIFY(QTest::qWaitFor([&] { return received != 0; }, 60000));
        poll.stop();
        QCOMPARE(received, int(SIGTERM));
        QVERIFY(!m_form->isVisible());
        QTest::qWait(300);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 QStringList{"a.wav"});
    }
};

QTEST_MAIN(TestBatch)
#include "test_batch.moc"
