// The library's own file through dladdr, opened once more with RTLD_NODELETE: from then on
// dlclose leaves it mapped.
#include "LibraryPin.h"

#include <dlfcn.h>

namespace tarvolt {

bool PinDriverLibrary()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&PinDriverLibrary), &info) == 0 || info.dli_fname == nullptr)
        return false;
    // A reference of its own that is never given back, on the module that is already loaded.
    return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

} // namespace tarvolt
