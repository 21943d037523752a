#include "DriverLog.h"

#include "bluetooth/LinkObserver.h"

#include <openvr_driver.h>

namespace tarvolt {

void Log(const char *message)
{
    if (LinkObserver *observer = CurrentLinkObserver())
        observer->Line(message);
    // The log interface is cached by Init before any other thread of the driver exists; it can
    // only be missing if the runtime never initialised the driver, and then there is nobody to tell.
    if (vr::VRDriverContext() == nullptr)
        return;
    if (vr::IVRDriverLog *log = vr::VRDriverLog())
        log->Log(message);
}

} // namespace tarvolt
