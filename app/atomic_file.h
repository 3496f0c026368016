#pragma once
// Replaces a file in one step, so that a reader sees the old file or the new one, never a part.

#include <string>

namespace velkaro {

/// Writes `bytes` to a new file beside `path` (same folder, so the rename cannot cross
/// volumes), flushes it to disk and renames it over `path`. On failure nothing is left behind
/// but an untouched `path`, and `error` says what failed.
bool writeFileAtomically(const std::wstring& path, const std::string& bytes, std::wstring& error);

}  // namespace velkaro
