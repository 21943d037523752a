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

std::string RelayEndLine(const RelayEnd &end)
{
    if (!end.known)
        return "Vistrel process ended.";
    if (end.signalled)
        return "Vistrel process ended by signal " + std::to_string(end.code) + ".";
    // vistrel's own exit codes 1 and 2 (0, the server has ended, is also what a termination leaves).
    std::string line = "Vistrel process ended with exit code " + RelayExitCodeText(end.code);
    if (end.code == 1)
        line += " (no shared memory)";
    else if (end.code == 2)
        line += std::string(" (") + kServerProgramName + " not found)";
    return line + ".";
}

} // namespace tarvolt
