#include "support/named_lock_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/unicode.h"

namespace zoka::posix {
namespace {

// /run/lock is the machine's sticky, world-writable lock folder; /tmp is the fallback.
std::string lockFolder() {
    struct stat st;
    if (::stat("/run/lock", &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) &&
        (st.st_mode & 0777) == 0777) {
        return "/run/lock";
    }
    return "/tmp";
}

}  // namespace

std::string NamedLock::lockFilePath(std::wstring_view objectName) {
    std::wstring_view name = objectName;
    std::string scope;
    constexpr std::wstring_view kLocal = L"Local\\";
    constexpr std::wstring_view kGlobal = L"Global\\";
    if (name.substr(0, kLocal.size()) == kLocal) {
        name.remove_prefix(kLocal.size());
        scope = "u" + std::to_string(::geteuid()) + ".";
    } else if (name.substr(0, kGlobal.size()) == kGlobal) {
        name.remove_prefix(kGlobal.size());
    }
    std::string safe;
    for (char c : toUtf8(name)) safe.push_back((c == '/' || c == '\\') ? '_' : c);
    return lockFolder() + "/velkaro-" + scope + safe + ".lock";
}

NamedLock::NamedLock(std::wstring_view objectName) {
    const std::string path = lockFilePath(objectName);
    // Never follow a link planted under the lock file's name; open read-only when another user
    // created the file (flock works on any open description).
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && (errno == EACCES || errno == EPERM)) {
        fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) return;
    UniqueFd owned(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
    if (st.st_uid == ::geteuid()) ::fchmod(fd, 0666);  // let other users' instances open it too
    fd_ = std::move(owned);
}

bool NamedLock::lock() {
    if (!valid()) return false;
    if (held_) return true;
    while (::flock(fd_.get(), LOCK_EX) != 0) {
        if (errno != EINTR) return false;
    }
    held_ = true;
    return true;
}

bool NamedLock::tryLock() {
    if (!valid()) return false;
    if (held_) return true;
    if (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) return false;
    held_ = true;
    return true;
}

bool NamedLock::unlock() {
    if (!valid() || !held_) return false;
    if (::flock(fd_.get(), LOCK_UN) != 0) return false;
    held_ = false;
    return true;
}

bool NamedLock::heldElsewhere() {
    if (!valid() || held_) return false;
    if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) {
        ::flock(fd_.get(), LOCK_UN);
        return false;
    }
    return errno == EWOULDBLOCK;
}

}  // namespace zoka::posix
