#include "logging/format.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <limits>
#include <string_view>
#include <vector>

#include "base/unicode.h"

namespace zoka {
namespace {

// Fields wider than this are cut down: the output is bounded anyway, and a huge width or
// precision must not make the formatter allocate without bound.
constexpr int kMaxField = 1 << 20;

enum class Length { kNone, kHH, kH, kL, kLL, kJ, kZ, kT, kBigL, kI64, kI32, kI, kW };

struct Spec {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alt = false;
    bool zero = false;
    bool widthStar = false;
    bool precisionStar = false;
    int width = 0;
    int precision = -1;  // -1: none given
    Length length = Length::kNone;
    char conversion = 0;
};

// UTF-16 code units of one character: where wchar_t is 32 bits wide, a character outside the
// BMP takes two, as it does in Windows' buffers; every other character takes one.
template <typename Ch>
size_t unitsOf(Ch c) {
    if constexpr (sizeof(Ch) == 4)
        return static_cast<uint32_t>(c) > 0xFFFF ? 2 : 1;
    return 1;
}

// Appends to a string that may not grow past `limit` characters (UTF-16 code units for wide
// text, as on Windows, so both builds cut a line at the same place); once full, stays full.
template <typename Ch>
class Sink {
public:
    Sink(std::basic_string<Ch>& out, size_t limit) : out_(out), limit_(limit) {
        for (Ch c : out_)
            used_ += unitsOf(c);
    }

    bool full() const { return used_ >= limit_; }
    bool truncated() const { return truncated_; }
    void put(Ch c) {
        if (take(c))
            out_.push_back(c);
    }
    void append(const Ch* text, size_t n) {
        if constexpr (sizeof(Ch) != 4) {
            const size_t room = limit_ - used_;
            if (n > room) {
                n = room;
                truncated_ = true;
            }
            out_.append(text, n);
            used_ += n;
        } else {
            for (size_t i = 0; i < n && take(text[i]); ++i)
                out_.push_back(text[i]);
        }
    }
    void fill(Ch c, size_t n) {
        for (size_t i = 0; i < n && take(c); ++i)
            out_.push_back(c);
    }

private:
    // Counts `c` in when it fits; otherwise notes the loss and stays full: a character that
    // would need two units where one is left is dropped, as Windows drops the half pair.
    bool take(Ch c) {
        const size_t units = unitsOf(c);
        if (used_ + units > limit_) {
            truncated_ = true;
            used_ = limit_;
            return false;
        }
        used_ += units;
        return true;
    }

