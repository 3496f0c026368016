#pragma once
// A machine-wide, non-blocking binary lock that keeps a second instance from running.

#include <memory>
#include <string>

namespace korr {

class VRXLockClass {
public:
    virtual ~VRXLockClass() = default;
    /// True when this object now holds the lock; never waits.
    virtual bool lock() = 0;
    /// True when the lock exists and somebody else holds it.
    virtual bool isLockedByOther() = 0;
    /// True when the lock is no longer held by this object.
    virtual bool unlock() = 0;

protected:
    std::wstring lockName;
    bool held = false;
};

/// Named semaphore with count 1 (Windows); an advisory file lock on POSIX.
class VRXSemaphoreLock : public VRXLockClass {
public:
    explicit VRXSemaphoreLock(const std::wstring& name);
    ~VRXSemaphoreLock() override;
    VRXSemaphoreLock(const VRXSemaphoreLock&) = delete;
    VRXSemaphoreLock& operator=(const VRXSemaphoreLock&) = delete;

    bool lock() override;
    bool isLockedByOther() override;
    bool unlock() override;

private:
    struct State;  // the platform's handle, defined in each platform file
    std::unique_ptr<State> state_;
    int maxCount = 1;
    int availableCount = 1;
};

}  // namespace korr
