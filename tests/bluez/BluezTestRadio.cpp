// The radio of the BlueZ link tests: the BlueZ backend, pointed at the test's private bus with
// short time limits before the driver first uses it.
#include "BluezTestSupport.h"

#include "DriverLog.h"

namespace bluez_test {

tarvolt::bluez::BluezOptions &Options()
{
    static tarvolt::bluez::BluezOptions options;
    return options;
}

} // namespace bluez_test

namespace tarvolt::radio {

Radio &PlatformRadio()
{
    static bluez::BluezRadio radio(bluez_test::Options(), [](const std::string &line) { tarvolt::Log(line); });
    return radio;
}

} // namespace tarvolt::radio
