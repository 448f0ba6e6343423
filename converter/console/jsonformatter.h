#pragma once

#include "converter/console/batchformatter.h"
#include "converter/console/consoleoutput.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <utility>

class BatchEngine;

// --progress json: the batch for another program, one JSON object a line on standard output
// and nothing else there. Every object has "event": "planned" (count), "start" (index, input,
// output; only for files that are encoded), "progress" (index, percent; at most a few a
// second), "end" (index, input, outcome, output, reason, left_out, update), "warning" (text),
// "summary" (the counts, problems, updated and pruned files, exit_status). Text is UTF-8; a byte
// of a name that is not UTF-8 is written as the escape of U+DC80 + its value ("\udce9" for
// byte E9), as Python's surrogateescape decodes it, so every name comes back to its bytes.
class JsonFormatter final : public BatchFormatter
{
public:
    JsonFormatter(BatchEngine &engine, ConsoleOutput &output);

    void planned() override;
    void fileStarted(int position) override;
    void progress(int position, qint32 percent) override;
    void fileEnded(int position, const FileOutcome &outcome) override;
    void warn(const QString &text) override;
    void finished(const BatchReport &report) override;
    bool delivered() const override;

    // A JSON string of `text`, lone surrogates (a name's stray bytes) as \uDCxx escapes.
    static QString quoted(const QString &text);

private:
    using Fields = QList<std::pair<QString, QString>>; // name, JSON value
    void line(const QString &event, const Fields &fields);

    BatchEngine &m_engine;
    ConsoleOutput &m_output;
    QElapsedTimer m_sinceProgress;
    int m_lastPercent = -1;
};
