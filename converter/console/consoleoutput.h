#pragma once

#include <QString>

// Standard output and error as the terminal mode writes them: each text flushed at once, so a
// terminal's line and a pipe's reader see each step as it happens. A stream that takes nothing
// more (a reader gone, a full disk) is given up, which standard error is told of: the files are
// still converted.
class ConsoleOutput
{
public:
    enum Stream
    {
        Out,
        Error,
    };
    void say(Stream stream, const QString &text);
    bool lost(Stream stream) const { return stream == Out ? m_outLost : m_errorLost; }

private:
    bool m_outLost = false;
    bool m_errorLost = false;
};
