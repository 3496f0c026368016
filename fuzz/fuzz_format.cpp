// The formatter on formats from the input. The arguments always match the conversions (the
// harness rewrites every conversion to the one type it passes), so any fault is the
// formatter's: the result never passes capacity - 1 characters (UTF-16 units for wide text).

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/unicode.h"
#include "fuzz/fuzz_common.h"
#include "logging/format.h"

namespace {

constexpr int kMaxConversions = 8;

enum class Kind { kInt, kLongLong, kDouble, kWideText, kNarrowText, kPointer, kCount };

// The conversion a kind is written with, given the one the input asked for.
std::string conversionFor(Kind kind, char asked) {
    const std::string ints = "diuxXoc";
    const std::string floats = "fFeEgGaA";
    switch (kind) {
        case Kind::kInt:
            return std::string(1, ints.find(asked) != std::string::npos ? asked : 'd');
        case Kind::kLongLong:
            return "ll" + std::string(1, ints.find(asked) != std::string::npos && asked != 'c'
                                             ? asked
                                             : 'd');
        case Kind::kDouble:
            return std::string(1, floats.find(asked) != std::string::npos ? asked : 'f');
        case Kind::kWideText:
            return "ls";
        case Kind::kNarrowText:
            return "hs";
        default:
            return "p";
    }
}

// Keeps flags, width and precision; drops '*' and length modifiers; rewrites the conversion.
template <typename Ch>
std::basic_string<Ch> sanitise(const std::basic_string<Ch>& format, Kind kind) {
    std::basic_string<Ch> out;
    int conversions = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        const Ch c = format[i];
        if (c != Ch('%')) {
            out.push_back(c);
            continue;
        }
        if (conversions == kMaxConversions || i + 1 == format.size()) {
            out += {Ch('%'), Ch('%')};
            continue;
        }
        std::basic_string<Ch> spec(1, Ch('%'));
        size_t j = i + 1;
        auto oneOf = [](Ch x, const char* set) {
            for (; *set != '\0'; ++set) {
                if (x == Ch(*set))
                    return true;
            }
            return false;
        };
        while (j < format.size() && oneOf(format[j], "-+ 0#"))
            spec.push_back(format[j++]);
        for (int digits = 0; j < format.size() && oneOf(format[j], "0123456789*"); ++j) {
            if (format[j] != Ch('*') && ++digits <= 4)
                spec.push_back(format[j]);
        }
        if (j < format.size() && format[j] == Ch('.')) {
            spec.push_back(format[j++]);
            for (int digits = 0; j < format.size() && oneOf(format[j], "0123456789*"); ++j) {
                if (format[j] != Ch('*') && ++digits <= 4)
                    spec.push_back(format[j]);
            }
        }
        while (j < format.size() && oneOf(format[j], "hlLqjztIw0123456789"))
            ++j;
        if (j == format.size()) {
            out += {Ch('%'), Ch('%')};
            break;
        }
        const char asked = format[j] < 0x80 ? static_cast<char>(format[j]) : 'd';
        if (asked == '%') {
            out += {Ch('%'), Ch('%')};
        } else {
            for (char x : conversionFor(kind, asked))
                spec.push_back(Ch(x));
            out += spec;
            ++conversions;
        }
        i = j;
    }
    return out;
}

std::wstring wide(size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring out = zoka::formatWide(format, args, capacity);
    va_end(args);
    return out;
}

std::string narrow(size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = zoka::formatNarrow(format, args, capacity);
    va_end(args);
    return out;
}

template <typename Ch, typename Call>
void run(Kind kind, const std::basic_string<Ch>& format, Call call) {
    const std::basic_string<Ch> f = sanitise(format, kind);
    switch (kind) {
        case Kind::kInt:
            call(f.c_str(), 0, -1, 42, 2147483647, -2147483647 - 1, 0x7f, 255, 65);
            break;
        case Kind::kLongLong:
            call(f.c_str(), 0LL, -1LL, 9223372036854775807LL, -9223372036854775807LL - 1, 1LL,
                 1000000000000LL, 7LL, -42LL);
            break;
        case Kind::kDouble:
            call(f.c_str(), 0.0, -0.0, 1e308, -1e-308, 3.141592653589793, 1.0 / 0.0, 0.0 / 0.0,
                 5e-324);
            break;
        case Kind::kWideText: {
            const wchar_t* t = L"caf\u00e9 \U0001F600";
            call(f.c_str(), t, L"", static_cast<const wchar_t*>(nullptr), t, t, t, t, t);
            break;
        }
        case Kind::kNarrowText: {
            const char* t = "caf\xc3\xa9 \xf0\x9f\x98\x80 \xff";
            call(f.c_str(), t, "", static_cast<const char*>(nullptr), t, t, t, t, t);
            break;
        }
        default: {
            int x = 0;
            call(f.c_str(), &x, nullptr, &x, &x, &x, &x, &x, &x);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    const Kind kind = static_cast<Kind>(data[0] % static_cast<int>(Kind::kCount));
    const bool isWide = (data[0] / static_cast<int>(Kind::kCount)) % 2 == 0;
    const size_t capacity = (static_cast<size_t>(data[1]) << 8 | data[2]) % 8192;
    const std::string bytes(reinterpret_cast<const char*>(data) + 3, size - 3);
    if (isWide) {
        run(kind, zoka::fromUtf8(bytes), [capacity](const wchar_t* f, auto... args) {
            const std::wstring out = wide(capacity, f, args...);
            if (zoka::toUtf16(out).size() + (capacity == 0 ? 0 : 1) > capacity)
                fuzzsupport::fail("wide result past its capacity");
        });
    } else {
        run(kind, bytes, [capacity](const char* f, auto... args) {
            const std::string out = narrow(capacity, f, args...);
            if (out.size() + (capacity == 0 ? 0 : 1) > capacity)
                fuzzsupport::fail("narrow result past its capacity");
        });
    }
    return 0;
}
