#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>

#include "e2e/child_process.h"
#include "support/unicode.h"

extern char** environ;

namespace e2e {

struct ChildProcess::Impl {
    pid_t pid = -1;
};

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
    if (impl_->pid > 0) {
        ::kill(impl_->pid, SIGKILL);
        int status = 0;
        ::waitpid(impl_->pid, &status, 0);
    }
}

bool ChildProcess::start(const std::wstring& program, const std::vector<std::wstring>& args,
                         const std::vector<EnvChange>& env, const std::wstring& workDir) {
    if (impl_->pid > 0)
        return false;
    outputFolder_ = std::make_unique<testutil::ScratchDir>(L"out");
    const std::string outPath = zoka::toUtf8(outputFolder_->file(L"stdout"));
    const std::string errPath = zoka::toUtf8(outputFolder_->file(L"stderr"));

    std::vector<std::string> words = {zoka::toUtf8(program)};
    for (const std::wstring& arg : args)
        words.push_back(zoka::toUtf8(arg));
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals != nullptr)
            variables[std::string(*entry, static_cast<size_t>(equals - *entry))] = equals + 1;
    }
    for (const EnvChange& change : env) {
        if (change.unset)
            variables.erase(change.name);
        else
            variables[change.name] = zoka::toUtf8(change.value);
    }
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : variables)
        envStrings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : envStrings)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string dir = zoka::toUtf8(workDir);
    if (!dir.empty())
        ::posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, words[0].c_str(), &actions, nullptr, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    impl_->pid = pid;
    return true;
}

bool ChildProcess::running() const {
    return impl_->pid > 0;
}

void ChildProcess::kill() {
    if (impl_->pid > 0)
        ::kill(impl_->pid, SIGKILL);
}

RunResult ChildProcess::wait() {
    RunResult result;
    if (impl_->pid <= 0)
        return result;
    int status = 0;
    while (::waitpid(impl_->pid, &status, 0) < 0 && errno == EINTR) {
    }
    impl_->pid = -1;
    result.started = true;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = testutil::readBytes(outputFolder_->file(L"stdout"));
    result.err = testutil::readBytes(outputFolder_->file(L"stderr"));
    outputFolder_.reset();
    return result;
}

}  // namespace e2e
