#include "converter/console/timeleft.h"

#include "converter/batch/batchengine.h"
#include "converter/console/consoletext.h"
#include "runtime/filename.h"

#include <QHash>
#include <algorithm>
#include <sys/stat.h>

namespace {

qint64 sizeOf(const QString &path)
{
    struct stat st = {};
    return ::stat(rt::encodeFileName(path).constData(), &st) == 0 ? qint64(st.st_size) : 0;
}

} // namespace

void TimeLeft::plan(const BatchEngine &engine)
{
    m_clock.start();
    QHash<QString, qint64> albumFrames;
    for (int k = 0; k < engine.count(); ++k) {
        const BatchFile &file = engine.file(k);
        if (file.isTrack())
            albumFrames[file.input] = std::max(albumFrames[file.input], file.first + file.count);
    }
    for (int k = 0; k < engine.count(); ++k) {
        const BatchFile &file = engine.file(k);
        const qint64 bytes = sizeOf(file.input);
        m_sizes.append(file.isTrack() ? qint64(double(bytes) * double(file.count) /
                                               double(albumFrames.value(file.input, 1)))
                                      : bytes);
        m_totalBytes += double(m_sizes.last());
    }
}

void TimeLeft::converted(int position)
{
    m_doneBytes += double(m_sizes.value(position));
}

void TimeLeft::dropped(int position)
{
    m_totalBytes -= double(m_sizes.value(position));
}

std::optional<qint64> TimeLeft::seconds(int position, qint32 percent) const
{
    const double current = double(m_sizes.value(position)) * percent / 100.0;
    const double elapsed = double(m_clock.elapsed()) / 1000.0;
    return consoletext::SecondsLeft(elapsed, m_doneBytes + current, m_totalBytes);
}
