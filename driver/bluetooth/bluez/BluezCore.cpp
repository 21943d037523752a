#include "BluezCore.h"

#include "BluezText.h"

#include <unistd.h>

#include <algorithm>

namespace tarvolt::bluez {

namespace {

constexpr const char *kObjectManager = "org.freedesktop.DBus.ObjectManager";
constexpr const char *kPropertiesInterface = "org.freedesktop.DBus.Properties";

// bluetoothd's object tree from GetManagedObjects (a{oa{sa{sv}}}); false when it has another shape.
bool ParseTree(const std::vector<Value> &values, ObjectTree &tree)
{
    if (values.size() != 1 || values[0].type != 'a' || values[0].signature != "{oa{sa{sv}}}")
        return false;
    for (const Value &object : values[0].items) {
        Interfaces &interfaces = tree[object.items.at(0).text];
        for (const Value &interface : object.items.at(1).items) {
            Properties &properties = interfaces[interface.items.at(0).text];
            for (const Value &property : interface.items.at(1).items)
                properties[property.items.at(0).text] = property.items.at(1).items.at(0);
        }
    }
    return true;
}

bool NamesOverlap(const std::set<std::string> &names, std::initializer_list<const char *> wanted)
{
    for (const char *name : wanted)
        if (names.count(name) != 0)
            return true;
    return false;
}

bool NotOnTheBus(const Reply &reply)
{
    return reply.errorName == "org.freedesktop.DBus.Error.ServiceUnknown" ||
           reply.errorName == "org.freedesktop.DBus.Error.NameHasNoOwner";
}

// What a failed call to the bus or to bluetoothd says about the machine's Bluetooth as a whole.
// In a Flatpak sandbox a bluetoothd that cannot be seen is most likely hidden, and starting it
// would not help.
radio::Readiness ReadinessAfter(const Reply &reply, bool flatpak)
{
    if ((NotOnTheBus(reply) && !flatpak) || reply.errorName == kErrorDisconnected)
        return radio::Readiness::StackMissing;
    return radio::Readiness::Unusable;
}

} // namespace

BluezCore::BluezCore(BluezOptions options, LogSink log) : options_(std::move(options)), log_(std::move(log)) {}

BluezCore::~BluezCore() { Shutdown(); }

void BluezCore::Shutdown()
{
    std::shared_ptr<BusConnection> connection;
    {
        std::lock_guard<std::mutex> lock(connectionMutex_);
        connection = std::move(connection_);
    }
    if (connection)
        connection->Close();
}

Lease::Lease(std::shared_ptr<BluezCore> core) : core_(std::move(core)) { core_->Acquire(); }

Lease::~Lease() { core_->Release(); }

void BluezCore::Acquire()
{
    std::lock_guard<std::mutex> lock(connectionMutex_);
    ++leases_;
}

void BluezCore::Release()
{
    std::shared_ptr<BusConnection> connection;
    {
        std::lock_guard<std::mutex> lock(connectionMutex_);
        if (--leases_ > 0)
            return;
        connection = std::move(connection_);
    }
    // The worker has let go of everything: what it sent is on its way, and the loop may end
    // (from a task of the loop itself it ends after that task).
    if (connection)
        connection->Close();
}

int BluezCore::Held()
{
    std::lock_guard<std::mutex> lock(connectionMutex_);
    return leases_ + (connection_ ? 1 : 0);
}

void BluezCore::SetInterrupted(bool interrupted)
{
    std::shared_ptr<BusConnection> connection;
    {
        std::lock_guard<std::mutex> lock(connectionMutex_);
        interrupted_ = interrupted;
        connection = connection_;
    }
    if (connection)
        connection->SetInterrupted(interrupted);
    {
        std::lock_guard<std::mutex> lock(mirrorMutex_);
        waitsInterrupted_ = interrupted;
    }
    mirrorChanged_.notify_all();
}

void BluezCore::Report(const std::string &reason)
{
    {
        std::lock_guard<std::mutex> lock(reportMutex_);
        if (reason == lastReason_)
            return;
        lastReason_ = reason;
    }
    if (log_)
        log_("BlueZ: " + reason);
}

void BluezCore::Clear()
{
    std::lock_guard<std::mutex> lock(reportMutex_);
    lastReason_.clear();
}

void BluezCore::ReportBadProperty(const std::string &path, const std::string &name, const Value &value,
                                  const char *expected)
{
    {
        std::lock_guard<std::mutex> lock(reportMutex_);
        const std::string key = path + '|' + name + '|' + value.Signature();
        // Bounded, so that a peer that keeps inventing types cannot grow it without end.
        if (badProperties_.count(key) != 0 || badProperties_.size() >= 256)
            return;
        badProperties_.insert(key);
    }
    if (log_)
        log_("BlueZ: " + name + " of " + path + " has " + value.Describe() + " instead of type " + expected +
             "; it is ignored");
}

std::string BluezCore::CallFailure(const std::string &what, const Reply &reply) const
{
    const std::string &name = reply.errorName;
    if (name == "org.freedesktop.DBus.Error.AccessDenied")
        return what + " was refused by the system bus (" + reply.errorMessage +
               "): its policy does not let this user talk to bluetoothd";
    if (name == kErrorNoReply)
        return "bluetoothd did not answer " + what + " in time";
    if (NotOnTheBus(reply) && InFlatpak())
        return "org.bluez cannot be seen on the system bus from Flatpak's sandbox: Steam from Flathub may talk "
               "to bluetoothd only when allowed (flatpak override --user --system-talk-name=org.bluez "
               "com.valvesoftware.Steam, then restart Steam), unless bluetoothd is not running at all";
    if (NotOnTheBus(reply))
        return "bluetoothd is not running (nothing owns org.bluez on the system bus)";
    if (name == kErrorDisconnected)
        return "the connection to the system bus was lost";
    if (name == kErrorInterrupted)
        return what + " was interrupted";
    return what + " failed: " + name + (reply.errorMessage.empty() ? "" : " (" + reply.errorMessage + ")");
}

bool BluezCore::InFlatpak() const
{
    return !options_.flatpakInfoPath.empty() && access(options_.flatpakInfoPath.c_str(), F_OK) == 0;
}

std::shared_ptr<BusConnection> BluezCore::Current()
{
    std::lock_guard<std::mutex> lock(connectionMutex_);
    return connection_ && connection_->IsOpen() ? connection_ : nullptr;
}

void BluezCore::MarkStale()
{
    std::lock_guard<std::mutex> lock(mirrorMutex_);
    fresh_ = false;
}

std::shared_ptr<BusConnection> BluezCore::OpenLocked(radio::RadioCheck &failure)
{
    std::string &reason = failure.detail;
    // Without the library or a bus there is no way to bluetoothd: the stack is missing as a whole.
    failure.readiness = radio::Readiness::StackMissing;
    if (api_ == nullptr) {
        api_ = LoadSdBus(libraryError_, options_.libraries);
        if (api_ == nullptr) {
            reason = "the D-Bus library sd-bus (libsystemd.so.0) could not be loaded (" + libraryError_ +
                     "); Bluetooth is not available";
            return nullptr;
        }
    }
    const std::vector<std::string> matches = {
        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged',"
        "arg0='org.bluez'",
        "type='signal',interface='org.freedesktop.DBus.ObjectManager',path='/'",
        "type='signal',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
        "path_namespace='/org/bluez'",
    };
    const std::weak_ptr<BluezCore> weak = weak_from_this();
    // The handlers reach the connection whose loop calls them; that loop outlives every such call.
    // Signals before the connection is known here precede the first snapshot of the tree.
    auto connectionRef = std::make_shared<std::atomic<BusConnection *>>(nullptr);
    auto connection = BusConnection::Open(
        *api_, options_.busAddress, matches,
        [weak, connectionRef](const Signal &signal) {
            BusConnection *connection = connectionRef->load();
            if (auto core = weak.lock(); core && connection)
                core->OnSignal(signal, *connection);
        },
        [weak, connectionRef] {
            BusConnection *connection = connectionRef->load();
            if (auto core = weak.lock(); core && connection)
                core->OnDisconnect(*connection);
        },
        reason);
    if (!connection)
        return nullptr;
    *connectionRef = connection.get();
    connection->SetInterrupted(interrupted_);
    return connection;
}

std::shared_ptr<BusConnection> BluezCore::Ready(bool refresh)
{
    radio::RadioCheck failure;
    std::shared_ptr<BusConnection> connection = Connect(refresh, failure);
    if (!connection)
        Report(failure.detail);
    return connection;
}

radio::RadioCheck BluezCore::Check()
{
    // The connection closes again after the check unless a radio object holds it too.
    Lease lease(shared_from_this());
    radio::RadioCheck failure;
    if (!Connect(true, failure))
        return failure;
    if (FirstPoweredAdapter(failure.detail, &failure.readiness).empty())
        return failure;
    return {};
}

std::shared_ptr<BusConnection> BluezCore::Connect(bool refresh, radio::RadioCheck &failure)
{
    std::lock_guard<std::mutex> lock(connectionMutex_);
    if (!connection_ || !connection_->IsOpen()) {
        if (connection_)
            connection_->Close();  // its loop has ended with the bus; this only joins it
        connection_.reset();
        {
            std::lock_guard<std::mutex> mirror(mirrorMutex_);
            fresh_ = false;
        }
        connection_ = OpenLocked(failure);
        if (!connection_)
            return nullptr;
    }
    bool fresh;
    {
        std::lock_guard<std::mutex> mirror(mirrorMutex_);
        fresh = fresh_ && !refresh;
    }
    if (!fresh && !RefreshLocked(*connection_, failure))
        return nullptr;
    return connection_;
}

bool BluezCore::RefreshLocked(BusConnection &connection, radio::RadioCheck &failure)
{
    std::string &reason = failure.detail;
    failure.readiness = radio::Readiness::Unusable;
    const Reply owner = connection.Call({"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                         "GetNameOwner", {Value::String(kBluezService)}},
                                        options_.callTimeout);
    if (!owner.ok) {
        reason = CallFailure("asking the bus for bluetoothd", owner);
        failure.readiness = ReadinessAfter(owner, InFlatpak());
        return false;
    }
    if (owner.values.size() != 1 || owner.values[0].type != 's') {
        reason = "the bus gave bluetoothd's name in a form that cannot be read";
        return false;
    }
    const std::string ownerName = owner.values[0].text;
    bool readable = true;
    const Reply objects = connection.Call(
        {kBluezService, "/", kObjectManager, "GetManagedObjects", {}}, options_.callTimeout, [&](Reply &reply) {
            if (!reply.ok)
                return;
            ObjectTree tree;
            try {
                readable = ParseTree(reply.values, tree);
            } catch (const std::out_of_range &) {
                readable = false;
            }
            if (!readable)
                return;
            // In order with the signals: those after this reply apply to this tree.
            std::lock_guard<std::mutex> lock(mirrorMutex_);
            tree_ = std::move(tree);
            owner_ = ownerName;
            fresh_ = true;
        });
    if (!objects.ok) {
        reason = CallFailure("GetManagedObjects", objects);
        failure.readiness = ReadinessAfter(objects, InFlatpak());
        return false;
    }
    if (!readable) {
        reason = "bluetoothd's list of objects has an unexpected form";
        return false;
    }
    mirrorChanged_.notify_all();
    return true;
}

std::string BluezCore::FirstPoweredAdapter(std::string &reason, radio::Readiness *readiness)
{
    std::string firstAdapter;
    std::vector<std::pair<std::string, Value>> bad;
    std::string found;
    {
        std::lock_guard<std::mutex> lock(mirrorMutex_);
        for (const auto &object : tree_) {
            const auto adapter = object.second.find(kAdapterInterface);
            if (adapter == object.second.end())
                continue;
            if (firstAdapter.empty())
                firstAdapter = object.first;
            const auto powered = adapter->second.find("Powered");
            if (powered == adapter->second.end())
                continue;
            if (powered->second.type != 'b') {
                bad.emplace_back(object.first, powered->second);
                continue;
            }
            if (powered->second.boolean) {
                found = object.first;
                break;
            }
        }
    }
    for (const auto &entry : bad)
        ReportBadProperty(entry.first, "Powered", entry.second, "b");
    if (found.empty()) {
        reason = firstAdapter.empty() ? "bluetoothd has no Bluetooth adapter"
                                      : "the Bluetooth adapter " + firstAdapter + " is powered off";
        if (readiness != nullptr)
            *readiness = firstAdapter.empty() ? radio::Readiness::NoAdapter : radio::Readiness::AdapterOff;
    }
    return found;
}

const Properties *BluezCore::FindLocked(const std::string &path, const char *interface) const
{
    const auto object = tree_.find(path);
    if (object == tree_.end())
        return nullptr;
    const auto found = object->second.find(interface);
    return found == object->second.end() ? nullptr : &found->second;
}

uint64_t BluezCore::LinkLossesLocked(const std::string &path) const
{
    const auto found = linkLosses_.find(path);
    return found == linkLosses_.end() ? 0 : found->second;
}

bool BluezCore::HasObject(const std::string &path, const char *interface)
{
    std::lock_guard<std::mutex> lock(mirrorMutex_);
    return FindLocked(path, interface) != nullptr;
}

std::optional<Value> BluezCore::Property(const std::string &path, const char *interface, const std::string &name,
                                         const char *type)
{
    Value value;
    {
        std::lock_guard<std::mutex> lock(mirrorMutex_);
        const Properties *properties = FindLocked(path, interface);
        if (properties == nullptr)
            return std::nullopt;
        const auto found = properties->find(name);
        if (found == properties->end())
            return std::nullopt;
        value = found->second;
    }
    if (value.Signature() != type) {
        ReportBadProperty(path, name, value, type);
        return std::nullopt;
    }
    return value;
}

std::vector<std::string> BluezCore::Children(const char *interface, const std::string &parentProperty,
                                             const std::string &parent)
{
    std::vector<std::string> out;
    std::lock_guard<std::mutex> lock(mirrorMutex_);
    // The tree is ordered by path, and BlueZ names GATT objects by their handles: this is the
    // peripheral's own order.
    for (const auto &object : tree_) {
        const auto found = object.second.find(interface);
        if (found == object.second.end())
            continue;
        const auto link = found->second.find(parentProperty);
        if (link != found->second.end() && link->second.type == 'o' && link->second.text == parent)
            out.push_back(object.first);
    }
    return out;
}

bool BluezCore::HasChildLocked(const char *interface, const std::string &parentProperty, const std::string &parent,
                               const radio::Guid *uuid) const
{
    for (const auto &object : tree_) {
        const auto found = object.second.find(interface);
        if (found == object.second.end())
            continue;
        const auto link = found->second.find(parentProperty);
        if (link == found->second.end() || link->second.type != 'o' || link->second.text != parent)
            continue;
        if (uuid == nullptr)
            return true;
        const auto text = found->second.find("UUID");
        const std::optional<radio::Guid> guid =
            text != found->second.end() && text->second.type == 's' ? ParseUuid(text->second.text) : std::nullopt;
        if (guid && *guid == *uuid)
            return true;
    }
    return false;
}

bool BluezCore::AwaitChildren(const char *interface, const std::string &parentProperty, const std::string &parent,
                              const radio::Guid *uuid, bool reread)
{
    auto present = [&] { return HasChildLocked(interface, parentProperty, parent, uuid); };
    if (!reread) {
        std::lock_guard<std::mutex> lock(mirrorMutex_);
        if (present())
            return true;
    }
    // The signals may have brought only the first objects of a burst so far; the tree as
    // bluetoothd answers now holds all it has.
    if (!Ready(true))
        return false;
    // None yet: bluetoothd exports a device's GATT objects together, so once the first one is
    // signalled, its tree holds them all.
    if (WaitForMirror(present, options_.servicesWait))
        return Ready(true) != nullptr;
    return true;
}

std::vector<std::pair<std::string, uint64_t>> BluezCore::ConnectedUnder(const std::string &adapter)
{
    std::vector<std::pair<std::string, uint64_t>> out;
    std::lock_guard<std::mutex> lock(mirrorMutex_);
    for (const auto &object : tree_) {
        const auto device = object.second.find(kDeviceInterface);
        if (device == object.second.end() || object.first.compare(0, adapter.size() + 1, adapter + "/") != 0)
            continue;
        const auto connected = device->second.find("Connected");
        const auto address = device->second.find("Address");
        if (connected == device->second.end() || connected->second.type != 'b' || !connected->second.boolean ||
            address == device->second.end() || address->second.type != 's')
            continue;
        if (const std::optional<uint64_t> parsed = ParseAddress(address->second.text))
            out.emplace_back(object.first, *parsed);
    }
    return out;
}

bool BluezCore::WaitForMirror(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mirrorMutex_);
    return mirrorChanged_.wait_for(lock, limit, [&] { return waitsInterrupted_ || done(); }) && !waitsInterrupted_;
}

void BluezCore::Register(const std::shared_ptr<BluezWatcher> &watcher)
{
    std::lock_guard<std::mutex> lock(mirrorMutex_);
    watchers_.erase(std::remove_if(watchers_.begin(), watchers_.end(), [](auto &w) { return w.expired(); }),
                    watchers_.end());
    watchers_.push_back(watcher);
}

void BluezCore::Register(const std::shared_ptr<BluezDevice> &device)
{
    std::lock_guard<std::mutex> lock(mirrorMutex_);
    devices_.erase(std::remove_if(devices_.begin(), devices_.end(), [](auto &d) { return d.expired(); }),
                   devices_.end());
    devices_.push_back(device);
}

void BluezCore::Register(const std::shared_ptr<BluezCharacteristic> &characteristic)
{
    std::lock_guard<std::mutex> lock(mirrorMutex_);
    characteristics_.erase(
        std::remove_if(characteristics_.begin(), characteristics_.end(), [](auto &c) { return c.expired(); }),
        characteristics_.end());
    characteristics_.push_back(characteristic);
}

std::vector<std::shared_ptr<BluezCharacteristic>> BluezCore::SubscribedUnder(const std::string &devicePath)
{
    // Every live one is taken under the lock and sorted out after it: one whose last other
    // reference goes meanwhile ends here, outside the lock.
    std::vector<std::shared_ptr<BluezCharacteristic>> all;
    std::vector<bool> subscribed;
    {
        std::lock_guard<std::mutex> lock(mirrorMutex_);
        for (auto &weak : characteristics_)
            if (auto c = weak.lock()) {
                subscribed.push_back(c->DevicePath() == devicePath && c->NotifyingLocked());
                all.push_back(std::move(c));
            }
    }
    std::vector<std::shared_ptr<BluezCharacteristic>> out;
    for (size_t i = 0; i < all.size(); ++i)
        if (subscribed[i])
            out.push_back(all[i]);
    return out;
}

std::vector<std::shared_ptr<BluezWatcher>> BluezCore::LiveWatchersLocked(Tasks &tasks)
{
    std::vector<std::shared_ptr<BluezWatcher>> out;
    for (auto &weak : watchers_)
        if (auto w = weak.lock()) {
            tasks.push_back([w] {});
            out.push_back(std::move(w));
        }
    return out;
}

std::vector<std::shared_ptr<BluezDevice>> BluezCore::LiveDevicesLocked(const std::string &path, Tasks &tasks)
{
    std::vector<std::shared_ptr<BluezDevice>> out;
    for (auto &weak : devices_)
        if (auto d = weak.lock()) {
            tasks.push_back([d] {});
            if ((path.empty() || d->Path() == path) && !d->ClosedLocked())
                out.push_back(std::move(d));
        }
    return out;
}

std::vector<std::shared_ptr<BluezCharacteristic>> BluezCore::LiveCharacteristicsLocked(const std::string &path,
                                                                                      Tasks &tasks)
{
    std::vector<std::shared_ptr<BluezCharacteristic>> out;
    for (auto &weak : characteristics_)
        if (auto c = weak.lock()) {
            tasks.push_back([c] {});
            if (path.empty() || c->Path() == path)
                out.push_back(std::move(c));
        }
    return out;
}

void BluezCore::BadPropertyTask(const std::string &path, const std::string &name, const Value &value,
                                const char *expected, Tasks &tasks)
{
    const std::weak_ptr<BluezCore> weak = weak_from_this();
    tasks.push_back([weak, path, name, value, expected] {
        if (auto core = weak.lock())
            core->ReportBadProperty(path, name, value, expected);
    });
}

void BluezCore::OnSignal(const Signal &signal, BusConnection &connection)
{
    Tasks tasks;
    {
        std::lock_guard<std::mutex> lock(mirrorMutex_);
        const std::vector<Value> &args = signal.args;
        if (signal.interface == "org.freedesktop.DBus" && signal.member == "NameOwnerChanged") {
            if (args.size() != 3 || args[0].type != 's' || args[2].type != 's' || args[0].text != kBluezService)
                return;
            if (args[2].text != owner_) {
                // bluetoothd ended or restarted: nothing of the old one's objects is valid any more.
                OwnerLostLocked(tasks);
                owner_ = args[2].text;
            }
        } else if (owner_.empty() || signal.sender != owner_) {
            // Only bluetoothd speaks for its objects; anyone else on the bus could send these.
            return;
        } else if (signal.interface == kObjectManager && signal.member == "InterfacesAdded") {
            if (args.size() == 2 && args[0].type == 'o' && args[1].Signature() == "a{sa{sv}}")
                InterfacesAddedLocked(args[0].text, args[1], tasks);
        } else if (signal.interface == kObjectManager && signal.member == "InterfacesRemoved") {
            if (args.size() == 2 && args[0].type == 'o' && args[1].Signature() == "as")
                InterfacesRemovedLocked(args[0].text, args[1], tasks);
        } else if (signal.interface == kPropertiesInterface && signal.member == "PropertiesChanged") {
            if (args.size() >= 2 && args[0].type == 's' && args[1].Signature() == "a{sv}")
                PropertiesChangedLocked(signal.path, args[0].text, args[1],
                                        args.size() >= 3 && args[2].Signature() == "as" ? &args[2] : nullptr, tasks);
        }
    }
    mirrorChanged_.notify_all();
    for (auto &task : tasks)
        connection.Post(std::move(task));
}

void BluezCore::OnDisconnect(BusConnection &connection)
{
    Tasks tasks;
    {
        std::lock_guard<std::mutex> lock(mirrorMutex_);
        OwnerLostLocked(tasks);
        owner_.clear();
    }
    const std::weak_ptr<BluezCore> weak = weak_from_this();
    tasks.push_back([weak] {
        if (auto core = weak.lock())
            core->Report("the connection to the system bus was lost");
    });
    mirrorChanged_.notify_all();
    for (auto &task : tasks)
        connection.Post(std::move(task));
}

void BluezCore::OwnerLostLocked(Tasks &tasks)
{
    for (auto &watcher : LiveWatchersLocked(tasks))
        if (watcher->EndedLocked())
            tasks.push_back([watcher] { watcher->RaiseStopped(); });
    for (const auto &object : tree_)
        if (object.second.count(kDeviceInterface) != 0)
            LostLocked(object.first, tasks);
    for (auto &device : LiveDevicesLocked("", tasks)) {
        device->GoneLocked();
        if (device->TakeLossLocked())
            tasks.push_back([device] { device->RaiseStatusChanged(); });
    }
    for (auto &c : LiveCharacteristicsLocked("", tasks))
        c->SubscriptionEndedLocked();
    tree_.clear();
    fresh_ = false;
}

void BluezCore::LostLocked(const std::string &path, Tasks &tasks)
{
    for (auto &device : LiveDevicesLocked(path, tasks)) {
        // Its name is kept for the lines about it.
        if (const Properties *props = FindLocked(path, kDeviceInterface))
            if (const auto name = props->find("Name"); name != props->end() && name->second.type == 's')
                device->KeepNameLocked(name->second.text);
        device->GoneLocked();
        if (device->TakeLossLocked())
            tasks.push_back([device] { device->RaiseStatusChanged(); });
    }
}

void BluezCore::InterfacesAddedLocked(const std::string &path, const Value &interfaces, Tasks &tasks)
{
    Interfaces &object = tree_[path];
    bool device = false;
    for (const Value &entry : interfaces.items) {
        Properties properties;
        for (const Value &property : entry.items.at(1).items)
            properties[property.items.at(0).text] = property.items.at(1).items.at(0);
        const std::string &name = entry.items.at(0).text;
        device = device || name == kDeviceInterface;
        object[name] = std::move(properties);
    }
    if (!device)
        return;
    // A device removed and made again (a temporary one heard anew) is the same device.
    for (auto &d : LiveDevicesLocked(path, tasks))
        d->BackLocked();
    DeviceChangedLocked(path, {}, true, tasks);
}

void BluezCore::InterfacesRemovedLocked(const std::string &path, const Value &names, Tasks &tasks)
{
    const auto object = tree_.find(path);
    if (object == tree_.end())
        return;
    for (const Value &name : names.items) {
        if (name.text == kDeviceInterface)
            LostLocked(path, tasks);
        else if (name.text == kAdapterInterface)
            DiscoveryEndedLocked(path, tasks);
        object->second.erase(name.text);
    }
    if (object->second.empty())
        tree_.erase(object);
}

void BluezCore::PropertiesChangedLocked(const std::string &path, const std::string &interface, const Value &changed,
                                        const Value *invalidated, Tasks &tasks)
{
    Properties &properties = tree_[path][interface];
    std::set<std::string> names;
    for (const Value &entry : changed.items) {
        const std::string &name = entry.items.at(0).text;
        if (interface == kDeviceInterface && name == "Connected") {
            const auto before = properties.find(name);
            const Value &now = entry.items.at(1).items.at(0);
            const bool was = before != properties.end() && before->second.type == 'b' && before->second.boolean;
            if (was && !(now.type == 'b' && now.boolean))
                ++linkLosses_[path];
        }
        properties[name] = entry.items.at(1).items.at(0);
        names.insert(name);
    }
    if (invalidated != nullptr)
        for (const Value &name : invalidated->items) {
            properties.erase(name.text);
            names.insert(name.text);
        }

    if (interface == kDeviceInterface) {
        DeviceChangedLocked(path, names, false, tasks);
    } else if (interface == kAdapterInterface) {
        auto ended = [&](const char *name) {
            const auto found = properties.find(name);
            return names.count(name) != 0 && (found == properties.end() || found->second.type != 'b' ||
                                              !found->second.boolean);
        };
        if (ended("Discovering") || ended("Powered"))
            DiscoveryEndedLocked(path, tasks);
    } else if (interface == kCharacteristicInterface && names.count("Value") != 0) {
        const auto value = properties.find("Value");
        if (value == properties.end())
            return;
        if (!value->second.IsBytes()) {
            BadPropertyTask(path, "Value", value->second, "ay", tasks);
            return;
        }
        // A characteristic read through its socket ignores Value: any client's read changes it.
        for (auto &characteristic : LiveCharacteristicsLocked(path, tasks))
            if (!characteristic->AcquiredLocked())
                tasks.push_back([characteristic, bytes = value->second.text] { characteristic->RaiseValueChanged(bytes); });
    }
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

void BluezCore::NotifySocketEnded(const std::string &devicePath)
{
    Tasks tasks;
    {
        std::lock_guard<std::mutex> lock(mirrorMutex_);
        for (auto &device : LiveDevicesLocked(devicePath, tasks)) {
            device->SocketLostLocked();
            if (device->TakeLossLocked())
                tasks.push_back([device] { device->RaiseStatusChanged(); });
        }
    }
    mirrorChanged_.notify_all();
    for (auto &task : tasks)
        task();
}

void BluezCore::DiscoveryEndedLocked(const std::string &adapterPath, Tasks &tasks)
{
    for (auto &watcher : LiveWatchersLocked(tasks))
        if (watcher->ScanningAdapterLocked(adapterPath) && watcher->EndedLocked())
            tasks.push_back([watcher] { watcher->RaiseStopped(); });
}

} // namespace tarvolt::bluez
