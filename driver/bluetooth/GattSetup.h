#pragma once
// The GATT part of a connection: the rifle's service, its notifying characteristic, and the
// subscription to it, on the device the link holds. A step that answers Unreachable or
// ProtocolError (the first query often does, before the link is up) is retried in place about
// once a second for up to about ten seconds, unless the link went down meanwhile; a service or
// characteristic missing from the system's cached answer is asked of the device once, uncached.
#include "LinkContext.h"

namespace tarvolt {

inline constexpr int kRetryIntervalMs = 1000;
inline constexpr int kRetryLimitMs = 10000;
inline constexpr int kRetryCheckMs = 100;  // how often a pause looks for a reported disconnection

enum class GattOutcome { ServicesFailed, NotFound, Subscribed };

// Logs each service and characteristic step as the connect step always has; the caller reports
// the outcome. Every wait ends when the worker's stop signal is raised.
GattOutcome SetUpGatt(LinkContext &context);

} // namespace tarvolt
