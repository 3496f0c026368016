#pragma once
// The per-run folder for parameter files and the GUID names of the files in it.

#include <string>

namespace korr {

/// Creates the user's temporary folder + a new GUID as a folder; true when it exists, with its
/// path in `folderPath` (unchanged on failure).
bool _utilCreateAndGetTempFolderPath(std::wstring& folderPath);

/// Names a new file (GUID, no extension) directly inside `folder`, recreating the folder when it
/// has vanished; true when a path was formed in `newFilePath`.
bool _utilGetTempFilePath(const std::wstring& folder, std::wstring& newFilePath);

}  // namespace korr
