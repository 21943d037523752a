#pragma once
// The simulated runtime's settings: what steamvr.vrsettings holds, as typed values by section and
// key. The driver reads them through the host's IVRSettings, client programs through the client
// library stand-in's; both answer from one store, which lives in the tracked-device table when a
// host publishes one. Plain data of fixed size, so that it can live in shared memory; it depends
// on no OpenVR header, and its callers lock it.
//
// How a value reads (OpenVR documentation: a Get returns the user's value, else the driver's
// default, else 0, false or "" with VRSettingsError_UnsetSettingHasNoDefault). The package's
// default.vrsettings is not loaded here: its values equal the driver's built-in defaults, which
// the driver uses on the same error. A value of another type than asked for reads as 0, false or
// "" with VRSettingsError_ReadFailed, except that an integer reads as a float (JSON has one kind
// of number); a float does not read as an integer.
#include <cstdint>

namespace sim {

// vr::EVRSettingsError values.
inline constexpr int32_t kSettingsErrorNone = 0;
inline constexpr int32_t kSettingsErrorReadFailed = 3;
inline constexpr int32_t kSettingsErrorUnset = 5;

enum SettingType : uint32_t { kSettingFree = 0, kSettingBool, kSettingInt32, kSettingFloat, kSettingString };

inline constexpr uint32_t kSettingEntries = 32;
inline constexpr uint32_t kSettingNameSize = 64;
inline constexpr uint32_t kSettingTextSize = 256;

struct SettingEntry {
    uint32_t type;  // SettingType
    char section[kSettingNameSize];
    char key[kSettingNameSize];
    int32_t intValue;  // bool and int32
    float floatValue;
    char text[kSettingTextSize];
};

struct SettingsStore {
    SettingEntry entries[kSettingEntries];
};

// Setting a value replaces the key's value of whatever type. False when the store is full or a
// name or text does not fit.
bool PutBool(SettingsStore &store, const char *section, const char *key, bool value);
bool PutInt32(SettingsStore &store, const char *section, const char *key, int32_t value);
bool PutFloat(SettingsStore &store, const char *section, const char *key, float value);
bool PutString(SettingsStore &store, const char *section, const char *key, const char *value);
void RemoveKey(SettingsStore &store, const char *section, const char *key);
void RemoveSection(SettingsStore &store, const char *section);
// Sets every value of `from` in `to`, keeping the other values of `to`.
void MergeInto(const SettingsStore &from, SettingsStore &to);

// Each returns the vr::EVRSettingsError of the read.
int32_t GetBool(const SettingsStore &store, const char *section, const char *key, bool &value);
int32_t GetInt32(const SettingsStore &store, const char *section, const char *key, int32_t &value);
int32_t GetFloat(const SettingsStore &store, const char *section, const char *key, float &value);
// Copies at most size - 1 characters and a NUL, as the runtime does with a short buffer.
int32_t GetString(const SettingsStore &store, const char *section, const char *key, char *value, uint32_t size);

// Parses "section/key=value" as a command line gives it: true and false as booleans, whole numbers
// as integers, other numbers as floats, anything else as a string. False when it does not fit.
bool PutFromText(SettingsStore &store, const char *assignment);

} // namespace sim
