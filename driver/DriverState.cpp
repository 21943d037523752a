#include "DriverState.h"

namespace tarvolt {

std::atomic<bool> runFlag{true};

std::atomic<bool> fire{false};
std::atomic<bool> eject_mag{false};
std::atomic<bool> load_mag{false};
std::atomic<bool> load_bullet{false};
std::atomic<bool> unload_bullet{false};

PoseBlockHandle poseBlockMapping = nullptr;
SharedPose *poseBlockView = nullptr;

} // namespace tarvolt
