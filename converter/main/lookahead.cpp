#include "converter/main/lookahead.h"

#include <algorithm>
#include <exception>

LookAhead::LookAhead(std::function<Pair(int)> pairAt,
                     std::function<void(const QString &, const QString &)> prefetch)
    : m_pairAt(std::move(pairAt)), m_prefetch(std::move(prefetch))
{}

void LookAhead::after(int position, int count) const
{
    for (int next = position + 1; next <= std::min(position + Files, count - 1); ++next) {
        // A file the encoder cannot take ahead is converted when its turn comes, as before.
        try {
            if (const Pair pair = m_pairAt(next))
                m_prefetch(pair->first, pair->second);
        } catch (const std::exception &) {
        }
    }
}
