#include "Terminal.h"

#include <windows.h>
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

// The console's key events come one by one already.
RawKeys::RawKeys() {}
RawKeys::~RawKeys() {}

int ReadKey()
{
    if (StdinIsConsole()) {
        // Key events straight from the console, not through the C runtime's _getch: that holds
        // a runtime lock while it waits, and unloading the driver at the end of the session
        // waits for the same lock, so the session never ended while a key was awaited.
        const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        for (;;) {
            INPUT_RECORD record;
            DWORD read = 0;
            if (!ReadConsoleInputA(input, &record, 1, &read) || read != 1)
                return -1;
            const KEY_EVENT_RECORD &key = record.Event.KeyEvent;
            if (record.EventType == KEY_EVENT && key.bKeyDown && key.uChar.AsciiChar != 0)
                return static_cast<unsigned char>(key.uChar.AsciiChar);
        }
    }
    unsigned char key = 0;
    DWORD read = 0;
    if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), &key, 1, &read, nullptr) || read != 1)
        return -1;
    return key;
}

} // namespace demo