    std::basic_string<Ch>& out_;
    size_t limit_;
    size_t used_ = 0;
    bool truncated_ = false;
};

int clampField(long long value) {
    return static_cast<int>(std::min<long long>(value, kMaxField));
}

template <typename Ch>
bool isDigit(Ch c) {
    return c >= Ch('0') && c <= Ch('9');
}

// Reads one conversion after its '%'. Returns the position after it, or nullptr when the text
// is no conversion this formatter knows (then it is printed literally).
template <typename Ch>
const Ch* parseSpec(const Ch* p, Spec& spec) {
    for (;; ++p) {
        if (*p == Ch('-')) {
            spec.left = true;
        } else if (*p == Ch('+')) {
            spec.plus = true;
        } else if (*p == Ch(' ')) {
            spec.space = true;
        } else if (*p == Ch('#')) {
            spec.alt = true;
        } else if (*p == Ch('0')) {
            spec.zero = true;
        } else {
            break;
        }
    }
    if (*p == Ch('*')) {
        spec.widthStar = true;
        ++p;
    } else {
        long long w = 0;
        for (; isDigit(*p); ++p)
            w = std::min<long long>(w * 10 + (*p - Ch('0')), kMaxField);
        spec.width = static_cast<int>(w);
    }
    if (*p == Ch('.')) {
        ++p;
        if (*p == Ch('*')) {
            spec.precisionStar = true;
            ++p;
        } else {
            long long prec = 0;
            for (; isDigit(*p); ++p)
                prec = std::min<long long>(prec * 10 + (*p - Ch('0')), kMaxField);
            spec.precision = static_cast<int>(prec);
        }
    }
    switch (static_cast<char32_t>(*p)) {
        case 'h':
            ++p;
            spec.length = Length::kH;
            if (*p == Ch('h')) {
                ++p;
                spec.length = Length::kHH;
            }
            break;
        case 'l':
            ++p;
            spec.length = Length::kL;
            if (*p == Ch('l')) {
                ++p;
                spec.length = Length::kLL;
            }
            break;
        case 'j':
            ++p;
            spec.length = Length::kJ;
            break;
        case 'z':
            ++p;
            spec.length = Length::kZ;
            break;
        case 't':
            ++p;
            spec.length = Length::kT;
            break;
        case 'L':
            ++p;
            spec.length = Length::kBigL;
            break;
        case 'w':
            ++p;
            spec.length = Length::kW;
            break;
        case 'I':
            ++p;
            if (p[0] == Ch('6') && p[1] == Ch('4')) {
                p += 2;
                spec.length = Length::kI64;
            } else if (p[0] == Ch('3') && p[1] == Ch('2')) {
                p += 2;
                spec.length = Length::kI32;
            } else {
                spec.length = Length::kI;
            }
            break;
        default:
            break;
    }
    const char32_t c = static_cast<char32_t>(*p);
    if (c == 0 || c > 0x7F || !std::strchr("diouxXcCsSpfFeEgGaA%", static_cast<int>(c))) {
        return nullptr;
    }
    spec.conversion = static_cast<char>(c);
    return p + 1;
}

// Width and precision given as '*' come first in the argument list, in that order.
void readStars(Spec& spec, va_list* args) {
    if (spec.widthStar) {
        long long w = va_arg(*args, int);
        if (w < 0) {
            spec.left = true;
            w = -w;
        }
        spec.width = clampField(w);
    }
    if (spec.precisionStar) {
        int prec = va_arg(*args, int);
        spec.precision = prec < 0 ? -1 : clampField(prec);
    }
}

long long readSigned(const Spec& spec, va_list* args) {
    switch (spec.length) {
        case Length::kHH:
            return static_cast<signed char>(va_arg(*args, int));
        case Length::kH:
            return static_cast<short>(va_arg(*args, int));
        case Length::kL:
            return va_arg(*args, long);
        case Length::kLL:
        case Length::kBigL:
            return va_arg(*args, long long);
        case Length::kJ:
            return static_cast<long long>(va_arg(*args, intmax_t));
        case Length::kZ:
        case Length::kT:
        case Length::kI:
            return static_cast<long long>(va_arg(*args, ptrdiff_t));
        case Length::kI64:
            return static_cast<long long>(va_arg(*args, int64_t));
        case Length::kI32:
            return va_arg(*args, int32_t);
        default:
            return va_arg(*args, int);
    }
}

unsigned long long readUnsigned(const Spec& spec, va_list* args) {
    switch (spec.length) {
        case Length::kHH:
            return static_cast<unsigned char>(va_arg(*args, unsigned int));
        case Length::kH:
            return static_cast<unsigned short>(va_arg(*args, unsigned int));
        case Length::kL:
            return va_arg(*args, unsigned long);
        case Length::kLL:
        case Length::kBigL:
            return va_arg(*args, unsigned long long);
        case Length::kJ:
            return static_cast<unsigned long long>(va_arg(*args, uintmax_t));
        case Length::kZ:
        case Length::kI:
            return va_arg(*args, size_t);
        case Length::kT:
            return static_cast<size_t>(va_arg(*args, ptrdiff_t));
        case Length::kI64:
            return static_cast<unsigned long long>(va_arg(*args, uint64_t));
        case Length::kI32:
            return va_arg(*args, uint32_t);
        default:
            return va_arg(*args, unsigned int);
    }
}

// Pads `body` (already in the output's character type) to the field width.
template <typename Ch>
void putPadded(Sink<Ch>& sink, const Spec& spec, const Ch* body, size_t n) {
    const size_t width = static_cast<size_t>(spec.width);
    const size_t pad = width > n ? width - n : 0;
    if (!spec.left)
        sink.fill(Ch(' '), pad);
    sink.append(body, n);
    if (spec.left)
        sink.fill(Ch(' '), pad);
}

template <typename Ch>
void putInteger(Sink<Ch>& sink, const Spec& spec, unsigned long long magnitude, bool negative,
                bool isSigned) {
    unsigned base = 10;
    const char* digitSet = "0123456789abcdef";
    if (spec.conversion == 'o')
        base = 8;
    if (spec.conversion == 'x' || spec.conversion == 'X')
        base = 16;
    if (spec.conversion == 'X')
        digitSet = "0123456789ABCDEF";

    char digits[32];
    size_t nd = 0;
    for (unsigned long long v = magnitude; v != 0; v /= base)
        digits[nd++] = digitSet[v % base];
    size_t precision = spec.precision < 0 ? 1 : static_cast<size_t>(spec.precision);
    if (base == 8 && spec.alt && precision <= nd)
        precision = nd + 1;  // "#o" shows a leading 0

    char prefix[3] = {};
    size_t np = 0;
    if (negative) {
        prefix[np++] = '-';
    } else if (isSigned && spec.plus) {
        prefix[np++] = '+';
    } else if (isSigned && spec.space) {
        prefix[np++] = ' ';
    }
    if (base == 16 && spec.alt && magnitude != 0) {
        prefix[np++] = '0';
        prefix[np++] = spec.conversion;
    }

    const size_t zeros = precision > nd ? precision - nd : 0;
    size_t length = np + zeros + nd;
    const size_t width = static_cast<size_t>(spec.width);
    const size_t pad = width > length ? width - length : 0;
    // The 0 flag pads between the sign or prefix and the digits, unless a precision is given.
    const bool zeroPad = spec.zero && !spec.left && spec.precision < 0;
    if (!spec.left && !zeroPad)
        sink.fill(Ch(' '), pad);
    for (size_t i = 0; i < np; ++i)
        sink.put(Ch(prefix[i]));
    if (zeroPad)
        sink.fill(Ch('0'), pad);
    sink.fill(Ch('0'), zeros);
    while (nd > 0)
        sink.put(Ch(digits[--nd]));
    if (spec.left)
        sink.fill(Ch(' '), pad);
}

template <typename Ch>
void putPointer(Sink<Ch>& sink, const Spec& spec, const void* pointer) {
    // Windows' form on every build: all hexadecimal digits of the address, upper case.
    const uintptr_t value = reinterpret_cast<uintptr_t>(pointer);
    Ch body[2 * sizeof(uintptr_t)];
    const size_t n = 2 * sizeof(uintptr_t);
    for (size_t i = 0; i < n; ++i) {
        body[n - 1 - i] = Ch("0123456789ABCDEF"[(value >> (4 * i)) & 0xF]);
    }
    putPadded(sink, spec, body, n);
}

template <typename Ch>
void putFloat(Sink<Ch>& sink, const Spec& spec, va_list* args) {
    // Rebuild a narrow conversion with explicit numbers and let the C library do the digits.
    char format[48];
    int n = std::snprintf(format, sizeof(format), "%%%s%s%s%s%s%d", spec.left ? "-" : "",
                          spec.plus ? "+" : "", spec.space ? " " : "", spec.alt ? "#" : "",
                          spec.zero ? "0" : "", spec.width);
    if (spec.precision >= 0) {
        n += std::snprintf(format + n, sizeof(format) - static_cast<size_t>(n), ".%d",
                           spec.precision);
    }
    const bool isLong = spec.length == Length::kBigL;
    std::snprintf(format + n, sizeof(format) - static_cast<size_t>(n), "%s%c", isLong ? "L" : "",
                  spec.conversion);

    char small[128];
    std::vector<char> large;
    char* buffer = small;
    long double longValue = 0;
    double value = 0;
    if (isLong) {
        longValue = va_arg(*args, long double);
    } else {
        value = va_arg(*args, double);
    }
    auto print = [&](char* out, size_t size) {
        return isLong ? std::snprintf(out, size, format, longValue)
                      : std::snprintf(out, size, format, value);
    };
    int needed = print(small, sizeof(small));
    if (needed < 0)
        return;
    if (static_cast<size_t>(needed) >= sizeof(small)) {
        large.resize(static_cast<size_t>(needed) + 1);
        buffer = large.data();
        needed = print(buffer, large.size());
        if (needed < 0)
            return;
    }
    for (int i = 0; i < needed; ++i)
        sink.put(Ch(static_cast<unsigned char>(buffer[i])));
}

// Length of a string argument, reading no further than `limit` units.
template <typename C>
size_t boundedLength(const C* text, int limit) {
    size_t n = 0;
    const size_t max = limit < 0 ? std::numeric_limits<size_t>::max() : static_cast<size_t>(limit);
    while (n < max && text[n] != C(0))
        ++n;
    return n;
}

// Drops a character that the cut split in two: a lead byte without all its continuation
// bytes, or a high surrogate without its partner.
void trimPartial(std::string& text) {
    size_t i = text.size();
    size_t back = 0;
    while (i > 0 && back < 4 && (static_cast<unsigned char>(text[i - 1]) & 0xC0) == 0x80) {
        --i;
        ++back;
    }
    if (i == 0)
        return;
    const unsigned char lead = static_cast<unsigned char>(text[i - 1]);
    size_t need = 0;
    if (lead >= 0xF0) {
        need = 3;
    } else if (lead >= 0xE0) {
        need = 2;
    } else if (lead >= 0xC0) {
        need = 1;
    }
    if (need > back)
        text.resize(i - 1);
}

void trimPartial(std::wstring& text) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (!text.empty()) {
            const unsigned last = static_cast<unsigned>(text.back()) & 0xFFFF;
            if (last >= 0xD800 && last <= 0xDBFF)
                text.pop_back();
        }
    }
}

