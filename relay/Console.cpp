#include "Console.h"

#include <cstdio>

namespace tarvolt {

void PrintLine(const char *text)
{
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace tarvolt
