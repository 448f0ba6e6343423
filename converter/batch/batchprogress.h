#pragma once

#include <QList>

class BatchEngine;

// How far a whole batch is, by audio length: the files judged count with all their seconds, the
// one being encoded with its share so far. A batch whose files say no length goes by count.
class BatchProgress
{
public:
    // The engine's files are known.
    void plan(const BatchEngine &engine);
    void plan(const QList<double> &seconds);
    // The file at `position` is judged (converted, skipped, or not converted).
    void ended(int position);
    // 0 to 1, with `frame` of `frameCount` frames of the file at `position` done.
    double fraction(int position, qint32 frame, qint32 frameCount) const;

private:
    double weight(int position) const;

    QList<double> m_seconds;
    double m_total = 0;
    double m_done = 0;
    bool m_byCount = false;
};
