#include "SharedPoseBlock.h"

#include "DriverLog.h"
#include "DriverState.h"
#include "SharedPose.h"

#include <cstring>

namespace tarvolt {

void CreateSharedPoseBlock()
{
    poseBlockMapping = CreatePoseBlockMapping();
    if (poseBlockMapping == nullptr)
        Log("Failed to create file mapping object.");

    // Mapping is attempted without a section too; it fails then and says so.
    void *view = MapPoseBlock(poseBlockMapping);
    if (view == nullptr) {
        Log("Failed to map view of file.");
        if (poseBlockMapping != nullptr)
            RemovePoseBlockName();
        ClosePoseBlockMapping(poseBlockMapping);
        poseBlockMapping = nullptr;
        poseBlockView = nullptr;
        return;
    }

    // A section that already existed keeps bytes 84 to 1023; only the record and its lock are
    // cleared, the lock once more with an atomic store so that the relay sees it free.
    std::memset(view, 0, sizeof(SharedPose));
    SharedPose *block = static_cast<SharedPose *>(view);
    block->lock.store(0, std::memory_order_seq_cst);
    poseBlockView = block;
}

void ReleaseSharedPoseBlock()
{
    if (poseBlockView == nullptr)
        return;
    UnmapPoseBlock(poseBlockView);
    ClosePoseBlockMapping(poseBlockMapping);
    // Nothing of the block outlives its last user; a relay still running keeps its own view.
    RemovePoseBlockName();
    poseBlockView = nullptr;
    poseBlockMapping = nullptr;
}

} // namespace tarvolt
