#pragma once
// The platform half of the launcher (process_launcher_win32.cpp / process_launcher_posix.cpp).

#include <cstdint>
#include <string>

#include "sysutil/process_launcher.h"

class Logger;

namespace korr::detail {

/// Starts the program with the finished command line in `workingFolder` and waits for it
/// without time limit. Writes `exitCode` only for LAUNCH_OK; logs its own failures to `logger`.
/// With `quoteProgramPath` false, `programPath` is the application name and the command line
/// holds only the arguments.
LaunchResult startAndWait(Logger& logger, const std::wstring& programPath,
                          const std::wstring& commandLine, const std::wstring& workingFolder,
                          bool quoteProgramPath, uint32_t& exitCode);

}  // namespace korr::detail
