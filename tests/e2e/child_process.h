#pragma once
// Runs a program of the build as a separate process with its own environment and working
// folder, its standard output and error captured as bytes, for the end-to-end tests.

#include <memory>
#include <string>
#include <vector>

#include "test_util.h"

namespace e2e {

/// One change to the child's environment, applied over the test process's own.
struct EnvChange {
    std::string name;
    std::wstring value;
    bool unset = false;
};

struct RunResult {
    bool started = false;
    int exitCode = -1;  ///< -1 when the child ended without one (POSIX: by a signal)
    std::string out;    ///< standard output, bytes as written
    std::string err;    ///< standard error, bytes as written
};

/// A started child. Its output goes to files in a folder of its own until wait().
class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();  ///< kills and reaps a child that is still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Starts `program` with `args` (word 0 is added from `program`); an empty `workDir` keeps
    /// the test's own. False when it could not start.
    bool start(const std::wstring& program, const std::vector<std::wstring>& args,
               const std::vector<EnvChange>& env, const std::wstring& workDir = L"");
    /// Waits for the end and collects the exit code and the output.
    RunResult wait();
    /// Ends the child at once (SIGKILL / TerminateProcess); wait() still has to be called.
    void kill();
    bool running() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    std::unique_ptr<testutil::ScratchDir> outputFolder_;
};

/// start() and wait() in one.
RunResult runProcess(const std::wstring& program, const std::vector<std::wstring>& args,
                     const std::vector<EnvChange>& env, const std::wstring& workDir = L"");

/// Quotes one word so that CommandLineToArgvW gives it back unchanged.
std::wstring quoteWindowsArgument(const std::wstring& word);

}  // namespace e2e
