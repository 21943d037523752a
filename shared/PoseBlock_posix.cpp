// The POSIX form of the named section: a shm_open object of the same name after a slash.
// The handle is the descriptor plus one, so that null still means failure.
#include "FrameClock.h"
#include "PoseLock.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

namespace tarvolt {

namespace {

std::string PosixName() { return std::string("/") + kSharedPoseBlockName; }

PoseBlockHandle ToHandle(int fd) { return reinterpret_cast<PoseBlockHandle>(static_cast<intptr_t>(fd) + 1); }

int ToDescriptor(PoseBlockHandle handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle) - 1); }

} // namespace

PoseBlockHandle CreatePoseBlockMapping()
{
    const int fd = shm_open(PosixName().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    // Like a section that already exists, an existing object keeps its size unless it is smaller.
    struct stat st {};
    if (fstat(fd, &st) != 0 || (st.st_size < kSharedPoseBlockSize && ftruncate(fd, kSharedPoseBlockSize) != 0)) {
        close(fd);
        return nullptr;
    }
    return ToHandle(fd);
}

PoseBlockHandle OpenPoseBlockMapping()
{
    const int fd = shm_open(PosixName().c_str(), O_RDWR | O_CLOEXEC, 0);
    return fd < 0 ? nullptr : ToHandle(fd);
}

void *MapPoseBlock(PoseBlockHandle mapping)
{
    if (mapping == nullptr)
        return nullptr;
    struct stat st {};
    if (fstat(ToDescriptor(mapping), &st) != 0 || st.st_size < kSharedPoseBlockSize)
        return nullptr;
    void *view = mmap(nullptr, kSharedPoseBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, ToDescriptor(mapping), 0);
    return view == MAP_FAILED ? nullptr : view;
}

void UnmapPoseBlock(void *view)
{
    if (view != nullptr)
        munmap(view, kSharedPoseBlockSize);
}

void ClosePoseBlockMapping(PoseBlockHandle mapping)
{
    if (mapping != nullptr)
        close(ToDescriptor(mapping));
}

void RemovePoseBlockName() { shm_unlink(PosixName().c_str()); }

void SleepMilliseconds(uint32_t milliseconds)
{
    timespec t{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

void YieldThread() { sched_yield(); }

int64_t MonotonicTicks()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t MonotonicTicksPerSecond() { return 1000000000; }

} // namespace tarvolt
