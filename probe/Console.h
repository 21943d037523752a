#pragma once
// The probe's console: lines to standard output or error in UTF-8, flushed one by one.
#include <string>

namespace tarvolt::probe {

// Holds the console for the probe's run: on Windows the console shows UTF-8 (device names in
// any script) until the probe ends; on POSIX a closed reader makes a write fail instead of
// ending the probe before it has released the rifle.
class ConsoleSession {
public:
    ConsoleSession();
    ~ConsoleSession();
    ConsoleSession(const ConsoleSession &) = delete;
    ConsoleSession &operator=(const ConsoleSession &) = delete;

private:
    unsigned previousCodePage_ = 0;
};

// False when the line could not be written (nobody reads the output any more).
bool WriteLine(bool toError, const std::string &line);

} // namespace tarvolt::probe
