#pragma once

#include "converter/batch/batchreport.h"

#include <QList>
#include <QString>
#include <optional>

// What --convert writes to the terminal, as plain functions so they are checked without one.
namespace consoletext {

// Seconds left when `done` of `total` (any unit of work) took `elapsedSeconds`; nothing until
// there is enough to go on.
std::optional<qint64> SecondsLeft(double elapsedSeconds, double done, double total);
// "剩余约 1分05秒", or that the estimate is not there yet.
QString TimeLeftText(std::optional<qint64> seconds);

// Columns a text takes in a terminal: East Asian wide characters take two.
int DisplayWidth(const QString &text);
// `name` shortened in the middle with "…" to at most `columns` columns.
QString ElideMiddle(const QString &name, int columns);

// `text` with control characters shown as \xHH, as undecodable bytes are shown, and marks that
// turn or break a line (bidirectional overrides, line separators) as \uHHHH: a file name must
// not move the cursor, set the terminal's title, read reversed or break the one-line-per-file
// output.
QString TerminalText(const QString &text);
// `text` cut to at most `columns` columns.
QString FitToColumns(const QString &text, int columns);

// The line that updates in place: "[k/n] name  37 %  剩余约 …", fitted to `columns` (the name
// gives way, then the time left, then the line is cut) so the terminal never wraps it.
QString ProgressLine(int k, int n, const QString &name, qint32 percent, const QString &timeLeft,
                     int columns);
// One line per finished file, when the output is not a terminal.
QString ConvertedLine(int k, int n, const QString &input, const QString &output);
QString NotConvertedLine(int k, int n, const QString &input, const QString &reason);

// The summary at the end: how many of `total` files were converted, and every file that was
// not, with its reason; opened by a line saying so when the batch was interrupted.
// Files the existing-file rule passed over (`skipped`) are counted by reason ("已是最新，跳过 3
// 个文件"); files converted with something left out of them follow, with what (`notes`).
QString Summary(int total, const QList<NotConverted> &notConverted, bool interrupted,
                const QList<NotConverted> &notes = {}, const QList<NotConverted> &skipped = {});

// After the summary: what --existing update's record made of each file it encoded again or
// retagged, and what --prune deleted (or would) and kept, each file on a line with why.
QString RecordLines(const QList<NotConverted> &updated, const QList<NotConverted> &pruned);

} // namespace consoletext
