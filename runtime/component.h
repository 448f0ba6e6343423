#pragma once

// The boundary between a component library and the runtime. A component library exports four
// plain C entry points; each hands its class information to the runtime's generic code.

#include "runtime/control.h"
#include "runtime/export.h"

#include <memory>

namespace rt {

// S_OK-style results of the entry points.
enum : int
{
    ResultOk = 0,
    ResultFalse = 1,
    ResultFail = -1,
    ResultClassNotAvailable = -2
};

struct LibraryInfo
{
    const char *typeLibName;    // "ZantoXP按扭"
    const char *typeLibHelp;    // help string of the type library
    const char *typeLibId;      // fixed "{...}" identifier
    const char *typeLibVersion; // "4.0"
    const char *fileVersion;    // "1.20"
};

class RT_EXPORT ClassFactory
{
public:
    virtual ~ClassFactory();
    virtual std::unique_ptr<Control> createInstance(ControlSite *site) = 0;
};

struct ClassInfo
{
    const char *clsid;  // fixed "{...}" identifier, the same from build to build
    const char *progId; // class name for hosts: "ZantoXP按扭.ZTbutton"
    const char *description;
    ClassFactory *(*factory)(); // returns the library's one factory for this class
};

// Generic implementations behind the entry points. `addressInLibrary` is any address inside the
// calling library, from which its file path is found.
RT_EXPORT int registerServer(const LibraryInfo &lib, const ClassInfo *classes, int count,
                             const void *addressInLibrary);
RT_EXPORT int unregisterServer(const ClassInfo *classes, int count);
RT_EXPORT int getClassObject(const ClassInfo *classes, int count, const char *clsid,
                             ClassFactory **factory);

} // namespace rt

extern "C" {
using DllRegisterServerFn = int (*)();
using DllUnregisterServerFn = int (*)();
using DllGetClassObjectFn = int (*)(const char *clsid, rt::ClassFactory **factory);
using DllCanUnloadNowFn = int (*)();
}

// Defines the four entry points of a component library from its class table.
#define RT_COMPONENT_LIBRARY(libInfo, classTable)                                                  \
    extern "C" Q_DECL_EXPORT int DllRegisterServer()                                               \
    {                                                                                              \
        return rt::registerServer(libInfo, classTable, int(std::size(classTable)),                 \
                                  reinterpret_cast<const void *>(&DllRegisterServer));             \
    }                                                                                              \
    extern "C" Q_DECL_EXPORT int DllUnregisterServer()                                             \
    {                                                                                              \
        return rt::unregisterServer(classTable, int(std::size(classTable)));                       \
    }                                                                                              \
    extern "C" Q_DECL_EXPORT int DllGetClassObject(const char *clsid, rt::ClassFactory **factory)  \
    {                                                                                              \
        return rt::getClassObject(classTable, int(std::size(classTable)), clsid, factory);         \
    }                                                                                              \
    extern "C" Q_DECL_EXPORT int DllCanUnloadNow()                                                 \
    {                                                                                              \
        return rt::ResultFalse;                                                                    \
    }
