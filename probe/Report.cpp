#include "Report.h"

#include "bluetooth/Discovery.h"
#include "bluetooth/LinkText.h"

#include <cstdio>

namespace tarvolt::probe {

namespace {

std::string Fixed3(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// Names come from whatever advertises nearby: control characters (a line break, a terminal's
// escape sequence) must not reach a terminal, nor split one line in two.
std::string Printable(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            out += '?';
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            out += '?';  // a C1 control character (U+0080 to U+009F) in UTF-8
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace

std::string AddressText(uint64_t address)
{
    char text[24];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", static_cast<unsigned>((address >> 40) & 0xFF),
                  static_cast<unsigned>((address >> 32) & 0xFF), static_cast<unsigned>((address >> 24) & 0xFF),
                  static_cast<unsigned>((address >> 16) & 0xFF), static_cast<unsigned>((address >> 8) & 0xFF),
                  static_cast<unsigned>(address & 0xFF));
    return text;
}

std::string HexBytes(const uint8_t *bytes, size_t length)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        if (i != 0)
            out += ' ';
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0x0F];
    }
    return out;
}

std::string JsonString(const std::string &text)
{
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
                out += escaped;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

std::string StateWords(LinkState state)
{
    switch (state) {
    case StartScanning: return "starting the scan";
    case Scanning: return "scanning";
    case TargetFound: return "rifle found";
    case ConnectionLost: return "connection lost";
    case Connected: return "connected and subscribed";
    }
    return "state " + std::to_string(static_cast<int>(state));
}

std::string StateKey(LinkState state)
{
    switch (state) {
    case StartScanning: return "starting_scan";
    case Scanning: return "scanning";
    case TargetFound: return "rifle_found";
    case ConnectionLost: return "connection_lost";
    case Connected: return "connected";
    }
    return "state_" + std::to_string(static_cast<int>(state));
}

// One line of either form: the JSON object's fields, or the text after the time.
class Report::Line {
public:
    Line(Report &report, const char *event) : report_(report)
    {
        const std::string t = Fixed3(report.Elapsed());
        if (report.json_)
            text_ = "{\"t\":" + t + ",\"event\":\"" + event + "\"";
        else
            text_ = std::string(t.size() < 8 ? 8 - t.size() : 0, ' ') + t + " s  ";
    }
    Line &Text(const std::string &key, const std::string &value)
    {
        if (report_.json_)
            text_ += ",\"" + key + "\":" + JsonString(value);
        return *this;
    }
    Line &Number(const std::string &key, int64_t value)
    {
        if (report_.json_)
            text_ += ",\"" + key + "\":" + std::to_string(value);
        return *this;
    }
    Line &Null(const std::string &key)
    {
        if (report_.json_)
            text_ += ",\"" + key + "\":null";
        return *this;
    }
    Line &Flag(const std::string &key, bool value)
    {
        if (report_.json_)
            text_ += ",\"" + key + "\":" + (value ? "true" : "false");
        return *this;
    }
    // The text form's words (ignored in JSON).
    Line &Words(const std::string &words)
    {
        if (!report_.json_)
            text_ += words;
        return *this;
    }
    void Write() { report_.Write(report_.json_ ? text_ + "}" : Printable(text_)); }

private:
    Report &report_;
    std::string text_;
};

Report::Report(bool json, LineSink out)
    : json_(json), out_(std::move(out)), start_(std::chrono::steady_clock::now())
{
}

double Report::Elapsed() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Report::Write(const std::string &line)
{
    std::lock_guard<std::mutex> lock(mutex_);
    out_(line);
}

void Report::Begin(const std::string &command, std::optional<int> seconds, const std::string &text)
{
    if (!json_) {
        Write(text);
        return;
    }
    Line line(*this, "begin");
    line.Text("command", command);
    if (seconds)
        line.Number("seconds", *seconds);
    else
        line.Null("seconds");
    line.Text("target", Utf16ToUtf8(kTargetName)).Write();
}

void Report::Device(uint64_t address, const std::u16string &name, std::optional<int16_t> rssi, bool rifle,
                    bool connected)
{
    Line line(*this, "device");
    line.Text("address", AddressText(address)).Number("address_value", static_cast<int64_t>(address));
    if (name.empty())
        line.Null("name");
    else
        line.Text("name", Utf16ToUtf8(name));
    if (rssi)
        line.Number("rssi", *rssi);
    else
        line.Null("rssi");
    line.Flag("rifle", rifle).Flag("connected", connected);
    char strength[16];
    if (connected)
        std::snprintf(strength, sizeof strength, "connected");
    else if (rssi)
        std::snprintf(strength, sizeof strength, "%4d dBm", *rssi);
    else
        std::snprintf(strength, sizeof strength, "   ? dBm");
    line.Words("device  " + AddressText(address) + "  " + strength + "  " +
               (name.empty() ? std::string("(no name)") : Utf16ToUtf8(name)) + (rifle ? "  <- the rifle" : ""));
    line.Write();
}

void Report::Link(const std::string &text)
{
    Line(*this, "link").Text("line", text).Words("link    " + text).Write();
}

void Report::State(LinkState state, uint64_t address)
{
    Line line(*this, "state");
    line.Text("state", StateKey(state));
    std::string words = "state   " + StateWords(state);
    if ((state == TargetFound || state == Connected) && address != 0) {
        line.Text("address", AddressText(address));
        words += " (" + AddressText(address) + ")";
    }
    line.Words(words).Write();
}

void Report::Action(const std::string &action, const uint8_t *bytes, size_t length)
{
    const std::string hex = HexBytes(bytes, length);
    Line(*this, "action")
        .Text("action", action)
        .Text("bytes", hex)
        .Words("action  " + action + (hex.empty() ? "  (no bytes)" : "  " + hex))
        .Write();
}

void Report::Note(const std::string &kind, const std::string &text)
{
    Line(*this, "note").Text("kind", kind).Text("text", text).Words(text).Write();
}

void Report::End(const Verdict &verdict)
{
    if (!json_) {
        Write(Printable(verdict.message));
        return;
    }
    Line line(*this, "verdict");
    line.Text("result", verdict.result).Number("exit_code", verdict.exitCode).Text("message", verdict.message);
    for (const auto &field : verdict.texts)
        line.Text(field.first, field.second);
    for (const auto &field : verdict.numbers)
        line.Number(field.first, field.second);
    for (const auto &field : verdict.flags)
        line.Flag(field.first, field.second);
    line.Write();
}

} // namespace tarvolt::probe
