#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "base/unicode.h"
#include "child_process.h"

extern char** environ;

namespace testutil {

struct ChildProcess::Impl {
    pid_t pid = -1;
};

namespace {

// The test process's environment with the changes applied, as "NAME=value" strings.
std::vector<std::string> childEnvironment(const std::vector<EnvChange>& changes) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals != nullptr)
            variables[std::string(*entry, static_cast<size_t>(equals - *entry))] = equals + 1;
    }
    for (const EnvChange& change : changes) {
        if (change.unset)
            variables.erase(change.name);
        else
            variables[change.name] = zoka::toUtf8(change.value);
    }
    std::vector<std::string> strings;
    for (const auto& [name, value] : variables)
        strings.push_back(name + "=" + value);
    return strings;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

}  // namespace

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
    if (impl_->pid > 0) {
        kill();
        wait();
    }
}

bool ChildProcess::start(const std::wstring& program, const std::vector<std::wstring>& args,
                         const ChildOptions& options) {
    if (impl_->pid > 0)
        return false;
    std::vector<std::string> words = {zoka::toUtf8(program)};
    for (const std::wstring& arg : args)
        words.push_back(zoka::toUtf8(arg));
    std::vector<std::string> envStrings = childEnvironment(options.env);

    std::unique_ptr<ScratchDir> folder;
    std::string outPath, errPath;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (options.capture) {
        folder = std::make_unique<ScratchDir>(L"out");
        outPath = zoka::toUtf8(folder->file(L"stdout"));
        errPath = zoka::toUtf8(folder->file(L"stderr"));
        ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                           O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                           O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    const std::string dir = zoka::toUtf8(options.workDir);
    if (!dir.empty())
        ::posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    // The child starts with the stop signals at their defaults, whatever this process inherited
    // (a test run in the background ignores SIGINT), as a program started by hand would.
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signo : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&defaults, signo);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, words[0].c_str(), &actions, &attributes,
                                  pointers(words).data(), pointers(envStrings).data());
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    impl_->pid = pid;
    outputFolder_ = std::move(folder);
    return true;
}

void ChildProcess::kill() {
    if (impl_->pid > 0)
        ::kill(impl_->pid, SIGKILL);
}

unsigned long ChildProcess::id() const {
    return impl_->pid > 0 ? static_cast<unsigned long>(impl_->pid) : 0;
}

RunResult ChildProcess::wait() {
    if (impl_->pid <= 0)
        return RunResult{};
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(impl_->pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    impl_->pid = -1;
    return finish(done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

}  // namespace testutil
