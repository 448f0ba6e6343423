#include "buttonctl/ztbuttonlib.h"

#include "buttonctl/control/ztbuttoncontrol.h"
#include "runtime/component.h"

#ifndef ZTBUTTON_VERSION
#error "ZTBUTTON_VERSION must be defined by the build"
#endif

namespace {

class ZTbuttonFactory final : public rt::ClassFactory
{
public:
    std::unique_ptr<rt::Control> createInstance(rt::ControlSite *site) override
    {
        return std::make_unique<ZTbuttonControl>(site);
    }
};

rt::ClassFactory *ztbuttonFactory()
{
    static ZTbuttonFactory factory;
    return &factory;
}

const rt::LibraryInfo libInfo{"ZantoXP按扭", "ZantoXP按扭", ztbutton::TypeLibId, "4.0",
                              ZTBUTTON_VERSION};

const rt::ClassInfo classTable[] = {
    {ztbutton::ClassId, ztbutton::ProgId, "ZantoXP按扭", &ztbuttonFactory},
};

} // namespace

RT_COMPONENT_LIBRARY(libInfo, classTable)
