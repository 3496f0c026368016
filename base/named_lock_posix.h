#pragma once
// POSIX stand-in for Windows named kernel objects used as locks (mutexes and binary
// semaphores): an advisory flock() on a lock file in a folder that only the calling user can
// enter (root: /run/velkaro), so that no other user can create, open, hold or replace a lock
// that this user waits on. The kernel drops the lock when its holder dies, so a killed process
// never leaves it held. The file goes with the object (or, for objects that live until the
// end, with the process) when nobody else holds it. For *_posix.cpp files only.

#include <string>
#include <string_view>

#include "base/unique_fd.h"

namespace zoka::posix {

class NamedLock {
public:
    /// Names the lock file for a Windows object name. "Local\" names and bare names are per
    /// user; a "Global\" name is machine-wide among the processes of one user, and for root,
    /// who alone takes the machine's administrative locks, among all of root's processes.
    explicit NamedLock(std::wstring_view objectName);
    /// Releases the lock and removes the file unless another process holds it.
    ~NamedLock();
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

    /// False when another user planted the lock folder; every other operation fails then.
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
    /// Gives the lock back and removes its file unless another process holds it (the
    /// destructor's work, also done at process exit for objects still alive then).
    void removeFile();

    /// The lock file that stands for an object name (exposed for tests).
    static std::string lockFilePath(std::wstring_view objectName);
    /// The calling user's lock folder: made (mode 0700) when a lock is taken, removed when its
    /// last lock file goes.
    static std::string lockFolder();

private:
    bool take(bool wait);
    bool openLockFile(bool create);
    bool removeIfStillNamed();

    std::string folder_;
    std::string path_;  // empty when the folder was planted by someone else
    UniqueFd fd_;
    int opener_ = 0;  // the process that opened fd_
    bool held_ = false;
};

}  // namespace zoka::posix
