#include "TrackedDeviceTable.h"

#include <windows.h>

namespace sim {

namespace {

bool MapRegion(HANDLE mapping, size_t size, SharedRegion &region)
{
    if (mapping == nullptr)
        return false;
    void *view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (view == nullptr) {
        CloseHandle(mapping);
        return false;
    }
    region.handle = mapping;
    region.view = view;
    return true;
}

} // namespace

bool CreateSharedRegion(const char *name, size_t size, SharedRegion &region)
{
    return MapRegion(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(size), name),
                     size, region);
}

bool OpenSharedRegion(const char *name, size_t size, SharedRegion &region)
{
    return MapRegion(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name), size, region);
}

void CloseSharedRegion(SharedRegion &region, size_t)
{
    if (region.view != nullptr)
        UnmapViewOfFile(region.view);
    if (region.handle != nullptr)
        CloseHandle(region.handle);
    region = SharedRegion{};
}

void RemoveSharedRegionName(const char *) {}

} // namespace sim
