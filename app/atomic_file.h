#pragma once
// Replaces a file in one step, so that a reader sees the old file or the new one, never a part.

#include <string>

namespace velkaro {

/// Writes `bytes` to a new file beside `path` (same folder, so the rename cannot cross
/// volumes), flushes it to disk and renames it over `path`. On failure nothing is left behind
/// but an untouched `path`, and `error` says what failed. On POSIX the file is created 0600 and
/// only in a folder no other user controls: every folder on the way is owned by this user or
/// root, none is a link, and none is writable by others unless sticky; in a sticky folder an
/// existing entry at `path` must be this user's own regular file. On Windows the file inherits
/// its folder's rights.
bool writeFileAtomically(const std::wstring& path, const std::string& bytes, std::wstring& error);

/// True when both paths name one existing file, by its identity rather than its spelling
/// (another case, "." steps, a link or a second name all count).
bool sameExistingFile(const std::wstring& path, const std::wstring& other);

}  // namespace velkaro
