#include "LibraryPin.h"

#include <windows.h>

namespace tarvolt {

bool PinDriverLibrary()
{
    HMODULE module = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                              reinterpret_cast<LPCWSTR>(&PinDriverLibrary), &module) != FALSE;
}

} // namespace tarvolt
