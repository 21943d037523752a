#include "SimScript.h"

#include <cstdlib>
#include <sstream>
#include <vector>

namespace sim {

namespace {

bool ParseAddress(const std::string &text, uint64_t &address)
{
    if (text.size() != 17)
        return false;
    uint64_t value = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i % 3 == 2) {
            if (c != ':')
                return false;
            continue;
        }
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return false;
        value = value << 4 | static_cast<uint64_t>(digit);
    }
    address = value;
    return true;
}

bool ParseInt(const std::string &text, long low, long high, long &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return *end == '\0' && value >= low && value <= high;
}

std::u16string Utf16(const std::string &ascii) { return std::u16string(ascii.begin(), ascii.end()); }

} // namespace

bool RunScriptLine(RadioControl &radio, const std::string &line, std::string &error)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    if (words.empty() || words[0][0] == '#')
        return true;
    const std::string &command = words[0];
    const auto fail = [&](const std::string &why) {
        error = "\"" + line + "\": " + why;
        return false;
    };
    static const std::pair<const char *, Readiness> kReadiness[] = {
        {"ready", Readiness::Ready},
        {"no-adapter", Readiness::NoAdapter},
        {"adapter-off", Readiness::AdapterOff},
        {"stack-missing", Readiness::StackMissing},
        {"classes-unavailable", Readiness::ClassesUnavailable},
        {"unusable", Readiness::Unusable},
    };
    for (const auto &entry : kReadiness)
        if (command == entry.first) {
            radio.SetReadiness(entry.second);
            return true;
        }
    if (command == "end-scan") {
        radio.EndScan();
        return true;
    }
    long number = 0;
    if (command == "rifle" || command == "rifle-without-service" || command == "device") {
        uint64_t address = 0;
        if (words.size() < 2 || !ParseAddress(words[1], address))
            return fail("an address AA:BB:CC:DD:EE:FF is needed");
        PeripheralScript script;
        if (command == "device") {
            if (words.size() < 3 || !ParseInt(words[2], -127, 20, number))
                return fail("a signal strength in dBm is needed");
            script.rssi = static_cast<int16_t>(number);
            std::string name;
            for (size_t i = 3; i < words.size(); ++i)
                name += (i > 3 ? " " : "") + words[i];
            script.name = Utf16(name);
            script.address = address;
            script.connectable = false;
        } else {
            script = RifleScript(address);
            if (command == "rifle-without-service")
                script.services = {{kBatteryUuid, {}, {{kBatteryUuid, {}}}}};
            if (words.size() > 2) {
                if (!ParseInt(words[2], -127, 20, number))
                    return fail("the signal strength is a number of dBm");
                script.rssi = static_cast<int16_t>(number);
            }
        }
        radio.AddPeripheral(script);
        return true;
    }
    if (command == "notify" || command == "drop" || command == "advertise" || command == "hold") {
        if (words.size() < 2 || !ParseInt(words[1], 0, 1000, number))
            return fail("a peripheral number is needed");
        const int peripheral = static_cast<int>(number);
        if (command == "drop") {
            radio.Drop(peripheral);
            return true;
        }
        if (command == "hold") {
            radio.SetOtherHolder(peripheral, true);
            return true;
        }
        if (command == "advertise") {
            if (words.size() != 3 || (words[2] != "on" && words[2] != "off"))
                return fail("on or off is needed");
            radio.SetAdvertising(peripheral, words[2] == "on");
            return true;
        }
        std::vector<uint8_t> bytes;
        for (size_t i = 2; i < words.size(); ++i) {
            char *end = nullptr;
            const unsigned long value = std::strtoul(words[i].c_str(), &end, 16);
            if (*end != '\0' || words[i].size() > 2 || value > 0xFF)
                return fail("bytes are written in hexadecimal, two digits each");
            bytes.push_back(static_cast<uint8_t>(value));
        }
        radio.Notify(peripheral, bytes);
        return true;
    }
    return fail("unknown command");
}

} // namespace sim
