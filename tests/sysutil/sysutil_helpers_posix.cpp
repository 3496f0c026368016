#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "support/named_lock_posix.h"
#include "support/unicode.h"
#include "sysutil/sysutil_helpers.h"
#include "test_util.h"

extern char** environ;

namespace sysutiltest {

bool isPosix() {
    return true;
}
bool isWine() {
    return false;
}
bool runningAsRoot() {
    return ::geteuid() == 0;
}

struct Child::Impl {
    pid_t pid = -1;
};

Child::Child() : impl_(std::make_unique<Impl>()) {}

Child::~Child() {
    if (impl_->pid > 0) {
        kill();
        wait();
    }
}

bool Child::start(const std::vector<std::wstring>& args) {
    std::vector<std::string> words;
    for (const auto& arg : args)
        words.push_back(zoka::toUtf8(arg));
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    return !words.empty() &&
           ::posix_spawnp(&impl_->pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0;
}

void Child::kill() {
    if (impl_->pid > 0)
        ::kill(impl_->pid, SIGKILL);
}

int Child::wait() {
    if (impl_->pid <= 0)
        return -1;
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(impl_->pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    impl_->pid = -1;
    if (done < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::wstring testProgram() {
    return testutil::siblingProgram(L"velkaro_tests");
}

bool systemSplitCommandLine(const std::wstring&, std::vector<std::wstring>&) {
    return false;
}

bool makeFolder(const std::wstring& path) {
    return ::mkdir(zoka::toUtf8(path).c_str(), 0755) == 0;
}

bool copyProgram(const std::wstring& from, const std::wstring& to) {
    std::error_code ec;
    std::filesystem::copy_file(std::filesystem::u8path(zoka::toUtf8(from)),
                               std::filesystem::u8path(zoka::toUtf8(to)),
                               std::filesystem::copy_options::overwrite_existing, ec);
    return !ec && setMode(to, 0755);
}

bool setMode(const std::wstring& path, unsigned mode) {
    return ::chmod(zoka::toUtf8(path).c_str(), static_cast<mode_t>(mode)) == 0;
}

unsigned modeOf(const std::wstring& path) {
    struct stat st;
    if (::lstat(zoka::toUtf8(path).c_str(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

bool makeSymlink(const std::wstring& target, const std::wstring& link) {
    return ::symlink(zoka::toUtf8(target).c_str(), zoka::toUtf8(link).c_str()) == 0;
}

bool giveAway(const std::wstring& path, unsigned uid) {
    return ::lchown(zoka::toUtf8(path).c_str(), static_cast<uid_t>(uid), static_cast<gid_t>(-1)) ==
           0;
}

void removeLockFile(const std::wstring& objectName) {
    ::unlink(zoka::posix::NamedLock::lockFilePath(objectName).c_str());
}

}  // namespace sysutiltest
