// BlueZ's text forms as the backend reads them: addresses, UUIDs, names, and D-Bus dictionaries.
#include "BluezText.h"
#include "DbusValue.h"

#include <gtest/gtest.h>

namespace {

using namespace tarvolt::bluez;

// Catches: an address read with its octets in the wrong order (the link would connect to, and log,
// another device than the one found) or a malformed one taken as a device.
TEST(BluezText, AddressesReadAsThePlatformsFortyEightBits)
{
    EXPECT_EQ(ParseAddress("AA:BB:CC:DD:EE:FF"), std::optional<uint64_t>(187723572702975ull));
    EXPECT_EQ(ParseAddress("aa:bb:cc:dd:ee:ff"), std::optional<uint64_t>(0xAABBCCDDEEFFull));
    EXPECT_EQ(DevicePath("/org/bluez/hci0", 0xAABBCCDDEEFFull), "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF");
    for (const char *bad : {"", "AA:BB:CC:DD:EE", "AA:BB:CC:DD:EE:FF:00", "AA-BB-CC-DD-EE-FF", "AA:BB:CC:DD:EE:FG"})
        EXPECT_FALSE(ParseAddress(bad).has_value()) << bad;
}

// Catches: BlueZ's lower-case UUIDs not matching the rifle's (the service would never be found),
// or a malformed UUID taken for some value.
TEST(BluezText, UuidsMatchWhateverTheirLetterCase)
{
    const tarvolt::radio::Guid expected = {0x0000FFF0, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
    EXPECT_EQ(ParseUuid("0000fff0-0000-1000-8000-00805f9b34fb"), std::optional<tarvolt::radio::Guid>(expected));
    EXPECT_EQ(ParseUuid("0000FFF0-0000-1000-8000-00805F9B34FB"), std::optional<tarvolt::radio::Guid>(expected));
    EXPECT_EQ(RegistryText(expected), "{0000FFF0-0000-1000-8000-00805F9B34FB}");
    for (const char *bad : {"fff0", "0000fff0-0000-1000-8000-00805f9b34f", "0000fff0+0000-1000-8000-00805f9b34fb",
                            "0000fff0-0000-1000-8000-00805f9b34fz"})
        EXPECT_FALSE(ParseUuid(bad).has_value()) << bad;
}

// Catches: a device name that is not valid UTF-8 (any peripheral chooses its own) turned into
// invalid UTF-16, or its bytes dropped so that two names compare equal.
TEST(BluezText, NamesBecomeUtf16WithBrokenSequencesReplaced)
{
    EXPECT_EQ(Utf8ToUtf16("Rifle Q508"), u"Rifle Q508");
    EXPECT_EQ(Utf8ToUtf16("Gr\xC3\xBC\xC3\x9F \xF0\x9F\x94\xAB"), u"Gr\u00FC\u00DF \U0001F52B");
    EXPECT_EQ(Utf8ToUtf16("A\xFF" "B"), u"A\uFFFDB");
    EXPECT_EQ(Utf8ToUtf16("A\xC3"), u"A\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD");  // an encoded surrogate
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD");      // an overlong form
}

// Catches: a lookup that reads a value from something that is not a string-keyed dictionary.
TEST(BluezText, DictionaryLookupOnlyInDictionaries)
{
    const Value dict = Value::StringVariantDict({{"Name", Value::String("Rifle Q508")}, {"RSSI", Value::Int16(-60)}});
    ASSERT_NE(DictLookup(dict, "RSSI"), nullptr);
    EXPECT_EQ(DictLookup(dict, "RSSI")->Signature(), "n");
    EXPECT_EQ(DictLookup(dict, "Address"), nullptr);
    EXPECT_EQ(DictLookup(Value::Bytes({1, 2}), "Name"), nullptr);
    EXPECT_EQ(dict.Signature(), "a{sv}");
}

} // namespace
