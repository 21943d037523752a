#pragma once
// Loads a driver library the way the runtime's server does: by file path, then its export by name.
// Paths are UTF-8 here; on Windows they reach the system through its wide-character calls.
#include <string>

namespace sim {

class DriverLibrary {
public:
    DriverLibrary() = default;
    DriverLibrary(const DriverLibrary &) = delete;
    DriverLibrary &operator=(const DriverLibrary &) = delete;
    ~DriverLibrary() { Close(); }

    bool Open(const std::string &path);  // false with Error() set
    void *Symbol(const char *name) const;
    void Close();
    bool IsOpen() const { return handle_ != nullptr; }
    const std::string &Error() const { return error_; }

private:
    void *handle_ = nullptr;
    std::string error_;
};

// The file name of the driver library on this platform, and its folder below a package root
// (<root>/tarvolt_rq508/bin/<linux64|win64>).
std::string DriverFileName();
std::string DriverBinaryDirectory(const std::string &packageRoot);

// The folder that holds the running program, and the build tree above it (bin/..).
std::string ExecutableDirectory();
std::string BuildDirectory();

} // namespace sim
