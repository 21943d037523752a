#include "ServerProcess.h"

namespace tarvolt {

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

} // namespace

bool IsServerProcessName(const char *name)
{
    if (name == nullptr)
        return false;
    const char *expected = kServerProcessName;
    for (; *name != '\0' && *expected != '\0'; ++name, ++expected)
        if (AsciiLower(*name) != AsciiLower(*expected))
            return false;
    return *name == '\0' && *expected == '\0';
}

} // namespace tarvolt
