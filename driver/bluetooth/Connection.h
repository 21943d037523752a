#pragma once
// The worker's connect step: from the address discovery found to a subscription on the rifle's
// notifying characteristic, and the handler that reports the connection's status.
#include "LinkContext.h"

namespace tarvolt {

// 0xFFF0 and 0xFFF1 on the Bluetooth base UUID, compared as whole 128-bit values.
inline constexpr radio::Guid kTargetServiceUuid = {0x0000FFF0, 0x0000, 0x1000,
                                                   {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
inline constexpr radio::Guid kTargetCharacteristicUuid = {0x0000FFF1, 0x0000, 0x1000,
                                                          {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};

// Run at link state TargetFound; ends at Connected or, through ResetLink, at StartScanning.
void ConnectStep(LinkContext &context);

// While connected, every kStatusPollMs: a device that reads disconnected is lost, whether or
// not its event came.
inline constexpr int kStatusPollMs = 2000;
void PollConnectionStatus(LinkContext &context);

// The device's ConnectionStatusChanged handler. Returns its result code to the platform.
radio::ResultCode OnConnectionStatusChanged(LinkContext &context, radio::Device &sender);

} // namespace tarvolt
