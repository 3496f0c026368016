#pragma once
// The program's console: wide text on standard output and standard error, one flush per line.
// Non-ASCII text prints correctly and never silences later lines (WriteConsoleW on a Windows
// console, UTF-8 bytes when redirected and on POSIX).

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace zoka::console {

enum class Stream { Out, Err };

/// Writes the pieces one after another, then a line end, then flushes.
void line(Stream stream, std::initializer_list<std::wstring_view> pieces);
inline void out(std::initializer_list<std::wstring_view> pieces) { line(Stream::Out, pieces); }
inline void err(std::initializer_list<std::wstring_view> pieces) { line(Stream::Err, pieces); }

/// Tests capture the console here instead of the real streams; an empty function restores them.
using Sink = std::function<void(Stream stream, const std::wstring& text)>;
void setSink(Sink sink);

}  // namespace zoka::console
