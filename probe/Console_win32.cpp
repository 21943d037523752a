#include "Console.h"

#include <windows.h>

namespace tarvolt::probe {

// The console's code page belongs to the console, shared with the shell that started the probe:
// it is given back at the end.
ConsoleSession::ConsoleSession() : previousCodePage_(GetConsoleOutputCP())
{
    if (previousCodePage_ != 0)
        SetConsoleOutputCP(CP_UTF8);
}

ConsoleSession::~ConsoleSession()
{
    if (previousCodePage_ != 0)
        SetConsoleOutputCP(previousCodePage_);
}

} // namespace tarvolt::probe
