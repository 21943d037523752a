#pragma once
// Finding the rifle without an advertisement, and watching the scan that waits for one.
//
// A connected peripheral does not advertise: a rifle left connected by an earlier session, held
// by another program, or kept by the system a while after the link let it go is found among
// the devices the system has connected, when a scan starts and every few seconds while it runs,
// and by the address the link connected to before. It is recognised by its advertised name as
// the system reports it, or by that address (its own name may have replaced the advertised one).
// A device kept after a drop is taken again as soon as the system has restored its link.
//
// A watcher can hear nothing for good (started but deaf, or ended without a Stopped event): a
// scan whose watcher reads other than Started, or that hears nothing at all for
// kSilentScanMs, starts again with a new watcher.
#include "LinkContext.h"

namespace tarvolt {

inline constexpr int kConnectedCheckMs = 2000;
inline constexpr int kRestoreWaitMs = 10000;
inline constexpr int kSilentScanMs = 30000;

// Before a scan starts. True when it stored TargetFound (the scan is not needed).
bool FindWithoutAdvertisement(LinkContext &context);

// A pass at Scanning. May store TargetFound (stopping the scan) or StartScanning.
void WatchScan(LinkContext &context);

// After a drop: keeps the device for up to kRestoreWaitMs while the link searches.
void AwaitRestore(LinkContext &context);

} // namespace tarvolt
