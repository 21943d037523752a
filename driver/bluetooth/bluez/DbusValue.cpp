#include "DbusValue.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvolt::bluez {

namespace {

bool IsBasic(char type) { return type != 'a' && type != 'v' && type != 'r' && type != 'e'; }

int ReadOne(const SdBusApi &api, sd_bus_message *m, char type, const char *contents, Value &out, int depth);

// Reads values until the current container (or the body) ends.
int ReadSequence(const SdBusApi &api, sd_bus_message *m, std::vector<Value> &out, int depth)
{
    for (;;) {
        char type = 0;
        const char *contents = nullptr;
        int r = api.sd_bus_message_peek_type(m, &type, &contents);
        if (r <= 0)
            return r;  // 0: the end
        Value value;
        r = ReadOne(api, m, type, contents, value, depth);
        if (r < 0)
            return r;
        out.push_back(std::move(value));
    }
}

int ReadOne(const SdBusApi &api, sd_bus_message *m, char type, const char *contents, Value &out, int depth)
{
    // D-Bus itself bounds nesting at 64; this keeps a hostile message from exhausting the stack.
    if (depth > 64)
        return -EBADMSG;
    out.type = type;
    if (IsBasic(type)) {
        union {
            uint8_t y;
            int b;
            int16_t n;
            uint16_t q;
            int32_t i;
            uint32_t u;
            int64_t x;
            uint64_t t;
            double d;
            const char *s;
        } v{};
        const int r = api.sd_bus_message_read_basic(m, type, &v);
        if (r < 0)
            return r;
        switch (type) {
        case 'y': out.natural = v.y; break;
        case 'b': out.boolean = v.b != 0; break;
        case 'n': out.integer = v.n; break;
        case 'q': out.natural = v.q; break;
        case 'i': out.integer = v.i; break;
        case 'h': {
            // The message owns the descriptor it carries: keep a copy that outlives it.
            const int fd = fcntl(v.i, F_DUPFD_CLOEXEC, 3);
            if (fd < 0)
                return -errno;
            out.descriptor = std::make_shared<const UnixFd>(fd);
            out.integer = fd;
            break;
        }
        case 'u': out.natural = v.u; break;
        case 'x': out.integer = v.x; break;
        case 't': out.natural = v.t; break;
        case 'd': out.real = v.d; break;
        case 's': case 'o': case 'g': out.text = v.s ? v.s : ""; break;
        default: return -EBADMSG;
        }
        return 1;
    }
    out.signature = contents ? contents : "";
    if (type == 'a' && out.signature == "y") {
        // Notification bytes: read whole rather than one value per byte.
        const void *bytes = nullptr;
        size_t size = 0;
        const int r = api.sd_bus_message_read_array(m, 'y', &bytes, &size);
        if (r < 0)
            return r;
        out.text.assign(static_cast<const char *>(bytes), size);
        return 1;
    }
    int r = api.sd_bus_message_enter_container(m, type, contents);
    if (r <= 0)
        return r < 0 ? r : -EBADMSG;
    r = ReadSequence(api, m, out.items, depth + 1);
    if (r < 0)
        return r;
    r = api.sd_bus_message_exit_container(m);
    return r < 0 ? r : 1;
}

} // namespace

UnixFd::~UnixFd()
{
    if (fd_ >= 0)
        close(fd_);
}

Value Value::Bool(bool b)
{
    Value v;
    v.type = 'b';
    v.boolean = b;
    return v;
}

Value Value::String(const std::string &s)
{
    Value v;
    v.type = 's';
    v.text = s;
    return v;
}

Value Value::ObjectPath(const std::string &s)
{
    Value v;
    v.type = 'o';
    v.text = s;
    return v;
}

Value Value::Int16(int16_t n)
{
    Value v;
    v.type = 'n';
    v.integer = n;
    return v;
}

Value Value::UInt16(uint16_t n)
{
    Value v;
    v.type = 'q';
    v.natural = n;
    return v;
}

Value Value::Int32(int32_t n)
{
    Value v;
    v.type = 'i';
    v.integer = n;
    return v;
}

Value Value::UInt32(uint32_t n)
{
    Value v;
    v.type = 'u';
    v.natural = n;
    return v;
}

