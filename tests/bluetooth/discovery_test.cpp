// Discovery: which advertisements are logged, which one becomes the target, and what reaches
// the link context. Radio-independent except for the watcher's creation (simulated radio).
#include "LinkTestSupport.h"
#include "bluetooth/BluetoothWorker.h"
#include "bluetooth/Discovery.h"

namespace {

namespace radio = tarvolt::radio;
using link_test::kRifleAddress;
using link_test::kRifleAddressText;

class Advert final : public radio::AdvertisementReceivedArgs {
public:
    Advert(std::u16string name, uint64_t address) : name_(std::move(name)), address_(address) {}
    std::u16string LocalName() override { return name_; }
    uint64_t BluetoothAddress() override { return address_; }

private:
    std::u16string name_;
    uint64_t address_;
};

// A watcher that only counts Stop calls, or fails them.
class CountingWatcher final : public radio::Watcher {
public:
    void SetScanningMode(radio::ScanningMode) override {}
    radio::EventToken AddReceived(ReceivedHandler) override { return 1; }
    radio::EventToken AddStopped(StoppedHandler) override { return 2; }
    void RemoveReceived(radio::EventToken) override {}
    void RemoveStopped(radio::EventToken) override {}
    void Start() override
    {
        if (endAtStart != nullptr)
            tarvolt::OnWatcherStopped(*endAtStart, *this);
    }
    void Stop() override
    {
        ++stops;
        if (stopError)
            throw radio::PlatformError(stopError);
    }
    radio::WatcherStatus Status() override { return radio::WatcherStatus::Started; }
    int stops = 0;
    radio::ResultCode stopError = 0;
    tarvolt::LinkContext *endAtStart = nullptr;  // the platform ends the scan as it starts
};

class Discovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        link_test::InitHost(host);
        context.watcher = watcher;
        context.linkState = tarvolt::Scanning;
    }
    radio::ResultCode See(const std::u16string &name, uint64_t address)
    {
        Advert advert(name, address);
        return tarvolt::OnAdvertisementReceived(context, *watcher, advert);
    }
    std::vector<std::string> Logs() { return link_test::WorkerLines(host.Recorder(), 1); }

    sim::SimHost host;
    std::shared_ptr<CountingWatcher> watcher = std::make_shared<CountingWatcher>();
    tarvolt::LinkContext context;
};

