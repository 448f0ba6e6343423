#pragma once

#include "converter/console/batchformatter.h"
#include "converter/console/consoleoutput.h"
#include "converter/console/timeleft.h"

class BatchEngine;

// The batch told for people: on a terminal one line, updated in place, with file k of n, its
// name, its percent and the time left; into a pipe or a file one line per finished file; at
// the end the summary. Quiet: no progress, and the summary only on standard error when a file
// was not converted or something was left out of one.
class TextFormatter final : public BatchFormatter
{
public:
    TextFormatter(const BatchEngine &engine, ConsoleOutput &output, bool quiet);

    void planned() override { m_timeLeft.plan(m_engine); }
    void fileStarted(int position) override { showProgress(position, 0); }
    void progress(int position, qint32 percent) override { showProgress(position, percent); }
    void fileEnded(int position, const FileOutcome &outcome) override;
    void warn(const QString &text) override;
    void finished(const BatchReport &report) override;
    bool delivered() const override;

private:
    void showProgress(int position, qint32 percent);
    void clearProgress();
    QString shown(int position) const;

    const BatchEngine &m_engine;
    ConsoleOutput &m_output;
    bool m_quiet;
    bool m_terminal;
    TimeLeft m_timeLeft;
    QString m_shownLine;
};
