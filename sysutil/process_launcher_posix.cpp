#include <errno.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "logging/shared_logger.h"
#include "support/unicode.h"
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
                          bool /*quoteProgramPath*/, uint32_t& exitCode) {
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
    pid_t pid = -1;
    // glibc reports a failed chdir or exec in the child as the result of posix_spawn.
    if (rc == 0)
        rc = ::posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ);
    if (rc != 0) {
        logError(logger, kModule, L"CreateProcess failed (%d).\n", rc);
        return LAUNCH_CREATE_FAILED;
    }

    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
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
