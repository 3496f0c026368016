#pragma once
// The platform half of the run folder (temp_folder_win32.cpp / temp_folder_posix.cpp).

#include <string>

namespace korr::detail {

/// Creates the folder and any missing parent. True when it was created or already is a folder
/// of ours. On POSIX the folder is private to the user (0700) and a pre-existing entry that is
/// a link, not a folder or owned by someone else is refused, never followed.
bool createRunFolder(const std::wstring& path);

/// Recreates a folder that has vanished the way createRunFolder does (POSIX); nothing on
/// Windows, where ensureFolder recreates it.
void recreateVanishedFolder(const std::wstring& path);

}  // namespace korr::detail
