#include "RadioDemo.h"

#include "RadioControl.h"

#include <cstdio>

namespace sim {

namespace {

constexpr std::chrono::seconds kStepLimit{10};

void Say(const char *text)
{
    std::printf("demo: %s\n", text);
    std::fflush(stdout);
}

// Presses a button and waits until its pulse has ended in the host's updates.
bool Press(SimHost &host, RadioControl &radio, int rifle, const std::vector<uint8_t> &bytes, const char *component)
{
    const std::string name = component;
    auto releases = [&] {
        size_t n = 0;
        for (const ComponentUpdate &u : host.Recorder().Updates())
            n += u.name == name && u.kind == ComponentKind::Boolean && !u.boolValue ? 1 : 0;
        return n;
    };
    const size_t before = releases();
    radio.Notify(rifle, bytes);
    return host.Recorder().WaitUntil([&] { return releases() > before; }, kStepLimit);
}

void Script(SimHost &host, RadioControl &radio, int rifle)
{
    HostRecorder &r = host.Recorder();
    if (!r.WaitForLog("Device successfully connected.", kStepLimit))
        return Say("the rifle did not connect");
    Say("pulling the trigger");
    if (!Press(host, radio, rifle, {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}, "/input/fire/click"))
        return Say("no fire pulse");
    Say("ejecting the magazine");
    if (!Press(host, radio, rifle, {0x5C, 0x00, 0x5C, 0x5D}, "/input/eject_mag/click"))
        return Say("no eject pulse");
    Say("the rifle goes out of range");
    radio.Drop(rifle);
    if (!r.WaitForLog("Device successfully connected.", kStepLimit, 2))
        return Say("the rifle did not come back");
    Say("loading a magazine after the reconnection");
    if (!Press(host, radio, rifle, {0x5C, 0x01, 0x5D, 0x5D}, "/input/load_mag/click"))
        return Say("no load pulse");
    Say("done");
}

} // namespace

bool StartRadioDemo(SimHost &host, std::thread &script)
{
    auto entry = reinterpret_cast<SimRadioEntry>(host.Symbol(kSimRadioExport));
    if (entry == nullptr)
        return false;
    RadioControl &radio = *entry();
    const int rifle = radio.AddPeripheral(RifleScript(0xAABBCCDDEEFFull));
    script = std::thread([&host, &radio, rifle] { Script(host, radio, rifle); });
    return true;
}

} // namespace sim
