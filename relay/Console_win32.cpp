#include "Console.h"

#include <windows.h>

#include <cstdio>

namespace tarvolt {

// Started without a console window (CREATE_NO_WINDOW), a console program still gets a console,
// but a hidden one: a read from it would wait for a key that no one can press.
void WaitForOneInputCharacter()
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE)
        return;
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode) && GetConsoleWindow() == nullptr)
        return;
    (void)std::getchar();
}

} // namespace tarvolt
