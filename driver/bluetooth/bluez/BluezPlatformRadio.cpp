// The shipped library's radio on Linux: BlueZ on the system bus, its reasons in the driver log;
// and the platform's monotonic clock.
#include "../../Clock.h"
#include "../../DriverLog.h"
#include "BluezRadio.h"

namespace tarvolt::radio {

Radio &PlatformRadio()
{
    static bluez::BluezRadio radio(bluez::BluezOptions{}, [](const std::string &line) { tarvolt::Log(line); });
    return radio;
}

} // namespace tarvolt::radio

namespace tarvolt {

Clock &PlatformClock() { return SteadyClock(); }

} // namespace tarvolt
