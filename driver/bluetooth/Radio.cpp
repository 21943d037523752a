#include "Radio.h"

#include <cstdio>
#include <cstring>

namespace tarvolt::radio {

namespace {

std::string Describe(ResultCode code)
{
    char text[48];
    std::snprintf(text, sizeof text, "platform error 0x%08X", static_cast<unsigned>(code));
    return text;
}

} // namespace

PlatformError::PlatformError(ResultCode code) : std::runtime_error(Describe(code)), code_(code) {}

bool operator==(const Guid &a, const Guid &b)
{
    // Field by field: the struct may carry padding that memcmp would compare.
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}

} // namespace tarvolt::radio
