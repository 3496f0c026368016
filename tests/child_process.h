#pragma once
// Starts a program as a separate process, optionally with its own environment and working
// folder and with its standard output and error captured as bytes.

#include <memory>
#include <string>
#include <vector>

#include "test_util.h"

namespace testutil {

/// One change to the child's environment, applied over the test process's own.
struct EnvChange {
    std::string name;
    std::wstring value;
    bool unset = false;
};

struct ChildOptions {
    std::vector<EnvChange> env;
    std::wstring workDir;  ///< empty: the test's own
    /// Standard output and error into RunResult (input from the null device); otherwise the
    /// child shares the test's streams.
    bool capture = false;
};

struct RunResult {
    bool started = false;
    int exitCode = -1;  ///< -1 when the child ended without one (POSIX: by a signal)
    std::string out;    ///< standard output, bytes as written (when captured)
    std::string err;    ///< standard error, bytes as written (when captured)
};

/// A started child; killed and reaped on destruction if still running.
class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Starts `program` (POSIX: searched in PATH when it has no '/') with `args`; word 0 is
    /// added from `program`. False when it could not start.
    bool start(const std::wstring& program, const std::vector<std::wstring>& args,
               const ChildOptions& options = {});
    /// Waits for the end and collects the exit code and the output.
    RunResult wait();
    /// Ends the child at once (SIGKILL / TerminateProcess); wait() still has to be called.
    void kill();
    /// The running child's process id; 0 when none runs.
    unsigned long id() const;

    struct Impl;

private:
    /// The result of a child that ended with `exitCode`, with its output when captured.
    RunResult finish(int exitCode);

    std::unique_ptr<Impl> impl_;
    std::unique_ptr<ScratchDir> outputFolder_;
};

/// start() and wait() in one.
RunResult runProcess(const std::wstring& program, const std::vector<std::wstring>& args,
                     const ChildOptions& options = {});

/// Quotes one word so that CommandLineToArgvW gives it back unchanged.
std::wstring quoteWindowsArgument(const std::wstring& word);

}  // namespace testutil
