#include "converter/window/form1.h"

#include "converter/batch/batchfigures.h"
#include "converter/batch/batchrules.h"
#include "converter/button/ztbuttonbinding.h"
#include "converter/dialogs/modopen.h"
#include "converter/dialogs/module1.h"
#include "converter/files/audiofiles.h"
#include "converter/startup/installpaths.h"
#include "converter/window/batchtext.h"
#include "converter/window/desktopsignals.h"
#include "converter/window/fittext.h"
#include "converter/window/form1parts.h"
#include "converter/window/form2.h"
#include "converter/window/form3.h"
#include "converter/window/listdrop.h"
#include "converter/window/maker.h"
#include "converter/window/msgbox.h"
#include "converter/window/savedsettings.h"
#include "converter/window/settingstext.h"
#include "runtime/comerror.h"
#include "runtime/filename.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdio>
#include <exception>
#include <type_traits>
#include <utility>

using namespace batchfigures;
using namespace batchtext;

using form1parts::BitRatePrefix;
using form1parts::guarded;
using form1parts::OptBitRates;
using form1parts::showText;

namespace {

const QString FormDescription = QStringLiteral(":/forms/form1.json");

const QString AddFilesHint = QStringLiteral("添加WAV文件，可按扭Ctrl文件进行多选");
const QString OpenDialogTitle = QStringLiteral("请选择要转的声音文件(可按扭Ctrl文件进行多选)");
const QString WavPattern = QStringLiteral("*.wav");
const QString AddedPrefix = QStringLiteral("已添加");
const QString AddedSuffix = QStringLiteral("个wav文件");
const QString ListCleared = QStringLiteral("列表已清空");
const QString BrowseTitle = QStringLiteral("请选择您需要保存Mp3的地址");
const QString LoadFailedPrompt = QStringLiteral("以下设置未能生效：");

// Label2's colour by folder mode.
constexpr quint32 White = 0x00FFFFFF;
constexpr quint32 Silver = 0x00C0C0C0;

// The arrow's colour cycle on Lab0.Tag: phase before, phase after, colour after.
struct ArrowStep
{
    const char16_t *before;
    const char16_t *after;
    quint32 color;
};
constexpr std::array<ArrowStep, 3> ArrowCycle = {{
    {u"0", u"1", 0x000000FF}, // red
    {u"1", u"2", 0x0000FF00}, // green
    {u"2", u"0", 0x0000FFFF}, // yellow
}};

QChar dirSeparator()
{
    return QChar(PlatformSeparators.directory);
}

// A monotonic clock in milliseconds: a batch may run past midnight.
qint64 clockMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

Form1::Form1(const WindowStart &start, const rt::Registry *registry, QWidget *parent)
    : rt::Form(parent), m_registry(registry), m_loader(registry), m_threads(start.threads)
{
    m_loader.load(FormDescription, this);
    m_engine = std::make_unique<BatchEngine>(need<rt::ComponentHost>(QStringLiteral("Mp3")));
    // Label2 ends where Text1 begins, so the box does not cover its colon.
    FitTextToWidth(Label2(), Text1()->x() - Label2()->x());
    // Words for a screen reader where the window shows none beside the control (the browse
    // button's icon) or shows them in a frame's caption.
    if (QWidget *browse = ZTbutton(2)->widget())
        browse->setAccessibleName(QStringLiteral("选择MP3输出目录"));
    List1()->setAccessibleName(QStringLiteral("Wav文件"));
    Text1()->setAccessibleName(QStringLiteral("Mp3目录"));
    Text2()->setAccessibleName(QStringLiteral("状态"));
    wireEvents();
    wireDesktop(start.files);
    wireSettings();
    Form_Load();
}

Form1::~Form1() = default;

rt::ComponentHost *Form1::ZTbutton(int n) const
{
    return need<rt::ComponentHost>(QStringLiteral("ZTbutton%1").arg(n));
}

void Form1::wireEvents()
{
    const std::array<void (Form1::*)(), 5> clicks = {
        &Form1::ZTbutton1_Click, &Form1::ZTbutton2_Click, &Form1::ZTbutton3_Click,
        &Form1::ZTbutton4_Click, &Form1::ZTbutton5_Click};
    for (int n = 1; n <= 5; ++n) {
        const auto handler = clicks[size_t(n - 1)];
        ZTbutton(n)->onEvent(ZTbuttonBinding::Click, guarded(this, [this, handler](QVariantList &) {
                                 (this->*handler)();
                             }));
    }
    // The encoder's events reach the batch engine, whose steps the window shows.
    BatchEngine *engine = m_engine.get();
    connect(engine, &BatchEngine::fileStarting, this,
            guarded(this, [this](int position) { BatchFileStarting(position); }));
    connect(engine, &BatchEngine::fileStarted, this,
            guarded(this, [this](int, const QString &output) { BatchFileStarted(output); }));
    connect(engine, &BatchEngine::progress, this,
            guarded(this, [this](int position, qint32 frame, qint32 frameCount) {
                Mp3_ActFrame(frame, frameCount);
                showBatchProgress(position, frame, frameCount);
            }));
    connect(engine, &BatchEngine::fileEnded, this,
            guarded(this, [this](int position, const FileOutcome &outcome) {
                m_progress.ended(position);
                showBatchProgress(position, 0, 0);
                BatchFileEnded(position, outcome);
            }));
    connect(engine, &BatchEngine::planned, this, guarded(this, [this] {
                m_progress.plan(*m_engine);
                m_progressPermille = -1;
                showBatchProgress(0, 0, 0);
            }));
    connect(engine, &BatchEngine::finished, this, guarded(this, [this] { CompleteBatch(); }));

    connect(List1(), &rt::ListBox::Click, this, guarded(this, [this] { List1_Click(); }));
    connect(Check1(), &rt::CheckBox::Click, this, guarded(this, [this] { Check1_Click(); }));
    for (int k = 0; k < int(OptBitRates.size()); ++k) {
        auto *option = need<rt::OptionButton>(QStringLiteral("Opt(%1)").arg(k));
        connect(option, &rt::OptionButton::Click, this,
                guarded(this, [this](int index) { Opt_Click(index); }));
    }
    connect(Timer1(), &QTimer::timeout, this, guarded(this, [this] { Timer1_Timer(); }));
}

// What a desktop program takes from outside: drops on the list, and the command line's files
// once the window is up.
void Form1::wireDesktop(const QStringList &arguments)
{
    new ListDropTarget(
        List1(), [this] { return !batchRunning(); },
        guarded(this, [this](const FoundFiles &found) { AddFoundFiles(found); }));
    if (!arguments.isEmpty())
        QTimer::singleShot(0, this,
                           guarded(this, [this, arguments] { AddArgumentFiles(arguments); }));
}

void Form1::setButtonEnabled(int n, bool enabled)
{
    ZTbutton(n)->put(ZTbuttonBinding::Enabled, enabled);
}

// ---- load, unload, about

void Form1::Form_Load()
{
    // Each step is independent: one that fails is skipped, and told once the window is up.
    QStringList failures;
    try {
        QString folder = DefaultOutputFolder(QCoreApplication::applicationDirPath());
        if (!folder.endsWith(dirSeparator()))
            folder += dirSeparator();
        showText(Text1(), folder);
    } catch (const std::exception &error) {
        failures.append(QStringLiteral("输出目录：") + rt::reasonOf(error));
    }
    // The window's profile: 128 kbit/s (Opt(5)), each MP3 beside its input until a folder is
    // chosen, and the command line's cores.
    BatchOptions profile;
    profile.threads = m_threads;
    for (const SettingFailure &failure : m_engine->setOptions(profile))
        failures.append(failure.text());
    loadSavedSettings(&failures);
    if (!failures.isEmpty())
        QTimer::singleShot(0, this, [this, failures] {
            MsgBox(this, LoadFailedPrompt + CrLf + failures.join(CrLf), MsgExclamation);
        });
}

void Form1::Form_Unload()
{
    // The window is going: nobody is left to ask, so the terminal hears of a failure.
    if (const QString failure = m_engine->stop(); !failure.isEmpty())
        std::fprintf(stderr, "batchmp3: 未能停止编码器：%s\n", failure.toUtf8().constData());
    // No event of a stopped encoder may start another file once the window has gone.
    if (auto *timer = m_loader.control<QTimer>(QStringLiteral("Timer1")))
        timer->stop();
    if (m_desktop && m_progressPermille >= 0)
        m_desktop->hideProgress();
    m_progressPermille = -1;
}

void Form1::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    rt::Form::closeEvent(event);
}

