#pragma once
// Replaces a file in one step, so that a reader sees the old file or the new one, never a part.

#include <string>

namespace velkaro {

/// Writes `bytes` to a new file beside `path` (same folder, so the rename cannot cross
/// volumes), flushes it to disk and renames it over `path`. On failure nothing is left behind
/// but an untouched `path`, and `error` says what failed. On POSIX the file is created 0600 and
/// only in a folder no other user controls: every folder on the way is owned by this user or
/// root, none is a link, and none is writable by others unless sticky; an entry at `path` that
/// another user owns is first moved aside to a fresh name beside it, given in `movedAside`
/// (empty when nothing was moved). On Windows the file inherits its folder's rights. Without
/// `flush` the file is not forced to disk: for a copy that a later write soon replaces.
bool writeFileAtomically(const std::wstring& path, const std::string& bytes, std::wstring& error,
                         std::wstring* movedAside = nullptr, bool flush = true);

/// Moves an entry at `path` that another user owns aside, as writeFileAtomically does, without
/// writing anything: for a run that leaves the file to another instance. `movedTo` is empty when
/// nothing was moved; false, with `error`, when the folder is refused or the move fails.
/// Nothing is moved on Windows.
bool moveForeignEntryAside(const std::wstring& path, std::wstring& movedTo, std::wstring& error);

/// True when both paths name one existing file, by its identity rather than its spelling
/// (another case, "." steps, a link or a second name all count).
bool sameExistingFile(const std::wstring& path, const std::wstring& other);

}  // namespace velkaro
