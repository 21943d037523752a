// The one extra entry point of the driver library built with the simulated radio: through it the
// simulated host, the demo and the integration tests script the radio inside the loaded library.
#include "RadioControl.h"

#if defined(_WIN32)
#define TARVOLT_SIM_EXPORT extern "C" __declspec(dllexport)
#else
#define TARVOLT_SIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

TARVOLT_SIM_EXPORT sim::RadioControl *TarvoltSimRadio() { return &sim::SimRadioControl(); }

