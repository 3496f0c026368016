#pragma once
// File writing that follows no planted link, shared by the POSIX file utilities and the POSIX
// XML service. For the *_posix.cpp files only.

#include <string>

#include "base/posix_io.h"
#include "base/unique_fd.h"

namespace zoka::posix {

/// Opens `path` for writing, creating it (mode 0666 less the umask) or truncating it. A symbolic
/// link at `path`, anything that is not a regular file and a read-only file (no owner write
/// permission, as a read-only attribute on Windows) are refused before anything is truncated.
/// Returns 0, or the errno value of the failure.
int createRegularFile(const std::string& path, UniqueFd& fd);

}  // namespace zoka::posix
