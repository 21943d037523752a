#pragma once
// Lets a program other than the driver that runs the Bluetooth link (tarvolt-probe) watch what the
// link does: every line it logs, every notification with the input event flag it set, and each
// link state the worker finds. The driver installs none: its lines go to SteamVR's driver log
// and its flags to the frame update, exactly as without an observer.
#include "LinkContext.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tarvolt {

class LinkObserver {
public:
    // A line as the driver logs it, from whichever thread logs it (the worker, a platform thread).
    virtual void Line(const char *text) = 0;
    // A notification, after the flag it stands for was set (null: not one of the rifle's
    // messages), on the platform thread that raised it.
    virtual void Notified(const uint8_t *bytes, size_t length, const std::atomic<bool> *flag) = 0;
    // The link state the worker finds before or after a pass, when it differs from the one it
    // found last, with the target address it holds then (0: none); on the worker's thread.
    virtual void StateSeen(LinkState state, uint64_t targetAddress) = 0;

protected:
    ~LinkObserver() = default;
};

// Set before the worker starts; the observer must outlive every call, late ones of platform
// threads included (keep it for the life of the program). Null observes nothing.
void SetLinkObserver(LinkObserver *observer);
LinkObserver *CurrentLinkObserver();

} // namespace tarvolt
