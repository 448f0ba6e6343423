#include "runtime/comerror.h"

#include <new>

namespace rt {

ComError::ComError(int number, const QString &description)
    : std::runtime_error(description.toStdString()), m_number(number), m_description(description)
{}

QString reasonOf(const std::exception &error)
{
    if (const auto *com = dynamic_cast<const ComError *>(&error))
        return com->description();
    if (dynamic_cast<const std::bad_alloc *>(&error))
        return QStringLiteral("内存不足");
    return QString::fromLocal8Bit(error.what());
}

} // namespace rt
