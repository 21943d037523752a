#include "LinkSearch.h"

#include "../DriverLog.h"
#include "Discovery.h"
#include "LinkTeardown.h"
#include "LinkText.h"

#include <chrono>
#include <string>

namespace tarvolt {

namespace {

using Ms = std::chrono::milliseconds;

Clock::TimePoint Now() { return PlatformClock().Now(); }

bool ReadsConnected(radio::Device &device)
{
    try {
        return device.GetConnectionStatus() == radio::ConnectionStatus::Connected;
    } catch (const radio::PlatformError &) {
        return false;
    }
}

// Hands the rifle to the connect step, stopping the scan if one runs (its Stopped event is then
// one the link asked for).
void Take(LinkContext &context, uint64_t address)
{
    context.targetAddress.store(address);
    if (context.linkState.load() == Scanning && context.watcher) {
        context.stopsRequested.fetch_add(1);
        try {
            context.watcher->Stop();
        } catch (const radio::PlatformError &) {
            context.stopsRequested.fetch_sub(1);
        }
    }
    context.linkState.store(TargetFound);
}

// A device kept after a drop: taken again once the system has restored its link, let go once
// the wait is over. True when taken.
bool Restored(LinkContext &context)
{
    if (!context.restoring || !context.device)
        return false;
    if (ReadsConnected(*context.device)) {
        try {
            const uint64_t address = context.device->BluetoothAddress();
            Log("The system restored the connection.");
            Take(context, address);
            return true;
        } catch (const radio::PlatformError &) {
        }
    }
    if (Now() >= context.restoreUntil) {
        Log("The system did not restore the connection.");
        ReleaseConnection(context);
    }
    return false;
}

bool FindConnected(LinkContext &context, bool tryKnownAddress)
{
    std::vector<std::shared_ptr<radio::Device>> devices;
    try {
        devices = radio::PlatformRadio().ConnectedDevices();
    } catch (const radio::PlatformError &) {
        context.connectedLists.Log("Failed to list the connected devices.");
    }
    // The platform may not list a device connected by another program; its address still finds it.
    if (tryKnownAddress && context.knownAddress != 0) {
        try {
            std::shared_ptr<radio::Device> known = radio::PlatformRadio().FromBluetoothAddress(context.knownAddress);
            if (known && ReadsConnected(*known))
                devices.push_back(std::move(known));
        } catch (const radio::PlatformError &) {
        }
    }
    for (std::shared_ptr<radio::Device> &device : devices) {
        try {
            if (!device)
                continue;
            const std::u16string name = device->Name();
            const uint64_t address = device->BluetoothAddress();
            if (name != kTargetName && (context.knownAddress == 0 || address != context.knownAddress))
                continue;
            Log("Found connected device: " + Utf16ToUtf8(name) + " (Address: " + std::to_string(address) + ")");
            Log("Target device found.");
            context.foundDevice = std::move(device);
            Take(context, address);
            return true;
        } catch (const radio::PlatformError &) {
        }
    }
    return false;
}

} // namespace

bool FindWithoutAdvertisement(LinkContext &context)
{
    if (Restored(context))
        return true;
    context.nextConnectedCheck = Now() + Ms(kConnectedCheckMs);
    return FindConnected(context, true);
}

void WatchScan(LinkContext &context)
{
    if (Restored(context))
        return;
    const Clock::TimePoint now = Now();
    int32_t scanning = Scanning;
    if (now >= context.nextConnectedCheck) {
        context.nextConnectedCheck = now + Ms(kConnectedCheckMs);
        if (FindConnected(context, false))
            return;
        radio::WatcherStatus status = radio::WatcherStatus::Started;
        try {
            if (context.watcher)
                status = context.watcher->Status();
        } catch (const radio::PlatformError &) {
        }
        // A stop the link asked for (the rifle was just found) is not the watcher's failure.
        if (status != radio::WatcherStatus::Started && context.stopsRequested.load() == 0) {
            if (context.linkState.compare_exchange_strong(scanning, StartScanning))
                Log("The advertisement watcher ended without notice.");
            return;
        }
    }
    Clock::TimePoint last = context.scanStartedAt;
    if (const int64_t heard = context.lastHeard.load(); heard != 0)
        last = std::max(last, Clock::TimePoint(Clock::Duration(heard)));
    if (now - last >= Ms(kSilentScanMs) && context.linkState.compare_exchange_strong(scanning, StartScanning))
        context.silentScans.Log("No advertisement heard for 30 seconds; starting a new advertisement watcher.");
}

void AwaitRestore(LinkContext &context)
{
    const bool keep = context.device && context.maintained;
    ReleaseConnection(context, keep);
    if (keep)
        context.restoreUntil = Now() + Ms(kRestoreWaitMs);
}

} // namespace tarvolt
