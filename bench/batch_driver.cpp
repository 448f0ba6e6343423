// Benchmark driver for the batch: one batch of the listed WAV files through the real main
// window (offscreen), with the component libraries beside this program registered in a private
// data folder, as the program's start-up does.
//   batch_driver <list file> [threads] [kbps]   one WAV path a line; outputs go next to their
//                                               WAVs; kbps one of the window's seven (128)
// Prints "seconds <start click to completion message>", "ticks <n>" and "max_tick_gap_ms <ms>",
// the longest time between two ticks of the window's arrow timer during the batch; then what the
// window's own thread did: "status_updates" (status line texts), "paints" (paint events of any
// widget), "paint_seconds" (in them) and "gui_cpu_seconds" (its CPU time in the batch).
#include "bench/cpuclock.h"
#include "converter/encoder/mp3enc.h"
#include "converter/window/form1.h"
#include "runtime/regsvr.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>

namespace {

bool registerBeside(const QString &fileName)
{
    QString error;
    const QString library = QDir(QCoreApplication::applicationDirPath()).filePath(fileName);
    if (rt::registerLibrary(library, false, &error))
        return true;
    std::fprintf(stderr, "cannot register %s: %s\n", qPrintable(fileName), qPrintable(error));
    return false;
}

QStringList readList(const QString &path)
{
    QFile file(path);
    QStringList files;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return files;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(u'\n'))
        if (!line.trimmed().isEmpty())
            files << line;
    return files;
}

// Counts the window's paint events and the time spent in them.
class PaintCounter : public QObject
{
public:
    int paints = 0;
    double seconds = 0;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Paint || m_depth > 0)
            return false;
        ++paints;
        ++m_depth;
        QElapsedTimer timer;
        timer.start();
        watched->event(event);
        seconds += double(timer.nsecsElapsed()) / 1e9;
        --m_depth;
        return true; // delivered here, timed
    }

private:
    int m_depth = 0;
};

// Calls back when a message box is shown.
class ShowWatcher : public QObject
{
public:
    explicit ShowWatcher(std::function<void(QMessageBox *)> shown) : m_shown(std::move(shown)) {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            if (auto *box = qobject_cast<QMessageBox *>(watched))
                m_shown(box);
        return false;
    }

private:
    std::function<void(QMessageBox *)> m_shown;
};

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
    QApplication app(argc, argv);
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: batch_driver <list file> [threads] [kbps]\n");
        return 2;
    }
    WindowStart start; // as the program's --threads gives it
    if (argc >= 3)
        start.threads = QString::fromLocal8Bit(argv[2]).toInt();
    // The window's seven bit rates, as its option buttons offer them.
    constexpr int Rates[] = {32, 56, 64, 96, 112, 128, 256};
    const int kbps = argc == 4 ? QString::fromLocal8Bit(argv[3]).toInt() : 128;
    const auto option = std::find(std::begin(Rates), std::end(Rates), kbps);
    if (option == std::end(Rates)) {
        std::fprintf(stderr, "batch_driver: %d is not one of the window's bit rates\n", kbps);
        return 2;
    }
    const QStringList files = readList(QString::fromLocal8Bit(argv[1]));
    if (files.isEmpty() || !registerBeside(QStringLiteral("ZTbutton.ocx")) ||
        !registerBeside(QStringLiteral("Mp3Enc.ocx")))
        return 1;

    Form1 form(start);
    form.show();
    form.Opt_Click(int(option - std::begin(Rates)));
    auto *list1 = form.loader().control<rt::ListBox>(QStringLiteral("List1"));
    auto *list2 = form.loader().control<rt::ListBox>(QStringLiteral("List2"));
    for (const QString &file : files) {
        list2->AddItem(file);
        list1->AddItem(file);
    }

    QElapsedTimer clock;
    qint64 batchMs = -1;
    qint64 lastTick = -1;
    qint64 maxGap = 0;
    int ticks = 0;
    auto *timer1 = form.loader().control<QTimer>(QStringLiteral("Timer1"));
    QObject::connect(timer1, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (lastTick >= 0)
            maxGap = std::max(maxGap, now - lastTick);
        lastTick = now;
        ++ticks;
    });
    int updates = 0;
    QObject::connect(form.loader().control<rt::TextBox>(QStringLiteral("Text2")),
                     &QLineEdit::textChanged, [&] { ++updates; });
    // The completion message ends the batch: note the time and answer it. Watched for as it is
    // shown rather than polled, so the window's thread wakes no more often than the window has
    // it wake.
    QMessageBox *shown = nullptr;
    ShowWatcher watcher([&](QMessageBox *box) {
        if (batchMs < 0)
            batchMs = clock.elapsed();
        shown = box;
        QTimer::singleShot(0, &app, [&] {
            if (shown->text() != QLatin1String("no"))
                QTimer::singleShot(0, &app, &QCoreApplication::quit);
            shown->button(QMessageBox::Ok)->click();
        });
    });
    app.installEventFilter(&watcher);
    PaintCounter paints;
    double guiStart = 0, guiSeconds = 0;
    QTimer::singleShot(0, [&] {
        app.installEventFilter(&paints);
        guiStart = cpuclock::thread();
        clock.start();
        form.ZTbutton3_Click();
    });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&] {
        guiSeconds = cpuclock::thread() - guiStart;
        app.removeEventFilter(&paints);
    });
    app.exec();
    std::printf("seconds %.3f\nticks %d\nmax_tick_gap_ms %lld\nstatus_updates %d\npaints %d\n"
                "paint_seconds %.3f\ngui_cpu_seconds %.3f\n",
                double(batchMs) / 1000.0, ticks, qlonglong(maxGap), updates, paints.paints,
                paints.seconds, guiSeconds);
    return batchMs < 0 ? 1 : 0;
}
