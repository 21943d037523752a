#pragma once
// A D-Bus value as read from or written to a message, whatever its type: the backend checks
// every type it reads, so a property of an unexpected type is noticed and passed over rather
// than misread.
#include "SdBus.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvolt::bluez {

// A file descriptor that a message carried ('h'): a copy of its own, closed with the last value
// that holds it.
class UnixFd {
public:
    explicit UnixFd(int fd) : fd_(fd) {}
    ~UnixFd();
    UnixFd(const UnixFd &) = delete;
    UnixFd &operator=(const UnixFd &) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

struct Value {
    char type = 0;          // the D-Bus type code: 'b', 'n', 'q', 'i', 'u', 'x', 't', 'y', 'd', 's', 'o', 'g', 'h', 'a', 'v', 'r', 'e'
    std::string signature;  // 'a': the element's signature; 'v': the contained value's; 'r', 'e': the members'
    bool boolean = false;
    int64_t integer = 0;    // 'n', 'i', 'x', 'h'
    uint64_t natural = 0;   // 'y', 'q', 'u', 't'
    double real = 0;
    std::string text;       // 's', 'o', 'g'; and the bytes of an array of bytes ("ay")
    std::vector<Value> items;  // the elements of other arrays, the one value of a variant, the members of a struct or dict entry
    // 'h' read from a message: the descriptor, also in `integer`. One being written is `integer`.
    std::shared_ptr<const UnixFd> descriptor;

    static Value Bool(bool b);
    static Value String(const std::string &s);
    static Value ObjectPath(const std::string &s);
    static Value Int16(int16_t n);
    static Value UInt16(uint16_t n);
    static Value Int32(int32_t n);
    static Value UInt32(uint32_t n);
    static Value Bytes(const std::vector<uint8_t> &bytes);
    static Value Variant(const Value &inner);
    static Value Array(const std::string &elementSignature, std::vector<Value> items);
    static Value DictEntry(const Value &key, const Value &value);
    // An a{sv} dictionary from names and values (each wrapped in a variant).
    static Value StringVariantDict(const std::vector<std::pair<std::string, Value>> &entries);

    bool IsBytes() const { return type == 'a' && signature == "y"; }
    std::string Signature() const;  // of this value as a whole
    // What this value holds, briefly, for log lines about unexpected types.
    std::string Describe() const;
};

// Looks up `key` in an a{sv} (or a{ov}, a{s...}) dictionary; the variant's inner value for a{sv}.
// Null when absent or when `dict` is no such dictionary.
const Value *DictLookup(const Value &dict, const std::string &key);

// Reads the remaining values of a message's body; false when the message cannot be read.
bool ReadValues(const SdBusApi &api, sd_bus_message *message, std::vector<Value> &out);
// Appends a value; a negative errno on failure.
int AppendValue(const SdBusApi &api, sd_bus_message *message, const Value &value);

} // namespace tarvolt::bluez
