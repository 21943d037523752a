// The radio of the BlueZ link tests: the BlueZ backend, pointed at the test's private bus with
// short time limits before the driver first uses it; the clock is the simulation's, which the
// fake bluetoothd speeds up for long runs.
#include "BluezTestSupport.h"

#include "DriverLog.h"
#include "SimClock.h"

#include <mutex>

namespace bluez_test {

tarvolt::bluez::BluezOptions &Options()
{
    static tarvolt::bluez::BluezOptions options;
    return options;
}

namespace {
std::mutex logMutex;
bool logOpen = false;
} // namespace

void SetRadioLog(bool open)
{
    std::lock_guard<std::mutex> lock(logMutex);  // a line on its way is logged before the host goes
    logOpen = open;
}

} // namespace bluez_test

namespace tarvolt::radio {

Radio &PlatformRadio()
{
    static bluez::BluezRadio radio(bluez_test::Options(), [](const std::string &line) {
        std::lock_guard<std::mutex> lock(bluez_test::logMutex);
        if (bluez_test::logOpen)
            tarvolt::Log(line);
    });
    return radio;
}

} // namespace tarvolt::radio

namespace tarvolt {

Clock &PlatformClock() { return sim::SimClockInstance(); }

} // namespace tarvolt