void Form1::ZTbutton4_Click()
{
    Text2()->setAlignment(0);
    showText(Text2(), InfoLine);
    Form2 about(m_registry, this);
    about.showModal();
}

// ---- file list

void Form1::ZTbutton1_Click()
{
    Text2()->setAlignment(0);
    showText(Text2(), AddFilesHint);
    const QString answer = ShowOpenDialog(nullptr, OpenDialogTitle, WavPattern, 1);
    QStringList chosen;
    if (!answer.isEmpty())
        chosen = SelectedFiles.mid(0, SplitSelection(answer, dirSeparator()) + 1);
    AddFiles(chosen);
}

void Form1::AddFiles(const QStringList &files, const QStringList &subfolders,
                     const QStringList &sheets)
{
    if (batchRunning())
        return;
    for (qsizetype i = 0; i < files.size(); ++i) {
        // The hidden list keeps the path to open and where it was found; the visible one a path
        // people can read, and the sheet its album is cut by.
        List2()->AddItem(files[i]);
        List2()->setItemData(List2()->ListCount() - 1, subfolders.value(i));
        List1()->AddItem(rt::displayFileName(files[i]));
        List1()->setItemData(List1()->ListCount() - 1, sheets.value(i));
    }
    Text2()->setAlignment(0);
    showText(Text2(), AddedPrefix + QString::number(List2()->ListCount()) + AddedSuffix);
}

