// libFuzzer target for the notification handler: any payload of any length must be decoded to at
// most the one flag its table entry names and logged byte for byte, without touching memory
// outside the payload. Built with clang's -fsanitize=fuzzer,address (make fuzz).
#include "DriverState.h"
#include "bluetooth/Notification.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace tarvolt {

// The driver log, captured instead of sent to a runtime.
static std::string lastLine;
static int lines = 0;
void Log(const char *message)
{
    lastLine = message;
    ++lines;
}

} // namespace tarvolt

namespace {

namespace radio = tarvolt::radio;

class Payload final : public radio::ValueChangedArgs {
public:
    Payload(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    uint32_t UnconsumedBufferLength() override { return static_cast<uint32_t>(size_); }
    void ReadBytes(uint8_t *destination, uint32_t count) override
    {
        // Read whole and never into a null array (an empty notification is not read at all).
        if (count != size_ || destination == nullptr)
            std::abort();
        if (count)
            std::memcpy(destination, data_, count);
    }

private:
    const uint8_t *data_;
    size_t size_;
};

class Sender final : public radio::Characteristic {
public:
    radio::Guid Uuid() override { return {}; }
    radio::EventToken AddValueChanged(ValueChangedHandler) override { return 0; }
    void RemoveValueChanged(radio::EventToken) override {}
    radio::CommunicationStatus WriteClientCharacteristicConfigurationDescriptor(radio::CccdValue) override
    {
        return radio::CommunicationStatus::Success;
    }
};

// The rifle's table, written out independently of the decoder.
std::atomic<bool> *Expected(const uint8_t *d, size_t n)
{
    if (n == 6 && d[0] == 0x5B && d[5] == 0x5D)
        return &tarvolt::fire;
    if (n != 4 || d[3] != 0x5D)
        return nullptr;
    if (d[0] == 0x5C && d[1] == 0x00 && d[2] == 0x5C)
        return &tarvolt::eject_mag;
    if (d[0] == 0x5C && d[1] == 0x01 && d[2] == 0x5D)
        return &tarvolt::load_mag;
    if (d[0] == 0x60 && d[1] == 0x01 && d[2] == 0x61)
        return &tarvolt::load_bullet;
    if (d[0] == 0x60 && d[1] == 0x00 && d[2] == 0x60)
        return &tarvolt::unload_bullet;
    return nullptr;
}

std::string ExpectedLine(const uint8_t *d, size_t n)
{
    std::string line = "Received data: ";
    for (size_t i = 0; i < n; ++i)
        line += std::to_string(d[i]) + " ";
    return line + "END";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A copy of exactly `size` bytes, so that AddressSanitizer sees any read past the payload.
    std::vector<uint8_t> copy(data, data + size);
    const uint8_t *bytes = copy.empty() ? nullptr : copy.data();
    Payload payload(bytes, size);
    Sender sender;
    const int before = tarvolt::lines;
    if (tarvolt::OnNotification(sender, payload) != radio::kOk)
        std::abort();
    if (tarvolt::lines != before + 1 || tarvolt::lastLine != ExpectedLine(bytes, size))
        std::abort();
    std::atomic<bool> *const flags[] = {&tarvolt::fire, &tarvolt::eject_mag, &tarvolt::load_mag,
                                        &tarvolt::load_bullet, &tarvolt::unload_bullet};
    std::atomic<bool> *const expected = Expected(bytes, size);
    for (std::atomic<bool> *flag : flags)
        if (flag->exchange(false) != (flag == expected))
            std::abort();
    return 0;
}
