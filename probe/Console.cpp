#include "Console.h"

#include <cstdio>

namespace tarvolt::probe {

bool WriteLine(bool toError, const std::string &line)
{
    std::FILE *stream = toError ? stderr : stdout;
    const bool written = std::fwrite(line.data(), 1, line.size(), stream) == line.size() && std::fputc('\n', stream) != EOF;
    return std::fflush(stream) == 0 && written;
}

} // namespace tarvolt::probe
