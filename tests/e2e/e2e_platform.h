#pragma once
// What the end-to-end tests do differently on Windows and on POSIX.

#include <string>

namespace e2e {

/// Ends a process by its id (a setup stand-in left hanging). False when it could not.
bool killProcessId(unsigned long pid);

/// True while the process runs (a zombie counts as ended).
bool processAlive(unsigned long pid);

/// Lets an unprivileged user write into the folder (no-op on Windows).
void openFolderToEveryone(const std::wstring& folder);

}  // namespace e2e
