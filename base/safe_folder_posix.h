#pragma once
// A folder that no other user can change: where a run keeps its private files (the temporary
// folder) must be reached without a link, and neither it nor any folder above it may be open
// to another user's renames. For *_posix.cpp files only.

#include <string>

#include "base/unique_fd.h"

namespace zoka::posix {

/// Opens the folder at the absolute `path` one component at a time without following any link,
/// and keeps it only when it and every folder above it belong to the caller or to root and
/// nobody else can write them (a sticky folder excepted, like /tmp, where nobody can rename
/// what is not theirs). On refusal the descriptor is empty and `reason` says why, naming the
/// path ("/tmp/mgr is writable by other users"); `reason` is empty when a folder on the way
/// cannot be opened at all (missing, not a folder, no access), and errno tells why then.
UniqueFd openSafeFolder(const std::string& path, std::string& reason);

}  // namespace zoka::posix
