#pragma once
// The rifle's notifications: each one is at most one button action. The handler sets the
// matching input event flag and logs the bytes; the frame update turns the flag into a press.
#include "Radio.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvolt {

// The input event flag a notification sets, or null for anything not in the rifle's table.
std::atomic<bool> *DecodeNotification(const uint8_t *bytes, size_t length);

inline constexpr char kReceivedDataPrefix[] = "Received data: ";

// "Received data: " then each byte in decimal followed by a blank, then "END".
std::string NotificationLogLine(const uint8_t *bytes, size_t length);

// The characteristic's ValueChanged handler. Returns its result code to the platform.
radio::ResultCode OnNotification(radio::Characteristic &sender, radio::ValueChangedArgs &args);

} // namespace tarvolt
