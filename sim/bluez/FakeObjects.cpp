// The fake bluetoothd's object tree: the objects of the adapter, the devices and their GATT
// objects with their properties, and the paths bluetoothd names them by.
#include "FakeBluez.h"

#include "FakeNames.h"
#include "bluetooth/bluez/BluezText.h"

#include <cstdio>

namespace sim {

using namespace fake_bluez;

std::string FakeBluez::DevicePathOf(int p) const
{
    return tarvolt::bluez::DevicePath(kAdapterPath, peripherals_.at(static_cast<size_t>(p)).script.address);
}

// GATT objects are named by attribute handle: the service by its first one, each characteristic
// by its declaration (src/gatt-client.c: service_create "service%04x", characteristic_create
// "char%04x"). A changed attribute table shifts them.
std::string FakeBluez::ServicePath(int p, size_t s) const
{
    char text[16];
    const unsigned handle = 0x10 * static_cast<unsigned>(s + 1) + peripherals_.at(static_cast<size_t>(p)).handleShift;
    std::snprintf(text, sizeof text, "/service%04x", handle);
    return DevicePathOf(p) + text;
}

std::string FakeBluez::CharacteristicPath(int p, size_t s, size_t c) const
{
    char text[16];
    const unsigned handle = 0x10 * static_cast<unsigned>(s + 1) + peripherals_.at(static_cast<size_t>(p)).handleShift;
    std::snprintf(text, sizeof text, "/char%04x", handle + 2 + 2 * static_cast<unsigned>(c));
    return ServicePath(p, s) + text;
}

std::vector<std::string> FakeBluez::CharacteristicPaths(int p) const
{
    std::vector<std::string> out;
    const PeripheralScript &script = peripherals_.at(static_cast<size_t>(p)).script;
    for (size_t s = 0; s < script.services.size(); ++s)
        for (size_t c = 0; c < script.services[s].characteristics.size(); ++c)
            out.push_back(CharacteristicPath(p, s, c));
    return out;
}

int FakeBluez::PeripheralAt(const std::string &path)
{
    for (size_t i = 0; i < peripherals_.size(); ++i) {
        const std::string device = DevicePathOf(static_cast<int>(i));
        if (path == device || path.compare(0, device.size() + 1, device + "/") == 0)
            return static_cast<int>(i);
    }
    return -1;
}

std::map<std::string, FakeBluez::Props> FakeBluez::Interfaces(const std::string &path)
{
    std::map<std::string, Props> out;
    if (!adapter_)
        return out;
    if (path == kAdapterPath) {
        out[kAdapter] = {{"Address", Value::String("00:1A:7D:DA:71:13")},
                         {"AddressType", Value::String("public")},
                         {"Name", Value::String("fake-hci0")},
                         {"Alias", Value::String("fake-hci0")},
                         {"Powered", Value::Bool(powered_)},
                         {"Discovering", Value::Bool(!sessions_.empty())},
                         {"Discoverable", Value::Bool(false)},
                         {"UUIDs", Strings({})},
                         {"Roles", Strings({"central", "peripheral"})}};
        return out;
    }
    const int p = PeripheralAt(path);
    if (p < 0 || !At(p).known)
        return out;
    Peripheral &peripheral = At(p);
    const PeripheralScript &script = peripheral.script;
    auto apply = [&](const char *interface, Props props) {
        for (const auto &o : peripheral.overrides[interface])
            props[o.first] = o.second;
        out[interface] = std::move(props);
    };
    if (path == DevicePathOf(p)) {
        std::vector<std::string> uuids;
        for (const ServiceScript &s : script.services)
            uuids.push_back(UuidText(s.uuid));
        Props props = {{"Address", Value::String(AddressText(script.address))},
                       {"AddressType", Value::String("public")},
                       {"Alias", Value::String(AliasOf(peripheral.name, script.address))},
                       {"Paired", Value::Bool(false)},
                       {"Bonded", Value::Bool(false)},
                       {"Trusted", Value::Bool(false)},
                       {"Blocked", Value::Bool(false)},
                       {"LegacyPairing", Value::Bool(false)},
                       {"Connected", Value::Bool(peripheral.connected)},
                       {"ServicesResolved", Value::Bool(peripheral.resolved)},
                       {"UUIDs", Strings(uuids)},
                       {"Adapter", Value::ObjectPath(kAdapterPath)}};
        if (!peripheral.name.empty())
            props["Name"] = Value::String(peripheral.name);
        // Only while it holds one: none before the first report, none after a discovery ended
        // (src/device.c: dev_property_exists_rssi).
        if (peripheral.rssi != 0)
            props["RSSI"] = Value::Int16(peripheral.rssi);
        apply(kDevice, std::move(props));
        return out;
    }
    if (!peripheral.gatt)
        return out;
    for (size_t s = 0; s < script.services.size(); ++s) {
        if (path == ServicePath(p, s)) {
            apply(kService, {{"UUID", Value::String(UuidText(script.services[s].uuid))},
                             {"Primary", Value::Bool(true)},
                             {"Device", Value::ObjectPath(DevicePathOf(p))},
                             {"Includes", Value::Array("o", {})}});
            return out;
        }
        for (size_t c = 0; c < script.services[s].characteristics.size(); ++c) {
            if (path != CharacteristicPath(p, s, c))
                continue;
            Props props = {{"UUID", Value::String(UuidText(script.services[s].characteristics[c].uuid))},
                           {"Service", Value::ObjectPath(ServicePath(p, s))},
                           {"Value", Value::Bytes(values_[path])},
                           {"Notifying", Value::Bool(!notifySessions_[path].empty())},
                           {"NotifyAcquired", Value::Bool(acquired_.count(path) != 0)},
                           {"Flags", Strings({"read", "write", "notify"})}};
            // Only while a GATT client runs (src/gatt-client.c: characteristic_mtu_exists).
            if (peripheral.connected)
                props["MTU"] = Value::UInt16(modes_.mtu);
            apply(kCharacteristic, std::move(props));
            return out;
        }
    }
    return out;
}

FakeBluez::Value FakeBluez::ManagedObjects()
{
    std::vector<std::string> paths;
    if (adapter_)
        paths.push_back(kAdapterPath);
    for (size_t i = 0; i < peripherals_.size(); ++i) {
        const int p = static_cast<int>(i);
        if (!peripherals_[i].known)
            continue;
        paths.push_back(DevicePathOf(p));
        if (!peripherals_[i].gatt)
            continue;
        for (size_t s = 0; s < peripherals_[i].script.services.size(); ++s) {
            paths.push_back(ServicePath(p, s));
            for (size_t c = 0; c < peripherals_[i].script.services[s].characteristics.size(); ++c)
                paths.push_back(CharacteristicPath(p, s, c));
        }
    }
    std::vector<Value> objects;
    for (const std::string &path : paths) {
        std::vector<Value> interfaces;
        for (const auto &interface : Interfaces(path)) {
            std::vector<std::pair<std::string, Value>> props(interface.second.begin(), interface.second.end());
            interfaces.push_back(Value::DictEntry(Value::String(interface.first), Value::StringVariantDict(props)));
        }
        objects.push_back(Value::DictEntry(Value::ObjectPath(path), Value::Array("{sa{sv}}", interfaces)));
    }
    return Value::Array("{oa{sa{sv}}}", objects);
}

} // namespace sim
