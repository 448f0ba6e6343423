#pragma once

#include "converter/batch/batchengine.h"
#include "converter/console/consoletext.h"
#include "converter/files/audiofiles.h"

#include <QElapsedTimer>
#include <QObject>
#include <cstdio>
#include <optional>

// The batch of --convert as the terminal shows it: the window's batch engine, its steps told as
// a line updated in place on a terminal, a line per file into a pipe or a file, and a summary.
class ConsoleBatch : public QObject
{
    Q_OBJECT
public:
    // `engine` runs the batch by its profile; `found`: the files to convert and what the
    // arguments named that could not be added.
    ConsoleBatch(BatchEngine &engine, FoundFiles found, bool quiet, QObject *parent = nullptr);

    void start();
    // SIGINT, SIGTERM or SIGHUP: the encoder is stopped (it leaves no partial file), the rest
    // are named as not converted, and the batch ends with 128 + the signal's number.
    void interrupt(int signalNumber);

signals:
    // 0 when every file was converted, 1 when some were not, 128 + n after signal n.
    void finished(int exitCode);

private:
    void onPlanned(int count);
    void onStarted(int position);
    void onProgress(int position, qint32 frame, qint32 frameCount);
    void onEnded(int position, const FileOutcome &outcome);
    void onFinished();
    void warn(const QString &text);
    void say(std::FILE *stream, const QString &text);
    void showProgress(int position, qint32 percent);
    void clearProgress();
    QString shown(int position) const;

    BatchEngine &m_engine;
    FoundFiles m_found;
    bool m_quiet;
    bool m_terminal;
    bool m_done = false;

    // The time left is estimated from the input sizes: converted, and still to go.
    QList<qint64> m_sizes;
    double m_doneBytes = 0;
    double m_totalBytes = 0;
    QElapsedTimer m_clock;
    QString m_shownLine;
    bool m_stdoutLost = false;
    bool m_stderrLost = false;
};
