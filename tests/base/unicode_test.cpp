#include "base/unicode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

std::wstring wideFromUnits(std::u16string_view units) {
    return zoka::fromUtf16(units);
}

TEST(Unicode, RoundTripsThroughUtf8AndUtf16) {
    const std::wstring samples[] = {
        L"", L"abc", L"caf\u00e9", L"\u65e5\u672c\u8a9e", L"x\U0001F600y", L"\uFFFD\uE000",
    };
    for (const auto& text : samples) {
        EXPECT_EQ(zoka::fromUtf8(zoka::toUtf8(text)), text);
        EXPECT_EQ(zoka::fromUtf16(zoka::toUtf16(text)), text);
    }
    EXPECT_EQ(zoka::toUtf8(L"\u00e9"), "\xC3\xA9");
    EXPECT_EQ(zoka::toUtf8(L"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(zoka::toUtf16(L"\U0001F600"), std::u16string(u"\xD83D\xDE00"));
    // The first character beyond the BMP, and one whose low surrogate is the last, U+DFFF.
    const struct {
        const wchar_t* text;
        const char* utf8;
        std::u16string utf16;
    } boundaries[] = {
        {L"\U00010000", "\xF0\x90\x80\x80", u"\xD800\xDC00"},
        {L"\U0001F3FF", "\xF0\x9F\x8F\xBF", u"\xD83C\xDFFF"},
        {L"\U0010FFFF", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
    };
    for (const auto& b : boundaries) {
        SCOPED_TRACE(b.utf8);
        EXPECT_EQ(zoka::toUtf8(b.text), b.utf8);
        EXPECT_EQ(zoka::fromUtf8(b.utf8), b.text);
        EXPECT_EQ(zoka::toUtf16(b.text), b.utf16);
        EXPECT_EQ(zoka::fromUtf16(b.utf16), b.text);
    }
}

TEST(Unicode, IllFormedUtf8BecomesReplacementCharacters) {
    struct Case {
        const char* bytes;
        const wchar_t* expected;
    } cases[] = {
        {"a\xFF"
         "b",
         L"a\uFFFDb"},                            // invalid byte
        {"\xC3", L"\uFFFD"},                      // truncated sequence
        {"\xC0\xAF", L"\uFFFD\uFFFD"},            // overlong form
        {"\xE0\x9F\xBF", L"\uFFFD\uFFFD\uFFFD"},  // overlong three-byte form
        {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
        {"\xE2\x82"
         "x",
         L"\uFFFDx"},                                       // maximal subpart, then a valid byte
        {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
    };
    for (const auto& c : cases)
        EXPECT_EQ(zoka::fromUtf8(c.bytes), c.expected) << c.bytes;
}

TEST(Unicode, UnpairedSurrogateBecomesReplacementInUtf8) {
    std::wstring lone = wideFromUnits(
        u"a\xD800"
        "b");
    EXPECT_EQ(zoka::toUtf8(lone),
              "a\xEF\xBF\xBD"
              "b");
}

TEST(Unicode, ComparesByUtf16CodeUnits) {
    // U+FF21 (fullwidth A) sorts after U+1F600 in UTF-16 (lead surrogate D83D < FF21),
    // though its code point is smaller.
    std::vector<std::wstring> keys = {L"\uFF21", L"\U0001F600", L"b", L"B", L"ba", L""};
    std::sort(keys.begin(), keys.end(),
              [](const auto& a, const auto& b) { return zoka::compareUtf16(a, b) < 0; });
    std::vector<std::wstring> expected = {L"", L"B", L"b", L"ba", L"\U0001F600", L"\uFF21"};
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(zoka::compareUtf16(L"abc", L"abc"), 0);
}

}  // namespace
