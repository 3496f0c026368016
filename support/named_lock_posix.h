#pragma once
// POSIX stand-in for Windows named kernel objects used as locks (mutexes and binary
// semaphores): an advisory flock() on a lock file in a fixed machine-wide folder, so every
// process of every user meets the same lock whatever its TMPDIR. The kernel drops the lock
// when its holder dies, so a killed process never leaves it held. For *_posix.cpp files only.

#include <string>
#include <string_view>

#include "support/unique_fd.h"

namespace zoka::posix {

class NamedLock {
public:
    /// Opens (creating if needed) the lock file for a Windows object name. "Local\" names are
    /// per user; "Global\" names and bare names are machine-wide.
    explicit NamedLock(std::wstring_view objectName);

    /// True when the lock file could be opened; every other operation fails otherwise.
    bool valid() const { return fd_.valid(); }
    /// Waits without time limit until this object holds the lock.
    bool lock();
    /// Takes the lock if it is free; never waits.
    bool tryLock();
    /// Releases the lock if this object holds it.
    bool unlock();
    /// True when another open description holds the lock (probes with a try and gives it back).
    bool heldElsewhere();
    bool held() const { return held_; }

    /// The lock file that stands for an object name (exposed for tests).
    static std::string lockFilePath(std::wstring_view objectName);

private:
    UniqueFd fd_;
    bool held_ = false;
};

}  // namespace zoka::posix
