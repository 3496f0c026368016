#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>

#include "base/unicode.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace testutil {

fs::path fsPath(const std::wstring& path) {
    return fs::u8path(zoka::toUtf8(path));
}
std::wstring fromFsPath(const fs::path& path) {
    return zoka::fromUtf8(path.u8string());
}

bool underWine() {
    return false;
}

bool makeFifo(const std::wstring& path) {
    return ::mkfifo(fsPath(path).c_str(), 0600) == 0;
}

unsigned long processId() {
    return static_cast<unsigned long>(::getpid());
}

std::wstring testProgram() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    return n > 0 ? zoka::fromUtf8(std::string(buffer, static_cast<size_t>(n))) : std::wstring();
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

std::vector<std::string> tempFolderVariables() {
    return {"TMPDIR"};
}

bool unprivilegedCommand(std::wstring& program, std::vector<std::wstring>& args,
                         std::string& whyNot) {
    if (::geteuid() != 0) {
        whyNot = "needs root to switch to an unprivileged user (run the tests as root)";
        return false;
    }
    const char* setpriv = "/usr/bin/setpriv";
    if (::access(setpriv, X_OK) != 0) {
        whyNot = "setpriv (util-linux) is not installed";
        return false;
    }
    std::vector<std::wstring> wrapped = {L"--reuid=65534", L"--regid=65534", L"--clear-groups",
                                         program};
    wrapped.insert(wrapped.end(), args.begin(), args.end());
    program = zoka::fromUtf8(setpriv);
    args = wrapped;
    return true;
}

std::vector<std::wstring> childArguments(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 2; i < argc; ++i)
        args.push_back(zoka::fromUtf8(argv[i]));
    return args;
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
