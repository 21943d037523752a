#pragma once
// Discovery: one advertisement watcher, owned by the worker, and its two handlers. The rifle is
// recognised by its advertised local name; its address goes into the link context.
#include "LinkContext.h"

#include <string>

namespace tarvolt {

// Matched code unit for code unit: no case folding, trimming or prefix match.
inline const std::u16string kTargetName = u"Rifle Q508";

// Creates a watcher (active scanning, no filters) with both handlers attached, in place of the
// context's earlier one (RetireWatcher), and stores it in the context; does not start it.
// Throws radio::PlatformError; the context then has no watcher.
void CreateAdvertisementWatcher(LinkContext &context);

// Stops the context's watcher, if any, and lets it go with its handlers.
void RetireWatcher(LinkContext &context);

// The start step of the worker's pass at StartScanning, on a new watcher. False when the
// watcher's status after Start is other than Started; throws radio::PlatformError when the
// watcher cannot be made or started.
bool StartAdvertisementWatcher(LinkContext &context);

// The watcher's Received handler. Returns its result code to the platform.
radio::ResultCode OnAdvertisementReceived(LinkContext &context, radio::Watcher &sender,
                                          radio::AdvertisementReceivedArgs &args);

// The watcher's Stopped handler. A scan that the platform ended by itself (the adapter switched
// off or reset, Bluetooth turned off and on) while the link was still looking for the rifle is
// started again at the next pass; a stop the link asked for changes nothing.
radio::ResultCode OnWatcherStopped(LinkContext &context, radio::Watcher &sender);

} // namespace tarvolt
