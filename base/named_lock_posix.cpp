#include "base/named_lock_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <set>

#include "base/unicode.h"

namespace zoka::posix {
namespace {

// A folder is the user's own when it is a real folder (not a link), owned by the user, and
// nobody else may enter it.
bool isOwnPrivateFolder(const struct stat& st) {
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

bool isOwnPrivateFolder(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && isOwnPrivateFolder(st);
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Locks that live until the process ends (the shared logger's) never reach their destructor:
// their files are removed when the process exits.
std::mutex& liveLocksMutex() {
    static std::mutex mutex;
    return mutex;
}
std::set<NamedLock*>& liveLocks() {
    static std::set<NamedLock*>* locks = new std::set<NamedLock*>();
    return *locks;
}

void removeLiveLockFiles() {
    std::lock_guard<std::mutex> guard(liveLocksMutex());
    for (NamedLock* lock : liveLocks())
        lock->removeFile();
}

void registerLive(NamedLock* lock) {
    static const bool registered = std::atexit(removeLiveLockFiles) == 0;
    (void)registered;
    std::lock_guard<std::mutex> guard(liveLocksMutex());
    liveLocks().insert(lock);
}

void unregisterLive(NamedLock* lock) {
    std::lock_guard<std::mutex> guard(liveLocksMutex());
    liveLocks().erase(lock);
}

}  // namespace

std::string NamedLock::lockFolder() {
    const uid_t uid = ::geteuid();
    // Root's folder lies in /run, which only root may write: nobody else can plant anything
    // there, nor enter it.
    if (uid == 0)
        return "/run/velkaro";
    const std::string runtime = "/run/user/" + std::to_string(uid);
    if (isOwnPrivateFolder(runtime))
        return runtime + "/velkaro";
    // In the shared /tmp a folder planted under this name by someone else is refused.
    return "/tmp/velkaro-" + std::to_string(uid);
}

std::string NamedLock::lockFilePath(std::wstring_view objectName) {
    std::wstring_view name = objectName;
    std::string scope;
    constexpr std::wstring_view kLocal = L"Local\\";
    constexpr std::wstring_view kGlobal = L"Global\\";
    if (name.substr(0, kLocal.size()) == kLocal) {
        name.remove_prefix(kLocal.size());
        scope = "local.";
    } else if (name.substr(0, kGlobal.size()) == kGlobal) {
        name.remove_prefix(kGlobal.size());
    }
    const std::string folder = lockFolder();
    std::string safe;
    for (char c : toUtf8(name))
        safe.push_back((c == '/' || c == '\\' || c == '\0') ? '_' : c);
    return folder + "/velkaro-" + scope + safe + ".lock";
}

NamedLock::NamedLock(std::wstring_view objectName)
    : folder_(lockFolder()), path_(lockFilePath(objectName)) {
    // A folder that exists but is not this user's own was planted: never used.
    struct stat st;
    if (::lstat(folder_.c_str(), &st) == 0 && !isOwnPrivateFolder(folder_))
        path_.clear();
    registerLive(this);
}

NamedLock::~NamedLock() {
    unregisterLive(this);
    removeFile();
}

void NamedLock::removeFile() {
    // A child forked from the opener shares the descriptor, and with it the lock: it must
    // leave the file alone.
    if (!fd_.valid() || opener_ != ::getpid())
        return;
    // Only while holding the lock, and only when the name still means this file: a waiter
    // that opened it meanwhile notices the removal and opens a new one.
    if (held_ || ::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) {
        if (removeIfStillNamed())
            ::rmdir(folder_.c_str());  // only when no other lock file is left in it
    }
    held_ = false;
    fd_.reset();
}

bool NamedLock::removeIfStillNamed() {
    struct stat mine, named;
    if (::fstat(fd_.get(), &mine) != 0 || ::lstat(path_.c_str(), &named) != 0 ||
        !sameFile(mine, named)) {
        return false;
    }
    return ::unlink(path_.c_str()) == 0;
}

bool NamedLock::openLockFile(bool create) {
    if (fd_.valid())
        return true;
    if (!valid())
        return false;
    const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (create ? O_CREAT : 0);
    UniqueFd fd;
    // The folder goes with its last lock file: another process may remove it between making
    // it and creating the file in it, so a vanished folder is made again.
    for (int attempt = 0; attempt < 1000 && !fd.valid(); ++attempt) {
        if (create) {
            struct stat folder;
            if (::lstat(folder_.c_str(), &folder) != 0) {
                if (errno != ENOENT || (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST))
                    return false;
                continue;  // checked on the next round
            }
            if (!isOwnPrivateFolder(folder)) {
                errno = EPERM;
                return false;
            }
        }
        fd.reset(::open(path_.c_str(), flags, 0600));
        if (!fd.valid() && (errno != ENOENT || !create))
            return false;
    }
    if (!fd.valid())
        return false;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        errno = EPERM;
        return false;
    }
    fd_ = std::move(fd);
    opener_ = ::getpid();
    return true;
}

bool NamedLock::take(bool wait) {
    if (held_)
        return true;
    for (;;) {
        if (!openLockFile(true))
            return false;
        int rc;
        do {
            rc = ::flock(fd_.get(), LOCK_EX | (wait ? 0 : LOCK_NB));
        } while (rc != 0 && errno == EINTR);
        if (rc != 0)
            return false;
        // The last holder may have removed the file while this one waited on it: then the
        // lock is on a file nobody else will ever look at, and the current one is needed.
        // Holders remove the file only while holding the lock, and nobody else may touch the
        // folder, so a file that still has a link is the current one.
        struct stat mine;
        if (::fstat(fd_.get(), &mine) == 0 && mine.st_nlink > 0) {
            held_ = true;
            return true;
        }
        fd_.reset();
    }
}

bool NamedLock::lock() {
    return take(true);
}

bool NamedLock::tryLock() {
    return take(false);
}

bool NamedLock::unlock() {
    if (!fd_.valid() || !held_)
        return false;
    // The file stays for the next turn; it goes with the object or the process.
    if (::flock(fd_.get(), LOCK_UN) != 0)
        return false;
    held_ = false;
    return true;
}

bool NamedLock::heldElsewhere() {
    if (held_)
        return false;
    // Probing never creates the file: no file means nobody holds the lock. The name is
    // opened afresh, since a file opened earlier may have been removed meanwhile.
    fd_.reset();
    if (!openLockFile(false))
        return false;
    if (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK;
    ::flock(fd_.get(), LOCK_UN);
    return false;
}

}  // namespace zoka::posix
