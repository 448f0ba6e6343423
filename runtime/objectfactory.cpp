#include "runtime/objectfactory.h"

#include "runtime/comerror.h"
#include "runtime/component.h"
#include "runtime/registry.h"

#include <QFileInfo>
#include <QLibrary>

namespace rt {

namespace {

[[noreturn]] void cannotCreate(const QString &what)
{
    throw ComError(ErrCannotCreateObject, what);
}

} // namespace

std::unique_ptr<Control> createObject(const QString &classNameOrClsid, ControlSite *site,
                                      const Registry *registry)
{
    const Registry defaultRegistry;
    const Registry &reg = registry ? *registry : defaultRegistry;
    const auto entry = reg.find(classNameOrClsid);
    if (!entry)
        cannotCreate(QStringLiteral("component \"%1\" is not registered").arg(classNameOrClsid));
    if (!QFileInfo::exists(entry->libraryPath))
        cannotCreate(QStringLiteral("library file of \"%1\" is missing: %2")
                         .arg(classNameOrClsid, entry->libraryPath));

    // Libraries stay loaded for the life of the process, like the system keeps a server loaded
    // while any object of it may live; a QLibrary's destruction does not unload.
    QLibrary library(entry->libraryPath);
    library.setLoadHints(QLibrary::ResolveAllSymbolsHint);
    if (!library.load())
        cannotCreate(QStringLiteral("library file of \"%1\" cannot be loaded: %2")
                         .arg(classNameOrClsid, library.errorString()));
    auto getClassObject =
        reinterpret_cast<DllGetClassObjectFn>(library.resolve("DllGetClassObject"));
    if (!getClassObject)
        cannotCreate(QStringLiteral("%1 is not a component library (no DllGetClassObject)")
                         .arg(entry->libraryPath));
    ClassFactory *factory = nullptr;
    const QByteArray clsid = entry->clsid.toUtf8();
    if (getClassObject(clsid.constData(), &factory) != ResultOk || !factory)
        cannotCreate(QStringLiteral("%1 does not provide the class \"%2\"")
                         .arg(entry->libraryPath, classNameOrClsid));
    std::unique_ptr<Control> control = factory->createInstance(site);
    if (!control)
        cannotCreate(
            QStringLiteral("the class \"%1\" refused to create an instance").arg(classNameOrClsid));
    return control;
}

} // namespace rt
