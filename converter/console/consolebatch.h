#pragma once

#include "converter/batch/batchengine.h"
#include "converter/files/audiofiles.h"

#include <QObject>

class BatchFormatter;

// The batch of --convert: the engine run over the files found, each step handed to the
// formatter that tells it, the ledger's exit status at the end.
class ConsoleBatch : public QObject
{
    Q_OBJECT
public:
    // `engine` runs the batch by its profile; `found`: the files to convert and what the
    // arguments named that could not be added; `formatter` tells it.
    ConsoleBatch(BatchEngine &engine, FoundFiles found, BatchFormatter &formatter,
                 QObject *parent = nullptr);

    void start();
    // SIGINT, SIGTERM or SIGHUP: the encoder is stopped (it leaves no partial file), the rest
    // are named as not converted, and the batch ends with 128 + the signal's number.
    void interrupt(int signalNumber);

signals:
    // 0 when every file was converted, 1 when some were not, 128 + n after signal n.
    void finished(int exitCode);

private:
    void onFinished();

    BatchEngine &m_engine;
    FoundFiles m_found;
    BatchFormatter &m_formatter;
    bool m_done = false;
};
