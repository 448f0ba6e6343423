#include "converter/startup/modres.h"

#include "runtime/comerror.h"
#include "runtime/payload.h"

int WriteResToFile(int ResId, const QString &ResType, const QString &FileName)
{
    try {
        return rt::writeFileAtomically(FileName, rt::loadPayload(ResId, ResType));
    } catch (const rt::ComError &e) {
        return e.number();
    }
}
