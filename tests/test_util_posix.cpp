#include <limits.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "support/unicode.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace testutil {

fs::path fsPath(const std::wstring& path) { return fs::u8path(zoka::toUtf8(path)); }
std::wstring fromFsPath(const fs::path& path) { return zoka::fromUtf8(path.u8string()); }

std::wstring programFolder() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) return L".";
    std::string path(buffer, static_cast<size_t>(n));
    return zoka::fromUtf8(path.substr(0, path.rfind('/')));
}

void setEnv(const std::string& name, const std::wstring& value, bool unset) {
    if (unset)
        ::unsetenv(name.c_str());
    else
        ::setenv(name.c_str(), zoka::toUtf8(value).c_str(), 1);
}

std::wstring getEnv(const std::string& name) {
    const char* v = ::getenv(name.c_str());
    return v ? zoka::fromUtf8(v) : std::wstring();
}

TempFolderOverride::TempFolderOverride(const std::wstring& folder) {
    const char* v = ::getenv("TMPDIR");
    had_.push_back(v != nullptr);
    saved_.emplace_back("TMPDIR", v ? zoka::fromUtf8(v) : std::wstring());
    setEnv("TMPDIR", folder);
}

TempFolderOverride::~TempFolderOverride() {
    for (size_t i = 0; i < saved_.size(); ++i)
        setEnv(saved_[i].first, saved_[i].second, !had_[i]);
}

std::vector<std::wstring> childArguments(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 2; i < argc; ++i)
        args.push_back(zoka::fromUtf8(argv[i]));
    return args;
}

std::vector<int> runSelfParallel(const std::vector<std::vector<std::wstring>>& commands) {
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
    std::vector<pid_t> pids(commands.size(), -1);
    if (n > 0) {
        self[n] = '\0';
        for (size_t i = 0; i < commands.size(); ++i) {
            std::vector<std::string> words = {self, "--child"};
            for (const std::wstring& w : commands[i])
                words.push_back(zoka::toUtf8(w));
            std::vector<char*> argv;
            for (std::string& w : words)
                argv.push_back(w.data());
            argv.push_back(nullptr);
            pid_t pid = -1;
            if (::posix_spawn(&pid, self, nullptr, nullptr, argv.data(), environ) == 0) {
                pids[i] = pid;
            }
        }
    }
    std::vector<int> codes(commands.size(), -1);
    for (size_t i = 0; i < pids.size(); ++i) {
        if (pids[i] < 0)
            continue;
        int status = 0;
        while (::waitpid(pids[i], &status, 0) < 0 && errno == EINTR) {
        }
        if (WIFEXITED(status))
            codes[i] = WEXITSTATUS(status);
    }
    return codes;
}

UtcTimeZone::UtcTimeZone() {
    const char* v = ::getenv("TZ");
    had_ = v != nullptr;
    if (had_)
        saved_ = zoka::fromUtf8(v);
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
}

UtcTimeZone::~UtcTimeZone() {
    setEnv("TZ", saved_, !had_);
    ::tzset();
}

}  // namespace testutil
