#include "Notification.h"

#include "../DriverLog.h"
#include "../DriverState.h"
#include "LinkContext.h"
#include "LinkObserver.h"

#include <cstring>
#include <vector>

namespace tarvolt {

namespace {

struct Pattern {
    uint8_t bytes[4];
    std::atomic<bool> *flag;
};

// Fixed patterns, compared whole: byte 2 happens to be the sum of bytes 0 and 1, but other
// messages of that shape are not accepted.
const Pattern kFourByteMessages[] = {
    {{0x5C, 0x00, 0x5C, 0x5D}, &eject_mag},
    {{0x5C, 0x01, 0x5D, 0x5D}, &load_mag},
    {{0x60, 0x01, 0x61, 0x5D}, &load_bullet},
    {{0x60, 0x00, 0x60, 0x5D}, &unload_bullet},
};

} // namespace

std::atomic<bool> *DecodeNotification(const uint8_t *bytes, size_t length)
{
    // The trigger message carries nothing the driver uses between its two framing bytes.
    if (length == 6)
        return bytes[0] == 0x5B && bytes[5] == 0x5D ? &fire : nullptr;
    if (length == 4) {
        for (const Pattern &p : kFourByteMessages)
            if (std::memcmp(bytes, p.bytes, 4) == 0)
                return p.flag;
    }
    return nullptr;
}

std::string NotificationLogLine(const uint8_t *bytes, size_t length)
{
    std::string line = kReceivedDataPrefix;
    line.reserve(line.size() + length * 4 + 3);
    char digits[4];
    for (size_t i = 0; i < length; ++i) {
        unsigned value = bytes[i];
        char *end = digits + sizeof digits;
        char *p = end;
        do {
            *--p = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        line.append(p, end);
        line += ' ';
    }
    line += "END";
    return line;
}

radio::ResultCode OnNotification(radio::Characteristic & /*sender*/, radio::ValueChangedArgs &args)
{
    try {
        const uint32_t length = args.UnconsumedBufferLength();
        std::vector<uint8_t> bytes(length);  // zeroed, then read whole
        // An empty notification has nothing to read, and its array may be null: how the
        // platform's reader treats a null array of length 0 is not documented.
        if (length != 0)
            args.ReadBytes(bytes.data(), length);
        std::atomic<bool> *const flag = DecodeNotification(bytes.data(), bytes.size());
        if (flag != nullptr)
            flag->store(true);  // the frame update clears it with an exchange
        if (LinkObserver *observer = CurrentLinkObserver())
            observer->Notified(bytes.data(), bytes.size(), flag);
        Log(NotificationLogLine(bytes.data(), bytes.size()));
        return radio::kOk;
    } catch (...) {
        return ResultOfCurrentException();
    }
}

} // namespace tarvolt
