#include "converter/batch/lookahead.h"

#include "runtime/comerror.h"

#include <QThread>
#include <algorithm>
#include <cstdio>
#include <exception>

LookAhead::LookAhead(std::function<Pair(int)> pairAt,
                     std::function<void(int, const QString &)> prefetch)
    : m_pairAt(std::move(pairAt)), m_prefetch(std::move(prefetch))
{}

int LookAhead::files()
{
    return std::max(1, QThread::idealThreadCount()) + 1;
}

int LookAhead::after(int position, int count)
{
    constexpr int LookedAtMost = 64;
    const int wanted = files();
    int handed = 0;
    int next = position + 1;
    for (; !m_failed && handed < wanted && next < count && next <= position + LookedAtMost;
         ++next) {
        const Pair pair = m_pairAt(next);
        if (!pair)
            continue;
        ++handed;
        try {
            m_prefetch(pair->first, pair->second);
        } catch (const std::exception &error) {
            m_failed = true;
            std::fprintf(stderr, "batchmp3: 不再预先转换后面的文件：%s\n",
                         rt::reasonOf(error).toUtf8().constData());
        }
    }
    return m_failed ? 0 : std::max(0, count - next); // without files ahead, none to wait for
}
