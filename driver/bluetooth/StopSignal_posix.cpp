// Waits on POSIX watch the signal's condition alone; there is no event object to set.
#include "StopSignal.h"

namespace tarvolt::radio {

void StopSignal::CreatePlatformEvent() {}
void StopSignal::DestroyPlatformEvent() {}
void StopSignal::SetPlatformEvent(bool) {}

} // namespace tarvolt::radio
