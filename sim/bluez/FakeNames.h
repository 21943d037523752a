#pragma once
// Names and textual forms the fake bluetoothd's files share.
#include "RadioControl.h"
#include "bluetooth/bluez/DbusValue.h"

#include <cstdio>
#include <string>
#include <vector>

namespace sim::fake_bluez {

inline constexpr const char *kAdapterPath = "/org/bluez/hci0";
inline constexpr const char *kAdapter = "org.bluez.Adapter1";
inline constexpr const char *kDevice = "org.bluez.Device1";
inline constexpr const char *kService = "org.bluez.GattService1";
inline constexpr const char *kCharacteristic = "org.bluez.GattCharacteristic1";
inline constexpr const char *kObjectManager = "org.freedesktop.DBus.ObjectManager";
// Sessions of other programs on the machine, which no bus name stands for here.
inline constexpr const char *kAnotherClient = "another client";

inline std::string UuidText(const Guid &g)
{
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", g.data1, g.data2, g.data3,
                  g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

inline std::string AddressText(uint64_t address)
{
    char text[24];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", unsigned(address >> 40 & 0xFF),
                  unsigned(address >> 32 & 0xFF), unsigned(address >> 24 & 0xFF), unsigned(address >> 16 & 0xFF),
                  unsigned(address >> 8 & 0xFF), unsigned(address & 0xFF));
    return text;
}

// Alias: the name, or else the address with dashes (src/device.c: dev_property_get_alias).
inline std::string AliasOf(const std::string &name, uint64_t address)
{
    if (!name.empty())
        return name;
    std::string alias = AddressText(address);
    for (char &c : alias)
        c = c == ':' ? '-' : c;
    return alias;
}

inline tarvolt::bluez::Value Strings(const std::vector<std::string> &items)
{
    std::vector<tarvolt::bluez::Value> values;
    for (const std::string &item : items)
        values.push_back(tarvolt::bluez::Value::String(item));
    return tarvolt::bluez::Value::Array("s", values);
}

inline std::string Utf8(const std::u16string &text)
{
    std::string out;
    for (char16_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

} // namespace sim::fake_bluez
