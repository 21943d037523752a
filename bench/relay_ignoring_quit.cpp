// vistrel as it was before it read the runtime's events: the same start-up and the same paced passes,
// but the server's quit request goes unanswered, so that the server waits for it and kills it.
// Only for measuring what that costs SteamVR's shutdown (make bench); never shipped.
#include "Console.h"
#include "Relay.h"

int main()
{
    using namespace tarvolt;
    PrintLine("Tarvolt Vistrel running ...");
    IdentifyParentServer();
    PoseBlockHandle mapping = OpenPoseBlockMapping();
    void *view = mapping != nullptr ? MapPoseBlock(mapping) : nullptr;
    if (view == nullptr)
        return kExitNoBlock;
    SharedPose &block = *static_cast<SharedPose *>(view);
    vr::IVRSystem *system = InitializeOpenVr(SleepMilliseconds, IsVrServerRunning);
    ServerProcess server;
    if (system == nullptr || !FindVrServerProcess(server)) {
        vr::VR_Shutdown();
        return kExitNoServer;
    }
    static PassStorage storage;
    {
        const std::unique_ptr<PassTimer> timer = OpenPassTimer();
        PassPacer pacer(*timer, FrameClockOf(block));
        RunPoseLoop(pacer, [&] { return HasServerProcessEnded(server); }, [&] {
            return WritePoseRecord(block, SelectRightHandPose(*system, storage), server) ? PassEnd::Written
                                                                                          : PassEnd::ServerEnded;
        });
    }
    CloseServerProcess(server);
    vr::VR_Shutdown();
    return kExitServerEnded;
}
