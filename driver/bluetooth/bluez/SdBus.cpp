#include "SdBus.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

namespace tarvolt::bluez {

const std::vector<std::string> &DefaultSdBusLibraries()
{
    static const std::vector<std::string> names = {"libsystemd.so.0", "libelogind.so.0"};
    return names;
}

namespace {

// Fills the table from one library; false (and the first missing function) when it lacks one.
bool Resolve(void *library, SdBusApi &api, std::string &missing)
{
#define TARVOLT_SDBUS_RESOLVE(name)                                                  \
    api.name = reinterpret_cast<decltype(api.name)>(dlsym(library, #name));          \
    if (api.name == nullptr) {                                                       \
        missing = #name;                                                             \
        return false;                                                                \
    }
    TARVOLT_SDBUS_FUNCTIONS(TARVOLT_SDBUS_RESOLVE)
#undef TARVOLT_SDBUS_RESOLVE
    return true;
}

} // namespace

namespace {

// One table per list of names asked for.
struct SdBusTables {
    std::mutex mutex;
    std::map<std::vector<std::string>, SdBusApi> loaded;
};

SdBusTables &Tables()
{
    static SdBusTables tables;
    return tables;
}

} // namespace

void KeepSdBusTables() { Tables(); }

const SdBusApi *LoadSdBus(std::string &error, const std::vector<std::string> &libraries)
{
    SdBusTables &tables = Tables();
    std::map<std::vector<std::string>, SdBusApi> &loaded = tables.loaded;
    std::lock_guard<std::mutex> lock(tables.mutex);
    if (const auto found = loaded.find(libraries); found != loaded.end())
        return &found->second;
    error.clear();
    for (const std::string &name : libraries) {
        // Never closed: sd-bus objects and the library's own state live as long as the process.
        void *library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char *reason = dlerror();
            error += (error.empty() ? "" : "; ") + std::string(reason ? reason : name + ": cannot be loaded");
            continue;
        }
        SdBusApi candidate;
        std::string missing;
        if (!Resolve(library, candidate, missing)) {
            error += (error.empty() ? "" : "; ") + name + " has no " + missing;
            dlclose(library);
            continue;
        }
        return &(loaded[libraries] = candidate);
    }
    return nullptr;
}

} // namespace tarvolt::bluez
