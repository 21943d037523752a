#include "SimHost.h"

#include "ShutdownWatchdog.h"
#include "ClientPose.h"
#include "RadioControl.h"
#include "TrackingSpaces.h"

#include <algorithm>
#include <cstring>
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
    // The runtime's frames do not wait for the device to come up.
    RunFrames(kFramesBetweenSteps);
    vr::EVRInitError result = vr::VRInitError_None;
    uint32_t index = 0;
    for (const DeviceRecord &d : recorder_.Devices()) {
        if (!d.accepted || d.driver == nullptr)
            continue;
        const uint32_t deviceIndex = index++;
        context_.SetDeviceActive(deviceIndex, true);
        const vr::EVRInitError e = d.driver->Activate(deviceIndex);
        if (e != vr::VRInitError_None) {
            context_.SetDeviceActive(deviceIndex, false);
            result = e;
        } else {
            active_ = true;
            ListDevice(deviceIndex, d.deviceClass, d.serial);
        }
    }
    return result;
}

void SimHost::ListDevice(uint32_t index, vr::ETrackedDeviceClass deviceClass, const std::string &serial)
{
    const int slot = listing_ != nullptr ? listing_->FirstFreeSlot() : -1;
    if (slot < 0)
        return;
    int32_t role = vr::TrackedControllerRole_Invalid;
    const vr::PropertyContainerHandle_t container = context_.TrackedDeviceToPropertyContainer(index);
    for (const PropertyWriteRecord &w : recorder_.PropertyWrites())
        if (w.container == container && w.prop == vr::Prop_ControllerRoleHint_Int32 && w.writeType == vr::PropertyWrite_Set)
            role = w.AsInt32();
    vr::TrackedDevicePose_t none;
    std::memset(static_cast<void *>(&none), 0, sizeof none);  // no pose yet: not valid, not connected
    listing_->SetDevice(static_cast<uint32_t>(slot), deviceClass, role, none);
    listing_->SetSerial(static_cast<uint32_t>(slot), serial.c_str());
    listed_.push_back({index, static_cast<uint32_t>(slot)});
}

// The recorder keeps the last pose published, of whichever device published it. Drivers publish
// in raw space; the table lists devices as applications see them, in standing space.
void SimHost::UpdateListedPoses()
{
    PoseRecord last;
    if (listed_.empty() || !recorder_.LastPose(last))
        return;
    vr::TrackedDevicePose_t listed = ClientPoseOf(last.pose);
    TransformPose(RoomSetupStandingFromRaw(), listed);
    for (const ListedDevice &d : listed_)
        if (d.index == last.deviceIndex)
            listing_->SetPose(d.slot, listed);
}

void SimHost::RunFrame()
{
    recorder_.SetFrame(++frames_);
    if (provider_ != nullptr)
        provider_->RunFrame();
    UpdateListedPoses();
}

void SimHost::RunFrames(uint64_t count)
{
    for (uint64_t i = 0; i < count; ++i)
        RunFrame();
}

void SimHost::SetPacing(Pacing pacing, uint32_t seed)
{
    pacing_ = pacing;
    seed_ = seed;
}

FramePacer::FramePacer(double hz, Pacing pacing, uint32_t seed, std::chrono::microseconds lateness)
    : period_(1.0 / hz), pacing_(pacing), random_(seed), lateness_(std::chrono::duration<double>(lateness).count())
{
}

Clock::duration FramePacer::Next()
{
    // The runtime runs the drivers' frames in the main loop of its server (OpenVR wiki,
    // IServerTrackedDeviceProvider_Overview: RunFrame), whose thread wakes once per frame.
    double seconds = period_.count();
    ++frames_;
    if (pacing_ == Pacing::Irregular) {
        std::uniform_int_distribution<int> stall(0, 39);
        std::uniform_real_distribution<double> spread(0.25, 2.0);
        return std::chrono::duration_cast<Clock::duration>(period_ * (stall(random_) == 0 ? 6.0 : spread(random_)));
    }
    // A paused server holds its frames for a second after every two seconds of them.
    if (pacing_ == Pacing::Paused && frames_ % static_cast<uint64_t>(2.0 / period_.count()) == 0)
        seconds += 1.0;
    // A woken thread runs after the scheduler's latency: mostly a few tens of microseconds, one
    // frame in 200 several hundred. The grid itself does not move.
    double late = 0.0;
    if (lateness_ > 0.0) {
        std::exponential_distribution<double> usual(1.0 / lateness_);
        std::uniform_int_distribution<int> busy(0, 199);
        std::uniform_real_distribution<double> busyLate(0.2e-3, 1.0e-3);
        late = busy(random_) == 0 ? busyLate(random_) : std::min(usual(random_), 10 * lateness_);
    }
    seconds += late - lastLate_;
    lastLate_ = late;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

void SimHost::RunFor(std::chrono::milliseconds duration, double hz)
{
    FramePacer pacer(hz, pacing_, seed_);
    const Clock::time_point end = Clock::now() + duration;
    Clock::time_point next = Clock::now();
    while (Clock::now() < end) {
        RunFrame();
        next += pacer.Next();
        std::this_thread::sleep_until(next);
    }
}

void SimHost::Deactivate()
{
    if (!active_)
        return;
    uint32_t index = 0;
    for (const DeviceRecord &d : recorder_.Devices()) {
        if (!d.accepted || d.driver == nullptr)
            continue;
        const uint32_t deviceIndex = index++;
        {
            ShutdownWatchdog watchdog(recorder_, "Deactivate");
            d.driver->Deactivate();
        }
        context_.SetDeviceActive(deviceIndex, false);
    }
    active_ = false;
    for (const ListedDevice &d : listed_)
        listing_->RemoveDevice(d.slot);
    listed_.clear();
    // Frames go on until the runtime cleans the driver up.
    RunFrames(kFramesBetweenSteps);
}

void SimHost::Cleanup()
{
    if (!initialised_ || provider_ == nullptr)
        return;
    {
        ShutdownWatchdog watchdog(recorder_, "Cleanup");
        provider_->Cleanup();
    }
    initialised_ = false;
    // A runtime that cleans up without deactivating first never calls the destroyed devices
    // again, not even Deactivate.
    if (active_) {
        uint32_t index = 0;
        for (const DeviceRecord &d : recorder_.Devices())
            if (d.accepted && d.driver != nullptr)
                context_.SetDeviceActive(index++, false);
        active_ = false;
        for (const ListedDevice &d : listed_)
            listing_->RemoveDevice(d.slot);
        listed_.clear();
    }
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
