#include "ControllerDriver.h"

#include "DriverLog.h"
#include "DriverSettings.h"
#include "DriverState.h"
#include "RelayProcess.h"
#include "RelaySupervisor.h"
#include "SharedPoseBlock.h"
#include "bluetooth/BluetoothWorker.h"
#include "bluetooth/StopSignal.h"

#include <cstring>
#include <system_error>

namespace tarvolt {

namespace {

// Starts the Bluetooth worker unless one is still attached: a runtime that activates the device
// twice keeps the running worker instead of ending the process on a joinable std::thread.
bool StartWorker(std::thread &workerThread)
{
    if (workerThread.joinable())
        return true;
    // A device activated again after a Deactivate gets a worker that scans again: the flag that
    // Deactivate cleared is set before the new worker first reads it. And the new worker's waits
    // must be able to end again on its Deactivate.
    runFlag.store(true, std::memory_order_release);
    radio::WorkerStop().Rearm();
    try {
        workerThread = std::thread(BluetoothWorkerMain);
        return true;
    } catch (const std::system_error &) {
        return false;
    }
}

} // namespace

vr::EVRInitError ControllerDriver::Activate(uint32_t unObjectId)
{
    try {
        // Activated again without a Deactivate: the earlier activation's relay is ended and its
        // block let go before new ones are made, so that no relay runs on unknown to the driver
        // beside the new one. The running worker is kept.
        if (active.load() || poseBlockView != nullptr || RelayProcessStarted()) {
            StopFrames();
            ReleaseBlockAndRelay();
        }

        const DriverSettings settings = ReadDriverSettings(vr::VRSettings(), [](const char *line) { Log(line); });
        mounting = settings.MountingOf();
        pressFrames = settings.pressFrames;

        if (!StartWorker(workerThread)) {
            // An exception must not cross into the runtime; a device without its worker is
            // refused instead, with nothing else set up.
            Log("Failed to start the Bluetooth worker.");
            return vr::VRInitError_Driver_Failed;
        }

        // The block is zeroed, lock included, before the relay program that writes it starts.
        CreateSharedPoseBlock();
        // Its outcome is logged; the device comes up either way. From now on the relay is
        // looked after: started again whenever it ends, until Deactivate.
        StartRelayProcess(kRelayProgramName);
        StartRelaySupervision(poseBlockView);

        deviceIndex = unObjectId;
        // The container is looked up once; properties and components go onto it.
        vr::PropertyContainerHandle_t container = vr::k_ulInvalidPropertyContainer;
        const bool haveProperties =
            vr::OpenVRInternal_ModuleServerDriverContext().VRPropertiesRaw() != nullptr;
        if (haveProperties) {
            container = vr::VRProperties()->TrackedDeviceToPropertyContainer(deviceIndex);
            DeclareProperties(container);
        }
        CreateComponents(container);
        active.store(true);
        return vr::VRInitError_None;
    } catch (...) {
        return vr::VRInitError_Driver_Failed;
    }
}

// Each property is written by its own one-entry batch, as the SDK's helpers do it.
void ControllerDriver::DeclareProperties(vr::PropertyContainerHandle_t container)
{
    vr::CVRPropertyHelpers *properties = vr::VRProperties();
    properties->SetStringProperty(container, vr::Prop_InputProfilePath_String, kInputProfilePath);
    properties->SetStringProperty(container, vr::Prop_ControllerType_String, kControllerType);
    properties->SetInt32Property(container, vr::Prop_ControllerRoleHint_Int32,
                                 vr::TrackedControllerRole_Treadmill);
    properties->SetInt32Property(container, vr::Prop_ControllerHandSelectionPriority_Int32,
                                 kHandSelectionPriority);
}

void ControllerDriver::CreateComponents(vr::PropertyContainerHandle_t container)
{
    // A runtime without the input interface gets no components rather than a null call.
    vr::IVRDriverInput *input = vr::VRDriverInput();
    if (input == nullptr)
        return;
    input->CreateScalarComponent(container, "/input/fire/value", &fireValueHandle,
                                 vr::VRScalarType_Absolute, vr::VRScalarUnits_NormalizedTwoSided);
    input->CreateBooleanComponent(container, "/input/fire/click", &fireClickHandle);
    input->CreateBooleanComponent(container, "/input/eject_mag/click", &ejectMagClickHandle);
    input->CreateBooleanComponent(container, "/input/load_mag/click", &loadMagClickHandle);
    input->CreateBooleanComponent(container, "/input/load_bullet/click", &loadBulletClickHandle);
    input->CreateBooleanComponent(container, "/input/unload_bullet/click",
                                  &unloadBulletClickHandle);
}

void ControllerDriver::StopWorker()
{
    if (!workerThread.joinable())
        return;
    runFlag.store(false, std::memory_order_release);
    radio::WorkerStop().Raise();
    try {
        workerThread.join();
    } catch (const std::system_error &) {
        // Joining from the worker itself, or a failed wait: let the thread go rather than end
        // the runtime's process.
        workerThread.detach();
    }
}

void ControllerDriver::StopFrames()
{
    // Later frames find the device inactive, and one already under way is waited for (it is
    // bounded: at most the pose lock's wait).
    active.store(false);
    while (framesInside.load() != 0)
        std::this_thread::yield();
}

void ControllerDriver::ReleaseBlockAndRelay()
{
    // Nothing restarts the relay or touches the block any more. The block is unmapped before the
    // relay program is ended, so a frame that still runs finds no block rather than a stale one.
    StopRelaySupervision();
    ReleaseSharedPoseBlock();
    StopRelayProcess();
}

void ControllerDriver::TearDown()
{
    if (active.load() || poseBlockView != nullptr || RelayProcessStarted())
        Deactivate();
    else
        StopWorker();
}

void ControllerDriver::Deactivate()
{
    try {
        // No relay is started from here on, and the supervision's waits end now.
        RequestRelaySupervisionStop();
        // Nothing reaches the runtime from a frame once this returns.
        StopFrames();
        deviceIndex = vr::k_unTrackedDeviceIndexInvalid;
        runFlag.store(false, std::memory_order_release);
        // Ends the worker's pause and any platform operation it waits for, so that the join
        // below returns promptly whatever the radio is doing.
        radio::WorkerStop().Raise();
        // Only an attached worker is joined; without one there is nothing to wait for.
        StopWorker();
        ReleaseBlockAndRelay();
    } catch (...) {
        // Nothing may leave into the runtime.
    }
}

void ControllerDriver::EnterStandby() {}

void *ControllerDriver::GetComponent(const char *pchComponentNameAndVersion)
{
    if (pchComponentNameAndVersion != nullptr &&
        std::strcmp(pchComponentNameAndVersion, vr::IVRDriverInput_Version) == 0)
        return this;
    return nullptr;
}

void ControllerDriver::DebugRequest(const char * /*pchRequest*/, char *pchResponseBuffer,
                                    uint32_t unResponseBufferSize)
{
    if (unResponseBufferSize >= 1 && pchResponseBuffer != nullptr)
        pchResponseBuffer[0] = '\0';
}

vr::DriverPose_t ControllerDriver::GetPose() { return pose; }

} // namespace tarvolt
