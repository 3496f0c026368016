#pragma once
// What a family setup program's answer means: a pure mapping from the launch result and the exit
// code to the outcome of one removal and the line that reports it.

#include <cstdint>

#include "logging/logger.h"
#include "sysutil/process_launcher.h"

namespace velkaro {

enum class RemovalOutcome {
    Removed,       ///< the removal returns true
    NotInstalled,  ///< true, and the product counts as not found on the system
    Failed,        ///< false
};

struct SetupVerdict {
    RemovalOutcome outcome;
    zoka::LogLevel level;    ///< LEVEL_INFO, or LEVEL_ERROR written with an empty tag
    const wchar_t* message;  ///< a log format; its one %d (if any) takes the signed exit code
};

/// VELT setup: 0 removed, 33 nothing to uninstall, any other code or launch failure failed.
SetupVerdict veltSetupVerdict(korr::LaunchResult launch, uint32_t exitCode);

/// QX setup: 0 and 130 removed, 135 not installed, any other code or launch failure failed.
SetupVerdict qxSetupVerdict(korr::LaunchResult launch, uint32_t exitCode);

/// Exit codes are reported as signed 32-bit numbers (0xC0000005 reads -1073741819).
inline int32_t signedExitCode(uint32_t exitCode) {
    return static_cast<int32_t>(exitCode);
}

}  // namespace velkaro
