#pragma once
// Starts one program, waits for it (without time limit unless asked for one) and reads its exit
// code.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace korr {

enum LaunchResult : int {
    LAUNCH_OK = 0,             ///< ran, exit code read
    LAUNCH_NOT_STARTED = 1,    ///< program path missing, or its folder could not be derived
    LAUNCH_CREATE_FAILED = 2,  ///< process creation failed
    LAUNCH_NO_EXIT_CODE = 3,   ///< ran, but no exit code (POSIX: ended by a signal)
    LAUNCH_TIMED_OUT = 4,      ///< ran past its limit; ended with every process it started
    LAUNCH_STOPPED = 5,        ///< ended with every process it started on a second stop request
};

/// How long a program may run, and who hears of a stop request while it runs.
struct LaunchLimits {
    uint32_t timeoutSeconds = 0;  ///< 0: no limit, else for the program and (below) its tree
    /// Wait on until every process the program started has ended too, not only the program.
    bool waitForProcessTree = false;
    /// Called once, with the program's process id, when a (first) stop request comes while the
    /// program runs; the wait goes on. A second request ends the program and all it started.
    std::function<void(unsigned long processId)> onStopRequest;
    /// Called once, as soon as the program runs: the caller's own work, done while the program
    /// does its, instead of before or after it.
    std::function<void()> whileRunning;
};

/// A process that a program started and left running when it ended.
struct LeftoverProcess {
    unsigned long processId = 0;
    std::wstring name;  ///< the program's file name; empty when it could not be read
};

/// What the caller may want to report about one launch.
struct LaunchDetails {
    unsigned long processId = 0;  ///< 0 when nothing was started
    double seconds = 0;           ///< from the start to the end of the program (or its tree)
    /// Still running when the program ended (and, with waitForProcessTree, none).
    std::vector<LeftoverProcess> leftovers;
};

/// Builds the command line (quoted program path first when `quoteProgramPath`, then each
/// argument unchanged, each followed by one space), starts the program in `workingDirectory`
/// (the program's own folder when empty) and waits. `exitCode` is written only with LAUNCH_OK.
LaunchResult runProcessAndWait(const std::wstring& programPath,
                               const std::vector<std::wstring>& arguments, uint32_t& exitCode,
                               const std::wstring& workingDirectory, bool quoteProgramPath);

/// The same, with a time limit and stop requests heard while waiting. The program runs in a
/// group of its own (Windows: a job object that also ends it when this process dies; POSIX: a
/// process group, with this process as subreaper of every orphan it leaves and the program
/// killed when this process dies), so that ending it at the limit or on a second stop request
/// ends every process it started too. The wait wakes on the program's end, a stop request or
/// the limit, whichever comes first.
LaunchResult runProcessAndWait(const std::wstring& programPath,
                               const std::vector<std::wstring>& arguments, uint32_t& exitCode,
                               const std::wstring& workingDirectory, bool quoteProgramPath,
                               const LaunchLimits& limits, LaunchDetails* details);

/// The command line that runProcessAndWait passes, built by the same rules (for tests and logs).
std::wstring buildCommandLine(const std::wstring& programPath,
                              const std::vector<std::wstring>& arguments, bool quoteProgramPath);

/// Splits a command line into words by the rules of CommandLineToArgvW (backslashes before
/// quotes, doubled quotes, quoted spaces). Portable; POSIX launches and the driver use it.
std::vector<std::wstring> splitCommandLine(const std::wstring& commandLine);

}  // namespace korr
