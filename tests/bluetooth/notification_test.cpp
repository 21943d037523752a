// The notification handler: which flag each message sets, how every notification is logged,
// and what a failing read does. Radio-independent (runs under Wine too).
#include "DriverState.h"
#include "LinkTestSupport.h"
#include "bluetooth/Notification.h"

#include <atomic>
#include <cstring>
#include <thread>

namespace {

namespace radio = tarvolt::radio;

// A notification's buffer as the platform's reader sees it; either read may fail. A read into
// a null array fails whatever its length: how the platform's reader treats one is not documented.
class Payload final : public radio::ValueChangedArgs {
public:
    explicit Payload(std::vector<uint8_t> bytes, radio::ResultCode lengthError = 0, radio::ResultCode readError = 0)
        : bytes_(std::move(bytes)), lengthError_(lengthError), readError_(readError)
    {
    }
    uint32_t UnconsumedBufferLength() override
    {
        if (lengthError_)
            throw radio::PlatformError(lengthError_);
        return static_cast<uint32_t>(bytes_.size());
    }
    void ReadBytes(uint8_t *destination, uint32_t count) override
    {
        if (readError_)
            throw radio::PlatformError(readError_);
        if (!destination)
            throw radio::PlatformError(static_cast<radio::ResultCode>(0x80004003u));  // E_POINTER
        EXPECT_EQ(count, bytes_.size());
        if (count)
            std::memcpy(destination, bytes_.data(), count);
    }

private:
    std::vector<uint8_t> bytes_;
    radio::ResultCode lengthError_, readError_;
};

class Sender final : public radio::Characteristic {
public:
    radio::Guid Uuid() override { return tarvolt::kTargetCharacteristicUuid; }
    radio::EventToken AddValueChanged(ValueChangedHandler) override { return 1; }
    void RemoveValueChanged(radio::EventToken) override {}
    radio::CommunicationStatus WriteClientCharacteristicConfigurationDescriptor(radio::CccdValue) override
    {
        return radio::CommunicationStatus::Success;
    }
};

std::atomic<bool> *const kFlags[] = {&tarvolt::fire, &tarvolt::eject_mag, &tarvolt::load_mag,
                                     &tarvolt::load_bullet, &tarvolt::unload_bullet};

class NotificationHandler : public ::testing::Test {
protected:
    void SetUp() override
    {
        link_test::InitHost(host);
        for (auto *flag : kFlags)
            flag->exchange(false);
    }
    radio::ResultCode Deliver(std::vector<uint8_t> bytes)
    {
        Payload payload(std::move(bytes));
        return tarvolt::OnNotification(sender, payload);
    }
    sim::SimHost host;
    Sender sender;
};

struct Case {
    std::vector<uint8_t> bytes;
    std::atomic<bool> *flag;  // null: none
    std::string line;
};

// Catches: a wrong or missing table entry, a length rule not applied (prefix or sum matching,
// six-byte messages tested beyond their framing bytes), a flag set crosswise, more than one per
// message or cleared by a repeat, any deviation in the log line (separators, zero, empty
// payload), and an empty notification read into a null array instead of not read at all.
TEST_F(NotificationHandler, SetsTheFlagOfEachTableMessageAndLogsEveryNotification)
{
    const Case cases[] = {
        {{0x5C, 0x00, 0x5C, 0x5D}, &tarvolt::eject_mag, "Received data: 92 0 92 93 END"},
        {{0x5C, 0x01, 0x5D, 0x5D}, &tarvolt::load_mag, "Received data: 92 1 93 93 END"},
        {{0x60, 0x01, 0x61, 0x5D}, &tarvolt::load_bullet, "Received data: 96 1 97 93 END"},
        {{0x60, 0x00, 0x60, 0x5D}, &tarvolt::unload_bullet, "Received data: 96 0 96 93 END"},
        {{0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}, &tarvolt::fire, "Received data: 91 0 0 0 0 93 END"},
        {{0x5B, 0x12, 0x34, 0x56, 0x78, 0x5D}, &tarvolt::fire, "Received data: 91 18 52 86 120 93 END"},
        {{0x5B, 0x00, 0x00, 0x00, 0x00, 0x5C}, nullptr, "Received data: 91 0 0 0 0 92 END"},
        {{0x5B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x5D}, nullptr, "Received data: 91 0 0 0 0 0 93 END"},
        {{0x5C, 0x00, 0x5C, 0x5D, 0x00}, nullptr, "Received data: 92 0 92 93 0 END"},
        {{0x5C, 0x00, 0x5C}, nullptr, "Received data: 92 0 92 END"},
        {{0x5C, 0x02, 0x5E, 0x5D}, nullptr, "Received data: 92 2 94 93 END"},
        {{0x5B, 0x5D}, nullptr, "Received data: 91 93 END"},
        {{}, nullptr, "Received data: END"},
        {{0xFF, 0x00}, nullptr, "Received data: 255 0 END"},
    };
    for (const Case &c : cases) {
        const size_t before = host.Recorder().LogTexts().size();
        EXPECT_EQ(Deliver(c.bytes), radio::kOk);
        for (auto *flag : kFlags)
            EXPECT_EQ(flag->exchange(false), flag == c.flag) << c.line;
        const auto logs = host.Recorder().LogTexts();
        ASSERT_EQ(logs.size(), before + 1) << c.line;
        EXPECT_EQ(logs.back(), c.line);
    }
    // Messages merge while the flag is set: a repeat neither clears it nor counts.
    Deliver({0x5B, 0, 0, 0, 0, 0x5D});
    Deliver({0x5B, 1, 2, 3, 4, 0x5D});
    EXPECT_TRUE(tarvolt::fire.exchange(false));
    EXPECT_FALSE(tarvolt::fire.exchange(false));
}

// Catches: an exception escaping into the platform, a flag or log line from a notification that
// could not be read, and a handler that stays broken after one failure.
TEST_F(NotificationHandler, ReturnsAFailedReadToThePlatformAndHandlesTheNextNormally)
{
    const radio::ResultCode code = static_cast<radio::ResultCode>(0x8000000Bu);
    Payload noLength({0x5B, 0, 0, 0, 0, 0x5D}, code);
    EXPECT_EQ(tarvolt::OnNotification(sender, noLength), code);
    Payload noBytes({0x5B, 0, 0, 0, 0, 0x5D}, 0, radio::kFail);
    EXPECT_EQ(tarvolt::OnNotification(sender, noBytes), radio::kFail);
    EXPECT_FALSE(tarvolt::fire.load());
    EXPECT_EQ(host.Recorder().CountLogPrefix("Received data: "), 0u);

    EXPECT_EQ(Deliver({0x5C, 0x00, 0x5C, 0x5D}), radio::kOk);
    EXPECT_TRUE(tarvolt::eject_mag.load());
    EXPECT_EQ(host.Recorder().CountLog("Received data: 92 0 92 93 END"), 1u);
}

// Catches: a data race between handlers on several platform threads and the frame thread that
// consumes the flags (under ThreadSanitizer), and lost or garbled log lines under contention.
TEST_F(NotificationHandler, RunsOnSeveralThreadsWhileTheFlagsAreConsumed)
{
    constexpr int kThreads = 4, kEach = 200;
    std::atomic<bool> done{false};
    std::atomic<int> consumed{0};
    std::thread consumer([&] {
        while (!done.load())
            consumed += tarvolt::fire.exchange(false) ? 1 : 0;
    });
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
        senders.emplace_back([this] {
            for (int i = 0; i < kEach; ++i)
                Deliver({0x5B, 0, 0, 0, 0, 0x5D});
        });
    for (auto &s : senders)
        s.join();
    done = true;
    consumer.join();
    consumed += tarvolt::fire.exchange(false) ? 1 : 0;
    EXPECT_GE(consumed.load(), 1);
    EXPECT_LE(consumed.load(), kThreads * kEach);
    EXPECT_EQ(host.Recorder().CountLog("Received data: 91 0 0 0 0 93 END"), static_cast<size_t>(kThreads * kEach));
}

} // namespace
