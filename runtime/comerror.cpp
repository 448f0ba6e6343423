#include "runtime/comerror.h"

namespace rt {

ComError::ComError(int number, const QString &description)
    : std::runtime_error(description.toStdString()), m_number(number), m_description(description)
{}

} // namespace rt
