#pragma once
// Text for the link's log lines: device names arrive as UTF-16 and UUIDs as GUIDs, while the
// driver log takes UTF-8.
#include "Radio.h"

#include <string>

namespace tarvolt {

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD rather than invalid UTF-8 in the log.
std::string Utf16ToUtf8(const std::u16string &text);

// The registry form of a UUID as the platform renders it ({XXXXXXXX-XXXX-...}, upper case),
// in UTF-8; empty when the platform cannot render it.
std::string GuidToText(const radio::Guid &guid);

} // namespace tarvolt