Value Value::Bytes(const std::vector<uint8_t> &bytes)
{
    Value v;
    v.type = 'a';
    v.signature = "y";
    v.text.assign(bytes.begin(), bytes.end());
    return v;
}

Value Value::Variant(const Value &inner)
{
    Value v;
    v.type = 'v';
    v.signature = inner.Signature();
    v.items.push_back(inner);
    return v;
}

Value Value::Array(const std::string &elementSignature, std::vector<Value> items)
{
    Value v;
    v.type = 'a';
    v.signature = elementSignature;
    v.items = std::move(items);
    return v;
}

Value Value::DictEntry(const Value &key, const Value &value)
{
    Value v;
    v.type = 'e';
    v.signature = key.Signature() + value.Signature();
    v.items = {key, value};
    return v;
}

Value Value::StringVariantDict(const std::vector<std::pair<std::string, Value>> &entries)
{
    std::vector<Value> items;
    for (const auto &entry : entries)
        items.push_back(DictEntry(String(entry.first), Variant(entry.second)));
    return Array("{sv}", std::move(items));
}

std::string Value::Signature() const
{
    switch (type) {
    case 'a': return "a" + signature;
    case 'r': return "(" + signature + ")";
    case 'e': return "{" + signature + "}";
    case 'v': return "v";
    default: return std::string(1, type);
    }
}

std::string Value::Describe() const
{
    if (type == 'v' && !items.empty())
        return "a variant of " + items[0].Signature();
    return "type " + Signature();
}

const Value *DictLookup(const Value &dict, const std::string &key)
{
    if (dict.type != 'a')
        return nullptr;
    for (const Value &entry : dict.items) {
        if (entry.type != 'e' || entry.items.size() != 2)
            continue;
        const Value &k = entry.items[0];
        if ((k.type != 's' && k.type != 'o') || k.text != key)
            continue;
        const Value &v = entry.items[1];
        if (v.type == 'v')
            return v.items.empty() ? nullptr : &v.items[0];
        return &v;
    }
    return nullptr;
}

bool ReadValues(const SdBusApi &api, sd_bus_message *message, std::vector<Value> &out)
{
    return ReadSequence(api, message, out, 0) >= 0;
}

int AppendValue(const SdBusApi &api, sd_bus_message *m, const Value &value)
{
    switch (value.type) {
    case 'b': {
        const int b = value.boolean ? 1 : 0;
        return api.sd_bus_message_append_basic(m, 'b', &b);
    }
    case 'y': { const uint8_t n = static_cast<uint8_t>(value.natural); return api.sd_bus_message_append_basic(m, 'y', &n); }
    case 'n': { const int16_t n = static_cast<int16_t>(value.integer); return api.sd_bus_message_append_basic(m, 'n', &n); }
    case 'q': { const uint16_t n = static_cast<uint16_t>(value.natural); return api.sd_bus_message_append_basic(m, 'q', &n); }
    case 'i': { const int32_t n = static_cast<int32_t>(value.integer); return api.sd_bus_message_append_basic(m, 'i', &n); }
    case 'h': { const int fd = static_cast<int>(value.integer); return api.sd_bus_message_append_basic(m, 'h', &fd); }
    case 'u': { const uint32_t n = static_cast<uint32_t>(value.natural); return api.sd_bus_message_append_basic(m, 'u', &n); }
    case 'x': { const int64_t n = value.integer; return api.sd_bus_message_append_basic(m, 'x', &n); }
    case 't': { const uint64_t n = value.natural; return api.sd_bus_message_append_basic(m, 't', &n); }
    case 'd': { const double d = value.real; return api.sd_bus_message_append_basic(m, 'd', &d); }
    case 's': case 'o': case 'g': return api.sd_bus_message_append_basic(m, value.type, value.text.c_str());
    case 'a':
        if (value.signature == "y")
            return api.sd_bus_message_append_array(m, 'y', value.text.data(), value.text.size());
        [[fallthrough]];
    case 'v': case 'r': case 'e': {
        int r = api.sd_bus_message_open_container(m, value.type, value.signature.c_str());
        for (size_t i = 0; r >= 0 && i < value.items.size(); ++i)
            r = AppendValue(api, m, value.items[i]);
        return r < 0 ? r : api.sd_bus_message_close_container(m);
    }
    default:
        return -EINVAL;
    }
}

} // namespace tarvolt::bluez
