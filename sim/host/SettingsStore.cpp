#include "SettingsStore.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace sim {

namespace {

bool Same(const char *a, const char *b) { return a != nullptr && b != nullptr && std::strcmp(a, b) == 0; }

const SettingEntry *Find(const SettingsStore &store, const char *section, const char *key)
{
    for (const SettingEntry &e : store.entries)
        if (e.type != kSettingFree && Same(e.section, section) && Same(e.key, key))
            return &e;
    return nullptr;
}

// The key's entry, or a free one named for it; null when neither exists or the names do not fit.
SettingEntry *Slot(SettingsStore &store, const char *section, const char *key)
{
    if (section == nullptr || key == nullptr || std::strlen(section) >= kSettingNameSize ||
        std::strlen(key) >= kSettingNameSize)
        return nullptr;
    if (const SettingEntry *found = Find(store, section, key))
        return const_cast<SettingEntry *>(found);
    for (SettingEntry &e : store.entries) {
        if (e.type == kSettingFree) {
            e = SettingEntry{};
            std::strcpy(e.section, section);
            std::strcpy(e.key, key);
            return &e;
        }
    }
    return nullptr;
}

} // namespace

bool PutBool(SettingsStore &store, const char *section, const char *key, bool value)
{
    SettingEntry *e = Slot(store, section, key);
    if (e == nullptr)
        return false;
    e->type = kSettingBool;
    e->intValue = value ? 1 : 0;
    return true;
}

bool PutInt32(SettingsStore &store, const char *section, const char *key, int32_t value)
{
    SettingEntry *e = Slot(store, section, key);
    if (e == nullptr)
        return false;
    e->type = kSettingInt32;
    e->intValue = value;
    return true;
}

bool PutFloat(SettingsStore &store, const char *section, const char *key, float value)
{
    SettingEntry *e = Slot(store, section, key);
    if (e == nullptr)
        return false;
    e->type = kSettingFloat;
    e->floatValue = value;
    return true;
}

bool PutString(SettingsStore &store, const char *section, const char *key, const char *value)
{
    if (value == nullptr || std::strlen(value) >= kSettingTextSize)
        return false;
    SettingEntry *e = Slot(store, section, key);
    if (e == nullptr)
        return false;
    e->type = kSettingString;
    std::strcpy(e->text, value);
    return true;
}

void RemoveKey(SettingsStore &store, const char *section, const char *key)
{
    if (const SettingEntry *found = Find(store, section, key))
        *const_cast<SettingEntry *>(found) = SettingEntry{};
}

void RemoveSection(SettingsStore &store, const char *section)
{
    for (SettingEntry &e : store.entries)
        if (e.type != kSettingFree && Same(e.section, section))
            e = SettingEntry{};
}

void MergeInto(const SettingsStore &from, SettingsStore &to)
{
    for (const SettingEntry &e : from.entries) {
        if (e.type == kSettingFree)
            continue;
        if (SettingEntry *target = Slot(to, e.section, e.key))
            *target = e;
    }
}

int32_t GetBool(const SettingsStore &store, const char *section, const char *key, bool &value)
{
    value = false;
    const SettingEntry *e = Find(store, section, key);
    if (e == nullptr)
        return kSettingsErrorUnset;
    if (e->type != kSettingBool)
        return kSettingsErrorReadFailed;
    value = e->intValue != 0;
    return kSettingsErrorNone;
}

int32_t GetInt32(const SettingsStore &store, const char *section, const char *key, int32_t &value)
{
    value = 0;
    const SettingEntry *e = Find(store, section, key);
    if (e == nullptr)
        return kSettingsErrorUnset;
    if (e->type != kSettingInt32)
        return kSettingsErrorReadFailed;
    value = e->intValue;
    return kSettingsErrorNone;
}

int32_t GetFloat(const SettingsStore &store, const char *section, const char *key, float &value)
{
    value = 0.0f;
    const SettingEntry *e = Find(store, section, key);
    if (e == nullptr)
        return kSettingsErrorUnset;
    if (e->type == kSettingInt32) {
        value = static_cast<float>(e->intValue);
        return kSettingsErrorNone;
    }
    if (e->type != kSettingFloat)
        return kSettingsErrorReadFailed;
    value = e->floatValue;
    return kSettingsErrorNone;
}

int32_t GetString(const SettingsStore &store, const char *section, const char *key, char *value, uint32_t size)
{
    if (value != nullptr && size > 0)
        value[0] = '\0';
    const SettingEntry *e = Find(store, section, key);
    if (e == nullptr)
        return kSettingsErrorUnset;
    if (e->type != kSettingString)
        return kSettingsErrorReadFailed;
    if (value != nullptr && size > 0) {
        const size_t n = std::min<size_t>(std::strlen(e->text), size - 1);
        std::memcpy(value, e->text, n);
        value[n] = '\0';
    }
    return kSettingsErrorNone;
}

bool PutFromText(SettingsStore &store, const char *assignment)
{
    const std::string text = assignment != nullptr ? assignment : "";
    const size_t slash = text.find('/');
    const size_t equals = text.find('=');
    if (slash == std::string::npos || equals == std::string::npos || slash > equals)
        return false;
    const std::string section = text.substr(0, slash);
    const std::string key = text.substr(slash + 1, equals - slash - 1);
    const std::string value = text.substr(equals + 1);
    if (value == "true" || value == "false")
        return PutBool(store, section.c_str(), key.c_str(), value == "true");
    if (!value.empty()) {
        char *end = nullptr;
        errno = 0;
        const long whole = std::strtol(value.c_str(), &end, 10);
        if (*end == '\0' && errno == 0 && whole >= INT32_MIN && whole <= INT32_MAX)
            return PutInt32(store, section.c_str(), key.c_str(), static_cast<int32_t>(whole));
        const float number = std::strtof(value.c_str(), &end);
        if (*end == '\0')
            return PutFloat(store, section.c_str(), key.c_str(), number);
    }
    return PutString(store, section.c_str(), key.c_str(), value.c_str());
}

} // namespace sim
