#pragma once
// BlueZ's textual forms: Bluetooth addresses ("AA:BB:CC:DD:EE:FF", the first octet the most
// significant, as the 48-bit value the platform's address carries in its low bits), device object
// paths (".../dev_AA_BB_CC_DD_EE_FF") and UUIDs in their lower-case 128-bit form.
#include "../Radio.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tarvolt::bluez {

std::optional<uint64_t> ParseAddress(const std::string &text);
std::string DevicePath(const std::string &adapterPath, uint64_t address);
std::optional<radio::Guid> ParseUuid(const std::string &text);
// UTF-8 as BlueZ gives names, to UTF-16 as the radio interface carries them; a malformed
// sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string &text);
// The registry form: 38 characters, braces, upper-case hexadecimal.
std::string RegistryText(const radio::Guid &guid);

} // namespace tarvolt::bluez
