#include "base/unicode.h"

namespace zoka {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isHighSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Walks a wide string as code points, pairing surrogates when wchar_t is 16 bits wide.
template <typename Fn>
void forEachCodePoint(std::wstring_view text, Fn&& fn) {
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            c &= 0xFFFF;
            if (isHighSurrogate(c) && i + 1 < text.size() &&
                isLowSurrogate(static_cast<char32_t>(text[i + 1]) & 0xFFFF)) {
                char32_t low = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
                c = kReplacement;
            }
        } else if (c > 0x10FFFF || isHighSurrogate(c) || isLowSurrogate(c)) {
            c = kReplacement;
        }
        fn(c);
    }
}

void appendWide(std::wstring& out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(c));
}

}  // namespace

std::string toUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    forEachCodePoint(text, [&out](char32_t c) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    });
    return out;
}

std::wstring fromUtf8(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    size_t i = 0;
    const size_t n = bytes.size();
    auto byteAt = [&bytes](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    while (i < n) {
        unsigned char b = byteAt(i);
        if (b < 0x80) {
            out.push_back(static_cast<wchar_t>(b));
            ++i;
            continue;
        }
        // Lead byte: length and the range allowed for the second byte (this rejects overlong
        // forms and surrogates exactly as the Unicode "maximal subpart" rule requires).
        int len = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        char32_t c = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            c = b & 0x0F;
            if (b == 0xE0)
                lo = 0xA0;
            if (b == 0xED)
                hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            c = b & 0x07;
            if (b == 0xF0)
                lo = 0x90;
            if (b == 0xF4)
                hi = 0x8F;
        } else {
            out.push_back(static_cast<wchar_t>(kReplacement));
            ++i;
            continue;
        }
        size_t j = i + 1;
        bool ok = true;
        for (int k = 1; k < len; ++k, ++j) {
            if (j >= n) {
                ok = false;
                break;
            }
            unsigned char cb = byteAt(j);
            unsigned char minB = (k == 1) ? lo : 0x80;
            unsigned char maxB = (k == 1) ? hi : 0xBF;
            if (cb < minB || cb > maxB) {
                ok = false;
                break;
            }
            c = (c << 6) | (cb & 0x3F);
        }
        if (!ok) {
            out.push_back(static_cast<wchar_t>(kReplacement));
            i = j;  // skip the maximal valid prefix of the broken sequence
            continue;
        }
        appendWide(out, c);
        i = j;
    }
    return out;
}

std::u16string toUtf16(std::wstring_view text) {
    std::u16string out;
    out.reserve(text.size());
    if constexpr (sizeof(wchar_t) == 2) {
        for (wchar_t c : text)
            out.push_back(static_cast<char16_t>(c));
    } else {
        forEachCodePoint(text, [&out](char32_t c) {
            if (c >= 0x10000) {
                c -= 0x10000;
                out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
                out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
            } else {
                out.push_back(static_cast<char16_t>(c));
            }
        });
    }
    return out;
}

std::wstring fromUtf16(std::u16string_view units) {
    std::wstring out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if constexpr (sizeof(wchar_t) == 2) {
            out.push_back(static_cast<wchar_t>(c));
            continue;
        }
        if (isHighSurrogate(c) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
            c = kReplacement;
        }
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

int compareUtf16(std::wstring_view a, std::wstring_view b) {
    if constexpr (sizeof(wchar_t) == 2) {
        int r = a.compare(b);
        // wstring_view::compare uses char_traits<wchar_t>, which compares unsigned on mingw.
        return r < 0 ? -1 : (r > 0 ? 1 : 0);
    } else {
        // UTF-16 order: BMP units below D800, then supplementary characters (lead surrogates
        // D800..DBFF keep code point order), then DC00..FFFF.
        auto rank = [](wchar_t w) -> unsigned long {
            unsigned long c = static_cast<unsigned long>(w);
            if (c < 0xD800)
                return c;
            if (c >= 0x10000)
                return 0xD800 + (c - 0x10000);
            if (c <= 0xDBFF)
                return 0xD800 + ((c - 0xD800) << 10);
            return c + 0x110000;
        };
        size_t n = a.size() < b.size() ? a.size() : b.size();
        for (size_t i = 0; i < n; ++i) {
            unsigned long ra = rank(a[i]), rb = rank(b[i]);
            if (ra != rb)
                return ra < rb ? -1 : 1;
        }
        if (a.size() == b.size())
            return 0;
        return a.size() < b.size() ? -1 : 1;
    }
}

}  // namespace zoka
