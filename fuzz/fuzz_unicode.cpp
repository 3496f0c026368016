// The UTF-8 and UTF-16 conversions: any input converts without harm, valid text round-trips
// exactly, and ill-formed text comes back as well-formed text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/unicode.h"
#include "fuzz/fuzz_common.h"

namespace {

// Well-formed UTF-8 as the Unicode standard defines it (shortest forms, no surrogates).
bool validUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        for (size_t k = 1; k <= n; ++k) {
            if (i + k >= s.size())
                return false;
            const unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (d & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

bool validUtf16(std::u16string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const char16_t u = s[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 == s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::wstring wide = zoka::fromUtf8(bytes);
    const std::string back = zoka::toUtf8(wide);
    if (validUtf8(bytes) && back != bytes)
        fuzzsupport::fail("valid UTF-8 did not round-trip");
    if (!validUtf8(back))
        fuzzsupport::fail("toUtf8 produced ill-formed UTF-8");
    if (zoka::fromUtf16(zoka::toUtf16(wide)) != wide)
        fuzzsupport::fail("wide text did not round-trip through UTF-16");

    std::u16string units(size / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    const std::u16string again = zoka::toUtf16(zoka::fromUtf16(units));
    if (validUtf16(units) && again != units)
        fuzzsupport::fail("valid UTF-16 did not round-trip");
    if (!validUtf16(again))
        fuzzsupport::fail("toUtf16 produced ill-formed UTF-16");
    // Ordering by UTF-16 units is a total order: antisymmetric on any pair.
    const std::wstring other = zoka::fromUtf16(units);
    if ((zoka::compareUtf16(wide, other) > 0) != (zoka::compareUtf16(other, wide) < 0))
        fuzzsupport::fail("compareUtf16 is not antisymmetric");
    return 0;
}
