#include "logging/format.h"
#include "base/unicode.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

namespace {

std::wstring wideCapped(size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring out = zoka::formatWide(format, args, capacity);
    va_end(args);
    return out;
}

std::string narrowCapped(size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = zoka::formatNarrow(format, args, capacity);
    va_end(args);
    return out;
}

#define W(...) zoka::formatWideF(__VA_ARGS__)
#define N(...) narrowCapped(100000, __VA_ARGS__)

struct WideCase {
    const wchar_t* expected;
    std::wstring actual;
};

TEST(FormatTest, WideConversionsFollowTheSystemRule) {
    const std::wstring nullPointer(2 * sizeof(void*), L'0');
    const WideCase cases[] = {
        {L"plain text", W(L"plain text")},
        // %s is wide in a wide format on every build; %hs and %S take narrow UTF-8 text.
        {L"[wide]", W(L"[%s]", L"wide")},
        {L"[wide]", W(L"[%ls]", L"wide")},
        {L"[caf\u00e9]", W(L"[%hs]", "caf\xc3\xa9")},
        {L"[narrow]", W(L"[%S]", "narrow")},
        {L"[wide]", W(L"[%wS]", L"wide")},  // w names the width, as l does
        // A precision that cuts a narrow character in two drops the whole character.
        {L"[a][][][]",
         W(L"[%.1hs][%.1hs][%.2hs][%.3hs]", "ab", "\xc3\xa9", "\xe6\x97\xa5", "\xf0\x9f\x98\x80")},
        {L"\U0001F600!", W(L"%s!", L"\U0001F600")},
        {L"(null)|(null)",
         W(L"%s|%hs", static_cast<const wchar_t*>(nullptr), static_cast<const char*>(nullptr))},
        {L"[   ab][ab   ][ab][  abc]",
         W(L"[%5s][%-5s][%.2s][%*s]", L"ab", L"ab", L"abcdef", 5, L"abc")},
        {L"[abc  ][ab]", W(L"[%*s][%.*s]", -5, L"abc", 2, L"abcdef")},
        {L"[abc]", W(L"[%.*s]", -1, L"abc")},  // a negative precision counts as none
        // Characters.
        {L"\u00e9A", W(L"%c%hc", L'\u00e9', 'A')},
        {L"B", W(L"%C", 'B')},
        // Integers with every length modifier read at their own width.
        {L"42 -7 +5  5", W(L"%d %i %+d % d", 42, -7, 5, 5)},
        {L"00042|42   |  042|-0042", W(L"%05d|%-5d|%5.3d|%05d", 42, 42, 42, -42)},
        {L"ff FF 0xff 0XFF 17 017 0",
         W(L"%x %X %#x %#X %o %#o %#x", 255u, 255u, 255u, 255u, 15u, 15u, 0u)},
        {L"4294967295", W(L"%u", UINT_MAX)},
        {L"4464 -56 200", W(L"%hd %hhd %hhu", 70000, 200, 200)},
        {L"-9223372036854775808 18446744073709551615", W(L"%lld %llu", LLONG_MIN, ULLONG_MAX)},
        {L"123456789012 -5 7 8 9 -10", W(L"%I64d %ld %zu %jd %td %I32d", int64_t{123456789012}, -5L,
                                         size_t{7}, intmax_t{8}, ptrdiff_t{9}, int32_t{-10})},
        {L"4464 4000000000 8 7 9 123456789012 4294967295 6",
         W(L"%hu %lu %ju %zu %tu %I64u %I32u %Iu", 70000u, 4000000000ul, uintmax_t{8}, size_t{7},
           ptrdiff_t{9}, uint64_t{123456789012}, uint32_t{4294967295u}, size_t{6})},
        {L"[]", W(L"[%.0d]", 0)},
        // Floating point, through the C library's digits.
        {L"3.14 1.500000e+00 0.25   2.500|2.5     |",
         W(L"%.2f %e %g %7.3f|%-8.1f|", 3.14159, 1.5, 0.25, 2.5, 2.5)},
        {L"1.25", W(L"%.2Lf", 1.25L)},
        {L"100%", W(L"100%%")},
        {nullPointer.c_str(), W(L"%p", static_cast<void*>(nullptr))},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        EXPECT_EQ(std::wstring(cases[i].expected), cases[i].actual) << "case " << i;
    }
}

TEST(FormatTest, MalformedFormatsPrintLiterallyAndConsumeNothing) {
    const WideCase cases[] = {
        {L"100%", W(L"100%")},            // trailing percent sign
        {L"%y5", W(L"%y%d", 5)},          // unknown conversion, then a real one
        {L"%5.2Q|7", W(L"%5.2Q|%d", 7)},  // unknown conversion with flags and width
        {L"%n|8", W(L"%n|%d", 8)},        // %n never writes through an argument
        {L"%1$d|9", W(L"%1$d|%d", 9)},    // positional arguments are not supported
        {L"%l", W(L"%l")},                // length modifier with nothing after it
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        EXPECT_EQ(std::wstring(cases[i].expected), cases[i].actual) << "case " << i;
    }
    EXPECT_EQ(L"", zoka::formatWideF(nullptr));
}

TEST(FormatTest, NarrowFormatsTakeNarrowStringsAndConvertWideOnes) {
    EXPECT_EQ("a|\xc3\xa9|b|\xe2\x82\xac", N("%s|%ls|%hs|%lc", "a", L"\u00e9", "b", L'\u20ac'));
    EXPECT_EQ("[S]", N("[%S]", L"S"));
    EXPECT_EQ("(null)", N("%s", static_cast<const char*>(nullptr)));
    // A precision counts bytes of output and never cuts a character in two.
    EXPECT_EQ("[]", N("[%.1ls]", L"\u00e9"));
    EXPECT_EQ("[\xc3\xa9]", N("[%.3ls]", L"\u00e9\u00e9"));
    EXPECT_EQ("-12 0x1f 2.50", N("%d %#x %.2f", -12, 31u, 2.5));
}

TEST(FormatTest, OutputIsCutToCapacityMinusOne) {
    const std::wstring long5000(5000, L'x');
    EXPECT_EQ(4094u, wideCapped(4095, L"%s", long5000.c_str()).size());
    EXPECT_EQ(1022u, wideCapped(1023, L"%s", long5000.c_str()).size());
    EXPECT_EQ(L"abcd", wideCapped(5, L"abcdefgh"));
    EXPECT_EQ(L"12", wideCapped(3, L"%d%s", 12345, L"tail"));
    EXPECT_EQ(L"", wideCapped(1, L"abc"));
    EXPECT_EQ(L"", wideCapped(0, L"abc"));
    EXPECT_EQ(std::string(4094, 'y'), narrowCapped(4095, "%s", std::string(5000, 'y').c_str()));
    // A cut never leaves half a character behind.
    EXPECT_EQ("a", narrowCapped(3, "a\xc3\xa9"));
    // The cut counts UTF-16 units on every build: a surrogate pair that does not fit goes
    // whole, and a line of characters outside the BMP is as long as on Windows.
    EXPECT_EQ(L"a", wideCapped(3, L"a%s", L"\U0001F600"));
    EXPECT_EQ(L"a", wideCapped(3, L"a\U0001F600b"));
    std::wstring emoji5000;
    for (int i = 0; i < 5000; ++i)
        emoji5000 += L"\U0001F600";
    for (const size_t capacity : {4095u, 1023u}) {
        const std::wstring cut = wideCapped(capacity, L"x%s", emoji5000.c_str());
        EXPECT_EQ(capacity - 2, zoka::toUtf16(cut).size()) << capacity;  // x + whole pairs
    }
    // Huge widths and precisions stay bounded by the capacity.
    EXPECT_EQ(99u, wideCapped(100, L"%2147483647d", 1).size());
    EXPECT_EQ(99u, wideCapped(100, L"%*d", INT_MIN, 1).size());
    EXPECT_EQ(99u, wideCapped(100, L"%.*f", INT_MAX, 1.0).size());
}

// Every consumer reads the list through its own copy, so one list serves several targets.
std::wstring formatTwice(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring first = zoka::formatWide(format, args, 100);
    std::wstring second = zoka::formatWide(format, args, 100);
    va_end(args);
    return first + L"/" + second;
}

TEST(FormatTest, ArgumentListStaysUsable) {
    EXPECT_EQ(L"7 seven 2.5/7 seven 2.5", formatTwice(L"%d %s %.1f", 7, L"seven", 2.5));
}

}  // namespace