// The string argument of %s / %c, converted to the output's width.
void putText(Sink<wchar_t>& sink, const Spec& spec, const wchar_t* text, size_t n) {
    putPadded(sink, spec, text, n);
}
void putText(Sink<char>& sink, const Spec& spec, const char* text, size_t n) {
    putPadded(sink, spec, text, n);
}
void putText(Sink<wchar_t>& sink, const Spec& spec, const char* text, size_t n) {
    std::string narrow(text, n);
    if (spec.precision >= 0)
        trimPartial(narrow);  // a precision may cut a character in two
    const std::wstring wide = fromUtf8(narrow);
    putPadded(sink, spec, wide.data(), wide.size());
}
void putText(Sink<char>& sink, const Spec& spec, const wchar_t* text, size_t n) {
    std::string narrow = toUtf8(std::wstring_view(text, n));
    if (spec.precision >= 0 && narrow.size() > static_cast<size_t>(spec.precision)) {
        narrow.resize(static_cast<size_t>(spec.precision));  // precision counts output bytes
        trimPartial(narrow);
    }
    putPadded(sink, spec, narrow.data(), narrow.size());
}

template <typename Ch, typename Arg>
void putString(Sink<Ch>& sink, const Spec& spec, const Arg* text) {
    if (text == nullptr) {
        static const Arg kNull[] = {Arg('('), Arg('n'), Arg('u'), Arg('l'),
                                    Arg('l'), Arg(')'), Arg(0)};
        text = kNull;
    }
    putText(sink, spec, text, boundedLength(text, spec.precision));
}

