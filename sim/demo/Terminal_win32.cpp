#include "Terminal.h"

#include <windows.h>
#include <conio.h>
#include <io.h>

namespace demo {

namespace {
bool StdinIsConsole()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}
} // namespace

bool IsTerminal(std::FILE *stream)
{
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}

bool EnableEscapeSequences(std::FILE *stream)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (!GetConsoleMode(handle, &mode))
        return false;
    return SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

// The console hands keys to _getch one by one already.
RawKeys::RawKeys() {}
RawKeys::~RawKeys() {}

int ReadKey()
{
    if (StdinIsConsole())
        return _getch();
    unsigned char key = 0;
    DWORD read = 0;
    if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), &key, 1, &read, nullptr) || read != 1)
        return -1;
    return key;
}

} // namespace demo
