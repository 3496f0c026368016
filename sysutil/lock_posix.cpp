#include "base/named_lock_posix.h"
#include "sysutil/lock.h"

namespace korr {

// The advisory lock stands for the semaphore: the kernel frees it when its holder dies, so a
// killed instance never leaves the program locked.
struct VRXSemaphoreLock::State {
    explicit State(const std::wstring& name) : lock(name) {}
    zoka::posix::NamedLock lock;
};

VRXSemaphoreLock::VRXSemaphoreLock(const std::wstring& name)
    : state_(std::make_unique<State>(name)) {
    lockName = name;
    maxCount = 1;
    availableCount = 1;
    held = false;
}

VRXSemaphoreLock::~VRXSemaphoreLock() {
    state_.reset();
    lockName.clear();
}

bool VRXSemaphoreLock::isLockedByOther() {
    // As with the semaphore, a count taken by this very object also counts as held.
    if (held)
        return true;
    if (!state_->lock.heldElsewhere())
        return false;
    availableCount = 0;
    return true;
}

bool VRXSemaphoreLock::lock() {
    if (held)
        return true;
    if (!state_->lock.tryLock())
        return false;
    --availableCount;
    held = true;
    return true;
}

bool VRXSemaphoreLock::unlock() {
    if (!held)
        return true;
    if (!state_->lock.unlock())
        return false;
    availableCount = maxCount;
    held = false;
    return true;
}

}  // namespace korr
