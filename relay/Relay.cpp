#include "Relay.h"

#include "Console.h"

#include <cstring>
#include <string>

namespace tarvolt {

vr::TrackedDevicePose_t DefaultPoseRecord()
{
    vr::TrackedDevicePose_t record;
    std::memset(static_cast<void *>(&record), 0, sizeof record);
    // No pose to give: not valid and not tracking, so SteamVR does not show the rifle tracked at
    // the origin; still connected, so that the rifle's buttons keep working.
    record.eTrackingResult = vr::TrackingResult_Uninitialized;
    record.bPoseIsValid = false;
    record.bDeviceIsConnected = true;
    return record;
}

const vr::TrackedDevicePose_t &SelectRightHandPose(vr::IVRSystem &system, PassStorage &storage)
{
    return SelectPose(system, storage, PoseSource{}, vr::k_unTrackedDeviceIndexInvalid);
}

const vr::TrackedDevicePose_t &SelectPose(vr::IVRSystem &system, PassStorage &storage, const PoseSource &source,
                                          vr::TrackedDeviceIndex_t serialIndex)
{
    // Raw tracking space: the driver publishes the rifle's pose unchanged, and a driver's poses are
    // taken as raw; the runtime then applies the room setup for applications, as for the
    // controller itself. A standing pose would be displaced by the whole room setup.
    system.GetDeviceToAbsoluteTrackingPose(vr::TrackingUniverseRawAndUncalibrated, 0.0f, storage.poses,
                                           vr::k_unMaxTrackedDeviceCount);
    if (source.kind == PoseSourceKind::Serial) {
        storage.selected = serialIndex < vr::k_unMaxTrackedDeviceCount ? storage.poses[serialIndex] : DefaultPoseRecord();
        return storage.selected;
    }
    const vr::ETrackedControllerRole role = source.kind == PoseSourceKind::LeftHand ? vr::TrackedControllerRole_LeftHand
                                                                                    : vr::TrackedControllerRole_RightHand;
    const uint32_t count = system.GetSortedTrackedDeviceIndicesOfClass(
        vr::TrackedDeviceClass_Controller, storage.controllers, vr::k_unMaxTrackedDeviceCount,
        vr::k_unTrackedDeviceIndex_Hmd);
    storage.selected = DefaultPoseRecord();
    for (uint32_t i = 0; i < count && i < vr::k_unMaxTrackedDeviceCount; ++i) {
        const vr::TrackedDeviceIndex_t index = storage.controllers[i];
        // An index outside the pose array would read past it; the runtime never gives one.
        if (index < vr::k_unMaxTrackedDeviceCount &&
            system.GetControllerRoleForTrackedDeviceIndex(index) == role)
            storage.selected = storage.poses[index];
    }
    return storage.selected;
}

bool WritePoseRecord(SharedPose &block, const vr::TrackedDevicePose_t &record, const ServerProcess &server)
{
    while (!AcquirePoseLockWithin(block.lock, kLockWaitSleeps)) {
        if (HasServerProcessEnded(server))
            return false;
    }
    std::memcpy(static_cast<void *>(&block.pose), &record, sizeof record);
    ReleasePoseLock(block.lock);
    return true;
}

bool QuitRequested(vr::IVRSystem &system)
{
    vr::VREvent_t event;
    while (system.PollNextEvent(&event, sizeof event))
        if (event.eventType == vr::VREvent_Quit)
            return true;
    return false;
}

bool RunPoseLoop(PassPacer &pacer, const std::function<bool()> &serverEnded, const std::function<PassEnd()> &pass)
{
    while (!serverEnded()) {
        switch (pass()) {
        case PassEnd::QuitRequested:
            return true;
        case PassEnd::ServerEnded:
            return false;
        case PassEnd::Written:
            break;
        }
        pacer.WaitForNextPass();
    }
    return false;
}

vr::IVRSystem *InitializeOpenVr(const std::function<void(uint32_t)> &sleep,
                                const std::function<bool()> &serverRunning)
{
    for (;;) {
        vr::EVRInitError error = vr::VRInitError_None;
        vr::IVRSystem *system = vr::VR_Init(&error, vr::VRApplication_Background);
        // A library that reports success without the interface would leave nothing to call.
        if (error == vr::VRInitError_None && system == nullptr)
            error = vr::VRInitError_Init_InterfaceNotFound;
        if (error == vr::VRInitError_None)
            return system;
        const char *description = vr::VR_GetVRInitErrorAsEnglishDescription(error);
        PrintLine(std::string("Failed to initialize OpenVR, error code: ") + (description ? description : ""));
        vr::VR_Shutdown();
        if (!serverRunning())
            return nullptr;
        sleep(kInitRetryMs);
    }
}

int RunRelay(RelayPace pace, void (*report)(const FramePacing &))
{
    PrintLine("Tarvolt Vistrel running ...");
    IdentifyParentServer();

    PoseBlockHandle mapping = OpenPoseBlockMapping();
    void *view = nullptr;
    if (mapping == nullptr) {
        PrintLine("Failed to open file mapping object.");
    } else {
        view = MapPoseBlock(mapping);
        if (view == nullptr) {
            PrintLine("Failed to map view of file.");
            ClosePoseBlockMapping(mapping);
        }
    }
    if (view == nullptr) {
        PrintLine("Failed to open shared memory, exiting...");
        WaitForOneInputCharacter();
        return kExitNoBlock;
    }
    PrintLine("Shared memory opened successfully.");
    SharedPose &block = *static_cast<SharedPose *>(view);

    vr::IVRSystem *system = InitializeOpenVr(SleepMilliseconds, IsVrServerRunning);
    ServerProcess server;
    bool serverFound = false;
    if (system == nullptr) {
        PrintLine(std::string(kServerProcessName) + " not found.");  // gone while OpenVR was refused
    } else {
        PrintLine("OpenVR initialized");
        serverFound = FindVrServerProcess(server);
    }
    if (!serverFound) {
        PrintLine(std::string("SteamVR (") + kServerProcessName + ") not found. Exiting...");
        UnmapPoseBlock(view);
        ClosePoseBlockMapping(mapping);
        vr::VR_Shutdown();
        return kExitNoServer;
    }

    // One pass per frame (or on a fixed grid); nothing allocated in a pass.
    static PassStorage storage;
    // Which device carries the rifle, read now and again about once a second (a serial number
    // is looked up then, not in every pass).
    vr::IVRSettings *settings = vr::VRSettings();
    PoseSourceSetting source;
    vr::TrackedDeviceIndex_t serialIndex = vr::k_unTrackedDeviceIndexInvalid;
    const auto readSource = [&] {
        const PoseSource &current = source.Read(settings);
        serialIndex = current.kind == PoseSourceKind::Serial ? FindDeviceBySerial(*system, current.serial)
                                                             : vr::k_unTrackedDeviceIndexInvalid;
    };
    readSource();
    bool quit = false;
    {
        const std::unique_ptr<PassTimer> timer = OpenPassTimer();
        timer->EndWaitsOn(server);
        PassPacer pacer = pace == RelayPace::Frames ? PassPacer(*timer, FrameClockOf(block))
                                                    : PassPacer(*timer, kPassPeriodNs);
        PassClockTime nextSourceRead = pacer.PassTime() + kPoseSourceReadPeriodNs;
        quit = RunPoseLoop(pacer, [&] { return HasServerProcessEnded(server); }, [&] {
            if (pacer.PassTime() >= nextSourceRead) {
                readSource();
                nextSourceRead = pacer.PassTime() + kPoseSourceReadPeriodNs;
            }
            if (!WritePoseRecord(block, SelectPose(*system, storage, source.Current(), serialIndex), server))
                return PassEnd::ServerEnded;
            return QuitRequested(*system) ? PassEnd::QuitRequested : PassEnd::Written;
        });
        if (report != nullptr)
            report(pacer.Pacing());
    }
    if (quit) {
        // The server shuts down once its clients have disconnected, and kills those that have
        // not after a few seconds. Disconnect at once; the server's end follows.
        system->AcknowledgeQuit_Exiting();
        vr::VR_Shutdown();
        system = nullptr;
        WaitForServerProcessEnd(server);
    }

    PrintLine(std::string(kServerProcessName) + " has exited. Exiting...");
    CloseServerProcess(server);
    UnmapPoseBlock(view);
    ClosePoseBlockMapping(mapping);
    if (!quit)
        vr::VR_Shutdown();
    return kExitServerEnded;
}

} // namespace tarvolt
