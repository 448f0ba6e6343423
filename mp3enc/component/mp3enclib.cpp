// The entry points of the component library "Mp3Enc.ocx".
#include "mp3enc/component/mp3enc.h"
#include "runtime/component.h"

namespace {

class Mp3EncFactory final : public rt::ClassFactory
{
public:
    std::unique_ptr<rt::Control> createInstance(rt::ControlSite *site) override
    {
        return std::make_unique<Mp3Enc>(site);
    }
};

rt::ClassFactory *mp3EncFactory()
{
    static Mp3EncFactory factory;
    return &factory;
}

const rt::LibraryInfo LibInfo = {
    "MP3ENCLib", "Mp3Enc ActiveX Control module", "{3F0A8C71-5B2E-4D19-9A64-7C1E2B8D4F05}", "1.0",
    "1.0",
};

const rt::ClassInfo Classes[] = {
    {"{6E1B5C2A-9D47-4F83-B2A1-58C3E7D90F16}", "MP3ENCLib.Mp3Enc", "Mp3Enc Control",
     &mp3EncFactory},
};

} // namespace

RT_COMPONENT_LIBRARY(LibInfo, Classes)
