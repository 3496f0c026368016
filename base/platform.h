#pragma once
// The few operating-system facts that every subsystem needs, behind one portable interface.

#include <cstdint>
#include <string>
#include <string_view>

namespace zoka::os {

/// The folder separator of the platform: '\' on Windows, '/' on POSIX.
wchar_t pathSeparator();

/// The user's temporary folder with a trailing separator (GetTempPathW; on POSIX $TMPDIR when
/// set and not empty, else /tmp). False when the platform cannot tell.
bool getTempPath(std::wstring& path);

/// True when the path names an existing file system entry of any kind (PathFileExistsW).
bool pathExists(const std::wstring& path);

/// True only when the system answers that nothing exists at the path (or at a folder on its
/// way). False when something exists, and when the answer is an error of another kind: a caller
/// that must not take "cannot tell" for "absent" asks this, not !pathExists.
bool pathMissing(const std::wstring& path);

/// True when the path names an existing folder (PathIsDirectoryW).
bool isDirectory(const std::wstring& path);

/// The size of the regular file at `path` (a link is followed, as opening it would). False for
/// anything else, a folder, device, pipe or socket included, so that no caller reads from an
/// endless source.
bool regularFileSize(const std::wstring& path, int64_t& size);

/// The calling thread's identifier as the log shows it (GetCurrentThreadId; gettid on POSIX).
unsigned long currentThreadId();

/// The calling thread's last system error code (GetLastError; errno on POSIX).
int lastError();

}  // namespace zoka::os
