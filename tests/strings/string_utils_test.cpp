#include "support/string_utils.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

namespace {

TEST(StringUtilsTest, RoundTrips) {
    const struct {
        std::wstring native;
        std::string utf8;
    } cases[] = {
        {L"", ""},
        {L"abc", "abc"},
        {L"\u00e9", "\xc3\xa9"},
        {L"\u20ac 5", "\xe2\x82\xac 5"},
        {L"\U0001F600", "\xf0\x9f\x98\x80"},
        {L"Caf\u00e9 \u65e5\u672c \U00010348",
         "Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x90\x8d\x88"},
    };
    for (const auto& c : cases) {
        std::string utf8 = "previous content";
        ASSERT_TRUE(zoka::nativeToUTF8(c.native.c_str(), utf8));
        EXPECT_EQ(c.utf8, utf8);
        std::wstring native = L"previous content";
        ASSERT_TRUE(zoka::utf8ToNative(c.utf8.c_str(), native));
        EXPECT_EQ(c.native, native);
        EXPECT_EQ(c.native, zoka::utf8ToNativeString(c.utf8));
    }
}

TEST(StringUtilsTest, IllFormedInputBecomesReplacementCharacters) {
    const struct {
        std::string utf8;
        std::wstring native;
    } cases[] = {
        {"a\xff"
         "b",
         L"a\uFFFDb"},
        {"a\xc3", L"a\uFFFD"},      // truncated sequence
        {"\xe2\x82z", L"\uFFFDz"},  // sequence cut short by an ASCII byte
    };
    for (const auto& c : cases) {
        std::wstring native;
        EXPECT_TRUE(zoka::utf8ToNative(c.utf8.c_str(), native));
        EXPECT_EQ(c.native, native);
    }
    // An unpaired surrogate in native text.
    const wchar_t lone[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    std::string utf8;
    EXPECT_TRUE(zoka::nativeToUTF8(lone, utf8));
    EXPECT_EQ(
        "a\xef\xbf\xbd"
        "b",
        utf8);
}

TEST(StringUtilsTest, ConversionStopsAtTheFirstNull) {
    const std::wstring native(L"ab\0cd", 5);
    std::string utf8;
    EXPECT_TRUE(zoka::nativeToUTF8(native.c_str(), utf8));
    EXPECT_EQ("ab", utf8);
    const std::string bytes("ef\0gh", 5);
    EXPECT_EQ(L"ef", zoka::utf8ToNativeString(bytes));
}

TEST(StringUtilsTest, GuidsAreFreshInRegistryForm) {
    const std::wregex form(
        LR"(\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\})");
    std::set<std::wstring> seen;
    for (int i = 0; i < 1000; ++i) {
        std::wstring guid = L"old";
        ASSERT_TRUE(zoka::newGuidString(guid));
        ASSERT_EQ(38u, guid.size());
        ASSERT_TRUE(std::regex_match(guid, form)) << i;
        EXPECT_TRUE(seen.insert(guid).second);
    }
}

}  // namespace
