#pragma once
// Keeps the driver library loaded for the rest of the process, whatever the runtime does: for
// when the platform still holds callbacks of ours at Cleanup, which it may call or release after
// the runtime has unloaded the library (that would run unmapped code).

namespace tarvolt {

// True when the library is now pinned.
bool PinDriverLibrary();

} // namespace tarvolt
