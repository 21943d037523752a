#include "RelayProcess.h"

namespace tarvolt {

std::string DirectoryOfModulePath(const std::string &modulePath)
{
    const std::string::size_type last = modulePath.find_last_of("\\/");
    if (last == std::string::npos)
        return modulePath;
    return modulePath.substr(0, last);
}

} // namespace tarvolt
