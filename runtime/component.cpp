#include "runtime/component.h"

#include "runtime/registry.h"

#include <QFileInfo>
#include <cstring>
#include <dlfcn.h>
#include <strings.h>

namespace rt {

ClassFactory::~ClassFactory() = default;

int registerServer(const LibraryInfo &lib, const ClassInfo *classes, int count,
                   const void *addressInLibrary)
{
    Dl_info info{};
    if (!dladdr(addressInLibrary, &info) || !info.dli_fname)
        return ResultFail;
    const QString path = QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absoluteFilePath();
    Registry registry;
    for (int i = 0; i < count; ++i) {
        RegistryEntry e;
        e.clsid = QString::fromUtf8(classes[i].clsid);
        e.progId = QString::fromUtf8(classes[i].progId);
        e.description = QString::fromUtf8(classes[i].description);
        e.libraryPath = path;
        e.typeLibName = QString::fromUtf8(lib.typeLibName);
        e.typeLibVersion = QString::fromUtf8(lib.typeLibVersion);
        e.fileVersion = QString::fromUtf8(lib.fileVersion);
        if (!registry.add(e))
            return ResultFail;
    }
    return ResultOk;
}

int unregisterServer(const ClassInfo *classes, int count)
{
    Registry registry;
    for (int i = 0; i < count; ++i) {
        if (!registry.remove(QString::fromUtf8(classes[i].clsid)))
            return ResultFail;
    }
    return ResultOk;
}

int getClassObject(const ClassInfo *classes, int count, const char *clsid, ClassFactory **factory)
{
    if (!factory || !clsid)
        return ResultFail;
    *factory = nullptr;
    for (int i = 0; i < count; ++i) {
        if (strcasecmp(classes[i].clsid, clsid) == 0) {
            *factory = classes[i].factory();
            return *factory ? ResultOk : ResultFail;
        }
    }
    return ResultClassNotAvailable;
}

} // namespace rt
