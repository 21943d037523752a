// The BlueZ radio's mirror of bluetoothd's object tree: read whole with GetManagedObjects, kept
// current by bluetoothd's signals in the order they arrive, and asked by the radio's objects.
#include "BluezCore.h"

#include "BluezObjects.h"

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

} // namespace

bool BluezCore::RefreshLocked(BusConnection &connection, radio::RadioCheck &failure)
{
    std::string &reason = failure.detail;
    failure.readiness = radio::Readiness::Unusable;
    const Reply owner = connection.Call({"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                         "GetNameOwner", {Value::String(kBluezService)}},
                                        options_.callTimeout);
    if (!owner.ok) {
        reason = CallFailure("asking the bus for bluetoothd", owner);
        failure.readiness = ReadinessAfter(owner);
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
        failure.readiness = ReadinessAfter(objects);
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

bool BluezCore::WaitForMirror(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mirrorMutex_);
    return mirrorChanged_.wait_for(lock, limit, [&] { return waitsInterrupted_ || done(); }) && !waitsInterrupted_;
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

} // namespace tarvolt::bluez
