#include "converter/console/consoleoutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

void ConsoleOutput::say(Stream stream, const QString &text)
{
    bool &lost = stream == Out ? m_outLost : m_errorLost;
    if (lost)
        return;
    std::FILE *file = stream == Out ? stdout : stderr;
    errno = 0;
    if (std::fputs(text.toUtf8().constData(), file) >= 0 && std::fflush(file) == 0)
        return;
    const int error = errno ? errno : EIO;
    std::clearerr(file);
    lost = true;
    if (stream == Out)
        say(Error, QStringLiteral("batchmp3: 无法写入标准输出（%1），转换继续\n")
                       .arg(QString::fromLocal8Bit(std::strerror(error))));
}
