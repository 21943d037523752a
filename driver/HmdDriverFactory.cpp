// The library's only export: the runtime asks it for the device provider.
#include "DeviceProvider.h"

#if defined(_WIN32)
#define TARVOLT_EXPORT extern "C" __declspec(dllexport)
#else
#define TARVOLT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

TARVOLT_EXPORT void *HmdDriverFactory(const char *pInterfaceName, int *pReturnCode)
{
    return tarvolt::ProviderFactory(pInterfaceName, pReturnCode);
}
