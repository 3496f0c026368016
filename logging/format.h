#pragma once
// printf-style formatting with this system's rule: %s takes a string of the format's own width
// (%ls and %hs name the width explicitly), on Windows and POSIX alike. The result is cut to
// capacity - 1 characters, like a fixed buffer with truncation; it never overflows.

#include <cstdarg>
#include <cstddef>
#include <string>

namespace zoka {

/// Formats a wide format; `args` is read through va_copy and stays usable.
std::wstring formatWide(const wchar_t* format, va_list args, size_t capacity);

/// Formats a narrow (UTF-8) format; `args` is read through va_copy and stays usable.
std::string formatNarrow(const char* format, va_list args, size_t capacity);

/// Convenience for callers with literal arguments (no truncation limit beyond memory).
std::wstring formatWideF(const wchar_t* format, ...);

}  // namespace zoka
