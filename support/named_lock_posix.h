#pragma once
// POSIX stand-in for Windows named kernel objects used as locks (mutexes and binary
// semaphores): an advisory flock() on a lock file in a folder that only the calling user can
// enter (root: /run/velkaro), so that no other user can create, open, hold or replace a lock
// that this user waits on. The kernel drops the lock when its holder dies, so a killed process
// never leaves it held; each holder removes the file as it lets go. For *_posix.cpp files
// only.

#include <string>
#include <string_view>

#include "support/unique_fd.h"

namespace zoka::posix {

class NamedLock {
public:
    /// Names the lock file for a Windows object name. "Local\" names and bare names are per
    /// user; a "Global\" name is machine-wide among the processes of one user, and for root,
    /// who alone takes the machine's administrative locks, among all of root's processes.
    explicit NamedLock(std::wstring_view objectName);
    /// Releases the lock if held.
    ~NamedLock();
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

    /// True when the lock's folder is safe to use; every other operation fails otherwise.
    bool valid() const { return !path_.empty(); }
    /// Waits without time limit until this object holds the lock.
    bool lock();
    /// Takes the lock if it is free; never waits.
    bool tryLock();
    /// Releases the lock if this object holds it.
    bool unlock();
    /// True when another process holds the lock (probes with a try and gives it back).
    bool heldElsewhere();
    bool held() const { return held_; }

    /// The lock file that stands for an object name; empty when the calling user's lock
    /// folder cannot be made safe (exposed for tests).
    static std::string lockFilePath(std::wstring_view objectName);
    /// The calling user's lock folder, created when missing; empty when it is not safe.
    static std::string lockFolder();

private:
    bool take(bool wait);
    bool openLockFile(bool create);
    bool removeIfStillNamed();

    std::string path_;
    UniqueFd fd_;
    bool held_ = false;
};

}  // namespace zoka::posix