void Form1::AddFoundFiles(const FoundFiles &found)
{
    if (batchRunning())
        return;
    AddFiles(found.files, found.subfolders, found.sheets);
    if (!found.complete())
        MsgBox(this, NotAddedMessage(found), MsgExclamation);
}

void Form1::AddArgumentFiles(const QStringList &arguments)
{
    AddFoundFiles(FilesFromArguments(arguments, rt::currentFolder()));
}

void Form1::ZTbutton5_Click()
{
    List1()->Clear();
    List2()->Clear();
    Text2()->setAlignment(0);
    showText(Text2(), ListCleared);
}

void Form1::List1_Click()
{
    showText(Text2(), List1()->Text());
    Text2()->setAlignment(1);
    Text2()->setSelStart(int(Text2()->Text().size()));
}

// ---- output folder and bit rate

void Form1::Check1_Click()
{
    if (Check1()->Value() == 1) {
        Label2()->setForeColor(White);
        setFolderControlsEnabled(true);
        Text1()->setFocus();
        Text2()->setAlignment(0);
        showText(Text2(), UserFolderLine + Text1()->Text());
    } else {
        Text2()->setFocus();
        Label2()->setForeColor(Silver);
        setFolderControlsEnabled(false);
        Text2()->setAlignment(0);
        showText(Text2(), DefaultFolderLine);
    }
}

// Text1 and the browse button go with Check1: usable only while it is ticked.
void Form1::setFolderControlsEnabled(bool enabled)
{
    Text1()->setEnabled(enabled);
    setButtonEnabled(2, enabled);
}

void Form1::ZTbutton2_Click()
{
    QString folder = BrowseForFolder(this, BrowseTitle);
    // A cancelled browser keeps the folder chosen before.
    if (!folder.isEmpty()) {
        if (!folder.endsWith(dirSeparator()))
            folder += dirSeparator();
        showText(Text1(), folder);
    }
    Text2()->setAlignment(0);
    showText(Text2(), UserFolderLine + Text1()->Text());
}

void Form1::Opt_Click(int index)
{
    if (index < 0 || index >= int(OptBitRates.size()))
        return;
    const qint32 value = OptBitRates[size_t(index)];
    // The profile changes; the engine puts the new BitRate on the encoder at once.
    BatchOptions profile = m_engine->options();
    profile.rate = RateChoice{.bitRate = value};
    const QList<SettingFailure> refused = m_engine->setOptions(profile);
    showText(Text2(), BitRatePrefix + QString::number(value));
    if (!refused.isEmpty())
        MsgBox(this, QStringLiteral("编码器不接受这个比特率：") + refused.first().reason,
               MsgExclamation);
}

// ---- batch driver

bool Form1::batchRunning() const
{
    return m_engine->running();
}

void Form1::ZTbutton3_Click()
{
    if (List2()->ListCount() <= 0) {
        MsgBox(this, EmptyListPrompt, MsgExclamation, EmptyListTitle);
        return;
    }
    if (!m_engine->options().pattern.isEmpty() && Check1()->Value() != 1) {
        // Names from tags are paths below the output folder: without one there is nowhere.
        BatchOptions unplaced = m_engine->options();
        unplaced.outputFolder.reset();
        if (const auto problem = CheckOptions(unplaced)) {
            MsgBox(this, settingstext::ProblemText(*problem), MsgExclamation);
            return;
        }
    }
    QStringList problems; // of the window itself, told with the batch's
    try {
        setButtonEnabled(3, false);
        setButtonEnabled(1, false);
        setButtonEnabled(5, false);
        Check1()->setEnabled(false);
        // A folder chosen mid-batch would split the outputs over two folders.
        setFolderControlsEnabled(false);
        Frame3()->setEnabled(false);
        Timer1()->start();
        LblTotal()->setVisible(true);
        Label3()->setVisible(true);
    } catch (const std::exception &error) {
        problems.append(rt::reasonOf(error));
    }
    // The hidden list holds each path and where it was found, the visible one its sheet.
    FoundFiles listed;
    for (int i = 0; i < List2()->ListCount(); ++i) {
        listed.files.append(List2()->List(i));
        listed.subfolders.append(List2()->ItemData(i));
        listed.sheets.append(List1()->ItemData(i));
    }
    BatchOptions profile = m_engine->options();
    profile.outputFolder =
        Check1()->Value() == 1 ? std::optional<QString>(Text1()->Text()) : std::nullopt;
    m_engine->setOptions(profile); // no encoder setting changes
    m_engine->start(listed, problems);
}

