#pragma once
// Helpers shared by the libFuzzer harnesses.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzsupport {

/// The input cut at NUL bytes, each piece decoded from UTF-8.
std::vector<std::wstring> words(const uint8_t* data, size_t size);

/// Gives the process a private temporary folder (made in $TMPDIR, then set as TMPDIR) and
/// silences standard output, so that the code under test logs and prints without touching
/// anything shared.
void isolate();

/// The private folder made by isolate(), with a trailing '/'.
const std::string& scratchFolder();

/// Stops the harness when a property does not hold (libFuzzer reports it as a crash).
[[noreturn]] void fail(const char* what);

}  // namespace fuzzsupport
