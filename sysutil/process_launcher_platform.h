#pragma once
// The platform half of the launcher (process_launcher_win32.cpp / process_launcher_posix.cpp).

#include <cstdint>
#include <string>

#include "sysutil/process_launcher.h"

class Logger;

namespace korr::detail {

/// What a wait does after each wake.
enum class WaitStep { KeepWaiting, EndForTimeout, EndForStop };

/// Watches one wait: the time limit and the stop requests (portable, process_launcher.cpp).
class WaitWatch {
public:
    explicit WaitWatch(const LaunchLimits& limits);
    /// Called while the program `processId` runs, before each wait and after each wake.
    WaitStep check(unsigned long processId);
    /// Milliseconds until the limit (at least 1 while it is ahead); -1: no limit.
    int64_t remainingMs() const;
    double elapsedSeconds() const;
    const LaunchLimits& limits() const { return limits_; }

private:
    const LaunchLimits& limits_;
    int64_t startMs_;
    int stopsAtStart_;
    bool stopReported_ = false;
    bool running_ = false;
};

/// Starts the program with the finished command line in `workingFolder`, in a group of its own,
/// and waits for it (and with waitForProcessTree, for its tree) under `watch`. Writes `exitCode`
/// only for LAUNCH_OK; logs its own failures to `logger`. With `quoteProgramPath` false,
/// `programPath` is the application name and the command line holds only the arguments. Fills
/// the process id and the leftovers of `details`.
LaunchResult startAndWait(Logger& logger, const std::wstring& programPath,
                          const std::wstring& commandLine, const std::wstring& workingFolder,
                          bool quoteProgramPath, uint32_t& exitCode, WaitWatch& watch,
                          LaunchDetails& details);

}  // namespace korr::detail
