#pragma once
// Conversions between the program's wide strings and UTF-8 / UTF-16 bytes at the edges
// (console, files, POSIX calls). wchar_t is UTF-16 on Windows and UTF-32 on POSIX; both are
// handled here so that callers never care. Ill-formed input becomes U+FFFD.

#include <string>
#include <string_view>

namespace zoka {

/// UTF-8 form of a wide string. Unpaired surrogates become U+FFFD.
std::string toUtf8(std::wstring_view text);

/// Wide form of UTF-8 bytes. Invalid sequences become U+FFFD, one per maximal invalid subpart.
std::wstring fromUtf8(std::string_view bytes);

/// UTF-16 code units of a wide string (surrogate pairs for characters outside the BMP).
std::u16string toUtf16(std::wstring_view text);

/// Wide string from UTF-16 code units; unpaired surrogates become U+FFFD on POSIX.
std::wstring fromUtf16(std::u16string_view units);

/// Three-way comparison by UTF-16 code units, as Windows compares wide strings, on every build.
int compareUtf16(std::wstring_view a, std::wstring_view b);

}  // namespace zoka
