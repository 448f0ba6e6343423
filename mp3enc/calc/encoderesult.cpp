#include "mp3enc/calc/encoderesult.h"

#include "mp3enc/calc/reasons.h"
#include "runtime/comerror.h"

#include <new>

EncodeResult failedResult(int number, const QString &text)
{
    return {EncodeResult::Failed, number, text};
}

EncodeResult exceptionResult(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc &) {
        return failedResult(rt::ErrOverflow, reasons::OutOfMemory);
    } catch (const rt::ComError &comError) {
        return failedResult(comError.number(), comError.description());
    } catch (const std::exception &other) {
        return failedResult(rt::ErrInternal,
                            reasons::internalError(QString::fromLocal8Bit(other.what())));
    } catch (...) {
        return failedResult(rt::ErrInternal, reasons::internalError(QStringLiteral("未知异常")));
    }
}
