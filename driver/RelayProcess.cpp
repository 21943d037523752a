#include "RelayProcess.h"

namespace tarvolt {

ModulePath DirectoryOfModulePath(const ModulePath &modulePath)
{
    const ModulePath::value_type separators[] = {'\\', '/', 0};
    const ModulePath::size_type last = modulePath.find_last_of(separators);
    if (last == ModulePath::npos)
        return modulePath;
    return modulePath.substr(0, last);
}

} // namespace tarvolt
