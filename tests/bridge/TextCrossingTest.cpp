// Texts cross into and out of the runtime unchanged when valid, with U+FFFD in place of
// what is not, and never as a null in place of a text.

#include "bridge/BridgeFixture.h"

#include "platform/MonoAPI.h"

namespace {

using testsupport::TestDouble;

// The text as the managed method received it, converted back.
std::string Received(const std::string& method, int index) {
    return gc2std(reinterpret_cast<MonoString*>(TestDouble::Arg(method, index)));
}

TEST_F(BridgeTest, TextsRoundTripThroughTheManagedSide) {
    const std::string texts[] = {"", "plain", "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC", "\xF0\x9F\x98\x80 non-BMP",
                                 "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"};
    for (const std::string& text : texts) {
        ASSERT_TRUE(bridge->Connect(text, "k", "o"));
        EXPECT_EQ(Received("Connect", 0), text);
    }
    // An empty text arrives as an empty managed string, not as null.
    bridge->Connect("", "", "");
    EXPECT_EQ(LastCall("Connect"), "\"\"|\"\"|\"\"");
}

TEST_F(BridgeTest, ManagedStringLengthCountsUtf16Units) {
    bridge->Connect("\xF0\x9F\x98\x80", "\xC3\xA9", "");
    auto* s = reinterpret_cast<MonoString*>(TestDouble::Arg("Connect", 0));
    EXPECT_EQ(MonoAPI::mono_string_length_ptr(s), 2);  // one surrogate pair
    s = reinterpret_cast<MonoString*>(TestDouble::Arg("Connect", 1));
    EXPECT_EQ(MonoAPI::mono_string_length_ptr(s), 1);
}

TEST_F(BridgeTest, ZeroByteEndsTheNativeText) {
    bridge->Connect(std::string("abc\0def", 7), "k", "o");
    EXPECT_EQ(LastCall("Connect"), "\"abc\"|\"k\"|\"o\"");
}

TEST_F(BridgeTest, InvalidUtf8ArrivesWithReplacementCharacters) {
    // A stray continuation byte, a truncated sequence, an overlong form, an encoded
    // surrogate, a code point above U+10FFFF.
    bridge->Connect("a\x80z", "b\xE6\x97z", "\xC0\xAF|\xED\xA0\x80|\xF5\x80");
    EXPECT_EQ(Received("Connect", 0), "a\xEF\xBF\xBDz");
    EXPECT_EQ(Received("Connect", 1), "b\xEF\xBF\xBDz");
    EXPECT_EQ(Received("Connect", 2),
              "\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST_F(BridgeTest, LoneSurrogatesComingBackBecomeReplacementCharacters) {
    Script("GetLastErrorString", "result", "string:x\\uD800y\\uDC00z\\uD83D");
    EXPECT_EQ(bridge->GetLastErrorString(), "x\xEF\xBF\xBDy\xEF\xBF\xBDz\xEF\xBF\xBD");
}

TEST_F(BridgeTest, EmbeddedZeroInAManagedStringIsKept) {
    Script("GetLastErrorString", "result", "string:a\\u0000b");
    EXPECT_EQ(bridge->GetLastErrorString(), std::string("a\0b", 3));
}

TEST_F(BridgeTest, NullManagedStringIsTheEmptyText) { EXPECT_EQ(gc2std(nullptr), ""); }

TEST_F(BridgeTest, SixtyFourMebibyteTextRoundTrips) {
    std::string big(64u << 20, 'x');
    for (size_t i = 0; i < big.size(); i += 4099) {
        big.replace(i, 3, "\xE2\x82\xAC");  // sprinkle three-byte characters
    }
    ASSERT_TRUE(bridge->AddCosmosDBRestoreItem(big));
    EXPECT_EQ(Received("AddCosmosDBRestoreItem", 0), big);
}

}  // namespace
