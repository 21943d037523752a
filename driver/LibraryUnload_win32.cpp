// What the library hands back when the runtime unloads it (Windows).
//
// The C++ runtime is linked into the library (-static-libstdc++), and with it the runtime's
// emergency pool for exceptions thrown while memory is short: about 75 kB, allocated from the
// process's C runtime heap when the library loads and never freed by the runtime itself. A server
// that loads and unloads the driver again and again in one process would lose that much at every
// load. At FreeLibrary nothing of the library runs any more (its worker is joined at Cleanup, or
// the library was pinned and is never unloaded), so the pool can go. At the process's end
// (`reserved` not null) other threads may have been stopped anywhere, and the pool stays.
#include <windows.h>

namespace __gnu_cxx {
void __freeres();  // the C++ runtime's own release of what it keeps for the process's life
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
        __gnu_cxx::__freeres();
    return TRUE;
}
