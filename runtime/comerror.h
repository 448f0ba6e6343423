#pragma once

#include "runtime/export.h"

#include <QString>
#include <stdexcept>

namespace rt {

// The error numbers callers see, as the forms runtime numbers them.
enum ErrorNumber : int
{
    ErrInvalidCall = 5,
    ErrOverflow = 6,
    ErrTypeMismatch = 13,
    ErrInternal = 51,
    ErrBadFileName = 52,
    ErrFileNotFound = 53,
    ErrFileAlreadyOpen = 55,
    ErrDeviceIO = 57,
    ErrDiskFull = 61,
    ErrPermissionDenied = 70,
    ErrPathFileAccess = 75,
    ErrPathNotFound = 76,
    ErrCannotCreateObject = 429,
    ErrNoSuchMember = 438,
    ErrWrongArgumentCount = 450,
    ErrResourceNotFound = 326,
};

// A failed call on a component or a runtime service; what the caller traps.
class RT_EXPORT ComError : public std::runtime_error
{
public:
    ComError(int number, const QString &description);
    int number() const noexcept { return m_number; }
    QString description() const { return m_description; }

private:
    int m_number;
    QString m_description;
};

// What a caught exception tells the user: a component's own description, "内存不足" for a
// failed allocation, else the exception's text.
RT_EXPORT QString reasonOf(const std::exception &error);

} // namespace rt