// The lists follow the batch's position, kept in the start button's Tag: the first file's by the
// start handler (lists, then Tag), each later one's by the file-finished handling (Tag, then
// lists). Selecting in the visible list shows the path in the status line.
void Form1::BatchFileStarting(int position)
{
    // The tracks of an album in one file are converted under its one entry.
    const int entry = m_engine->file(position).entry;
    if (position == 0) {
        List2()->setListIndex(entry);
        List1()->setListIndex(entry);
        rt::setTag(ZTbutton(3), NumberText(double(entry)));
    } else if (entry != List2()->ListIndex()) {
        rt::setTag(ZTbutton(3), NumberText(double(entry)));
        List2()->setListIndex(entry);
        List1()->setListIndex(entry);
    }
    rt::setTag(Label3(), QString::number(clockMs())); // the time figure counts from here
}

void Form1::BatchFileStarted(const QString &output)
{
    Label3()->setCaption(ConvertingPrefix + rt::displayFileName(ParseFileName(output)));
}

void Form1::Mp3_ActFrame(qint32 ActFrame, qint32 frameCount)
{
    const QString name = rt::displayFileName(StripPath(List2()->Text()));
    const qint32 percent = FramePercent(ActFrame, frameCount);
    LblActFrame()->setCaption(PercentText(percent));
    bool ok = false;
    const qint64 started = rt::tag(Label3()).toLongLong(&ok);
    const double elapsed = ok ? double(clockMs() - started) / 1000.0 : 0.0;
    showText(Text2(), ProgressLine(LblActFrame()->Caption(), TimeFigure(elapsed, ActFrame)));
    LblTotal()->setCaption(TotalCaption(name, m_engine->bitRateInForce()));
}

// A refused first file gets the start handler's "no" before the batch goes on; every file not
// converted is named in the completion message, from the engine's report.
void Form1::BatchFileEnded(int position, const FileOutcome &outcome)
{
    if (position == 0 && outcome.refusedAtStart)
        MsgBox(this, StartFailedPrompt, MsgOkOnly);
}

void Form1::CompleteBatch()
{
    const bool userFolder = Check1()->Value() == 1;
    const BatchReport &report = m_engine->report();
    const QString message = CompletionMessage(userFolder, Text1()->Text(), report.notConverted(),
                                              report.problems(), report.notes());
    // Told on the desktop too when the user is elsewhere; the message below still waits.
    if (m_progressPermille >= 0)
        m_desktop->hideProgress();
    m_progressPermille = -1;
    if (!isActiveWindow())
        m_desktop->notify(CompletedTitle, NotificationBody(message, report));
    MsgBox(this, message, MsgInformation, CompletedTitle);
    List1()->Clear();
    List2()->Clear();
    setButtonEnabled(1, true);
    setButtonEnabled(5, true);
    Check1()->setEnabled(true);
    setFolderControlsEnabled(userFolder);
    Frame3()->setEnabled(true);
    Timer1()->stop();
    LblTotal()->setVisible(false);
    Label3()->setVisible(false);
    setButtonEnabled(3, true);
    Text2()->setAlignment(0);
    showText(Text2(), WelcomeText);
}

void Form1::Timer1_Timer()
{
    const QString phase = rt::tag(Lab0());
    for (const ArrowStep &step : ArrowCycle) {
        if (phase == QStringView(step.before)) {
            rt::setTag(Lab0(), QString::fromUtf16(step.after));
            Lab0()->setForeColor(step.color);
            return;
        }
    }
}

// ---- settings window, notification and launcher

// The launcher's bar moves in steps of a thousandth, so a long batch sends a thousand updates
// at most.
void Form1::showBatchProgress(int position, qint32 frame, qint32 frameCount)
{
    const int permille = int(m_progress.fraction(position, frame, frameCount) * 1000);
    if (permille == m_progressPermille)
        return;
    m_progressPermille = permille;
    m_desktop->setProgress(permille / 1000.0);
}
