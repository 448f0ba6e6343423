#include "runtime/objectfactory.h"

#include "runtime/comerror.h"
#include "runtime/component.h"
#include "runtime/filetrust.h"
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
    QStringList passedOver;
    const auto entry = reg.find(classNameOrClsid, &passedOver);
    if (!entry) {
        QString text = QStringLiteral("component \"%1\" is not registered").arg(classNameOrClsid);
        if (!passedOver.isEmpty())
            text += QStringLiteral(" (passed over: %1)").arg(passedOver.join(QStringLiteral("; ")));
        cannotCreate(text);
    }
    if (!QFileInfo::exists(entry->libraryPath))
        cannotCreate(QStringLiteral("library file of \"%1\" is missing: %2")
                         .arg(classNameOrClsid, entry->libraryPath));
    // Loading runs the library's code: only what no other user could have put there.
    if (QString why; !isTrustedFile(entry->libraryPath, &why))
        cannotCreate(
            QStringLiteral("library file of \"%1\" is not loaded: %2").arg(classNameOrClsid, why));

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
