#include "FrameClock.h"
#include "PoseLock.h"

#include <windows.h>

namespace tarvolt {

PoseBlockHandle CreatePoseBlockMapping()
{
    return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSharedPoseBlockSize,
                              kSharedPoseBlockName);
}

PoseBlockHandle OpenPoseBlockMapping()
{
    return OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kSharedPoseBlockName);
}

void *MapPoseBlock(PoseBlockHandle mapping)
{
    if (mapping == nullptr)
        return nullptr;
    return MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kSharedPoseBlockSize);
}

void UnmapPoseBlock(void *view) { UnmapViewOfFile(view); }

void ClosePoseBlockMapping(PoseBlockHandle mapping) { CloseHandle(mapping); }

void RemovePoseBlockName() {}

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

// Lets another thread that is ready to run have this processor.
void YieldThread() { SwitchToThread(); }

// The performance counter is the same in every process of the system (and its rate is fixed at
// boot), so the relay reads the driver's ticks on its own clock.
int64_t MonotonicTicks()
{
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart;
}

int64_t MonotonicTicksPerSecond()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

} // namespace tarvolt
