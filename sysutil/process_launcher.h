#pragma once
// Starts one program, waits for it without time limit and reads its exit code.

#include <cstdint>
#include <string>
#include <vector>

namespace korr {

enum LaunchResult : int {
    LAUNCH_OK = 0,             ///< ran, exit code read
    LAUNCH_NOT_STARTED = 1,    ///< program path missing, or its folder could not be derived
    LAUNCH_CREATE_FAILED = 2,  ///< process creation failed
    LAUNCH_NO_EXIT_CODE = 3,   ///< ran, but no exit code (POSIX: ended by a signal)
};

/// Builds the command line (quoted program path first when `quoteProgramPath`, then each
/// argument unchanged, each followed by one space), starts the program in `workingDirectory`
/// (the program's own folder when empty) and waits. `exitCode` is written only with LAUNCH_OK.
LaunchResult runProcessAndWait(const std::wstring& programPath,
                               const std::vector<std::wstring>& arguments, uint32_t& exitCode,
                               const std::wstring& workingDirectory, bool quoteProgramPath);

/// The command line that runProcessAndWait passes, built by the same rules (for tests and logs).
std::wstring buildCommandLine(const std::wstring& programPath,
                              const std::vector<std::wstring>& arguments, bool quoteProgramPath);

/// Splits a command line into words by the rules of CommandLineToArgvW (backslashes before
/// quotes, doubled quotes, quoted spaces). Portable; POSIX launches and the driver use it.
std::vector<std::wstring> splitCommandLine(const std::wstring& commandLine);

}  // namespace korr
