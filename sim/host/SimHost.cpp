#include "SimHost.h"

#include <thread>

namespace sim {

namespace {
#if defined(_WIN32)
constexpr const char *kSeparator = "\\";
#else
constexpr const char *kSeparator = "/";
#endif
} // namespace

SimHost::SimHost() : context_(recorder_) {}

SimHost::~SimHost() { Shutdown(); }

std::string SimHost::DefaultPackageRoot(bool simulatedRadio)
{
    return BuildDirectory() + kSeparator + (simulatedRadio ? "pkg-sim" : "pkg");
}

bool SimHost::Load(const std::string &packageRoot)
{
    const std::string path = DriverBinaryDirectory(packageRoot) + kSeparator + DriverFileName();
    if (!library_.Open(path)) {
        error_ = library_.Error();
        return false;
    }
    return true;
}

void *SimHost::CallFactory(const char *interfaceName, int *returnCode)
{
    FactoryFn factory = factory_ ? factory_ : reinterpret_cast<FactoryFn>(library_.Symbol("HmdDriverFactory"));
    if (factory == nullptr) {
        error_ = "HmdDriverFactory not exported";
        return nullptr;
    }
    return factory(interfaceName, returnCode);
}

vr::EVRInitError SimHost::Init()
{
    int code = 0;
    provider_ = static_cast<vr::IServerTrackedDeviceProvider *>(
        CallFactory(vr::IServerTrackedDeviceProvider_Version, &code));
    if (provider_ == nullptr)
        return static_cast<vr::EVRInitError>(code ? code : vr::VRInitError_Init_FactoryNotFound);
    const vr::EVRInitError error = provider_->Init(context_.AsDriverContext());
    initialised_ = true;  // the runtime calls Cleanup after any Init
    return error;
}

vr::ITrackedDeviceServerDriver *SimHost::Device() const
{
    for (const DeviceRecord &d : recorder_.Devices())
        if (d.accepted)
            return d.driver;
    return nullptr;
}

vr::EVRInitError SimHost::Activate()
{
    vr::EVRInitError result = vr::VRInitError_None;
    uint32_t index = 0;
    for (const DeviceRecord &d : recorder_.Devices()) {
        if (!d.accepted || d.driver == nullptr)
            continue;
        const vr::EVRInitError e = d.driver->Activate(index++);
        if (e != vr::VRInitError_None)
            result = e;
        else
            active_ = true;
    }
    return result;
}

void SimHost::RunFrame()
{
    recorder_.SetFrame(++frames_);
    if (provider_ != nullptr)
        provider_->RunFrame();
}

void SimHost::RunFrames(uint64_t count)
{
    for (uint64_t i = 0; i < count; ++i)
        RunFrame();
}

void SimHost::RunFor(std::chrono::milliseconds duration, double hz)
{
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / hz));
    const Clock::time_point end = Clock::now() + duration;
    Clock::time_point next = Clock::now();
    while (Clock::now() < end) {
        RunFrame();
        next += period;
        std::this_thread::sleep_until(next);
    }
}

void SimHost::Deactivate()
{
    if (!active_)
        return;
    for (const DeviceRecord &d : recorder_.Devices())
        if (d.accepted && d.driver != nullptr)
            d.driver->Deactivate();
    active_ = false;
}

void SimHost::Cleanup()
{
    if (!initialised_ || provider_ == nullptr)
        return;
    provider_->Cleanup();
    initialised_ = false;
}

void SimHost::Unload()
{
    provider_ = nullptr;
    library_.Close();
}

void SimHost::Shutdown()
{
    Deactivate();
    Cleanup();
    Unload();
}

} // namespace sim
