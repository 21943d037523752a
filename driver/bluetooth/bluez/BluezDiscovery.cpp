// The BlueZ radio's watcher: the first powered adapter's discovery (Adapter1), and the
// "received" events that bluetoothd's device objects and their changes stand for.
#include "BluezObjects.h"

namespace tarvolt::bluez {

namespace {

bool NamesOverlap(const std::set<std::string> &names, std::initializer_list<const char *> wanted)
{
    for (const char *name : wanted)
        if (names.count(name) != 0)
            return true;
    return false;
}

} // namespace

void BluezWatcher::SetScanningMode(radio::ScanningMode)
{
    // BlueZ's LE discovery always scans actively; there is nothing to set.
}

void BluezWatcher::Start()
{
    const std::shared_ptr<BusConnection> connection = core_->Ready(false);
    if (!connection)
        throw radio::PlatformError(kNoBus);
    std::string reason;
    const std::string adapter = core_->FirstPoweredAdapter(reason);
    if (adapter.empty()) {
        core_->Report(reason);
        // Read bluetoothd's objects afresh at the next start rather than trust a mirror that shows
        // no usable adapter.
        core_->MarkStale();
        throw radio::PlatformError(kNoAdapter);
    }
    const auto timeout = core_->Options().callTimeout;
    // Low-energy devices only, and every advertisement reported: without a filter bluetoothd
    // pauses between scans, and a device it knows already is announced again only when its RSSI
    // moved by 8 dBm; after 5.87 that holds under any filter without RSSI or Pathloss. An RSSI
    // floor of -127 dBm keeps every device (src/adapter.c: discovery_filter_has_proximity).
    const Value filter = Value::StringVariantDict({{"Transport", Value::String("le")},
                                                   {"DuplicateData", Value::Bool(true)},
                                                   {"RSSI", Value::Int16(-127)}});
    Reply reply = connection->Call(BluezCall(adapter, kAdapterInterface, "SetDiscoveryFilter", {filter}), timeout);
    if (!reply.ok) {
        core_->Report(core_->CallFailure("SetDiscoveryFilter on " + adapter, reply));
        throw radio::PlatformError(kCallFailed);
    }
    const std::shared_ptr<BluezWatcher> self = shared_from_this();
    reply = connection->Call(BluezCall(adapter, kAdapterInterface, "StartDiscovery"), timeout, [&](Reply &answer) {
        // This connection's discovery already runs: it is ours, and it goes on.
        if (!answer.ok && answer.errorName != "org.bluez.Error.InProgress")
            return;
        BluezCore::Tasks tasks;
        {
            std::lock_guard<std::mutex> lock(core_->MirrorMutex());
            started_ = true;
            status_ = radio::WatcherStatus::Started;
            adapter_ = adapter;
            // In order with the signals: what the tree shows now, then what comes after.
            core_->AnnouncePresentLocked(self, tasks);
        }
        for (auto &task : tasks)
            connection->Post(std::move(task));
    });
    if (!reply.ok && reply.errorName != "org.bluez.Error.InProgress") {
        core_->Report(core_->CallFailure("StartDiscovery on " + adapter, reply));
        throw radio::PlatformError(kCallFailed);
    }
    core_->Clear();
}

void BluezWatcher::Stop()
{
    std::string adapter;
    {
        std::lock_guard<std::mutex> lock(core_->MirrorMutex());
        if (!started_)
            return;
        started_ = false;
        status_ = radio::WatcherStatus::Stopped;
        adapter = adapter_;
    }
    const std::shared_ptr<BusConnection> connection = core_->Current();
    // Not awaited: Stop is called from inside the received handler, and a lost bus has ended
    // our discovery anyway.
    if (connection)
        connection->Send(BluezCall(adapter, kAdapterInterface, "StopDiscovery"));
    std::shared_ptr<BluezWatcher> self = shared_from_this();
    if (connection)
        connection->Post([self] { self->RaiseStopped(); });
    else
        RaiseStopped();
}

bool BluezWatcher::ScanningLocked(const std::string &devicePath) const
{
    return started_ && devicePath.size() > adapter_.size() && devicePath.compare(0, adapter_.size(), adapter_) == 0 &&
           devicePath[adapter_.size()] == '/';
}

bool BluezWatcher::ScanningAdapterLocked(const std::string &adapterPath) const
{
    return started_ && adapter_ == adapterPath;
}

bool BluezWatcher::EndedLocked()
{
    const bool was = started_;
    started_ = false;
    if (was)
        status_ = radio::WatcherStatus::Aborted;
    return was;
}

radio::WatcherStatus BluezWatcher::Status()
{
    std::lock_guard<std::mutex> lock(core_->MirrorMutex());
    return status_;
}

void BluezWatcher::RaiseReceived(const std::u16string &name, uint64_t address, std::optional<int16_t> rssi)
{
    class Args final : public radio::AdvertisementReceivedArgs {
    public:
        Args(const std::u16string &name, uint64_t address, std::optional<int16_t> rssi)
            : name_(name), address_(address), rssi_(rssi)
        {
        }
        std::u16string LocalName() override { return name_; }
        uint64_t BluetoothAddress() override { return address_; }
        std::optional<int16_t> SignalStrength() override { return rssi_; }

    private:
        const std::u16string &name_;
        uint64_t address_;
        std::optional<int16_t> rssi_;
    } args(name, address, rssi);
    for (auto &handler : received_.Snapshot())
        handler(*this, args);
}

void BluezWatcher::RaiseStopped()
{
    for (auto &handler : stopped_.Snapshot())
        handler(*this);
}

void BluezCore::DeviceChangedLocked(const std::string &path, const std::set<std::string> &names, bool appeared,
                                    Tasks &tasks)
{
    const Properties &properties = tree_[path][kDeviceInterface];
    if (appeared || NamesOverlap(names, {"Name", "RSSI", "ManufacturerData"})) {
        std::vector<std::shared_ptr<BluezWatcher>> scanning;
        for (auto &watcher : LiveWatchersLocked(tasks))
            if (watcher->ScanningLocked(path))
                scanning.push_back(watcher);
        ReceivedLocked(path, properties, scanning, tasks);
    }
    if (appeared || names.count("Connected") == 0)
        return;
    const auto connected = properties.find("Connected");
    const bool up = connected != properties.end() && connected->second.type == 'b' && connected->second.boolean;
    for (auto &device : LiveDevicesLocked(path, tasks)) {
        if (up)
            device->ConnectedLocked();
        if (up || device->TakeLossLocked())
            tasks.push_back([device] { device->RaiseStatusChanged(); });
    }
}

void BluezCore::ReceivedLocked(const std::string &path, const Properties &properties,
                               const std::vector<std::shared_ptr<BluezWatcher>> &scanning, Tasks &tasks)
{
    if (scanning.empty())
        return;
    const auto address = properties.find("Address");
    std::optional<uint64_t> parsed;
    if (address != properties.end() && address->second.type == 's')
        parsed = ParseAddress(address->second.text);
    else if (address != properties.end())
        BadPropertyTask(path, "Address", address->second, "s", tasks);
    std::u16string name;
    const auto found = properties.find("Name");
    if (found != properties.end() && found->second.type == 's')
        name = Utf8ToUtf16(found->second.text);
    else if (found != properties.end())
        BadPropertyTask(path, "Name", found->second, "s", tasks);
    // Present while the device is heard in the current discovery.
    std::optional<int16_t> rssi;
    const auto strength = properties.find("RSSI");
    if (strength != properties.end() && strength->second.type == 'n')
        rssi = static_cast<int16_t>(strength->second.integer);
    // A device whose address cannot be read cannot be connected to: no event for it.
    if (parsed)
        for (auto &watcher : scanning)
            tasks.push_back([watcher, name, address = *parsed, rssi] { watcher->RaiseReceived(name, address, rssi); });
}

void BluezCore::AnnouncePresentLocked(const std::shared_ptr<BluezWatcher> &watcher, Tasks &tasks)
{
    // A stored object of a device that is switched off has neither: bluetoothd clears RSSI when
    // the last discovery ends. Such a device is heard once it advertises again.
    for (const auto &object : tree_) {
        const auto device = object.second.find(kDeviceInterface);
        if (device == object.second.end() || !watcher->ScanningLocked(object.first))
            continue;
        const Properties &properties = device->second;
        const auto connected = properties.find("Connected");
        const bool up = connected != properties.end() && connected->second.type == 'b' && connected->second.boolean;
        const auto rssi = properties.find("RSSI");
        if (up || (rssi != properties.end() && rssi->second.type == 'n'))
            ReceivedLocked(object.first, properties, {watcher}, tasks);
    }
}

void BluezCore::DiscoveryEndedLocked(const std::string &adapterPath, Tasks &tasks)
{
    for (auto &watcher : LiveWatchersLocked(tasks))
        if (watcher->ScanningAdapterLocked(adapterPath) && watcher->EndedLocked())
            tasks.push_back([watcher] { watcher->RaiseStopped(); });
}

} // namespace tarvolt::bluez
