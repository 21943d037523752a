#include "TrackedDeviceTable.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace sim {

namespace {

std::string PosixName(const char *name) { return std::string("/") + name; }

bool MapRegion(int fd, size_t size, SharedRegion &region)
{
    struct stat st {};
    if (fstat(fd, &st) != 0 || static_cast<size_t>(st.st_size) < size) {
        close(fd);
        return false;
    }
    void *view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);  // the mapping keeps the object
    if (view == MAP_FAILED)
        return false;
    region.handle = nullptr;
    region.view = view;
    return true;
}

} // namespace

bool CreateSharedRegion(const char *name, size_t size, SharedRegion &region)
{
    const int fd = shm_open(PosixName(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        close(fd);
        return false;
    }
    return MapRegion(fd, size, region);
}

bool OpenSharedRegion(const char *name, size_t size, SharedRegion &region)
{
    const int fd = shm_open(PosixName(name).c_str(), O_RDWR | O_CLOEXEC, 0);
    return fd >= 0 && MapRegion(fd, size, region);
}

void CloseSharedRegion(SharedRegion &region, size_t size)
{
    if (region.view != nullptr)
        munmap(region.view, size);
    region.view = nullptr;
}

void RemoveSharedRegionName(const char *name) { shm_unlink(PosixName(name).c_str()); }

} // namespace sim
