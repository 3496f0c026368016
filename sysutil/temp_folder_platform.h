#pragma once
// The platform half of the run folder (temp_folder_win32.cpp / temp_folder_posix.cpp).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sysutil/temp_folder.h"

namespace korr::detail {

using HeldFolderPtr = std::unique_ptr<HeldFolder, HeldFolderDeleter>;

/// Creates the folder `name` inside the user's temporary folder `parent` (which ends with its
/// separator) exclusively, private to the user, and holds it open. Null on failure; never uses
/// or follows anything that stood there before.
HeldFolderPtr createHeldFolder(const std::wstring& parent, const std::wstring& name);

/// Creates the new file `name` in the held folder, exclusively, readable by the user only, with
/// `bytes` as its content.
bool writeNewFile(HeldFolder& folder, const std::wstring& name, const std::string& bytes);

/// True when `path` still leads to the held folder (same device and file number).
bool leadsTo(const HeldFolder& folder, const std::wstring& path);

/// True when `path` names nothing at all (the folder vanished).
bool isGone(const std::wstring& path);

/// Lets the folder go before it is removed (Windows keeps it from being renamed while held).
void release(HeldFolderPtr& folder);

/// This process's start time as the platform tells it (POSIX: /proc/<pid>/stat field 22;
/// Windows: the creation time of GetProcessTimes).
bool processStartTime(unsigned long processId, uint64_t& startTime);
unsigned long currentProcessId();

/// The names of the real folders (no links) of the running user directly inside `parent`.
std::vector<std::wstring> ownFolders(const std::wstring& parent);

/// The names of every entry directly inside `folder` (links as links); empty when it cannot be
/// listed.
std::vector<std::wstring> entryNames(const std::wstring& folder);

/// The content of the regular file `name` (no link) of the running user in the folder
/// `folder`, up to `limit` bytes; false otherwise.
bool readOwnFile(const std::wstring& folder, const std::wstring& name, size_t limit,
                 std::string& bytes);

}  // namespace korr::detail
