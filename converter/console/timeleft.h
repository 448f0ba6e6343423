#pragma once

#include <QElapsedTimer>
#include <QList>
#include <optional>

class BatchEngine;

// A batch's time left, reckoned in bytes of input: those converted against those still to go,
// a track taking its share of its album's file.
class TimeLeft
{
public:
    // The engine's files are known: the clock starts.
    void plan(const BatchEngine &engine);
    // The file at `position` was converted, or needs no more work (skipped, not converted).
    void converted(int position);
    void dropped(int position);
    // Seconds left with `percent` of the file at `position` done; nothing until there is enough
    // to go on.
    std::optional<qint64> seconds(int position, qint32 percent) const;

private:
    QList<qint64> m_sizes;
    double m_doneBytes = 0;
    double m_totalBytes = 0;
    QElapsedTimer m_clock;
};
