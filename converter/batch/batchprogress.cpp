#include "converter/batch/batchprogress.h"

#include "converter/batch/batchengine.h"

#include <algorithm>

void BatchProgress::plan(const BatchEngine &engine)
{
    QList<double> seconds;
    for (int k = 0; k < engine.count(); ++k)
        seconds.append(engine.audioSeconds(k));
    plan(seconds);
}

void BatchProgress::plan(const QList<double> &seconds)
{
    m_seconds = seconds;
    m_total = 0;
    for (const double s : seconds)
        m_total += s;
    m_byCount = m_total <= 0; // nothing says how long: each file weighs the same
    if (m_byCount)
        m_total = double(seconds.size());
    m_done = 0;
}

double BatchProgress::weight(int position) const
{
    if (position < 0 || position >= m_seconds.size())
        return 0;
    return m_byCount ? 1.0 : m_seconds[position];
}

void BatchProgress::ended(int position)
{
    m_done += weight(position);
}

double BatchProgress::fraction(int position, qint32 frame, qint32 frameCount) const
{
    if (m_total <= 0)
        return 0;
    const double part = frameCount > 0 ? std::clamp(double(frame) / frameCount, 0.0, 1.0) : 0.0;
    return std::clamp((m_done + weight(position) * part) / m_total, 0.0, 1.0);
}
