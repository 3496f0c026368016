#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/unicode.h"
#include "logging/shared_logger.h"
#include "sysutil/process_launcher_platform.h"

extern char** environ;

namespace korr::detail {
namespace {

constexpr wchar_t kModule[] = L"KorrUtilities";

// Owns the file actions of one spawn.
class SpawnActions {
public:
    SpawnActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
    ~SpawnActions() {
        if (ok_)
            ::posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
    bool ok_ = false;
};

// Owns the attributes of one spawn.
class SpawnAttributes {
public:
    SpawnAttributes() { ok_ = ::posix_spawnattr_init(&attributes_) == 0; }
    ~SpawnAttributes() {
        if (ok_)
            ::posix_spawnattr_destroy(&attributes_);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    bool ok() const { return ok_; }
    posix_spawnattr_t* get() { return &attributes_; }

private:
    posix_spawnattr_t attributes_;
    bool ok_ = false;
};

void sleepSlice() {
    struct timespec slice = {0, static_cast<long>(WaitWatch::kSliceMs) * 1000000L};
    // A signal (a stop request) cuts the sleep short, which is what the caller wants.
    ::nanosleep(&slice, nullptr);
}

// Waits for the child under the watch; at the limit or on a second stop request the child's
// whole process group is killed. Returns the wait's status word, or -1 when waitpid failed.
pid_t waitUnderWatch(pid_t pid, int& status, WaitWatch& watch, WaitStep& ended) {
    ended = WaitStep::KeepWaiting;
    for (;;) {
        const pid_t waited = ::waitpid(pid, &status, WNOHANG);
        if (waited != 0 && !(waited < 0 && errno == EINTR))
            return waited;
        ended = watch.check(static_cast<unsigned long>(pid));
        if (ended != WaitStep::KeepWaiting)
            break;
        sleepSlice();
    }
    // Every process the setup program started without leaving its group goes with it.
    ::kill(-pid, SIGKILL);
    pid_t waited;
    do {
        waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    return waited;
}

// A relative program path names a file in the caller's current folder, as CreateProcessW's
// application name does; the child changes folder before exec, so anchor it first.
std::string absoluteProgram(const std::string& program) {
    if (!program.empty() && program[0] == '/')
        return program;
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return program;
        buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data()) + "/" + program;
}

}  // namespace

LaunchResult startAndWait(Logger& logger, const std::wstring& programPath,
                          const std::wstring& commandLine, const std::wstring& workingFolder,
                          bool /*quoteProgramPath*/, uint32_t& exitCode, WaitWatch& watch,
                          unsigned long& processId) {
    // Both forms of the command line split into the child's argument vector: quoted, word 0 is
    // the program; unquoted, callers put the quoted program first themselves. An empty command
    // line gives the program alone, as CommandLineToArgvW does for an empty string.
    std::vector<std::string> words;
    for (const std::wstring& word : splitCommandLine(commandLine))
        words.push_back(zoka::toUtf8(word));
    const std::string program = absoluteProgram(zoka::toUtf8(programPath));
    if (words.empty())
        words.push_back(zoka::toUtf8(programPath));
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    SpawnActions actions;
    int rc = actions.ok() ? 0 : ENOMEM;
    if (rc == 0) {
        rc = ::posix_spawn_file_actions_addchdir_np(actions.get(),
                                                    zoka::toUtf8(workingFolder).c_str());
    }
    // No descriptor of ours beyond the standard three reaches the child, like a process
    // created without handle inheritance.
    if (rc == 0)
        rc = ::posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);
    // A process group of its own: ending it at a limit or on request reaches every process it
    // started, and a terminal's Ctrl+C reaches only this program, which decides what to do.
    SpawnAttributes attributes;
    if (rc == 0)
        rc = attributes.ok() ? 0 : ENOMEM;
    if (rc == 0)
        rc = ::posix_spawnattr_setpgroup(attributes.get(), 0);
    if (rc == 0)
        rc = ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    // glibc reports a failed chdir or exec in the child as the result of posix_spawn.
    if (rc == 0)
        rc = ::posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(),
                           environ);
    if (rc != 0) {
        logError(logger, kModule, L"CreateProcess failed (%d).\n", rc);
        return LAUNCH_CREATE_FAILED;
    }

    processId = static_cast<unsigned long>(pid);
    int status = 0;
    WaitStep ended = WaitStep::KeepWaiting;
    const pid_t waited = waitUnderWatch(pid, status, watch, ended);
    if (ended == WaitStep::EndForTimeout)
        return LAUNCH_TIMED_OUT;
    if (ended == WaitStep::EndForStop)
        return LAUNCH_STOPPED;
    if (waited < 0) {
        logError(logger, kModule, L"Failed to retrieve the Exit code (%d).\n", errno);
        return LAUNCH_NO_EXIT_CODE;
    }
    if (!WIFEXITED(status)) {
        // Ended by a signal: there is no exit code, and no number may stand in for one.
        logError(logger, kModule, L"Failed to retrieve the Exit code (%d).\n",
                 WIFSIGNALED(status) ? WTERMSIG(status) : status);
        return LAUNCH_NO_EXIT_CODE;
    }
    exitCode = static_cast<uint32_t>(WEXITSTATUS(status));
    return LAUNCH_OK;
}

}  // namespace korr::detail