// Catches: logging nameless advertisements, matching by case, prefix or trimmed name, printing
// the address in hexadecimal or with separators, and names not converted to UTF-8.
TEST_F(Discovery, LogsEveryNamedDeviceButTakesOnlyTheExactName)
{
    See(u"", kRifleAddress);
    EXPECT_TRUE(Logs().empty());
    for (const std::u16string name : {u"rifle q508", u"RIFLE Q508", u"Rifle Q508 ", u" Rifle Q508", u"Rifle Q50",
                                      u"Rifle Q5080"})
        See(name, kRifleAddress);
    See(u"Caf\u00E9 \U0001F3AF", 1);
    See(u"bad \xD800 half", 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(Logs(), (std::vector<std::string>{
                          "Found device: rifle q508 (Address: 187723572702975)",
                          "Found device: RIFLE Q508 (Address: 187723572702975)",
                          "Found device: Rifle Q508  (Address: 187723572702975)",
                          "Found device:  Rifle Q508 (Address: 187723572702975)",
                          "Found device: Rifle Q50 (Address: 187723572702975)",
                          "Found device: Rifle Q5080 (Address: 187723572702975)",
                          "Found device: Caf\xC3\xA9 \xF0\x9F\x8E\xAF (Address: 1)",
                          "Found device: bad \xEF\xBF\xBD half (Address: 18446744073709551615)",
                      }));
    EXPECT_EQ(context.targetAddress.load(), 0u);
    EXPECT_EQ(context.linkState.load(), tarvolt::Scanning);
    EXPECT_EQ(watcher->stops, 0);
}

// Catches: every advertisement of every device nearby logged (tens of lines a second in a busy
// room while the rifle is off), a device's line held back although its name or address differs,
// a repeat after the minute without its count, a new scan that does not list the devices it
// sees, and the rifle's line held back with the others.
TEST_F(Discovery, EachDeviceIsLoggedOnceAScanThenOnceAMinuteWithItsCount)
{
    tarvolt::RepeatLimiter::TimePoint now{};
    context.foundDevices.SetClock([&] { return now; });
    const std::string phone = "Found device: Phone (Address: 7)";
    for (int i = 0; i < 240; ++i, now += std::chrono::milliseconds(250)) {
        See(u"Phone", 7);
        See(u"Watch", 8);
    }
    See(u"Phone", 7);
    See(u"Phone", 9);
    See(u"Phone 2", 7);
    EXPECT_EQ(Logs(), (std::vector<std::string>{phone, "Found device: Watch (Address: 8)",
                                                phone + " (repeated 240 times)", "Found device: Phone (Address: 9)",
                                                "Found device: Phone 2 (Address: 7)"}));

    const size_t scan = host.Recorder().LogTexts().size();
    tarvolt::StartAdvertisementWatcher(context);
    See(u"Watch", 8);
    See(u"Rifle Q508", kRifleAddress);
    EXPECT_EQ(link_test::WorkerLines(host.Recorder(), scan),
              (std::vector<std::string>{"Starting the advertisement watcher.", "Found device: Watch (Address: 8)",
                                        "Found device: Rifle Q508 (Address: " + kRifleAddressText + ")",
                                        "Target device found."}));
}

// Catches: the target taken without stopping the scan; the link's own stop taken for the platform
// ending the scan; a failed stop counted, storing TargetFound or throwing into the platform; a
// scan the platform ended while the link still looked (adapter off and on) left for good; and a
// later matching advertisement, also after the link moved on, not replacing the address.
TEST_F(Discovery, TheRifleIsTheTargetAndOnlyAScanThePlatformEndedWhileLookingIsStartedAgain)
{
    EXPECT_EQ(See(u"Rifle Q508", kRifleAddress), radio::kOk);
    EXPECT_EQ(context.targetAddress.load(), kRifleAddress);
    EXPECT_EQ(context.linkState.load(), tarvolt::TargetFound);
    EXPECT_EQ(watcher->stops, 1);
    EXPECT_EQ(tarvolt::OnWatcherStopped(context, *watcher), radio::kOk);
    EXPECT_EQ(host.Recorder().LogTexts().back(), "Watcher stopped.");
    EXPECT_EQ(context.linkState.load(), tarvolt::TargetFound);

    // The link's own stop, its event arriving before the state says the rifle was found.
    context.linkState = tarvolt::Scanning;
    context.stopsRequested = 1;
    EXPECT_EQ(tarvolt::OnWatcherStopped(context, *watcher), radio::kOk);
    EXPECT_EQ(context.linkState.load(), tarvolt::Scanning);

    // A stop that fails: the error goes back to the platform, the address is kept, the state is not.
    watcher->stopError = radio::kFail;
    context.targetAddress = 0;
    EXPECT_EQ(See(u"Rifle Q508", kRifleAddress), radio::kFail);
    EXPECT_EQ(context.targetAddress.load(), kRifleAddress);
    EXPECT_EQ(context.linkState.load(), tarvolt::Scanning);
    EXPECT_EQ(context.stopsRequested.load(), 0);
    EXPECT_EQ(tarvolt::OnWatcherStopped(context, *watcher), radio::kOk);
    EXPECT_EQ(context.linkState.load(), tarvolt::StartScanning);

    for (int32_t state : {tarvolt::TargetFound, tarvolt::Connected, tarvolt::ConnectionLost}) {
        context.linkState = state;
        EXPECT_EQ(tarvolt::OnWatcherStopped(context, *watcher), radio::kOk);
        EXPECT_EQ(context.linkState.load(), state);
    }

    watcher->stopError = 0;
    const int stops = watcher->stops;
    context.linkState = tarvolt::Connected;
    See(u"Rifle Q508", 0x112233445566ull);
    EXPECT_EQ(context.targetAddress.load(), 0x112233445566ull);
    EXPECT_EQ(context.linkState.load(), tarvolt::TargetFound);
    EXPECT_EQ(watcher->stops, stops + 1);
}

// Catches: a scan that the platform ended while it was being started (its Stopped event found
// the link not yet at Scanning) taken for a running one.
TEST_F(Discovery, AScanThePlatformEndsAsItStartsIsStartedAgain)
{
    context.linkState = tarvolt::StartScanning;
    watcher->endAtStart = &context;
    context.watcherFresh = true;  // this scan's watcher
    tarvolt::StartAdvertisementWatcher(context);
    EXPECT_EQ(context.linkState.load(), tarvolt::StartScanning);

    watcher->endAtStart = nullptr;
    context.watcherFresh = true;
    tarvolt::StartAdvertisementWatcher(context);
    EXPECT_EQ(context.linkState.load(), tarvolt::Scanning);
}

} // namespace
