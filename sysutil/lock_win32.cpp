#include <windows.h>

#include <aclapi.h>

#include "base/win32_handle.h"
#include "sysutil/lock.h"

namespace korr {

struct VRXSemaphoreLock::State {
    zoka::win32::UniqueHandle semaphoreHandle;
};

namespace {

HANDLE openSemaphore(const std::wstring& name) {
    return ::OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, TRUE, name.c_str());
}

// Creates the semaphore with a DACL that lets every user of every logon session open it.
// Sets `alreadyExisted` when another process created it first.
HANDLE createOpenSemaphore(const std::wstring& name, LONG count, bool& alreadyExisted) {
    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    zoka::win32::UniqueSid everyone;
    if (!::AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                    everyone.put())) {
        return nullptr;
    }

    EXPLICIT_ACCESSW access{};
    access.grfAccessPermissions = 0x1FFFFF;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.pMultipleTrustee = nullptr;
    access.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = static_cast<LPWSTR>(everyone.get());
    zoka::win32::LocalPtr<PACL> acl;
    if (::SetEntriesInAclW(1, &access, nullptr, acl.put()) != ERROR_SUCCESS)
        return nullptr;

    zoka::win32::LocalPtr<PSECURITY_DESCRIPTOR> descriptor(
        ::LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!descriptor.get() ||
        !::InitializeSecurityDescriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(descriptor.get(), TRUE, acl.get(), FALSE)) {
        return nullptr;
    }

    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = descriptor.get();
    attributes.bInheritHandle = FALSE;
    HANDLE semaphore = ::CreateSemaphoreW(&attributes, count, count, name.c_str());
    alreadyExisted = semaphore != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS;
    return semaphore;
}

}  // namespace

VRXSemaphoreLock::VRXSemaphoreLock(const std::wstring& name) : state_(std::make_unique<State>()) {
    lockName = name;
    maxCount = 1;
    availableCount = 1;
    held = false;
    state_->semaphoreHandle.reset(openSemaphore(name));
}

VRXSemaphoreLock::~VRXSemaphoreLock() {
    // Closing the last handle deletes the semaphore, which frees a count still held.
    state_->semaphoreHandle.reset();
    lockName.clear();
}

bool VRXSemaphoreLock::isLockedByOther() {
    HANDLE semaphore = state_->semaphoreHandle.get();
    if (!state_->semaphoreHandle)
        return false;
    // The release succeeds only when the count was 0, that is when somebody holds it.
    LONG previous = 0;
    if (!::ReleaseSemaphore(semaphore, 1, &previous))
        return false;
    availableCount = previous;
    ::WaitForSingleObject(semaphore, 0);
    return true;
}

bool VRXSemaphoreLock::lock() {
    if (held)
        return true;
    // An existing semaphore is used as it is: the zero time-out wait below decides.
    state_->semaphoreHandle.reset(openSemaphore(lockName));
    if (!state_->semaphoreHandle) {
        bool alreadyExisted = false;
        state_->semaphoreHandle.reset(createOpenSemaphore(lockName, maxCount, alreadyExisted));
        if (!state_->semaphoreHandle)
            return false;
        // Another instance created it between the open and the create.
        if (alreadyExisted && maxCount == 1)
            return false;
    }
    if (::WaitForSingleObject(state_->semaphoreHandle.get(), 0) != WAIT_OBJECT_0)
        return false;
    --availableCount;
    held = true;
    return true;
}

bool VRXSemaphoreLock::unlock() {
    if (!held || !state_->semaphoreHandle)
        return true;
    LONG previous = 0;
    if (!::ReleaseSemaphore(state_->semaphoreHandle.get(), 1, &previous))
        return false;
    availableCount = previous + 1;
    state_->semaphoreHandle.reset();
    held = false;
    return true;
}

}  // namespace korr
