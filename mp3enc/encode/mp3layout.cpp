#include "mp3enc/encode/mp3layout.h"

#include "mp3enc/calc/reasons.h"
#include "mp3enc/encode/tempoutput.h"
#include "mp3enc/tags/id3tag.h"
#include "runtime/comerror.h"

bool Mp3Layout::begin(const QString &outputPath)
{
    return m_out.create(outputPath) && frames(m_id3.v2.constData(), std::size_t(m_id3.v2.size()));
}

bool Mp3Layout::frames(const void *data, std::size_t size)
{
    return m_out.write(data, size);
}

bool Mp3Layout::finish(const std::vector<unsigned char> &infoTag)
{
    return m_out.write(m_id3.v1.constData(), std::size_t(m_id3.v1.size())) &&
           (infoTag.empty() || m_out.writeAt(m_id3.v2.size(), infoTag.data(), infoTag.size()));
}

EncodeResult Mp3Layout::failed() const
{
    return writeFailedResult(m_out);
}

EncodeResult writeFailedResult(const TempOutput &out)
{
    if (out.refusedProtected()) // as Open refuses a protected file
        return failedResult(rt::ErrPermissionDenied, out.errorText());
    return failedResult(reasons::outputErrorNumber(out.errorNumber()), out.errorText());
}
