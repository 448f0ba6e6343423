#pragma once

#include "converter/console/consoletext.h"
#include "converter/encoder/mp3enc.h"
#include "converter/main/audiofiles.h"
#include "converter/main/batchrules.h"
#include "converter/main/lookahead.h"

#include <QElapsedTimer>
#include <QObject>
#include <cstdio>
#include <optional>

namespace rt {
class ComponentHost;
}

// The batch of --convert: the window's batch rules (BatchOutputPath, BatchOutputs, LookAhead)
// driven by the encoder's events, reported on the terminal instead of in controls.
class ConsoleBatch : public QObject
{
    Q_OBJECT
public:
    // `found`: the files to convert and what the arguments named that could not be added.
    ConsoleBatch(rt::ComponentHost *mp3, FoundFiles found, std::optional<QString> outputFolder,
                 bool quiet, QObject *parent = nullptr);

    void start();
    // SIGINT, SIGTERM or SIGHUP: the encoder is stopped (it leaves no partial file), the rest
    // are named as not converted, and the batch ends with 128 + the signal's number.
    void interrupt(int signalNumber);

signals:
    // 0 when every file was converted, 1 when some were not, 128 + n after signal n.
    void finished(int exitCode);

private:
    struct Identity
    {
        bool exists = false;
        quint64 device = 0;
        quint64 inode = 0;
        bool operator==(const Identity &) const = default;
    };
    static Identity identityOf(const QString &path);

    void startFrom(int position);
    void onFrame(qint32 frame);
    void onEnded();
    QString encoderFailure() const;
    QString encoderNotice() const;
    void handlerFailed(const QString &reason);
    void warn(const QString &text);
    void say(std::FILE *stream, const QString &text);
    void converted(int position, const QString &output, const QString &notice = {});
    void notConverted(int position, const QString &reason);
    void showProgress(qint32 percent);
    void clearProgress();
    void finish(int exitCode, bool interrupted);
    QString shown(int position) const;

    Mp3Enc::Binding m_mp3;
    FoundFiles m_found;
    std::optional<QString> m_outputFolder;
    bool m_quiet;
    bool m_terminal;
    LookAhead m_lookAhead;
    BatchOutputs m_written;

    int m_position = -1;
    QString m_pending;        // the output being written
    Identity m_pendingBefore; // what stood under its name before
    qint32 m_frameCount = 0;
    QList<consoletext::NotConverted> m_notConverted;
    QList<consoletext::NotConverted> m_notes; // converted, something left out
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
