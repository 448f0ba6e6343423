#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <utility>

// Hands the encoder the files after the one being converted, so it can convert them on cores
// that file leaves idle. The encoder writes each only when the batch opens it, so every rule of
// the batch (list order, files written earlier, protected files) holds as it did.
class LookAhead
{
public:
    // Files handed over ahead of the current one: one more than the cores, so that a file
    // starting on a core is known to have files after it.
    static int files();

    using Pair = std::optional<std::pair<int, QString>>;
    // `pairAt(position)`: the position and the output the batch would open there, made without
    // side effects; nothing when it could not open that file (it is refused, and says why, at
    // its turn). `prefetch(position, output)` hands it to the encoder.
    LookAhead(std::function<Pair(int)> pairAt, std::function<void(int, const QString &)> prefetch);

    // The file at `position` of `count` has been started: the next files the batch will encode
    // (those it passes over do not count, a few dozen at most are looked at) are handed over. A
    // prefetch the encoder cannot take at all (not one file refused, which it ignores) ends the
    // looking ahead for this object's life: the files are still converted at their turn.
    // Returns how many files of the batch lie beyond those looked at (0 once the look reached
    // its end): files the encoder cannot know of yet.
    int after(int position, int count);

private:
    bool m_failed = false;
    std::function<Pair(int)> m_pairAt;
    std::function<void(int, const QString &)> m_prefetch;
};