template <typename Ch, typename Arg>
void putChar(Sink<Ch>& sink, const Spec& spec, int value) {
    Spec plain = spec;
    plain.precision = -1;
    const Arg c = static_cast<Arg>(value);
    putText(sink, plain, &c, 1);
}

// In a wide format %s and %c are wide, in a narrow one narrow; h and l/w name the width
// explicitly, and %S / %C take the other width, as the Windows runtime does.
template <typename Ch>
bool wantsWideText(const Spec& spec) {
    const bool upper = spec.conversion == 'S' || spec.conversion == 'C';
    if (spec.length == Length::kH || spec.length == Length::kHH)
        return false;
    if (spec.length == Length::kL || spec.length == Length::kW)
        return true;
    return (sizeof(Ch) == sizeof(wchar_t)) != upper;
}

template <typename Ch>
void formatInto(std::basic_string<Ch>& out, size_t limit, const Ch* format, va_list* args) {
    Sink<Ch> sink(out, limit);
    out.reserve(std::min<size_t>(limit, 256));
    const Ch* p = format;
    while (*p != Ch(0) && !sink.full()) {
        if (*p != Ch('%')) {
            const Ch* start = p;
            while (*p != Ch(0) && *p != Ch('%'))
                ++p;
            sink.append(start, static_cast<size_t>(p - start));
            continue;
        }
        const Ch* start = p;
        Spec spec;
        const Ch* next = parseSpec(p + 1, spec);
        if (next == nullptr) {
            // Not a conversion: print the '%' and go on after it, so the rest shows as text.
            sink.put(Ch('%'));
            p = start + 1;
            continue;
        }
        p = next;
        if (spec.conversion == '%') {
            sink.put(Ch('%'));
            continue;
        }
        readStars(spec, args);
        switch (spec.conversion) {
            case 'd':
            case 'i': {
                const long long v = readSigned(spec, args);
                const unsigned long long magnitude = v < 0
                                                         ? 0ULL - static_cast<unsigned long long>(v)
                                                         : static_cast<unsigned long long>(v);
                putInteger(sink, spec, magnitude, v < 0, true);
                break;
            }
            case 'o':
            case 'u':
            case 'x':
            case 'X':
                putInteger(sink, spec, readUnsigned(spec, args), false, false);
                break;
            case 'c':
            case 'C': {
                const int value = va_arg(*args, int);
                if (wantsWideText<Ch>(spec)) {
                    putChar<Ch, wchar_t>(sink, spec, value);
                } else {
                    putChar<Ch, char>(sink, spec, value);
                }
                break;
            }
            case 's':
            case 'S':
                if (wantsWideText<Ch>(spec)) {
                    putString(sink, spec, va_arg(*args, const wchar_t*));
                } else {
                    putString(sink, spec, va_arg(*args, const char*));
                }
                break;
            case 'p':
                putPointer(sink, spec, va_arg(*args, const void*));
                break;
            default:  // f F e E g G a A
                putFloat(sink, spec, args);
                break;
        }
    }
    if (sink.truncated() || sink.full())
        trimPartial(out);
}

// The caller's list is read through a copy, so it stays usable.
template <typename Ch>
std::basic_string<Ch> formatCopy(const Ch* format, va_list args, size_t capacity) {
    std::basic_string<Ch> out;
    if (format == nullptr || capacity == 0)
        return out;
    va_list copy;
    va_copy(copy, args);
    formatInto(out, capacity - 1, format, &copy);
    va_end(copy);
    return out;
}

}  // namespace

std::wstring formatWide(const wchar_t* format, va_list args, size_t capacity) {
    return formatCopy(format, args, capacity);
}

std::string formatNarrow(const char* format, va_list args, size_t capacity) {
    return formatCopy(format, args, capacity);
}

std::wstring formatWideF(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring out = formatWide(format, args, std::wstring().max_size());
    va_end(args);
    return out;
}

}  // namespace zoka
